// A recording that ends badly: the file size limit reached mid-way, and the
// writing process killed. Each runs in a forked child; the parent then opens
// the file as a user would and finds every block flushed before the end.
#include "acquisition/acquisition.h"
#include "driver/loader.h"
#include "simcard/block_generator.h"
#include "tests/recording/recording_support.h"
#include "tests/support/fake_view.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

namespace adcard::testing {
namespace {

using namespace std::chrono_literals;

// The run holds at least the `flushed` blocks, each whole and in order from
// the first.
void expectFlushedBlocksInOrder(const RunData &d, long long flushed)
{
    ASSERT_GE(static_cast<long long>(d.rows.size()), flushed);
    EXPECT_EQ(expectBlocksMatch(d, 4000), d.rows.size());
    for (std::size_t i = 0; i < d.rows.size(); ++i)
        EXPECT_EQ(d.rows[i].index, static_cast<int64_t>(i));
}

// Feeds one tick and waits until the writer has flushed it or failed.
bool tickAndWait(Recorder &rec, Feeder &f, std::string_view tick)
{
    f.tick(tick);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
        const RecorderStatus s = rec.status();
        if (s.state == RecorderState::Failed)
            return false;
        if (s.blocksWritten == f.fetched())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(RecordingFault, SizeLimitStopsTheRecordingAndKeepsWhatWasFlushed)
{
    const std::string path = scratchDir("rec-fsize") + "/a.h5";
    const Child child = spawn([&](int out) {
        // SIGXFSZ as the program gets it: the recorder must keep it from
        // ending the process.
        const rlimit limit{8 << 20, 8 << 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        Recorder rec;
        if (!rec.arm(path, false, {}).empty())
            return 11;
        Feeder f(rec);
        f.start();
        while (tickAndWait(rec, f, "bb"))
            ::dprintf(out, "flushed %lld\n", static_cast<long long>(rec.status().blocksWritten));
        const RecorderStatus failed = rec.status();
        if (failed.state != RecorderState::Failed)
            return 12;
        // The hook keeps returning and changes nothing.
        f.tick("bbbb");
        const RecorderStatus after = rec.status();
        if (after.state != RecorderState::Failed || after.blocksWritten != failed.blocksWritten)
            return 13;
        rec.stop();
        const auto error = rec.takeError();
        if (!error || *error != failed.lastError)
            return 14;
        ::dprintf(out, "error %s\n", error->c_str());
        return 0;
    });
    ASSERT_GT(child.pid, 0);
    long long flushed = -1;
    std::string error;
    for (std::string line; readLine(child.out, line);) {
        if (line.rfind("flushed ", 0) == 0)
            flushed = std::stoll(line.substr(8));
        else if (line.rfind("error ", 0) == 0)
            error = line.substr(6);
    }
    ::close(child.out);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_THAT(error, ::testing::HasSubstr("File too large"));
    EXPECT_THAT(error, ::testing::HasSubstr(path));
    ASSERT_GT(flushed, 4) << "the limit should have let some ticks through";

    // The recorder stopped before HDF5 needed room it could not get, so the
    // file was closed properly and opens without SWMR.
    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened());
    expectFlushedBlocksInOrder(r.read(1), flushed);
}

// The panel's recorder (a flush a second) on the card at 20 times its speed
// until a size limit stops it: every block whose samples reached the file
// gets its row, and the summaries cover those rows and nothing beyond.
TEST(RecordingFault, SizeLimitKeepsEveryBlockWhoseSamplesReachedTheFile)
{
    const std::string path = scratchDir("rec-fsize-card") + "/a.h5";
    const Child child = spawn([&](int) {
        const rlimit limit{4 << 20, 4 << 20};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        for (const auto &[k, v] : {std::pair{"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_SEQUENCE", "1"},
                                   {"ADCARD_SIM_SEED", "11"}, {"ADCARD_SIM_QUEUE", "4096"}})
            ::setenv(k, v, 1);
        DriverLoader loader(ADCARD_SIM_LIBRARY);
        DllDef dll(loader);
        FakeView view;
        Acquisition acq(dll, view);
        Recorder rec(Recorder::kDefaultQueueBlocks, 1s);
        acq.addBlockHook(rec);
        acq.onLoad();
        if (!rec.arm(path, false, {}).empty())
            return 11;
        acq.onStart();
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (rec.status().state != RecorderState::Failed && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(5ms);
            acq.onTick();
        }
        acq.onStop();
        rec.stop();
        acq.removeBlockHook(rec);
        return rec.status().state == RecorderState::Failed ? 0 : 12;
    });
    ASSERT_GT(child.pid, 0);
    ::close(child.out);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened()) << "closed properly";
    const RunData d = r.read(1);
    const Hid samples(H5Dopen2(r.id(), "samples", H5P_DEFAULT), H5Dclose);
    const Hid space(H5Dget_space(samples.get()), H5Sclose);
    hsize_t dims[2] = {};
    H5Sget_simple_extent_dims(space.get(), dims, nullptr);
    EXPECT_EQ(d.rows.size(), dims[0] / 1000) << "a row for every block in samples";
    EXPECT_GT(d.rows.size(), 100u) << "a 4 MiB file holds far more than the first flush";
    EXPECT_EQ(r.runValue(1, "rows"), int64_t(d.rows.size()));
    EXPECT_NE(r.runValue(1, "end_time_ns"), 0);
    sim::SimBlockParams p;
    p.seed = 11;
    p.stampSequence = true;
    std::vector<int16_t> want(4000);
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
        ASSERT_EQ(d.rows[i].index, int64_t(i));
        sim::generateBlock(p, uint64_t(i), want);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), d.samples.begin() + std::ptrdiff_t(i * 4000))) << i;
    }
    const int64_t scans = int64_t(d.rows.size()) * 1000;
    for (int level = 1; level <= format::kPyramid.levels; ++level) {
        const int64_t w = format::kPyramid.width(level);
        for (const StoredEntry &e : r.summaries(level))
            EXPECT_EQ(e.count, std::min(e.start + w, scans) - e.start)
                << "level " << level << " entry at " << e.start << " of " << scans << " scans";
    }
}

