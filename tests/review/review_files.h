#pragma once
// Recordings for the review's tests, made with the panel's own writer.
#include "recording/recording_file.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace adcard::testing {

// One run of `blocks` blocks of 1000 scans of 4 channels at 10000 scans/s,
// each channel a sine of its own period; the indices in `holes` are left
// out, as blocks the panel could not fetch. blocks == 0: a run with none.
inline void writeRecording(const std::string &path, int blocks, const std::vector<int64_t> &holes = {})
{
    RecordingFile file(path, true);
    RunInfo info;
    info.settings.ScansPerBlock = 1000;
    info.settings.ChannelCount = 4;
    info.settings.IntrArg5 = 10000;
    info.startTime = "2026-12-07T12:00:00.000+00:00";
    file.beginRun(info);
    std::vector<int16_t> codes(4000);
    std::vector<BlockRow> rows;
    for (int64_t b = 0; b < blocks; ++b) {
        if (std::find(holes.begin(), holes.end(), b) != holes.end())
            continue;
        for (int k = 0; k < 1000; ++k)
            for (int c = 0; c < 4; ++c) {
                const double t = static_cast<double>(b * 1000 + k) / 10000.0;
                codes[static_cast<std::size_t>(k * 4 + c)] =
                    static_cast<int16_t>(2048 + std::lround(1500 * std::sin(6.283185 * t * (c + 1) / 2.0)));
            }
        file.appendBlocks(codes);
        rows.push_back({b, 1796644800000000000 + b * 100000000, static_cast<int32_t>(b % 20), 0});
    }
    file.appendRows(rows);
    file.setLosses(static_cast<int64_t>(holes.size()), 0);
    file.close();
}

} // namespace adcard::testing
