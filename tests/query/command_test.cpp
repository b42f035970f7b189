// adcard-review, run as a program, against the engine the window uses, on
// the same file: the same numbers.
#include "query/query.h"
#include "query_files.h"
#include "recording/recording_reader_impl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace adcard::query {
namespace {

// What adcard-review printed on standard output (and on standard error
// with `alsoErrors`).
std::string run(const std::string &args, int &status, bool alsoErrors = false)
{
    std::string out;
    FILE *p = ::popen((std::string(ADCARD_REVIEW) + " " + args + (alsoErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
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

} // namespace
} // namespace adcard::query
