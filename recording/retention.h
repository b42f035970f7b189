#pragma once
// What keeps a series' disk from filling, run on the writer's thread every
// few seconds and at each new file, never in the tick.
//
// Retention deletes only files of the series' folder named as files of its
// base name that state a series (this one, or one that began earlier), and
// never one in use: the file being written, the one made ahead, or one
// another program holds open for writing. Oldest first: by the series'
// start, then by place.
//
// DiskWatch reads the free space and the rate of writing, and says once
// when the disk will be full within the hour, and once more within ten
// minutes.
#include "recording/recording_session.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace adcard {

class Retention {
public:
    Retention(std::string basePath, RetentionPolicy policy);

    struct Deleted {
        std::string path;
        std::string why; // "keep free 2.0 GiB", "older than 1d"
    };
    // A file of this series as it was closed: no need to open it to know it.
    void learn(const std::string &path, int64_t seriesStartNs, int64_t place, int64_t endNs);
    // Deletes what the policy gives up, oldest first; `seriesStartNs` is
    // this series' start (later series are not touched). A file that cannot
    // be deleted is said in `problems` and left.
    std::vector<Deleted> apply(int64_t nowNs, int64_t seriesStartNs, const std::vector<std::string> &inUse,
                               std::vector<std::string> &problems);

private:
    struct Known {
        int64_t mtimeNs = 0;
        bool series = false; // states a series' attributes
        int64_t startNs = 0;
        int64_t place = 0;
        int64_t endNs = 0; // its last block: ours as closed, others' last change
    };
    struct Candidate {
        std::string path;
        Known known;
    };
    std::vector<Candidate> candidates(int64_t seriesStartNs, const std::vector<std::string> &inUse);
    Known readFile(const std::string &path, int64_t mtimeNs) const;

    std::string basePath_;
    std::string folder_;
    RetentionPolicy policy_;
    std::map<std::string, Known> known_; // by file name
};

class DiskWatch {
public:
    using Clock = std::chrono::steady_clock;
    explicit DiskWatch(std::string folder) : folder_(std::move(folder)) {}

    struct Reading {
        int64_t freeBytes = -1;
        double secondsToFull = -1; // -1: not known, or nothing is being written
    };
    // `bytesWritten`: all the recording has written so far. Notices go to
    // `notices`, each once.
    Reading update(int64_t bytesWritten, Clock::time_point now, std::vector<std::string> &notices);
    // The same from a free space already read, for tests.
    Reading update(int64_t freeBytes, int64_t bytesWritten, Clock::time_point now, std::vector<std::string> &notices);

private:
    std::string folder_;
    struct Sample {
        Clock::time_point at;
        int64_t bytes;
    };
    std::deque<Sample> samples_; // the last minute's
    bool warnedHour_ = false;
    bool warnedTenMinutes_ = false;
};

// "1.5 GiB", "300 MiB", "12 KiB", "512 B": a size for a notice.
std::string sizeText(int64_t bytes);

} // namespace adcard
