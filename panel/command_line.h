#pragma once
// The program's options, read before the QApplication exists and before the
// driver is touched, so that --help, --version and a mistyped option work
// without a display and without a card.
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace adcard {

struct CommandLine {
    bool history = false; // open the history window beside the panel
    QString record;       // record to this file from the next Start; empty: no
    bool overwrite = false; // an existing record file may be replaced
    QString open;         // review this recording alone, without the card; empty: no
    // --driver-host[=PROGRAM]: the driver in a host process; an empty
    // program means the adcard-host that came with the panel.
    std::optional<QString> driverHost;
};

struct ParsedCommandLine {
    std::optional<CommandLine> run; // none: exit at once with `status`
    int status = 0;
    std::string out; // for standard output
    std::string err; // for standard error
};

// `arguments` as in argv, the program's name first.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

} // namespace adcard
