#pragma once
// Which run a review starts on, shared by --open and the window's own
// opening so both refuse the same files for the same reasons.
#include "recording/recording_reader.h"

#include <memory>
#include <string>

namespace adcard {

// The first run that holds blocks, opened; null with the reason in `why`
// when the file has no runs, none with blocks, or that run cannot be read.
std::unique_ptr<RecordedRun> openFirstRun(RecordingReader &reader, std::string &why);

// A run's start as a person reads it: this machine's local time with its
// offset (UTC when `utc`), from the stored nanoseconds. The file's own text
// is UTC and would disagree with the time axis, so it is shown only when the
// nanoseconds are missing; empty when neither is known.
std::string runStartText(const RecordedRunInfo &run, bool utc = false);

} // namespace adcard
