#pragma once
// Crafted recordings for the query tests, written by the panel's own writer.
#include "recording/recording_writer.h"

#include <functional>
#include <string>
#include <vector>

namespace adcard::testing {

// One run of `blocks` blocks of `scansPerBlock` scans of 4 channels at
// 10000 scans/s; `code(scan, channel)` gives each sample, block indices in
// `holes` are missed fetches, block b's digital port 0 reads b / 3 % 4, and
// port 1 reads 1 at the last tick only. `units` name the channels, and
// `marker` (when not empty) is stamped at the end of block 1; `calibration`
// turns codes into volts.
inline void writeCrafted(const std::string &path, int scansPerBlock, int64_t blocks, const std::vector<int64_t> &holes,
                         const std::function<int16_t(int64_t, int)> &code, const ChannelUnits &units = {},
                         const std::string &marker = {}, const Calibration &calibration = kPanelCalibration)
{
    AcqSettings s;
    s.ScansPerBlock = scansPerBlock;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    RecordingWriter::Policy policy;
    policy.units = units;
    policy.calibration = calibration;
    RecordingWriter w(std::make_unique<RecordingFile>(path, true), "test", "test", policy);
    const RecordingWriter::Clock::time_point t0{};
    const int64_t startNs = 1796644800000000000;
    w.beginRun(s, startNs, t0);
    std::vector<int16_t> codes(std::size_t(scansPerBlock) * 4);
    TickEnd tick;
    for (int64_t b = 0; b < blocks; ++b) {
        if (std::find(holes.begin(), holes.end(), b) != holes.end()) {
            ++tick.missed;
        } else {
            for (int k = 0; k < scansPerBlock; ++k)
                for (int c = 0; c < 4; ++c)
                    codes[std::size_t(k * 4 + c)] = code(b * scansPerBlock + k, c);
            w.onBlock(b, int32_t(b % 20), codes);
        }
        if (b == 1 && !marker.empty())
            w.addMarker(startNs + 2 * 10000000, marker, 1);
        tick.timeNs = startNs + (b + 1) * 10000000;
        tick.blockCount = b + 1;
        tick.digitalRead = true;
        tick.digital = {int16_t(b / 3 % 4), int16_t(b + 1 == blocks)};
        w.onTickEnd(tick, t0);
    }
    w.close(startNs + (blocks + 1) * 10000000, t0);
}

} // namespace adcard::testing
