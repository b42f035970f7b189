// The recorder driven through its hook as the acquisition drives it, the file
// read back through the HDF5 C API.
#include "tests/recording/recording_support.h"
#include "tests/support/row_name.h"
#include "recording/recording_writer.h"
#include "platform/local_time.h"
#include "recording/timestamp.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <thread>

namespace adcard::testing {
namespace {

using ::PrintTo; // rows print as their names

using ::testing::HasSubstr;

std::vector<int64_t> indices(const RunData &d)
{
    std::vector<int64_t> out;
    for (const BlockRow &r : d.rows)
        out.push_back(r.index);
    return out;
}

TEST(Recorder, EveryBlockIsStoredAsDeliveredWithItsRow)
{
    const std::string path = scratchDir("rec-content") + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {"/opt/lib/libadcard.so", "1.2.3"}), "");
    EXPECT_EQ(rec.status().state, RecorderState::Armed);
    Feeder f(rec);
    const int64_t before = wallClockNs();
    f.start();
    EXPECT_EQ(rec.status().state, RecorderState::Recording);
    f.tick("bb");
    f.tick("bbb");
    f.tick("b");
    const int64_t after = wallClockNs();
    rec.stop();

    const RecorderStatus st = rec.status();
    EXPECT_EQ(st.state, RecorderState::Idle);
    EXPECT_EQ(st.blocksWritten, 6);
    EXPECT_EQ(st.blocksDropped, 0);
    EXPECT_EQ(st.fileSize, static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(st.file, path);

    // A cleanly closed file opens without SWMR too.
    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened());
    ASSERT_EQ(r.runs(), 1u);
    const RunData d = r.read(1);
    EXPECT_EQ(d.scans, 6u * 1000);
    EXPECT_EQ(d.channels, 4u);
    EXPECT_EQ(expectBlocksMatch(d, f.samples()), 6u);
    ASSERT_EQ(d.rows.size(), 6u);
    const int16_t counts[] = {2, 2, 5, 5, 5, 6};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(d.rows[i].index, int64_t(i));
        EXPECT_EQ(d.rows[i].slot, int32_t(i));
        EXPECT_EQ(d.rows[i].blockCount, counts[i]) << i;
        EXPECT_GE(d.rows[i].timeNs, before);
        EXPECT_LE(d.rows[i].timeNs, after);
    }
    EXPECT_EQ(d.rows[0].timeNs, d.rows[1].timeNs) << "one time per tick";
    EXPECT_LT(d.rows[1].timeNs, d.rows[2].timeNs);
}

TEST(Recorder, FileDescribesTheRecording)
{
    const std::string path = scratchDir("rec-attrs") + "/a.h5";
    {
        Recorder rec;
        ASSERT_EQ(rec.arm(path, false, {"/opt/lib/libadcard.so", "1.2.3"}), "");
        AcqSettings s{.IntrArg1 = 11, .ScansPerBlock = 250, .IntrArg3 = -3, .ChannelCount = 6,
                      .IntrArg5 = 70000, .IntrArg6 = -9, .IntrArg7 = 2, .RingBlocks = 20};
        Feeder f(rec, s);
        f.start();
        f.tick("b");
    }
    Reader r(path);
    const std::pair<const char *, double> numbers[] = {
        {"IntrArg1", 11},      {"ScansPerBlock", 250},   {"IntrArg3", -3},           {"ChannelCount", 6},
        {"IntrArg5", 70000},   {"IntrArg6", -9},         {"IntrArg7", 2},            {"channels", 6},
        {"scans_per_block", 250}, {"volts_offset", 2048}, {"volts_scale", 10.0 / 4095}, {"format_version", 4},
        {"summary_base", 256}, {"summary_factor", 8},    {"summary_levels", 8},
    };
    for (const auto &[name, value] : numbers)
        EXPECT_EQ(r.number(name), value) << name;
    EXPECT_EQ(r.text("volts_unit"), "V");
    EXPECT_EQ(r.text("driver_library"), "/opt/lib/libadcard.so");
    EXPECT_EQ(r.text("program_version"), "1.2.3");
    ASSERT_EQ(r.runs(), 1u);
    EXPECT_THAT(r.texts("runs", "start_time", 40).at(0),
                ::testing::MatchesRegex(R"(20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-9:]{8}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2})"));
    EXPECT_GT(r.runValue(1, "end_time_ns"), r.runValue(1, "start_time_ns"));
    EXPECT_EQ(r.runValue(1, "rows"), 1);

    // Stored as little-endian int16, extendible, one block per chunk.
    const Hid dset(H5Dopen2(r.id(), "samples", H5P_DEFAULT), H5Dclose);
    const Hid type(H5Dget_type(dset.get()), H5Tclose);
    EXPECT_GT(H5Tequal(type.get(), H5T_STD_I16LE), 0);
    const Hid dcpl(H5Dget_create_plist(dset.get()), H5Pclose);
    hsize_t chunk[2] = {};
    ASSERT_EQ(H5Pget_chunk(dcpl.get(), 2, chunk), 2);
    EXPECT_EQ(chunk[0], 250u);
    EXPECT_EQ(chunk[1], 6u);
    const Hid space(H5Dget_space(dset.get()), H5Sclose);
    hsize_t maxDims[2] = {};
    H5Sget_simple_extent_dims(space.get(), nullptr, maxDims);
    EXPECT_EQ(maxDims[0], H5S_UNLIMITED);
}

