#pragma once
// Reads a recording back through the HDF5 C API, opened as a user would while
// a writer may still hold it, and drives a Recorder's hook as the acquisition
// would.
#include "recording/recorder.h"
#include "recording/recording_file.h"

#include <hdf5.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace adcard::testing {

// A fresh directory per test under ADPANEL_TEST_TMP.
inline std::string scratchDir(const std::string &name)
{
    const auto dir = std::filesystem::path(ADPANEL_TEST_TMP) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

inline AcqSettings panelSettings()
{
    AcqSettings s;
    s.IntrArg1 = 10;
    s.ScansPerBlock = 1000;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    s.IntrArg7 = 1;
    s.RingBlocks = 20;
    return s;
}

// Block `index` of the generated test data; the codes cover all of int16.
inline std::vector<int16_t> testBlock(int64_t index, std::size_t samples)
{
    std::vector<int16_t> out(samples);
    for (std::size_t i = 0; i < samples; ++i)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(index * 7919 + static_cast<int64_t>(i) * 31));
    return out;
}

// Calls the hook as the acquisition does.
class Feeder {
public:
    Feeder(Recorder &rec, AcqSettings s = panelSettings()) : rec_(rec), s_(s) {}

    void start()
    {
        rec_.historyStarted(s_);
        rec_.acquisitionStarted(s_);
        fetched_ = handedOver_ = 0;
        slot_ = 0;
        blockCount_ = 0;
    }
    // One tick: 'b' a stored block, 'm' a fetch that failed.
    void tick(std::string_view fetches)
    {
        int stored = 0;
        for (char c : fetches) {
            ++fetched_;
            if (c == 'm') {
                rec_.blockMissed(fetched_);
                continue;
            }
            const auto block = testBlock(fetched_ - 1, samples());
            rec_.blockStored({block, slot_, ++handedOver_, fetched_});
            if (afterBlock)
                afterBlock(handedOver_);
            slot_ = (slot_ + 1) % s_.RingBlocks;
            ++stored;
        }
        blockCount_ = static_cast<int16_t>(blockCount_ + fetches.size());
        rec_.tickEnded({static_cast<int16_t>(fetches.size()), blockCount_, slot_ * int32_t(samples()), stored});
    }
    std::size_t samples() const { return std::size_t(s_.ChannelCount) * std::size_t(s_.ScansPerBlock); }
    int64_t fetched() const { return fetched_; }
    // Called after each stored block with its count of blocks handed over,
    // where the acquisition reports the rules' events.
    std::function<void(int64_t handedOver)> afterBlock;

private:
    Recorder &rec_;
    AcqSettings s_;
    int64_t fetched_ = 0;
    int64_t handedOver_ = 0;
    int32_t slot_ = 0;
    int16_t blockCount_ = 0;
};

struct Child {
    pid_t pid = -1;
    int out = -1; // what the child reported, one line at a time
};

