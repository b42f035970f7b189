// Finding a series among other files: names, places, the newest of two
// series, and each file left out named with its reason; the index trusted
// only while its files are as it saw them.
#include "series/series_index.h"
#include "series/series_reader.h"
#include "series_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace adcard;
using namespace adcard::seriestest;

namespace {

struct NameCase {
    const char *name, *base;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.name;
}

class BaseName : public ::testing::TestWithParam<NameCase> {};

TEST_P(BaseName, IsTheNameBeforeTheStamp)
{
    EXPECT_EQ(series::baseName(GetParam().name), GetParam().base);
}

INSTANTIATE_TEST_SUITE_P(Rows, BaseName,
                         ::testing::Values(NameCase{"rec_20251206-101500.h5", "rec"},
                                           NameCase{"rec_20251206-101500_2.h5", "rec"},
                                           NameCase{"a_b_20251206-101500_13.h5", "a_b"},
                                           NameCase{"记录_20251206-101500.h5", "记录"},
                                           NameCase{"_20251206-101500.h5", ""}, NameCase{"rec.h5", ""},
                                           NameCase{"rec_20251206-1015.h5", ""},
                                           NameCase{"rec_2025120x-101500.h5", ""},
                                           NameCase{"rec_20251206-101500.h5.bak", ""},
                                           NameCase{"rec_20251206-101500_.h5", ""},
                                           NameCase{"rec_20251206_101500.h5", ""}),
                         [](const auto &info) { return "case" + std::to_string(info.index); });

std::string writeDir(const std::string &name)
{
    const std::string dir = scratch(name) + "/files";
    Shape s;
    s.files = 3;
    s.blocksPerFile = 4;
    make(s, dir, dir + "-one.h5");
    return dir;
}

bool mentions(const std::vector<std::string> &notes, const std::string &what)
{
    for (const std::string &n : notes)
        if (n.find(what) != std::string::npos)
            return true;
    return false;
}

TEST(FindSeries, LeavesOutForeignAndDamagedFilesNamingThem)
{
    const std::string dir = writeDir("find-foreign");
    // A recording of its own under a series' name, and a damaged file.
    std::filesystem::copy_file(dir + "-one.h5", dir + "/rec_20251206-110000.h5");
    std::ofstream(dir + "/rec_20251206-110100.h5") << "not HDF5 at all";
    std::ofstream(dir + "/notes.txt") << "unrelated";
    const auto found = series::findSeries({dir}, opener(), false);
    ASSERT_EQ(found.series.size(), 1u);
    EXPECT_EQ(found.series[0].files.size(), 3u);
    EXPECT_TRUE(mentions(found.notes, "'rec_20251206-110000.h5' left out: not a file of a series"))
        << series::joinNotes(found.notes);
    EXPECT_TRUE(mentions(found.notes, "'rec_20251206-110100.h5' left out")) << series::joinNotes(found.notes);
    EXPECT_FALSE(mentions(found.notes, "notes.txt"));
}

TEST(FindSeries, OrdersByPlaceNotByName)
{
    const std::string dir = writeDir("find-order");
    // The clock went back: the second file's name sorts first.
    std::filesystem::rename(dir + "/rec_20251206-100100.h5", dir + "/rec_20251206-090000.h5");
    const auto found = series::findSeries({dir + "/rec_20251206-100000.h5"}, opener(), false);
    ASSERT_EQ(found.series.size(), 1u);
    std::vector<int64_t> places;
    for (const auto &f : found.series[0].files)
        places.push_back(f.membership.place);
    EXPECT_EQ(places, (std::vector<int64_t>{0, 1, 2}));
}

TEST(FindSeries, TwoFilesClaimingOnePlaceAreNamedAndReadByTheirBlocks)
{
    const std::string dir = writeDir("find-twice");
    std::filesystem::copy_file(dir + "/rec_20251206-100100.h5", dir + "/rec_20251206-100100_2.h5");
    const auto found = series::findSeries({dir}, opener(), false);
    ASSERT_EQ(found.series.size(), 1u);
    EXPECT_TRUE(mentions(found.notes, "'rec_20251206-100100.h5' and 'rec_20251206-100100_2.h5' both claim place 1"))
        << series::joinNotes(found.notes);
    std::string why;
    const auto reader = series::SeriesReader::open({dir}, opener(), "", why, 4, false);
    ASSERT_TRUE(reader) << why;
    // The second copy adds nothing: its blocks are already held.
    EXPECT_EQ(reader->runs().at(0).blocks, 12);
    EXPECT_EQ(reader->runs().at(0).holes, 0);
}

// The recorder makes the next file ahead of its time, laid out with no run
// yet: a reader that opens the series meanwhile must not take its missing
// start for a clock gone back, nor lose a block over it.
TEST(FindSeries, AFileMadeAheadWithNoRunIsNoClockGoneBack)
{
    const std::string dir = writeDir("find-ahead");
    RecordingWriter::Policy p{};
    p.series = SeriesMembership{kId, 3, kStartNs, "1m"};
    {
        using namespace std::chrono_literals;
        RecordingWriter w(std::make_unique<RecordingFile>(dir + "/rec_20251206-100300.h5", false), "", "", p);
        w.layOut(settingsOf({}), RecordingWriter::Clock::time_point{1s});
    }
    const auto found = series::findSeries({dir}, opener(), false);
    ASSERT_EQ(found.series.size(), 1u);
    EXPECT_FALSE(mentions(found.notes, "backwards")) << series::joinNotes(found.notes);
    std::string why;
    const auto reader = series::SeriesReader::open({dir}, opener(), "", why, 4, false);
    ASSERT_TRUE(reader) << why;
    EXPECT_EQ(reader->runs().at(0).blocks, 12);
    EXPECT_FALSE(mentions(reader->notes(), "backwards")) << series::joinNotes(reader->notes());
}

TEST(FindSeries, TheNewestOfTwoSeriesUnlessOneIsNamed)
{
    const std::string dir = writeDir("find-two");
    // A later series of another name in the same folder.
    RecordingWriter::Policy p{};
    const std::string laterId = "ffeeddccbbaa99887766554433221100";
    p.series = SeriesMembership{laterId, 0, kStartNs + 1'000'000'000, "1m"};
    {
        using namespace std::chrono_literals;
        RecordingWriter w(std::make_unique<RecordingFile>(dir + "/later_20251207-080000.h5", false), "", "", p);
        w.beginRun(settingsOf({}), kStartNs + 1'000'000'000, RecordingWriter::Clock::time_point{1s});
        writeBlocks(w, {}, 0, 2);
        w.close(kStartNs + 2'000'000'000, RecordingWriter::Clock::time_point{2s});
    }
    std::string why;
    const auto newest = series::SeriesReader::open({dir}, opener(), "", why, 4, false);
    ASSERT_TRUE(newest) << why;
    EXPECT_EQ(newest->series()->id, laterId);
    ASSERT_EQ(newest->others().size(), 1u);
    EXPECT_EQ(newest->others()[0].id, kId);
    EXPECT_EQ(newest->others()[0].files, 3u);
    EXPECT_TRUE(mentions(newest->notes(), "series " + std::string(kId) +
                                              " ('rec_20251206-100000.h5', 'rec_20251206-100100.h5', "
                                              "'rec_20251206-100200.h5') left out"))
        << series::joinNotes(newest->notes());
    const auto named = series::SeriesReader::open({dir}, opener(), kId, why, 4, false);
    ASSERT_TRUE(named) << why;
    EXPECT_EQ(named->fileCount(), 3u);
    EXPECT_FALSE(series::SeriesReader::open({dir}, opener(), "0123", why, 4, false));
    EXPECT_NE(why.find("no series 0123"), std::string::npos) << why;
}

TEST(SeriesIndex, TrustedOnlyForFilesAsItSawThem)
{
    const std::string dir = writeDir("index-stale");
    auto found = series::findSeries({dir}, opener(), true);
    ASSERT_TRUE(std::filesystem::exists(dir + "/rec.series-index"));
    found = series::findSeries({dir}, opener(), true);
    ASSERT_EQ(found.series.at(0).files.size(), 3u);
    for (const auto &f : found.series[0].files)
        EXPECT_TRUE(f.indexed) << f.name;
    // One file changed behind the index's back, one gone.
    std::filesystem::last_write_time(dir + "/rec_20251206-100100.h5",
                                     std::filesystem::last_write_time(dir + "/rec_20251206-100100.h5") +
                                         std::chrono::seconds(5));
    std::filesystem::remove(dir + "/rec_20251206-100200.h5");
    found = series::findSeries({dir}, opener(), true);
    ASSERT_EQ(found.series.at(0).files.size(), 2u);
    EXPECT_TRUE(found.series[0].files[0].indexed);
    EXPECT_FALSE(found.series[0].files[1].indexed);
    // Rewritten without the file that is gone.
    std::map<std::string, series::SeriesFile> kept;
    std::ifstream in(dir + "/rec.series-index");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(series::parseIndex(text, kept));
    EXPECT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept.count("rec_20251206-100200.h5"), 0u);
}

TEST(SeriesIndex, ReadsBackWhatItWroteAndNothingOfADamagedText)
{
    const std::string dir = writeDir("index-text");
    const auto found = series::findSeries({dir}, opener(), true);
    std::map<std::string, series::SeriesFile> files;
    for (const auto &f : found.series.at(0).files)
        files[f.name] = f;
    const std::string text = series::indexText(files);
    std::map<std::string, series::SeriesFile> back;
    ASSERT_TRUE(series::parseIndex(text, back));
    ASSERT_EQ(back.size(), 3u);
    const auto &a = files.begin()->second, &b = back.begin()->second;
    EXPECT_EQ(b.membership.startNs, a.membership.startNs);
    EXPECT_EQ(b.runs.at(0).scansPerSecond, a.runs.at(0).scansPerSecond);
    EXPECT_EQ(b.totals.at(0).whole.at(1).sumSq, a.totals.at(0).whole.at(1).sumSq);
    EXPECT_EQ(b.totals.at(0).coarse.size(), a.totals.at(0).coarse.size());
    EXPECT_EQ(b.totals.at(0).markers.size(), a.totals.at(0).markers.size());
    EXPECT_EQ(b.events, a.events);
    for (const std::string &cut : {text.substr(0, text.size() / 2), text.substr(0, text.size() - 4),
                                   std::string("adcard-series-index\t2\nend\n")}) {
        std::map<std::string, series::SeriesFile> none;
        EXPECT_FALSE(series::parseIndex(cut, none));
        EXPECT_TRUE(none.empty());
    }
}

} // namespace

namespace {

TEST(SeriesReader, RefreshTakesInANewFileOfTheSeries)
{
    const std::string dir = writeDir("refresh-new-file");
    const std::string third = dir + "/rec_20251206-100200.h5";
    std::filesystem::rename(third, dir + "-third.h5");
    std::string why;
    const auto reader = series::SeriesReader::open({dir + "/rec_20251206-100000.h5"}, opener(), "", why);
    ASSERT_TRUE(reader) << why;
    const auto run = reader->openRun(1, why);
    ASSERT_TRUE(run) << why;
    EXPECT_EQ(run->scanCount(), 8 * 256);
    EXPECT_FALSE(reader->refresh());
    std::filesystem::rename(dir + "-third.h5", third);
    EXPECT_TRUE(reader->refresh());
    EXPECT_EQ(run->scanCount(), 12 * 256);
    EXPECT_EQ(run->info().blocks, 12);
    // The new file's scans are read as the run's.
    int16_t code = 0;
    run->forEachScan(11 * 256 + 5, 11 * 256 + 6, [&](int64_t, std::span<const int16_t> c) {
        code = c[1];
        return true;
    });
    EXPECT_EQ(code, codeAt(11 * 256 + 5, 1));
}

} // namespace

namespace {

TEST(SeriesReader, CountsFromTheFirstScanTheSeriesStillHolds)
{
    const std::string dir = writeDir("first-files-gone");
    // The first file deleted to make room: no gap at the start, no note.
    std::filesystem::remove(dir + "/rec_20251206-100000.h5");
    std::string why;
    const auto reader = series::SeriesReader::open({dir}, opener(), "", why, 4, false);
    ASSERT_TRUE(reader) << why;
    const auto run = reader->openRun(1, why);
    ASSERT_TRUE(run) << why;
    EXPECT_EQ(run->scanCount(), 8 * 256);
    EXPECT_EQ(run->info().holes, 0);
    EXPECT_TRUE(reader->notes().empty()) << series::joinNotes(reader->notes());
    int16_t code = 0;
    run->forEachScan(0, 1, [&](int64_t, std::span<const int16_t> c) {
        code = c[0];
        return true;
    });
    EXPECT_EQ(code, codeAt(4 * 256, 0));
    EXPECT_EQ(run->markers().front().scan, 10 * 256 + 17 - 4 * 256); // block 10's marker
}

} // namespace
