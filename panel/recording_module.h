#pragma once
// Opening a recording for review through the recorder module, which holds
// the reader (and HDF5). Usable before the QApplication exists, so that
// --open can refuse a bad file before any window shows.
#include "query/transform.h"
#include "recording/recording_reader.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace adcard {

// Where to look for the recorder module: beside the program as installed,
// and in the build tree only when the program runs from the build tree, so
// that an installed program never loads a module from the build machine.
QStringList recorderModuleCandidates(const QString &appDir, const QString &fromBinDir, const QString &built,
                                     const QString &buildDir);

// An entry of the recorder module, which brings HDF5 and is loaded at its
// first use, for recording and for review alike. Never unloaded: a writer
// thread or a reader may outlive any one use. Null, with the reason in
// `why`, when the module or the entry cannot be had.
QFunctionPointer recorderModuleEntry(const char *entry, QString &why);

// Null with the reason in `why` (the caller names the file).
std::unique_ptr<RecordingReader> openRecordingFile(const QString &path, QString &why);

struct OpenedRecording {
    std::unique_ptr<RecordingReader> reader;
    std::unique_ptr<RecordedRun> run; // the first run with blocks
    query::MakeTransformFn transform = nullptr; // the module's, for spectra
};
// The file and its first run with blocks, as a review begins; both null,
// with the reason in `why`, when either cannot be opened.
OpenedRecording openRecordingForReview(const QString &path, QString &why);

} // namespace adcard
