#include "recording/recording_writer.h"

#include "recording/timestamp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace adcard {

namespace {

// Samples gathered before they go to HDF5 in one write (256 KiB): its cost
// is per write far more than per byte.
constexpr std::size_t kPendingSamples = std::size_t{128} << 10;

template <std::size_t N>
void copyText(char (&to)[N], std::string_view text)
{
    const std::string cut = cutUtf8(text, N - 1);
    std::memcpy(to, cut.data(), cut.size());
}

} // namespace

std::string ruleMarkerText(std::string_view rule, double value)
{
    char number[32];
    std::snprintf(number, sizeof number, "%.6g", value);
    return std::string(rule) + " " + number;
}

RecordingWriter::RecordingWriter(std::unique_ptr<RecordingFile> file, std::string driverLibrary,
                                 std::string programVersion, Policy policy)
    : file_(std::move(file)), driverLibrary_(std::move(driverLibrary)), programVersion_(std::move(programVersion)),
      policy_(policy)
{
    pending_.reserve(kPendingSamples);
    tick_.reserve(256);
    rows_.reserve(256);
}

void RecordingWriter::beginRun(const AcqSettings &settings, int64_t startNs, Clock::time_point now,
                               std::optional<SeriesRun> seriesRun)
{
    if (inRun())
        endRun(startNs, now);
    layOut(settings, now);
    summaries_.emplace(file_->channels());
    const int32_t number = seriesRun ? seriesRun->run : run_.run + 1;
    if (number <= run_.run)
        throw RecordingError("run " + std::to_string(number) + " after run " + std::to_string(run_.run));
    run_ = RunRow{};
    run_.run = number;
    if (seriesRun) {
        run_.seriesFirstBlock = std::max<int64_t>(seriesRun->firstBlock, 0);
        run_.continues = seriesRun->continues ? 1 : 0;
    }
    run_.startTimeNs = startNs;
    const std::string iso = cutUtf8(iso8601Local(startNs), kStartTimeBytes - 1);
    std::memcpy(run_.startTime, iso.data(), iso.size());
    run_.firstRow = file_->rows();
    for (int l = 1; l <= format::kPyramid.levels; ++l)
        run_.summaryFirst[l - 1] = file_->summaries(l);
    lastIndex_ = tickLastIndex_ = -1;
    runRowsFlushed_ = 0;
    flushedEnd_ = 0;
    runDirty_ = true;
    // The run's row on disk at once, so that a disk that fills in the first
    // seconds still leaves a file that says a run began.
    flush(now);
}

void RecordingWriter::layOut(const AcqSettings &settings, Clock::time_point now)
{
    if (!file_->laidOut()) {
        file_->layOut({settings, driverLibrary_, programVersion_, policy_.calibration, policy_.units, policy_.series});
        lastSync_ = now;
    } else {
        file_->checkShape(settings);
    }
}

void RecordingWriter::writeSamples()
{
    file_->appendSamples(pending_);
    pending_.clear();
}

void RecordingWriter::onBlock(int64_t seriesIndex, int32_t slot, std::span<const int16_t> codes)
{
    if (!inRun())
        throw RecordingError("block before the run began");
    if (seriesIndex < run_.seriesFirstBlock)
        throw RecordingError("block " + std::to_string(seriesIndex) + " before this file's first, " +
                             std::to_string(run_.seriesFirstBlock));
    const int64_t index = seriesIndex - run_.seriesFirstBlock;
    const std::size_t expected = file_->blockSamples();
    if (codes.size() != expected)
        throw RecordingError("block of " + std::to_string(codes.size()) + " samples, the run's blocks have " +
                             std::to_string(expected));
    if (index <= lastIndex_)
        throw RecordingError("block " + std::to_string(index) + " after block " + std::to_string(lastIndex_));
    if (pending_.size() + codes.size() > kPendingSamples)
        writeSamples();
    if (codes.size() > kPendingSamples) // a large block goes as it is
        file_->appendSamples(codes);
    else
        pending_.insert(pending_.end(), codes.begin(), codes.end());
    const int64_t first = index * file_->scansPerBlock();
    summaries_->advanceTo(first);
    summaries_->addScans(first, codes.data(), file_->scansPerBlock());
    summaries_->take(levelEntries_);
    tick_.push_back({run_.run, index, 0, slot, 0});
    lastIndex_ = tickLastIndex_ = index;
}

