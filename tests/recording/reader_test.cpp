// The reader against files written here through the HDF5 C API in the older
// layout, and against a brute-force reduction of the same scans.
#include "recording/recording_reader_impl.h"
#include "tests/recording/recording_support.h"
#include "tests/review/review_files.h"
#include "tests/support/row_name.h"

#include <sys/wait.h>

#include <hdf5.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace adcard::testing {
namespace {

using ::PrintTo;

std::string scratch(const std::string &name)
{
    const auto dir = std::filesystem::path(ADPANEL_TEST_TMP) / "reader";
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    std::filesystem::remove(path);
    return path.string();
}

// A run: which blocks are present, and every scan's codes (those of
// testBlock, which the Feeder hands over).
struct Model {
    int channels = 3;
    int64_t scansPerBlock = 100;
    std::vector<int64_t> present; // block indices, rising

    int16_t code(int64_t scan, int k) const
    {
        const int64_t j = (scan % scansPerBlock) * channels + k;
        return int16_t(uint16_t((scan / scansPerBlock) * 7919 + j * 31));
    }
    int64_t scans() const { return present.empty() ? 0 : (present.back() + 1) * scansPerBlock; }
    // Whether each block is there, by index.
    std::vector<char> blocks() const
    {
        std::vector<char> here(present.empty() ? 0 : std::size_t(present.back()) + 1);
        for (int64_t b : present)
            here[std::size_t(b)] = 1;
        return here;
    }
};

Model gappy(int64_t blocks)
{
    Model m;
    for (int64_t i = 0; i < blocks; ++i)
        if (i % 37 != 5 && (i < 1000 || i >= 1500)) // holes, and one long gap
            m.present.push_back(i);
    return m;
}

// Writes `m` as run 1 of an older-layout file.
void writeOlder(const std::string &path, const Model &m)
{
    const Hid f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    const Hid g(H5Gcreate2(f.get(), "run0001", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
    auto attr = [&](const char *name, int64_t v) {
        const Hid s(H5Screate(H5S_SCALAR), H5Sclose);
        const Hid a(H5Acreate2(g.get(), name, H5T_STD_I32LE, s.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        H5Awrite(a.get(), H5T_NATIVE_INT64, &v);
    };
    attr("channels", m.channels);
    attr("scans_per_block", m.scansPerBlock);
    attr("IntrArg5", 10000);
    const hsize_t ch = hsize_t(m.channels), rows = m.present.size(), scans = rows * hsize_t(m.scansPerBlock);
    const hsize_t dims[2] = {scans, ch};
    const Hid space(H5Screate_simple(2, dims, nullptr), H5Sclose);
    const Hid samples(H5Dcreate2(g.get(), "samples", H5T_STD_I16LE, space.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                      H5Dclose);
    std::vector<int16_t> codes;
    for (int64_t b : m.present)
        for (int64_t s = b * m.scansPerBlock; s < (b + 1) * m.scansPerBlock; ++s)
            for (int k = 0; k < m.channels; ++k)
                codes.push_back(m.code(s, k));
    if (!codes.empty())
        H5Dwrite(samples.get(), H5T_NATIVE_INT16, H5S_ALL, H5S_ALL, H5P_DEFAULT, codes.data());
    const Hid row(H5Tcreate(H5T_COMPOUND, 8), H5Tclose);
    H5Tinsert(row.get(), "index", 0, H5T_STD_I64LE);
    const Hid rowSpace(H5Screate_simple(1, &rows, nullptr), H5Sclose);
    const Hid blocks(H5Dcreate2(g.get(), "blocks", row.get(), rowSpace.get(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                     H5Dclose);
    const Hid mem(H5Tcreate(H5T_COMPOUND, 8), H5Tclose);
    H5Tinsert(mem.get(), "index", 0, H5T_NATIVE_INT64);
    if (rows)
        H5Dwrite(blocks.get(), mem.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, m.present.data());
}

struct Opened {
    std::unique_ptr<RecordingReader> reader;
    std::unique_ptr<RecordedRun> run;
};

Opened open(const std::string &path, int run = 1)
{
    std::string error;
    Opened o{std::unique_ptr<RecordingReader>(openRecording(path.c_str(), &error)), nullptr};
    EXPECT_TRUE(o.reader) << error;
    if (o.reader)
        o.run = o.reader->openRun(run, error);
    EXPECT_TRUE(o.run) << error;
    return o;
}

// What a column holds, by brute force over the model's scans: the level a
// column of width w is answered from, its edges on that level's grid (or the
// scans under it), and every present scan between.
std::vector<ColumnSummary> bruteForce(const Model &m, double first, double last, int columns)
{
    const double w = (last - first) / columns;
    int64_t grid = 1;
    for (int64_t g = 256, l = 1; l <= 8 && double(g) <= w; ++l, g *= 8)
        grid = g;
    const double scans = double(m.scans());
    const double top = std::ceil(scans / double(grid)) * double(grid);
    const std::vector<char> here = m.blocks();
    std::vector<ColumnSummary> out;
    for (int c = 0; c < columns; ++c) {
        double a, b;
        if (grid == 1) {
            a = std::floor(first + c * w);
            b = std::max(a + 1, std::floor(first + (c + 1) * w));
        } else {
            a = std::round((first + c * w) / double(grid)) * double(grid);
            b = std::round((first + (c + 1) * w) / double(grid)) * double(grid);
        }
        a = std::clamp(a, 0.0, grid == 1 ? scans : top);
        b = std::clamp(b, 0.0, grid == 1 ? scans : top);
        std::vector<ColumnSummary> col(std::size_t(m.channels), ColumnSummary{INT16_MAX, INT16_MIN, 0, 0});
        std::vector<double> sum(std::size_t(m.channels)), sq(sum);
        for (int64_t i = int64_t(a); i < int64_t(b) && i < m.scans(); ++i)
            for (int k = 0; i >= 0 && here[std::size_t(i / m.scansPerBlock)] && k < m.channels; ++k) {
                const int16_t v = m.code(i, k);
                ColumnSummary &s = col[std::size_t(k)];
                s.min = std::min(s.min, v);
                s.max = std::max(s.max, v);
                sum[std::size_t(k)] += v;
                sq[std::size_t(k)] += double(v) * v;
                ++s.count;
            }
        for (int k = 0; k < m.channels; ++k) {
            ColumnSummary &s = col[std::size_t(k)];
            s.mean = s.count ? float(sum[std::size_t(k)] / double(s.count)) : 0.0F;
            const double n = double(std::max<int64_t>(s.count, 1)), mu = sum[std::size_t(k)] / n;
            s.sd = float(std::sqrt(std::max(0.0, sq[std::size_t(k)] / n - mu * mu)));
            out.push_back(s.count ? s : ColumnSummary{});
        }
    }
    return out;
}

void expectSame(const std::vector<ColumnSummary> &want, const std::vector<ColumnSummary> &got, const std::string &what)
{
    ASSERT_EQ(want.size(), got.size());
    int wrong = 0;
    for (std::size_t i = 0; i < want.size() && wrong < 5; ++i) {
        const bool same = want[i].count == got[i].count && want[i].min == got[i].min && want[i].max == got[i].max &&
                          std::abs(want[i].mean - got[i].mean) <= 0.01F + 1e-5F * std::abs(want[i].mean) &&
                          std::abs(want[i].sd - got[i].sd) <= 0.01F + 1e-5F * want[i].sd;
        if (!same)
            ADD_FAILURE() << what << " entry " << i << ": want " << want[i].count << " [" << want[i].min << ","
                          << want[i].max << "] " << want[i].mean << ", got " << got[i].count << " [" << got[i].min
                          << "," << got[i].max << "] " << got[i].mean << " sd " << want[i].sd << " / " << got[i].sd;
        wrong += !same;
    }
}

struct View {
    double first, last;
    int columns;
};

// Whole run, zoomed through every level down to scans narrower than a
// column, a range over the long gap, ones hanging over both ends.
const View kViews[] = {
    {0, 330000, 1},        {0, 330000, 2},      {0, 330000, 20},     {0, 330000, 150},   {0, 330000, 1920},
    {12345.5, 212345, 50}, {99000, 151000, 26}, {150500, 150503, 7}, {1000, 1010, 40},   {-5000, 40000, 33},
    {320000, 400000, 30},  {329990, 330000, 3}, {0, 3e18, 4},        {280000, 330000, 9},
};

void checkViews(const RecordedRun &run, const Model &m, std::span<const View> views = kViews)
{
    for (const View &v : views) {
        std::vector<ColumnSummary> got(std::size_t(v.columns) * std::size_t(m.channels));
        run.summarise(v.first, v.last, v.columns, got);
        expectSame(bruteForce(m, v.first, v.last, v.columns), got,
                   "view " + std::to_string(v.first) + ".." + std::to_string(v.last) + "/" + std::to_string(v.columns));
    }
}

void checkStats(const RecordedRun &run, const Model &m, std::vector<std::pair<int64_t, int64_t>> ranges)
{
    const std::vector<char> here = m.blocks();
    for (const auto &[a, b] : ranges) {
        const auto got = run.stats(a, b);
        ASSERT_EQ(got.size(), std::size_t(m.channels));
        for (int k = 0; k < m.channels; ++k) {
            RangeStats want{0, 1e9, -1e9, 0, 0};
            for (int64_t i = std::max<int64_t>(a, 0); i < std::min(b, m.scans()); ++i)
                if (here[std::size_t(i / m.scansPerBlock)]) {
                    const double v = m.code(i, k);
                    ++want.count;
                    want.min = std::min(want.min, v);
                    want.max = std::max(want.max, v);
                    want.mean += v;
                    want.rms += v * v;
                }
            const double n = double(std::max<int64_t>(want.count, 1));
            const double mean = want.mean / n, rms = std::sqrt(want.rms / n);
            EXPECT_TRUE(got[k].count == want.count && got[k].min == want.min && got[k].max == want.max &&
                        std::abs(got[k].mean - mean) < 1e-3 + 1e-6 * std::abs(mean) &&
                        std::abs(got[k].rms - rms) < 1e-3 + 1e-6 * rms)
                << a << ".." << b << " channel " << k << ": " << got[k].count << " " << got[k].mean << " "
                << got[k].rms;
        }
    }
}

void waitSummarised(const RecordedRun &run)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (run.summaryProgress() < 1.0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(run.summaryProgress(), 1.0);
}

TEST(RecordingReaderOlder, SummariesBuiltInTheBackgroundMatchTheRawScans)
{
    const Model m = gappy(3300);
    const std::string path = scratch("older.h5");
    writeOlder(path, m);
    const auto size = std::filesystem::file_size(path);
    Opened o = open(path);
    ASSERT_TRUE(o.run);
    EXPECT_EQ(o.reader->formatVersion(), 1);
    const RecordedRunInfo &i = o.run->info();
    EXPECT_EQ(i.blocks, int64_t(m.present.size()));
    EXPECT_EQ(i.scans, m.scans());
    EXPECT_EQ(i.holes, 3300 - int64_t(m.present.size()));
    // A small range is answered from the raw scans while summarising.
    std::vector<ColumnSummary> early(40 * 3);
    o.run->summarise(1000, 1010, 40, early);
    expectSame(bruteForce(m, 1000, 1010, 40), early, "before the summaries");
    waitSummarised(*o.run);
    checkViews(*o.run, m);
    checkStats(*o.run, m, {{0, 330000}, {17, 250001}, {99999, 150001}, {4000, 4001}, {-9, 1000000000}});
    // Every present scan once, in order, for the export.
    const std::vector<char> here = m.blocks();
    int64_t seen = 0, wrong = 0;
    o.run->forEachScan(-3, 1e9, [&](int64_t s, std::span<const int16_t> codes) {
        wrong += !here[std::size_t(s / m.scansPerBlock)] || codes[2] != m.code(s, 2) || (seen && s <= 0);
        ++seen;
        return true;
    });
    EXPECT_EQ(seen, int64_t(m.present.size()) * m.scansPerBlock);
    EXPECT_EQ(wrong, 0);
    o = {};
    EXPECT_EQ(std::filesystem::file_size(path), size); // never written to
}

// One tick, then until the writer has it all, so that none is dropped.
void feed(Recorder &rec, Feeder &f, std::string_view tick, int64_t &stored)
{
    f.tick(tick);
    stored += std::count(tick.begin(), tick.end(), 'b');
    for (int i = 0; i < 20000 && rec.status().blocksWritten < stored && rec.status().state != RecorderState::Failed;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The recorder writes in a child while the reader follows the file: at
// every state the reader sees, what it answers is what the rows it trusts
// hold, never more.
TEST(RecordingReaderLive, AnswersMatchTheRowsAtEveryRefresh)
{
    const std::string path = scratch("live.h5");
    auto pattern = [](int t) { return t % 7 == 3 ? "bbmmb" : "bbbbb"; };
    constexpr int kTicks = 60;
    const Child child = spawn([&](int out) {
        Recorder rec;
        if (!rec.arm(path, false, {}).empty())
            return 11;
        Feeder f(rec);
        f.start();
        int64_t stored = 0;
        for (int t = 0; t < kTicks; ++t) {
            feed(rec, f, pattern(t), stored);
            if (t == 0)
                ::dprintf(out, "started\n");
        }
        rec.stop();
        return rec.status().state == RecorderState::Idle ? 0 : 12;
    });
    ASSERT_GT(child.pid, 0);
    std::string line;
    ASSERT_TRUE(readLine(child.out, line));
    Model all;
    all.channels = 4;
    all.scansPerBlock = 1000;
    for (int t = 0, i = 0; t < kTicks; ++t)
        for (int k = 0; k < 5; ++k, ++i)
            if (pattern(t)[k] == 'b')
                all.present.push_back(i);

    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    std::unique_ptr<RecordedRun> run;
    int64_t checked = -1;
    int states = 0;
    for (bool exited = false; !exited;) {
        int status = 0;
        exited = ::waitpid(child.pid, &status, WNOHANG) == child.pid;
        if (exited) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        reader->refresh();
        if (!run)
            run = reader->openRun(1, error);
        if (!run || run->info().blocks == checked) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        checked = run->info().blocks;
        ASSERT_LE(checked, int64_t(all.present.size()));
        Model seen = all;
        seen.present.resize(std::size_t(checked));
        const double end = double(seen.scans());
        const View views[] = {{0, end, 1}, {0, end, 9}, {0, end, 300}, {end - 3000, end + 100, 70}};
        checkViews(*run, seen, views);
        ++states;
    }
    ::close(child.out);
    EXPECT_EQ(checked, int64_t(all.present.size()));
    EXPECT_GE(states, 1);
    EXPECT_FALSE(run->info().open);
    waitSummarised(*run);
    checkViews(*run, all);
    checkStats(*run, all, {{0, all.scans()}, {1234, 250321}});
}

// A run whose last flush stopped between its summaries and its rows (the
// runs table still says fewer rows, and the run is not ended), or that was
// ended there after a full disk: only the rows the table gives count,
// whatever the samples and summaries hold beyond.
struct CutRow {
    int64_t rows;
    bool ended;
};
void PrintTo(const CutRow &r, std::ostream *os) { *os << r.rows << (r.ended ? " ended" : " open"); }
class RecordingReaderCut : public ::testing::TestWithParam<CutRow> {};

TEST_P(RecordingReaderCut, OnlyTheRowsCount)
{
    // Rows may run side by side, each in a process of its own.
    const std::string whole = [] {
        const std::string p = scratch("whole" + std::to_string(GetParam().rows) + (GetParam().ended ? "e" : "") + ".h5");
        Recorder rec;
        EXPECT_EQ(rec.arm(p, false, {}), "");
        Feeder f(rec);
        f.start();
        int64_t stored = 0;
        for (int t = 0; t < 40; ++t) {
            feed(rec, f, t == 9 ? "bmmmmmb" : "bbbbb", stored);
            if (t == 20)
                rec.addMarker("über 1");
        }
        rec.stop();
        return p;
    }();
    const std::string path = scratch("cut" + std::to_string(GetParam().rows) + (GetParam().ended ? "e" : "") + ".h5");
    std::filesystem::copy_file(whole, path);
    Model all;
    all.channels = 4;
    all.scansPerBlock = 1000;
    for (int64_t i = 0; i < 202; ++i)
        if (i < 46 || i > 50)
            all.present.push_back(i);
    {
        const Hid f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
        const Hid runs(H5Dopen2(f.get(), "runs", H5P_DEFAULT), H5Dclose);
        const Hid t(H5Tcreate(H5T_COMPOUND, 16), H5Tclose);
        H5Tinsert(t.get(), "rows", 0, H5T_NATIVE_INT64);
        H5Tinsert(t.get(), "end_time_ns", 8, H5T_NATIVE_INT64);
        const int64_t row[2] = {GetParam().rows, GetParam().ended ? 1 : 0};
        ASSERT_GE(H5Dwrite(runs.get(), t.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, row), 0);
    }
    Opened o = open(path);
    ASSERT_TRUE(o.run);
    all.present.resize(std::size_t(GetParam().rows));
    EXPECT_EQ(o.run->info().blocks, GetParam().rows);
    EXPECT_EQ(o.run->info().open, !GetParam().ended);
    checkViews(*o.run, all);
    checkStats(*o.run, all, {{0, all.scans()}, {999, 1000000}});
    const auto marks = o.run->markers();
    for (const RecordedMarker &m : marks)
        EXPECT_TRUE(m.text == "über 1" && m.scan > 0 && m.scan <= all.scans()) << m.text << " at " << m.scan;
    EXPECT_EQ(marks.size(), GetParam().rows == 196 ? 1U : marks.size());
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordingReaderCut,
                         ::testing::Values(CutRow{1, false}, CutRow{45, false}, CutRow{46, false}, CutRow{133, false},
                                           CutRow{196, false}, CutRow{45, true}, CutRow{133, true},
                                           CutRow{196, true}));

// Files that are not what they should be, each with its reason, at opening
// or at opening the run, and files of older formats; none may crash.
struct Bad {
    const char *name;
    std::function<void(const std::string &)> make;
    const char *atOpen; // part of the reason at opening, or null when it opens
    const char *atRun;  // part of the reason at opening run 1, or null when it opens
    std::function<void(const RecordedRun &)> check = {}; // then on run 1
};

// A run of `blocks` blocks, then the rows of `dataset` from 0 are `values` in `member`.
template <typename T>
void oneRunWith(const std::string &path, const char *dataset, const char *member, std::vector<T> values,
                int64_t blocks = 2)
{
    writeRecording(path, blocks);
    const Hid file(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    const Hid d(H5Dopen2(file.get(), dataset, H5P_DEFAULT), H5Dclose);
    const hsize_t n = values.size();
    H5Dset_extent(d.get(), &n);
    const Hid t(H5Tcreate(H5T_COMPOUND, sizeof(T)), H5Tclose);
    H5Tinsert(t.get(), member, 0, sizeof(T) == 4 ? H5T_NATIVE_INT32 : H5T_NATIVE_INT64);
    ASSERT_GE(H5Dwrite(d.get(), t.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
}

// An older file of 10 blocks whose run has attribute `name` so.
void olderWith(const std::string &path, const char *name, hid_t type, const void *value, hsize_t n = 1)
{
    writeOlder(path, gappy(10));
    const Hid f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    const Hid g(H5Gopen2(f.get(), "run0001", H5P_DEFAULT), H5Gclose);
    H5Adelete(g.get(), name);
    const Hid s(n == 1 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &n, nullptr), H5Sclose);
    const Hid a(H5Acreate2(g.get(), name, type, s.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    H5Awrite(a.get(), type, value);
}

void formatOnly(const std::string &path, int32_t version)
{
    const Hid f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    if (version > 0) {
        const Hid s(H5Screate(H5S_SCALAR), H5Sclose);
        const Hid a(H5Acreate2(f.get(), "format_version", H5T_STD_I32LE, s.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        H5Awrite(a.get(), H5T_NATIVE_INT32, &version);
    }
}

// Range statistics of writeRecording's run of 400 blocks against integer
// sums of the codes written, over ranges that the pyramid's levels 1 to 4
// answer: to the last bit from integer sums (format 4), within float32's
// precision from means and standard deviations (format 3).
void expectWrittenStats(const RecordedRun &run, bool exact)
{
    const std::pair<int64_t, int64_t> ranges[] = {{0, 400000}, {1234, 398765}, {131072, 262144}};
    for (const auto &[a, b] : ranges) {
        const auto got = run.stats(a, b);
        ASSERT_EQ(got.size(), 4U);
        for (int c = 0; c < 4; ++c) {
            int64_t sum = 0, sq = 0;
            for (int64_t s = a; s < b; ++s) {
                const int64_t v = writtenCode(s, c);
                sum += v;
                sq += v * v;
            }
            const double n = double(b - a), mean = double(sum) / n, rms = std::sqrt(double(sq) / n);
            const RangeStats &g = got[std::size_t(c)];
            EXPECT_EQ(g.count, b - a);
            EXPECT_NEAR(g.mean, mean, exact ? 0.0 : 1e-4 * std::abs(mean)) << a << ".." << b << " channel " << c;
            EXPECT_NEAR(g.rms, rms, exact ? 0.0 : 1e-4 * rms) << a << ".." << b << " channel " << c;
        }
    }
}

// writeRecording's 400 blocks with channel 0's sum in every summary entry
// of every level set to `sum`.
void summarySumsOf(const std::string &path, int64_t sum)
{
    writeRecording(path, 400);
    const Hid f(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
    for (int l = 1; l <= format::kPyramid.levels; ++l) {
        const Hid d(H5Dopen2(f.get(), format::levelPath(l).c_str(), H5P_DEFAULT), H5Dclose);
        const hsize_t four = 4;
        const Hid sums(H5Tarray_create2(H5T_NATIVE_INT64, 1, &four), H5Tclose);
        const Hid t(H5Tcreate(H5T_COMPOUND, 32), H5Tclose);
        H5Tinsert(t.get(), "sum", 0, sums.get());
        const Hid space(H5Dget_space(d.get()), H5Sclose);
        hsize_t rows = 0;
        H5Sget_simple_extent_dims(space.get(), &rows, nullptr);
        std::vector<int64_t> v(4 * rows);
        H5Dread(d.get(), t.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
        for (std::size_t i = 0; i < v.size(); i += 4)
            v[i] = sum;
        ASSERT_GE(H5Dwrite(d.get(), t.get(), H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()), 0);
    }
}

// An entry whose sums cannot be right adds nothing, to any channel: the
// range counts fewer scans, and its mean stays among the codes counted.
void expectDamagedLeftOut(const RecordedRun &run)
{
    const auto got = run.stats(0, 400000);
    ASSERT_EQ(got.size(), 4U);
    for (const RangeStats &g : got) {
        EXPECT_LT(g.count, 400000);
        EXPECT_TRUE(g.count == 0 || (g.mean >= g.min && g.mean <= g.max)) << g.mean;
    }
}

const int32_t kThree[3] = {3, 3, 3}, kWide = 32;
const int64_t kHuge = int64_t{1} << 40;

const Bad kBad[] = {
    {"newer format", [](const std::string &p) { formatOnly(p, 5); }, "recording format 5", nullptr},
    {"format 4 mean and rms exact", [](const std::string &p) { writeRecording(p, 400); }, nullptr, nullptr,
     [](const RecordedRun &r) { expectWrittenStats(r, true); }},
    {"format 3 float summaries still read",
     [](const std::string &p) {
         writeRecording(p, 400);
         rewriteAsFormat3(p);
     },
     nullptr, nullptr, [](const RecordedRun &r) { expectWrittenStats(r, false); }},
    {"summary sums beyond their codes", [](const std::string &p) { summarySumsOf(p, INT64_MAX); }, nullptr, nullptr,
     expectDamagedLeftOut},
    {"summary sums below their codes", [](const std::string &p) { summarySumsOf(p, -1); }, nullptr, nullptr,
     expectDamagedLeftOut},
    {"format 2 without tables", [](const std::string &p) { formatOnly(p, 2); }, "missing", nullptr},
    {"missing", [](const std::string &) {}, "no such file", nullptr},
    {"text", [](const std::string &p) { std::ofstream(p) << "time,volts\n0,1\n"; }, "not an HDF5 file", nullptr},
    {"foreign", [](const std::string &p) { formatOnly(p, 0); }, "another layout", nullptr},
    {"no blocks", [](const std::string &p) { writeOlder(p, Model{}); }, nullptr, "no blocks"},
    {"channels as text", [](const std::string &p) { olderWith(p, "channels", H5T_C_S1, "4"); }, nullptr, "block shape"},
    {"channels as many", [](const std::string &p) { olderWith(p, "channels", H5T_NATIVE_INT32, kThree, 3); }, nullptr,
     "block shape"},
    {"huge blocks", [](const std::string &p) { olderWith(p, "scans_per_block", H5T_NATIVE_INT64, &kHuge); }, nullptr,
     "block shape"},
    {"channels disagree", [](const std::string &p) { olderWith(p, "channels", H5T_NATIVE_INT32, &kWide); }, nullptr,
     "channels wide"},
    {"indices backwards",
     [](const std::string &p) {
         Model m = gappy(10);
         std::reverse(m.present.begin(), m.present.end());
         writeOlder(p, m);
     },
     nullptr, "out of order"},
    // A second row in the runs table, all zero but what is set.
    {"next run first at the least int64",
     [](const std::string &p) { oneRunWith<int64_t>(p, "runs", "first_row", {1, INT64_MIN}); }, nullptr, nullptr,
     [](const RecordedRun &r) { EXPECT_EQ(r.info().blocks, 1); }},
    // Between two good rows, so that the run opens; read, it is skipped (the
    // sanitizers' build sees whether it is multiplied first).
    {"a block index the least int64",
     [](const std::string &p) { oneRunWith<int64_t>(p, "blocks", "index", {0, INT64_MIN, 2}, 3); }, nullptr, nullptr,
     [](const RecordedRun &r) {
         int64_t scans = 0;
         EXPECT_TRUE(r.forEachScan(0, r.scanCount(), [&](int64_t, std::span<const int16_t>) { return ++scans; }));
         EXPECT_EQ(scans, 2 * r.info().scansPerBlock);
         int64_t holes = 0;
         r.gaps(0, r.scanCount(), 10, holes);
         std::vector<ColumnSummary> columns(std::size_t(r.channels()));
         r.summarise(0, double(r.scanCount()), 1, columns);
     }},
    {"two runs numbered alike", [](const std::string &p) { oneRunWith<int32_t>(p, "runs", "run", {1, 1}); }, nullptr,
     "same number"},
    {"a flood of markers",
     [](const std::string &p) { oneRunWith(p, "markers", "run", std::vector<int32_t>(12000, 1)); }, nullptr, nullptr, [](const RecordedRun &r) { EXPECT_EQ(r.markers().size(), 10000U); }},
    {"older runs without end",
     [](const std::string &p) {
         writeOlder(p, gappy(10));
         const Hid f(H5Fopen(p.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose);
         for (int i = 2; i <= 10001; ++i)
             H5Lcreate_hard(f.get(), "run0001", f.get(), ("run" + std::to_string(i)).c_str(), H5P_DEFAULT, H5P_DEFAULT);
     },
     "more than 10000", nullptr},
    {"started past 2262",
     [](const std::string &p) {
         const Hid text(H5Tcopy(H5T_C_S1), H5Tclose);
         H5Tset_size(text.get(), 20);
         olderWith(p, "start_time", text.get(), "2300-01-01T00:00:00");
     },
     nullptr, nullptr, [](const RecordedRun &r) { EXPECT_EQ(r.info().startTimeNs, 0); }},
};

class RecordingReaderBad : public ::testing::TestWithParam<Bad> {};

TEST_P(RecordingReaderBad, SaysWhyInAFewWords)
{
    const Bad &b = GetParam();
    const std::string path = scratch(std::string(b.name) + ".h5");
    b.make(path);
    std::string error;
    std::unique_ptr<RecordingReader> r(openRecording(path.c_str(), &error));
    if (b.atOpen) {
        EXPECT_FALSE(r);
        EXPECT_NE(error.find(b.atOpen), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(r) << error;
    const std::unique_ptr<RecordedRun> run = r->openRun(1, error);
    ASSERT_TRUE(b.atRun || run) << error;
    if (!b.atRun)
        return b.check(*run);
    EXPECT_FALSE(run);
    EXPECT_NE(error.find(b.atRun), std::string::npos) << error;
    EXPECT_LT(error.size(), 80U) << error;
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordingReaderBad, ::testing::ValuesIn(kBad),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             std::replace(n.begin(), n.end(), ' ', '_');
                             return n;
                         });

} // namespace
} // namespace adcard::testing