struct GapRow {
    const char *name;
    std::vector<std::string> ticks;
    std::vector<int64_t> recorded;
    int64_t missed;
};

class RecorderGaps : public ::testing::TestWithParam<GapRow> {};

TEST_P(RecorderGaps, MissedFetchesLeaveHolesAndAreCounted)
{
    const GapRow &row = GetParam();
    const std::string path = scratchDir(std::string("rec-gap-") + row.name) + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    for (const auto &t : row.ticks)
        f.tick(t);
    rec.stop();
    Reader r(path);
    const RunData d = r.read(1);
    EXPECT_EQ(indices(d), row.recorded);
    EXPECT_EQ(d.scans, row.recorded.size() * 1000);
    EXPECT_EQ(expectBlocksMatch(d, f.samples()), row.recorded.size());
    EXPECT_EQ(r.runValue(1, "missed"), row.missed);
}

INSTANTIATE_TEST_SUITE_P(Rows, RecorderGaps,
                         ::testing::Values(GapRow{"none", {"bb", "b"}, {0, 1, 2}, 0},
                                           GapRow{"middle", {"bmb", "mm", "b"}, {0, 2, 5}, 3},
                                           GapRow{"first", {"mb"}, {1}, 1},
                                           GapRow{"whole_tick", {"b", "mmm", "bb"}, {0, 4, 5}, 3}),
                         kRowName);

TEST(Recorder, EachStartBeginsARunAndOnlyStartedRunsAreRecorded)
{
    const std::string path = scratchDir("rec-runs") + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.tick("bb"); // armed while running: waits for the next Start
    f.start();
    f.tick("bb");
    rec.acquisitionStopped(StopReason::Stop);
    f.tick("b"); // nothing runs after Stop
    f.start();
    f.tick("bbm");
    rec.historyStarted(panelSettings()); // a Start that fails at StartIntr
    f.tick("b");
    f.start(); // a Start while recording
    f.tick("b");
    // The file's shape is the first run's: another one stops the recording.
    AcqSettings small{.IntrArg1 = 1, .ScansPerBlock = 10, .ChannelCount = 2, .IntrArg5 = 100, .RingBlocks = 20};
    Feeder g(rec, small);
    g.start();
    g.tick("b");
    rec.stop();
    EXPECT_EQ(rec.status().state, RecorderState::Failed);
    EXPECT_THAT(rec.status().lastError, HasSubstr("does not fit the file's 1000 scans of 4"));

    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened()) << "closed properly after the refusal";
    ASSERT_EQ(r.runs(), 3u);
    EXPECT_EQ(r.column<int64_t>("runs", "first_row"), (std::vector<int64_t>{0, 2, 4}));
    EXPECT_THAT(r.column<int64_t>("runs", "end_time_ns"), ::testing::Each(::testing::Gt(0))) << "every run ended";
    EXPECT_EQ(r.runValue(2, "missed"), 1);
    EXPECT_EQ(indices(r.read(1)), (std::vector<int64_t>{0, 1}));
    EXPECT_EQ(indices(r.read(2)), (std::vector<int64_t>{0, 1}));
    EXPECT_EQ(indices(r.read(3)), (std::vector<int64_t>{0}));
    EXPECT_EQ(expectBlocksMatch(r.read(2), f.samples()), 2u);
    EXPECT_EQ(rec.status().blocksWritten, 5);
}

