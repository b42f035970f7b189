#pragma once
// Recordings for the review's tests, made with the panel's own writer.
#include "recording/recording_writer.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace adcard::testing {

// The code channel c (0..3) was given at `scan`: sines of 2, 1, 0.67 and 0.5 s.
inline int16_t writtenCode(int64_t scan, int c)
{
    return static_cast<int16_t>(2048 + std::lround(1500 * std::sin(6.283185 * static_cast<double>(scan) / 10000.0 *
                                                                   (c + 1) / 2.0)));
}

// One run of `blocks` blocks of 1000 scans of 4 channels at 10000 scans/s,
// one tick a block; the indices in `holes` are fetches that failed; a marker
// "m<i>" follows each block index i in `markers`. blocks == 0: a run with none.
// The codes are `code(scan, channel)`.
inline void writeRecording(const std::string &path, int64_t blocks, const std::vector<int64_t> &holes = {},
                           const std::vector<int64_t> &markers = {}, Calibration calibration = kPanelCalibration,
                           ChannelUnits units = {}, const std::function<int16_t(int64_t, int)> &code = writtenCode)
{
    AcqSettings s;
    s.ScansPerBlock = 1000;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    RecordingWriter::Policy policy;
    policy.calibration = calibration;
    policy.units = std::move(units);
    RecordingWriter w(std::make_unique<RecordingFile>(path, true), "test", "test", policy);
    const RecordingWriter::Clock::time_point t0{};
    const int64_t startNs = 1796644800000000000; // 2026-12-07 12:00 UTC
    w.beginRun(s, startNs, t0);
    std::vector<int16_t> codes(4000);
    TickEnd tick;
    for (int64_t b = 0; b < blocks; ++b) {
        if (std::find(holes.begin(), holes.end(), b) != holes.end()) {
            ++tick.missed;
        } else {
            for (int k = 0; k < 1000; ++k)
                for (int c = 0; c < 4; ++c)
                    codes[static_cast<std::size_t>(k * 4 + c)] = code(b * 1000 + k, c);
            w.onBlock(b, static_cast<int32_t>(b % 20), codes);
        }
        tick.timeNs = startNs + (b + 1) * 100000000;
        tick.blockCount = b + 1;
        w.onTickEnd(tick, t0);
        if (std::find(markers.begin(), markers.end(), b) != markers.end())
            w.addMarker(tick.timeNs, "m" + std::to_string(b));
    }
    w.close(startNs + (blocks + 1) * 100000000, t0);
}

} // namespace adcard::testing
