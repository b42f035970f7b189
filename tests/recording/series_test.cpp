// A recording split into a series of files: every block in exactly one
// file, at the boundary card time sets; what crosses a boundary with it
// (markers, events, a tick's inputs, the rules); the names; what retention
// deletes and what it never touches; the disk's notices.
#include "acquisition/acquisition.h"
#include "driver/loader.h"
#include "recording/disk_space.h"
#include "recording/recording_reader_impl.h"
#include "recording/retention.h"
#include "recording/series_naming.h"
#include "recording/series_writer.h"
#include "simcard/block_generator.h"
#include "tests/recording/recording_support.h"
#include "tests/support/fake_view.h"
#include "tests/support/row_name.h"

#include <sys/mount.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace adcard::testing {
namespace {

using ::PrintTo;
using namespace std::chrono_literals;

constexpr int64_t kSecond = 1'000'000'000;

struct SeriesFileRead {
    std::string path;
    SeriesMembership series;
    std::vector<RecordedRunInfo> runs;
    std::unique_ptr<RecordingReader> reader;
};

// The files of the series of `base`, in the order of their places.
std::vector<SeriesFileRead> readSeries(const std::string &base)
{
    std::vector<SeriesFileRead> out;
    const std::string folder = series::folderOf(base);
    for (const disk::Entry &e : disk::listFiles(folder)) {
        if (!series::nameOfSeries(base, e.name))
            continue;
        SeriesFileRead f;
        f.path = folder + "/" + e.name;
        std::string why;
        f.reader.reset(openRecording(f.path.c_str(), &why));
        EXPECT_TRUE(f.reader) << f.path << ": " << why;
        if (!f.reader || !f.reader->series()) {
            ADD_FAILURE() << f.path << " states no series";
            continue;
        }
        f.series = *f.reader->series();
        f.runs = f.reader->runs();
        out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(), [](auto &a, auto &b) { return a.series.place < b.series.place; });
    return out;
}

// --- Over the simulated card in sequence mode, each block stamped with its number.

struct BoundaryRow {
    const char *name;
    int failEvery;     // every n-th fetch fails: holes at the boundaries too
    int64_t firstRun;  // blocks of the first run; a second run follows when `secondRun`
    int64_t secondRun;
};

class SeriesBoundary : public ::testing::TestWithParam<BoundaryRow> {
protected:
    void TearDown() override
    {
        for (const char *k : {"ADCARD_SIM_SEQUENCE", "ADCARD_SIM_SPEED", "ADCARD_SIM_QUEUE", "ADCARD_SIM_FAIL_ADRESULT_EVERY"})
            ::unsetenv(k);
    }
};

// Runs of at least these many fetches (none for 0), Start to Stop; each
// run's fetches.
std::vector<int64_t> runFor(Acquisition &acq, const std::vector<int64_t> &runs)
{
    std::vector<int64_t> fetched;
    for (const int64_t blocks : runs) {
        if (blocks == 0)
            continue;
        const int64_t before = acq.BlockCount; // counted on over Starts
        acq.onStart();
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (acq.BlockCount - before < blocks && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(5ms);
            acq.onTick();
        }
        acq.onStop();
        fetched.push_back(acq.BlockCount - before);
    }
    return fetched;
}

TEST_P(SeriesBoundary, EveryBlockInExactlyOneFileAtItsCardTime)
{
    const BoundaryRow &row = GetParam();
    const std::string base = scratchDir(std::string("series-boundary-") + row.name) + "/rec.h5";
    ::setenv("ADCARD_SIM_SEQUENCE", "1", 1);
    ::setenv("ADCARD_SIM_SPEED", "40", 1);
    ::setenv("ADCARD_SIM_QUEUE", "4096", 1);
    if (row.failEvery)
        ::setenv("ADCARD_SIM_FAIL_ADRESULT_EVERY", std::to_string(row.failEvery).c_str(), 1);
    DriverLoader loader(ADCARD_SIM_LIBRARY);
    DllDef dll(loader);
    FakeView view;
    Acquisition acq(dll, view);
    // Room for every block while a boundary's sync waits on a loaded disk.
    Recorder rec(4096);
    acq.addBlockHook(rec);
    acq.onLoad();
    RecorderInfo info{loader.libraryPath(), "series"};
    info.split = {2 * kSecond, 0, "2s"}; // 20 blocks of the panel's 10 a second
    ASSERT_EQ(rec.arm(base, false, info), "");
    const std::vector<int64_t> runBlocks = runFor(acq, {row.firstRun, row.secondRun});
    rec.stop();
    acq.removeBlockHook(rec);
    const RecorderStatus st = rec.status();
    ASSERT_EQ(st.state, RecorderState::Idle) << st.lastError;
    EXPECT_FALSE(std::filesystem::exists(base)) << "NAME.h5 itself is not written";

    const auto files = readSeries(base);
    ASSERT_GE(files.size(), 4u);
    std::map<int, int64_t> next;      // per run: the block after the newest seen
    std::map<int, int64_t> cardStart; // per run: its first scan's card time, in blocks
    int64_t dropHoles = 0;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const SeriesFileRead &f = files[k];
        EXPECT_EQ(f.series.place, int64_t(k)) << f.path;
        EXPECT_EQ(f.series.id, files[0].series.id);
        EXPECT_EQ(f.series.startNs, files[0].series.startNs);
        EXPECT_EQ(f.series.split, "2s");
        ASSERT_FALSE(f.runs.empty()) << f.path;
        // Named by card time from the series' start while the first run lasts.
        if (f.runs.front().number == 1) {
            EXPECT_EQ(f.path, series::fileName(base, f.series.startNs + int64_t(k) * 2 * kSecond));
        }
        for (const RecordedRunInfo &r : f.runs) {
            // Only a file's first run may have begun in an earlier file.
            EXPECT_EQ(r.continues, &r == &f.runs.front() && next.count(r.number) > 0) << f.path << " run " << r.number;
            if (!cardStart.count(r.number))
                cardStart[r.number] = r.number == 1 ? 0 : cardStart[r.number - 1] + next[r.number - 1];
            std::string why;
            const auto run = f.reader->openRun(r.number, why);
            ASSERT_TRUE(run) << f.path << ": " << why << " (first block " << r.seriesFirstBlock << ", continues " << r.continues << ")";
            int64_t &expected = next[r.number];
            ASSERT_TRUE(run->forEachScan(0, r.scans, [&](int64_t scan, std::span<const int16_t> codes) {
                if (scan % 1000 != 0)
                    return true;
                // The block's number across the series, as the card stamped it.
                const int64_t index = r.seriesFirstBlock + scan / 1000;
                EXPECT_EQ(codes[0] | int64_t(codes[1]) << 12, index & 0xFFFFFF) << f.path << " scan " << scan;
                EXPECT_GE(index, expected) << "block " << index << " of run " << r.number << " twice or out of order";
                for (; expected < index; ++expected) // a hole: a failed fetch, or a drop the recorder counted
                    dropHoles += !(row.failEvery && (expected + 1) % row.failEvery == 0);
                expected = index + 1;
                EXPECT_EQ((cardStart[r.number] + index) / 20, f.series.place) << "block " << index << " in the wrong file";
                return true;
            })) << f.path << " run " << r.number;
        }
    }
    EXPECT_EQ(dropHoles, st.blocksDropped);
    ASSERT_EQ(next.size(), runBlocks.size());
    for (std::size_t r = 0; r < runBlocks.size(); ++r) // its last block, unless that fetch failed
        EXPECT_GE(next[int(r + 1)], runBlocks[r] - 1) << "run " << r + 1;
}