// Waits, as the program does, for a file that closes without anyone waiting.
bool closedSoon(Recorder &rec)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds{20};
    while (rec.status().state == RecorderState::Closing && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    return rec.status().state == RecorderState::Idle;
}

struct CloseRow {
    const char *name;
    void (*end)(std::unique_ptr<Recorder> &);
};

class RecorderCloses : public ::testing::TestWithParam<CloseRow> {};

TEST_P(RecorderCloses, FileIsClosedCleanlyWithEveryQueuedBlock)
{
    const std::string path = scratchDir(std::string("rec-close-") + GetParam().name) + "/a.h5";
    auto rec = std::make_unique<Recorder>();
    ASSERT_EQ(rec->arm(path, false, {}), "");
    Feeder f(*rec);
    f.start();
    for (int i = 0; i < 20; ++i)
        f.tick("bb");
    GetParam().end(rec);
    // Without SWMR: an open or crashed writer would make this fail.
    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened());
    EXPECT_EQ(r.read(1).rows.size(), 40u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecorderCloses,
    ::testing::Values(CloseRow{"stop", [](std::unique_ptr<Recorder> &r) { r->stop(); }},
                      CloseRow{"unload",
                               [](std::unique_ptr<Recorder> &r) {
                                   r->acquisitionStopped(StopReason::Unload);
                                   EXPECT_TRUE(closedSoon(*r));
                               }},
                      CloseRow{"begin_stop",
                               [](std::unique_ptr<Recorder> &r) {
                                   r->beginStop();
                                   EXPECT_TRUE(closedSoon(*r));
                               }},
                      CloseRow{"destructor", [](std::unique_ptr<Recorder> &r) { r.reset(); }}),
    kRowName);

// The writer gathers samples up to a limit before writing them: blocks that
// cross it, and blocks larger than it, must still land whole and in order.
struct GatherRow {
    const char *name;
    int32_t scansPerBlock;
    std::string_view tick; // each of three ticks
};

class RecorderGathers : public ::testing::TestWithParam<GatherRow> {};

TEST_P(RecorderGathers, EveryBlockLandsWholeAndInOrder)
{
    const std::string path = scratchDir(std::string("rec-gather-") + GetParam().name) + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    AcqSettings s = panelSettings();
    s.ScansPerBlock = GetParam().scansPerBlock;
    Feeder f(rec, s);
    f.start();
    for (int i = 0; i < 3; ++i)
        f.tick(GetParam().tick);
    rec.stop();
    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(r.opened());
    const RunData d = r.read(1);
    EXPECT_EQ(static_cast<int64_t>(d.rows.size()) + rec.status().blocksDropped, 3 * std::ssize(GetParam().tick));
    EXPECT_GT(d.rows.size(), 0u);
    EXPECT_EQ(expectBlocksMatch(d, f.samples()), d.rows.size());
    EXPECT_EQ(d.samples.size(), d.rows.size() * f.samples()) << "samples without a row";
}

