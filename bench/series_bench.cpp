// A month of short files read as one series, against one file holding the
// same blocks: open to the first frame, stats of the whole, a cold search for
// a rare crossing, and the files and memory held while zooming across it.
//
//   series_bench make DIR FILES BLOCKS   DIR/parts/rec_*.h5 and DIR/one.h5
//   series_bench frame PATH              prints "frame NS" (CLOCK_MONOTONIC) at the first frame
//   series_bench stats|search|zoom PATH  (PATH: DIR/parts, or DIR/one.h5)
//   add --no-index to read a series without its index
#include "query/query.h"
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "series/series_reader.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace adcard;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = 4;
constexpr int32_t kScansPerBlock = 1000;
constexpr int64_t kStartNs = 1'764'547'200'000'000'000;
constexpr int64_t kSpikeScan = 2'345'678; // the one rare crossing

int16_t codeAt(int64_t scan, int c)
{
    if (c == 0 && scan == kSpikeScan)
        return 4090;
    return int16_t(2048 + 1500 * std::sin(double(scan) / (300.0 + 70 * c)) + double((scan * 13 + c) % 17));
}

void writeBlocks(RecordingWriter &w, int64_t from, int64_t to)
{
    const RecordingWriter::Clock::time_point now{std::chrono::seconds(100)};
    std::vector<int16_t> block(std::size_t(kScansPerBlock) * kChannels);
    for (int64_t b = from; b < to; ++b) {
        for (int64_t k = 0; k < kScansPerBlock; ++k)
            for (int c = 0; c < kChannels; ++c)
                block[std::size_t(k * kChannels + c)] = codeAt(b * kScansPerBlock + k, c);
        w.onBlock(b, int32_t(b % 20), block);
        TickEnd t;
        t.timeNs = kStartNs + (b + 1) * 100'000'000;
        t.blockCount = b + 1;
        t.digitalRead = true;
        t.digital = {int16_t(b & 1), int16_t(b & 0xff)};
        w.onTickEnd(t, now);
    }
}

AcqSettings settings()
{
    AcqSettings s;
    s.IntrArg1 = 10;
    s.ScansPerBlock = kScansPerBlock;
    s.ChannelCount = kChannels;
    s.IntrArg5 = 10000;
    s.IntrArg7 = 1;
    s.RingBlocks = 20;
    return s;
}

int make(const std::string &dir, int files, int64_t blocks)
{
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/parts");
    const RecordingWriter::Clock::time_point now{std::chrono::seconds(100)};
    for (int f = 0; f < files; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "/parts/rec_202512%02d-%02d0000.h5", 1 + f / 24, f % 24);
        RecordingWriter::Policy p{};
        p.series = SeriesMembership{"5e7e5e7e5e7e5e7e5e7e5e7e5e7e5e7e", f, kStartNs, "1h"};
        RecordingWriter w(std::make_unique<RecordingFile>(dir + name, false), "", "", p);
        w.beginRun(settings(), kStartNs, now, RecordingWriter::SeriesRun{1, f * blocks, f > 0});
        writeBlocks(w, f * blocks, (f + 1) * blocks);
        w.close(kStartNs, now);
    }
    RecordingWriter w(std::make_unique<RecordingFile>(dir + "/one.h5", false), "", "", {});
    w.beginRun(settings(), kStartNs, now);
    writeBlocks(w, 0, files * blocks);
    w.close(kStartNs, now);
    return 0;
}

std::unique_ptr<RecordingReader> openAny(const std::string &path, bool index, std::string &why)
{
    const series::Opener open = [](const std::string &p, std::string &e) {
        return std::unique_ptr<RecordingReader>(openRecording(p.c_str(), &e));
    };
    if (std::filesystem::is_directory(path))
        return series::SeriesReader::open({path}, open, "", why, 24, index);
    return open(path, why);
}

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

int openFiles()
{
    int n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

long peakKiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Drops the files' pages from the page cache, so that a search reads the disk.
void dropCache(const std::string &path)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    if (fs::is_directory(path))
        for (const auto &e : fs::directory_iterator(path))
            files.push_back(e.path().string());
    else
        files.push_back(path);
    for (const std::string &f : files) {
        const int fd = ::open(f.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

int run(const std::string &mode, const std::string &path, bool index)
{
    if (mode == "search")
        dropCache(path);
    const auto t0 = Clock::now();
    std::string why;
    const auto reader = openAny(path, index, why);
    if (!reader) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    const auto run = reader->openRun(1, why);
    if (!run) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
        return 1;
    }
    const double opened = msSince(t0);
    const int columns = 1600;
    std::vector<ColumnSummary> out(std::size_t(columns) * std::size_t(run->channels()));
    const auto series = dynamic_cast<const series::SeriesReader *>(reader.get());
    if (mode == "frame") {
        run->summarise(0, double(run->scanCount()), columns, out);
        std::printf("frame %lld\n", (long long)Clock::now().time_since_epoch().count());
        std::printf("opened %.1f ms, first frame %.1f ms in the process\n", opened, msSince(t0));
    } else if (mode == "stats") {
        const auto t1 = Clock::now();
        const auto s = run->stats(0, run->scanCount());
        std::printf("stats of %lld scans: %.1f ms (after opening in %.1f ms); channel 1 mean %.3f\n",
                    (long long)s[0].count, msSince(t1), opened, s[0].mean);
    } else if (mode == "search") {
        const auto t1 = Clock::now();
        const auto r = query::findCrossings(*run, {.channel = 0, .level = run->calibration().volts(4050)});
        std::printf("cold search: %lld crossing(s), first at scan %lld: %.1f ms (opening %.1f ms), "
                    "%zu files open at most\n",
                    (long long)r.total, r.crossings.empty() ? -1LL : (long long)r.crossings[0].scan, msSince(t1),
                    opened, series ? series->mostOpenSeen() : std::size_t{1});
    } else if (mode == "zoom") {
        const double scans = double(run->scanCount());
        int mostFds = openFiles();
        const auto t1 = Clock::now();
        int steps = 0;
        // From the whole down to a second, at eight places across it, and a pan across the whole at a minute.
        for (int at = 0; at < 8; ++at)
            for (double width = scans; width >= 10000; width /= 2, ++steps) {
                const double centre = scans * (at + 0.5) / 8;
                run->summarise(centre - width / 2, centre + width / 2, columns, out);
                mostFds = std::max(mostFds, openFiles());
            }
        for (double first = 0; first < scans; first += scans / 200, ++steps) {
            run->summarise(first, first + 600000, columns, out);
            mostFds = std::max(mostFds, openFiles());
        }
        std::printf("zoom and pan: %d frames in %.0f ms, %d descriptors open at most, %zu files held at most, "
                    "peak RSS %ld KiB\n",
                    steps, msSince(t1), mostFds, series ? series->mostOpenSeen() : std::size_t{1}, peakKiB());
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "make") == 0)
        return make(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));
    if (argc >= 3)
        return run(argv[1], argv[2], !(argc >= 4 && std::strcmp(argv[3], "--no-index") == 0));
    std::fprintf(stderr, "usage: series_bench make DIR FILES BLOCKS | frame|stats|search|zoom PATH [--no-index]\n");
    return 2;
}
