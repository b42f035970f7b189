#include "recording/file_run.h"

#include "recording/timestamp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace adcard::reading {

void FileRun::sync() const
{
    const std::lock_guard lock(mutex_);
    const uint64_t g = st_->generation.load();
    if (g == gen_)
        return;
    gen_ = g;
    RunPlace fresh;
    {
        const std::lock_guard stLock(st_->mutex);
        const Quiet quiet;
        for (RunPlace &p : st_->places())
            if (p.info.number == p_.info.number)
                fresh = std::move(p);
    }
    if (fresh.info.number != p_.info.number || !fresh.error.empty() || fresh.info.blocks < p_.info.blocks)
        return; // the run is gone, damaged or shrank: keep what was read
    // Blocks read short may have grown; whole ones never change.
    raw_.dropIf([&](uint64_t, const Raw &r) { return r.rows < rawRows_; });
    nearFirst_ = -1;
    indices_.dropIf([&](uint64_t, const Indices &r) { return r.rows < kIndexBlock; });
    entries_.dropIf([&](uint64_t, const Entries &r) { return r.entries < kEntryBlock; });
    // A chunk read short may have grown too: read again.
    indexChunks_.dropIf([](uint64_t, const IndexChunk &) { return true; });
    entryChunks_.dropIf([](uint64_t, const EntryChunk &) { return true; });
    rowSearch_.clear();
    for (KeySearch &k : levelSearch_)
        k.clear();
    lastSpan_.clear();
    p_ = std::move(fresh);
    if (summariser_)
        summariser_->rowsChanged(p_.info.blocks, p_.info.open);
}

bool FileRun::readRows(const Where &at, int64_t row, int64_t n, int16_t *out)
{
    const hsize_t s = hsize_t(at.scansPerBlock);
    const hsize_t start[2] = {hsize_t(at.rowBase + row) * s, 0};
    const hsize_t count[2] = {hsize_t(n) * s, hsize_t(at.channels)};
    const Hid fileSpace(H5Dget_space(at.samples), H5Sclose);
    const Hid memSpace(H5Screate_simple(2, count, nullptr), H5Sclose);
    return fileSpace.valid() && memSpace.valid() &&
           H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
           H5Dread(at.samples, H5T_NATIVE_INT16, memSpace.get(), fileSpace.get(), H5P_DEFAULT, out) >= 0;
}

bool FileRun::readIndices(const Where &at, int64_t row, int64_t n, int64_t *out)
{
    Fields f(at.blocks, sizeof(int64_t));
    return f.add(format::kIndexAlone) &&
           f.read(at.blocks, hsize_t(at.rowBase + row), hsize_t(n), out);
}

int64_t FileRun::rowIndex(int64_t row) const
{
    const int64_t rows = p_.info.blocks;
    if (p_.lastIndex - p_.firstIndex == rows - 1)
        return p_.firstIndex + row;
    const int64_t b = row / kIndexBlock;
    Indices *c = indices_.find(uint64_t(b));
    if (!c) {
        Indices fresh;
        fresh.rows = std::min(kIndexBlock, rows - b * kIndexBlock);
        fresh.index.resize(std::size_t(fresh.rows));
        if (!readIndices(where(), b * kIndexBlock, fresh.rows, fresh.index.data()))
            fresh.index.assign(fresh.index.size(), -1);
        c = &indices_.put(uint64_t(b), std::move(fresh));
    }
    return c->index[std::size_t(row - b * kIndexBlock)];
}

int64_t FileRun::chunkLength(hid_t dset)
{
    const Hid dcpl(H5Dget_create_plist(dset), H5Pclose);
    hsize_t dims[2] = {};
    if (!dcpl.valid() || H5Pget_layout(dcpl.get()) != H5D_CHUNKED || H5Pget_chunk(dcpl.get(), 2, dims) < 1)
        return 256;
    return std::clamp<int64_t>(int64_t(dims[0]), 1, 1 << 16);
}

