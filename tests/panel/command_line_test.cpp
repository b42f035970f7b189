// The program's command line: what each set of options decides, and the real
// program run with them (exit statuses a script relies on).
#include "panel/command_line.h"
#include "tests/support/row_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <hdf5.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <string>
#include <algorithm>
#include <vector>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names

struct ArgsRow {
    const char *name;
    std::vector<const char *> args;
    int status;   // -1: the program runs
    bool history; // when it runs
    const char *out;
    const char *err;
};

class CommandLineRows : public ::testing::TestWithParam<ArgsRow> {};

TEST_P(CommandLineRows, DecideWhetherAndHowTheProgramRuns)
{
    const ArgsRow &row = GetParam();
    QStringList args{QStringLiteral("/usr/bin/adcard-panel")};
    for (const char *a : row.args)
        args << QString::fromUtf8(a);
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (row.status < 0) {
        ASSERT_TRUE(parsed.run.has_value()) << parsed.err;
        EXPECT_EQ(parsed.run->history, row.history);
        EXPECT_EQ(parsed.run->eventsOnly, std::count(row.args.begin(), row.args.end(), std::string("--events-only")) > 0);
    } else {
        EXPECT_FALSE(parsed.run.has_value());
        EXPECT_EQ(parsed.status, row.status);
    }
    EXPECT_EQ(parsed.out.rfind(row.out, 0), 0u) << parsed.out;
    EXPECT_EQ(parsed.err.rfind(row.err, 0), 0u) << parsed.err;
    EXPECT_EQ(parsed.out.empty(), *row.out == '\0');
    EXPECT_EQ(parsed.err.empty(), *row.err == '\0');
}

#define NEW_FILE ADPANEL_PROGRAM ".absent.h5"
INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLineRows,
    ::testing::Values(
        ArgsRow{"none", {}, -1, false, "", ""}, ArgsRow{"history", {"--history"}, -1, true, "", ""},
        ArgsRow{"qt_option_passes", {"-platform", "offscreen", "--history"}, -1, true, "", ""},
        ArgsRow{"help", {"--help"}, 0, false, "Usage: adcard-panel [options]\n", ""},
        ArgsRow{"help_short", {"-h", "--bogus"}, 2, false, "", "adcard-panel: Unknown option 'bogus'.\nUsage:"},
        ArgsRow{"version", {"--version"}, 0, false, "adcard-panel " ADPANEL_VERSION "\n", ""},
        ArgsRow{"unknown", {"--recrod"}, 2, false, "", "adcard-panel: Unknown option 'recrod'.\nUsage: adcard-panel"},
        ArgsRow{"stray_argument", {"file.h5"}, 2, false, "", "adcard-panel: unexpected argument 'file.h5'\nUsage:"},
        ArgsRow{"record_new_file", {"--record", NEW_FILE}, -1, false, "", ""},
        ArgsRow{"record_in_missing_folder", {"--record", "/nonexistent/new.h5"}, 2, false, "",
                "adcard-panel: cannot record to '/nonexistent/new.h5': no folder /nonexistent\n"},
        ArgsRow{"record_below_a_file", {"--record", ADPANEL_PROGRAM "/new.h5"}, 2, false, "",
                "adcard-panel: cannot record to '" ADPANEL_PROGRAM "/new.h5': " ADPANEL_PROGRAM " is not a folder\n"},
        ArgsRow{"record_to_a_folder", {"--record", "/tmp", "--overwrite"}, 2, false, "",
                "adcard-panel: cannot record to '/tmp': it is a folder\n"},
        ArgsRow{"record_without_file", {"--record"}, 2, false, "", "adcard-panel: Missing value after '--record'."},
        ArgsRow{"record_existing_file", {"--record", ADPANEL_PROGRAM}, 2, false, "", "adcard-panel: '" ADPANEL_PROGRAM "' exists; give --overwrite"},
        ArgsRow{"record_overwrite", {"--record", ADPANEL_PROGRAM, "--overwrite"}, -1, false, "", ""},
        ArgsRow{"overwrite_alone", {"--overwrite"}, 2, false, "", "adcard-panel: --overwrite applies only with --record\nUsage:"},
        ArgsRow{"record_events_only", {"--record", NEW_FILE, "--events-only"}, -1, false, "", ""},
        ArgsRow{"events_only_alone", {"--events-only", "--start"}, 2, false, "",
                "adcard-panel: --events-only applies only with --record\nUsage:"},
        ArgsRow{"unattended", {"--start", "--stop-after", "8h", "--record", NEW_FILE}, -1, false, "", ""},
        ArgsRow{"rules_file", {"--start", "--rules", "r.json"}, -1, false, "", ""},
        ArgsRow{"rules_without_file", {"--rules", ""}, 2, false, "", "adcard-panel: --rules needs a file name\nUsage:"},
        ArgsRow{"rules_with_open", {"--open", "a.h5", "--rules", "r.json"}, 2, false, "",
                "adcard-panel: --open takes no --history, --record, --start, --stop-after or --rules\nUsage:"},
        ArgsRow{"stop_after_without_unit", {"--stop-after", "90"}, 2, false, "",
                "adcard-panel: --stop-after takes a duration such as 90s, 10m, 8h or 2d, not '90': no unit (give s, "
                "m, min, h or d)\nUsage:"},
        ArgsRow{"stop_after_in_days", {"--start", "--stop-after", "2d"}, -1, false, "", ""}),
    kRowName);