// Runs `body` in a forked child, whose exit status is what `body` returns.
inline Child spawn(const std::function<int(int out)> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::_exit(body(fds[1]));
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// The next line from the child, or false at its end.
inline bool readLine(int fd, std::string &line)
{
    line.clear();
    char c;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

struct RunData {
    hsize_t scans = 0; // the run's samples: as many as its rows point at
    hsize_t channels = 0;
    std::vector<int16_t> samples;
    std::vector<BlockRow> rows;
};

// One summary entry as stored.
struct StoredEntry {
    int32_t run = 0;
    int64_t start = 0, count = 0;
    std::vector<int16_t> min, max;
    std::vector<int64_t> sum, sumSq;
};

class Reader {
public:
    // `flags` as a user passes them; SWMR read also opens a file whose writer
    // is still running or was killed.
    explicit Reader(const std::string &path, unsigned flags = H5F_ACC_RDONLY | H5F_ACC_SWMR_READ)
        : file_(H5Fopen(path.c_str(), flags, H5P_DEFAULT), H5Fclose)
    {
    }
    bool opened() const { return file_.valid(); }

    // A root attribute.
    double number(const char *name) const
    {
        double v = -1e300;
        const Hid attr(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        if (!attr.valid() || H5Aread(attr.get(), H5T_NATIVE_DOUBLE, &v) < 0)
            ADD_FAILURE() << "no numeric attribute " << name;
        return v;
    }
    std::string text(const char *name) const
    {
        const Hid attr(H5Aopen(file_.get(), name, H5P_DEFAULT), H5Aclose);
        const Hid type(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(type.get(), H5T_VARIABLE);
        H5Tset_cset(type.get(), H5T_CSET_UTF8);
        char *value = nullptr;
        if (!attr.valid() || H5Aread(attr.get(), type.get(), &value) < 0 || !value) {
            ADD_FAILURE() << "no text attribute " << name;
            return {};
        }
        std::string out(value);
        H5free_memory(value);
        return out;
    }

    // Member `field` of every row of the table `dset`, as a user reads a
    // column; `n` values a row for an array member, one after another.
    template <typename T>
    std::vector<T> column(const char *dset, const char *field, hsize_t n = 1) const
    {
        const hid_t native = std::is_same_v<T, float> ? H5T_NATIVE_FLOAT
                             : sizeof(T) == 8         ? H5T_NATIVE_INT64
                             : sizeof(T) == 4         ? H5T_NATIVE_INT32
                                                      : H5T_NATIVE_INT16;
        const Hid d(H5Dopen2(file_.get(), dset, H5P_DEFAULT), H5Dclose);
        const Hid space(H5Dget_space(d.get()), H5Sclose);
        hsize_t rows = 0;
        H5Sget_simple_extent_dims(space.get(), &rows, nullptr);
        const Hid member(n > 1 ? H5Tarray_create2(native, 1, &n) : H5Tcopy(native), H5Tclose);
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(T) * n), H5Tclose);
        H5Tinsert(type.get(), field, 0, member.get());
        std::vector<T> out(rows * n);
        EXPECT_TRUE(d.valid() && (rows == 0 || H5Dread(d.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()) >= 0))
            << dset << "/" << field;
        return out;
    }
    std::vector<std::string> texts(const char *dset, const char *field, std::size_t bytes) const
    {
        const auto raw = column<int32_t>(dset, "run"); // every table has one; for the row count
        const Hid str(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(str.get(), bytes);
        H5Tset_cset(str.get(), H5T_CSET_UTF8);
        const Hid type(H5Tcreate(H5T_COMPOUND, bytes), H5Tclose);
        H5Tinsert(type.get(), field, 0, str.get());
        std::vector<char> buf(raw.size() * bytes);
        const Hid d(H5Dopen2(file_.get(), dset, H5P_DEFAULT), H5Dclose);
        if (!buf.empty())
            H5Dread(d.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, buf.data());
        std::vector<std::string> out;
        for (std::size_t i = 0; i < raw.size(); ++i)
            out.emplace_back(buf.data() + i * bytes);
        return out;
    }
    std::size_t runs() const { return column<int32_t>("runs", "run").size(); }
    int64_t runValue(int run, const char *field) const { return column<int64_t>("runs", field).at(std::size_t(run - 1)); }

    std::vector<BlockRow> rows() const
    {
        const auto run = column<int32_t>("blocks", "run"), slot = column<int32_t>("blocks", "slot");
        const auto index = column<int64_t>("blocks", "index"), time = column<int64_t>("blocks", "time_ns");
        const auto count = column<int64_t>("blocks", "block_count");
        std::vector<BlockRow> out;
        for (std::size_t i = 0; i < run.size(); ++i)
            out.push_back({run[i], index[i], time[i], slot[i], count[i]});
        return out;
    }

    std::vector<StoredEntry> summaries(int level) const
    {
        const std::string name = "summaries/level" + std::to_string(level);
        const auto c = static_cast<hsize_t>(number("channels"));
        const auto run = column<int32_t>(name.c_str(), "run");
        const auto start = column<int64_t>(name.c_str(), "start"), count = column<int64_t>(name.c_str(), "count");
        const auto min = column<int16_t>(name.c_str(), "min", c), max = column<int16_t>(name.c_str(), "max", c);
        const auto sum = column<int64_t>(name.c_str(), "sum", c), sumSq = column<int64_t>(name.c_str(), "sum_sq", c);
        std::vector<StoredEntry> out;
        for (std::size_t i = 0; i < run.size(); ++i) {
            const auto at = [&](const auto &v) { return std::vector(v.begin() + long(i * c), v.begin() + long((i + 1) * c)); };
            out.push_back({run[i], start[i], count[i], at(min), at(max), at(sum), at(sumSq)});
        }
        return out;
    }

    // Run `run` (from 1): its rows and the samples they point at.
    RunData read(int run) const
    {
        RunData d;
        const auto all = rows();
        for (const BlockRow &r : all)
            if (r.run == run)
                d.rows.push_back(r);
        // The whole of `samples`, then the run's part: as many scans as its rows point at.
        const Hid samples(H5Dopen2(file_.get(), "samples", H5P_DEFAULT), H5Dclose);
        const Hid space(H5Dget_space(samples.get()), H5Sclose);
        hsize_t dims[2] = {};
        EXPECT_EQ(H5Sget_simple_extent_dims(space.get(), dims, nullptr), 2);
        std::vector<int16_t> every(dims[0] * dims[1]);
        EXPECT_TRUE(every.empty() || H5Dread(samples.get(), H5T_NATIVE_INT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, every.data()) >= 0);
        const auto first = std::size_t(std::find_if(all.begin(), all.end(), [&](auto &r) { return r.run == run; }) - all.begin());
        const auto block = static_cast<std::size_t>(number("scans_per_block") * double(dims[1]));
        const auto from = std::min(every.size(), first * block);
        d.samples.assign(every.begin() + long(from), every.begin() + long(std::min(every.size(), from + d.rows.size() * block)));
        d.channels = dims[1];
        d.scans = dims[1] ? d.samples.size() / dims[1] : 0;
        return d;
    }

    hid_t id() const { return file_.get(); }

private:
    Hid file_;
};

// Every row's samples equal block `row.index` of testBlock; returns rows checked.
inline std::size_t expectBlocksMatch(const RunData &d, std::size_t blockSamples)
{
    EXPECT_GE(d.samples.size(), d.rows.size() * blockSamples);
    for (std::size_t r = 0; r < d.rows.size() && (r + 1) * blockSamples <= d.samples.size(); ++r) {
        const auto want = testBlock(d.rows[r].index, blockSamples);
        if (!std::equal(want.begin(), want.end(), d.samples.begin() + std::ptrdiff_t(r * blockSamples))) {
            ADD_FAILURE() << "row " << r << " (block " << d.rows[r].index << ") differs";
            return r;
        }
    }
    return d.rows.size();
}

// Rewrites a recording of the current format as format 3 wrote it: the same
// summary entries with the channels' means and population standard
// deviations as float32 in place of their integer sums.
inline void rewriteAsFormat3(const std::string &path)
{
    std::vector<std::vector<StoredEntry>> levels;
    hsize_t n = 0;
    {
        const Reader r(path, H5F_ACC_RDONLY);
        n = static_cast<hsize_t>(r.number("channels"));
        for (int l = 1; l <= format::kPyramid.levels; ++l)
            levels.push_back(r.summaries(l));
    }
    const Hid f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    const Hid i16(H5Tarray_create2(H5T_STD_I16LE, 1, &n), H5Tclose), f32(H5Tarray_create2(H5T_IEEE_F32LE, 1, &n), H5Tclose);
    const std::size_t bytes = 20 + 12 * n;
    const Hid row(H5Tcreate(H5T_COMPOUND, bytes), H5Tclose);
    H5Tinsert(row.get(), "run", 0, H5T_STD_I32LE);
    H5Tinsert(row.get(), "start", 4, H5T_STD_I64LE);
    H5Tinsert(row.get(), "count", 12, H5T_STD_I64LE);
    H5Tinsert(row.get(), "min", 20, i16.get());
    H5Tinsert(row.get(), "max", 20 + 2 * n, i16.get());
    H5Tinsert(row.get(), "mean", 20 + 4 * n, f32.get());
    H5Tinsert(row.get(), "std", 20 + 8 * n, f32.get());
    for (std::size_t l = 0; l < levels.size(); ++l) {
        std::vector<unsigned char> out(levels[l].size() * bytes);
        for (std::size_t i = 0; i < levels[l].size(); ++i) {
            const StoredEntry &e = levels[l][i];
            unsigned char *p = &out[i * bytes];
            std::memcpy(p, &e.run, 4);
            std::memcpy(p + 4, &e.start, 8);
            std::memcpy(p + 12, &e.count, 8);
            for (std::size_t k = 0; k < n; ++k) {
                const double c = double(e.count), mean = double(e.sum[k]) / c;
                const auto sd = float(std::sqrt(std::max(0.0, double(e.sumSq[k]) / c - mean * mean)));
                const auto m = float(mean);
                std::memcpy(p + 20 + 2 * k, &e.min[k], 2);
                std::memcpy(p + 20 + 2 * n + 2 * k, &e.max[k], 2);
                std::memcpy(p + 20 + 4 * n + 4 * k, &m, 4);
                std::memcpy(p + 20 + 8 * n + 4 * k, &sd, 4);
            }
        }
        const std::string name = format::levelPath(int(l) + 1);
        H5Ldelete(f.get(), name.c_str(), H5P_DEFAULT);
        const hsize_t dims = levels[l].size(), most = H5S_UNLIMITED, chunk = 64;
        const Hid space(H5Screate_simple(1, &dims, &most), H5Sclose);
        const Hid dcpl(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
        H5Pset_chunk(dcpl.get(), 1, &chunk);
        const Hid d(H5Dcreate2(f.get(), name.c_str(), row.get(), space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT),
                    H5Dclose);
        ASSERT_TRUE(d.valid()) << name;
        if (dims) {
            ASSERT_GE(H5Dwrite(d.get(), row.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()), 0);
        }
    }
    const Hid a(H5Aopen(f.get(), format::kFormatVersion, H5P_DEFAULT), H5Aclose);
    const int32_t three = 3;
    H5Awrite(a.get(), H5T_NATIVE_INT32, &three);
}

} // namespace adcard::testing
