// The rules in the recording: their events in the `events` table and as
// markers, the rules' texts, and an event never ahead of the row of its block.
#include "recording/event_capture.h"
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "simcard/block_generator.h"
#include "tests/recording/recording_support.h"
#include "tests/support/row_name.h"

#include <sys/wait.h>

#include <algorithm>
#include <memory>

namespace adcard::testing {
namespace {

using ::PrintTo;
using namespace std::chrono_literals;

struct EventRowCase {
    const char *name;
    std::string rule;
    bool fired, mark, capture;
    double value;
    std::string note;
    std::string storedRule; // as the file keeps it
    bool marked;            // a marker at the event's scan
};

class WriterEvents : public ::testing::TestWithParam<EventRowCase> {};

// Each kind of event, fed between blocks as the recorder's thread does,
// reads back from the file with its run, scan, kind, value and note; those
// that ask for a mark (a capture in a continuous recording marks too) leave
// a marker with the rule's name and value at the event's scan.
TEST_P(WriterEvents, ReadBackWithTheirMarkers)
{
    const EventRowCase &c = GetParam();
    const std::string path = scratchDir(std::string("rec-events-") + c.name) + "/a.h5";
    RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {});
    const RecordingWriter::Clock::time_point t0{100s};
    w.setRules(7, "{\"rules\": []}");
    w.beginRun(panelSettings(), 1, t0);
    w.onBlock(0, 0, testBlock(0, 4000));
    w.onTickEnd({.timeNs = 10, .blockCount = 1}, t0);
    w.onBlock(1, 1, testBlock(1, 4000));
    const int64_t scan = 1000 + 417;
    RuleEvent e{c.rule, scan, c.fired, c.value, c.mark, c.capture, 1.0, 2.0, c.note, {}, 0};
    ASSERT_TRUE(w.addEvent(e, 20));
    w.onTickEnd({.timeNs = 20, .blockCount = 2}, t0 + 1s);
    w.close(30, t0 + 2s);

    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    EXPECT_EQ(reader->formatVersion(), 4);
    int64_t total = -1;
    const auto events = reader->events(10, total);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(total, 1);
    const RecordedEvent &got = events[0];
    EXPECT_EQ(got.run, 1);
    EXPECT_EQ(got.scan, scan);
    EXPECT_EQ(got.timeNs, 20);
    EXPECT_EQ(got.rule, c.storedRule);
    EXPECT_EQ(got.fired, c.fired);
    EXPECT_EQ(got.value, c.value);
    EXPECT_EQ(got.note, c.note);
    const auto rules = reader->rules();
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].run, 1);
    EXPECT_EQ(rules[0].text, "{\"rules\": []}");
    const auto run = reader->openRun(1, why);
    ASSERT_TRUE(run) << why;
    const auto markers = run->markers();
    if (c.marked) {
        ASSERT_EQ(markers.size(), 1u);
        EXPECT_EQ(markers[0].scan, scan);
        EXPECT_EQ(markers[0].text, ruleMarkerText(c.storedRule, c.value));
    } else {
        EXPECT_TRUE(markers.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WriterEvents,
    ::testing::Values(EventRowCase{"fired_marks", "过压", true, true, false, 4.25, "", "过压", true},
                      EventRowCase{"cleared_does_not_mark", "过压", false, true, false, 3.75, "", "过压", false},
                      EventRowCase{"capture_marks_when_continuous", "门开", true, false, true, 8, "", "门开", true},
                      EventRowCase{"plain_does_not_mark", "欠压", true, false, false, -4.5, "", "欠压", false},
                      EventRowCase{"output_refused_is_noted", "过压", true, false, false, 4.5,
                                   "output group 0 refused", "过压", false},
                      EventRowCase{"long_name_cut_between_characters", std::string(126, 'r') + "压", true, false,
                                   false, 1, "", std::string(126, 'r'), false}),
    kRowName);

// An event or a marker whose block has no row yet stays out of the file,
// though a flush falls due meanwhile; the tick's end brings the row and then
// them.
TEST(WriterEvents, AnEventOrAMarkerWaitsForTheRowOfItsBlock)
{
    const std::string path = scratchDir("rec-events-order") + "/a.h5";
    RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {});
    const RecordingWriter::Clock::time_point t0{100s};
    w.beginRun(panelSettings(), 1, t0);
    w.onBlock(0, 0, testBlock(0, 4000));
    w.onTickEnd({.timeNs = 10, .blockCount = 1}, t0);
    w.onBlock(1, 1, testBlock(1, 4000));
    const auto at = [](const char *rule, int64_t scan) {
        RuleEvent e;
        e.rule = rule;
        e.scan = scan;
        return e;
    };
    ASSERT_TRUE(w.addEvent(at("r", 1500), 20));
    ASSERT_TRUE(w.addEvent(at("early", 999), 20));
    ASSERT_TRUE(w.addMarker(20, "M")); // after block 1, whose tick goes on
    w.onIdle(t0 + 1s);
    {
        const Reader r(path);
        EXPECT_EQ(r.column<int64_t>("events", "scan"), std::vector<int64_t>{999}) << "only what the rows cover";
        EXPECT_TRUE(r.column<int64_t>("markers", "scan").empty()) << "a marker ahead of the rows";
        EXPECT_EQ(r.read(1).rows.size(), 1u);
    }
    EXPECT_GT(w.dueAt(), t0 + 1s) << "no flush is due for an event or a marker that waits";
    w.onTickEnd({.timeNs = 20, .blockCount = 2}, t0 + 2s);
    {
        const Reader r(path);
        EXPECT_EQ(r.column<int64_t>("events", "scan"), (std::vector<int64_t>{999, 1500}));
        EXPECT_EQ(r.column<int64_t>("markers", "scan"), std::vector<int64_t>{2000});
    }
    w.close(30, t0 + 3s);
}

