#include "panel/recording_module.h"

#include "panel/system.h"

#include "review/run_choice.h"
#include "series/series_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <cstdio>

namespace adcard {

namespace {

// The series of `path` (the newest there, or the one named `id`); what was
// left out goes to standard error, where --open's messages go.
std::unique_ptr<RecordingReader> openSeries(const std::string &path, const series::Opener &opener,
                                            const std::string &id, QString &why)
{
    std::string error;
    auto reader = series::SeriesReader::open({path}, opener, id, error);
    if (!reader) {
        why = QString::fromStdString(error);
        return nullptr;
    }
    for (const std::string &note : reader->notes())
        std::fprintf(stderr, "adcard-panel: %s\n", note.c_str());
    return reader;
}

// Without a QCoreApplication there is no applicationDirPath; the kernel
// knows where the program is.
QString programDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return sys::programDir();
}

} // namespace

QStringList recorderModuleCandidates(const QString &appDir, const QString &fromBinDir, const QString &built,
                                     const QString &buildDir)
{
    QStringList out{QDir::cleanPath(QDir(appDir).filePath(fromBinDir))};
    const QString app = QDir::cleanPath(appDir) + QLatin1Char('/');
    if (!buildDir.isEmpty() && app.startsWith(QDir::cleanPath(buildDir) + QLatin1Char('/')))
        out << built;
    return out;
}

QFunctionPointer recorderModuleEntry(const char *entry, QString &why)
{
    const QStringList candidates =
        recorderModuleCandidates(programDir(), QStringLiteral(ADPANEL_RECORDER_FROM_BINDIR),
                                 QStringLiteral(ADPANEL_RECORDER_BUILT), QStringLiteral(ADPANEL_BUILD_DIR));
    for (const QString &candidate : candidates) {
        if (!QFileInfo::exists(candidate))
            continue;
        QLibrary module(candidate);
        module.setLoadHints(QLibrary::PreventUnloadHint);
        if (!module.load()) {
            why = QStringLiteral("cannot load the recorder module %1: %2").arg(candidate, module.errorString());
            return nullptr;
        }
        const QFunctionPointer found = module.resolve(entry);
        if (!found)
            why = QStringLiteral("the recorder module %1 has no entry %2").arg(candidate, QString::fromLatin1(entry));
        return found;
    }
    why = QStringLiteral("the recorder module is not installed (looked for %1)")
              .arg(candidates.join(QStringLiteral(", ")));
    return nullptr;
}

std::unique_ptr<RecordingReader> openRecordingFile(const QString &path, QString &why)
{
    // Said here, so a missing file reads the same whether or not the
    // module is installed.
    const QFileInfo file(path);
    if (!file.exists()) {
        why = QStringLiteral("no such file");
        return nullptr;
    }
    auto open = reinterpret_cast<OpenRecordingFn>(recorderModuleEntry(kOpenRecordingEntry, why));
    if (!open)
        return nullptr;
    const series::Opener opener = [open](const std::string &p, std::string &e) {
        return std::unique_ptr<RecordingReader>(open(p.c_str(), &e));
    };
    // A folder, or a file of a series: the whole series, read as one.
    std::string error;
    if (file.isDir()) {
        auto series = openSeries(sys::nativePath(path), opener, {}, why);
        if (!series)
            why = QStringLiteral("a directory: ") + why;
        return series;
    }
    std::unique_ptr<RecordingReader> reader(open(sys::nativePath(path).c_str(), &error));
    if (!reader)
        why = error.empty() ? QStringLiteral("not a recording") : QString::fromStdString(error);
    else if (const auto member = reader->series())
        return openSeries(sys::nativePath(path), opener, member->id, why);
    return reader;
}

OpenedRecording openRecordingForReview(const QString &path, QString &why)
{
    OpenedRecording opened;
    opened.reader = openRecordingFile(path, why);
    if (!opened.reader)
        return opened;
    std::string error;
    opened.run = openFirstRun(*opened.reader, error);
    if (!opened.run) {
        why = QString::fromStdString(error);
        opened.reader.reset();
        return opened;
    }
    // The module is loaded by now; a module without the entry leaves the
    // spectra to say that they cannot be made.
    QString ignored;
    opened.transform = reinterpret_cast<query::MakeTransformFn>(recorderModuleEntry(query::kMakeTransformEntry, ignored));
    return opened;
}

} // namespace adcard
