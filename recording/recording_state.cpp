#include "recording/recording_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace adcard::reading {

bool RecordingState::indexOf(hid_t blocks, int64_t row, int64_t &index) const
{
    Fields f(blocks, sizeof(int64_t));
    return f.add(format::kIndexAlone) && f.read(blocks, hsize_t(row), 1, &index);
}

void RecordingState::placeRows(RunPlace &p, int64_t rows) const
{
    RecordedRunInfo &i = p.info;
    const auto dims = extent(p.samples, 2);
    const int64_t s = i.scansPerBlock;
    if (!dims || (*dims)[1] != hsize_t(i.channels)) {
        p.error = "its samples are not " + std::to_string(i.channels) + " channels wide";
        return;
    }
    const int64_t stored = int64_t((*dims)[0] / hsize_t(s)) - p.rowBase;
    rows = std::max<int64_t>(0, std::min({rows, stored, int64_t(length(p.blocks)) - p.rowBase}));
    i.blocks = rows;
    if (rows == 0)
        return;
    if (!indexOf(p.blocks, p.rowBase, p.firstIndex) || !indexOf(p.blocks, p.rowBase + rows - 1, p.lastIndex) ||
        p.firstIndex < 0 || p.lastIndex >= kMaxIndex || p.lastIndex - p.firstIndex < rows - 1) {
        p.error = "its block indices are out of order";
        i.blocks = 0;
        p.lastIndex = -1;
        return;
    }
    i.scans = (p.lastIndex + 1) * s;
    i.holes = p.lastIndex + 1 - rows;
}

std::vector<RunPlace> RecordingState::places() const
{
    std::vector<RunPlace> out = placesAsStored();
    std::vector<std::pair<int, std::size_t>> numbers;
    for (std::size_t i = 0; i < out.size(); ++i)
        numbers.emplace_back(out[i].info.number, i);
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t k = 1; k < numbers.size(); ++k)
        if (numbers[k].first == numbers[k - 1].first)
            out[numbers[k].second].error = out[numbers[k - 1].second].error = "another run has the same number";
    return out;
}

std::vector<RunPlace> RecordingState::placesAsStored() const
{
    if (version == 1)
        return olderPlaces();
    const hsize_t blockRows = length(blocks.get());
    std::vector<RunPlace> out;
    for (std::size_t r = 0; r < table.size(); ++r)
        out.push_back(placeOfRow(r, blockRows));
    return out;
}

std::vector<RunPlace> RecordingState::olderPlaces() const
{
    std::vector<RunPlace> out;
    for (const V1Group &g : groups) {
        RunPlace p;
        RecordedRunInfo &i = p.info;
        i.number = g.number;
        const hid_t h = g.group.get();
        const auto ch = attrInt(h, names::kChannels, 1, kMaxChannels);
        const auto s = attrInt(h, names::kScansPerBlock, 1, kMaxScansPerBlock);
        i.startTime = attrText(h, names::kV1StartTime);
        i.startTimeNs = parseIso8601(i.startTime);
        i.missed = attrInt(h, names::kV1Missed, 0, INT64_MAX / 2).value_or(0);
        i.dropped = attrInt(h, names::kV1Dropped, 0, INT64_MAX / 2).value_or(0);
        i.scansPerSecond = double(attrInt(h, names::kRate, 1, INT32_MAX).value_or(0));
        i.calibration = calibrationOf(h);
        p.samples = g.samples.get();
        p.blocks = g.blocks.get();
        if (!ch || !s || *ch * *s > kMaxBlockSamples) {
            p.error = "its block shape is missing or out of range";
        } else {
            i.channels = int(*ch);
            i.scansPerBlock = int32_t(*s);
            placeRows(p, INT64_MAX);
        }
        out.push_back(std::move(p));
    }
    if (writer && !out.empty())
        out.back().info.open = true;
    return out;
}

