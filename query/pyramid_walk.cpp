#include "query/pyramid_walk.h"

#include <algorithm>
#include <string>

namespace adcard::query {

namespace {

// Raw scans are read this many at a time, so that a cancel is seen soon.
constexpr int64_t kRawChunk = int64_t{1} << 16;
// Spans of one level asked for at a time, so that memory stays bounded.
constexpr int64_t kSpansPerAsk = 4096;

int64_t ceilTo(int64_t v, int64_t w)
{
    return (v / w + (v % w > 0 ? 1 : 0)) * w;
}

class Walk {
public:
    Walk(const RecordedRun &run, int channel, SpanVisitor &visitor, const Control &control, int64_t first,
         int64_t end)
        : run_(run), channel_(channel), stride_(run.channels()), visitor_(visitor), control_(control),
          meter_(control, first, end)
    {
    }

    bool range(int level, int64_t first, int64_t end)
    {
        if (first >= end)
            return true;
        if (control_.cancelled())
            return false;
        const int64_t w = run_.summaryWidth(level);
        if (level == 0 || w < kRawBelow)
            return raw(first, end);
        const int64_t a = ceilTo(first, w), b = end / w * w;
        if (a >= b)
            return range(level - 1, first, end);
        if (!range(level - 1, first, a))
            return false;
        for (int64_t c0 = a; c0 < b;) {
            const int64_t c1 = std::min(b, c0 + kSpansPerAsk * w);
            const LevelSpans ls = run_.levelSpans(level, channel_, c0, c1);
            for (const SpanExtremes &s : ls.spans) {
                if (!visitor_.skip(s) && !range(level - 1, s.first, s.end))
                    return false;
                meter_.at(s.end);
            }
            if (!range(level - 1, std::max(c0, ls.readyEnd), c1))
                return false;
            c0 = c1;
        }
        return range(level - 1, b, end);
    }

private:
    bool raw(int64_t first, int64_t end)
    {
        for (int64_t c0 = first; c0 < end; c0 += kRawChunk) {
            if (control_.cancelled())
                return false;
            run_.readScans(c0, std::min(end, c0 + kRawChunk), [&](int64_t at, const int16_t *codes, int64_t n) {
                visitor_.scans(at, codes + channel_, n, stride_);
                return true;
            });
            meter_.at(std::min(end, c0 + kRawChunk));
        }
        return true;
    }

    const RecordedRun &run_;
    int channel_;
    int stride_;
    SpanVisitor &visitor_;
    const Control &control_;
    ProgressMeter meter_;
};

} // namespace

void clampRange(const RecordedRun &run, int64_t &first, int64_t &end, Status &status)
{
    first = std::clamp<int64_t>(first, 0, run.scanCount());
    end = std::clamp<int64_t>(end, first, run.scanCount());
    status.first = first;
    status.end = end;
    status.partial = run.info().open;
}

bool channelExists(const RecordedRun &run, int channel, Status &status)
{
    if (channel >= 0 && channel < run.channels())
        return true;
    status.outcome = Outcome::Failed;
    status.error = "no channel " + std::to_string(channel + 1);
    return false;
}

bool walkChannel(const RecordedRun &run, int channel, int64_t first, int64_t end, SpanVisitor &visitor,
                 const Control &control)
{
    Walk walk(run, channel, visitor, control, first, end);
    return walk.range(run.summaryLevels(), first, end);
}

void finish(const RecordedRun &run, bool whole, Status &status)
{
    if (std::string e = run.readError(); !e.empty()) {
        status.outcome = Outcome::Failed;
        status.error = std::move(e);
    } else if (!whole) {
        status.outcome = Outcome::Cancelled;
    }
}

} // namespace adcard::query
