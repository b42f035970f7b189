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
            slot_ = (slot_ + 1) % s_.RingBlocks;
            ++stored;
        }
        blockCount_ = static_cast<int16_t>(blockCount_ + fetches.size());
        rec_.tickEnded({static_cast<int16_t>(fetches.size()), blockCount_, slot_ * int32_t(samples()), stored});
    }
    std::size_t samples() const { return std::size_t(s_.ChannelCount) * std::size_t(s_.ScansPerBlock); }
    int64_t fetched() const { return fetched_; }

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
    std::vector<float> mean, std;
};

class Reader {
public:
    // `flags` as a user passes them; SWMR read also opens a file whose writer
    // is still running or was killed.
    explicit Reader(const std::string &path, unsigned flags = H5F_ACC_RDONLY | H5F_ACC_SWMR_READ)
    {
        // HDF5 shares one open file within a process and refuses a second
        // open whose locking setting differs from the recorder's (which holds
        // its locks itself); readers in other processes lock as they please.
        const Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
        H5Pset_file_locking(fapl.get(), false, true);
        file_ = Hid(H5Fopen(path.c_str(), flags, fapl.get()), H5Fclose);
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

    template <typename Row>
    std::vector<Row> table(const char *name, hid_t memType) const
    {
        const Hid dset(H5Dopen2(file_.get(), name, H5P_DEFAULT), H5Dclose);
        std::vector<Row> out;
        if (!dset.valid())
            return out;
        const Hid space(H5Dget_space(dset.get()), H5Sclose);
        hsize_t n = 0;
        H5Sget_simple_extent_dims(space.get(), &n, nullptr);
        out.resize(n);
        if (n > 0) {
            EXPECT_GE(H5Dread(dset.get(), memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data()), 0) << name;
        }
        return out;
    }

    std::vector<RunRow> runs() const
    {
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(RunRow)), H5Tclose);
        const hsize_t levels[1] = {SummaryBuilder::kLevels};
        const Hid first(H5Tarray_create2(H5T_NATIVE_INT64, 1, levels), H5Tclose);
        const Hid text(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(text.get(), kStartTimeBytes);
        H5Tset_cset(text.get(), H5T_CSET_UTF8);
        H5Tinsert(type.get(), "run", offsetof(RunRow, run), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "start_time_ns", offsetof(RunRow, startTimeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "start_time", offsetof(RunRow, startTime), text.get());
        H5Tinsert(type.get(), "first_row", offsetof(RunRow, firstRow), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "rows", offsetof(RunRow, rows), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "missed", offsetof(RunRow, missed), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "dropped", offsetof(RunRow, dropped), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "end_time_ns", offsetof(RunRow, endTimeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "summary_first", offsetof(RunRow, summaryFirst), first.get());
        return table<RunRow>("runs", type.get());
    }

    std::vector<BlockRow> rows() const
    {
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(BlockRow)), H5Tclose);
        H5Tinsert(type.get(), "run", offsetof(BlockRow, run), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "index", offsetof(BlockRow, index), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "time_ns", offsetof(BlockRow, timeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "slot", offsetof(BlockRow, slot), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "block_count", offsetof(BlockRow, blockCount), H5T_NATIVE_INT64);
        return table<BlockRow>("blocks", type.get());
    }

    std::vector<MarkerRow> markers() const
    {
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(MarkerRow)), H5Tclose);
        const Hid text(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(text.get(), kMarkerTextBytes);
        H5Tset_cset(text.get(), H5T_CSET_UTF8);
        H5Tinsert(type.get(), "run", offsetof(MarkerRow, run), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "scan", offsetof(MarkerRow, scan), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "time_ns", offsetof(MarkerRow, timeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "text", offsetof(MarkerRow, text), text.get());
        return table<MarkerRow>("markers", type.get());
    }

    std::vector<DigitalRow> digital() const
    {
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(DigitalRow)), H5Tclose);
        H5Tinsert(type.get(), "run", offsetof(DigitalRow, run), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "scan", offsetof(DigitalRow, scan), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "time_ns", offsetof(DigitalRow, timeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "port0", offsetof(DigitalRow, port0), H5T_NATIVE_INT16);
        H5Tinsert(type.get(), "port1", offsetof(DigitalRow, port1), H5T_NATIVE_INT16);
        return table<DigitalRow>("digital", type.get());
    }

    std::vector<StoredEntry> summaries(int level) const
    {
        const auto c = static_cast<std::size_t>(number("channels"));
        struct Raw {
            int32_t run;
            int64_t start, count;
            int16_t min[16], max[16];
            float mean[16], std[16];
        };
        const hsize_t dims[1] = {c};
        const Hid i16(H5Tarray_create2(H5T_NATIVE_INT16, 1, dims), H5Tclose);
        const Hid f32(H5Tarray_create2(H5T_NATIVE_FLOAT, 1, dims), H5Tclose);
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(Raw)), H5Tclose);
        H5Tinsert(type.get(), "run", offsetof(Raw, run), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "start", offsetof(Raw, start), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "count", offsetof(Raw, count), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "min", offsetof(Raw, min), i16.get());
        H5Tinsert(type.get(), "max", offsetof(Raw, max), i16.get());
        H5Tinsert(type.get(), "mean", offsetof(Raw, mean), f32.get());
        H5Tinsert(type.get(), "std", offsetof(Raw, std), f32.get());
        std::vector<StoredEntry> out;
        for (const Raw &r : table<Raw>(("summaries/level" + std::to_string(level)).c_str(), type.get()))
            out.push_back({r.run, r.start, r.count, {r.min, r.min + c}, {r.max, r.max + c}, {r.mean, r.mean + c},
                           {r.std, r.std + c}});
        return out;
    }

    // Run `run` (from 1): its rows and the samples they point at.
    RunData read(int run) const
    {
        RunData d;
        const auto all = rows();
        std::size_t first = all.size();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].run == run) {
                first = std::min(first, i);
                d.rows.push_back(all[i]);
            }
        }
        const Hid samples(H5Dopen2(file_.get(), "samples", H5P_DEFAULT), H5Dclose);
        if (!samples.valid()) {
            ADD_FAILURE() << "no samples";
            return d;
        }
        hsize_t dims[2] = {};
        const Hid space(H5Dget_space(samples.get()), H5Sclose);
        EXPECT_EQ(H5Sget_simple_extent_ndims(space.get()), 2);
        H5Sget_simple_extent_dims(space.get(), dims, nullptr);
        d.channels = dims[1];
        const auto s = static_cast<hsize_t>(number("scans_per_block"));
        const hsize_t from = first * s;
        d.scans = std::min<hsize_t>(d.rows.size() * s, dims[0] > from ? dims[0] - from : 0);
        d.samples.resize(d.scans * d.channels);
        if (d.scans > 0) {
            const hsize_t start[2] = {from, 0};
            const hsize_t count[2] = {d.scans, d.channels};
            H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr);
            const Hid mem(H5Screate_simple(2, count, nullptr), H5Sclose);
            EXPECT_GE(H5Dread(samples.get(), H5T_NATIVE_INT16, mem.get(), space.get(), H5P_DEFAULT, d.samples.data()),
                      0);
        }
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

} // namespace adcard::testing
