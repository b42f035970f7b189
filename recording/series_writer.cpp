#include "recording/series_writer.h"

#include "recording/disk_space.h"
#include "recording/series_naming.h"

#include "platform/native_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace adcard {

namespace {

// What a file holds besides its blocks (the layout, the run's row, the
// chunk indexes), for a size split's count of blocks per file.
constexpr int64_t kFileOverhead = 64 << 10;

// A block's bytes in the file, from the layout: its samples, its row, a
// tick's digital row, and its summaries (level 1 compressed to about 40 %,
// the levels above an eighth of the one below, uncompressed).
int64_t layoutBytesPerBlock(const AcqSettings &s)
{
    const int64_t channels = s.ChannelCount, scans = s.ScansPerBlock;
    const int64_t entry = 20 + 12 * channels;
    const int64_t level1 = scans * entry / format::kPyramid.base;
    return channels * scans * 2 + int64_t(sizeof(format::BlockRow)) + int64_t(sizeof(format::DigitalRow)) +
           level1 * 2 / 5 + level1 / 7;
}

bool exists(const std::string &path)
{
    int err = 0;
    return nativefile::kindOf(path, err) != nativefile::Kind::Missing;
}

} // namespace

SeriesWriter::SeriesWriter(Options options) : options_(std::move(options))
{
    if (!splitting()) {
        cur_ = std::make_unique<RecordingWriter>(std::make_unique<RecordingFile>(options_.path, options_.overwrite),
                                                 options_.driverLibrary, options_.programVersion,
                                                 options_.policy);
        curPath_ = options_.path;
        return;
    }
    // Nothing in a series is replaced: each file gets a name of its own.
    if (options_.overwrite)
        throw RecordingError("a recording split into files never replaces one; leave overwriting off");
    const std::string folder = series::folderOf(options_.path);
    int err = 0;
    if (nativefile::kindOf(folder, err) != nativefile::Kind::Directory)
        throw RecordingError("cannot record into '" + folder + "': " +
                             std::strerror(err != 0 ? err : ENOTDIR));
    // The folder must take new files: a file of its own, made and removed.
    std::string probe;
    const nativefile::Handle h = nativefile::createBeside(options_.path, ".probe", probe, err);
    if (h == nativefile::kNone)
        throw RecordingError("cannot create files in '" + folder + "': " + std::strerror(err));
    nativefile::close(h);
    nativefile::remove(probe);
    splitText_ = !options_.split.text.empty() ? options_.split.text
                                              : series::splitText(options_.split.everyNs, options_.split.everyBytes);
    id_ = series::newId();
}

SeriesWriter::~SeriesWriter()
{
    discardAhead();
}

int64_t SeriesWriter::periodNs() const
{
    if (options_.split.everyNs > 0)
        return options_.split.everyNs;
    const int64_t blocks = std::max<int64_t>(1, (options_.split.everyBytes - kFileOverhead) /
                                                    std::max<int64_t>(1, bytesPerBlock_));
    return std::max<int64_t>(1, series::nsOfScans(blocks * scansPerBlock(), settings_.IntrArg5));
}

int64_t SeriesWriter::cardOfBlock(int64_t index) const
{
    return runCardNs_ + series::nsOfScans(index * scansPerBlock(), settings_.IntrArg5);
}

std::unique_ptr<RecordingWriter> SeriesWriter::makeFile(int64_t place, int64_t nameNs, std::string &path,
                                                        Clock::time_point now)
{
    path = series::freeName(options_.path, nameNs, exists);
    RecordingWriter::Policy policy = options_.policy;
    policy.series = SeriesMembership{id_, place, seriesStartNs_, splitText_};
    auto w = std::make_unique<RecordingWriter>(std::make_unique<RecordingFile>(path, false), options_.driverLibrary,
                                               options_.programVersion, policy);
    try {
        w->layOut(settings_, now);
    } catch (const RecordingError &) {
        w.reset(); // closed first: Windows deletes an open file only at its last close
        (void)disk::removeFile(path);
        throw;
    }
    return w;
}

void SeriesWriter::discardAhead() noexcept
{
    if (!ahead_)
        return;
    // Never given a run: closed and gone, as if never made.
    ahead_.reset();
    (void)disk::removeFile(aheadPath_);
    aheadPath_.clear();
    aheadPlace_ = -1;
}

void SeriesWriter::startFileRun(int64_t firstBlock, bool continues, int64_t startNs, Clock::time_point now)
{
    cur_->beginRun(settings_, startNs, now, RecordingWriter::SeriesRun{run_, firstBlock, continues});
    // Each file states the rules in force, as a file of its own would.
    if (rules_)
        cur_->setRules(rules_->timeNs, rules_->text);
}