struct FollowedMarkerCase {
    const char *name;
    bool tickEnded; // the block before the marker has its row
    int64_t scan;   // where the marker lies
    int64_t scans;  // the run's scans when it shows
};

class FollowedMarkers : public ::testing::TestWithParam<FollowedMarkerCase> {};

// A marker set during a recording reaches a reader that follows the file at
// its next look: one flushed on its own (no new rows) is a change the look
// reports; one whose block's tick was still going comes with that block's
// row. The writer runs in a child process, as the recorder does beside a
// review window.
TEST_P(FollowedMarkers, ReachAFollowingReaderAtItsNextLook)
{
    const FollowedMarkerCase &c = GetParam();
    const std::string path = scratchDir(std::string("rec-follow-marker-") + c.name) + "/a.h5";
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const auto waitFor = [](int fd) {
        char b = 0;
        return ::read(fd, &b, 1) == 1;
    };
    const Child child = spawn([&](int out) {
        ::close(go[1]);
        RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {std::chrono::milliseconds{1000}});
        const RecordingWriter::Clock::time_point t0{100s};
        w.beginRun(panelSettings(), 1, t0);
        for (int64_t b = 0; b < 2; ++b) {
            w.onBlock(b, int32_t(b), testBlock(b, 4000));
            w.onTickEnd({.timeNs = 10 + b, .blockCount = b + 1}, t0 + 1s * (b + 1));
        }
        if (!c.tickEnded)
            w.onBlock(2, 2, testBlock(2, 4000));
        w.onIdle(t0 + 3s);
        ::dprintf(out, "rows\n");
        if (!waitFor(go[0]) || !w.addMarker(20, "阀门开"))
            return 11;
        w.onIdle(t0 + 5s); // the marker's own flush
        if (!c.tickEnded)
            w.onTickEnd({.timeNs = 12, .blockCount = 3}, t0 + 6s);
        ::dprintf(out, "marked\n");
        waitFor(go[0]);
        w.close(30, t0 + 6s);
        return 0;
    });
    ::close(go[0]);
    ASSERT_GT(child.pid, 0);
    std::string line;
    ASSERT_TRUE(readLine(child.out, line));
    ASSERT_EQ(line, "rows");
    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    const auto run = reader->openRun(1, why);
    ASSERT_TRUE(run) << why;
    EXPECT_TRUE(run->markers().empty());
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ASSERT_TRUE(readLine(child.out, line));
    ASSERT_EQ(line, "marked");
    EXPECT_TRUE(reader->refresh()) << "a new marker is a change";
    const auto markers = run->markers();
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].scan, c.scan);
    EXPECT_EQ(markers[0].text, "阀门开");
    EXPECT_EQ(run->info().scans, c.scans);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ::close(go[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(child.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, FollowedMarkers,
                         ::testing::Values(FollowedMarkerCase{"after_a_whole_tick", true, 2000, 2000},
                                           FollowedMarkerCase{"in_a_tick_not_ended", false, 3000, 3000}),
                         kRowName);

// A file of format 3 (no rules' tables) reads as before, with no events.
TEST(WriterEvents, AFormat3FileReadsWithoutEvents)
{
    const std::string path = scratchDir("rec-events-v3") + "/a.h5";
    {
        RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {});
        w.beginRun(panelSettings(), 1, {});
        w.onBlock(0, 0, testBlock(0, 4000));
        w.onTickEnd({.timeNs = 2, .blockCount = 1}, {});
        w.close(3, {});
    }
    {
        const Hid f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
        for (const char *name : {"events", "rules", "rules_text"})
            ASSERT_GE(H5Ldelete(f.get(), name, H5P_DEFAULT), 0) << name;
        const int32_t three = 3;
        const Hid a(H5Aopen(f.get(), "format_version", H5P_DEFAULT), H5Aclose);
        ASSERT_GE(H5Awrite(a.get(), H5T_NATIVE_INT32, &three), 0);
    }
    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    EXPECT_EQ(reader->formatVersion(), 3);
    int64_t total = -1;
    EXPECT_TRUE(reader->events(10, total).empty());
    EXPECT_EQ(total, 0);
    EXPECT_TRUE(reader->rules().empty());
    EXPECT_TRUE(reader->openRun(1, why)) << why;
}

// Through the hook, as the acquisition calls it: a rule's scan, counted from
// the history's start in blocks handed over, lands on the run's scan of the
// same sample though fetches failed before it; the rules armed before the
// recording and those armed during it are both in the file.
TEST(RecorderEvents, ScansMapThroughFailedFetchesAndRulesAreKept)
{
    const std::string path = scratchDir("rec-events-hook") + "/a.h5";
    Recorder rec;
    rec.rulesArmed("first rules");
    ASSERT_EQ(rec.arm(path, false, {}), "");
    Feeder f(rec);
    f.start();
    f.tick("bb");
    // Fetch 3 fails: the third block handed over is the run's block 3.
    rec.blockMissed(3);
    const auto block = testBlock(3, f.samples());
    rec.blockStored({block, 2, 3, 4});
    RuleEvent e;
    e.rule = "过压";
    e.scan = 2 * 1000 + 500;
    e.mark = true;
    e.value = 4.5;
    rec.ruleEvent(e);
    rec.tickEnded({2, 4, 3000, 1});
    rec.rulesArmed("");
    rec.acquisitionStopped(StopReason::Stop);
    rec.stop();

    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    int64_t total = 0;
    const auto events = reader->events(10, total);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].scan, 3 * 1000 + 500);
    const auto rules = reader->rules();
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0].text, "first rules");
    EXPECT_EQ(rules[1].text, "");
    EXPECT_EQ(rules[1].run, 1);
    const auto run = reader->openRun(1, why);
    ASSERT_TRUE(run) << why;
    ASSERT_EQ(run->markers().size(), 1u);
    EXPECT_EQ(run->markers()[0].scan, 3500);
}

