#pragma once
// A dry run: rules over a recorded run, through the same Engine as live, so
// that a rule can be tried on last night's recording before it is armed.
// Only the reader's interface is used here; the reader itself (and HDF5)
// stay with whoever opened the file.
#include "recording/recording_reader.h"
#include "rules/engine.h"

#include <string>
#include <vector>

namespace adcard::rules {

struct ReplayResult {
    std::vector<Event> events; // in scan order, scans of the run
    std::string error;         // what could not be read (the events stop there), or empty
};

// The run's blocks go to the Engine in order, in the run's units and
// calibration, and its digital rows as the ticks' inputs, each after the
// blocks it follows. `scansPerSecond` stands in where the run does not say
// (0: the panel's 10000).
ReplayResult replay(const RecordedRun &run, const RuleSet &rules, double scansPerSecond = 0);

} // namespace adcard::rules
