#pragma once
// The index beside a series (NAME.series-index): per file its name, size and
// modification time, its place, its runs and their totals and coarse
// summaries, so that a month of files opens, counts and is searched at the top
// without opening each file. It only ever spares work: rebuilt from the files
// where it is missing, damaged or stale; a file whose run is still being
// written is never taken from it; written whole beside itself and renamed.
#include "series/series_files.h"

#include <map>
#include <set>
#include <string>

namespace adcard::series {

class SeriesIndex {
public:
    SeriesIndex(std::string folder, std::string base);
    std::string path() const;
    // Reads it; a missing or damaged index reads as empty.
    void load();
    // Moves `f`'s record into `f` (keeping its path), when its size and
    // time still match; false otherwise.
    bool take(SeriesFile &f);
    // Whether it lists a file that `files` (all of its name there now) lacks.
    bool stale(const std::vector<SeriesFile> &files) const;
    // Writes `files` but those still being written; empty, or why it could not.
    std::string save(const std::vector<SeriesFile> &files) const;

private:
    std::string folder_, base_;
    std::map<std::string, SeriesFile> loaded_;
};

// The index's text, and back (for the tests: a damaged text reads as none).
std::string indexText(const std::vector<SeriesFile> &files);
std::string indexText(const std::map<std::string, SeriesFile> &files);
bool parseIndex(const std::string &text, std::map<std::string, SeriesFile> &files);

} // namespace adcard::series