void SeriesWriter::beginRun(const AcqSettings &settings, int64_t startNs, Clock::time_point now)
{
    if (!splitting()) {
        cur_->beginRun(settings, startNs, now);
        return;
    }
    lastNow_ = now;
    if (inRun_)
        endRun(startNs, now);
    finishPrevious(nullptr, now);
    // A name made ahead assumed the card went on; after a pause it would lie.
    discardAhead();
    settings_ = settings;
    if (settings_.IntrArg5 <= 0 || settings_.ScansPerBlock <= 0)
        throw RecordingError("cannot split a recording at a rate of " + std::to_string(settings_.IntrArg5) +
                             " scans/s");
    if (bytesPerBlock_ == 0)
        bytesPerBlock_ = layoutBytesPerBlock(settings_);
    ++run_;
    inRun_ = true;
    runStartNs_ = startNs;
    runCardNs_ = cardEndNs_;
    lastIndex_ = -1;
    tickOpen_ = false;
    lastTick_ = fileBase_ = TickEnd{};
    if (!started_) {
        started_ = true;
        seriesStartNs_ = startNs;
        place_ = 0;
        fileStartCard_ = 0;
        fileEndCard_ = periodNs();
        cur_ = makeFile(0, startNs, curPath_, now);
    } else if (runCardNs_ >= fileEndCard_) {
        switchTo(runCardNs_, 0, now);
        return;
    }
    startFileRun(0, false, startNs, now);
}

void SeriesWriter::switchTo(int64_t cardNs, int64_t index, Clock::time_point now)
{
    const int64_t from = place_;
    while (cardNs >= fileEndCard_) {
        ++place_;
        fileStartCard_ = fileEndCard_;
        fileEndCard_ += periodNs();
    }
    finishPrevious(nullptr, now); // two boundaries in one tick: the older goes now
    if (cur_) {
        const TickEnd base = fileBase_;
        fileBase_ = lastTick_;
        if (tickOpen_) {
            // Its rows wait for the end of the tick in progress.
            prev_ = std::move(cur_);
            prevPath_ = curPath_;
            prevPlace_ = from;
            prevBoundary_ = index;
            prevTotals_ = lastTick_;
            prevTotals_.missed -= base.missed;
            prevTotals_.dropped -= base.dropped;
        } else {
            finish(*cur_, curPath_, from, lastTick_.timeNs != 0 ? lastTick_.timeNs : runStartNs_, now);
            cur_.reset();
        }
    }
    if (ahead_ && aheadPlace_ == place_) {
        cur_ = std::move(ahead_);
        curPath_ = aheadPath_;
        aheadPath_.clear();
        aheadPlace_ = -1;
        cur_->file().resume();
    } else {
        discardAhead();
        cur_ = makeFile(place_, wallOfCard(fileStartCard_), curPath_, now);
    }
    // Its run begins at the wall time of its first block's first scan.
    const bool continues = index > 0 || prev_ != nullptr;
    startFileRun(index, continues, wallOfCard(cardOfBlock(index)), now);
}

void SeriesWriter::finish(RecordingWriter &w, const std::string &path, int64_t place, int64_t endNs,
                          Clock::time_point now)
{
    w.endRun(endNs, now);
    const int64_t rows = w.rowsFlushed();
    w.close(endNs, now);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    const int64_t bytes = ec ? w.fileSize() : int64_t(size);
    closedRows_ += rows;
    closedBytes_ += bytes;
    closed_.push_back({path, place, endNs, bytes});
    // A size split learns its blocks' true size from each file it closes.
    if (options_.split.everyBytes > 0 && rows > 0 && place == place_ - 1 && !(ahead_ && aheadPlace_ > place_)) {
        bytesPerBlock_ = std::max<int64_t>(1, (bytes - kFileOverhead) / rows);
        fileEndCard_ = std::max(fileStartCard_ + periodNs(), cardOfBlock(lastIndex_ + 1));
    }
}

void SeriesWriter::finishPrevious(const TickEnd *tick, Clock::time_point now)
{
    if (!prev_)
        return;
    const auto w = std::move(prev_);
    const std::string path = std::exchange(prevPath_, {});
    if (tick) {
        TickEnd t = *tick;
        t.digitalRead = false; // with the file that holds the tick's last block
        t.missed = prevTotals_.missed;
        t.dropped = prevTotals_.dropped;
        w->onTickEnd(t, now);
    }
    finish(*w, path, prevPlace_, tick ? tick->timeNs : wallOfCard(cardOfBlock(prevBoundary_)), now);
}

void SeriesWriter::onBlock(int64_t index, int32_t slot, std::span<const int16_t> codes)
{
    if (splitting() && inRun_) {
        const int64_t card = cardOfBlock(index);
        if (card >= fileEndCard_)
            switchTo(card, index, lastNow_); // the caller's clock, as its ticks give it
        lastIndex_ = index;
        tickOpen_ = true;
    }
    if (!cur_)
        throw RecordingError("block before the run began");
    cur_->onBlock(index, slot, codes);
}

