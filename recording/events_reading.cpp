// The rules' tables of a format 4 file: their events, and the texts of the
// rules in force. Every row is checked against the runs before it is kept.
#include "recording/recording_state.h"

#include <algorithm>
#include <map>

namespace adcard::reading {

namespace {

// Rows read at a time: the table may be long, a look reads it in pieces.
constexpr hsize_t kEventBatch = 4096;
// The most of the rules' text read for one arming.
constexpr int64_t kMaxRulesText = int64_t{1} << 20;

} // namespace

std::vector<RecordedEvent> readEvents(RecordingState &st, std::size_t most, int64_t &total)
{
    total = 0;
    std::vector<RecordedEvent> out;
    const hid_t d = st.events.get();
    if (st.version < 4 || d < 0)
        return out;
    using Row = format::EventRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kEventFields))
        return out;
    // Only what a run's rows cover: a row beyond them (a damaged file) says
    // nothing a reader could find.
    std::map<int, int64_t> scans;
    for (const RunPlace &p : st.places())
        if (p.error.empty())
            scans[p.info.number] = p.info.scans;
    const hsize_t n = length(d);
    std::vector<Row> rows;
    for (hsize_t at = 0; at < n; at += kEventBatch) {
        const hsize_t count = std::min(kEventBatch, n - at);
        rows.assign(count, Row{});
        if (!f.read(d, at, count, rows.data()))
            break;
        for (Row &r : rows) {
            const auto run = scans.find(r.run);
            if (run == scans.end() || r.scan < 0 || r.scan > run->second)
                continue;
            ++total;
            if (out.size() >= most)
                continue;
            r.rule[sizeof r.rule - 1] = '\0';
            r.note[sizeof r.note - 1] = '\0';
            out.push_back({r.run, r.scan, r.timeNs, r.rule, r.fired != 0, r.value, r.note});
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const RecordedEvent &a, const RecordedEvent &b) {
        return a.run != b.run ? a.run < b.run : a.scan < b.scan;
    });
    return out;
}

std::vector<RecordedRules> readRules(RecordingState &st)
{
    std::vector<RecordedRules> out;
    const hid_t d = st.rules.get(), text = st.rulesText.get();
    if (st.version < 4 || d < 0 || text < 0)
        return out;
    using Row = format::RulesRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kRulesFields))
        return out;
    const hsize_t n = std::min<hsize_t>(length(d), kMaxRuns);
    std::vector<Row> rows(n);
    if (!f.read(d, 0, n, rows.data()))
        return out;
    const int64_t bytes = int64_t(length(text));
    for (const Row &r : rows) {
        RecordedRules rules{r.run, r.timeNs, {}};
        if (r.textFirst < 0 || r.textBytes < 0 || r.textBytes > kMaxRulesText || r.textFirst > bytes - r.textBytes)
            continue;
        rules.text.resize(std::size_t(r.textBytes));
        if (r.textBytes > 0) {
            const Hid space(H5Dget_space(text), H5Sclose);
            const hsize_t first = hsize_t(r.textFirst), count = hsize_t(r.textBytes);
            const Hid mem(H5Screate_simple(1, &count, nullptr), H5Sclose);
            if (H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, &first, nullptr, &count, nullptr) < 0 ||
                H5Dread(text, H5T_NATIVE_UINT8, mem.get(), space.get(), H5P_DEFAULT, rules.text.data()) < 0)
                continue;
        }
        out.push_back(std::move(rules));
    }
    return out;
}

} // namespace adcard::reading
