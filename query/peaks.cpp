// The highest peaks, best first: a heap of summary spans keyed by their
// highest code, split where the best one lies, down to stretches of raw
// scans whose best scan is exact. A scan taken excludes its neighbourhood;
// spans inside an excluded stretch are dropped unread.
#include "query/pyramid_walk.h"

#include <algorithm>
#include <queue>
#include <set>

namespace adcard::query {

namespace {

constexpr int64_t kRawNode = 4096; // scans a raw stretch of the heap covers at most

struct Node {
    int key = 0;     // the code (negated for the lowest)
    int64_t at = 0;  // the best scan (a stretch) or no later than it (a span)
    int level = 0;   // 0: raw stretch
    int64_t first = 0, end = 0;
};

// The better first: higher key, then earlier scan, then a raw stretch.
struct Worse {
    bool operator()(const Node &a, const Node &b) const
    {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.at != b.at)
            return a.at > b.at;
        return a.level > b.level;
    }
};

class PeakSearch {
public:
    PeakSearch(const RecordedRun &run, const PeakQuery &q) : run_(run), q_(q), sign_(q.highest ? 1 : -1) {}

    void cover(int level, int64_t first, int64_t end)
    {
        if (first >= end)
            return;
        const int64_t w = run_.summaryWidth(level);
        if (level == 0 || w < kRawBelow) {
            for (int64_t a = first; a < end; a += kRawNode)
                pushRaw(a, std::min(end, a + kRawNode));
            return;
        }
        const int64_t a = (first + w - 1) / w * w, b = end / w * w;
        if (a >= b)
            return cover(level - 1, first, end);
        cover(level - 1, first, a);
        for (int64_t c0 = a; c0 < b;) {
            const int64_t c1 = std::min(b, c0 + 4096 * w);
            const LevelSpans ls = run_.levelSpans(level, q_.channel, c0, c1);
            for (const SpanExtremes &s : ls.spans)
                heap_.push({sign_ * (q_.highest ? s.max : s.min), s.first, level, s.first, s.end});
            cover(level - 1, std::max(c0, ls.readyEnd), c1);
            c0 = c1;
        }
        cover(level - 1, b, end);
    }

    // False when cancelled.
    bool run(const Control &control, std::vector<Peak> &out)
    {
        while (!heap_.empty() && out.size() < q_.count) {
            if (control.cancelled())
                return false;
            const Node n = heap_.top();
            heap_.pop();
            if (excludedWhole(n.first, n.end))
                continue;
            if (n.level > 0) {
                cover(n.level - 1, n.first, n.end);
                continue;
            }
            const int64_t near = nearestTaken(n.at);
            if (near < 0) {
                out.push_back({n.at, int16_t(sign_ * n.key)});
                taken_.insert(n.at);
                if (control.progress)
                    control.progress(double(out.size()) / double(q_.count));
                pushRaw(n.first, n.at);
                pushRaw(n.at + 1, n.end);
            } else {
                pushRaw(n.first, std::min(n.end, near - q_.apart + 1));
                pushRaw(std::max(n.first, near + q_.apart), n.end);
            }
        }
        return true;
    }

private:
    void pushRaw(int64_t first, int64_t end)
    {
        if (first >= end)
            return;
        Node best{std::numeric_limits<int>::min(), -1, 0, first, end};
        const int ch = q_.channel;
        run_.readScans(first, end, [&](int64_t at, const int16_t *codes, int64_t n) {
            const int stride = run_.channels();
            for (int64_t i = 0; i < n; ++i) {
                const int key = sign_ * codes[i * stride + ch];
                if (key > best.key)
                    best.key = key, best.at = at + i;
            }
            return true;
        });
        if (best.at >= 0)
            heap_.push(best);
    }

    // A taken scan closer than `apart` to `scan`, or -1.
    int64_t nearestTaken(int64_t scan) const
    {
        if (q_.apart <= 0)
            return -1;
        const auto it = taken_.lower_bound(scan - q_.apart + 1);
        return it != taken_.end() && *it < scan + q_.apart ? *it : -1;
    }

    bool excludedWhole(int64_t first, int64_t end) const
    {
        if (q_.apart <= 0)
            return false;
        // The one taken scan whose exclusion reaches furthest left among
        // those that reach past the stretch's last scan.
        const auto it = taken_.lower_bound(end - q_.apart);
        return it != taken_.end() && *it - q_.apart < first;
    }

    const RecordedRun &run_;
    const PeakQuery &q_;
    int sign_;
    std::priority_queue<Node, std::vector<Node>, Worse> heap_;
    std::set<int64_t> taken_;
};

} // namespace

PeakResult findPeaks(const RecordedRun &run, const PeakQuery &q, const Control &control)
{
    PeakResult out;
    int64_t first = q.first, end = q.end;
    clampRange(run, first, end, out);
    if (!channelExists(run, q.channel, out))
        return out;
    PeakSearch search(run, q);
    search.cover(run.summaryLevels(), first, end);
    const bool whole = search.run(control, out.peaks);
    finish(run, whole, out);
    return out;
}

} // namespace adcard::query
