// Writes a synthetic recording through the real writer (not its thread, and
// without waiting for a card): N blocks of 1000 scans of 4 channels, as the
// panel records them at its fixed rate of 10 blocks a second, summaries
// included. The card's clock is simulated, so the file flushes once per
// simulated second, as the panel does.
//
//   make_recording FILE [BLOCKS] [--gaps] [--sync]
//
// BLOCKS defaults to 864000 (a day); 600 is a minute. --gaps leaves out one
// block in 997, as a missed fetch would. --sync syncs every 5 simulated
// seconds, as the panel does (slow on a real disk: a day makes 17280 syncs).
// Prints the file's size, the summaries' share and the rate.
#include "recording/recording_writer.h"

#include <hdf5.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace adcard;

// Slow sines of different periods on each channel, with cheap noise: enough
// variety for the summaries to mean something, at a few ns a sample.
void fill(std::vector<int16_t> &block, int64_t index, const std::vector<int16_t> &wave, uint32_t &noise)
{
    const std::size_t n = wave.size();
    for (std::size_t k = 0; k < 1000; ++k) {
        const std::size_t scan = static_cast<std::size_t>(index) * 1000 + k;
        for (std::size_t c = 0; c < 4; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const int16_t v = wave[(scan / (c + 1) + c * n / 4) % n];
            block[k * 4 + c] = static_cast<int16_t>(v + static_cast<int16_t>(noise >> 28) - 8);
        }
    }
}

int64_t summaryBytes(const std::string &path)
{
    const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    int64_t bytes = 0;
    for (int l = 1; l <= SummaryBuilder::kLevels && f >= 0; ++l) {
        const hid_t d = H5Dopen2(f, ("summaries/level" + std::to_string(l)).c_str(), H5P_DEFAULT);
        bytes += static_cast<int64_t>(H5Dget_storage_size(d));
        H5Dclose(d);
    }
    H5Fclose(f);
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_recording FILE [BLOCKS] [--gaps] [--sync]\n");
        return 2;
    }
    const std::string path = argv[1];
    int64_t blocks = 864000;
    bool gaps = false;
    bool sync = false;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--gaps"))
            gaps = true;
        else if (!std::strcmp(argv[i], "--sync"))
            sync = true;
        else
            blocks = std::atoll(argv[i]);
    }
    AcqSettings s;
    s.IntrArg1 = 10;
    s.ScansPerBlock = 1000;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    s.IntrArg7 = 1;
    std::vector<int16_t> wave(1 << 16);
    for (std::size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int16_t>(2048 + 1500 * std::sin(6.283185307 * double(i) / double(wave.size())));
    std::vector<int16_t> block(4000);
    uint32_t noise = 1;

    const auto began = std::chrono::steady_clock::now();
    try {
        RecordingWriter::Policy policy;
        policy.flushEvery = std::chrono::milliseconds{1000};
        policy.syncEvery = sync ? std::chrono::milliseconds{5000} : std::chrono::hours{24 * 365};
        RecordingWriter w(std::make_unique<RecordingFile>(path, true), "synthetic", "make_recording", policy);
        const int64_t startNs = 1'780'000'000'000'000'000;
        const auto t0 = RecordingWriter::Clock::time_point{};
        w.beginRun(s, startNs, t0);
        int64_t missed = 0;
        for (int64_t i = 0; i < blocks; ++i) {
            const auto card = std::chrono::milliseconds{100 * (i + 1)};
            if (gaps && i % 997 == 996) {
                ++missed;
            } else {
                fill(block, i, wave, noise);
                w.onBlock(i, static_cast<int32_t>(i % 20), block);
            }
            TickEnd t;
            t.timeNs = startNs + std::chrono::nanoseconds(card).count();
            t.blockCount = i + 1;
            t.missed = missed;
            t.digitalRead = i % 10 == 0;
            t.digital = {static_cast<int16_t>(i / 10 & 0xff), static_cast<int16_t>(i / 600 & 0xff)};
            w.onTickEnd(t, t0 + card);
        }
        const auto end = t0 + std::chrono::milliseconds{100 * (blocks + 1)};
        w.close(startNs + std::chrono::nanoseconds(end - t0).count(), end);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_recording: %s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const int64_t summaries = summaryBytes(path);
    std::FILE *f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const int64_t size = std::ftell(f);
    std::fclose(f);
    std::printf("blocks %lld, file %lld bytes, summaries %lld bytes (%.2f %% of the file without them), "
                "%.1f s, %.0f blocks/s\n",
                static_cast<long long>(blocks), static_cast<long long>(size), static_cast<long long>(summaries),
                100.0 * double(summaries) / double(size - summaries), seconds, double(blocks) / seconds);
    return 0;
}
