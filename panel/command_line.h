#pragma once
// The program's options, read before the QApplication exists and before the
// driver is touched, so that --help, --version and a mistyped option work
// without a display and without a card.
#include "recording/recording_session.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <string>

namespace adcard {

struct CommandLine {
    bool history = false; // open the history window beside the panel
    QString record;       // record to this file from the next Start; empty: no
    bool overwrite = false; // an existing record file may be replaced
    bool eventsOnly = false; // record only the stretches capture rules ask for
    QString open;         // review this recording alone, without the card; empty: no
    // --driver-host[=PROGRAM]: the driver in a host process; an empty
    // program means the adcard-host that came with the panel.
    std::optional<QString> driverHost;
    bool start = false;     // press Start once the window shows
    // Press Stop and then Exit this long after the window shows; none: never.
    std::optional<std::chrono::milliseconds> stopAfter;
    // Arm the rules of this file for the run, in place of the saved ones;
    // empty: none armed.
    QString rules;
    // --split: a series of files instead of one; --keep-free, --keep: what
    // the series may delete of itself and of earlier series of that name.
    SplitPolicy split;
    RetentionPolicy retention;
};

// The smallest split: a shorter period or a smaller file would make a
// series of thousands of files a day.
inline constexpr int64_t kMinSplitNs = 10'000'000'000;
inline constexpr int64_t kMinSplitBytes = 10 * 1024 * 1024;

// The exit statuses a script can tell apart.
enum ExitStatus : int {
    kExitOk = 0,
    kExitNoDisplay = 1,     // no display could be opened
    kExitUsage = 2,         // a wrong option, or a record file that cannot be written
    kExitRecordingLost = 3, // the recording lost blocks or stopped on an error
};

struct ParsedCommandLine {
    std::optional<CommandLine> run; // none: exit at once with `status`
    int status = 0;
    std::string out; // for standard output
    std::string err; // for standard error
};

// `arguments` as in argv, the program's name first.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

// "90s", "10m", "8h", "2d": a whole number of seconds, minutes, hours or
// days (quantities/quantity_text.h), at least one second and at most 24 days
// (a Qt timer's range). None if not so, and why in `why`.
std::optional<std::chrono::milliseconds> parseDuration(const QString &text, std::string *why = nullptr);

// Why --keep-free (or the dialog's 保留空闲空间) cannot hold for a recording
// to `recordPath`: more than its disk holds at all. Empty when it can, or
// when the disk's size cannot be told.
std::string keepFreeProblem(const QString &recordPath, int64_t keepFreeBytes);

// Why `path` cannot be created (or, with `overwrite`, replaced) as a record
// file; empty if it can. Creates nothing and changes no existing file.
std::string recordPathProblem(const QString &path, bool overwrite);

} // namespace adcard
