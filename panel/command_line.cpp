#include "panel/command_line.h"

#include "panel/system.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>


namespace adcard {

namespace {

// QApplication's own options, which it takes out of argv itself: accepted
// here and left out of the help.
const char *const kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                       "qmljsdebugger", "qwindowgeometry", "qwindowicon", "qwindowtitle",
                                       "session", "display", "geometry", "style", "stylesheet"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

std::optional<std::chrono::milliseconds> parseDuration(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})([smh])$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const qint64 n = m.captured(1).toLongLong();
    const QChar unit = m.captured(2).front();
    const qint64 seconds = n * (unit == QLatin1Char('h') ? 3600 : unit == QLatin1Char('m') ? 60 : 1);
    // A QTimer counts milliseconds in an int.
    if (seconds < 1 || seconds > 24 * 24 * 3600)
        return std::nullopt;
    return std::chrono::milliseconds(seconds * 1000);
}

std::string recordPathProblem(const QString &path, bool overwrite)
{
    const QFileInfo file(path);
    if (file.isDir())
        return "it is a folder";
    if (file.exists() && !overwrite)
        return "it exists";
    // The recorder writes into the folder (a replaced file goes in beside the
    // old one first), so the folder is what must be writable.
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return "no folder " + folder.filePath().toStdString();
    if (!folder.isDir())
        return folder.filePath().toStdString() + " is not a folder";
    if (const std::string why = sys::folderWriteProblem(folder.filePath()); !why.empty())
        return "cannot write in " + folder.filePath().toStdString() + ": " + why;
    return {};
}