INSTANTIATE_TEST_SUITE_P(Rows, RecorderGathers,
                         ::testing::Values(GatherRow{"many_small_blocks", 1000, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
                                           GatherRow{"blocks_over_the_limit", 40000, "bb"}),
                         kRowName);

struct ArmRow {
    const char *name;
    std::string (*prepare)(const std::string &dir); // the path to arm
    bool overwrite;
    const char *reason;
};

class RecorderArm : public ::testing::TestWithParam<ArmRow> {};

TEST_P(RecorderArm, UnwritablePathsAreRefusedWithTheReason)
{
    const ArmRow &row = GetParam();
    const std::string dir = scratchDir(std::string("rec-arm-") + row.name);
    const std::string path = row.prepare(dir);
    std::string error;
    if (std::string(row.name) == "read_only_directory" && ::geteuid() == 0) {
        // Root ignores permission bits: ask as an ordinary user.
        const Child child = spawn([&](int out) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 20;
            Recorder rec;
            ::dprintf(out, "%s\n", rec.arm(path, row.overwrite, {}).c_str());
            return 0;
        });
        ASSERT_GT(child.pid, 0);
        readLine(child.out, error);
        ::close(child.out);
        int status = 0;
        ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        Recorder rec;
        error = rec.arm(path, row.overwrite, {});
        EXPECT_EQ(rec.status().state, RecorderState::Idle);
        EXPECT_EQ(rec.status().lastError, error);
        EXPECT_EQ(rec.takeError(), error);
        EXPECT_EQ(rec.takeError(), std::nullopt) << "reported once";
    }
    ::chmod(dir.c_str(), 0700);
    EXPECT_THAT(error, HasSubstr(path));
    EXPECT_THAT(error, HasSubstr(row.reason));
    if (std::string(row.name) == "exists") {
        std::ifstream in(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep") << "an existing file is left alone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecorderArm,
    ::testing::Values(
        ArmRow{"no_directory", [](const std::string &d) { return d + "/missing/a.h5"; }, true,
               "No such file or directory"},
        ArmRow{"read_only_directory",
               [](const std::string &d) {
                   ::chmod(d.c_str(), 0555);
                   return d + "/a.h5";
               },
               true, "Permission denied"},
        ArmRow{"is_a_directory", [](const std::string &d) { return d; }, true, "Is a directory"},
        ArmRow{"exists",
               [](const std::string &d) {
                   std::ofstream(d + "/a.h5") << "keep";
                   return d + "/a.h5";
               },
               false, "already exists"}),
    kRowName);

struct OverwriteRow {
    const char *name;
    bool started; // a Start succeeded while armed
};

class RecorderOverwrite : public ::testing::TestWithParam<OverwriteRow> {};

// The old file is replaced only once a run has begun in the new one; till
// then it stays, locked against other panels, and the new one leaves nothing.
TEST_P(RecorderOverwrite, ReplacesAnExistingFileOnlyOnceARunBegins)
{
    const std::string dir = scratchDir(std::string("rec-overwrite-") + GetParam().name);
    const std::string path = dir + "/a.h5";
    std::ofstream(path) << "old contents";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, true, {}), "");
    EXPECT_THAT(rec.arm(path, true, {}), HasSubstr("already recording"));
    EXPECT_THAT(Recorder().arm(path, true, {}), HasSubstr("is being recorded by another panel"));
    EXPECT_EQ(rec.status().state, RecorderState::Armed);
    Feeder f(rec);
    if (GetParam().started) {
        f.start();
        f.tick("b");
    }
    rec.stop();
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}) == "old contents", !GetParam().started);
    EXPECT_EQ(Reader(path, H5F_ACC_RDONLY).opened(), GetParam().started);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(Rows, RecorderOverwrite,
                         ::testing::Values(OverwriteRow{"never_started", false}, OverwriteRow{"started", true}),
                         kRowName);

