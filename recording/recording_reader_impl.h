#pragma once
// The reader behind the module's `adcard_open_recording`, for tests and tools
// that link the recording library itself.
#include "recording/recording_reader.h"

#include <string>

namespace adcard {

// Opens `path` for reading; null with the reason in `error` otherwise.
RecordingReader *openRecording(const char *path, std::string *error);

} // namespace adcard