void RecordingWriter::finishTick(int64_t timeNs, int64_t blockCount)
{
    for (BlockRow &r : tick_) {
        r.timeNs = timeNs;
        r.blockCount = blockCount;
    }
    rows_.insert(rows_.end(), tick_.begin(), tick_.end());
    tick_.clear();
    tickLastIndex_ = -1;
}

void RecordingWriter::onTickEnd(const TickEnd &tick, Clock::time_point now)
{
    if (!inRun())
        return;
    if (tick.digitalRead) {
        const int64_t last = tickLastIndex_ >= 0 ? tickLastIndex_ : lastIndex_;
        digital_.push_back({run_.run, last >= 0 ? scanAfter(last) : 0, tick.timeNs, tick.digital[0], tick.digital[1]});
    }
    finishTick(tick.timeNs, tick.blockCount);
    if (tick.missed != run_.missed || tick.dropped != run_.dropped)
        runDirty_ = true;
    run_.missed = tick.missed;
    run_.dropped = tick.dropped;
    // The first blocks of a run go to disk at once; later ones wait for the
    // interval, since a flush costs far more than a block's write.
    if (runRowsFlushed_ == 0 || now - lastFlush_ >= policy_.flushEvery)
        flush(now);
}

bool RecordingWriter::addMarker(int64_t timeNs, std::string_view text, std::optional<int64_t> afterBlock)
{
    if (!inRun())
        return false;
    MarkerRow m;
    m.run = run_.run;
    const int64_t block = afterBlock ? *afterBlock - run_.seriesFirstBlock : lastIndex_;
    m.scan = block >= 0 ? scanAfter(block) : 0;
    m.timeNs = timeNs;
    const std::string cut = cutUtf8(text, kMarkerTextBytes - 1);
    std::memcpy(m.text, cut.data(), cut.size());
    markers_.push_back(m);
    return true;
}

bool RecordingWriter::addMarkerAt(int64_t scan, int64_t timeNs, std::string_view text)
{
    if (!inRun())
        return false;
    MarkerRow m;
    m.run = run_.run;
    m.scan = localScan(scan);
    m.timeNs = timeNs;
    copyText(m.text, text);
    markers_.push_back(m);
    return true;
}

bool RecordingWriter::addEvent(const RuleEvent &event, int64_t timeNs)
{
    if (!inRun())
        return false;
    EventRow e;
    e.run = run_.run;
    e.scan = localScan(event.scan);
    e.timeNs = timeNs;
    copyText(e.rule, event.rule);
    e.fired = event.fired ? 1 : 0;
    e.value = event.value;
    copyText(e.note, event.note);
    events_.push_back(e);
    if (event.fired && (event.mark || event.capture))
        addMarkerAt(std::max<int64_t>(event.scan, 0), timeNs, ruleMarkerText(event.rule, event.value));
    return true;
}

void RecordingWriter::setRules(int64_t timeNs, std::string text)
{
    RulesRow row;
    row.run = inRun() ? run_.run : run_.run + 1;
    row.timeNs = timeNs;
    rules_.push_back({row, std::move(text)});
}

bool RecordingWriter::markersReady() const
{
    return std::any_of(markers_.begin(), markers_.end(), [&](const MarkerRow &m) {
        return m.run != run_.run || run_.endTimeNs != 0 || m.scan <= flushedEnd_;
    });
}