INSTANTIATE_TEST_SUITE_P(Rows, SeriesBoundary,
                         ::testing::Values(BoundaryRow{"one_run", 0, 130, 0},
                                           BoundaryRow{"two_runs_with_failed_fetches", 7, 70, 65}),
                         kRowName);

// --- What crosses a boundary with its blocks, fed as the acquisition feeds it.

struct FileWant {
    int64_t firstBlock, blocks;
    std::vector<int16_t> ports;                           // the ticks' inputs it holds
    std::set<std::pair<int64_t, std::string>> markers;    // scan, text
    std::vector<int64_t> events;                          // scans
};

// Blocks of 1000 scans, 10 to a file; ticks of four blocks, so the third
// crosses the boundary after block 9.
TEST(SeriesRouting, MarkersEventsAndInputsGoWithTheFileThatHoldsTheirScan)
{
    const std::string base = scratchDir("series-routing") + "/rec.h5";
    Recorder rec;
    rec.rulesArmed("{\"rules\": []}");
    RecorderInfo info{"sim", "series"};
    info.split = {kSecond, 0, "1s"};
    ASSERT_EQ(rec.arm(base, false, info), "");
    const AcqSettings s = panelSettings();
    rec.historyStarted(s);
    rec.acquisitionStarted(s);
    int64_t fetched = 0;
    const auto event = [&](int64_t scan) {
        rec.ruleEvent({"r", scan, true, 1.0, true, false, 0, 0, {}, {}, 0});
    };
    for (int16_t t = 1; t <= 4; ++t) {
        for (int b = 0; b < 4; ++b, ++fetched) {
            const auto block = testBlock(fetched, 4000);
            rec.blockStored({block, int32_t(fetched % 20), fetched + 1, fetched + 1});
            if (fetched == 9)
                event(9500); // its block's file is still open
            if (fetched == 11)
                event(11200);
        }
        rec.tickEnded({4, int16_t(fetched), 0, 4, true, {t, 0}});
        if (t == 3) {
            // Stamped in the old file, its text given once that file closed.
            ASSERT_TRUE(rec.addMarker(MarkerStamp{1, 1, 9}, "late"));
            ASSERT_TRUE(rec.addMarker(MarkerStamp{2, 1, 11}, "new"));
        }
    }
    rec.acquisitionStopped(StopReason::Stop);
    rec.stop();
    ASSERT_EQ(rec.status().state, RecorderState::Idle) << rec.status().lastError;

    const std::string rule = ruleMarkerText("r", 1.0);
    const std::vector<FileWant> want = {
        {0, 10, {1, 2}, {{9500, rule}}, {9500}},
        {10, 6, {3, 4}, {{0, "late"}, {2000, "new"}, {1200, rule}}, {1200}},
    };
    auto files = readSeries(base);
    ASSERT_EQ(files.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) {
        const SeriesFileRead &f = files[k];
        const FileWant &w = want[k];
        ASSERT_EQ(f.runs.size(), 1u) << f.path;
        EXPECT_EQ(f.runs[0].number, 1);
        EXPECT_EQ(f.runs[0].seriesFirstBlock, w.firstBlock);
        EXPECT_EQ(f.runs[0].continues, k > 0);
        EXPECT_EQ(f.runs[0].blocks, w.blocks) << f.path;
        std::string why;
        const auto run = f.reader->openRun(1, why);
        ASSERT_TRUE(run) << why;
        std::vector<int16_t> ports;
        for (const RecordedDigital &d : run->digital(0, f.runs[0].scans + 1))
            ports.push_back(d.port0);
        EXPECT_EQ(ports, w.ports) << f.path;
        std::set<std::pair<int64_t, std::string>> markers;
        for (const RecordedMarker &m : run->markers())
            markers.insert({m.scan, m.text});
        EXPECT_EQ(markers, w.markers) << f.path;
        int64_t total = 0;
        std::vector<int64_t> events;
        for (const RecordedEvent &e : f.reader->events(10, total))
            events.push_back(e.scan);
        EXPECT_EQ(events, w.events) << f.path;
        const auto rules = f.reader->rules();
        ASSERT_EQ(rules.size(), 1u) << f.path << ": each file states the rules in force";
        EXPECT_EQ(rules[0].text, "{\"rules\": []}");
        EXPECT_EQ(rules[0].run, 1);
    }
    std::vector<std::string> paths;
    for (const SeriesFileRead &f : files)
        paths.push_back(f.path);
    files.clear(); // HDF5 opens a file once per process
    for (std::size_t k = 0; k < paths.size(); ++k) {
        // Rows of the tick that crossed get its count, not "never ended".
        for (const BlockRow &r : Reader(paths[k]).rows())
            EXPECT_EQ(r.blockCount, (r.index + want[k].firstBlock) / 4 * 4 + 4) << paths[k] << " row " << r.index;
    }
}

