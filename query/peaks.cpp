// The highest crests, best first: a heap of summary spans keyed by their
// highest code, split where the best one lies, down to stretches of raw
// scans whose best scan is exact. The best scan left is then tested as a
// crest by walking out from it over the raw scans until each side decides.
// Whatever the outcome, no scan the walk passed over can be a crest (each
// has the candidate, higher, on one side with no fall between), so the
// stretch is excluded, as is an accepted peak's `apart` neighbourhood;
// spans inside an excluded stretch are dropped unread.
#include "query/pyramid_walk.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <queue>

namespace adcard::query {

namespace {

constexpr int64_t kRawNode = 4096; // scans a raw stretch of the heap covers at most
constexpr int64_t kWalkChunk = 4096;

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

// Disjoint stretches [first, end) of scans that hold no answer.
class Excluded {
public:
    void add(int64_t first, int64_t end)
    {
        if (first >= end)
            return;
        auto it = spans_.upper_bound(first);
        if (it != spans_.begin() && std::prev(it)->second >= first)
            --it;
        while (it != spans_.end() && it->first <= end) {
            first = std::min(first, it->first);
            end = std::max(end, it->second);
            it = spans_.erase(it);
        }
        spans_.emplace(first, end);
    }
    // The stretch that holds `scan`, or {scan, scan}.
    std::pair<int64_t, int64_t> around(int64_t scan) const
    {
        auto it = spans_.upper_bound(scan);
        if (it == spans_.begin() || std::prev(it)->second <= scan)
            return {scan, scan};
        --it;
        return {it->first, it->second};
    }
    bool covers(int64_t first, int64_t end) const { return around(first).second >= end; }

private:
    std::map<int64_t, int64_t> spans_;
};

class PeakSearch {
public:
    PeakSearch(const RecordedRun &run, const PeakQuery &q, int64_t first, int64_t end)
        : run_(run), q_(q), first_(first), end_(end), apart_(std::clamp<int64_t>(q.apart, 0, end - first + 1))
    {
        const Calibration cal = run.info().channelCalibration(q.channel);
        // The highest values are the highest codes only for a positive scale.
        sign_ = q.highest == (cal.scale > 0) ? 1 : -1;
        const double p = q.prominence >= 0 ? q.prominence : defaultProminence(cal);
        const double codes = std::ceil(p / std::fabs(cal.scale) - 1e-9);
        fall_ = codes >= 65536 || !std::isfinite(codes) ? 65536 : std::max(1, int(codes));
    }

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
                heap_.push({sign_ > 0 ? s.max : -s.min, s.first, level, s.first, s.end});
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
            if (excluded_.covers(n.first, n.end))
                continue;
            if (n.level > 0) {
                cover(n.level - 1, n.first, n.end);
                continue;
            }
            if (excluded_.around(n.at).second == n.at) { // a candidate not yet passed over
                if (crest(n.at, n.key)) {
                    out.push_back({n.at, int16_t(sign_ * n.key)});
                    excluded_.add(n.at - apart_ + 1, n.at + apart_);
                    if (control.progress)
                        control.progress(double(out.size()) / double(q_.count));
                }
                excluded_.add(n.at, n.at + 1);
            }
            const auto [a, b] = excluded_.around(n.at);
            pushRaw(n.first, std::min(n.end, a));
            pushRaw(std::max(n.first, b), n.end);
        }
        return true;
    }

private:
    // Keys of [a, b)'s present scans, in order.
    void readKeys(int64_t a, int64_t b, std::vector<std::pair<int64_t, int>> &keys) const
    {
        keys.clear();
        const int ch = q_.channel;
        run_.readScans(a, b, [&](int64_t at, const int16_t *codes, int64_t n) {
            const int stride = run_.channels();
            for (int64_t i = 0; i < n; ++i)
                keys.emplace_back(at + i, sign_ * codes[i * stride + ch]);
            return true;
        });
    }

    // Walks from `scan` towards one side until a scan falls to `key - fall`
    // (true) or one is as high (left; higher to the right) or the range ends
    // (false); excludes what it passed over.
    bool side(int64_t scan, int key, int direction)
    {
        std::vector<std::pair<int64_t, int>> keys;
        for (int64_t at = scan;;) {
            const int64_t a = direction < 0 ? std::max(first_, at - kWalkChunk) : at + 1;
            const int64_t b = direction < 0 ? at : std::min(end_, at + 1 + kWalkChunk);
            if (a >= b) {
                excludeBetween(scan, direction < 0 ? first_ - 1 : end_);
                return false;
            }
            readKeys(a, b, keys);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const auto [s, k] = keys[direction < 0 ? keys.size() - 1 - i : i];
                const bool stop = direction < 0 ? k >= key : k > key;
                if (stop || k <= key - fall_) {
                    excludeBetween(scan, s);
                    return !stop;
                }
            }
            at = direction < 0 ? a : b - 1;
        }
    }

    void excludeBetween(int64_t scan, int64_t stop)
    {
        excluded_.add(std::min(scan, stop) + 1, std::max(scan, stop));
    }

    bool crest(int64_t scan, int key) { return side(scan, key, -1) && side(scan, key, +1); }

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

    const RecordedRun &run_;
    const PeakQuery &q_;
    int64_t first_, end_;
    int64_t apart_; // no further than the range reaches, so that no sum overflows
    int sign_ = 1;
    int fall_ = 1;
    std::priority_queue<Node, std::vector<Node>, Worse> heap_;
    Excluded excluded_;
};

} // namespace

double defaultProminence(const Calibration &cal)
{
    return std::max(8.0, 0.01 * 4095) * std::fabs(cal.scale);
}

PeakResult findPeaks(const RecordedRun &run, const PeakQuery &q, const Control &control)
{
    PeakResult out;
    int64_t first = q.first, end = q.end;
    clampRange(run, first, end, out);
    if (!channelExists(run, q.channel, out))
        return out;
    PeakSearch search(run, q, first, end);
    search.cover(run.summaryLevels(), first, end);
    const bool whole = search.run(control, out.peaks);
    finish(run, whole, out);
    return out;
}

} // namespace adcard::query