void SeriesWriter::onTickEnd(const TickEnd &tick, Clock::time_point now)
{
    if (!splitting()) {
        cur_->onTickEnd(tick, now);
        return;
    }
    if (!inRun_)
        return;
    lastNow_ = now;
    finishPrevious(&tick, now);
    TickEnd t = tick;
    t.missed -= fileBase_.missed;
    t.dropped -= fileBase_.dropped;
    cur_->onTickEnd(t, now);
    lastTick_ = tick;
    tickOpen_ = false;
    prepare(now);
}

bool SeriesWriter::addMarker(int64_t timeNs, std::string_view text, std::optional<int64_t> afterBlock)
{
    // Within the file left behind while it is open; else at the current
    // file's first scan at the earliest.
    if (prev_ && afterBlock && *afterBlock < prevBoundary_)
        return prev_->addMarker(timeNs, text, afterBlock);
    return cur_ && cur_->addMarker(timeNs, text, afterBlock);
}

bool SeriesWriter::addEvent(const RuleEvent &event, int64_t timeNs)
{
    if (prev_ && event.scan < prevBoundary_ * scansPerBlock())
        return prev_->addEvent(event, timeNs);
    return cur_ && cur_->addEvent(event, timeNs);
}

void SeriesWriter::setRules(int64_t timeNs, std::string text)
{
    if (!splitting()) {
        cur_->setRules(timeNs, std::move(text));
        return;
    }
    rules_ = Rules{timeNs, text};
    // Before the first run the first file's run takes them as it begins.
    if (cur_)
        cur_->setRules(timeNs, std::move(text));
}

SeriesWriter::Clock::time_point SeriesWriter::dueAt() const
{
    auto due = cur_ ? cur_->dueAt() : Clock::time_point::max();
    if (prev_)
        due = std::min(due, prev_->dueAt());
    return due;
}

void SeriesWriter::onIdle(Clock::time_point now)
{
    if (prev_)
        prev_->onIdle(now);
    if (cur_)
        cur_->onIdle(now);
}

void SeriesWriter::endRun(int64_t endNs, Clock::time_point now)
{
    finishPrevious(nullptr, now);
    if (cur_)
        cur_->endRun(endNs, now);
    if (splitting() && inRun_) {
        inRun_ = false;
        cardEndNs_ = cardOfBlock(lastIndex_ + 1);
    }
}

void SeriesWriter::close(int64_t endNs, Clock::time_point now)
{
    if (!splitting()) {
        cur_->close(endNs, now);
        return;
    }
    endRun(endNs, now);
    discardAhead();
    if (cur_) {
        finish(*cur_, curPath_, place_, endNs, now);
        cur_.reset();
    }
}

void SeriesWriter::closeAfterFailure(bool noRoom, int64_t endNs) noexcept
{
    discardAhead();
    // The file left behind failed in nothing of its own (a next file that
    // could not be made, say): it keeps every block it holds and is closed
    // whole; should that fail too, it is released as it is.
    if (prev_)
        prev_->closeAfterFailure(true, endNs);
    if (cur_)
        cur_->closeAfterFailure(noRoom, endNs);
}

void SeriesWriter::prepare(Clock::time_point now)
{
    if (!splitting() || !inRun_ || ahead_ || !cur_)
        return;
    const int64_t written = cardOfBlock(lastIndex_ + 1);
    if (written - fileStartCard_ < (fileEndCard_ - fileStartCard_) / 2 || now < aheadRetry_)
        return;
    try {
        ahead_ = makeFile(place_ + 1, wallOfCard(fileEndCard_), aheadPath_, now);
        aheadPlace_ = place_ + 1;
        // Until its turn, closed to HDF5: a kill leaves it whole.
        ahead_->file().park();
    } catch (const RecordingError &) {
        // The current file goes on; tried again later (retention may make
        // room meanwhile), and at the boundary, where a failure stops it.
        discardAhead();
        aheadPath_.clear();
        aheadRetry_ = now + std::chrono::seconds{5};
    }
}

int64_t SeriesWriter::rowsFlushed() const
{
    return closedRows_ + (prev_ ? prev_->rowsFlushed() : 0) + (cur_ ? cur_->rowsFlushed() : 0);
}

int64_t SeriesWriter::bytesWritten() const
{
    return closedBytes_ + (prev_ ? prev_->fileSize() : 0) + (cur_ ? cur_->fileSize() : 0);
}

std::vector<SeriesWriter::Closed> SeriesWriter::takeClosed()
{
    return std::exchange(closed_, {});
}

std::vector<std::string> SeriesWriter::inUse() const
{
    std::vector<std::string> out;
    for (const std::string *p : {&curPath_, &prevPath_, &aheadPath_})
        if (!p->empty())
            out.push_back(*p);
    return out;
}

} // namespace adcard
