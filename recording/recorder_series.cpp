// The recorder's side of a series of files: what arm() refuses, and the
// writer thread's look at the disk (retention, free space, notices), every
// few seconds and at each new file, never in the tick.
#include "recording/recorder.h"

#include "recording/retention.h"
#include "recording/series_naming.h"
#include "recording/series_writer.h"
#include "recording/slot_queue.h"
#include "recording/timestamp.h"

#include <cmath>

namespace adcard {

namespace {

constexpr std::chrono::seconds kUpkeepEvery{2};

} // namespace

std::string Recorder::splitRefusal(bool overwrite, const RecorderInfo &info) const
{
    if (!info.split.any())
        return {};
    if (overwrite)
        return "a recording split into files never replaces one; leave overwriting off";
    // Its stretches are runs of their own, begun and ended by the rules; a
    // series would split them at arbitrary places.
    if (info.eventsOnly)
        return "an events-only recording cannot be split into files; record it as one file";
    return {};
}

void Recorder::startUpkeep()
{
    retention_.reset();
    if (info_.split.any() && info_.retention.any())
        retention_ = std::make_unique<Retention>(path_, info_.retention);
    watch_ = std::make_unique<DiskWatch>(series::folderOf(path_));
    nextUpkeep_ = {};
    freeBytes_ = -1;
    secondsToFull_ = -1;
    const std::lock_guard lock(shared_);
    notices_.clear();
    currentFile_.clear();
}

void Recorder::notice(std::string text)
{
    const std::lock_guard lock(shared_);
    notices_.push_back(std::move(text));
}

std::optional<std::string> Recorder::takeNotice()
{
    const std::lock_guard lock(shared_);
    if (notices_.empty())
        return std::nullopt;
    std::string text = std::move(notices_.front());
    notices_.pop_front();
    return text;
}

void Recorder::upkeep(std::chrono::steady_clock::time_point now)
{
    std::vector<SeriesWriter::Closed> closed = writer_->takeClosed();
    if (now < nextUpkeep_ && closed.empty())
        return;
    nextUpkeep_ = now + kUpkeepEvery;
    {
        const std::lock_guard lock(shared_);
        currentFile_ = writer_->currentPath();
    }
    std::vector<std::string> notices;
    if (retention_) {
        const int64_t start = writer_->seriesStartNs();
        for (const SeriesWriter::Closed &c : closed)
            retention_->learn(c.path, start, c.place, c.endNs);
        const int64_t wall = wallClockNs();
        for (const Retention::Deleted &d : retention_->apply(wall, start, writer_->inUse(), notices)) {
            const std::string name = d.path.substr(d.path.find_last_of("/\\") + 1);
            notices.push_back("deleted '" + d.path + "' (" + d.why + ")");
            // The current file says so at its newest block.
            (void)writer_->addMarker(wall, "deleted " + name + " (" + d.why + ")");
        }
    }
    const DiskWatch::Reading r = watch_->update(writer_->bytesWritten(), now, notices);
    freeBytes_.store(r.freeBytes, std::memory_order_relaxed);
    secondsToFull_.store(r.secondsToFull, std::memory_order_relaxed);
    for (std::string &n : notices)
        notice(std::move(n));
}

} // namespace adcard
