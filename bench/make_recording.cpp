// A synthetic recording through the real writer (not its thread, no card to
// wait for): BLOCKS blocks of 1000 scans of 4 channels (default 864000, a
// day at the panel's 10 blocks/s; 600 is a minute), summaries included, one
// block in 997 missing as a failed fetch. The card's clock is simulated, so
// the file is flushed once a simulated second, as the panel flushes it;
// --sync also syncs every 5 simulated seconds, as the panel does.
//
// Each channel is a slow sine of its own period (codes 548 to 3548, ±3.66 V)
// with noise of -8 to +7 codes, so none goes above 3.680 V. Channel 3 also
// holds a 30 ms pulse to 4.50 V (code 3890, the same noise) once every
// 11,999,371 scans, the first at 600 s, a little under 20 simulated minutes
// apart so that they fall at every place in a block. A search for channel 3
// above 4.0 V finds one crossing a pulse: 72 in a day of 864,000 blocks,
// where no pulse falls in a hole, with --gaps or without.
//
// --gaps also leaves out six longer stretches, as when the recorder could
// not keep up: 12, 40, 150, 600, 1800 and 4000 blocks (at most a hundredth
// of the run each), beginning at 11, 27, 43, 58, 74 and 90 % of the run,
// counted as dropped.
//
// --block-scans N makes blocks of N scans (1 to 1000) rather than 1000, at
// the same 10 blocks a second: a long run's rows, markers and inputs at a
// fraction of its size (a month of 1-scan blocks is some 1.2 GB, where one
// of full blocks would be 210 GB). The sample rate written is 10 N scans a
// second, so times stay true.
//
// --units names the channels and gives them units, as a lab would (入口压力
// in bar, 出口温度 in °C, 通道3 in volts, 流量 in L/min), and adds a 50 Hz
// ripple of 100 codes to 入口压力, a pump's: the pictures of the axes and
// of the spectrum are made from it.
//
// --split DURATION|SIZE (30s, 10m, 1h, 1d; 500MiB, 2GiB) writes the same
// recording as a series of files FILE_YYYYMMDD-HHMMSS.h5 beside FILE, through
// the recorder's own SeriesWriter, and prints the writer's latency for one
// block (its write and its tick's end): the median, the worst, and the worst
// at a boundary, where the old file is closed.
//
//   make_recording FILE [BLOCKS] [--sync] [--gaps] [--units] [--split D|S] [--block-scans N]
#include "recording/series_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