TEST(Recorder, FullQueueDropsBlocksAndCountsThem)
{
    const std::string path = scratchDir("rec-drops") + "/a.h5";
    constexpr int kBlocks = 2000;
    Recorder rec(8);
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    // One tick far larger than the queue, faster than any disk.
    f.tick(std::string(kBlocks, 'b'));
    const int64_t dropped = rec.status().blocksDropped;
    EXPECT_GT(dropped, 0);
    rec.stop();
    const RecorderStatus st = rec.status();
    EXPECT_EQ(st.blocksDropped, dropped);
    EXPECT_EQ(st.blocksWritten + st.blocksDropped, kBlocks);
    Reader r(path);
    const RunData d = r.read(1);
    EXPECT_EQ(int64_t(d.rows.size()), st.blocksWritten);
    EXPECT_TRUE(std::is_sorted(d.rows.begin(), d.rows.end(),
                               [](const BlockRow &a, const BlockRow &b) { return a.index <= b.index; }));
    EXPECT_EQ(expectBlocksMatch(d, f.samples()), d.rows.size());
    EXPECT_EQ(r.runValue(1, "dropped"), dropped);
}

// A moment as local time with its offset in a zone (POSIX TZ strings, so
// that no zone database is needed), and the text read back to the moment,
// cut to the digits printed.
struct TimeRow {
    const char *name;
    const char *tz;
    int64_t ns;
    int decimals;
    bool utc;
    const char *text;
};

class LocalTimeText : public ::testing::TestWithParam<TimeRow> {};

TEST_P(LocalTimeText, CarriesTheOffsetAndReadsBack)
{
    const TimeRow &r = GetParam();
    const std::string was = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", r.tz, 1);
    ::tzset();
    EXPECT_EQ(formatLocalTime(r.ns, r.decimals, r.utc), r.text);
    int64_t unit = 1;
    for (int i = r.decimals; i < 9; ++i)
        unit *= 10;
    const int64_t cut = r.ns - ((r.ns % unit) + unit) % unit;
    EXPECT_EQ(parseLocalTime(r.text), cut);
    // Without its offset, the text is local time (or UTC when asked).
    const std::string bare = std::string(r.text).substr(0, std::strlen(r.text) - 6);
    EXPECT_EQ(parseLocalTime(bare, r.utc), cut) << bare;
    was.empty() ? ::unsetenv("TZ") : ::setenv("TZ", was.c_str(), 1);
    ::tzset();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LocalTimeText,
    ::testing::Values(TimeRow{"utc", "UTC0", 1714572187250000000, 3, false, "2024-05-01T14:03:07.250+00:00"},
                      TimeRow{"east", "CST-8", 1735660799999000000, 3, false, "2024-12-31T23:59:59.999+08:00"},
                      TimeRow{"west_half_hour", "NST+3:30", 1735788600005000000, 3, false,
                              "2025-01-02T00:00:00.005-03:30"},
                      TimeRow{"asked_utc_in_the_east", "CST-8", 1735660799999000000, 0, true,
                              "2024-12-31T15:59:59+00:00"},
                      TimeRow{"nanoseconds_cut_not_rounded", "UTC0", 1796644800999999999, 9, false,
                              "2026-12-07T12:00:00.999999999+00:00"},
                      TimeRow{"milliseconds_cut_not_rounded", "CST-8", 1796644800999999999, 3, false,
                              "2026-12-07T20:00:00.999+08:00"},
                      TimeRow{"before_1970", "UTC0", -1, 3, true, "1969-12-31T23:59:59.999+00:00"}),
    kRowName);

// What is not a time: trailing text, a malformed offset, a day the month
// does not have.
TEST(LocalTimeText, RefusesWhatIsNotATime)
{
    for (const char *text : {"2026-12-07T12:00:00Zx", "2026-12-07T12:00:00 garbage", "2026-12-07T12:00:00+1:00",
                             "2026-12-07T12:00:00+01:0", "2026-12-07T12:00:00+24:00", "2026-02-30T12:00:00Z",
                             "2026-12-07T12:00:00.Z", "2026-12-07", "12:00:00"})
        EXPECT_FALSE(parseLocalTime(text, true)) << text;
}

