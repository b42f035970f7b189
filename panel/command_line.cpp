#include "panel/command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace adcard {

namespace {

// QApplication's own options, which it takes out of argv itself: accepted
// here and left out of the help.
const char *const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                       "qmljsdebugger", "qwindowgeometry", "qwindowicon", "qwindowtitle",
                                       "session", "display", "geometry", "style", "stylesheet"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Operator panel of the multi-buffer acquisition card."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption history(QStringLiteral("history"),
                                     QStringLiteral("Open the history window beside the panel."));
    parser.addOption(history);
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Record every block to the HDF5 file <file>, from the next Start."),
                                    QStringLiteral("file"));
    parser.addOption(record);
    const QCommandLineOption overwrite(QStringLiteral("overwrite"),
                                       QStringLiteral("Let --record replace an existing file."));
    parser.addOption(overwrite);
    const QCommandLineOption review(QStringLiteral("open"),
                                    QStringLiteral("Review the recording <file> alone, without the card."),
                                    QStringLiteral("file"));
    parser.addOption(review);
    // Its value is optional, which QCommandLineParser does not know: a
    // "--driver-host=PROGRAM" is taken out before parsing.
    const QCommandLineOption driverHost(QStringLiteral("driver-host"),
                                        QStringLiteral("Run the card driver in a process of its own, adcard-host "
                                                       "or --driver-host=PROGRAM."));
    parser.addOption(driverHost);
    QStringList args = arguments;
    std::optional<QString> hostProgram;
    for (QString &a : args) {
        if (a.startsWith(QStringLiteral("--driver-host="))) {
            hostProgram = a.mid(14);
            a = QStringLiteral("--driver-host");
        }
    }
    for (const char *name : kQtValueOptions) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    const QString program = arguments.isEmpty() ? QStringLiteral("adcard-panel") : QFileInfo(arguments.first()).fileName();
    // The parser names the program after the QCoreApplication's argv[0],
    // and there is none yet.
    const auto usage = [&] {
        const QString text = parser.helpText();
        return (QStringLiteral("Usage: ") + program + QStringLiteral(" [options]") +
                text.mid(text.indexOf(QLatin1Char('\n'))))
            .toStdString();
    };

    ParsedCommandLine result;
    if (!parser.parse(args)) {
        result.status = 2;
        result.err = (program + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n')).toStdString() + usage();
        return result;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.out = usage();
        return result;
    }
    if (parser.isSet(version)) {
        result.out = (program + QLatin1Char(' ') + QStringLiteral(ADPANEL_VERSION) + QLatin1Char('\n')).toStdString();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.status = 2;
        result.err = (program + QStringLiteral(": unexpected argument '") + parser.positionalArguments().first() +
                      QStringLiteral("'\n"))
                         .toStdString() +
                     usage();
        return result;
    }
    CommandLine line;
    line.history = parser.isSet(history);
    line.record = parser.value(record);
    line.overwrite = parser.isSet(overwrite);
    if (parser.isSet(driverHost))
        line.driverHost = hostProgram.value_or(QString());
    if (parser.isSet(record) && line.record.isEmpty()) {
        result.status = 2;
        result.err = (program + QStringLiteral(": --record needs a file name\n")).toStdString() + usage();
        return result;
    }
    line.open = parser.value(review);
    if (parser.isSet(review) && (line.open.isEmpty() || line.history || parser.isSet(record))) {
        result.status = 2;
        result.err = (program + (line.open.isEmpty() ? QStringLiteral(": --open needs a file name\n")
                                                     : QStringLiteral(": --open takes no --history or --record\n")))
                         .toStdString() +
                     usage();
        return result;
    }
    // Refused before anything else happens: nothing is overwritten unasked.
    if (!line.record.isEmpty() && !line.overwrite && QFileInfo::exists(line.record)) {
        result.status = 2;
        result.err = (program + QStringLiteral(": '") + line.record +
                      QStringLiteral("' exists; give --overwrite to replace it\n"))
                         .toStdString();
        return result;
    }
    result.run = line;
    return result;
}

} // namespace adcard
