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

namespace {

// Rows [from, to) of the events table into `out` (at most `most`), `total`
// counting those that point into a run's rows. Once `out` is full the rest
// is left unread where `countRest`, and counted as it stands.
void eventRows(RecordingState &st, const Fields &f, hsize_t from, hsize_t to, std::size_t most, bool countRest,
               int64_t &total, std::vector<RecordedEvent> &out)
{
    using Row = format::EventRow;
    const hid_t d = st.events.get();
    // Only what a run's rows cover: a row beyond them (a damaged file) says
    // nothing a reader could find.
    std::map<int, int64_t> scans;
    for (const RunPlace &p : st.places())
        if (p.error.empty())
            scans[p.info.number] = p.info.scans;
    std::vector<Row> rows;
    for (hsize_t at = from; at < to; at += kEventBatch) {
        if (countRest && out.size() >= most) {
            total += int64_t(to - at);
            break;
        }
        const hsize_t count = std::min(kEventBatch, to - at);
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
}

} // namespace

std::vector<RecordedEvent> readEvents(RecordingState &st, std::size_t most, int64_t &total)
{
    total = 0;
    std::vector<RecordedEvent> out;
    const hid_t d = st.events.get();
    if (st.version < 4 || d < 0)
        return out;
    Fields f(d, sizeof(format::EventRow));
    if (f.add(format::kEventFields))
        eventRows(st, f, 0, length(d), most, false, total, out);
    return out;
}

std::vector<RecordedEvent> readRunEvents(RecordingState &st, int run, std::size_t most, int64_t &total)
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
    // Rows come in order of run: the run's own by bisection, however many
    // the other runs hold.
    const int64_t from = firstTableRowFrom<Row>(d, f, run, INT64_MIN);
    const int64_t to = firstTableRowFrom<Row>(d, f, run, INT64_MAX);
    if (from < to)
        eventRows(st, f, hsize_t(from), hsize_t(to), most, true, total, out);
    std::erase_if(out, [&](const RecordedEvent &e) { return e.run != run; });
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
