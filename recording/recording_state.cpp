#include "recording/recording_state.h"

#include <cstdio>

namespace adcard::reading {

std::string layout(RecordingState &st)
{
    const hid_t f = st.file.get();
    const auto version = attrNumber(f, names::kFormatVersion);
    if (!version) {
        std::vector<std::string> names;
        H5Literate(f, H5_INDEX_NAME, H5_ITER_INC, nullptr,
                   [](hid_t, const char *name, const H5L_info_t *, void *out) -> herr_t {
                       auto &all = *static_cast<std::vector<std::string> *>(out);
                       all.emplace_back(name);
                       return all.size() > kMaxOlderNames ? 1 : 0; // 1 stops
                   },
                   &names);
        if (names.size() > kMaxOlderNames)
            return "more than " + std::to_string(kMaxOlderNames) + " objects at its top, more than a recording holds";
        for (const std::string &n : names) {
            int number = 0;
            char tail = 0;
            if (n.size() < 4 || n.compare(0, 3, "run") != 0 || std::sscanf(n.c_str(), "run%d%c", &number, &tail) != 1 ||
                number < 1)
                continue;
            V1Group g;
            g.number = number;
            H5O_info_t oi{};
            if (H5Oget_info_by_name2(f, n.c_str(), &oi, H5O_INFO_BASIC, H5P_DEFAULT) < 0 || oi.type != H5O_TYPE_GROUP)
                continue;
            g.group = Hid(H5Gopen2(f, n.c_str(), H5P_DEFAULT), H5Gclose);
            g.samples = openDataset(g.group.get(), names::kSamples, 256 << 10);
            g.blocks = openDataset(g.group.get(), names::kBlocks);
            if (g.samples.valid() && g.blocks.valid())
                st.groups.push_back(std::move(g));
        }
        if (st.groups.empty())
            return "not a recording (an HDF5 file of another layout)";
        st.version = 1;
        return {};
    }
    if (*version != names::kVersion)
        return "recording format " + std::to_string(int64_t(*version)) + ", which this program does not read";
    st.version = 2;
    st.samples = openDataset(f, names::kSamples, 256 << 10);
    st.blocks = openDataset(f, names::kBlocks);
    st.runs = openDataset(f, names::kRuns);
    if (!st.samples.valid() || !st.blocks.valid() || !st.runs.valid())
        return "not a recording (samples, blocks or runs missing)";
    const auto ch = attrInt(f, names::kChannels, 1, kMaxChannels);
    const auto s = attrInt(f, names::kScansPerBlock, 1, kMaxScansPerBlock);
    if (!ch || !s || *ch * *s > kMaxBlockSamples)
        return "the block shape is missing or out of range";
    st.channels = int(*ch);
    st.scansPerBlock = *s;
    st.rate = double(attrInt(f, names::kRate, 1, INT32_MAX).value_or(0));
    st.calibration = calibrationOf(f);
    st.base = attrInt(f, names::kSummaryBase, 2, 1 << 20).value_or(0);
    st.factor = attrInt(f, names::kSummaryFactor, 2, 64).value_or(0);
    const int levels = int(attrInt(f, names::kSummaryLevels, 0, kMaxLevels).value_or(0));
    st.markers = openDataset(f, names::kMarkers);
    st.digital = openDataset(f, names::kDigital);
    // A level is of use only with all those below it.
    for (int l = 1; l <= levels && st.base && st.factor; ++l) {
        Hid d = openDataset(f, format::levelPath(l).c_str());
        if (!d.valid() || !extent(d.get(), 1))
            break;
        const format::SummaryLayout at{std::size_t(st.channels)};
        Fields probe(d.get(), at.bytes());
        if (!probe.add(at.fields().all()))
            break;
        st.levels.push_back(std::move(d));
    }
    Fields rows(st.blocks.get(), 8);
    if (!rows.add(format::kIndexAlone) || !st.readTable())
        return "not a recording (its blocks or runs table is of another kind)";
    return {};
}

} // namespace adcard::reading
