#include "recording/recording_file.h"

#include "recording/hdf5_writing.h"

#include "platform/native_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

namespace adcard {

namespace {

// HDF5 raises the end-of-file address in the superblock before the data
// behind it is on disk; if the disk then refuses the data, the file no longer
// opens ("truncated file"). So the file is grown ahead of HDF5 by at least
// this much, and when that fails the recording stops while the file is still
// consistent. What is left over is cut off when the file is closed.
constexpr hsize_t kRoomMargin = hsize_t{1} << 20;
constexpr hsize_t kRoomStep = hsize_t{4} << 20;

// Rows per chunk: a level's chunk fills in minutes to hours at the card's
// rate, and a short recording wastes at most one chunk per table.
constexpr hsize_t kRowChunk = 256;
constexpr hsize_t kRunChunk = 16;
constexpr hsize_t kLevelChunk[format::kPyramid.levels] = {256, 128, 32, 16, 16, 16, 16, 16};
// Level 1 alone would add 4.9 % to the file (an entry of 4 channels is 100
// bytes per 2 KiB of samples), so it is compressed; its run, count and start
// columns, and the high bytes of the codes and of their sums, shrink it to
// about 35 %. A compressed
// chunk rewritten changes size and moves, leaving a hole, so level 1 is
// written a whole chunk at a time (see RecordingWriter::flush). The levels
// above hold an eighth of it and less, and are written as they complete.
constexpr int kCompressedLevels = 1;

using format::QuietErrors;
using namespace writing;

// Every channel's name (empty where the operator gave none) and unit, volts
// for those the operator left alone, so that a plain HDF5 tool finds one
// entry per channel.
void writeChannelUnits(hid_t g, const FileInfo &info)
{
    std::vector<std::string> names, units;
    std::vector<double> scales, offsets;
    for (int c = 0; c < info.settings.ChannelCount; ++c) {
        const ChannelUnit u = channelUnit(checkedUnits(info.units), c);
        names.push_back(u.name); // empty: the reader's own "通道N"
        units.push_back(u.unit);
        scales.push_back(u.scale);
        offsets.push_back(u.offset);
    }
    writeTexts(g, format::kChannelNames, names);
    writeTexts(g, format::kChannelUnits, units);
    writeDoubles(g, format::kChannelScale, scales);
    writeDoubles(g, format::kChannelOffset, offsets);
}

// Another panel recording the file holds its lock for the whole recording;
// a program writing it through HDF5 holds HDF5's exclusive lock. Either way
// the file is not ours to replace.
std::string otherWriter(const std::string &path)
{
    switch (nativefile::otherWriter(path)) {
    case nativefile::Writer::Panel:
        return "'" + path + "' is being recorded by another panel";
    case nativefile::Writer::Program:
        return "'" + path + "' is open for writing by another program";
    case nativefile::Writer::None:
        break;
    }
    return {};
}

Hid fileAccess()
{
    Hid fapl(check(H5Pcreate(H5P_FILE_ACCESS), "file access list"), H5Pclose);
    // SWMR needs the 1.10 format; no later one, so that 1.10 readers open it.
    check(H5Pset_libver_bounds(fapl.get(), H5F_LIBVER_V110, H5F_LIBVER_V110), "file format");
    if (!nativefile::hdf5MayLock())
        check(H5Pset_file_locking(fapl.get(), false, true), "file locking");
    return fapl;
}

// The root's attributes: what the file is, what made it, the first run's
// Start, the codes' volts and the pyramid's shape.
void writeRootAttributes(hid_t g, const FileInfo &info)
{
    namespace f = format;
    const AcqSettings &s = info.settings;
    writeInt(g, f::kFormatVersion, f::kVersion);
    writeText(g, f::kProgramVersion, info.programVersion);
    writeText(g, f::kDriverLibrary, info.driverLibrary);
    writeInt(g, f::kChannels, s.ChannelCount);
    writeInt(g, f::kScansPerBlock, s.ScansPerBlock);
    writeAttribute(g, f::kStartArg1, H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg1);
    writeAttribute(g, f::kStartScansPerBlock, H5T_STD_I32LE, H5T_NATIVE_INT32, s.ScansPerBlock);
    writeAttribute(g, f::kStartArg3, H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg3);
    writeAttribute(g, f::kStartChannelCount, H5T_STD_I16LE, H5T_NATIVE_INT16, s.ChannelCount);
    writeAttribute(g, f::kRate, H5T_STD_I32LE, H5T_NATIVE_INT32, s.IntrArg5);
    writeAttribute(g, f::kStartArg6, H5T_STD_I32LE, H5T_NATIVE_INT32, s.IntrArg6);
    writeAttribute(g, f::kStartArg7, H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg7);
    writeInt(g, f::kVoltsOffset, int32_t(std::lround(info.calibration.offset)));
    writeAttribute(g, f::kVoltsScale, H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, info.calibration.scale);
    writeText(g, f::kVoltsUnit, "V");
    writeChannelUnits(g, info);
    writeInt(g, f::kSummaryBase, int32_t(f::kPyramid.base));
    writeInt(g, f::kSummaryFactor, int32_t(f::kPyramid.factor));
    writeInt(g, f::kSummaryLevels, f::kPyramid.levels);
    if (info.series) {
        writeText(g, f::kSeriesId, info.series->id);
        writeAttribute(g, f::kSeriesPlace, H5T_STD_I64LE, H5T_NATIVE_INT64, info.series->place);
        writeAttribute(g, f::kSeriesStartNs, H5T_STD_I64LE, H5T_NATIVE_INT64, info.series->startNs);
        writeText(g, f::kSeriesSplit, info.series->split);
    }
}

} // namespace

std::string cutUtf8(std::string_view text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return std::string(text);
    std::size_t n = bytes;
    // Back up over continuation bytes to the start of the character cut.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

RecordingFile::RecordingFile(std::string path, bool overwrite) : path_(std::move(path))
{
    const QuietErrors quiet;
    std::string target = path_;
    reserveFd_ = createTarget(mayCreate(overwrite), target);
    try {
        startEmpty(target);
    } catch (const RecordingError &) {
        // Closed first: Windows deletes an open file only at its last close.
        // An old file moved aside comes back over the new one instead.
        const bool putBack = !asidePath_.empty();
        abandon();
        if (!putBack)
            nativefile::remove(target);
        throw;
    }
}

bool RecordingFile::mayCreate(bool overwrite) const
{
    // Ask the system rather than guess: it knows about missing directories,
    // permissions, read-only mounts and names that are directories.
    int err = 0;
    const nativefile::Kind kind = nativefile::kindOf(path_, err);
    if (kind == nativefile::Kind::Directory)
        throw RecordingError("cannot create '" + path_ + "': " + std::strerror(EISDIR));
    if (kind != nativefile::Kind::File)
        return false;
    if (const std::string why = otherWriter(path_); !why.empty())
        throw RecordingError(why);
    if (!overwrite)
        throw RecordingError("'" + path_ + "' already exists; choose another name or allow overwriting");
    return true;
}

std::intptr_t RecordingFile::createTarget(bool exists, std::string &target)
{
    // A file to replace stays as it is until a run has begun in its
    // successor, made beside it under a temporary name: a rename then swaps
    // them at once (replaceOld). Until then a Start that fails, or none,
    // leaves it as it was. Where HDF5's open file cannot be renamed (Windows),
    // the old file steps aside instead, under a name of its own, and goes
    // at the same moment, or comes back if no run begins (releaseLock).
    int err = 0;
    nativefile::Handle fd = nativefile::kNone;
    if (exists && nativefile::renamesOpenFiles()) {
        fd = nativefile::createBeside(path_, "", target, err);
        // A lock on it keeps other panels from taking it meanwhile.
        oldFd_ = nativefile::holdAgainstPanels(path_);
    } else {
        if (exists)
            moveOldAside();
        fd = nativefile::createNew(path_, err);
    }
    if (fd == nativefile::kNone) {
        putOldBack();
        if (err == EEXIST)
            throw RecordingError("'" + path_ + "' already exists; choose another name or allow overwriting");
        throw RecordingError("cannot create '" + path_ + "': " + std::strerror(err));
    }
    return fd;
}

void RecordingFile::startEmpty(const std::string &target)
{
    if (const int e = nativefile::lockForRecording(reserveFd_); e != 0)
        throw RecordingError("cannot lock '" + path_ + "': " + std::strerror(e));
    // Closed at once: a panel killed before its first Start leaves a
    // valid, empty HDF5 file.
    fapl_ = fileAccess();
    Hid created(check(H5Fcreate(target.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl_.get()),
                      "cannot create HDF5 file '" + path_ + "'"),
                H5Fclose);
    check(created.reset(), "cannot create HDF5 file '" + path_ + "'");
    // HDF5's writer takes an exclusive lock and a reader a shared one: a
    // shared lock held to the end refuses other writers and admits readers.
    nativefile::holdReaderLock(reserveFd_);
    if (target != path_)
        tempPath_ = target;
}

void RecordingFile::moveOldAside()
{
    // Another program holding the file without sharing its deletion keeps
    // it where it is: nothing is replaced then.
    if (const int err = nativefile::moveAside(path_, ".replaced", asidePath_); err != 0) {
        asidePath_.clear();
        if (err == EBUSY)
            throw RecordingError("cannot replace '" + path_ + "': another program has it open");
        throw RecordingError("cannot move '" + path_ + "' aside to replace it: " + std::strerror(err));
    }
}

void RecordingFile::putOldBack() noexcept
{
    if (asidePath_.empty())
        return;
    // Over the new file, which never got a run.
    (void)nativefile::replace(asidePath_, path_);
    asidePath_.clear();
}

RecordingFile::~RecordingFile()
{
    abandon();
}

void RecordingFile::layOut(const FileInfo &info)
{
    const QuietErrors quiet;
    const AcqSettings &s = info.settings;
    if (s.ChannelCount < 1 || s.ScansPerBlock < 1)
        throw RecordingError("cannot record blocks of " + std::to_string(s.ScansPerBlock) + " scans of " +
                             std::to_string(s.ChannelCount) + " channels");
    channels_ = s.ChannelCount;
    scans_ = s.ScansPerBlock;
    // HDF5 takes its exclusive lock for the open and drops it when SWMR
    // starts; the shared one is taken again after. Other panels stay out all
    // along (the write lock), and an in-process reader opens the file with
    // HDF5's default locking, as the recorder does.
    nativefile::dropReaderLock(reserveFd_);
    const std::string &name = tempPath_.empty() ? path_ : tempPath_;
    file_ = Hid(check(H5Fopen(name.c_str(), H5F_ACC_RDWR, fapl_.get()), "cannot open '" + name + "'"), H5Fclose);
    ensureRoom(0);

    const hid_t g = file_.get();
    namespace f = format;
    writeRootAttributes(g, info);

    const hsize_t blockChunk[2] = {static_cast<hsize_t>(scans_), static_cast<hsize_t>(channels_)};
    samples_ = extendible(g, f::kSamples, H5T_STD_I16LE, 2, static_cast<hsize_t>(channels_), blockChunk);

    Hid file;
    compound(sizeof(BlockRow), f::kBlockFields, blocks_.memType, file);
    blocks_.dset = extendible(g, f::kBlocks, file.get(), 1, 0, &kRowChunk).dset;
    compound(sizeof(RunRow), f::runFields(f::kPyramid.levels).all(), runs_.memType, file);
    runs_.dset = extendible(g, f::kRuns, file.get(), 1, 0, &kRunChunk).dset;
    {
        // Packed in memory as in the file; the arrays' length is the file's.
        const auto layout = f::SummaryLayout::of(std::size_t(channels_), f::kVersion);
        summaryRowBytes_ = layout.bytes();
        Hid mem;
        compound(summaryRowBytes_, layout.fields().all(), mem, file);
        const Hid group(check(H5Gcreate2(g, f::kSummaries, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), f::kSummaries),
                        H5Gclose);
        levels_.clear();
        for (int l = 1; l <= f::kPyramid.levels; ++l) {
            Table t = extendible(group.get(), f::levelName(l).c_str(), file.get(), 1, 0, &kLevelChunk[l - 1],
                                 l <= kCompressedLevels);
            t.memType = Hid(check(H5Tcopy(mem.get()), "summary type"), H5Tclose);
            levels_.push_back(std::move(t));
        }
    }
    compound(sizeof(MarkerRow), f::kMarkerFields, markers_.memType, file);
    const hsize_t markerChunk = 64;
    markers_.dset = extendible(g, f::kMarkers, file.get(), 1, 0, &markerChunk).dset;
    compound(sizeof(DigitalRow), f::kDigitalFields, digital_.memType, file);
    digital_.dset = extendible(g, f::kDigital, file.get(), 1, 0, &kRowChunk).dset;
    const hsize_t eventChunk = 64;
    compound(sizeof(EventRow), f::kEventFields, events_.memType, file);
    events_.dset = extendible(g, f::kEvents, file.get(), 1, 0, &eventChunk).dset;
    compound(sizeof(RulesRow), f::kRulesFields, rules_.memType, file);
    rules_.dset = extendible(g, f::kRules, file.get(), 1, 0, &kRunChunk).dset;
    const hsize_t textChunk = 4096;
    rulesText_ = extendible(g, f::kRulesText, H5T_STD_U8LE, 1, 0, &textChunk);
    rulesText_.memType = Hid(check(H5Tcopy(H5T_NATIVE_UINT8), "rules text type"), H5Tclose);

    check(H5Fstart_swmr_write(file_.get()), "starting SWMR on '" + path_ + "'");
    nativefile::holdReaderLock(reserveFd_);
}

int64_t RecordingFile::summaryBatch(int level) const
{
    return level <= kCompressedLevels ? static_cast<int64_t>(kLevelChunk[level - 1]) : 1;
}

void RecordingFile::checkShape(const AcqSettings &s) const
{
    if (s.ChannelCount != channels_ || s.ScansPerBlock != scans_)
        throw RecordingError("a run of blocks of " + std::to_string(s.ScansPerBlock) + " scans of " +
                             std::to_string(s.ChannelCount) + " channels does not fit the file's " +
                             std::to_string(scans_) + " scans of " + std::to_string(channels_));
}

void RecordingFile::appendTable(Table &t, const void *data, hsize_t count, const char *what)
{
    if (count == 0)
        return;
    if (!t.dset.valid())
        throw RecordingError(std::string(what) + " before the first run");
    writeRows(t.dset.get(), t.memType.get(), t.rows, count, 0, true, data, what);
    t.rows += count;
}

void RecordingFile::appendSamples(std::span<const int16_t> samples)
{
    const QuietErrors quiet;
    if (samples.empty())
        return;
    if (!laidOut())
        throw RecordingError("samples before the first run");
    const std::size_t block = blockSamples();
    if (samples.size() % block != 0)
        throw RecordingError(std::to_string(samples.size()) + " samples are not whole blocks of " +
                             std::to_string(block));
    const hsize_t bytes = samples.size_bytes();
    ensureRoom(bytes);
    unflushedBytes_ += bytes;
    const hsize_t scans = samples.size() / static_cast<std::size_t>(channels_);
    writeRows(samples_.dset.get(), H5T_NATIVE_INT16, samples_.rows, scans, static_cast<hsize_t>(channels_), true,
              samples.data(), "samples");
    samples_.rows += scans;
}

void RecordingFile::appendSummaries(int level, int32_t run, const EntryTable &entries, std::size_t count)
{
    const QuietErrors quiet;
    if (count == 0)
        return;
    Table &t = levels_.at(static_cast<std::size_t>(level - 1));
    const std::size_t n = static_cast<std::size_t>(channels_);
    summaryBuf_.resize(count * summaryRowBytes_);
    unsigned char *p = summaryBuf_.data();
    const auto at = format::SummaryLayout::of(n, format::kVersion);
    const int64_t width = format::kPyramid.width(level);
    for (std::size_t i = 0; i < count; ++i) {
        const EntryRef e = entries.at(i);
        const int64_t start = e.span * width;
        std::memcpy(p + at.kRun, &run, 4);
        std::memcpy(p + at.kStart, &start, 8);
        std::memcpy(p + at.kCount, &e.count, 8);
        std::memcpy(p + at.kMin, e.min, 2 * n);
        std::memcpy(p + at.max(), e.max, 2 * n);
        std::memcpy(p + at.sum(), e.sum, 8 * n);
        std::memcpy(p + at.sumSq(), e.sumSq, 8 * n);
        p += summaryRowBytes_;
    }
    ensureRoom(summaryBuf_.size());
    unflushedBytes_ += summaryBuf_.size();
    appendTable(t, summaryBuf_.data(), count, "summaries");
}

void RecordingFile::appendRows(std::span<const BlockRow> rows)
{
    const QuietErrors quiet;
    ensureRoom(rows.size_bytes());
    unflushedBytes_ += rows.size_bytes();
    appendTable(blocks_, rows.data(), rows.size(), "blocks");
}

void RecordingFile::appendMarkers(std::span<const MarkerRow> rows)
{
    const QuietErrors quiet;
    ensureRoom(rows.size_bytes());
    appendTable(markers_, rows.data(), rows.size(), "markers");
}

void RecordingFile::appendDigital(std::span<const DigitalRow> rows)
{
    const QuietErrors quiet;
    ensureRoom(rows.size_bytes());
    appendTable(digital_, rows.data(), rows.size(), "digital");
}

void RecordingFile::appendEvents(std::span<const EventRow> rows)
{
    const QuietErrors quiet;
    ensureRoom(rows.size_bytes());
    appendTable(events_, rows.data(), rows.size(), "events");
}

void RecordingFile::appendRules(RulesRow row, std::string_view text)
{
    const QuietErrors quiet;
    ensureRoom(text.size() + sizeof row);
    row.textFirst = static_cast<int64_t>(rulesText_.rows);
    row.textBytes = static_cast<int64_t>(text.size());
    appendTable(rulesText_, text.data(), text.size(), "rules text");
    appendTable(rules_, &row, 1, "rules");
}

void RecordingFile::writeRun(const RunRow &row)
{
    const QuietErrors quiet;
    if (!runs_.dset.valid())
        throw RecordingError("runs before the first run");
    // A file of a series may begin with a later run: its rows count from
    // the first run it holds.
    if (runs_.rows == 0)
        firstRun_ = row.run;
    const auto at = static_cast<hsize_t>(int64_t{row.run} - firstRun_);
    if (row.run < firstRun_ || at > runs_.rows)
        throw RecordingError("run " + std::to_string(row.run) + " out of order");
    ensureRoom(sizeof row);
    const bool grow = at == runs_.rows;
    // Rewriting an existing row in place is within SWMR's contract.
    writeRows(runs_.dset.get(), runs_.memType.get(), at, 1, 0, grow, &row, "runs");
    if (grow)
        ++runs_.rows;
}

void RecordingFile::flushSamples()
{
    const QuietErrors quiet;
    check(H5Dflush(samples_.dset.get()), "writing '" + path_ + "'");
}

void RecordingFile::flushSummaries()
{
    const QuietErrors quiet;
    for (const Table &t : levels_)
        if (t.rows > 0)
            check(H5Dflush(t.dset.get()), "writing '" + path_ + "'");
}

void RecordingFile::flushRows()
{
    const QuietErrors quiet;
    check(H5Dflush(blocks_.dset.get()), "writing '" + path_ + "'");
}

void RecordingFile::flushRest()
{
    const QuietErrors quiet;
    // A rules row after the text it points at, an event after the rows.
    for (const Table *t : {&runs_, &markers_, &digital_, &rulesText_, &rules_, &events_})
        check(H5Dflush(t->dset.get()), "writing '" + path_ + "'");
    check(H5Fflush(file_.get(), H5F_SCOPE_LOCAL), "writing '" + path_ + "'");
    unflushedBytes_ = 0;
    replaceOld();
}

void RecordingFile::replaceOld()
{
    // A run has begun: the old file moved aside is not coming back. The new
    // one is on the disk first, so that a power cut leaves one of them whole.
    if (!asidePath_.empty()) {
        if (const int err = nativefile::syncData(reserveFd_); err != 0)
            throw RecordingError("writing '" + path_ + "' to the disk: " + std::strerror(err));
        nativefile::remove(asidePath_);
        asidePath_.clear();
    }
    if (tempPath_.empty())
        return;
    // On the disk before the rename, so that a power cut leaves one file or
    // the other whole, never an empty one under the name.
    if (const int err = nativefile::replaceDurably(reserveFd_, tempPath_, path_); err != 0)
        throw RecordingError("cannot replace '" + path_ + "': " + std::strerror(err));
    tempPath_.clear();
    nativefile::close(oldFd_);
    oldFd_ = nativefile::kNone;
}

void RecordingFile::sync()
{
    if (reserveFd_ == nativefile::kNone)
        return;
    if (const int e = nativefile::syncData(reserveFd_); e != 0)
        throw RecordingError("writing '" + path_ + "' to the disk: " + std::strerror(e));
}

void RecordingFile::ensureRoom(hsize_t extra)
{
    uint64_t size = 0;
    hsize_t used = 0;
    if (reserveSpent_ || reserveFd_ == nativefile::kNone || !file_.valid() || !nativefile::size(reserveFd_, size) ||
        H5Fget_filesize(file_.get(), &used) < 0) {
        H5Eclear2(H5E_DEFAULT);
        return;
    }
    // From the file's real end: HDF5 cuts the file back to what it uses when
    // SWMR starts, which gives back the reserve made before.
    const hsize_t need = used + unflushedBytes_ + extra + kRoomMargin;
    if (need <= size)
        return;
    int err = nativefile::reserve(reserveFd_, need + kRoomStep);
    if (err == ENOSPC || err == EFBIG) // a step too far: what is needed may still fit
        err = nativefile::reserve(reserveFd_, need);
    if (err == EOPNOTSUPP)
        return; // cannot reserve here; HDF5 reports a failed write itself
    if (err != 0)
        throw NoRoomError(std::string("no room to grow the file: ") + std::strerror(err));
}

// Cuts the file back to the end recorded in its superblock (format version 2
// or 3, as the 1.10 format writes: the end-of-file address at byte 28).
void RecordingFile::trimToStoredEnd()
{
    unsigned char sb[36];
    uint64_t size = 0;
    if (reserveFd_ == nativefile::kNone || !nativefile::readAt(reserveFd_, sb, sizeof sb, 0) ||
        !format::hasSignature(sb) || sb[8] < 2 || sb[9] != 8 || !nativefile::size(reserveFd_, size))
        return;
    uint64_t base = 0;
    uint64_t end = 0;
    for (int i = 7; i >= 0; --i) {
        base = base << 8 | sb[12 + i];
        end = end << 8 | sb[28 + i];
    }
    if (base == 0 && end > 0 && end < size)
        nativefile::truncate(reserveFd_, end);
}

int64_t RecordingFile::fileSize() const
{
    const QuietErrors quiet;
    hsize_t size = 0;
    if (file_.valid() && H5Fget_filesize(file_.get(), &size) < 0)
        H5Eclear2(H5E_DEFAULT);
    if (uint64_t bytes = 0; !file_.valid() && reserveFd_ != nativefile::kNone && nativefile::size(reserveFd_, bytes))
        size = static_cast<hsize_t>(bytes);
    return static_cast<int64_t>(size);
}

void RecordingFile::closeHdf5()
{
    for (Table *t : {&samples_, &blocks_, &runs_, &markers_, &digital_, &events_, &rules_, &rulesText_})
        check(t->dset.reset(), "closing '" + path_ + "'");
    for (Table &t : levels_)
        check(t.dset.reset(), "closing '" + path_ + "'");
    check(file_.reset(), "closing '" + path_ + "'");
}

void RecordingFile::close()
{
    const QuietErrors quiet;
    closeHdf5();
    fapl_.reset();
    trimToStoredEnd();
    if (reserveFd_ != nativefile::kNone)
        (void)nativefile::syncData(reserveFd_);
    releaseLock();
}

void RecordingFile::releaseLock() noexcept
{
    // Closing the descriptor releases both locks. A successor that never
    // got a run goes, and the file it was to replace stays.
    nativefile::close(oldFd_);
    oldFd_ = nativefile::kNone;
    nativefile::close(reserveFd_);
    reserveFd_ = nativefile::kNone;
    // Removed once closed: Windows deletes an open file only at its last close.
    if (!tempPath_.empty())
        nativefile::remove(tempPath_);
    tempPath_.clear();
    putOldBack();
}

void RecordingFile::abandon() noexcept
{
    const QuietErrors quiet;
    for (Table *t : {&samples_, &blocks_, &runs_, &markers_, &digital_, &events_, &rules_, &rulesText_})
        t->dset.reset();
    levels_.clear();
    file_.reset();
    fapl_.reset();
    H5Eclear2(H5E_DEFAULT);
    releaseLock();
}

} // namespace adcard