void RecordingWriter::writeCoveredMarkers()
{
    // A marker stamped while its block's tick was still going waits for that
    // block's row: a reader shows only the markers within the rows it has.
    const auto waiting = std::stable_partition(markers_.begin(), markers_.end(), [&](const MarkerRow &m) {
        return m.run != run_.run || run_.endTimeNs != 0 || m.scan <= flushedEnd_;
    });
    file_->appendMarkers(std::span<const MarkerRow>(markers_.data(), std::size_t(waiting - markers_.begin())));
    markers_.erase(markers_.begin(), waiting);
}

bool RecordingWriter::eventsReady() const
{
    return std::any_of(events_.begin(), events_.end(), [&](const EventRow &e) {
        return e.run != run_.run || run_.endTimeNs != 0 || e.scan < flushedEnd_;
    });
}

void RecordingWriter::writeCoveredEvents()
{
    if (!eventsReady())
        return;
    // Kept in the order they came; only those still waiting stay behind.
    const auto waiting = std::stable_partition(events_.begin(), events_.end(), [&](const EventRow &e) {
        return e.run != run_.run || run_.endTimeNs != 0 || e.scan < flushedEnd_;
    });
    file_->appendEvents(std::span<const EventRow>(events_.data(), std::size_t(waiting - events_.begin())));
    events_.erase(events_.begin(), waiting);
}

void RecordingWriter::writePendingRules()
{
    for (const PendingRules &r : rules_)
        file_->appendRules(r.row, r.text);
    rules_.clear();
}

void RecordingWriter::flush(Clock::time_point now)
{
    lastFlush_ = now;
    if (!file_->laidOut())
        return;
    const bool rows = !rows_.empty();
    // Entries ready to go: all of them at a run's end, else whole batches.
    std::array<std::size_t, format::kPyramid.levels> ready{};
    bool summaries = false;
    for (int l = 1; l <= format::kPyramid.levels; ++l) {
        const int64_t entries = l <= std::ssize(levelEntries_) ? std::ssize(levelEntries_[std::size_t(l - 1)].span) : 0;
        const int64_t batch = file_->summaryBatch(l);
        const int64_t stored = file_->summaries(l);
        const int64_t upTo = run_.endTimeNs != 0 ? stored + entries : (stored + entries) / batch * batch;
        ready[static_cast<std::size_t>(l - 1)] = static_cast<std::size_t>(std::max<int64_t>(upTo - stored, 0));
        summaries = summaries || upTo > stored;
    }
    writeSamples();
    if (rows || summaries)
        file_->flushSamples();
    for (int l = 1; l <= format::kPyramid.levels; ++l) {
        const std::size_t n = ready[static_cast<std::size_t>(l - 1)];
        if (n == 0)
            continue;
        EntryTable &entries = levelEntries_[static_cast<std::size_t>(l - 1)];
        file_->appendSummaries(l, run_.run, entries, n);
        entries.dropFront(n);
    }
    if (summaries)
        file_->flushSummaries();
    if (rows) {
        file_->appendRows(rows_);
        file_->flushRows();
        flushedEnd_ = scanAfter(rows_.back().index);
        rowsFlushed_ += std::ssize(rows_);
        runRowsFlushed_ += std::ssize(rows_);
        rows_.clear();
        runDirty_ = true;
    }
    if (runDirty_ || markersReady() || !digital_.empty() || !rules_.empty() || eventsReady()) {
        run_.rows = runRowsFlushed_;
        if (run_.run > 0)
            file_->writeRun(run_);
        writeCoveredMarkers();
        file_->appendDigital(digital_);
        writePendingRules();
        writeCoveredEvents();
        digital_.clear();
        file_->flushRest();
        runDirty_ = false;
        unsynced_ = true;
    }
    unsynced_ = unsynced_ || summaries;
    if (unsynced_ && now - lastSync_ >= policy_.syncEvery)
        sync(now);
}

void RecordingWriter::sync(Clock::time_point now)
{
    file_->sync();
    lastSync_ = now;
    unsynced_ = false;
}

