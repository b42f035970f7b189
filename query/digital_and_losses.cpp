// Changes of the recorded digital inputs (one row a block, so read in
// windows of scans to keep memory bounded), and the run's holes and markers.
#include "query/pyramid_walk.h"

#include <algorithm>

namespace adcard::query {

namespace {

constexpr int64_t kDigitalWindow = int64_t{1} << 24; // scans of rows read at a time

} // namespace

DigitalResult findChanges(const RecordedRun &run, const DigitalQuery &q, const Control &control)
{
    DigitalResult out;
    int64_t first = q.first, end = q.end;
    clampRange(run, first, end, out);
    if (q.port < 0 || q.port > 1 || q.bit < -1 || q.bit > 15) {
        out.outcome = Outcome::Failed;
        out.error = q.port < 0 || q.port > 1 ? "no input port " + std::to_string(q.port) : "no bit " + std::to_string(q.bit);
        return out;
    }
    auto value = [&](const RecordedDigital &d) {
        const int port = uint16_t(q.port == 0 ? d.port0 : d.port1);
        if (q.match)
            return int((port & q.mask) == (q.pattern & q.mask));
        return q.bit >= 0 ? port >> q.bit & 1 : port;
    };
    auto add = [&](const RecordedDigital &d, int before, int after) {
        ++out.total;
        if (out.events.size() < q.limit)
            out.events.push_back({d.scan, d.timeNs, before, after});
    };
    // Each tick's row sits at the scan after its block, so the run's last
    // tick is at the run's end: a range to the end takes it in.
    const int64_t rowsEnd = end == run.scanCount() ? end + 1 : end;
    ProgressMeter meter(control, first, end);
    bool seen = false;
    int last = 0;
    bool whole = true;
    for (int64_t a = first; a < rowsEnd && whole; a += kDigitalWindow) {
        if (control.cancelled()) {
            whole = false;
            break;
        }
        for (const RecordedDigital &d : run.digital(a, std::min(rowsEnd, a + kDigitalWindow))) {
            const int v = value(d);
            if (q.match ? v && (!seen || !last) : seen && v != last)
                add(d, seen ? last : v, v);
            seen = true;
            last = v;
        }
        meter.at(std::min(end, a + kDigitalWindow));
    }
    finish(run, whole, out);
    return out;
}

LossResult findLosses(const RecordedRun &run, int64_t first, int64_t end, std::size_t limit)
{
    LossResult out;
    clampRange(run, first, end, out);
    out.holes = run.gaps(first, end, limit, out.totalHoles);
    for (RecordedMarker &m : run.markers())
        if (m.scan >= first && (m.scan < end || (m.scan == end && end == run.scanCount())))
            out.markers.push_back(std::move(m));
    finish(run, true, out);
    return out;
}

} // namespace adcard::query
