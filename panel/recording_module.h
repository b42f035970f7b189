#pragma once
// Opening a recording for review through the recorder module, which holds
// the reader (and HDF5). Usable before the QApplication exists, so that
// --open can refuse a bad file before any window shows.
#include "recording/recording_reader.h"

#include <QString>

#include <memory>

namespace adcard {

// Null with the reason in `why` (the caller names the file).
std::unique_ptr<RecordingReader> openRecordingFile(const QString &path, QString &why);

struct OpenedRecording {
    std::unique_ptr<RecordingReader> reader;
    std::unique_ptr<RecordedRun> run; // the first run with blocks
};
// The file and its first run with blocks, as a review begins; both null,
// with the reason in `why`, when either cannot be opened.
OpenedRecording openRecordingForReview(const QString &path, QString &why);

} // namespace adcard