int64_t FileRun::indexNear(int64_t row) const
{
    const int64_t rows = p_.info.blocks;
    if (p_.lastIndex - p_.firstIndex == rows - 1)
        return p_.firstIndex + row;
    if (Indices *c = indices_.find(uint64_t(row / kIndexBlock)))
        return c->index[std::size_t(row % kIndexBlock)];
    const int64_t chunk = (p_.rowBase + row) / rowChunk_;
    IndexChunk *c = indexChunks_.find(uint64_t(chunk));
    if (!c) {
        IndexChunk fresh;
        fresh.first = std::max<int64_t>(0, chunk * rowChunk_ - p_.rowBase);
        const int64_t n = std::min(rows, (chunk + 1) * rowChunk_ - p_.rowBase) - fresh.first;
        fresh.index.resize(std::size_t(n));
        if (!readIndices(where(), fresh.first, n, fresh.index.data()))
            fresh.index.assign(fresh.index.size(), -1);
        c = &indexChunks_.put(uint64_t(chunk), std::move(fresh));
        if (!c->index.empty()) {
            rowSearch_.learn(c->first, c->index.front());
            rowSearch_.learn(c->first + int64_t(c->index.size()) - 1, c->index.back());
        }
    }
    return c->index[std::size_t(row - c->first)];
}

int64_t FileRun::firstRowFrom(int64_t block) const
{
    const int64_t rows = p_.info.blocks;
    // Indices rise strictly, so the row lies within as many rows as there
    // are holes.
    const int64_t lo = std::clamp<int64_t>(block - p_.lastIndex + rows - 1, 0, rows);
    const int64_t hi = std::clamp<int64_t>(block - p_.firstIndex, 0, rows);
    if (lo >= hi)
        return lo;
    rowSearch_.learn(0, p_.firstIndex);
    rowSearch_.learn(rows - 1, p_.lastIndex);
    return rowSearch_.lowerBound(lo, hi, block, [&](int64_t r) { return indexNear(r); });
}

void FileRun::forStretches(int64_t first, int64_t end, const StretchFn &fn) const
{
    stretches(first, end, fn, false);
}

const int16_t *FileRun::nearRow(int64_t r, int64_t want) const
{
    const int64_t s = p_.info.scansPerBlock;
    const std::size_t ch = std::size_t(p_.info.channels);
    if (r < nearFirst_ || r >= nearFirst_ + near_.rows) {
        near_.rows = std::clamp<int64_t>(want, 1, std::min(kNearRows, p_.info.blocks - r));
        near_.codes.resize(std::size_t(near_.rows * s) * ch);
        nearFirst_ = r;
        if (!readRows(where(), r, near_.rows, near_.codes.data())) {
            if (readError_.empty())
                readError_ = "cannot read the samples of run " + std::to_string(p_.info.number) + " from row " +
                             std::to_string(r);
            near_.rows = 0;
            return nullptr;
        }
    }
    return &near_.codes[std::size_t((r - nearFirst_) * s) * ch];
}

void FileRun::stretches(int64_t first, int64_t end, const StretchFn &fn, bool narrow) const
{
    const int64_t s = p_.info.scansPerBlock;
    const std::size_t ch = std::size_t(p_.info.channels);
    const int64_t rows = p_.info.blocks;
    int64_t last = -1;
    for (int64_t r = firstRowFrom(first / s); r < rows; ++r) {
        const int64_t index = narrow ? indexNear(r) : rowIndex(r);
        // Negative first: a crafted index times the block's scans overflows.
        if (index < 0)
            continue; // damaged, skip it
        if (index > p_.lastIndex || index * s >= end)
            break;
        if (index <= last)
            continue; // out of order: damaged, skip it
        last = index;
        const int64_t from = std::max(first, index * s);
        const int64_t to = std::min(end, (index + 1) * s);
        if (narrow) {
            // Rows beyond the range's last block are not needed: indices rise.
            if (const int16_t *codes = nearRow(r, (end - 1) / s - index + 1); codes && from < to)
                fn(from, codes + std::size_t(from - index * s) * ch, to - from);
            continue;
        }
        const int64_t b = r / rawRows_;
        Raw *c = raw_.find(uint64_t(b));
        if (!c) {
            // The buffer of the block it replaces, so that a pan does not
            // map and clear fresh pages every time.
            Raw fresh;
            if (Raw *old = raw_.victim())
                fresh.codes = std::move(old->codes);
            fresh.rows = std::min(rawRows_, rows - b * rawRows_);
            fresh.codes.resize(std::size_t(fresh.rows * s) * ch);
            if (!readRows(where(), b * rawRows_, fresh.rows, fresh.codes.data())) {
                if (readError_.empty())
                    readError_ = "cannot read the samples of run " + std::to_string(p_.info.number) + " from block " +
                                 std::to_string(index);
                fresh.rows = 0;
            }
            c = &raw_.put(uint64_t(b), std::move(fresh));
        }
        if (r - b * rawRows_ >= c->rows)
            continue;
        if (from < to)
            fn(from, &c->codes[std::size_t((r - b * rawRows_) * s + from - index * s) * ch], to - from);
    }
}

