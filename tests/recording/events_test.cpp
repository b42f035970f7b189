// The rules in the recording: their events in the `events` table and as
// markers, the rules' texts, and an event never ahead of the row of its block.
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "tests/recording/recording_support.h"
#include "tests/support/row_name.h"

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
    RuleEvent e{c.rule, scan, c.fired, c.value, c.mark, c.capture, 1.0, 2.0, c.note};
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

// An event whose block has no row yet stays out of the file, though a flush
// falls due meanwhile; the tick's end brings the row and then the event.
TEST(WriterEvents, AnEventWaitsForTheRowOfItsBlock)
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
    w.onIdle(t0 + 1s);
    {
        const Reader r(path);
        EXPECT_EQ(r.column<int64_t>("events", "scan"), std::vector<int64_t>{999}) << "only what the rows cover";
        EXPECT_EQ(r.read(1).rows.size(), 1u);
    }
    EXPECT_GT(w.dueAt(), t0 + 1s) << "no flush is due for an event that waits";
    w.onTickEnd({.timeNs = 20, .blockCount = 2}, t0 + 2s);
    {
        const Reader r(path);
        EXPECT_EQ(r.column<int64_t>("events", "scan"), (std::vector<int64_t>{999, 1500}));
    }
    w.close(30, t0 + 3s);
}

} // namespace
} // namespace adcard::testing
