#pragma once
// A run of the older layout (format 1) has no summaries in its file: a thread
// of its own builds the run's pyramid into memory from the raw scans, in
// order, as far as the rows go, and on as a live run's rows grow. The file
// is never written. Meanwhile a reader answers from the levels built so far
// and, beyond them, from the raw scans.
#include "recording/pyramid_builder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace adcard {

class Format1Summariser {
public:
    // Reads rows [row, row + n) of the run: their block indices into
    // `index`, their codes into `codes`; false when they cannot be read.
    using ReadRows = std::function<bool(int64_t row, int64_t n, int64_t *index, int16_t *codes)>;

    // Starts at once on the `rows` rows the run has; `live`: more may come.
    Format1Summariser(int channels, int64_t scansPerBlock, ReadRows read, int64_t rows, bool live);
    ~Format1Summariser();
    Format1Summariser(const Format1Summariser &) = delete;
    Format1Summariser &operator=(const Format1Summariser &) = delete;

    void rowsChanged(int64_t rows, bool live);

    // Held while the levels are read: the thread extends them.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(levelsMutex_); }
    // Under lock(): the levels built so far (one table per level from 1),
    // complete up to readyScan(), or complete() once the run is over.
    const std::vector<EntryTable> &tables() const { return tables_; }
    int64_t readyScan() const { return readyScan_; }
    bool complete() const { return complete_.load(); }

private:
    void run();

    const int channels_;
    const int64_t scansPerBlock_;
    const ReadRows read_;

    mutable std::mutex levelsMutex_;
    std::vector<EntryTable> tables_;
    int64_t readyScan_ = 0;
    std::atomic<bool> complete_{false};

    // What the thread may read, under wakeMutex_.
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    int64_t rowsKnown_ = 0;
    bool live_ = false;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace adcard
