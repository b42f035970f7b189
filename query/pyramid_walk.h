#pragma once
// Visits one channel's present scans of a range in order, letting the caller
// skip whole summary spans whose extremes cannot hold an answer: a day is
// read only where something happens.
#include "query/query.h"

namespace adcard::query {

class SpanVisitor {
public:
    virtual ~SpanVisitor() = default;
    // True when nothing in the span can change the answer; the visitor takes
    // from its extremes what it needs. False: its scans are visited.
    virtual bool skip(const SpanExtremes &span) = 0;
    // Consecutive scans from `first`, one code every `stride`.
    virtual void scans(int64_t first, const int16_t *codes, int64_t count, int stride) = 0;
};

// The part of the range that lies within the run; sets status.partial for a
// run still being written.
void clampRange(const RecordedRun &run, int64_t &first, int64_t &end, Status &status);

// False, with the status failed and saying so, for a channel the run does not have.
bool channelExists(const RecordedRun &run, int channel, Status &status);

// Walks [first, end); false when cancelled.
bool walkChannel(const RecordedRun &run, int channel, int64_t first, int64_t end, SpanVisitor &visitor,
                 const Control &control);

// Spans narrower than this are not looked up: reading their scans costs no
// more than finding their summaries (the finest level is compressed, and a
// hole leaves it without some spans, which must be searched for).
inline constexpr int64_t kRawBelow = 1024;

// Reports progress at most a few hundred times over a range.
class ProgressMeter {
public:
    ProgressMeter(const Control &control, int64_t first, int64_t end)
        : control_(control), first_(first), span_(std::max<int64_t>(1, end - first)), step_(span_ / 256 + 1),
          next_(first)
    {
    }
    void at(int64_t scan)
    {
        if (scan < next_ || !control_.progress)
            return;
        next_ = scan + step_;
        control_.progress(double(scan - first_) / double(span_));
    }

private:
    const Control &control_;
    int64_t first_, span_, step_, next_;
};

// Fills `status` after a query over a run: cancelled, or what the reader
// could not read.
void finish(const RecordedRun &run, bool whole, Status &status);

} // namespace adcard::query