bool RecordingWriter::unflushed() const
{
    // Rules wait for the file's layout, and events and markers for their
    // rows, without making a flush due meanwhile.
    return !rows_.empty() || markersReady() || !digital_.empty() || runDirty_ ||
           (!rules_.empty() && file_->laidOut()) || eventsReady();
}

RecordingWriter::Clock::time_point RecordingWriter::dueAt() const
{
    auto due = Clock::time_point::max();
    if (unflushed())
        due = lastFlush_ + policy_.flushEvery;
    if (unsynced_)
        due = std::min(due, lastSync_ + policy_.syncEvery);
    return due;
}

void RecordingWriter::onIdle(Clock::time_point now)
{
    if (unflushed() && now - lastFlush_ >= policy_.flushEvery)
        flush(now);
    else if (unsynced_ && now - lastSync_ >= policy_.syncEvery)
        sync(now);
}

void RecordingWriter::endRun(int64_t endNs, Clock::time_point now)
{
    if (!inRun())
        return;
    // Blocks whose tick never ended (not seen from the acquisition) are kept
    // with block_count -1.
    if (!tick_.empty())
        finishTick(endNs, -1);
    summaries_->finish();
    summaries_->take(levelEntries_);
    run_.endTimeNs = std::max<int64_t>(endNs, 1);
    runDirty_ = true;
    flush(now);
    sync(now);
}

void RecordingWriter::close(int64_t endNs, Clock::time_point now)
{
    endRun(endNs, now);
    file_->close();
}

void RecordingWriter::keepStoredBlocks(int64_t endNs)
{
    if (!tick_.empty())
        finishTick(endNs, -1);
    // Rows and samples go in the same order, so the blocks whose samples
    // reached the file are the first of those waiting for their rows.
    const int64_t kept = std::clamp<int64_t>(file_->storedBlocks() - file_->rows(), 0, std::ssize(rows_));
    const bool whole = kept == std::ssize(rows_);
    rows_.resize(static_cast<std::size_t>(kept));
    pending_.clear(); // the samples that did not fit
    if (whole && run_.endTimeNs == 0) {
        // Every block the summaries saw is kept: the run ends as a Stop would.
        summaries_->finish();
        summaries_->take(levelEntries_);
    } else if (!whole) {
        // Only entries whose whole span lies within the kept blocks.
        const int64_t end = kept > 0 ? scanAfter(rows_.back().index) : flushedEnd_;
        for (int l = 1; l <= std::ssize(levelEntries_); ++l) {
            EntryTable &entries = levelEntries_[static_cast<std::size_t>(l - 1)];
            const int64_t w = summaries_->width(l);
            // In order of span: those that fit come first.
            std::size_t fit = 0;
            while (fit < entries.size() && (entries.span[fit] + 1) * w <= end)
                ++fit;
            entries.truncate(fit);
        }
        for (MarkerRow &m : markers_)
            m.scan = std::min(m.scan, end);
        std::erase_if(digital_, [&](const DigitalRow &d) { return d.scan > end; });
        std::erase_if(events_, [&](const EventRow &e) { return e.run == run_.run && e.scan >= end; });
    }
    run_.endTimeNs = std::max<int64_t>(run_.endTimeNs != 0 ? run_.endTimeNs : endNs, 1);
    runDirty_ = true;
    flush(Clock::now());
}

void RecordingWriter::closeAfterFailure(bool noRoom, int64_t endNs) noexcept
{
    if (noRoom) {
        try {
            // Every block whose samples reached the file gets its row and
            // the summaries that cover it, and the run's row says where it
            // ended: written in the room kept in reserve for this.
            file_->spendReserve();
            if (file_->laidOut() && run_.run > 0 && summaries_)
                keepStoredBlocks(endNs);
            file_->close();
            return;
        } catch (const RecordingError &) {
        }
    }
    file_->abandon();
}

} // namespace adcard