// --- Retention on a small disk of its own.

// Writes `blocks` blocks from `startNs`, a tick each, through `w`.
void feed(SeriesWriter &w, int64_t startNs, int64_t blocks)
{
    const RecordingWriter::Clock::time_point t0{100s};
    w.beginRun(panelSettings(), startNs, t0);
    for (int64_t i = 0; i < blocks; ++i) {
        w.onBlock(i, int32_t(i % 20), testBlock(i, 4000));
        const auto at = std::chrono::milliseconds{100 * (i + 1)};
        w.onTickEnd({.timeNs = startNs + at.count() * 1'000'000, .blockCount = i + 1}, t0 + at);
    }
}

SeriesWriter::Options seriesOptions(const std::string &base)
{
    SeriesWriter::Options o;
    o.path = base;
    o.split = {10 * kSecond, 0, "10s"}; // 100 blocks, about 0.8 MiB a file
    return o;
}

struct RetentionRow {
    const char *name;
    double keepFreeFiles; // keep free: the free space now plus this many files; < 0: half the free space
    int64_t keepNs;       // with the clock two hours on
    std::vector<std::string> deleted; // "A0": the older series' first file, "B1": this series' second
};

class SeriesRetention : public ::testing::TestWithParam<RetentionRow> {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to mount a small tmpfs of its own";
        dir_ = scratchDir(std::string("series-retention-") + GetParam().name);
        if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=48m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs on " << dir_ << ": " << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    std::string dir_;
    bool mounted_ = false;
};