// --split, --keep-free and --keep: what they set for the recorder, and each
// refusal (status 2) naming the option.
struct SeriesRow {
    const char *name;
    std::vector<const char *> args; // after --record NEW_FILE, unless "-" comes first
    const char *err;                // standard error starts with this; empty: the program runs
    int64_t everyNs = 0;
    int64_t everyBytes = 0;
    const char *text = "";
    int64_t keepFreeBytes = 0;
    int64_t keepNs = 0;
};

class SeriesOptions : public ::testing::TestWithParam<SeriesRow> {};

TEST_P(SeriesOptions, SetTheSeriesOrAreRefusedByName)
{
    const SeriesRow &row = GetParam();
    QStringList args{QStringLiteral("adcard-panel")};
    auto first = row.args.begin();
    if (first != row.args.end() && std::string(*first) == "-")
        ++first;
    else
        args << QStringLiteral("--record") << QStringLiteral(NEW_FILE);
    for (auto a = first; a != row.args.end(); ++a)
        args << QString::fromUtf8(*a);
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (*row.err != '\0') {
        EXPECT_FALSE(parsed.run.has_value());
        EXPECT_EQ(parsed.status, kExitUsage);
        EXPECT_EQ(parsed.err.rfind(row.err, 0), 0u) << parsed.err;
        return;
    }
    ASSERT_TRUE(parsed.run.has_value()) << parsed.err;
    EXPECT_EQ(parsed.run->split.everyNs, row.everyNs);
    EXPECT_EQ(parsed.run->split.everyBytes, row.everyBytes);
    EXPECT_EQ(parsed.run->split.text, row.text);
    EXPECT_EQ(parsed.run->retention.keepFreeBytes, row.keepFreeBytes);
    EXPECT_EQ(parsed.run->retention.keepNs, row.keepNs);
}

