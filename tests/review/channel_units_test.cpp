// A channel the operator named and put in bar: kept in the settings, stated
// by the recording, and read back in bar by the review's statistics, its CSV
// export and adcard-review alike.
#include "channels/channel_store.h"
#include "export/csv_export.h"
#include "review_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

namespace adcard {
namespace {

namespace fs = std::filesystem;

std::string command(const std::string &args)
{
    std::string out;
    FILE *p = ::popen((std::string(ADCARD_REVIEW) + " " + args + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p)
        ::pclose(p);
    return out;
}

TEST(ChannelUnits, SetRecordedReviewedExportedAndAnsweredInTheirUnit)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "channel_units";
    fs::remove_all(dir);
    fs::create_directories(dir);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);

    // Set: what the dialog saves, the next session loads.
    const ChannelUnits given = {{"压力, 入口", "bar", 2.5, -1.0}, {}, {"", "°C", 100.0, 20.0}, {"流量", "V", 1.0, 0.0}};
    ASSERT_EQ(saveChannelUnits(given), "");
    ASSERT_EQ(loadChannelUnits(4), given);
    // A settings file that cannot be written (a folder of its name): said,
    // not taken for saved.
    const fs::path ini = dir / "config" / "adcard" / "adcard-panel.ini";
    fs::remove(ini);
    fs::create_directory(ini);
    EXPECT_NE(saveChannelUnits(given), "");
    fs::remove(ini);
    ASSERT_EQ(saveChannelUnits(given), "");

    // Record, then review.
    const std::string path = (dir / "units.h5").string();
    testing::writeRecording(path, 3, {}, {}, kPanelCalibration, loadChannelUnits(4));
    std::string error;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    EXPECT_EQ(reader->formatVersion(), 4);
    const std::unique_ptr<RecordedRun> run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    ASSERT_EQ(run->info().units, given);
    const auto bar = [](int16_t code) { return kPanelCalibration.volts(code) * 2.5 - 1.0; };
    const Calibration inBar = run->info().channelCalibration(0);
    const RangeStats st = run->stats(0, 3000)[0];
    EXPECT_NEAR(inBar.volts(st.max), bar(st.max), 1e-12);

    // Export: named, quoted where the name has a comma, each in its unit.
    std::ostringstream csv;
    ASSERT_EQ(writeCsv(*run, 1, 2, csv).outcome, ExportResult::Outcome::Written);
    char row[160];
    // One code is 0.0061 bar and 0.24 °C: four decimals and two.
    std::snprintf(row, sizeof row, "0.0001,%.4f,%.4f,%.2f,%.4f\n", bar(testing::writtenCode(1, 0)),
                  kPanelCalibration.volts(testing::writtenCode(1, 1)),
                  kPanelCalibration.volts(testing::writtenCode(1, 2)) * 100 + 20,
                  kPanelCalibration.volts(testing::writtenCode(1, 3)));
    EXPECT_EQ(csv.str(), std::string("time (s),\"压力, 入口 (bar)\",channel 2 (V),channel 3 (°C),流量 (V)\n") + row);

    // adcard-review: the same statistics, saying the unit; a level in bar.
    const std::string stats = command("stats " + path + " --json");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(stats, m, std::regex("\"max\": (-?[0-9.e+-]+).*?\"unit\": \"bar\"")))
        << stats;
    EXPECT_NEAR(std::stod(m[1]), bar(st.max), 1e-9);
    const std::string over = command("search " + path + " --channel 1 --above " + std::to_string(bar(3000)));
    EXPECT_EQ(over.find("beyond"), std::string::npos) << over;
    const std::string beyond = command("search " + path + " --channel 1 --above 20");
    EXPECT_NE(beyond.find("bar is beyond the card's range"), std::string::npos) << beyond;
}

// What the dialog and a file's reader refuse: a scale that is no scale, or
// a text that does not fit one line. An inverting sensor's negative scale is
// a unit like any other.
TEST(ChannelUnits, RefusesWhatWouldMisleadOrNotFit)
{
    const struct {
        const char *name;
        ChannelUnit unit;
        bool refused;
    } rows[] = {
        {"volts", {}, false},
        {"named, in bar", {"压力", "bar", 2.5, -1}, false},
        {"an inverting sensor's negative scale", {"位移", "mm", -4, 0}, false},
        {"zero scale", {"", "bar", 0, 0}, true},
        {"a negative scale too small", {"", "bar", -1e-13, 0}, true},
        {"a negative scale too large", {"", "bar", -1e13, 0}, true},
        {"no unit", {"", "", 1, 0}, true},
        {"a newline in the name", {"a\nb", "V", 1, 0}, true},
        {"a name of 33 bytes", {std::string(33, 'x'), "V", 1, 0}, true},
        {"an offset of NaN", {"", "V", 1, NAN}, true},
    };
    for (const auto &r : rows)
        EXPECT_EQ(unitProblem(r.unit).has_value(), r.refused) << r.name;
}

} // namespace
} // namespace adcard
