// adcard-review, run as a program, against the engine the window uses, on
// the same file: the same numbers.
#include "query/query.h"
#include "query_files.h"
#include "recording/recording_reader_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>

namespace adcard::query {
namespace {

std::string run(const std::string &args, int &status)
{
    std::string out;
    FILE *p = ::popen((std::string(ADCARD_REVIEW) + " " + args + " 2>/dev/null").c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    status = p ? WEXITSTATUS(::pclose(p)) : -1;
    return out;
}

// Every number after `"key": ` in order.
std::vector<double> numbers(const std::string &json, const std::string &key)
{
    std::vector<double> out;
    const std::regex re("\"" + key + "\": (-?[0-9.e+-]+)");
    for (std::sregex_iterator it(json.begin(), json.end(), re), end; it != end; ++it)
        out.push_back(std::stod((*it)[1]));
    return out;
}

TEST(Command, GivesTheEngineNumbers)
{
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/command.h5";
    testing::writeCrafted(path, 100, 1000, {5, 6, 400}, [](int64_t k, int c) {
        return int16_t(2048 + std::lround(1800 * std::sin(double(k) * (c + 1) / 3000.0)) + k % 7);
    });
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    auto r = reader->openRun(1, error);
    ASSERT_TRUE(r) << error;
    const Calibration cal = r->info().calibration;
    int status = 0;

    const std::string stats = run("stats " + path + " --from 1.5 --to 8.25 --json", status);
    EXPECT_EQ(status, 0);
    const auto st = r->stats(15000, 82500);
    ASSERT_EQ(numbers(stats, "min").size(), st.size()) << stats;
    EXPECT_EQ(numbers(stats, "scans"), std::vector<double>{double(st[0].count)});
    for (std::size_t c = 0; c < st.size(); ++c) {
        EXPECT_DOUBLE_EQ(numbers(stats, "min")[c], cal.volts(st[c].min));
        EXPECT_DOUBLE_EQ(numbers(stats, "max")[c], cal.volts(st[c].max));
        EXPECT_DOUBLE_EQ(numbers(stats, "mean")[c], cal.volts(st[c].mean));
    }

    const std::string search = run("search " + path + " --channel 2 --above 1.5 --limit 5 --json", status);
    EXPECT_EQ(status, 0);
    const LevelResult lr = findCrossings(*r, {1, 1.5, Edge::Rising, 0, 0, kWholeRun, 5});
    EXPECT_EQ(numbers(search, "count"), std::vector<double>{double(lr.total)}) << search;
    std::vector<double> scans;
    for (const Crossing &c : lr.crossings)
        scans.push_back(double(c.scan));
    EXPECT_EQ(numbers(search, "scan"), scans);

    EXPECT_EQ((run("search " + path + " --channel 5 --above 1", status), status), 2);
    EXPECT_EQ((run("stats " + path + " --from 3 --to 2", status), status), 2);
    EXPECT_EQ((run("stats " + std::string(ADCARD_REVIEW), status), status), 2);
    std::remove(path.c_str());
}

// What the rules did, as `events` lists it: every run's events in order, each
// time in seconds from its run's start, names that JSON must escape escaped.
TEST(Command, ListsTheRulesEvents)
{
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/events.h5";
    {
        AcqSettings s;
        s.ScansPerBlock = 1000;
        s.ChannelCount = 4;
        s.IntrArg5 = 10000;
        RecordingWriter w(std::make_unique<RecordingFile>(path, true), "test", "test", {});
        const RecordingWriter::Clock::time_point t0{};
        const std::vector<int16_t> codes(4000, 2048);
        const auto event = [](const char *rule, int64_t scan, bool fired, double value, const char *note) {
            RuleEvent e;
            e.rule = rule;
            e.scan = scan;
            e.fired = fired;
            e.value = value;
            e.note = note;
            return e;
        };
        w.beginRun(s, 1, t0);
        w.onBlock(0, 0, codes);
        w.onBlock(1, 1, codes);
        w.addEvent(event("过压", 1800, false, 3.5, ""), 3);
        w.addEvent(event("过压", 1500, true, 4.25, ""), 3);
        w.onTickEnd({.timeNs = 3, .blockCount = 2}, t0);
        w.beginRun(s, 4, t0);
        w.onBlock(0, 0, codes);
        w.addEvent(event("a\"b\\c\n", 200, true, -1, "output refused"), 5);
        w.onTickEnd({.timeNs = 5, .blockCount = 1}, t0);
        w.close(6, t0);
    }
    int status = 0;
    const std::string all = run("events " + path + " --json", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(numbers(all, "count"), std::vector<double>{3}) << all;
    EXPECT_EQ(numbers(all, "scan"), (std::vector<double>{1500, 1800, 200})) << "in order of run and scan";
    EXPECT_EQ(numbers(all, "time"), (std::vector<double>{0.15, 0.18, 0.02}));
    EXPECT_EQ(numbers(all, "value"), (std::vector<double>{4.25, 3.5, -1}));
    EXPECT_NE(all.find(R"("rule": "过压", "kind": "fired")"), std::string::npos) << all;
    EXPECT_NE(all.find(R"("rule": "过压", "kind": "cleared")"), std::string::npos) << all;
    EXPECT_NE(all.find(R"("rule": "a\"b\\c\n")"), std::string::npos) << all;
    EXPECT_NE(all.find(R"("note": "output refused")"), std::string::npos) << all;

    const std::string second = run("events " + path + " --run 2 --json", status);
    EXPECT_EQ(numbers(second, "count"), std::vector<double>{1}) << second;
    const std::string text = run("events " + path, status);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
    EXPECT_EQ((run("events " + path + " --run 3", status), status), 2);
    std::remove(path.c_str());
}

} // namespace
} // namespace adcard::query
