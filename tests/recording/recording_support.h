#pragma once
// Reads a recording back through the HDF5 C API, opened as a user would while
// a writer may still hold it, and drives a Recorder's hook as the acquisition
// would.
#include "recording/recorder.h"
#include "recording/recording_file.h"

#include <hdf5.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    hsize_t scans = 0;
    hsize_t channels = 0;
    std::vector<int16_t> samples;
    std::vector<BlockRow> rows;
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

    std::vector<std::string> runs() const
    {
        std::vector<std::string> names;
        H5Literate(file_.get(), H5_INDEX_NAME, H5_ITER_INC, nullptr,
                    [](hid_t, const char *name, const H5L_info_t *, void *out) -> herr_t {
                        static_cast<std::vector<std::string> *>(out)->emplace_back(name);
                        return 0;
                    },
                    &names);
        return names;
    }

    double number(const std::string &run, const char *name) const
    {
        double v = -1e300;
        const Hid attr(H5Aopen_by_name(file_.get(), run.c_str(), name, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        if (!attr.valid() || H5Aread(attr.get(), H5T_NATIVE_DOUBLE, &v) < 0)
            ADD_FAILURE() << "no numeric attribute " << run << "/" << name;
        return v;
    }
    std::string text(const std::string &run, const char *name) const
    {
        const Hid attr(H5Aopen_by_name(file_.get(), run.c_str(), name, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        const Hid type(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(type.get(), H5T_VARIABLE);
        H5Tset_cset(type.get(), H5T_CSET_UTF8);
        char *value = nullptr;
        if (!attr.valid() || H5Aread(attr.get(), type.get(), &value) < 0 || !value) {
            ADD_FAILURE() << "no text attribute " << run << "/" << name;
            return {};
        }
        std::string out(value);
        H5free_memory(value);
        return out;
    }

    RunData read(const std::string &run) const
    {
        RunData d;
        const Hid samples(H5Dopen2(file_.get(), (run + "/samples").c_str(), H5P_DEFAULT), H5Dclose);
        const Hid rows(H5Dopen2(file_.get(), (run + "/blocks").c_str(), H5P_DEFAULT), H5Dclose);
        if (!samples.valid() || !rows.valid()) {
            ADD_FAILURE() << run << " lacks samples or blocks";
            return d;
        }
        hsize_t dims[2] = {};
        const Hid space(H5Dget_space(samples.get()), H5Sclose);
        EXPECT_EQ(H5Sget_simple_extent_ndims(space.get()), 2);
        H5Sget_simple_extent_dims(space.get(), dims, nullptr);
        d.scans = dims[0];
        d.channels = dims[1];
        d.samples.resize(dims[0] * dims[1]);
        if (!d.samples.empty()) {
            EXPECT_GE(H5Dread(samples.get(), H5T_NATIVE_INT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.samples.data()), 0);
        }

        const Hid rowSpace(H5Dget_space(rows.get()), H5Sclose);
        hsize_t n = 0;
        H5Sget_simple_extent_dims(rowSpace.get(), &n, nullptr);
        d.rows.resize(n);
        const Hid type(H5Tcreate(H5T_COMPOUND, sizeof(BlockRow)), H5Tclose);
        H5Tinsert(type.get(), "index", offsetof(BlockRow, index), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "time_ns", offsetof(BlockRow, timeNs), H5T_NATIVE_INT64);
        H5Tinsert(type.get(), "slot", offsetof(BlockRow, slot), H5T_NATIVE_INT32);
        H5Tinsert(type.get(), "block_count", offsetof(BlockRow, blockCount), H5T_NATIVE_INT16);
        if (n > 0) {
            EXPECT_GE(H5Dread(rows.get(), type.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, d.rows.data()), 0);
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