// Flushes wait for the interval, except a run's first tick, which goes at
// once; a Stop brings the pending one at once too: no tick follows it to do so.
TEST(Recorder, StopFlushesWhatTheIntervalHeldBack)
{
    const std::string path = scratchDir("rec-interval") + "/a.h5";
    Recorder rec(Recorder::kDefaultQueueBlocks, std::chrono::hours{1});
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    f.tick("bb");
    f.tick("b");
    std::this_thread::sleep_for(std::chrono::milliseconds{100});
    EXPECT_EQ(rec.status().blocksWritten, 2) << "the first tick at once, the second held back";
    rec.acquisitionStopped(StopReason::Stop);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds{20};
    while (rec.status().blocksWritten < 3 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    EXPECT_EQ(rec.status().blocksWritten, 3);
    EXPECT_EQ(Reader(path).read(1).rows.size(), 3u) << "a reader sees the flushed blocks while the file is open";
    rec.stop();
}

// A card that pauses brings no message: the writer's own clock flushes the
// held-back tick and a marker set meanwhile when the interval is up, then
// syncs when its interval is, and then waits for nothing.
TEST(RecordingWriter, FlushesAndSyncsOnTimeWhenNoBlockComes)
{
    using namespace std::chrono_literals;
    const std::string path = scratchDir("rec-idle") + "/a.h5";
    RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {1000ms, 5000ms});
    const RecordingWriter::Clock::time_point t0{100s};
    const auto block = testBlock(0, 4000);
    w.beginRun(panelSettings(), 1, t0);
    w.onBlock(0, 0, block);
    w.onTickEnd({.timeNs = 2, .blockCount = 1}, t0 + 100ms); // a run's first tick goes at once
    w.onBlock(1, 1, block);
    w.onTickEnd({.timeNs = 3, .blockCount = 2}, t0 + 200ms);
    ASSERT_TRUE(w.addMarker(4, "paused"));
    EXPECT_EQ(w.rowsFlushed(), 1);
    EXPECT_EQ(w.dueAt(), t0 + 1100ms);
    w.onIdle(t0 + 1099ms);
    EXPECT_EQ(w.rowsFlushed(), 1) << "before its time";
    w.onIdle(t0 + 1100ms);
    EXPECT_EQ(w.rowsFlushed(), 2);
    EXPECT_EQ(w.dueAt(), t0 + 5000ms) << "the sync, counted from the file's layout";
    w.onIdle(t0 + 5000ms);
    EXPECT_EQ(w.dueAt(), RecordingWriter::Clock::time_point::max());
    w.close(5, t0 + 6s);
    Reader r(path, H5F_ACC_RDONLY);
    EXPECT_EQ(r.texts("markers", "text", 128), std::vector<std::string>{"paused"});
    EXPECT_EQ(r.read(1).rows.size(), 2u);
}

// The same through the recorder's thread: no tick follows the held-back one.
TEST(Recorder, AHeldBackTickIsFlushedThoughNoOtherFollows)
{
    const std::string path = scratchDir("rec-pause") + "/a.h5";
    Recorder rec(Recorder::kDefaultQueueBlocks, std::chrono::milliseconds{50});
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    f.tick("b");
    f.tick("b");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds{20};
    while (rec.status().blocksWritten < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds{1});
    EXPECT_EQ(rec.status().blocksWritten, 2);
    rec.stop();
}

