// Crossings of a level as a two-threshold trigger: above `rise` the state
// becomes high, below `fall` low (rise >= fall). A span whose extremes keep
// the state where it is changes nothing but the open interval's extreme, so
// it is skipped.
#include "query/pyramid_walk.h"

#include <algorithm>
#include <cmath>

namespace adcard::query {

namespace {

class LevelScanner final : public SpanVisitor {
public:
    LevelScanner(const LevelQuery &q, const Calibration &cal, LevelResult &out) : q_(q), out_(out)
    {
        const double v = cal.codes(q.level), h = std::abs(q.hysteresis / cal.scale);
        switch (q.edge) {
        case Edge::Rising: rise_ = v, fall_ = v - h, state_ = State::Low; break;
        case Edge::Falling: rise_ = v + h, fall_ = v, state_ = State::High; break;
        case Edge::Either: rise_ = v + h / 2, fall_ = v - h / 2; break;
        }
        insideHigh_ = q.edge != Edge::Falling;
    }

    bool skip(const SpanExtremes &s) override
    {
        switch (state_) {
        case State::Unknown: return s.min >= fall_ && s.max <= rise_;
        case State::Low:
            if (s.max > rise_)
                return false;
            if (!insideHigh_)
                extreme_ = std::min(extreme_, s.min);
            return true;
        case State::High:
            if (s.min < fall_)
                return false;
            if (insideHigh_)
                extreme_ = std::max(extreme_, s.max);
            return true;
        }
        return false;
    }

    void scans(int64_t first, const int16_t *codes, int64_t count, int stride) override
    {
        for (int64_t i = 0; i < count; ++i, codes += stride) {
            const int16_t v = *codes;
            if (state_ != State::High && v > rise_)
                enter(State::High, first + i, v);
            else if (state_ != State::Low && v < fall_)
                enter(State::Low, first + i, v);
            else
                extreme_ = insideHigh_ ? std::max(extreme_, v) : std::min(extreme_, v);
        }
    }

    void close(int64_t end)
    {
        if (inside(state_))
            interval({start_, end, extreme_, true});
    }

private:
    enum class State { Unknown, Low, High };

    bool inside(State s) const { return insideHigh_ ? s == State::High : s == State::Low; }

    void enter(State next, int64_t scan, int16_t v)
    {
        const State was = state_;
        state_ = next;
        if (inside(was))
            interval({start_, scan, extreme_, false});
        if (inside(next)) {
            start_ = scan;
            extreme_ = v;
        }
        if (was == State::Unknown)
            return;
        const bool rising = next == State::High;
        if (q_.edge == Edge::Either || rising == (q_.edge == Edge::Rising)) {
            ++out_.total;
            if (out_.crossings.size() < q_.limit)
                out_.crossings.push_back({scan, v, rising});
        }
    }

    void interval(const Interval &i)
    {
        ++out_.totalIntervals;
        if (out_.intervals.size() < q_.limit)
            out_.intervals.push_back(i);
    }

    const LevelQuery &q_;
    LevelResult &out_;
    double rise_ = 0, fall_ = 0;
    State state_ = State::Unknown;
    bool insideHigh_ = true;
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
    // A falling search starts high: the range's first scan below the level
    // counts, as a rising search's first scan above it does.
    const bool whole = walkChannel(run, q.channel, first, end, scanner, control);
    if (whole)
        scanner.close(end);
    finish(run, whole, out);
    return out;
}

} // namespace adcard::query