constexpr int64_t kSec = 1'000'000'000;
constexpr int64_t kMiB = 1 << 20;

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesOptions,
    ::testing::Values(
        SeriesRow{"no_split", {}, ""},
        SeriesRow{"hourly", {"--split", "1h"}, "", 3600 * kSec, 0, "1h"},
        SeriesRow{"minutes_spelt_min", {"--split", "10min"}, "", 600 * kSec, 0, "10m"},
        SeriesRow{"sixty_minutes_is_an_hour", {"--split", "60m"}, "", 3600 * kSec, 0, "1h"},
        SeriesRow{"shortest_period", {"--split", "10s"}, "", 10 * kSec, 0, "10s"},
        SeriesRow{"by_size", {"--split", "500MiB"}, "", 0, 500 * kMiB, "500MiB"},
        SeriesRow{"smallest_size", {"--split", "10240KiB"}, "", 0, 10 * kMiB, "10MiB"},
        SeriesRow{"with_retention", {"--split", "1d", "--keep-free", "1GiB", "--keep", "7d"}, "", 86400 * kSec, 0, "1d",
                  1 << 30, 7 * 86400 * kSec},
        SeriesRow{"existing_name_is_no_matter", {"-", "--record", ADPANEL_PROGRAM, "--split", "1h"}, "", 3600 * kSec, 0,
                  "1h"},
        SeriesRow{"period_too_short", {"--split", "9s"}, "adcard-panel: --split takes at least 10s or 10MiB, not '9s'\n"},
        SeriesRow{"size_too_small", {"--split", "9MiB"}, "adcard-panel: --split takes at least 10s or 10MiB, not '9MiB'\n"},
        SeriesRow{"zero", {"--split", "0s"}, "adcard-panel: --split takes at least 10s or 10MiB, not '0s'\n"},
        SeriesRow{"decimal_size", {"--split", "500MB"},
                  "adcard-panel: --split takes a period such as 30s, 10m, 1h or 1d, or a size such as 500MiB or 2GiB, "
                  "not '500MB': 'MB' may mean powers of 1000 or of 1024; write MiB\nUsage:"},
        SeriesRow{"overflowing_size", {"--split", "9000000TiB"}, "adcard-panel: --split takes a period"},
        SeriesRow{"with_overwrite", {"--split", "1h", "--overwrite"},
                  "adcard-panel: --overwrite does not go with --split: a series never replaces a file\n"},
        SeriesRow{"split_without_record", {"-", "--start", "--split", "1h"},
                  "adcard-panel: --split applies only with --record\n"},
        SeriesRow{"keep_free_without_record", {"-", "--keep-free", "1GiB"},
                  "adcard-panel: --keep-free applies only with --record\n"},
        SeriesRow{"keep_without_split", {"--keep", "7d"},
                  "adcard-panel: --keep applies only with --split: it deletes old files of a series\n"},
        SeriesRow{"keep_free_ambiguous", {"--split", "1h", "--keep-free", "20GB"},
                  "adcard-panel: --keep-free takes a size such as 20GiB, not '20GB': 'GB' may mean powers of 1000 or "
                  "of 1024; write GiB\n"},
        SeriesRow{"keep_free_zero", {"--split", "1h", "--keep-free", "0GiB"},
                  "adcard-panel: --keep-free takes a size such as 20GiB, not '0GiB': nothing to keep\n"},
        SeriesRow{"keep_free_beyond_the_disk", {"--split", "1h", "--keep-free", "1000000TiB"},
                  "adcard-panel: --keep-free 1000000TiB: more than the whole disk of "},
        SeriesRow{"keep_in_hours", {"--split", "1h", "--keep", "12h"}, "", 3600 * kSec, 0, "1h", 0, 12 * 3600 * kSec},
        SeriesRow{"keep_fraction", {"--split", "1h", "--keep", "1.5d"},
                  "adcard-panel: --keep takes an age such as 7d or 12h, not '1.5d': not a whole number"},
        SeriesRow{"keep_a_size", {"--split", "1h", "--keep", "2GiB"},
                  "adcard-panel: --keep takes an age such as 7d or 12h, not '2GiB': unknown unit 'GiB'"}),
    kRowName);

struct DurationRow {
    const char *name;
    const char *text;
    long long ms; // -1: refused
};

class Durations : public ::testing::TestWithParam<DurationRow> {};

TEST_P(Durations, AreWholeSecondsMinutesHoursOrDaysWithinATimersRange)
{
    const auto d = parseDuration(QString::fromUtf8(GetParam().text));
    EXPECT_EQ(d ? d->count() : -1, GetParam().ms);
}

