#pragma once
// A series of files read as one recording: runs joined across files, events
// and rules gathered in order, and refresh() taking in each new file of a
// series still being written.
#include "series/series_run.h"

namespace adcard::series {

// What opening a series found besides it.
struct SeriesChoice {
    std::string id;
    int64_t startNs = 0;
    std::size_t files = 0;
};

class SeriesReader final : public RecordingReader {
public:
    // The series of `paths` (a folder, one file of a series, or several
    // files): the one named `id`, or the newest. Null with the reason in
    // `error`. `mostOpen` bounds the files open for reading at once.
    static std::unique_ptr<SeriesReader> open(const std::vector<std::string> &paths, const Opener &opener,
                                              const std::string &id, std::string &error, std::size_t mostOpen = 24,
                                              bool useIndex = true);

    int formatVersion() const override { return formatVersion_; }
    std::vector<RecordedRunInfo> runs() const override;
    std::unique_ptr<RecordedRun> openRun(int number, std::string &error) override;
    bool refresh() override;
    std::vector<RecordedEvent> events(std::size_t most, int64_t &total) const override;
    std::vector<RecordedRules> rules() const override;
    std::optional<SeriesMembership> series() const override;

    // Each file left out and why, files that disagree, files missing.
    std::vector<std::string> notes() const override;
    // The other series found beside this one (for a choice by id).
    const std::vector<SeriesChoice> &others() const { return others_; }
    std::size_t fileCount() const;
    std::string newestPath() const;
    // The most files this reader has held open at once.
    std::size_t mostOpenSeen() const;

private:
    explicit SeriesReader(std::shared_ptr<SeriesState> st) : st_(std::move(st)) {}
    // Takes in `s` (the files as now found); true when they changed.
    bool adopt(FoundSeries s, std::vector<std::string> notes);
    std::vector<std::string> missingNotes() const;

    std::shared_ptr<SeriesState> st_;
    std::vector<SeriesChoice> others_;
    int formatVersion_ = 4;
};

// The series' notes as one text, each on a line.
std::string joinNotes(const std::vector<std::string> &notes);

} // namespace adcard::series