std::vector<ScanGap> FileRun::gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const
{
    const std::lock_guard lock(mutex_);
    sync();
    const Quiet quiet;
    std::vector<ScanGap> out;
    total = 0;
    const int64_t s = p_.info.scansPerBlock;
    const int64_t rows = p_.info.blocks;
    end = std::min(end, p_.info.scans);
    if (rows == 0 || first >= end)
        return out;
    auto emit = [&](int64_t fromBlock, int64_t toBlock) { // blocks [from, to) have no row
        const int64_t a = std::max(first, fromBlock * s), b = std::min(end, toBlock * s);
        if (a >= b)
            return;
        ++total;
        if (out.size() < most)
            out.push_back({a, b});
    };
    // Indices rise strictly: rows ra < rb enclose index(rb) - index(ra) -
    // (rb - ra) missing blocks, so only halves that hold some are split.
    auto split = [&](auto &self, int64_t ra, int64_t rb) -> void {
        const int64_t ia = rowIndex(ra), ib = rowIndex(rb);
        // An index past the run's last is damaged: times the block's scans it
        // could overflow.
        if (ia < 0 || ib <= ia || ib > p_.lastIndex || ib - ia == rb - ra)
            return;
        if (rb - ra == 1)
            return emit(ia + 1, ib);
        const int64_t mid = ra + (rb - ra) / 2;
        self(self, ra, mid);
        self(self, mid, rb);
    };
    const int64_t r0 = firstRowFrom(first / s);
    const int64_t r1 = std::min(rows - 1, firstRowFrom((end + s - 1) / s));
    if (r0 == 0)
        emit(0, rowIndex(0));
    split(split, std::max<int64_t>(0, r0 - 1), r1);
    return out;
}

bool FileRun::forEachScan(int64_t firstScan, int64_t lastScan,
                          const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const
{
    // An export may take long, perhaps in a thread of its own: it holds the
    // run only to find where to begin, then reads batches of its own, so
    // that views go on being drawn meanwhile and keep their cache.
    Where at{};
    int64_t rows = 0, lastIndex = -1, r0 = 0;
    firstScan = std::max<int64_t>(firstScan, 0);
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        at = where();
        rows = p_.info.blocks;
        lastIndex = p_.lastIndex;
        r0 = firstRowFrom(firstScan / at.scansPerBlock);
        readError_.clear();
    }
    const Quiet quiet;
    const int64_t s = at.scansPerBlock;
    const std::size_t ch = std::size_t(at.channels);
    const int64_t batch = rawRows_;
    std::vector<int16_t> codes(std::size_t(batch * s) * ch);
    std::vector<int64_t> index(static_cast<std::size_t>(batch));
    int64_t last = -1;
    for (int64_t r = r0; r < rows; r += batch) {
        const int64_t n = std::min(batch, rows - r);
        if (!readIndices(at, r, n, index.data()) || !readRows(at, r, n, codes.data())) {
            const std::lock_guard lock(mutex_);
            readError_ = "HDF5 cannot read blocks " + std::to_string(r + 1) + " to " + std::to_string(r + n) +
                         " of run " + std::to_string(p_.info.number) + " in '" + st_->path + "'";
            return false;
        }
        for (int64_t i = 0; i < n; ++i) {
            const int64_t b = index[std::size_t(i)];
            if (b < 0)
                continue; // damaged; checked before b * s, which it would overflow
            if (b > lastIndex || b * s >= lastScan)
                return true;
            if (b <= last)
                continue; // out of order: damaged
            last = b;
            for (int64_t k = std::max(firstScan, b * s); k < std::min(lastScan, (b + 1) * s); ++k)
                if (!scan(k, std::span<const int16_t>(&codes[std::size_t(i * s + k - b * s) * ch], ch)))
                    return false;
        }
    }
    return true;
}