INSTANTIATE_TEST_SUITE_P(Rows, Durations,
                         ::testing::Values(DurationRow{"seconds", "90s", 90'000}, DurationRow{"minutes", "10m", 600'000},
                                           DurationRow{"hours", "8h", 28'800'000},
                                           DurationRow{"longest", "576h", 2'073'600'000},
                                           DurationRow{"beyond_a_timer", "597h", -1}, DurationRow{"zero", "0s", -1},
                                           DurationRow{"fraction", "1.5h", -1}, DurationRow{"negative", "-5s", -1},
                                           DurationRow{"huge", "999999999h", -1}, DurationRow{"blank", "", -1},
                                           DurationRow{"days", "2d", 172'800'000},
                                           DurationRow{"most_days", "24d", 2'073'600'000},
                                           DurationRow{"beyond_a_timer_in_days", "25d", -1},
                                           DurationRow{"minutes_spelt_min", "10min", 600'000}),
                         kRowName);

// Rows of every block table in a recording (the root's, or its first run's
// in the earlier layout); -1 if the file does not open.
long long recordedBlocks(const QString &path)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const hid_t file = H5Fopen(path.toLocal8Bit().constData(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0)
        return -1;
    long long rows = -1;
    for (const char *name : {"/blocks", "/run0001/blocks"}) {
        const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
        if (set < 0)
            continue;
        const hid_t space = H5Dget_space(set);
        hsize_t dims[2] = {0, 0};
        H5Sget_simple_extent_dims(space, dims, nullptr);
        rows = static_cast<long long>(dims[0]);
        H5Sclose(space);
        H5Dclose(set);
        break;
    }
    H5Fclose(file);
    return rows;
}

struct RunRow {
    const char *name;
    std::vector<const char *> args; // "FILE": a record file in a fresh folder
    std::vector<const char *> env;  // NAME=value, or NAME alone to remove it
    int status;
    const char *err; // standard error starts with this; for status 1, it is one line
    bool lockedByAnother = false; // FILE exists, held by another HDF5 writer
};

class ProgramRuns : public ::testing::TestWithParam<RunRow> {};

TEST_P(ProgramRuns, EndWithTheStatusAScriptReads)
{
    const RunRow &row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("rec.h5"));
    const QString stats = dir.filePath(QStringLiteral("stats.txt"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QFileInfo(QStringLiteral(ADCARD_SIM_LIBRARY)).absolutePath());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ADCARD_SIM_STATS"), stats);
    for (const char *e : row.env) {
        const QString s = QString::fromUtf8(e);
        if (s.contains(QLatin1Char('=')))
            env.insert(s.section(QLatin1Char('='), 0, 0), s.section(QLatin1Char('='), 1));
        else
            env.remove(s);
    }
    // Rules files the rows name as RULES_<name>.
    const std::map<QByteArray, QByteArray> rulesFiles = {
        {"RULES_STOP", R"({"rules": [{"name": "停止", "when": {"channel": 1, "above": -4.9}, "then": {"stop": "acquisition"}}]})"},
        {"RULES_CLOSE", R"({"rules": [{"name": "关闭", "when": {"channel": 1, "above": -4.9}, "then": {"stop": "recording"}}]})"},
        {"RULES_BAD", R"({"rules": [{"name": "坏", "when": {"channel": 1, "abvoe": 1}, "then": {"mark": true}}]})"},
    };
    QStringList args;
    for (const char *a : row.args) {
        if (const auto r = rulesFiles.find(QByteArray(a)); r != rulesFiles.end()) {
            QFile rules(dir.filePath(QString::fromLatin1(a) + QStringLiteral(".json")));
            ASSERT_TRUE(rules.open(QIODevice::WriteOnly));
            rules.write(r->second);
            args << rules.fileName();
            continue;
        }
        args << (QByteArray(a) == "FILE" ? file : QString::fromUtf8(a));
    }
    int lock = -1;
    if (row.lockedByAnother) {
        lock = ::open(file.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    }
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ADPANEL_PROGRAM), args);
    ASSERT_TRUE(p.waitForFinished(60000));
    if (lock >= 0)
        ::close(lock);
    const QByteArray err = p.readAllStandardError();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(p.exitCode(), row.status) << err.toStdString();
    EXPECT_TRUE(err.startsWith(row.err)) << err.toStdString();
    if (!row.args.empty() && std::string(row.args.back()) == "RULES_BAD") {
        EXPECT_TRUE(err.contains("adcard-panel: ") && err.contains("坏") && err.contains("abvoe"))
            << "names the rule and the key: " << err.toStdString();
    }
    if (row.status == kExitNoDisplay) {
        EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    }
    if (!args.contains(file) || row.status == kExitUsage || env.contains(QStringLiteral("ADPANEL_FAKE_HOST_MODE")))
        return;
    const std::string last = row.args.empty() ? std::string() : row.args.back();
    if (last == "RULES_STOP") {
        EXPECT_TRUE(p.readAllStandardOutput().contains("the rule '停止' stopped the acquisition"));
    }
    if (last == "RULES_CLOSE") {
        // Closed at the first tick: acquisition went on without it.
        EXPECT_TRUE(p.readAllStandardOutput().contains("the rule '关闭' closed the recording"));
        EXPECT_GE(recordedBlocks(file), 1);
        return;
    }
    // Every block the card handed over is in the file, whole run long.
    QFile statsFile(stats);
    ASSERT_TRUE(statsFile.open(QIODevice::ReadOnly)) << "the card never stopped";
    std::map<std::string, long long> counters;
    for (const QByteArray &line : statsFile.readAll().split('\n'))
        if (const QList<QByteArray> kv = line.split(' '); kv.size() == 2)
            counters[kv[0].toStdString()] = kv[1].toLongLong();
    EXPECT_GT(counters["delivered"], 0);
    EXPECT_EQ(recordedBlocks(file), counters["delivered"]);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProgramRuns,
    ::testing::Values(
        // A wrong option ends it before the driver library is even looked for.
        RunRow{"wrong_option", {"--no-such-option"}, {"LD_LIBRARY_PATH=/nonexistent"}, 2,
               "adcard-panel: Unknown option 'no-such-option'.\n"},
        RunRow{"unwritable_record_file", {"--record", "/nonexistent/rec.h5"}, {}, 2, "adcard-panel: cannot record to"},
        RunRow{"split_too_short", {"--start", "--record", "FILE", "--split", "5s"}, {"LD_LIBRARY_PATH=/nonexistent"}, 2,
               "adcard-panel: --split takes at least 10s or 10MiB, not '5s'\n"},
        RunRow{"no_display", {}, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}, 1,
               "adcard-panel: no display"},
        RunRow{"display_that_does_not_answer", {}, {"QT_QPA_PLATFORM=xcb", "DISPLAY=:4711", "WAYLAND_DISPLAY"}, 1,
               "adcard-panel: cannot open the window: "},
        RunRow{"unattended_recording", {"--start", "--stop-after", "3s", "--record", "FILE"}, {}, 0, ""},
        // Every fifth fetch fails: those blocks are holes in the file.
        RunRow{"unattended_recording_missing_blocks", {"--start", "--stop-after", "3s", "--record", "FILE"},
               {"ADCARD_SIM_FAIL_ADRESULT_EVERY=5"}, 3, ""},
        // The host ends at the first QueryBuf: the recording stops with it, long before --stop-after.
        RunRow{"unattended_recording_host_lost",
               {"--start", "--stop-after", "3s", "--record", "FILE", "--driver-host=" ADPANEL_FAKE_HOST},
               {"ADPANEL_FAKE_HOST_MODE=exit"}, 3, ""},
        // A rule's stop is what was asked: status 0, every block up to it in the file.
        RunRow{"rule_stops_acquisition", {"--start", "--stop-after", "60s", "--record", "FILE", "--rules", "RULES_STOP"},
               {}, 0, ""},
        RunRow{"rule_closes_recording", {"--start", "--stop-after", "2s", "--record", "FILE", "--rules", "RULES_CLOSE"},
               {}, 0, ""},
        RunRow{"bad_rules_file", {"--start", "--stop-after", "60s", "--rules", "RULES_BAD"}, {}, 2, ""},
        // Refused when armed, not by the command line: nothing starts.
        RunRow{"record_file_held_by_another_writer", {"--start", "--stop-after", "3s", "--record", "FILE", "--overwrite"},
               {}, 2, "", true}),
    kRowName);

} // namespace
} // namespace adcard