namespace {

// The program's own options; Qt's are accepted and kept out of the help.
struct Options {
    QCommandLineOption help, version, history, record, overwrite, eventsOnly, review, driverHost, start, stopAfter, rules;
};

Options addOptions(QCommandLineParser &parser)
{
    // Qt's options are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Operator panel of the multi-buffer acquisition card.\n\n"
        "Exit status: 0 when the program ended normally and a recording kept every block;\n"
        "1 when no display could be opened; 2 for a wrong option or a record file that\n"
        "cannot be written; 3 when the recording lost blocks or stopped on an error."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    Options o{
        help,
        version,
        QCommandLineOption(QStringLiteral("history"), QStringLiteral("Open the history window beside the panel.")),
        QCommandLineOption(QStringLiteral("record"),
                           QStringLiteral("Record every block to the HDF5 file <file>, from the next Start."),
                           QStringLiteral("file")),
        QCommandLineOption(QStringLiteral("overwrite"), QStringLiteral("Let --record replace an existing file.")),
        QCommandLineOption(QStringLiteral("events-only"),
                           QStringLiteral("With --record: record only the seconds around each event that a capture "
                                          "rule asks for, each stretch a run of its own.")),
        QCommandLineOption(QStringLiteral("open"), QStringLiteral("Review the recording <file> alone, without the card."),
                           QStringLiteral("file")),
        // Its value is optional, which QCommandLineParser does not know: a
        // "--driver-host=PROGRAM" is taken out before parsing.
        QCommandLineOption(QStringLiteral("driver-host"),
                           QStringLiteral("Run the card driver in a process of its own, adcard-host "
                                          "or --driver-host=PROGRAM.")),
        QCommandLineOption(QStringLiteral("start"), QStringLiteral("Press Start once the window shows, as a click would.")),
        QCommandLineOption(QStringLiteral("stop-after"),
                           QStringLiteral("Press Stop and then Exit <duration> after the window shows (90s, 10m, 8h), "
                                          "so that a recording closes cleanly."),
                           QStringLiteral("duration")),
        QCommandLineOption(QStringLiteral("rules"),
                           QStringLiteral("Arm the rules of the file <file> (JSON) for this run, in place of the "
                                          "saved ones."),
                           QStringLiteral("file")),
    };
    for (const QCommandLineOption *opt :
         {&o.history, &o.record, &o.overwrite, &o.eventsOnly, &o.review, &o.driverHost, &o.start, &o.stopAfter, &o.rules})
        parser.addOption(*opt);
    for (const char *name : kQtValueOptions) {
        QCommandLineOption q(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        q.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(q);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption q(QString::fromLatin1(name));
        q.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(q);
    }
    return o;
}

// "--driver-host=PROGRAM" becomes "--driver-host"; PROGRAM is returned.
std::optional<QString> takeHostProgram(QStringList &args)
{
    std::optional<QString> hostProgram;
    for (QString &a : args) {
        if (a.startsWith(QStringLiteral("--driver-host="))) {
            hostProgram = a.mid(14);
            a = QStringLiteral("--driver-host");
        }
    }
    return hostProgram;
}

struct Refusal {
    QString why;
    bool withUsage = true;
};

// What is wrong with the options together, before anything happens: nothing
// is overwritten unasked, and a file that cannot be written is said at once,
// not after a Start.
std::optional<Refusal> refusal(const CommandLine &line, const QCommandLineParser &parser, const Options &o)
{
    if (parser.isSet(o.record) && line.record.isEmpty())
        return Refusal{QStringLiteral("--record needs a file name")};
    if (line.overwrite && !parser.isSet(o.record))
        return Refusal{QStringLiteral("--overwrite applies only with --record")};
    if (line.eventsOnly && !parser.isSet(o.record))
        return Refusal{QStringLiteral("--events-only applies only with --record")};
    if (parser.isSet(o.stopAfter) && !line.stopAfter)
        return Refusal{QStringLiteral("--stop-after takes a duration such as 90s, 10m or 8h, not '") +
                       parser.value(o.stopAfter) + QLatin1Char('\'')};
    if (parser.isSet(o.review) && line.open.isEmpty())
        return Refusal{QStringLiteral("--open needs a file name")};
    if (parser.isSet(o.rules) && line.rules.isEmpty())
        return Refusal{QStringLiteral("--rules needs a file name")};
    if (parser.isSet(o.review) &&
        (line.history || parser.isSet(o.record) || line.start || line.stopAfter || parser.isSet(o.rules)))
        return Refusal{QStringLiteral("--open takes no --history, --record, --start, --stop-after or --rules")};
    if (!line.record.isEmpty() && !line.overwrite && QFileInfo::exists(line.record) &&
        !QFileInfo(line.record).isDir())
        return Refusal{QLatin1Char('\'') + line.record + QStringLiteral("' exists; give --overwrite to replace it"),
                       false};
    if (!line.record.isEmpty()) {
        const std::string problem = recordPathProblem(line.record, line.overwrite);
        if (!problem.empty())
            return Refusal{QStringLiteral("cannot record to '") + line.record + QStringLiteral("': ") +
                               QString::fromStdString(problem),
                           false};
    }
    return std::nullopt;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options o = addOptions(parser);
    QStringList args = arguments;
    const std::optional<QString> hostProgram = takeHostProgram(args);

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
    if (parser.isSet(o.help) || parser.isSet(QStringLiteral("help-all"))) {
        result.out = usage();
        return result;
    }
    if (parser.isSet(o.version)) {
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
    line.history = parser.isSet(o.history);
    line.record = parser.value(o.record);
    line.overwrite = parser.isSet(o.overwrite);
    line.eventsOnly = parser.isSet(o.eventsOnly);
    if (parser.isSet(o.driverHost))
        line.driverHost = hostProgram.value_or(QString());
    line.start = parser.isSet(o.start);
    if (parser.isSet(o.stopAfter))
        line.stopAfter = parseDuration(parser.value(o.stopAfter));
    line.open = parser.value(o.review);
    line.rules = parser.value(o.rules);
    if (const auto no = refusal(line, parser, o)) {
        result.status = kExitUsage;
        result.err = (program + QStringLiteral(": ") + no->why + QLatin1Char('\n')).toStdString();
        if (no->withUsage)
            result.err += usage();
        return result;
    }
    result.run = line;
    return result;
}

} // namespace adcard
