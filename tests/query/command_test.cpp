// adcard-review, run as a program, against the engine the window uses, on
// the same file: the same numbers.
#include "query/query.h"
#include "query_files.h"
#include "recording/recording_reader_impl.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <fstream>
#include <regex>

#include <sys/wait.h>
#include <unistd.h>

namespace adcard::query {
namespace {

// Runs adcard-review with `args`, after `env` (variables for the shell);
// its standard output, and with `withErrors` its standard error too.
std::string run(const std::string &args, int &status, bool withErrors = false, const std::string &env = "")
{
    std::string out;
    const std::string command = env + " " + ADCARD_REVIEW + " " + args + (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE *p = ::popen(command.c_str(), "r");
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

// The command line's answers and refusals on one file: 100 blocks of 100
// scans at 10000 scans/s, starting 2026-12-07T12:00:00Z, with a hole at
// blocks 5 and 6, a channel named with a quote and a byte that is not
// UTF-8, and a marker with a control character.
struct CommandRow {
    const char *name;
    std::string args; // "F" stands for the file
    int status;
    std::string said; // in standard output or error
    std::string env = "";
};

using ::PrintTo;

template <typename Row>
class CraftedFile : public ::testing::TestWithParam<Row> {
protected:
    // A file of each test's own: CTest runs the rows as processes side by side.
    void SetUp() override
    {
        std::filesystem::create_directories(ADPANEL_TEST_TMP);
        const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::string(ADPANEL_TEST_TMP) + "/commands_" + std::to_string(std::hash<std::string>{}(
                                                                   std::string(t->name()) + t->test_suite_name())) +
                ".h5";
        ChannelUnits units(4);
        units[1] = {"a\"b\xff", "bar", 2.0, 1.0};
        testing::writeCrafted(path_, 100, 100, {5, 6}, [](int64_t k, int c) {
            return int16_t(c == 3 ? 2048 + 100 * (k / 100 % 2) : 2048 + std::lround(1000 * std::sin(double(k) / 300)));
        }, units, "note\x01" "end");
    }
    void TearDown() override { std::filesystem::remove(path_); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

using Commands = CraftedFile<CommandRow>;

TEST_P(Commands, AnswerOrRefuseWithTheirStatus)
{
    const CommandRow &r = GetParam();
    std::string args = r.args;
    for (std::size_t at; (at = args.find(" F")) != std::string::npos;)
        args.replace(at, 2, " " + path());
    int status = -1;
    const std::string out = run(args, status, true, r.env);
    EXPECT_EQ(status, r.status) << out;
    EXPECT_NE(out.find(r.said), std::string::npos) << "said: " << out;
}

// The first run's start is 2026-12-07T12:00:00.000Z (20:00 in Shanghai).
INSTANTIATE_TEST_SUITE_P(
    Cli, Commands,
    ::testing::Values(
        CommandRow{"version", "--version", 0, "adcard-review "},
        CommandRow{"help_names_prominence", "peaks --help", 0, "--prominence P"},
        CommandRow{"option_equals_value", "stats F --from=0.5 --to=0.75 --json", 0, "\"from\": 0.5, \"to\": 0.75"},
        CommandRow{"double_dash_ends_options", "stats --json -- F", 0, "\"scans\": "},
        CommandRow{"flag_with_value", "stats F --json=yes", 2, "--json takes no value"},
        CommandRow{"option_twice", "stats F --to 1 --to 2", 2, "--to is given twice"},
        CommandRow{"run_on_info", "info F --run 1 --json", 0, "\"run\": 1"},
        CommandRow{"run_that_is_not", "losses F --run 7", 2, "--run: "},
        CommandRow{"from_beyond_int64", "stats F --from 1e15", 2, "--from: "},
        CommandRow{"to_huge", "stats F --to 1e300", 2, "--to: "},
        CommandRow{"to_past_end_is_end", "stats F --from 0.9 --to 25 --json", 0, "\"to\": 1,"},
        CommandRow{"apart_beyond_int64", "peaks F --channel 1 --apart 1e16", 2, "--apart: "},
        CommandRow{"apart_wider_than_any_run", "peaks F --channel 1 --apart 9.2e14 --count 3", 0, "\n1 found\n"},
        CommandRow{"offset_without_colon", "stats F --from 2026-12-07T11:00:00.5-0100 --json", 0, "\"from\": 0.5,"},
        CommandRow{"offset_hours_only", "stats F --from 2026-12-07T13:00:00.5+01 --json", 0, "\"from\": 0.5,"},
        CommandRow{"offset_z", "stats F --from 2026-12-07T12:00:00.25Z --json", 0, "\"from\": 0.25,"},
        CommandRow{"trailing_text", "stats F --from 2026-12-07T12:00:00Zgarbage", 2, "--from: "},
        CommandRow{"bad_offset", "stats F --from 2026-12-07T12:00:00+1:00", 2, "--from: "},
        CommandRow{"no_offset_is_local", "stats F --from 2026-12-07T20:00:00.5 --json", 0, "\"from\": 0.5,",
                   "TZ=Asia/Shanghai"},
        CommandRow{"utc_in", "stats F --utc --from 2026-12-07T12:00:00.5 --json", 0, "\"from\": 0.5,",
                   "TZ=Asia/Shanghai"},
        CommandRow{"info_local_with_offset", "info F", 0, "start 2026-12-07T20:00:00.000+08:00",
                   "TZ=Asia/Shanghai"},
        CommandRow{"info_utc_out", "info F --utc", 0, "start 2026-12-07T12:00:00.000+00:00", "TZ=Asia/Shanghai"},
        CommandRow{"info_json_start_utc", "info F --json", 0,
                   "\"start\": \"2026-12-07T12:00:00.000+00:00\", \"start_local\": \"2026-12-07T20:00:00.000+08:00\"",
                   "TZ=Asia/Shanghai"},
        CommandRow{"printed_start_within_its_ms", "stats F --from 2026-12-07T11:59:59.9995Z --json", 0,
                   "\"from\": 0,"},
        CommandRow{"before_start_by_a_ms", "stats F --from 2026-12-07T11:59:59.999Z", 2, "before the run's start"},
        CommandRow{"stats_in_hole_null", "stats F --from 0.051 --to 0.069 --json", 0,
                   "\"scans\": 0, \"channels\": [{\"min\": null, \"max\": null, \"mean\": null, \"rms\": null"},
        CommandRow{"stats_in_hole_dash", "stats F --from 0.051 --to 0.069", 0, "1\t—\t—\t—\t—\tV"},
        CommandRow{"stats_text_digits", "stats F --from 0.2 --to 0.3", 0, "\n4\t0.0000\t0.2442\t0.1221\t"},
        CommandRow{"search_text_digits", "search F --channel 4 --above 0.1 --limit 1", 0, "value 0.2442\n"},
        CommandRow{"json_escapes_name", "info F --json", 0, "\"name\": \"a\\\"b\xEF\xBF\xBD\""},
        CommandRow{"json_escapes_marker", "losses F --json", 0, "\"marker\": \"note\\u0001end\""},
        CommandRow{"above_and_below", "search F --channel 1 --above 1 --below 0", 2, "exclude each other"},
        CommandRow{"level_beyond_range", "search F --channel 2 --above 20", 2, "-9.0024 to 10.9976 bar"},
        CommandRow{"pattern_in_hex", "changes F --port 0 --pattern 0x1 --mask 0x3", 0, " found"},
        CommandRow{"spectrum_of_one_scan", "spectrum F --from 0.9 --to 0.9001", 2, "--from, --to: "},
        CommandRow{"spectrum_dc_apart", "spectrum F --from 0 --to 0.05 --channel 4 --json", 0, "\"dc\": "},
        CommandRow{"prominence_negative", "peaks F --channel 1 --prominence -1", 2, "--prominence"}),
    kRowName);

// How an exported file opens: by default the header scripts have always
// read, and on request the byte order mark, the window's names and "# "
// lines, on the clock of this machine (Shanghai here) or in UTC.
struct ExportRow {
    const char *name;
    std::string options;
    std::string head; // the file's first bytes; with status 2, in what was said
    int status = 0;
    std::string env = "TZ=Asia/Shanghai";
};

using ExportHeads = CraftedFile<ExportRow>;

TEST_P(ExportHeads, OpenAsAsked)
{
    const ExportRow &r = GetParam();
    const std::string target = path() + ".csv";
    std::filesystem::remove(target);
    int status = -1;
    const std::string said =
        run("export " + path() + " --channels 1,4 --to 0.01 -o " + target + " " + r.options, status, true, r.env);
    EXPECT_EQ(status, r.status) << said;
    if (r.status != 0) {
        EXPECT_NE(said.find(r.head), std::string::npos) << said;
        EXPECT_FALSE(std::filesystem::exists(target));
        return;
    }
    std::ostringstream file;
    file << std::ifstream(target, std::ios::binary).rdbuf();
    std::filesystem::remove(target);
    EXPECT_EQ(file.str().substr(0, r.head.size()), r.head);
    // The data rows follow the header, whatever came before it.
    EXPECT_NE(file.str().find("\n0.0000,"), std::string::npos) << file.str().substr(0, 400);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ExportHeads,
    ::testing::Values(ExportRow{"script_header_by_default", "", "time (s),channel 1 (V),channel 4 (V)\n0.0000,"},
                      ExportRow{"no_bom_is_the_default", "--no-bom", "time (s),channel 1 (V),channel 4 (V)\n"},
                      ExportRow{"bom", "--bom", "\xEF\xBB\xBFtime (s),channel 1 (V),channel 4 (V)\n"},
                      ExportRow{"window_names", "--window-names", "时间 (s),通道1,通道4\n0.0000,"},
                      ExportRow{"comments_in_local_time", "--with-header-comments",
                                "# start 2026-12-07T20:00:00.000+08:00\n"
                                "# channel 1 (V) = (code - 2048) * 0.002442002442 V\n"
                                "# channel 4 (V) = (code - 2048) * 0.002442002442 V\n"
                                "time (s),channel 1 (V),channel 4 (V)\n"},
                      ExportRow{"comments_in_utc_for_a_spreadsheet", "--utc --with-header-comments --bom --window-names",
                                "\xEF\xBB\xBF# 开始 2026-12-07T12:00:00.000+00:00\n# 通道1 = (码 - 2048) * "},
                      ExportRow{"bom_and_no_bom", "--bom --no-bom", "--bom and --no-bom", 2}),
    kRowName);

// A recording whose writer died (no panel holds it now) was not closed:
// info must not say that it is still being recorded.
TEST(Command, AKilledRecordingIsNotStillBeingRecorded)
{
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/killed.h5";
    std::filesystem::remove(path);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AcqSettings s;
        s.ScansPerBlock = 100;
        s.ChannelCount = 4;
        s.IntrArg5 = 10000;
        RecordingWriter w(std::make_unique<RecordingFile>(path, true), "test", "test", {});
        const RecordingWriter::Clock::time_point t0{};
        w.beginRun(s, 1796644800000000000, t0);
        w.onBlock(0, 0, std::vector<int16_t>(400, 2048));
        TickEnd tick;
        tick.timeNs = 1796644800010000000;
        tick.blockCount = 1;
        w.onTickEnd(tick, t0);
        ::_exit(0); // as if killed: nothing closes the file
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string info = run("info " + path, status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("(not closed"), std::string::npos) << info;
    EXPECT_EQ(info.find("still being recorded"), std::string::npos) << info;
    std::filesystem::remove(path);
}

// The help fits an 80-column terminal, counted in characters (UTF-8).
TEST(Command, HelpFitsEightyColumns)
{
    int status = -1;
    const std::string help = run("--help", status);
    ASSERT_EQ(status, 0);
    std::size_t line = 0, columns = 0, lines = 0;
    for (const char ch : help) {
        if (ch == '\n') {
            EXPECT_LE(columns, 80u) << "line " << line + 1;
            ++line, ++lines, columns = 0;
        } else if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) {
            ++columns;
        }
    }
    EXPECT_GT(lines, 20u) << help;
}

// Every --json answer is JSON that a strict reader takes, whatever bytes
// the file's texts hold.
TEST_F(Commands, JsonParsesWithPython)
{
    for (const std::string args :
         {"info F --json", "losses F --json", "stats F --json", "peaks F --channel 2 --json"}) {
        std::string a = args;
        a.replace(a.find(" F"), 2, " " + path());
        int status = -1;
        run(a + " | python3 -c 'import json, sys; json.load(sys.stdin)'", status);
        EXPECT_EQ(status, 0) << args;
    }
}


std::string contents(const std::string &path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// Targets an export must refuse, with status 2, leaving them as they were:
// the recording itself under any name, a file a recorder holds, and a file
// that exists when --overwrite was not given.
struct RefusedTarget {
    const char *name;
    const char *target; // in the test's folder; the source is source.h5
    const char *options;
    const char *reason;
};

const RefusedTarget kRefusedTargets[] = {
    {"the source itself", "source.h5", "--overwrite", "is the recording being exported"},
    {"the source spelt otherwise", "./sub/../source.h5", "--overwrite", "is the recording being exported"},
    {"the source through a hard link", "linked.h5", "--overwrite", "is the recording being exported"},
    {"a file being recorded", "recording.h5", "--overwrite", "is being recorded by a panel"},
    {"an existing file without --overwrite", "old.csv", "", "already exists"},
};

TEST(Command, ExportRefusesATargetItWouldDestroy)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "export_targets";
    fs::remove_all(dir);
    fs::create_directories(dir / "sub");
    const std::string source = (dir / "source.h5").string();
    testing::writeCrafted(source, 100, 20, {}, [](int64_t k, int c) { return int16_t((k + c) % 4096); });
    fs::create_hard_link(source, dir / "linked.h5");
    std::ofstream(dir / "old.csv") << "kept\n";
    // A recorder's file, locked as long as it is open, as while a panel records.
    const std::string recording = (dir / "recording.h5").string();
    const RecordingFile recorder(recording, false);
    const std::string sourceBytes = contents(source);
    const std::string recordingBytes = contents(recording);

    for (const RefusedTarget &c : kRefusedTargets) {
        SCOPED_TRACE(c.name);
        const std::string target = (dir / c.target).string();
        const std::string before = contents(target);
        int status = 0;
        const std::string said = run("export " + source + " -o " + target + " " + c.options, status, true);
        EXPECT_EQ(status, 2) << said;
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
        EXPECT_EQ(contents(target), before);
    }
    EXPECT_EQ(contents(source), sourceBytes);
    EXPECT_EQ(contents(recording), recordingBytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 5) << "nothing left beside them";

    // The same names are written once they may be.
    int status = 0;
    run("export " + source + " -o " + (dir / "old.csv").string() + " --overwrite", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents((dir / "old.csv").string()).rfind("time (s)", 0), 0u);
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
    EXPECT_NE(all.find(R"("rule": "a\"b\\c\u000a")"), std::string::npos) << all;
    EXPECT_NE(all.find(R"("note": "output refused")"), std::string::npos) << all;

    const std::string second = run("events " + path + " --run 2 --json", status);
    EXPECT_EQ(numbers(second, "count"), std::vector<double>{1}) << second;
    const std::string text = run("events " + path, status);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
    EXPECT_EQ((run("events " + path + " --run 3", status), status), 2);
    std::remove(path.c_str());
}

// A dry run: rules over a recording made without them give the events a
// value-by-value pass over its raw codes gives, through the same evaluator
// as the panel's (a level exactly on a code, hysteresis, a for_ms across
// blocks).
TEST(Command, DryRunOfRulesEqualsABruteForceOverTheRawCodes)
{
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/dry_run.h5";
    const std::string rulesPath = std::string(ADPANEL_TEST_TMP) + "/dry_run.json";
    // Channel 1: a sawtooth over codes 1648..2448 (about -0.98 V .. +0.98 V),
    // 400 scans a period; blocks of 100 scans.
    const auto code = [](int64_t k, int c) { return int16_t(c == 0 ? 1648 + (k * 4) % 800 : 2048); };
    testing::writeCrafted(path, 100, 30, {}, code);
    std::ofstream(rulesPath) << R"({"rules": [
        {"name": "零", "when": {"channel": 1, "above": 0.0, "hysteresis": 0.5}, "then": {"mark": true}},
        {"name": "久", "when": {"channel": 1, "above": 0.5, "for_ms": 5}, "then": {"mark": true}}]})";
    int status = 0;
    const std::string json = run("events " + path + " --rules " + rulesPath + " --json", status);
    ASSERT_EQ(status, 0) << json;

    // The brute force, on the values as the panel converts them.
    std::vector<double> want;
    const Calibration cal = kPanelCalibration;
    bool zero = false, held = false;
    int64_t above = 0;
    for (int64_t k = 0; k < 3000; ++k) {
        const double v = cal.volts(code(k, 0));
        if (!zero && v > 1e-12) // 0 V is exactly code 2048: not above
            zero = true, want.push_back(double(k));
        else if (zero && v <= -0.5)
            zero = false, want.push_back(double(k));
        above = v > 0.5 ? above + 1 : 0;
        if (!held && above >= 50) // 5 ms at 10000 scans/s
            held = true, want.push_back(double(k));
        else if (held && v <= 0.5)
            held = false, want.push_back(double(k));
    }
    std::sort(want.begin(), want.end());
    std::vector<double> got = numbers(json, "scan");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want) << json;
    EXPECT_EQ(numbers(json, "count"), std::vector<double>{double(want.size())});
    // Text shows a value with the digits one code's step justifies (4 in volts).
    const std::string text = run("events " + path + " --rules " + rulesPath, status);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\t(fired|cleared)\t-?[0-9]+\.[0-9]{4}\n)"))) << text;
    EXPECT_FALSE(std::regex_search(text, std::regex(R"(\.[0-9]{5})"))) << text;

    // A rule the file's channels refuse is a bad argument.
    std::ofstream(rulesPath) << R"({"rules": [{"name": "x", "when": {"channel": 9, "above": 0}}]})";
    const std::string refused = run("events " + path + " --rules " + rulesPath, status, true);
    EXPECT_EQ(status, 2) << refused;
    EXPECT_NE(refused.find("\"channel\""), std::string::npos) << refused;
    std::remove(path.c_str());
    std::remove(rulesPath.c_str());
}

} // namespace
} // namespace adcard::query
