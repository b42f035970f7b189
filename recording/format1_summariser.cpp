#include "recording/format1_summariser.h"

#include <algorithm>

namespace adcard {

namespace {

// Block indices beyond this would overflow the scan space.
constexpr int64_t kMaxIndex = int64_t{1} << 40;

} // namespace

Format1Summariser::Format1Summariser(int channels, int64_t scansPerBlock, ReadRows read, int64_t rows, bool live)
    : channels_(channels), scansPerBlock_(scansPerBlock), read_(std::move(read)), rowsKnown_(rows), live_(live)
{
    thread_ = std::thread([this] { run(); });
}

Format1Summariser::~Format1Summariser()
{
    {
        const std::lock_guard lock(wakeMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Format1Summariser::rowsChanged(int64_t rows, bool live)
{
    {
        const std::lock_guard lock(wakeMutex_);
        rowsKnown_ = rows;
        live_ = live;
    }
    wake_.notify_all();
}

void Format1Summariser::run()
{
    const int64_t s = scansPerBlock_;
    const auto ch = std::size_t(channels_);
    PyramidBuilder builder{channels_};
    const int64_t batch = std::max<int64_t>(1, 65536 / s);
    std::vector<int16_t> codes(std::size_t(batch * s) * ch);
    std::vector<int64_t> index(static_cast<std::size_t>(batch));
    int64_t row = 0;
    int64_t last = -1;
    for (;;) {
        int64_t known = 0;
        {
            std::unique_lock w(wakeMutex_);
            wake_.wait(w, [&] { return stop_ || rowsKnown_ > row || !live_; });
            if (stop_)
                return;
            known = rowsKnown_;
        }
        if (row >= known)
            break; // all read of a finished run
        const int64_t n = std::min(batch, known - row);
        if (!read_(row, n, index.data(), codes.data()))
            break;
        for (int64_t i = 0; i < n; ++i) {
            if (index[std::size_t(i)] <= last || index[std::size_t(i)] >= kMaxIndex)
                continue;
            last = index[std::size_t(i)];
            builder.addScans(last * s, &codes[std::size_t(i * s) * ch], s);
        }
        row += n;
        builder.advanceTo((last + 1) * s);
        const std::lock_guard lock(levelsMutex_);
        builder.take(tables_);
        readyScan_ = builder.position();
    }
    // The run is over: its last, partial spans are complete too.
    builder.finish();
    const std::lock_guard lock(levelsMutex_);
    builder.take(tables_);
    readyScan_ = std::max(readyScan_, (last + 1) * s);
    complete_ = true;
}

} // namespace adcard
