#pragma once
// What the reader needs of HDF5 beyond the schema: checked reads of
// attributes and extents, compound members read by name, the writer's mark in
// the superblock, and a small cache. Every value read is checked before it
// sizes anything.
#include "data/calibration.h"
#include "data/channel_units.h"
#include "data/statistics.h"
#include "recording/format.h"
#include "recording/recording_reader.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace adcard::reading {

// The reader keeps what it read in blocks of its own; HDF5's chunk cache
// (1 MiB a dataset by default) would only hold a second copy. Invalid when
// there is no dataset of that name.
Hid openDataset(hid_t where, const char *name, std::size_t chunkCache = 64 << 10);
// The value of a one-element numeric attribute.
std::optional<double> attrNumber(hid_t obj, const char *name);
// ... an integer within [lo, hi].
std::optional<int64_t> attrInt(hid_t obj, const char *name, int64_t lo, int64_t hi);
// A text attribute; empty when missing or of another kind.
std::string attrText(hid_t obj, const char *name);
// An integer attribute read as such: a time in ns does not survive a double.
std::optional<int64_t> attrInt64(hid_t obj, const char *name);
// The file's place in a series, when it states all of it.
std::optional<SeriesMembership> seriesOf(hid_t obj);
// The codes' conversion to volts that `obj` states; the panel's where it
// states none, or one that converts nothing.
Calibration calibrationOf(hid_t obj);
// The channels' names and units that `obj` states, `channels` of them, each
// checked; volts for a channel without a usable one, or for all when the
// attributes are missing or of another shape.
ChannelUnits channelUnitsOf(hid_t obj, int channels);
// Extent of a dataset of rank `rank`; nullopt for another rank.
std::optional<std::vector<hsize_t>> extent(hid_t dset, int rank);
hsize_t length(hid_t dset);
// The superblock says whether a writer has the file open (or had, and
// crashed).
bool openForWriting(const std::string &path);
// HDF5's signature at the start, or after a user block.
bool hdf5Signature(const std::string &path);

// Channel k of a summary entry of `count` scans, packed as `at` says, as the
// accumulator holds it: exact from format 4's sums, and from the means and
// standard deviations of the formats before it to the nearest integer.
// Nothing (nullopt) where format 4's sums cannot be those of `count` codes
// within the entry's min and max, as in a damaged file.
std::optional<Stats> entryChannel(const unsigned char *entry, const format::SummaryLayout &at, std::size_t k,
                                  int64_t count);