// What the file keeps beside the blocks: markers where the newest block
// ended, the digital inputs of the ticks that read them, and the card's block
// counter past what the panel's 16-bit caption can show.
TEST(Recorder, MarkersDigitalInputsAndTheBlockCounterAreStored)
{
    const std::string path = scratchDir("rec-extras") + "/a.h5";
    Recorder rec;
    ASSERT_EQ(rec.arm(path, false, {}), "");
    EXPECT_FALSE(rec.addMarker("armed")) << "no run yet";
    Feeder f(rec);
    f.start();
    EXPECT_TRUE(rec.addMarker("start"));
    f.tick("bb");
    const std::string longText = std::string(126, 'x') + "标记";
    EXPECT_TRUE(rec.addMarker(longText));
    // Ticks that report far more blocks than they store, and read the inputs.
    for (int16_t i = 0; i < 20; ++i) { // within the queue: no tick end is lost
        const auto block = testBlock(2 + i, f.samples());
        rec.blockStored({block, 0, 3 + i, 3 + i});
        rec.tickEnded({.readyBlocks = 2000, .blockCount = 32767, .stored = 1, .digitalRead = i % 2 == 0,
                       .digitalInputs = {i, int16_t(-i)}});
    }
    rec.acquisitionStopped(StopReason::Stop);
    EXPECT_FALSE(rec.addMarker("stopped"));
    rec.stop();

    Reader r(path, H5F_ACC_RDONLY);
    EXPECT_EQ(r.column<int64_t>("markers", "scan"), (std::vector<int64_t>{0, 2000})) << "the newest block's end";
    EXPECT_EQ(r.texts("markers", "text", 128), (std::vector<std::string>{"start", std::string(126, 'x')}))
        << "cut before a split character";
    const auto scans = r.column<int64_t>("digital", "scan");
    ASSERT_EQ(scans.size(), 10u);
    EXPECT_EQ(scans[3], (2 + 6 + 1) * 1000);
    EXPECT_EQ(r.column<int16_t>("digital", "port1")[3], -6);
    const RunData d = r.read(1);
    ASSERT_EQ(d.rows.size(), 22u);
    EXPECT_EQ(d.rows.back().blockCount, 2 + 20 * 2000);
}

// Armed while the acquisition runs: the run begins at the next block,
// numbered from it, and a marker goes where it was stamped, not where its
// text was given.
TEST(Recorder, ArmedMidAcquisitionBeginsAtTheNextBlockAndMarkersKeepTheirStamp)
{
    const std::string path = scratchDir("rec-join") + "/a.h5";
    Recorder rec;
    Feeder f(rec);
    f.start();
    f.tick("bbb"); // before the recording: not in the file
    ASSERT_EQ(rec.arm(path, false, {}), "");
    rec.joinAtNextBlock(panelSettings());
    EXPECT_FALSE(rec.stampMarker()) << "no block of the run yet";
    f.tick("bb");
    const auto stamp = rec.stampMarker();
    ASSERT_TRUE(stamp);
    f.tick("bbb");
    EXPECT_TRUE(rec.addMarker(*stamp, "late text"));
    rec.acquisitionStopped(StopReason::Stop);
    EXPECT_FALSE(rec.addMarker(*stamp, "after the run")) << "its run has ended";
    rec.stop();

    Reader r(path, H5F_ACC_RDONLY);
    ASSERT_EQ(r.runs(), 1u);
    const RunData d = r.read(1);
    ASSERT_EQ(d.rows.size(), 5u);
    EXPECT_EQ(d.rows.front().index, 0) << "numbered from the run's first block";
    EXPECT_EQ(d.rows.back().index, 4);
    EXPECT_EQ(d.samples.front(), testBlock(3, f.samples()).front()) << "the fourth block fetched comes first";
    EXPECT_EQ(r.column<int64_t>("markers", "scan"), (std::vector<int64_t>{2000})) << "after the second block";
}

// A file being recorded is refused to another recorder whatever it asks, and
// an armed file is a valid HDF5 file before any Start.
TEST(Recorder, ARecordedFileIsRefusedToAnotherAndAnArmedFileOpens)
{
    const std::string path = scratchDir("rec-locked") + "/a.h5";
    Recorder first;
    ASSERT_EQ(first.arm(path, false, {}), "");
    EXPECT_TRUE(Reader(path, H5F_ACC_RDONLY).opened()) << "armed, before any Start";
    for (const bool started : {false, true}) {
        Recorder second;
        EXPECT_THAT(second.arm(path, true, {}), HasSubstr("is being recorded by another panel")) << started;
        Feeder f(first);
        f.start();
        f.tick("b");
    }
    first.stop();
    EXPECT_EQ(Reader(path, H5F_ACC_RDONLY).read(2).rows.size(), 1u) << "untouched by the refused recorder";
    Recorder second;
    EXPECT_EQ(second.arm(path, true, {}), "") << "free again once closed";
}

} // namespace
} // namespace adcard::testing
