// A recording that ends badly: the file size limit reached mid-way, and the
// writing process killed. Each runs in a forked child; the parent then opens
// the file as a user would and finds every block flushed before the end.
#include "tests/recording/recording_support.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
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

} // namespace
} // namespace adcard::testing
