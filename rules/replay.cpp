#include "rules/replay.h"

#include <algorithm>

namespace adcard::rules {

namespace {

constexpr double kPanelScansPerSecond = 10000.0;
constexpr int64_t kScansPerRead = 100'000; // a read's share of the run: bounded memory, few calls

} // namespace

ReplayResult replay(const RecordedRun &run, const RuleSet &rules, double scansPerSecond)
{
    const RecordedRunInfo &info = run.info();
    double rate = info.scansPerSecond > 0 ? info.scansPerSecond : scansPerSecond;
    if (!(rate > 0))
        rate = kPanelScansPerSecond;
    const int channels = std::max(1, info.channels);
    Engine engine(rules, info.units, info.calibration, channels, info.scansPerBlock, rate);
    ReplayResult out;
    const std::vector<RecordedDigital> rows = run.digital(0, info.scans + 1);
    std::size_t nextRow = 0;
    // The tick that read a row had harvested every scan before the row's.
    const auto inputsUpTo = [&](int64_t scan) {
        for (; nextRow < rows.size() && rows[nextRow].scan <= scan; ++nextRow) {
            engine.inputs(rows[nextRow].port0, rows[nextRow].port1, rows[nextRow].scan);
            engine.tickEnded();
        }
    };
    const auto take = [&] {
        for (const Event &e : engine.takeEvents())
            out.events.push_back(e);
    };
    bool complete = true;
    for (int64_t first = 0; first < info.scans && complete; first += kScansPerRead) {
        const int64_t end = std::min(info.scans, first + kScansPerRead);
        complete = run.readScans(first, end, [&](int64_t firstScan, const int16_t *codes, int64_t scans) {
            inputsUpTo(firstScan);
            engine.block({codes, static_cast<std::size_t>(scans * channels)}, firstScan);
            take();
            return true;
        });
    }
    if (complete)
        inputsUpTo(info.scans);
    else
        out.error = run.readError();
    take();
    return out;
}

} // namespace adcard::rules