TEST_P(SeriesRetention, DeletesOnlyTheSeriesOldestFilesNeverTheCurrentNorAForeignOne)
{
    const RetentionRow &row = GetParam();
    const std::string base = dir_ + "/rec.h5";
    const int64_t olderStart = 1'780'000'000 * kSecond, start = olderStart + 86400 * kSecond;
    {
        SeriesWriter older(seriesOptions(base));
        feed(older, olderStart, 300);
        older.close(olderStart + 31 * kSecond, RecordingWriter::Clock::time_point{200s});
        SeriesWriter other(seriesOptions(dir_ + "/other.h5")); // another name
        feed(other, olderStart, 50);
        other.close(olderStart + 6 * kSecond, RecordingWriter::Clock::time_point{200s});
        // The name of a file of the series, but no series in it.
        RecordingWriter plain(std::make_unique<RecordingFile>(dir_ + "/rec_20200101-000000.h5", false), "", "", {});
        plain.beginRun(panelSettings(), olderStart, RecordingWriter::Clock::time_point{100s});
        plain.onBlock(0, 0, testBlock(0, 4000));
        plain.close(olderStart, RecordingWriter::Clock::time_point{100s});
    }
    SeriesWriter now(seriesOptions(base));
    feed(now, start, 250); // two files closed, the third half through: the fourth made ahead
    ASSERT_EQ(now.inUse().size(), 2u);
    const auto foreign = [&] {
        std::set<std::string> out = {dir_ + "/rec_20200101-000000.h5"};
        for (const disk::Entry &e : disk::listFiles(dir_))
            if (e.name.rfind("other_", 0) == 0)
                out.insert(dir_ + "/" + e.name);
        return out;
    }();
    ASSERT_EQ(foreign.size(), 2u);
    std::map<std::string, std::string> label; // path -> "A0".."B1"
    for (const auto &[tag, from] : {std::pair{'A', olderStart}, std::pair{'B', start}})
        for (int k = 0; k < 3; ++k)
            label[series::fileName(base, from + k * 10 * kSecond)] = std::string(1, tag) + char('0' + k);
    const int64_t fileBytes = int64_t(std::filesystem::file_size(series::fileName(base, olderStart)));
    const int64_t free = disk::freeBytes(dir_);
    ASSERT_GT(free, 0);

    RetentionPolicy policy;
    policy.keepFreeBytes = row.keepFreeFiles < 0 ? free / 2 : free + int64_t(row.keepFreeFiles * double(fileBytes));
    if (row.keepFreeFiles == 0)
        policy.keepFreeBytes = 0;
    policy.keepNs = row.keepNs;
    Retention retention(base, policy);
    std::vector<std::string> problems;
    std::vector<std::string> got;
    for (const Retention::Deleted &d : retention.apply(wallClockNs() + 7200 * kSecond, start, now.inUse(), problems))
        got.push_back(label.count(d.path) ? label[d.path] : d.path);
    EXPECT_EQ(got, row.deleted);
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (const std::string &p : now.inUse())
        EXPECT_TRUE(std::filesystem::exists(p)) << p << " in use";
    for (const std::string &p : foreign)
        EXPECT_TRUE(std::filesystem::exists(p)) << p << " is not the series'";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesRetention,
    ::testing::Values(RetentionRow{"free_enough", -1, 0, {}},
                      RetentionRow{"one_and_a_half_files_short", 1.5, 0, {"A0", "A1"}},
                      RetentionRow{"never_enough", 1000, 0, {"A0", "A1", "A2", "B0", "B1"}},
                      RetentionRow{"older_than_an_hour", 0, 3600 * kSecond, {"A0", "A1", "A2", "B0", "B1"}},
                      RetentionRow{"younger_than_a_day", 0, 86400 * kSecond, {}}),
    kRowName);