// A compound for reading the named members that the file's type has, each
// converted to `memType` at `offset`.
class Fields {
public:
    Fields(hid_t dset, std::size_t size)
        : file_(H5Dget_type(dset), H5Tclose), mem_(H5Tcreate(H5T_COMPOUND, size), H5Tclose)
    {
    }
    // The file's member `name`, if it is of class `cls` (and, for arrays,
    // one-dimensional with `dim` elements; for text, `dim` bytes with the
    // terminating zero, `memType` unused).
    bool add(const char *name, std::size_t offset, hid_t memType, H5T_class_t cls, hsize_t dim = 0)
    {
        if (!file_.valid() || H5Tget_class(file_.get()) != H5T_COMPOUND)
            return false;
        const int i = H5Tget_member_index(file_.get(), name);
        if (i < 0 || H5Tget_member_class(file_.get(), unsigned(i)) != cls)
            return false;
        if (cls == H5T_STRING) {
            // Fixed text of `dim` bytes in the file's own character set:
            // HDF5 does not convert between sets.
            const Hid m(H5Tget_member_type(file_.get(), unsigned(i)), H5Tclose);
            if (H5Tis_variable_str(m.get()) != 0)
                return false;
            const Hid text(H5Tcopy(m.get()), H5Tclose);
            return H5Tset_size(text.get(), dim) >= 0 && H5Tset_strpad(text.get(), H5T_STR_NULLTERM) >= 0 &&
                   H5Tinsert(mem_.get(), name, offset, text.get()) >= 0;
        }
        if (cls == H5T_ARRAY) {
            const Hid m(H5Tget_member_type(file_.get(), unsigned(i)), H5Tclose);
            hsize_t d[2] = {};
            if (H5Tget_array_ndims(m.get()) != 1 || H5Tget_array_dims2(m.get(), d) < 0 || d[0] != dim)
                return false;
            const Hid base(H5Tget_super(m.get()), H5Tclose);
            const H5T_class_t bc = H5Tget_class(base.get());
            if (bc != H5T_INTEGER && bc != H5T_FLOAT)
                return false;
        }
        return H5Tinsert(mem_.get(), name, offset, memType) >= 0;
    }
    // A member the schema names; false when the file's is missing or of
    // another kind.
    bool add(const format::Field &f)
    {
        if (f.kind == format::Field::Text)
            return add(f.name, f.offset, H5I_INVALID_HID, H5T_STRING, f.extent);
        if (f.extent > 0) {
            const Hid m(H5Tarray_create2(format::memoryType(f.kind), 1, std::array<hsize_t, 1>{f.extent}.data()),
                        H5Tclose);
            return add(f.name, f.offset, m.get(), H5T_ARRAY, f.extent);
        }
        const bool real = f.kind == format::Field::F32 || f.kind == format::Field::F64;
        return add(f.name, f.offset, format::memoryType(f.kind), real ? H5T_FLOAT : H5T_INTEGER);
    }
    // Every member of `fields`; false when a required one is missing.
    bool add(std::span<const format::Field> fields)
    {
        bool ok = true;
        for (const format::Field &f : fields)
            ok = (add(f) || !f.required) && ok;
        return ok;
    }
    // Reads `count` elements from `first` into `out`.
    bool read(hid_t dset, hsize_t first, hsize_t count, void *out, hsize_t stride = 1) const
    {
        if (count == 0)
            return true;
        const Hid fileSpace(H5Dget_space(dset), H5Sclose);
        const Hid memSpace(H5Screate_simple(1, &count, nullptr), H5Sclose);
        return fileSpace.valid() && memSpace.valid() &&
               H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, &first, &stride, &count, nullptr) >= 0 &&
               H5Dread(dset, mem_.get(), memSpace.get(), fileSpace.get(), transfer(), out) >= 0;
    }

private:
    // Conversion buffers of our own, kept: HDF5 would otherwise allocate and
    // clear fresh ones at every read of selected members, which costs more
    // than the read itself when a query reads a few rows at a time.
    static hid_t transfer()
    {
        constexpr std::size_t kBytes = 256 << 10;
        thread_local const struct Plist {
            std::vector<unsigned char> tconv = std::vector<unsigned char>(kBytes), bkg = tconv;
            Hid id{H5Pcreate(H5P_DATASET_XFER), H5Pclose};
            Plist()
            {
                if (id.valid())
                    H5Pset_buffer(id.get(), kBytes, tconv.data(), bkg.data());
            }
        } plist;
        return plist.id.valid() ? plist.id.get() : H5P_DEFAULT;
    }

    Hid file_;
    Hid mem_;
};