int64_t FileRun::readySpans(int level) const
{
    const int64_t w = width(level);
    const int64_t scans = p_.info.scans;
    if (st_->version == 1)
        return summariser_->complete() ? (scans + w - 1) / w : summariser_->readyScan() / w;
    if (level > int(p_.entries.size()))
        return 0;
    // Entries come in order but may lag behind the rows (the writer may
    // gather them a chunk at a time, and a reader may catch the file between
    // two of its flushes): a span past the level's last entry may yet get
    // one. An entry whose span the rows do not cover yet is not trusted
    // either, unless the run has ended: its last, partial entries are
    // written at its end.
    const int64_t limit = p_.closed ? (scans + w - 1) / w : scans / w;
    lastSpan_.resize(p_.entries.size(), kUnknown);
    int64_t &last = lastSpan_[std::size_t(level) - 1];
    if (last == kUnknown) {
        const int64_t n = p_.entries[std::size_t(level) - 1].second - p_.entries[std::size_t(level) - 1].first;
        last = n > 0 ? entrySpan(level, n - 1) : -1;
        if (last == std::numeric_limits<int64_t>::max())
            last = -1;
        // A recording stopped by a full disk may have left entries that
        // count blocks which never got a row: the one for the rows' last,
        // partial span is used only if it holds exactly the scans the rows
        // have there.
        const int64_t j = scans / w;
        if (p_.closed && scans % w != 0 && last >= j) {
            const int64_t lo = entryFrom(level, j);
            const bool whole = lo < n && entrySpan(level, lo) == j && entryCount(level, lo) == presentFrom(j * w);
            last = whole ? j : j - 1;
        }
    }
    return std::min(last + 1, limit);
}

bool FileRun::readEntryRows(int level, int64_t pos, int64_t n, EntryTable &table) const
{
    const std::size_t ch = std::size_t(p_.info.channels);
    const auto at = format::SummaryLayout::of(ch, st_->version);
    const std::size_t size = at.bytes();
    const hid_t dset = st_->levels[std::size_t(level) - 1].get();
    Fields f(dset, size);
    f.add(at.fields().all());
    thread_local std::vector<unsigned char> bytes;
    bytes.resize(std::size_t(std::max<int64_t>(n, 0)) * size);
    table.channels = int(ch);
    const int64_t w = width(level);
    if (n <= 0 || !f.read(dset, hsize_t(pos), hsize_t(n), bytes.data()))
        return false;
    std::vector<Stats> stats(ch);
    for (int64_t i = 0; i < n; ++i) {
        const unsigned char *b = &bytes[std::size_t(i) * size];
        int32_t run;
        int64_t start, count;
        std::memcpy(&run, b + at.kRun, 4);
        std::memcpy(&start, b + at.kStart, 8);
        std::memcpy(&count, b + at.kCount, 8);
        // Kept in place even when foreign or damaged, so positions stay
        // positions; a count of 0 makes it add nothing.
        bool ok = run == p_.info.number && start >= 0 && count > 0 && count <= w;
        for (std::size_t k = 0; k < ch && ok; ++k) {
            const std::optional<Stats> s = entryChannel(b, at, k, count);
            ok = s.has_value();
            stats[k] = s.value_or(Stats{});
        }
        if (!ok)
            stats.assign(ch, Stats{0, 0, 0, 0, 0});
        table.push(start >= 0 ? start / w : -1, stats);
    }
    return true;
}

const EntryTable *FileRun::entryBlock(int level, int64_t block) const
{
    static const EntryTable none;
    const uint64_t key = uint64_t(level) << 48 | uint64_t(block);
    if (Entries *c = entries_.find(key))
        return &c->table;
    if (level > int(p_.entries.size()))
        return &none;
    const auto [first, end] = p_.entries[std::size_t(level) - 1];
    const int64_t n = std::min(kEntryBlock, end - first - block * kEntryBlock);
    Entries e;
    e.entries = n;
    if (!readEntryRows(level, first + block * kEntryBlock, n, e.table)) {
        e.table = EntryTable{};
        e.entries = 0; // read again next time
        if (n > 0 && readError_.empty())
            readError_ = "cannot read the summaries of run " + std::to_string(p_.info.number) + " (level " +
                         std::to_string(level) + ")";
    }
    return &entries_.put(key, std::move(e)).table;
}

