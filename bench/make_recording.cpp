// A synthetic recording through the real writer (not its thread, no card to
// wait for): BLOCKS blocks of 1000 scans of 4 channels (default 864000, a
// day at the panel's 10 blocks/s; 600 is a minute), summaries included, one
// block in 997 missing as a failed fetch. The card's clock is simulated, so
// the file is flushed once a simulated second, as the panel flushes it;
// --sync also syncs every 5 simulated seconds, as the panel does.
//
//   make_recording FILE [BLOCKS] [--sync]
#include "recording/recording_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

int main(int argc, char **argv)
{
    using namespace adcard;
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_recording FILE [BLOCKS] [--sync]\n");
        return 2;
    }
    const bool sync = argc > 2 && !std::strcmp(argv[argc - 1], "--sync");
    const int64_t blocks = argc > 2 + sync ? std::atoll(argv[2]) : 864000;
    AcqSettings s{.IntrArg1 = 10, .ScansPerBlock = 1000, .ChannelCount = 4, .IntrArg5 = 10000, .IntrArg7 = 1};
    // Slow sines of different periods, with cheap noise: a few ns a sample.
    std::vector<int16_t> wave(1 << 16), block(4000);
    for (std::size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int16_t>(2048 + 1500 * std::sin(6.283185307 * double(i) / double(wave.size())));
    uint32_t noise = 1;
    const auto began = std::chrono::steady_clock::now();
    int64_t summaries = 0;
    try {
        const RecordingWriter::Policy policy{std::chrono::seconds{1}, sync ? std::chrono::seconds{5} : std::chrono::hours{1 << 20}};
        RecordingWriter w(std::make_unique<RecordingFile>(argv[1], true), "synthetic", "make_recording", policy);
        const int64_t startNs = 1'780'000'000'000'000'000;
        const RecordingWriter::Clock::time_point t0{};
        w.beginRun(s, startNs, t0);
        for (int64_t i = 0; i < blocks; ++i) {
            const auto card = std::chrono::milliseconds{100 * (i + 1)};
            if (i % 997 != 996) {
                for (std::size_t k = 0; k < 4000; ++k) {
                    noise = noise * 1664525u + 1013904223u;
                    const std::size_t scan = std::size_t(i) * 1000 + k / 4, c = k % 4;
                    block[k] = int16_t(wave[(scan / (c + 1) + c * 16384) % wave.size()] + int16_t(noise >> 28) - 8);
                }
                w.onBlock(i, int32_t(i % 20), block);
            }
            const int64_t ns = startNs + std::chrono::nanoseconds(card).count();
            w.onTickEnd({ns, i + 1, (i + 1) / 997, 0, i % 10 == 0, {int16_t(i / 10 & 0xff), 0}}, t0 + card);
        }
        for (int l = 1; l <= format::kPyramid.levels; ++l)
            summaries += w.file().summaries(l) * (20 + 12 * 4);
        w.close(startNs + blocks * 100'000'000, t0 + std::chrono::milliseconds{100 * (blocks + 1)});
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_recording: %s\n", e.what());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto size = static_cast<int64_t>(std::filesystem::file_size(argv[1]));
    std::printf("%lld blocks, %lld bytes, %.1f s, %.0f blocks/s; summaries %lld bytes uncompressed\n",
                static_cast<long long>(blocks), static_cast<long long>(size), seconds, double(blocks) / seconds,
                static_cast<long long>(summaries));
    return 0;
}