// The first row of `d` (rows in order of run, then scan) not before scan
// `scan` of run `run`, by bisection; where a read fails, the bound so far.
template <typename Row>
int64_t firstTableRowFrom(hid_t d, const Fields &f, int32_t run, int64_t scan)
{
    int64_t lo = 0, hi = int64_t(length(d));
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        Row r{};
        if (!f.read(d, hsize_t(mid), 1, &r))
            return lo;
        if (r.run < run || (r.run == run && r.scan < scan))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// A small cache of blocks, the least recently used going first.
template <typename V>
class Lru {
public:
    explicit Lru(std::size_t capacity = 16) : capacity_(capacity) {}
    V *find(uint64_t key)
    {
        for (Slot &s : slots_)
            if (s.key == key) {
                s.used = ++tick_;
                return &s.value;
            }
        return nullptr;
    }
    V &put(uint64_t key, V value)
    {
        if (slots_.size() < capacity_) {
            slots_.push_back({key, ++tick_, std::move(value)});
            return slots_.back().value;
        }
        Slot &old = *std::min_element(slots_.begin(), slots_.end(),
                                      [](const Slot &a, const Slot &b) { return a.used < b.used; });
        old = {key, ++tick_, std::move(value)};
        return old.value;
    }
    // What put() would replace; null while there is room.
    V *victim()
    {
        if (slots_.size() < capacity_)
            return nullptr;
        return &std::min_element(slots_.begin(), slots_.end(),
                                 [](const Slot &a, const Slot &b) { return a.used < b.used; })
                    ->value;
    }
    template <typename Pred>
    void dropIf(Pred pred)
    {
        std::erase_if(slots_, [&](const Slot &s) { return pred(s.key, s.value); });
    }
    void setCapacity(std::size_t c)
    {
        capacity_ = std::max<std::size_t>(c, 2);
        slots_.clear();
    }

private:
    struct Slot {
        uint64_t key;
        uint64_t used;
        V value;
    };
    std::vector<Slot> slots_;
    std::size_t capacity_;
    uint64_t tick_ = 0;
};

// Finds where a column of rising keys (a row's block index, an entry's span)
// first reaches a value. Keys rise by at least one a position, so every key
// read bounds the answer from both sides; those read before are kept, and the
// next position is guessed by interpolation, since holes are few. A cold
// search then reads one or two chunks of the column where a bisection reads
// one at each of its first steps.
class KeySearch {
public:
    // The first position in [lo, hi) whose key is >= `target`, hi when none;
    // `key(p)` reads position p. The answer is known to lie within [lo, hi].
    template <typename Key>
    int64_t lowerBound(int64_t lo, int64_t hi, int64_t target, Key &&key)
    {
        bool guess = true;
        while (lo < hi) {
            narrow(lo, hi, target);
            if (lo >= hi)
                break;
            const int64_t before = hi - lo;
            int64_t p = lo + (hi - lo) / 2;
            if (guess)
                p = std::clamp(interpolate(target, lo, hi), lo, hi - 1);
            const int64_t k = key(p);
            learn(p, k);
            if (k < target)
                lo = p + 1, hi = std::min(hi, p + (target - k));
            else
                hi = p, lo = std::max(lo, p - (k - target));
            // A guess that did not halve the range is followed by a halving.
            guess = !guess || hi - lo <= before / 2;
        }
        return lo;
    }
    void learn(int64_t pos, int64_t key)
    {
        if (known_.size() >= kMost)
            known_.clear();
        known_[key] = pos;
    }
    void clear() { known_.clear(); }

private:
    // The keys known nearest to `target` on either side bound the answer;
    // keys that contradict the range (a damaged column) are ignored.
    void narrow(int64_t &lo, int64_t &hi, int64_t target) const
    {
        int64_t a = lo, b = hi;
        const auto it = known_.lower_bound(target);
        if (it != known_.end())
            b = std::min(b, it->second), a = std::max(a, it->second - (it->first - target));
        if (it != known_.begin()) {
            const auto &[k, p] = *std::prev(it);
            a = std::max(a, p + 1), b = std::min(b, p + (target - k));
        }
        if (a <= b)
            lo = a, hi = b;
    }
    int64_t interpolate(int64_t target, int64_t lo, int64_t hi) const
    {
        const auto above = known_.lower_bound(target);
        if (above == known_.end() || above == known_.begin())
            return lo + (hi - lo) / 2;
        const auto below = std::prev(above);
        const double share = double(target - below->first) / double(above->first - below->first);
        return below->second + int64_t(share * double(above->second - below->second));
    }

    static constexpr std::size_t kMost = 4096;
    std::map<int64_t, int64_t> known_; // key -> position
};

} // namespace adcard::reading