RunPlace RecordingState::placeOfRow(std::size_t r, hsize_t blockRows) const
{
    const RunsRow &row = table[r];
    RunPlace p;
    RecordedRunInfo &i = p.info;
    i.number = row.run;
    i.startTimeNs = row.startTimeNs;
    i.startTime = std::string(row.startTime, strnlen(row.startTime, sizeof row.startTime));
    i.missed = std::max<int64_t>(0, row.missed);
    i.dropped = std::max<int64_t>(0, row.dropped);
    i.channels = channels;
    i.scansPerBlock = int32_t(scansPerBlock);
    i.scansPerSecond = rate;
    i.calibration = calibration;
    i.units = units;
    i.seriesFirstBlock = std::max<int64_t>(0, row.seriesFirstBlock);
    i.continues = row.continues != 0;
    i.open = row.endTimeNs == 0;
    p.closed = !i.open;
    p.samples = samples.get();
    p.blocks = blocks.get();
    p.rowBase = row.firstRow;
    if (row.firstRow < 0 || hsize_t(row.firstRow) > blockRows) {
        p.error = "its first block is outside the file";
        return p;
    }
    int64_t rows = row.rows;
    // The next run's rows end this one's, unless that run is damaged.
    if (r + 1 < table.size() && table[r + 1].firstRow >= row.firstRow)
        rows = std::min(rows, table[r + 1].firstRow - row.firstRow);
    placeRows(p, rows);
    // A run's last entries cover its last rows; with rows cut short
    // (samples missing), they would cover what is not there.
    p.closed = p.closed && p.info.blocks == row.rows;
    for (std::size_t l = 0; l < levels.size(); ++l) {
        const int64_t size = int64_t(length(levels[l].get()));
        const int64_t first = row.summaryFirst[l];
        const int64_t end = r + 1 < table.size() ? table[r + 1].summaryFirst[l] : size;
        if (first < 0 || first > end || end > size)
            break; // this level and those above are of no use
        p.entries.emplace_back(first, end);
    }
    return p;
}

bool RecordingState::readTable()
{
    table.clear();
    const hsize_t n = length(runs.get());
    if (n > kMaxRuns)
        return false;
    Fields f(runs.get(), sizeof(RunsRow));
    const format::RunFields fields = format::runFields(int(levels.size()));
    for (const format::Field &field : fields.all()) {
        if (field.kind == format::Field::I64Array) {
            // Summaries are of use only with the runs' first entries.
            if (!levels.empty() && !f.add(field))
                levels.clear();
        } else if (!f.add(field) && field.required) {
            return false;
        }
    }
    table.assign(n, RunsRow{});
    if (!f.read(runs.get(), 0, n, table.data())) {
        table.clear();
        return n == 0;
    }
    for (RunsRow &r : table)
        r.startTime[sizeof r.startTime - 1] = '\0';
    return true;
}

namespace {

// The older layout: a group "runNNNN" per run.
std::string olderLayout(RecordingState &st)
{
    const hid_t f = st.file.get();
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

// The single-session layout, its summary levels as far as they are whole.
std::string sessionLayout(RecordingState &st, double version)
{
    const hid_t f = st.file.get();
    if (version < names::kOldestSessionVersion || version > names::kVersion || version != std::floor(version))
        return "recording format " + std::to_string(int64_t(version)) + ", which this program does not read";
    st.version = int(version);
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
    st.units = channelUnitsOf(f, st.channels);
    st.series = seriesOf(f);
    st.base = attrInt(f, names::kSummaryBase, 2, 1 << 20).value_or(0);
    st.factor = attrInt(f, names::kSummaryFactor, 2, 64).value_or(0);
    const int levels = int(attrInt(f, names::kSummaryLevels, 0, kMaxLevels).value_or(0));
    st.markers = openDataset(f, names::kMarkers);
    st.digital = openDataset(f, names::kDigital);
    st.events = openDataset(f, names::kEvents);
    st.rules = openDataset(f, names::kRules);
    st.rulesText = openDataset(f, names::kRulesText);
    // A level is of use only with all those below it.
    for (int l = 1; l <= levels && st.base && st.factor; ++l) {
        Hid d = openDataset(f, format::levelPath(l).c_str());
        if (!d.valid() || !extent(d.get(), 1))
            break;
        const auto at = format::SummaryLayout::of(std::size_t(st.channels), st.version);
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

} // namespace

std::string layout(RecordingState &st)
{
    const auto version = attrNumber(st.file.get(), names::kFormatVersion);
    return version ? sessionLayout(st, *version) : olderLayout(st);
}

} // namespace adcard::reading
