#include "panel/command_line.h"

#include "panel/system.h"
#include "quantities/quantity_text.h"

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

std::optional<std::chrono::milliseconds> parseDuration(const QString &text, std::string *why)
{
    const quantities::Reading r = quantities::readDuration(text.toStdString());
    std::string problem = r.error;
    // A QTimer counts milliseconds in an int.
    if (r.ok() && (r.value < quantities::kNsPerSecond || r.value > int64_t{24} * 86400 * quantities::kNsPerSecond))
        problem = "not between 1s and 24d";
    if (!problem.empty()) {
        if (why)
            *why = problem;
        return std::nullopt;
    }
    return std::chrono::milliseconds(r.value / 1'000'000);
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

std::string keepFreeProblem(const QString &recordPath, int64_t keepFreeBytes)
{
    if (keepFreeBytes <= 0)
        return {};
    const QString folder = QFileInfo(recordPath).absolutePath();
    const std::optional<int64_t> disk = sys::diskSize(folder);
    if (!disk || keepFreeBytes <= *disk)
        return {};
    return "more than the whole disk of " + folder.toStdString() + " (" +
           QString::number(static_cast<double>(*disk) / static_cast<double>(1 << 30), 'f', 1).toStdString() +
           " GiB), so every file would be deleted";
}

namespace {

// The program's own options; Qt's are accepted and kept out of the help.
struct Options {
    QCommandLineOption help, version, history, record, overwrite, eventsOnly, review, driverHost, start, stopAfter, rules,
        split, keepFree, keep;
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
        QCommandLineOption(QStringLiteral("open"), QStringLiteral("Review the recording <file> alone, without the card; a folder or "
                                          "any file of a series opens the whole series."),
                           QStringLiteral("file")),
        // Its value is optional, which QCommandLineParser does not know: a
        // "--driver-host=PROGRAM" is taken out before parsing.
        QCommandLineOption(QStringLiteral("driver-host"),
                           QStringLiteral("Run the card driver in a process of its own, adcard-host "
                                          "or --driver-host=PROGRAM.")),
        QCommandLineOption(QStringLiteral("start"), QStringLiteral("Press Start once the window shows, as a click would.")),
        QCommandLineOption(QStringLiteral("stop-after"),
                           QStringLiteral("Press Stop and then Exit <duration> after the window shows (90s, 10m, "
                                          "8h, 2d), so that a recording closes cleanly."),
                           QStringLiteral("duration")),
        QCommandLineOption(QStringLiteral("rules"),
                           QStringLiteral("Arm the rules of the file <file> (JSON) for this run, in place of the "
                                          "saved ones."),
                           QStringLiteral("file")),
        QCommandLineOption(QStringLiteral("split"),
                           QStringLiteral("With --record: a new file every <every>, a period of card time (30s, "
                                          "10m, 1h, 1d) or a size (500MiB, 2GiB), named NAME_YYYYMMDD-HHMMSS.h5; "
                                          "at least 10s or 10MiB."),
                           QStringLiteral("every")),
        QCommandLineOption(QStringLiteral("keep-free"),
                           QStringLiteral("With --split: delete the oldest files of the series (and of earlier "
                                          "series of NAME) while the disk has less than <size> free (20GiB)."),
                           QStringLiteral("size")),
        QCommandLineOption(QStringLiteral("keep"),
                           QStringLiteral("With --split: delete files of the series (and of earlier series of "
                                          "NAME) whose last block is older than <age> (7d, 12h)."),
                           QStringLiteral("age")),
    };
    for (const QCommandLineOption *opt : {&o.history, &o.record, &o.overwrite, &o.eventsOnly, &o.review, &o.driverHost,
                                          &o.start, &o.stopAfter, &o.rules, &o.split, &o.keepFree, &o.keep})
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

// --split, --keep-free and --keep, read into `line`; why not, if not.
std::optional<Refusal> seriesRefusal(CommandLine &line, const QCommandLineParser &parser, const Options &o)
{
    const bool record = parser.isSet(o.record);
    for (const QCommandLineOption *opt : {&o.split, &o.keepFree, &o.keep}) {
        const QString name = QStringLiteral("--") + opt->names().constFirst();
        if (parser.isSet(*opt) && !record)
            return Refusal{name + QStringLiteral(" applies only with --record")};
        if (opt != &o.split && parser.isSet(*opt) && !parser.isSet(o.split))
            return Refusal{name + QStringLiteral(" applies only with --split: it deletes old files of a series")};
    }
    if (!parser.isSet(o.split))
        return std::nullopt;
    if (line.overwrite)
        return Refusal{QStringLiteral("--overwrite does not go with --split: a series never replaces a file")};
    const QString every = parser.value(o.split);
    const quantities::PeriodOrSize split = quantities::readPeriodOrSize(every.toStdString());
    if (!split.ok())
        return Refusal{QStringLiteral("--split takes a period such as 30s, 10m, 1h or 1d, or a size such as 500MiB "
                                      "or 2GiB, not '") +
                       every + QStringLiteral("': ") + QString::fromStdString(split.error)};
    if (split.ns < (split.bytes > 0 ? 0 : kMinSplitNs) || split.bytes < (split.ns > 0 ? 0 : kMinSplitBytes))
        return Refusal{QStringLiteral("--split takes at least 10s or 10MiB, not '") + every + QLatin1Char('\'')};
    line.split.everyNs = split.ns;
    line.split.everyBytes = split.bytes;
    line.split.text = split.ns > 0 ? quantities::durationText(split.ns) : quantities::sizeText(split.bytes);
    if (parser.isSet(o.keepFree)) {
        const quantities::Reading r = quantities::readSize(parser.value(o.keepFree).toStdString());
        if (!r.ok() || r.value == 0)
            return Refusal{QStringLiteral("--keep-free takes a size such as 20GiB, not '") + parser.value(o.keepFree) +
                           QStringLiteral("': ") + QString::fromStdString(r.ok() ? "nothing to keep" : r.error)};
        line.retention.keepFreeBytes = r.value;
    }
    if (parser.isSet(o.keep)) {
        const quantities::Reading r = quantities::readDuration(parser.value(o.keep).toStdString());
        if (!r.ok() || r.value == 0)
            return Refusal{QStringLiteral("--keep takes an age such as 7d or 12h, not '") + parser.value(o.keep) +
                           QStringLiteral("': ") + QString::fromStdString(r.ok() ? "it would keep nothing" : r.error)};
        line.retention.keepNs = r.value;
    }
    return std::nullopt;
}

// What is wrong with the options together, before anything happens: nothing
// is overwritten unasked, and a file that cannot be written is said at once,
// not after a Start.
std::optional<Refusal> refusal(CommandLine &line, const QCommandLineParser &parser, const Options &o)
{
    if (parser.isSet(o.record) && line.record.isEmpty())
        return Refusal{QStringLiteral("--record needs a file name")};
    if (line.overwrite && !parser.isSet(o.record))
        return Refusal{QStringLiteral("--overwrite applies only with --record")};
    if (line.eventsOnly && !parser.isSet(o.record))
        return Refusal{QStringLiteral("--events-only applies only with --record")};
    if (parser.isSet(o.stopAfter) && !line.stopAfter) {
        std::string why;
        (void)parseDuration(parser.value(o.stopAfter), &why);
        return Refusal{QStringLiteral("--stop-after takes a duration such as 90s, 10m, 8h or 2d, not '") +
                       parser.value(o.stopAfter) + QStringLiteral("': ") + QString::fromStdString(why)};
    }
    if (auto no = seriesRefusal(line, parser, o))
        return no;
    if (parser.isSet(o.review) && line.open.isEmpty())
        return Refusal{QStringLiteral("--open needs a file name")};
    if (parser.isSet(o.rules) && line.rules.isEmpty())
        return Refusal{QStringLiteral("--rules needs a file name")};
    if (parser.isSet(o.review) &&
        (line.history || parser.isSet(o.record) || line.start || line.stopAfter || parser.isSet(o.rules)))
        return Refusal{QStringLiteral("--open takes no --history, --record, --start, --stop-after or --rules")};
    // A series writes NAME_YYYYMMDD-HHMMSS.h5 beside NAME.h5 and never
    // replaces a file: NAME.h5 itself may well exist.
    const bool series = line.split.any();
    if (!series && !line.record.isEmpty() && !line.overwrite && QFileInfo::exists(line.record) &&
        !QFileInfo(line.record).isDir())
        return Refusal{QLatin1Char('\'') + line.record + QStringLiteral("' exists; give --overwrite to replace it"),
                       false};
    if (!line.record.isEmpty()) {
        const std::string problem = recordPathProblem(line.record, line.overwrite || series);
        if (!problem.empty())
            return Refusal{QStringLiteral("cannot record to '") + line.record + QStringLiteral("': ") +
                               QString::fromStdString(problem),
                           false};
        if (const std::string why = keepFreeProblem(line.record, line.retention.keepFreeBytes); !why.empty())
            return Refusal{QStringLiteral("--keep-free ") + parser.value(o.keepFree) + QStringLiteral(": ") +
                               QString::fromStdString(why),
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