// An events-only recording through the recorder's thread: the rules armed
// before it keep the ring, so the run of a capture holds the blocks from
// `before` ahead, numbered from its first, though a fetch failed before it;
// the operator's marker set in those seconds before is kept, one outside is not.
TEST(RecorderEvents, EventsOnlyRecordsOnlyTheCapturedStretch)
{
    const std::string path = scratchDir("rec-events-only") + "/a.h5";
    Recorder rec(256); // room for every tick: none is dropped however slow the writer

    rec.rulesArmed("capture rules");
    RecorderInfo info;
    info.eventsOnly = true;
    ASSERT_EQ(rec.arm(path, false, info), "");
    Feeder f(rec);
    f.start();
    f.tick("m");
    f.afterBlock = [&](int64_t handedOver) {
        if (handedOver == 5 || handedOver == 27) {
            EXPECT_TRUE(rec.addMarker(std::to_string(handedOver)));
        }
        if (handedOver != 30)
            return;
        RuleEvent e;
        e.rule = "门开";
        e.scan = (handedOver - 1) * 1000 + 250; // fetch 31, the run's block 30 of the acquisition
        e.capture = true;
        e.beforeS = 0.5;
        e.afterS = 0.5;
        rec.ruleEvent(e);
    };
    for (int t = 0; t < 50; ++t)
        f.tick("b");
    rec.acquisitionStopped(StopReason::Stop);
    rec.stop();
    EXPECT_EQ(rec.status().state, RecorderState::Idle) << rec.status().lastError;
    ASSERT_EQ(rec.status().blocksDropped, 0);

    const Reader r(path, H5F_ACC_RDONLY);
    ASSERT_EQ(r.runs(), 1u);
    RunData d = r.read(1);
    // 30,250 - 5,000 lies in block 25, 30,250 + 5,000 - 1 in block 35.
    ASSERT_EQ(d.rows.size(), 11u);
    for (BlockRow &row : d.rows)
        row.index += 25; // testBlock numbers blocks by fetch
    EXPECT_EQ(expectBlocksMatch(d, f.samples()), 11u);
    EXPECT_EQ(r.column<int64_t>("markers", "scan"), (std::vector<int64_t>{3000, 5250}));
    EXPECT_EQ(r.texts("markers", "text", 128)[0], "27");
    EXPECT_EQ(r.column<int64_t>("events", "scan"), std::vector<int64_t>{5250});
}