// Through the recorder: at each new file its writer thread deletes what the
// policy gives up, says so once per file, and marks it in the current file.
TEST(SeriesRecorderRetention, DeletesAtEachNewFileWithANoticeAndAMarker)
{
    const std::string dir = scratchDir("series-recorder-retention"), base = dir + "/rec.h5";
    const int64_t olderStart = 1'780'000'000 * kSecond;
    {
        SeriesWriter older(seriesOptions(base));
        feed(older, olderStart, 150);
        older.close(olderStart + 16 * kSecond, RecordingWriter::Clock::time_point{200s});
    }
    const auto older = readSeries(base);
    ASSERT_EQ(older.size(), 2u);
    std::set<std::string> olderPaths = {older[0].path, older[1].path};
    Recorder rec;
    RecorderInfo info{"sim", "series"};
    info.split = {kSecond, 0, "1s"};
    info.retention.keepFreeBytes = int64_t{1} << 60; // never met: all it may delete goes
    ASSERT_EQ(rec.arm(base, false, info), "");
    Feeder feed(rec);
    feed.start();
    for (int t = 0; t < 3; ++t)
        feed.tick("bbbbbbbbbb"); // a file a tick
    rec.acquisitionStopped(StopReason::Stop);
    rec.stop();
    ASSERT_EQ(rec.status().state, RecorderState::Idle) << rec.status().lastError;
    std::vector<std::string> notices;
    while (const auto n = rec.takeNotice())
        notices.push_back(*n);
    // Files 0 and 1 of this series, and both of the older one.
    const auto left = readSeries(base);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].series.place, 2);
    std::size_t deletedOlder = 0, deletedOwn = 0;
    for (const std::string &n : notices) {
        if (n.rfind("deleted '", 0) != 0)
            continue;
        const std::string path = n.substr(9, n.find('\'', 9) - 9);
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
        (olderPaths.count(path) ? deletedOlder : deletedOwn)++;
    }
    EXPECT_EQ(deletedOlder, 2u);
    EXPECT_EQ(deletedOwn, 2u);
    std::string why;
    const auto run = left[0].reader->openRun(left[0].runs.at(0).number, why);
    ASSERT_TRUE(run) << why;
    std::size_t marked = 0;
    for (const RecordedMarker &m : run->markers())
        marked += m.text.rfind("deleted rec_", 0) == 0;
    EXPECT_GE(marked, 1u) << "the file written when a deletion came says so";
}

