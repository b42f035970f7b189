// The CSV export against a small run held in memory: what the file says,
// and that the chosen name holds either a whole export or what it held before.
#include "export/csv_export.h"

#include "recording/recording_reader_impl.h"
#include "tests/review/review_files.h"
#include "tests/review/time_zone.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <sys/resource.h>

namespace adcard {
namespace {

namespace fs = std::filesystem;
using ::PrintTo; // rows print as their name

// Two channels, two scans a block; block 2 (scans 4 and 5) never came.
class HoledRun final : public RecordedRun {
public:
    // From scan `failAt` on, reading fails.
    explicit HoledRun(double rate, int64_t failAt = 99) : failAt_(failAt) { info_.scansPerSecond = rate; }
    const RecordedRunInfo &info() const override { return info_; }
    int channels() const override { return 2; }
    int64_t scanCount() const override { return 8; }
    double scansPerSecond() const override { return info_.scansPerSecond; }
    void summarise(double, double, int, std::span<ColumnSummary>) const override {}
    std::vector<RecordedMarker> markers() const override { return markers_; }
    std::vector<RecordedDigital> digital(int64_t, int64_t) const override { return {}; }
    std::vector<RangeStats> stats(int64_t, int64_t) const override { return {}; }
    double summaryProgress() const override { return 1.0; }
    bool forEachScan(int64_t first, int64_t last,
                     const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const override
    {
        static const std::pair<int64_t, std::array<int16_t, 2>> kScans[] = {
            {0, {2048, 4095}}, {1, {0, 2049}}, {2, {1, 2}}, {3, {3, 4}}, {6, {4000, 100}}, {7, {2047, 2048}}};
        for (const auto &[at, codes] : kScans)
            if (at >= failAt_ || (at >= first && at < last && !scan(at, codes)))
                return false;
        return true;
    }
    std::string readError() const override { return failAt_ < 99 ? "the disk said no" : ""; }

    RecordedRunInfo info_;
    std::vector<RecordedMarker> markers_;

private:
    int64_t failAt_;
};

// A locale that writes 3,5: the German one, without needing it installed.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

struct CsvCase {
    const char *name;
    double rate;
    int64_t first, last;
    const char *expected;
};

const CsvCase kCsvCases[] = {
    {"whole run, the hole left out", 1000, 0, 8,
     "time (s),channel 1 (V),channel 2 (V)\n"
     "0.000,0.0000,4.9988\n0.001,-5.0012,0.0024\n0.002,-4.9988,-4.9963\n"
     "0.003,-4.9939,-4.9915\n0.006,4.7668,-4.7570\n0.007,-0.0024,0.0000\n"},
    {"a range starting and ending inside blocks", 1000, 3, 7,
     "time (s),channel 1 (V),channel 2 (V)\n0.003,-4.9939,-4.9915\n0.006,4.7668,-4.7570\n"},
    {"a rate that is no power of ten", 3000, 6, 8,
     "time (s),channel 1 (V),channel 2 (V)\n0.002000,4.7668,-4.7570\n0.002333,-0.0024,0.0000\n"},
    {"unknown rate: the scan index", 0, 5, 8, "scan,channel 1 (V),channel 2 (V)\n6,4.7668,-4.7570\n7,-0.0024,0.0000\n"},
};

TEST(CsvExport, RowsOfPresentScansWithDecimalPointsWhateverTheLocale)
{
    const std::locale comma(std::locale::classic(), new CommaPunct);
    for (const CsvCase &c : kCsvCases) {
        for (const bool german : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (german ? " (comma locale)" : ""));
            const std::locale previous = std::locale::global(german ? comma : std::locale::classic());
            std::ostringstream out;
            out.imbue(std::locale());
            const ExportResult r = writeCsv(HoledRun(c.rate), c.first, c.last, out);
            std::locale::global(previous);
            EXPECT_EQ(r.outcome, ExportResult::Outcome::Written);
            EXPECT_EQ(out.str(), c.expected);
        }
    }
}

// How the file opens, for a script (the plain header it has always read) or
// for a spreadsheet (the byte order mark, the window's names, and on request
// "# " lines before the header). The rows after the header never change.
struct StyleRow {
    const char *name;
    CsvStyle style;
    const char *head; // everything before the first data row
};

class CsvStyleRows : public ::testing::TestWithParam<StyleRow> {
    testing::ScopedTimeZone zone_{"Asia/Shanghai"};
};

TEST_P(CsvStyleRows, HeadThenTheSameRows)
{
    const StyleRow &r = GetParam();
    constexpr int64_t kStart = 1796712142974000000; // 2026-12-08T06:42:22.974 UTC
    HoledRun run(1000);
    run.info_.startTimeNs = kStart;
    run.info_.units = {{"入口压力", "bar", 2.0, 0.0}};
    run.markers_ = {{0, kStart, "start"}, {3, kStart + 3000000, "valve\nopen"}, {6, kStart + 6000000, "after"}};
    std::ostringstream plain, styled;
    ASSERT_EQ(writeCsv(run, 0, 6, plain).outcome, ExportResult::Outcome::Written);
    ASSERT_EQ(writeCsv(run, 0, 6, styled, {}, {}, r.style).outcome, ExportResult::Outcome::Written);
    const std::string rows = plain.str().substr(plain.str().find('\n') + 1);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(styled.str(), r.head + rows);
}

const char *const kScriptHeader = "time (s),入口压力 (bar),channel 2 (V)\n";
const StyleRow kStyles[] = {
    {"script_default", {}, kScriptHeader},
    {"bom", {.bom = true}, "\xEF\xBB\xBFtime (s),入口压力 (bar),channel 2 (V)\n"},
    {"window_names", {.windowNames = true}, "时间 (s),入口压力 (bar),通道2\n"},
    {"comments_local_time",
     {.comments = true},
     "# start 2026-12-08T14:42:22.974+08:00\n"
     "# 入口压力 (bar) = (code - 2048) * 0.004884004884 bar\n"
     "# channel 2 (V) = (code - 2048) * 0.002442002442 V\n"
     "# marker 0 s 2026-12-08T14:42:22.974+08:00: start\n"
     "# marker 0.003 s 2026-12-08T14:42:22.977+08:00: valve open\n"
     "time (s),入口压力 (bar),channel 2 (V)\n"},
    {"spreadsheet_comments_utc_mark_first",
     {.bom = true, .windowNames = true, .comments = true, .utc = true},
     "\xEF\xBB\xBF# 开始 2026-12-08T06:42:22.974+00:00\n"
     "# 入口压力 (bar) = (码 - 2048) * 0.004884004884 bar\n"
     "# 通道2 = (码 - 2048) * 0.002442002442 V\n"
     "# 标记 0 s 2026-12-08T06:42:22.974+00:00: start\n"
     "# 标记 0.003 s 2026-12-08T06:42:22.977+00:00: valve open\n"
     "时间 (s),入口压力 (bar),通道2\n"},
};
INSTANTIATE_TEST_SUITE_P(Rows, CsvStyleRows, ::testing::ValuesIn(kStyles), kRowName);

// The target holds "old" beforehand, unless it is a directory.
struct FileCase {
    const char *name;
    bool cancel;            // the progress callback cancels at once
    rlim_t sizeLimit;       // RLIMIT_FSIZE while exporting; 0: none
    bool targetIsDirectory; // the rename must fail
    ExportResult::Outcome outcome;
    bool readFails = false; // the recording cannot be read past scan 3
};

const FileCase kFileCases[] = {
    {"replaces a file once complete", false, 0, false, ExportResult::Outcome::Written},
    {"cancelled, the old file stays", true, 0, false, ExportResult::Outcome::Cancelled},
    {"the disk refuses, the old file stays", false, 64, false, ExportResult::Outcome::Failed},
    {"the name is a directory", false, 0, true, ExportResult::Outcome::Failed},
    {"a read fails: not a cancel", false, 0, false, ExportResult::Outcome::Failed, true},
};

TEST(CsvExport, TheChosenNameHoldsAWholeExportOrWhatItHeldBefore)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "csv_export";
    const HoledRun run(1000);
    std::ostringstream whole;
    writeCsv(run, 0, run.scanCount(), whole);
    std::signal(SIGXFSZ, SIG_IGN); // so that write() says EFBIG instead
    for (const FileCase &c : kFileCases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path target = dir / "out.csv";
        if (c.targetIsDirectory)
            fs::create_directories(target / "inside");
        else
            std::ofstream(target) << "old";

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit limited{c.sizeLimit ? c.sizeLimit : saved.rlim_cur, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
        const ExportResult r = exportCsvFile(c.readFails ? HoledRun(1000, 3) : run, 0, run.scanCount(),
                                             {target.string(), "", true}, [&](double) { return !c.cancel; });
        setrlimit(RLIMIT_FSIZE, &saved);

        EXPECT_EQ(r.outcome, c.outcome) << r.error;
        if (!c.targetIsDirectory) {
            std::ostringstream now;
            now << std::ifstream(target).rdbuf();
            EXPECT_EQ(now.str(), c.outcome == ExportResult::Outcome::Written ? whole.str() : "old");
        }
        if (c.outcome == ExportResult::Outcome::Failed) {
            EXPECT_NE(r.error.find(target.string()), std::string::npos) << r.error;
            EXPECT_EQ(r.error.find("the disk said no") != std::string::npos, c.readFails) << r.error;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "no partial file left beside it";
    }
}

// A card of another range: the review's volts are the file's, not the panel's.
TEST(CsvExport, VoltsFollowTheCalibrationTheFileStates)
{
    // A folder of its own: the test above empties its folder while ctest runs this one beside it.
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "csv_export_calibration";
    fs::create_directories(dir);
    const std::string path = (dir / "millivolts.h5").string();
    const Calibration millivolts{1000.0, 0.001};
    testing::writeRecording(path, 2, {}, {}, millivolts);
    std::string error;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    const std::unique_ptr<RecordedRun> run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    EXPECT_EQ(run->calibration().offset, 1000.0);
    EXPECT_EQ(run->calibration().scale, 0.001);
    std::ostringstream out;
    ASSERT_EQ(writeCsv(*run, 1, 2, out).outcome, ExportResult::Outcome::Written);
    char row[128];
    std::snprintf(row, sizeof row, "0.0001,%.4f,%.4f,%.4f,%.4f\n", (testing::writtenCode(1, 0) - 1000) * 0.001,
                  (testing::writtenCode(1, 1) - 1000) * 0.001, (testing::writtenCode(1, 2) - 1000) * 0.001,
                  (testing::writtenCode(1, 3) - 1000) * 0.001);
    EXPECT_NE(out.str().find(row), std::string::npos) << out.str();
}

// The export's size in its dialog's title: the unit that fits, never
// "0.0 GB" for a few megabytes.
struct SizeRow {
    const char *name;
    double bytes;
    const char *text;
};

class ExportSize : public ::testing::TestWithParam<SizeRow> {};

TEST_P(ExportSize, InTheUnitThatFits)
{
    EXPECT_EQ(approximateSize(GetParam().bytes), GetParam().text);
}

const SizeRow kSizes[] = {
    {"nothing", 0, "0 B"},
    {"bytes", 870, "870 B"},
    {"kilobytes_with_a_decimal", 4321, "4.3 KB"},
    {"a_small_csv", 4.9e6, "4.9 MB"},
    {"tens_without", 48.6e6, "49 MB"},
    {"rounds_up_into_the_next_unit", 999.96e3, "1.0 MB"},
    {"a_whole_day", 35.4e9, "35 GB"},
    {"terabytes", 1.25e12, "1.3 TB"},
};
INSTANTIATE_TEST_SUITE_P(Rows, ExportSize, ::testing::ValuesIn(kSizes), kRowName);

} // namespace
} // namespace adcard
