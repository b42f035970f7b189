// Crossings of a level, with the trigger the live rules use (data/level.h):
// each scan's code is tested against sets of codes found once from the
// level, so a level that is exactly a code counts the same here as in a
// brute force over the raw samples. A span whose extremes can neither fire
// nor clear a trigger changes nothing but the open interval's extreme, and
// is skipped.
#include "data/level.h"
#include "query/pyramid_walk.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace adcard::query {

namespace {

class LevelScanner final : public SpanVisitor {
public:
    LevelScanner(const LevelQuery &q, const Calibration &cal, LevelResult &out)
        : q_(q), out_(out), higherIsMore_(cal.scale > 0)
    {
        const double h = std::max(0.0, q.hysteresis);
        // Either: the rising events of "above" and the falling events of
        // "below", over the same scans. Intervals are those above the
        // level, except for a falling search, whose are below it.
        if (q.edge != Edge::Falling)
            above_ = levelTrigger(cal, {LevelKind::Above, q.level, 0, h});
        if (q.edge != Edge::Rising)
            below_ = levelTrigger(cal, {LevelKind::Below, q.level, 0, h});
        intervalsAbove_ = q.edge != Edge::Falling;
    }

    bool skip(const SpanExtremes &s) override
    {
        if (changes(above_, aboveState_, s) || changes(below_, belowState_, s))
            return false;
        if (insideInterval())
            extreme_ = more(extreme_, pick(s.min, s.max));
        return true;
    }

    void scans(int64_t first, const int16_t *codes, int64_t count, int stride) override
    {
        for (int64_t i = 0; i < count; ++i, codes += stride) {
            const int16_t v = *codes;
            const int64_t scan = first + i;
            const bool inside = insideInterval();
            const int a = above_ ? aboveState_.step(*above_, v) : 0;
            const int b = below_ ? belowState_.step(*below_, v) : 0;
            if (inside && !insideInterval())
                interval({start_, scan, extreme_, false});
            else if (inside)
                extreme_ = more(extreme_, v);
            if (!inside && insideInterval()) {
                start_ = scan;
                extreme_ = v;
            }
            if (a > 0)
                crossing({scan, v, true});
            if (b > 0)
                crossing({scan, v, false});
        }
    }

    void close(int64_t end)
    {
        if (insideInterval())
            interval({start_, end, extreme_, true});
    }

private:
    // Whether some scan of the span could change the trigger's state.
    static bool changes(const std::optional<LevelTrigger> &t, const LevelState &state, const SpanExtremes &s)
    {
        if (!t)
            return false;
        return (state.active ? t->clear : t->fire).containsAny(s.min, s.max);
    }

    bool insideInterval() const { return intervalsAbove_ ? aboveState_.active : belowState_.active; }

    // Of two codes, the one further into the interval's side: the higher
    // value above the level, the lower below it, whichever the scale's sign.
    int16_t more(int16_t a, int16_t b) const { return (a > b) == (higherIsMore_ == intervalsAbove_) ? a : b; }
    int16_t pick(int16_t lo, int16_t hi) const { return more(lo, hi); }

    void crossing(const Crossing &c)
    {
        ++out_.total;
        if (out_.crossings.size() < q_.limit)
            out_.crossings.push_back(c);
    }

    void interval(const Interval &i)
    {
        ++out_.totalIntervals;
        if (out_.intervals.size() < q_.limit)
            out_.intervals.push_back(i);
    }

    const LevelQuery &q_;
    LevelResult &out_;
    bool higherIsMore_;
    std::optional<LevelTrigger> above_, below_;
    LevelState aboveState_, belowState_;
    bool intervalsAbove_ = true;
    int64_t start_ = 0;
    int16_t extreme_ = 0;
};

} // namespace

LevelResult findCrossings(const RecordedRun &run, const LevelQuery &q, const Control &control)
{
    LevelResult out;
    int64_t first = q.first, end = q.end;
    clampRange(run, first, end, out);
    if (!channelExists(run, q.channel, out))
        return out;
    LevelScanner scanner(q, run.info().channelCalibration(q.channel), out);
    const bool whole = walkChannel(run, q.channel, first, end, scanner, control);
    if (whole)
        scanner.close(end);
    finish(run, whole, out);
    return out;
}

LevelResult findCrossingsSince(const RecordedRun &run, const LevelQuery &q, LevelResult before, const Control &control)
{
    const bool full = before.crossings.size() >= q.limit || before.intervals.size() >= q.limit;
    if (q.hysteresis > 0 || full || before.outcome != Outcome::Complete || before.end <= before.first ||
        before.first != std::max<int64_t>(q.first, 0) || before.end >= q.end)
        return findCrossings(run, q, control);
    const int64_t restart = before.end - 1;
    LevelQuery rest = q;
    rest.first = restart;
    LevelResult next = findCrossings(run, rest, control);
    if (next.outcome != Outcome::Complete)
        return next;
    // The restart scan was judged already, with what came before it: its
    // crossing (the new search starts armed) is no new one.
    std::size_t c = 0;
    for (; c < next.crossings.size() && next.crossings[c].scan == restart; ++c)
        --next.total;
    before.total += next.total;
    for (; c < next.crossings.size() && before.crossings.size() < q.limit; ++c)
        before.crossings.push_back(next.crossings[c]);
    // An interval open at the old end goes on from the restart scan.
    std::size_t i = 0;
    if (!next.intervals.empty() && next.intervals[0].start == restart && !before.intervals.empty() &&
        before.intervals.back().open && before.intervals.back().end == before.end) {
        Interval &last = before.intervals.back();
        const Interval &more = next.intervals[0];
        const bool higherIsMore = run.info().channelCalibration(q.channel).scale > 0;
        const bool above = q.edge != Edge::Falling;
        last.extreme = (more.extreme > last.extreme) == (higherIsMore == above) ? more.extreme : last.extreme;
        last.end = more.end;
        last.open = more.open;
        --next.totalIntervals;
        i = 1;
    }
    before.totalIntervals += next.totalIntervals;
    for (; i < next.intervals.size() && before.intervals.size() < q.limit; ++i)
        before.intervals.push_back(next.intervals[i]);
    before.end = next.end;
    before.partial = next.partial;
    return before;
}

} // namespace adcard::query