TEST(SeriesRefusals, ArmSaysWhatASplitCannotDo)
{
    const std::string dir = scratchDir("series-refusals");
    struct Row {
        const char *name;
        std::string path;
        bool overwrite, eventsOnly;
        std::string says;
    };
    for (const Row &row : {Row{"overwrite", dir + "/a.h5", true, false, "never replaces"},
                           Row{"events_only", dir + "/a.h5", false, true, "events-only"},
                           Row{"no_folder", dir + "/missing/a.h5", false, false, "cannot record into"}}) {
        Recorder rec;
        RecorderInfo info{"sim", "series"};
        info.split = {kSecond, 0, "1s"};
        info.eventsOnly = row.eventsOnly;
        EXPECT_THAT(rec.arm(row.path, row.overwrite, info), ::testing::HasSubstr(row.says)) << row.name;
        EXPECT_EQ(rec.status().state, RecorderState::Idle) << row.name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "a refused series leaves nothing behind";
}

// --- Names, card time and the disk's notices.

struct NameRow {
    const char *name;
    std::string file;
    bool ofSeries;
};

class SeriesNames : public ::testing::TestWithParam<NameRow> {};

TEST_P(SeriesNames, TellAFileOfTheSeriesByItsName)
{
    EXPECT_EQ(series::nameOfSeries("/d/rec.h5", GetParam().file), GetParam().ofSeries);
}

INSTANTIATE_TEST_SUITE_P(Rows, SeriesNames,
                         ::testing::Values(NameRow{"plain", "rec_20261208-143000.h5", true},
                                           NameRow{"second_of_a_second", "rec_20261208-143000_2.h5", true},
                                           NameRow{"the_base_itself", "rec.h5", false},
                                           NameRow{"another_base", "recx_20261208-143000.h5", false},
                                           NameRow{"longer_base", "rec_a_20261208-143000.h5", false},
                                           NameRow{"short_stamp", "rec_20261208-1430.h5", false},
                                           NameRow{"empty_number", "rec_20261208-143000_.h5", false},
                                           NameRow{"other_extension", "rec_20261208-143000.h5.tmp", false}),
                         kRowName);

TEST(SeriesNaming, LocalTimeOfItsStartAndATakenNameGetsANumber)
{
    const char *tz = std::getenv("TZ");
    const std::string saved = tz ? tz : "";
    ::setenv("TZ", "CET-1", 1); // UTC+1, no summer time
    ::tzset();
    const int64_t t = 1'765'200'600 * kSecond + 999'999'999; // 2025-12-08T13:30:00.999Z
    EXPECT_EQ(series::fileName("d/rec.h5", t), "d/rec_20251208-143000.h5");
    std::set<std::string> taken = {"d/rec_20251208-143000.h5", "d/rec_20251208-143000_2.h5"};
    const auto isTaken = [&](const std::string &p) { return taken.count(p) > 0; };
    EXPECT_EQ(series::freeName("d/rec.h5", t, isTaken), "d/rec_20251208-143000_3.h5");
    // Two files within one second: the second made while the first exists.
    taken.clear();
    taken.insert(series::freeName("d/rec.h5", t - 500'000'000, isTaken));
    EXPECT_EQ(series::freeName("d/rec.h5", t, isTaken), "d/rec_20251208-143000_2.h5");
    if (tz)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

struct CardTimeRow {
    const char *name;
    int64_t ns, rate, scans; // scansAt(ns, rate) == scans
};

class SeriesCardTime : public ::testing::TestWithParam<CardTimeRow> {};

TEST_P(SeriesCardTime, ScansOfADurationAndBack)
{
    const CardTimeRow &r = GetParam();
    EXPECT_EQ(series::scansAt(r.ns, r.rate), r.scans);
    // The first scan at or after `ns`: the one before lies before it.
    EXPECT_GE(series::nsOfScans(r.scans, r.rate), r.ns);
    EXPECT_LT(series::nsOfScans(r.scans - 1, r.rate), r.ns);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesCardTime,
    ::testing::Values(CardTimeRow{"an_hour", 3600 * kSecond, 10000, 36'000'000},
                      CardTimeRow{"rounded_up", 1, 10000, 1},
                      CardTimeRow{"a_third", kSecond / 3 + 1, 3, 2},
                      CardTimeRow{"a_year_at_a_megahertz", 366 * 86400 * kSecond, 1'000'000, 31'622'400'000'000},
                      CardTimeRow{"odd_rate", 10 * kSecond + 7, 7, 71}),
    kRowName);

TEST(SeriesDiskWatch, SaysOnceWithinTheHourAndOnceWithinTenMinutes)
{
    DiskWatch watch("d");
    const DiskWatch::Clock::time_point t0{};
    std::vector<std::string> notices;
    // 1 MB/s written: free space read at each step, the notices counted.
    const std::vector<std::pair<int64_t, std::size_t>> steps = {
        {5'000'000'000, 0}, {4'000'000'000, 0}, {3'500'000'000, 1}, {2'000'000'000, 1},
        {700'000'000, 1},   {590'000'000, 2},   {300'000'000, 2},   {100'000'000, 2}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto r = watch.update(steps[i].first, int64_t(i) * 10'000'000, t0 + std::chrono::seconds{10 * i}, notices);
        EXPECT_EQ(notices.size(), steps[i].second) << "step " << i;
        if (i > 0) {
            EXPECT_NEAR(r.secondsToFull, double(steps[i].first) / 1e6, 1) << "step " << i;
        }
    }
}

} // namespace
} // namespace adcard::testing