struct CaptureCase {
    const char *name;
    std::vector<int64_t> events; // the acquisition's scans, each a capture
    double before, after;        // seconds
    std::vector<int64_t> missed; // blocks whose fetch failed
    // Each run's first and last block in the acquisition, worked out by hand
    // at 1000 scans a block and 10,000 scans a second.
    std::vector<std::pair<int64_t, int64_t>> runs;
};

class EventsOnly : public ::testing::TestWithParam<CaptureCase> {};

// The simulated card's blocks (its generator is a pure function of the
// sequence number, which it stamps in the first scan) fed to an events-only
// recording one a tick: each captured run holds exactly the card's blocks
// from `before` ahead of its event to `after` past it, with the event as
// its marker at its own scan; close events share a run.
TEST_P(EventsOnly, EachStretchIsARunOfTheCardsBlocks)
{
    const CaptureCase &c = GetParam();
    const std::string path = scratchDir(std::string("rec-capture-") + c.name) + "/a.h5";
    RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", {std::chrono::milliseconds{1000}});
    EventCapture capture(w);
    const AcqSettings settings = panelSettings();
    sim::SimBlockParams p;
    p.stampSequence = true;
    RecordingWriter::Clock::time_point now{100s};
    capture.setRulesArmed(true);
    capture.beginAcquisition(settings, now);
    std::vector<int16_t> block(4000);
    int64_t missed = 0;
    const int64_t blocks = c.runs.back().second + 110; // past any stretch, and any merge
    for (int64_t i = 0; i < blocks; ++i, now += 100ms) {
        if (std::find(c.missed.begin(), c.missed.end(), i) != c.missed.end()) {
            ++missed;
        } else {
            sim::generateBlock(p, uint64_t(i), block);
            capture.onBlock(i, int32_t(i % 20), block);
        }
        for (const int64_t e : c.events)
            if (e / 1000 == i) {
                RuleEvent ev;
                ev.rule = "门开";
                ev.scan = e;
                ev.value = double(e);
                ev.capture = true;
                ev.beforeS = c.before;
                ev.afterS = c.after;
                capture.onEvent(ev, i, now);
            }
        capture.onTickEnd({.timeNs = i + 1, .blockCount = i + 1, .missed = missed}, now);
    }
    capture.endAcquisition(blocks + 1, now);
    w.close(blocks + 2, now);

    std::vector<RunData> runs;
    std::vector<int64_t> runMissed;
    {
        const Reader r(path);
        ASSERT_EQ(r.runs(), c.runs.size());
        for (std::size_t k = 0; k < c.runs.size(); ++k) {
            runs.push_back(r.read(int(k + 1)));
            runMissed.push_back(r.runValue(int(k + 1), "missed"));
        }
    }
    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    for (std::size_t k = 0; k < c.runs.size(); ++k) {
        const int64_t first = c.runs[k].first, last = c.runs[k].second;
        const RunData &d = runs[k];
        ASSERT_FALSE(d.rows.empty()) << "run " << k + 1;
        EXPECT_EQ(d.rows.front().index, 0) << "run " << k + 1;
        EXPECT_EQ(first + d.rows.back().index, last) << "run " << k + 1;
        for (std::size_t row = 0; row < d.rows.size(); ++row) {
            const int64_t seq = first + d.rows[row].index;
            EXPECT_EQ(std::count(c.missed.begin(), c.missed.end(), seq), 0) << "block " << seq;
            sim::generateBlock(p, uint64_t(seq), block);
            ASSERT_TRUE(std::equal(block.begin(), block.end(), d.samples.begin() + std::ptrdiff_t(row * 4000)))
                << "run " << k + 1 << ", block " << seq;
        }
        EXPECT_EQ(int64_t(d.rows.size()),
                  last - first + 1 - std::count_if(c.missed.begin(), c.missed.end(), [&](int64_t m) {
                      return m >= first && m <= last;
                  })) << "run " << k + 1 << ": every block of the stretch but the missed";
        const auto run = reader->openRun(int(k + 1), why);
        ASSERT_TRUE(run) << why;
        std::vector<int64_t> marked, wanted;
        for (const RecordedMarker &m : run->markers())
            marked.push_back(m.scan);
        for (const int64_t e : c.events)
            if (e / 1000 >= first && e / 1000 <= last)
                wanted.push_back(e - first * 1000);
        EXPECT_EQ(marked, wanted) << "run " << k + 1;
        EXPECT_EQ(runMissed[k], std::count_if(c.missed.begin(), c.missed.end(), [&](int64_t m) {
                      return m > first && m < last;
                  })) << "run " << k + 1;
    }
    int64_t total = 0;
    EXPECT_EQ(int64_t(reader->events(100, total).size()), int64_t(c.events.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EventsOnly,
    ::testing::Values(
        // 50,500 - 10,000 lies in block 40; 50,500 + 20,000 - 1 in block 70.
        CaptureCase{"one_event", {50500}, 1.0, 2.0, {}, {{40, 70}}},
        // 1.95 s apart, closer than 1 + 2 s: one stretch to 70,000 + 20,000 - 1.
        CaptureCase{"close_events_merge", {50500, 70000}, 1.0, 2.0, {}, {{40, 89}}},
        // 4 s apart: two runs.
        CaptureCase{"distant_events_apart", {20000, 60000}, 1.0, 2.0, {}, {{10, 39}, {50, 79}}},
        // The second's `before` reaches back into the first's stretch after
        // it was written to its end: still one run.
        CaptureCase{"merge_after_the_first_stretch_ended", {20000, 48000}, 1.0, 2.0, {}, {{10, 67}}},
        // Before the acquisition began there is nothing to keep.
        CaptureCase{"near_the_start", {3000}, 1.0, 2.0, {}, {{0, 22}}},
        // The longest `before`: 100 blocks kept.
        CaptureCase{"ten_seconds_before", {150000}, 10.0, 0.5, {}, {{50, 154}}},
        // A failed fetch is a hole in its run, counted, the rest in place.
        CaptureCase{"missed_fetch_is_a_hole", {50500}, 1.0, 2.0, {45, 60}, {{40, 70}}}),
    kRowName);

} // namespace
} // namespace adcard::testing