std::optional<LevelSpans> FileRun::fewSpans(int level, int channel, int64_t first, int64_t end) const
{
    if (st_->version < 2 || level < 1 || level > int(p_.entries.size()) || channel < 0 ||
        channel >= p_.info.channels)
        return std::nullopt;
    const int64_t w = width(level);
    const auto [p0, p1] = p_.entries[std::size_t(level) - 1];
    const int64_t n = p1 - p0;
    if (first % w != 0 || end % w != 0 || end - first > kFewSpans * w || n <= 0)
        return std::nullopt;
    const int64_t span0 = entrySpan(level, 0), spanLast = entrySpan(level, n - 1);
    if (spanLast < span0)
        return std::nullopt; // damaged: the general way copes
    const int64_t ready = std::max(first / w, std::min(end / w, readySpans(level)));
    const int64_t a = std::max(first / w, span0), b = std::min(ready, spanLast + 1);
    LevelSpans out;
    out.readyEnd = std::max(first, ready * w);
    const std::size_t ch = std::size_t(p_.info.channels), c = std::size_t(channel);
    int64_t previous = a - 1;
    for (int64_t pos = a < b ? entryFrom(level, a) : n; pos < n; ++pos) {
        std::size_t i = 0;
        const EntryTable *t = entryNear(level, pos, i);
        if (!t || t->span[i] >= b)
            break;
        if (t->span[i] <= previous)
            return std::nullopt; // out of order: damaged
        previous = t->span[i];
        if (t->count[i] > 0)
            out.spans.push_back({t->span[i] * w, (t->span[i] + 1) * w, t->count[i], t->min[i * ch + c],
                                 t->max[i * ch + c]});
    }
    return out;
}

const EntryTable *FileRun::entryNear(int level, int64_t pos, std::size_t &i) const
{
    if (level < 1 || level > int(p_.entries.size()) || level > int(levelChunk_.size()) || pos < 0)
        return nullptr;
    const auto [p0, p1] = p_.entries[std::size_t(level) - 1];
    if (pos >= p1 - p0)
        return nullptr;
    if (Entries *big = entries_.find(uint64_t(level) << 48 | uint64_t(pos / kEntryBlock))) {
        i = std::size_t(pos % kEntryBlock);
        return i < big->table.size() ? &big->table : nullptr;
    }
    const int64_t size = levelChunk_[std::size_t(level) - 1];
    const int64_t chunk = (p0 + pos) / size;
    const uint64_t key = uint64_t(level) << 48 | uint64_t(chunk);
    EntryChunk *c = entryChunks_.find(key);
    if (!c) {
        EntryChunk fresh;
        fresh.first = std::max<int64_t>(0, chunk * size - p0);
        const int64_t n = std::min(p1, (chunk + 1) * size) - p0 - fresh.first;
        if (!readEntryRows(level, p0 + fresh.first, n, fresh.table)) {
            fresh.table = EntryTable{};
            if (n > 0 && readError_.empty())
                readError_ = "cannot read the summaries of run " + std::to_string(p_.info.number) + " (level " +
                             std::to_string(level) + ")";
        }
        c = &entryChunks_.put(key, std::move(fresh));
        KeySearch &k = levelSearch_[std::size_t(level) - 1];
        if (const std::size_t m = c->table.size(); m > 0) {
            k.learn(c->first, c->table.span.front());
            k.learn(c->first + int64_t(m) - 1, c->table.span.back());
        }
    }
    i = std::size_t(pos - c->first);
    return pos >= c->first && i < c->table.size() ? &c->table : nullptr;
}

int64_t FileRun::entryFrom(int level, int64_t span) const
{
    const auto [p0, p1] = p_.entries[std::size_t(level) - 1];
    const int64_t n = p1 - p0;
    if (n <= 0)
        return 0;
    // Spans rise strictly, so the entry lies within as many positions as
    // the level has spans without one.
    const int64_t span0 = entrySpan(level, 0);
    const int64_t spanLast = entrySpan(level, n - 1);
    int64_t lo = std::clamp<int64_t>(span - spanLast + n - 1, 0, n);
    int64_t hi = std::clamp<int64_t>(span - span0, 0, n);
    if (spanLast < span0 || lo > hi)
        lo = 0, hi = n; // damaged: search it all
    KeySearch &k = levelSearch_[std::size_t(level) - 1];
    k.learn(0, span0);
    k.learn(n - 1, spanLast);
    return k.lowerBound(lo, hi, span, [&](int64_t pos) { return entrySpan(level, pos); });
}

int64_t FileRun::entryCount(int level, int64_t pos) const
{
    std::size_t i = 0;
    const EntryTable *t = entryNear(level, pos, i);
    return t ? t->count[i] : -1;
}

int64_t FileRun::presentFrom(int64_t scan) const
{
    const int64_t s = p_.info.scansPerBlock;
    const int64_t rows = p_.info.blocks;
    const int64_t r = firstRowFrom(scan / s);
    if (r >= rows)
        return 0;
    return (rows - r) * s - std::max<int64_t>(0, scan - indexNear(r) * s);
}