namespace {

constexpr const char *kUsage = "usage: make_recording FILE [BLOCKS] [--sync] [--gaps] [--units] [--split D|S] [--block-scans N]\n";

constexpr int64_t kPulsePeriod = 11'999'371, kPulsePhase = 6'000'000, kPulseScans = 300;
constexpr int16_t kPulseCode = 3890;

struct Gap {
    int64_t first, end; // blocks [first, end)
};

std::vector<Gap> gapsFor(int64_t blocks)
{
    static constexpr std::array<std::pair<int, int64_t>, 6> kGaps{
        {{11, 12}, {27, 40}, {43, 150}, {58, 600}, {74, 1800}, {90, 4000}}};
    std::vector<Gap> gaps;
    for (const auto &[percent, length] : kGaps) {
        const int64_t first = blocks * percent / 100;
        gaps.push_back({first, first + std::min(length, std::max<int64_t>(1, blocks / 100))});
    }
    return gaps;
}

// "10m" as a split by time, "500MiB" by size; false for anything else.
bool parseSplit(std::string_view text, adcard::SplitPolicy &split)
{
    const auto unit = text.find_first_not_of("0123456789");
    if (unit == 0 || unit == std::string_view::npos)
        return false;
    const long long n = std::strtoll(std::string(text.substr(0, unit)).c_str(), nullptr, 10);
    const std::string_view u = text.substr(unit);
    static constexpr std::pair<std::string_view, int64_t> kTimes[] = {
        {"s", 1}, {"m", 60}, {"min", 60}, {"h", 3600}, {"d", 86400}};
    for (const auto &[name, seconds] : kTimes)
        if (u == name)
            split.everyNs = n * seconds * 1'000'000'000;
    if (u == "MiB")
        split.everyBytes = n << 20;
    if (u == "GiB")
        split.everyBytes = n << 30;
    split.text = std::string(text);
    return n > 0 && split.any();
}

struct Latency {
    std::vector<double> all, boundary, ahead; // ms per block
    static double median(std::vector<double> v)
    {
        if (v.empty())
            return 0;
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    }
    static double worst(const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

} // namespace

int main(int argc, char **argv)
{
    using namespace adcard;
    bool sync = false, withGaps = false, withUnits = false;
    SplitPolicy split;
    int64_t blocks = 864000, scansPerBlock = 1000;
    const char *path = nullptr;
    bool counted = false;
    for (int a = 1; a < argc; ++a) {
        const std::string_view arg = argv[a];
        if (arg == "--sync") {
            sync = true;
        } else if (arg == "--units") {
            withUnits = true;
        } else if (arg == "--gaps") {
            withGaps = true;
        } else if (arg == "--split") {
            if (a + 1 >= argc || !parseSplit(argv[a + 1], split)) {
                std::fprintf(stderr, "make_recording: --split takes 30s, 10m, 1h, 1d, 500MiB or 2GiB\n%s", kUsage);
                return 2;
            }
            ++a;
        } else if (arg == "--block-scans" && a + 1 < argc) {
            char *end = nullptr;
            scansPerBlock = std::strtoll(argv[++a], &end, 10);
            if (*end || scansPerBlock < 1 || scansPerBlock > 1000) {
                std::fprintf(stderr, "make_recording: --block-scans takes 1 to 1000, not %s\n%s", argv[a], kUsage);
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "make_recording: unknown option %s\n%s", argv[a], kUsage);
            return 2;
        } else if (!path) {
            path = argv[a];
        } else if (!counted) {
            char *end = nullptr;
            blocks = std::strtoll(argv[a], &end, 10);
            if (*end || blocks <= 0) {
                std::fprintf(stderr, "make_recording: BLOCKS must be a positive number, not %s\n%s", argv[a], kUsage);
                return 2;
            }
            counted = true;
        } else {
            std::fprintf(stderr, "make_recording: one FILE and one BLOCKS only\n%s", kUsage);
            return 2;
        }
    }
    if (!path) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::vector<Gap> gaps = withGaps ? gapsFor(blocks) : std::vector<Gap>{};
    AcqSettings s{.IntrArg1 = 10, .ScansPerBlock = int32_t(scansPerBlock), .ChannelCount = 4,
                  .IntrArg5 = int32_t(10 * scansPerBlock), .IntrArg7 = 1};
    // Slow sines of different periods, with cheap noise: a few ns a sample.
    std::vector<int16_t> wave(1 << 16), block(std::size_t(4 * scansPerBlock));
    for (std::size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int16_t>(2048 + 1500 * std::sin(6.283185307 * double(i) / double(wave.size())));
    uint32_t noise = 1;
    const auto began = std::chrono::steady_clock::now();
    int64_t summaries = 0, missed = 0, dropped = 0;
    Latency latency;
    int64_t files = 1;
    std::size_t gap = 0;
    try {
        RecordingWriter::Policy policy{std::chrono::seconds{1}, sync ? std::chrono::seconds{5} : std::chrono::hours{1 << 20}};
        if (withUnits)
            policy.units = {{"入口压力", "bar", 2.0, 5.0}, {"出口温度", "°C", 10.0, 20.0}, {}, {"流量", "L/min", 3.0, 15.0}};
        // A series never replaces a file; a single file is made anew.
        SeriesWriter w({path, !split.any(), "synthetic", "make_recording", policy, split});
        const int64_t startNs = 1'780'000'000'000'000'000;
        const RecordingWriter::Clock::time_point t0{};
        w.beginRun(s, startNs, t0);
        for (int64_t i = 0; i < blocks; ++i) {
            const auto card = std::chrono::milliseconds{100 * (i + 1)};
            while (gap < gaps.size() && gaps[gap].end <= i)
                ++gap;
            const bool inGap = gap < gaps.size() && gaps[gap].first <= i;
            if (i % 997 == 996) {
                ++missed;
            } else if (inGap) {
                ++dropped;
            } else {
                for (std::size_t k = 0; k < block.size(); ++k) {
                    noise = noise * 1664525u + 1013904223u;
                    const std::size_t scan = std::size_t(i * scansPerBlock) + k / 4, c = k % 4;
                    block[k] = int16_t(wave[(scan / (c + 1) + c * 16384) % wave.size()] + int16_t(noise >> 28) - 8);
                    if (withUnits && c == 0) // 50 Hz: 200 scans a period
                        block[k] = int16_t(block[k] + wave[scan % 200 * wave.size() / 200] / 15 - 2048 / 15);
                }
                // The latest pulse to begin by the block's last scan, where it overlaps the block.
                const int64_t blockFirst = i * scansPerBlock, last = blockFirst + scansPerBlock - 1;
                if (last >= kPulsePhase) {
                    const int64_t pulse = (last - kPulsePhase) / kPulsePeriod * kPulsePeriod + kPulsePhase;
                    for (int64_t scan = std::max(pulse, blockFirst); scan < pulse + kPulseScans && scan <= last; ++scan) {
                        int16_t &code = block[std::size_t(scan - blockFirst) * 4 + 2];
                        code = int16_t(kPulseCode + (code & 15) - 8); // noisy as the sines are
                    }
                }
            }
            const int64_t place = w.place();
            const bool hadAhead = !w.aheadPath().empty();
            const auto before = std::chrono::steady_clock::now();
            if (!inGap && i % 997 != 996)
                w.onBlock(i, int32_t(i % 20), block);
            const int64_t ns = startNs + std::chrono::nanoseconds(card).count();
            w.onTickEnd({ns, i + 1, missed, dropped, i % 10 == 0, {int16_t(i / 10 & 0xff), 0}}, t0 + card);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
            latency.all.push_back(ms);
            if (w.place() != place)
                latency.boundary.push_back(ms);
            else if (!hadAhead && !w.aheadPath().empty())
                latency.ahead.push_back(ms);
        }
        if (w.current() && !split.any())
            for (int l = 1; l <= format::kPyramid.levels; ++l)
                summaries += w.current()->file().summaries(l) * (20 + 12 * 4);
        files = w.place() + 1;
        w.close(startNs + blocks * 100'000'000, t0 + std::chrono::milliseconds{100 * (blocks + 1)});
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_recording: %s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (split.any()) {
        std::printf("%lld blocks in %lld files, %.1f s; a block's write: median %.3f ms, worst %.3f ms; "
                    "at the %zu boundaries: median %.3f ms, worst %.3f ms; "
                    "making the next file ahead: median %.3f ms, worst %.3f ms\n",
                    static_cast<long long>(blocks), static_cast<long long>(files), seconds,
                    Latency::median(latency.all), Latency::worst(latency.all), latency.boundary.size(),
                    Latency::median(latency.boundary), Latency::worst(latency.boundary),
                    Latency::median(latency.ahead), Latency::worst(latency.ahead));
        return 0;
    }
    const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
    std::printf("%lld blocks (%lld missed, %lld dropped), %lld bytes, %.1f s, %.0f blocks/s; "
                "summaries %lld bytes uncompressed\n",
                static_cast<long long>(blocks), static_cast<long long>(missed), static_cast<long long>(dropped),
                static_cast<long long>(size), seconds, double(blocks) / seconds, static_cast<long long>(summaries));
    return 0;
}