TEST(RecordingFault, KilledWriterLeavesEveryFlushedBlockReadable)
{
    const std::string path = scratchDir("rec-kill") + "/a.h5";
    const Child child = spawn([&](int out) {
        Recorder rec;
        if (!rec.arm(path, false, {}).empty())
            return 11;
        Feeder f(rec);
        f.start();
        while (tickAndWait(rec, f, "bbb")) {
            ::dprintf(out, "%lld\n", static_cast<long long>(rec.status().blocksWritten));
            std::this_thread::sleep_for(2ms);
        }
        return 12;
    });
    ASSERT_GT(child.pid, 0);
    long long flushed = 0;
    std::string line;
    while (flushed < 45 && readLine(child.out, line))
        flushed = std::stoll(line);
    ::kill(child.pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended early with " << WEXITSTATUS(status);
    // Whatever it reported before it died is in the file too.
    while (readLine(child.out, line))
        flushed = std::stoll(line);
    ::close(child.out);
    ASSERT_GE(flushed, 45);

    Reader r(path);
    ASSERT_TRUE(r.opened()) << "a killed SWMR writer's file opens for SWMR reading";
    expectFlushedBlocksInOrder(r.read(1), flushed);
}

TEST(RecordingReader, AReaderWatchingTheFileDoesNotStopTheNextRun)
{
    const std::string path = scratchDir("rec-watched") + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    ASSERT_TRUE(tickAndWait(rec, f, "bb"));
    // Another program opens the file as a live reader and keeps it open.
    const Child reader = spawn([&](int out) {
        ::dup2(out, STDOUT_FILENO);
        ::execl(ADPANEL_SWMR_READER, ADPANEL_SWMR_READER, path.c_str(), static_cast<char *>(nullptr));
        return 127;
    });
    ASSERT_GT(reader.pid, 0);
    std::string line;
    readLine(reader.out, line);
    EXPECT_EQ(line, "open");
    f.start();
    f.tick("b");
    rec.stop();
    ::kill(reader.pid, SIGKILL);
    ::waitpid(reader.pid, nullptr, 0);
    ::close(reader.out);
    EXPECT_STREQ(stateName(rec.status().state), "idle") << rec.status().lastError;
    EXPECT_EQ(Reader(path).read(2).rows.size(), 1u);
}

// Another program watching the file as a live reader across Stop and Start:
// whenever it looks, rows and summaries never run ahead of the samples, and
// it sees the second run without opening the file again.
TEST(RecordingReader, ALiveReaderNeverSeesRowsOrSummariesAheadOfTheSamples)
{
    const std::string path = scratchDir("rec-live") + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    AcqSettings s = panelSettings();
    s.ScansPerBlock = 100; // level-1 chunks fill every 656 blocks
    Feeder f(rec, s);
    f.start();
    ASSERT_TRUE(tickAndWait(rec, f, "b"));
    const Child reader = spawn([&](int out) {
        ::dup2(out, STDOUT_FILENO);
        ::execl(ADPANEL_SWMR_READER, ADPANEL_SWMR_READER, path.c_str(), "2", static_cast<char *>(nullptr));
        return 127;
    });
    ASSERT_GT(reader.pid, 0);
    for (int run = 0; run < 2; ++run) {
        if (run > 0)
            f.start();
        for (int i = 0; i < 300; ++i) {
            f.tick(i % 7 == 3 ? "bmb" : "bbbb");
            std::this_thread::sleep_for(1ms); // ticks come apart, so that Start and Stop get in
        }
        rec.acquisitionStopped(StopReason::Stop);
    }
    if (rec.status().state == RecorderState::Failed)
        ::kill(reader.pid, SIGKILL);
    EXPECT_NE(rec.status().state, RecorderState::Failed) << rec.status().lastError;
    std::string line;
    readLine(reader.out, line);
    ::close(reader.out);
    int status = 0;
    ::waitpid(reader.pid, &status, 0);
    rec.stop();
    long long looks = 0, runs = 0, rows = 0, bad = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "looks %lld runs %lld rows %lld bad %lld", &looks, &runs, &rows, &bad), 4)
        << line;
    EXPECT_EQ(bad, 0) << "something ran ahead of the samples";
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(rows, rec.status().blocksWritten);
    EXPECT_GT(looks, 1);
}

// A real file system that fills: the recording stops with the system's
// reason, and the file holds every block flushed before, whole and in order.
TEST(RecordingFault, AFullDiskStopsTheRecordingAndKeepsWhatWasFlushed)
{
    const std::string dir = scratchDir("rec-full") + "/mnt";
    std::filesystem::create_directories(dir);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=5m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    const std::string path = dir + "/a.h5";
    long long flushed = 0;
    std::string error;
    {
        Recorder rec;
        ASSERT_EQ(rec.arm(path, false, {}), "");
        Feeder f(rec);
        f.start();
        while (tickAndWait(rec, f, "bb"))
            flushed = rec.status().blocksWritten;
        rec.stop();
        error = rec.status().lastError;
    }
    RunData d;
    {
        Reader r(path, H5F_ACC_RDONLY);
        EXPECT_TRUE(r.opened()) << "closed properly";
        d = r.read(1);
    }
    ::umount2(dir.c_str(), MNT_DETACH);
    EXPECT_THAT(error, ::testing::HasSubstr("No space left on device"));
    EXPECT_GT(flushed, 100) << "a 5 MiB disk holds more than a few blocks";
    expectFlushedBlocksInOrder(d, flushed);
}

} // namespace
} // namespace adcard::testing