int64_t FileRun::entrySpan(int level, int64_t pos) const
{
    std::size_t i = 0;
    const EntryTable *t = entryNear(level, pos, i);
    return t ? t->span[i] : std::numeric_limits<int64_t>::max();
}

void FileRun::forEntries(int level, int64_t firstSpan, int64_t endSpan,
                         const std::function<void(const EntryRef &)> &fn) const
{
    if (st_->version == 1) {
        const EntryTable &t = summariser_->tables()[std::size_t(level) - 1];
        auto it = std::lower_bound(t.span.begin(), t.span.end(), firstSpan);
        for (std::size_t i = std::size_t(it - t.span.begin()); i < t.size() && t.span[i] < endSpan; ++i)
            fn(t.at(i));
        return;
    }
    if (level > int(p_.entries.size()))
        return;
    const auto [first, end] = p_.entries[std::size_t(level) - 1];
    const int64_t n = end - first;
    if (n <= 0)
        return;
    int64_t previous = firstSpan - 1;
    for (int64_t pos = entryFrom(level, firstSpan); pos < n;) {
        const EntryTable *t = entryBlock(level, pos / kEntryBlock);
        std::size_t i = std::size_t(pos % kEntryBlock);
        if (i >= t->size())
            return;
        for (; i < t->size(); ++i, ++pos) {
            const int64_t span = t->span[i];
            if (span >= endSpan)
                return;
            if (span <= previous)
                continue; // out of order: damaged
            previous = span;
            if (t->count[i] > 0)
                fn(t->at(i));
        }
    }
}


std::vector<RecordedMarker> FileRun::markers() const
{
    std::vector<RecordedMarker> out;
    const int64_t scans = info().scans;
    const std::lock_guard lock(st_->mutex);
    const hid_t d = st_->markers.get();
    if (st_->version < 2 || d < 0)
        return out;
    const Quiet quiet;
    using Row = format::MarkerRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kMarkerFields))
        return out;
    // Rows are in order of run: this run's first by bisection, then no more
    // than a bounded number of them.
    const int64_t total = int64_t(length(d));
    const int64_t lo = firstTableRowFrom<Row>(d, f, p_.info.number, INT64_MIN);
    const hsize_t n = hsize_t(std::min(kMaxRunMarkers, total - lo));
    std::vector<Row> rows(n, Row{});
    if (!f.read(d, hsize_t(lo), n, rows.data()))
        return out;
    for (Row &r : rows) {
        r.text[sizeof r.text - 1] = '\0';
        if (r.run == p_.info.number && r.scan >= 0 && r.scan <= scans) // only what the rows hold
            out.push_back({r.scan, r.timeNs, r.text});
    }
    return out;
}

std::vector<RecordedDigital> FileRun::digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const
{
    std::vector<RecordedDigital> out;
    const std::lock_guard lock(st_->mutex);
    const hid_t d = st_->digital.get();
    if (st_->version < 2 || d < 0 || most == 0)
        return out;
    const Quiet quiet;
    using Row = format::DigitalRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kDigitalFields))
        return out;
    // Rows are in order of run, then scan: both ends by bisection.
    const int32_t run = p_.info.number;
    const int64_t first = firstTableRowFrom<Row>(d, f, run, firstScan);
    const int64_t count = std::max<int64_t>(0, firstTableRowFrom<Row>(d, f, run, lastScan) - first);
    // More than asked for: every stride-th row, read as such. Each row
    // picked from a chunk of its own costs a read of that chunk, so over a
    // long run the thinning goes further, to a bounded number of them: a
    // strip with more changes than pixels shows no single one anyway.
    int64_t picks = int64_t(std::min<std::size_t>(most, std::size_t(INT64_MAX)));
    if (count > picks && count / chunkLength(d) > kMostDigitalChunks)
        picks = std::min(picks, kMostDigitalChunks);
    const hsize_t stride = count <= picks ? 1 : hsize_t((count + picks - 1) / picks);
    const hsize_t n = (hsize_t(count) + stride - 1) / stride;
    std::vector<Row> rows(n);
    if (n > 0 && f.read(d, hsize_t(first), n, rows.data(), stride))
        for (const Row &r : rows)
            if (r.run == run)
                out.push_back({r.scan, r.timeNs, r.port0, r.port1});
    return out;
}

} // namespace adcard::reading
