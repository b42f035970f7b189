#include "recording/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace adcard {

namespace {

// HDF5 raises the end-of-file address in the superblock before the data
// behind it is on disk; if the disk then refuses the data, the file no longer
// opens ("truncated file"). So the file is grown ahead of HDF5 by at least
// this much, and when that fails the recording stops while the file is still
// consistent. What is left over is cut off when the file is closed.
constexpr hsize_t kRoomMargin = hsize_t{1} << 20;
constexpr hsize_t kRoomStep = hsize_t{4} << 20;

// HDF5 prints its error stack by default; the recorder reports one line of
// its own instead. The setting is per thread in a thread-safe build.
class QuietErrors {
public:
    QuietErrors()
    {
        H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    ~QuietErrors() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
    QuietErrors(const QuietErrors &) = delete;
    QuietErrors &operator=(const QuietErrors &) = delete;

private:
    H5E_auto2_t func_ = nullptr;
    void *data_ = nullptr;
};

herr_t keepDeepest(unsigned, const H5E_error2_t *err, void *out)
{
    if (err->desc && *err->desc)
        *static_cast<std::string *>(out) = err->desc;
    return 0;
}

// The innermost cause on the error stack; for a failed system call, the
// system's own words ("File too large", "No space left on device").
std::string hdf5Cause()
{
    std::string desc;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, keepDeepest, &desc);
    H5Eclear2(H5E_DEFAULT);
    const std::string marker = "error message = '";
    if (const auto at = desc.find(marker); at != std::string::npos) {
        const auto from = at + marker.size();
        return desc.substr(from, desc.find('\'', from) - from);
    }
    return desc;
}

[[noreturn]] void fail(const std::string &what)
{
    const std::string cause = hdf5Cause();
    throw RecordingError(cause.empty() ? what : what + ": " + cause);
}

// An identifier or a status; negative means failure.
template <typename T>
T check(T result, const std::string &what)
{
    if (result < 0)
        fail(what);
    return result;
}

Hid attributeSpace()
{
    return Hid(check(H5Screate(H5S_SCALAR), "dataspace"), H5Sclose);
}

template <typename T>
void writeAttribute(hid_t obj, const char *name, hid_t fileType, hid_t memType, const T &value)
{
    const Hid space = attributeSpace();
    const Hid attr(check(H5Acreate2(obj, name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT), name), H5Aclose);
    check(H5Awrite(attr.get(), memType, &value), std::string("attribute ") + name);
}

void writeText(hid_t obj, const char *name, const std::string &value)
{
    const Hid type(check(H5Tcopy(H5T_C_S1), "string type"), H5Tclose);
    check(H5Tset_size(type.get(), H5T_VARIABLE), "string type");
    check(H5Tset_cset(type.get(), H5T_CSET_UTF8), "string type");
    const char *text = value.c_str();
    writeAttribute(obj, name, type.get(), type.get(), text);
}

void updateAttribute(hid_t obj, const char *name, int64_t value)
{
    const Hid attr(check(H5Aopen(obj, name, H5P_DEFAULT), name), H5Aclose);
    check(H5Awrite(attr.get(), H5T_NATIVE_INT64, &value), std::string("attribute ") + name);
}

Hid extendibleDataset(hid_t where, const char *name, hid_t type, int rank, const hsize_t *width, const hsize_t *chunk)
{
    hsize_t dims[2] = {0, rank > 1 ? width[1] : 0};
    hsize_t maxDims[2] = {H5S_UNLIMITED, dims[1]};
    const Hid space(check(H5Screate_simple(rank, dims, maxDims), name), H5Sclose);
    const Hid dcpl(check(H5Pcreate(H5P_DATASET_CREATE), name), H5Pclose);
    check(H5Pset_chunk(dcpl.get(), rank, chunk), std::string("chunking of ") + name);
    return Hid(check(H5Dcreate2(where, name, type, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT), name),
               H5Dclose);
}

// Grows `dset` by `count` along its first dimension, from `offset`, and
// writes `data` there.
void append(hid_t dset, hid_t memType, int rank, hsize_t offset, const hsize_t *count, const void *data,
            const char *what)
{
    // Rows are converted from their in-memory layout to the file's on the
    // way. HDF5 would clear a 1 MiB conversion buffer, and as much again for
    // the background, on every write; a tick's rows need a few hundred bytes.
    static const Hid transfer = [] {
        Hid dxpl(H5Pcreate(H5P_DATASET_XFER), H5Pclose);
        if (dxpl.valid())
            H5Pset_buffer(dxpl.get(), 16 * 1024, nullptr, nullptr);
        return dxpl;
    }();
    hsize_t dims[2] = {offset + count[0], rank > 1 ? count[1] : 0};
    check(H5Dset_extent(dset, dims), std::string("extending ") + what);
    const Hid fileSpace(check(H5Dget_space(dset), what), H5Sclose);
    const hsize_t start[2] = {offset, 0};
    check(H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr), what);
    const Hid memSpace(check(H5Screate_simple(rank, count, nullptr), what), H5Sclose);
    check(H5Dwrite(dset, memType, memSpace.get(), fileSpace.get(), transfer.valid() ? transfer.get() : H5P_DEFAULT, data),
          std::string("writing ") + what);
}

} // namespace

Hid &Hid::operator=(Hid &&o) noexcept
{
    if (this != &o) {
        reset();
        id_ = o.id_;
        closer_ = o.closer_;
        o.id_ = H5I_INVALID_HID;
    }
    return *this;
}

herr_t Hid::reset()
{
    herr_t r = 0;
    if (id_ >= 0 && closer_)
        r = closer_(id_);
    id_ = H5I_INVALID_HID;
    return r;
}

RecordingFile::RecordingFile(std::string path, bool overwrite) : path_(std::move(path))
{
    const QuietErrors quiet;
    // Ask the system rather than guess: it knows about missing directories,
    // permissions, read-only mounts and names that are directories.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        const int err = errno;
        if (err == EEXIST)
            throw RecordingError("'" + path_ + "' already exists; choose another name or allow overwriting");
        throw RecordingError("cannot create '" + path_ + "': " + std::strerror(err));
    }
    reserveFd_ = fd;

    try {
        fapl_ = Hid(check(H5Pcreate(H5P_FILE_ACCESS), "file access list"), H5Pclose);
        // SWMR needs the latest file format.
        check(H5Pset_libver_bounds(fapl_.get(), H5F_LIBVER_LATEST, H5F_LIBVER_LATEST), "file format");
        file_ = Hid(check(H5Fcreate(path_.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl_.get()),
                          "cannot create HDF5 file '" + path_ + "'"),
                    H5Fclose);

        rowType_ = Hid(check(H5Tcreate(H5T_COMPOUND, sizeof(BlockRow)), "row type"), H5Tclose);
        check(H5Tinsert(rowType_.get(), "index", offsetof(BlockRow, index), H5T_NATIVE_INT64), "row type");
        check(H5Tinsert(rowType_.get(), "time_ns", offsetof(BlockRow, timeNs), H5T_NATIVE_INT64), "row type");
        check(H5Tinsert(rowType_.get(), "slot", offsetof(BlockRow, slot), H5T_NATIVE_INT32), "row type");
        check(H5Tinsert(rowType_.get(), "block_count", offsetof(BlockRow, blockCount), H5T_NATIVE_INT16),
              "row type");
    } catch (const RecordingError &) {
        abandon();
        throw;
    }
}

RecordingFile::~RecordingFile()
{
    abandon();
}

void RecordingFile::open()
{
    // A SWMR reader watching the file holds a shared lock on it, which would
    // refuse this reopen; the recorder is the file's only writer, so it
    // reopens without locking rather than stop because someone is looking.
    const Hid fapl(check(H5Pcopy(fapl_.get()), "file access list"), H5Pclose);
    check(H5Pset_file_locking(fapl.get(), false, true), "file access list");
    file_ = Hid(check(H5Fopen(path_.c_str(), H5F_ACC_RDWR, fapl.get()), "cannot reopen '" + path_ + "'"), H5Fclose);
}

void RecordingFile::closeRun()
{
    check(blocks_.reset(), "closing blocks");
    check(samples_.reset(), "closing samples");
    check(run_.reset(), "closing run");
}

void RecordingFile::beginRun(const RunInfo &info)
{
    const QuietErrors quiet;
    const AcqSettings &s = info.settings;
    if (s.ChannelCount < 1 || s.ScansPerBlock < 1)
        throw RecordingError("cannot record blocks of " + std::to_string(s.ScansPerBlock) + " scans of " +
                             std::to_string(s.ChannelCount) + " channels");
    closeRun();
    if (swmr_) {
        check(file_.reset(), "closing '" + path_ + "' for a new run");
        swmr_ = false;
        trimToStoredEnd();
        open();
    }
    ensureRoom(0);

    char name[32];
    std::snprintf(name, sizeof name, "run%04d", runs_ + 1);
    run_ = Hid(check(H5Gcreate2(file_.get(), name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), name), H5Gclose);
    ++runs_;
    const hid_t g = run_.get();
    writeAttribute(g, "IntrArg1", H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg1);
    writeAttribute(g, "ScansPerBlock", H5T_STD_I32LE, H5T_NATIVE_INT32, s.ScansPerBlock);
    writeAttribute(g, "IntrArg3", H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg3);
    writeAttribute(g, "ChannelCount", H5T_STD_I16LE, H5T_NATIVE_INT16, s.ChannelCount);
    writeAttribute(g, "IntrArg5", H5T_STD_I32LE, H5T_NATIVE_INT32, s.IntrArg5);
    writeAttribute(g, "IntrArg6", H5T_STD_I32LE, H5T_NATIVE_INT32, s.IntrArg6);
    writeAttribute(g, "IntrArg7", H5T_STD_I16LE, H5T_NATIVE_INT16, s.IntrArg7);
    channels_ = s.ChannelCount;
    scans_ = s.ScansPerBlock;
    writeAttribute(g, "channels", H5T_STD_I32LE, H5T_NATIVE_INT32, channels_);
    writeAttribute(g, "scans_per_block", H5T_STD_I32LE, H5T_NATIVE_INT32, scans_);
    writeAttribute(g, "volts_offset", H5T_STD_I32LE, H5T_NATIVE_INT32, kVoltsOffset);
    writeAttribute(g, "volts_scale", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, kVoltsScale);
    writeText(g, "volts_unit", "V");
    writeText(g, "driver_library", info.driverLibrary);
    writeText(g, "program_version", info.programVersion);
    writeText(g, "start_time", info.startTime);
    const int64_t zero = 0;
    writeAttribute(g, "missed", H5T_STD_I64LE, H5T_NATIVE_INT64, zero);
    writeAttribute(g, "dropped", H5T_STD_I64LE, H5T_NATIVE_INT64, zero);
    missed_ = dropped_ = 0;

    const hsize_t width[2] = {0, static_cast<hsize_t>(channels_)};
    const hsize_t blockChunk[2] = {static_cast<hsize_t>(scans_), static_cast<hsize_t>(channels_)};
    samples_ = extendibleDataset(g, "samples", H5T_STD_I16LE, 2, width, blockChunk);
    scansStored_ = 0;

    const Hid fileRow(check(H5Tcreate(H5T_COMPOUND, 8 + 8 + 4 + 2), "row type"), H5Tclose);
    check(H5Tinsert(fileRow.get(), "index", 0, H5T_STD_I64LE), "row type");
    check(H5Tinsert(fileRow.get(), "time_ns", 8, H5T_STD_I64LE), "row type");
    check(H5Tinsert(fileRow.get(), "slot", 16, H5T_STD_I32LE), "row type");
    check(H5Tinsert(fileRow.get(), "block_count", 20, H5T_STD_I16LE), "row type");
    const hsize_t rowChunk[1] = {256};
    blocks_ = extendibleDataset(g, "blocks", fileRow.get(), 1, width, rowChunk);
    rowsStored_ = 0;

    check(H5Fstart_swmr_write(file_.get()), "starting SWMR on '" + path_ + "'");
    swmr_ = true;
}

std::size_t RecordingFile::runBlockSamples() const
{
    if (!samples_.valid())
        throw RecordingError("block before the run began");
    return static_cast<std::size_t>(channels_) * static_cast<std::size_t>(scans_);
}

void RecordingFile::checkBlock(std::size_t samples) const
{
    const std::size_t expected = runBlockSamples();
    if (samples != expected)
        throw RecordingError("block of " + std::to_string(samples) + " samples, the run's blocks have " +
                             std::to_string(expected));
}

void RecordingFile::appendBlocks(std::span<const int16_t> samples)
{
    const QuietErrors quiet;
    if (samples.empty())
        return;
    const std::size_t block = runBlockSamples();
    if (samples.size() % block != 0)
        throw RecordingError(std::to_string(samples.size()) + " samples are not whole blocks of " +
                             std::to_string(block));
    const hsize_t bytes = samples.size_bytes();
    ensureRoom(bytes);
    unflushedBytes_ += bytes;
    const hsize_t count[2] = {static_cast<hsize_t>(samples.size() / block * static_cast<std::size_t>(scans_)),
                              static_cast<hsize_t>(channels_)};
    append(samples_.get(), H5T_NATIVE_INT16, 2, scansStored_, count, samples.data(), "samples");
    scansStored_ += count[0];
}

void RecordingFile::appendRows(std::span<const BlockRow> rows)
{
    const QuietErrors quiet;
    if (rows.empty())
        return;
    if (!blocks_.valid())
        throw RecordingError("rows before the run began");
    ensureRoom(rows.size_bytes());
    const hsize_t count[1] = {rows.size()};
    append(blocks_.get(), rowType_.get(), 1, rowsStored_, count, rows.data(), "blocks");
    rowsStored_ += count[0];
}

void RecordingFile::setLosses(int64_t missed, int64_t dropped)
{
    const QuietErrors quiet;
    if (missed != missed_)
        updateAttribute(run_.get(), "missed", missed);
    missed_ = missed;
    if (dropped != dropped_)
        updateAttribute(run_.get(), "dropped", dropped);
    dropped_ = dropped;
}

void RecordingFile::flush()
{
    const QuietErrors quiet;
    check(H5Fflush(file_.get(), H5F_SCOPE_LOCAL), "writing '" + path_ + "'");
    unflushedBytes_ = 0;
}

void RecordingFile::ensureRoom(hsize_t extra)
{
    struct stat st {};
    hsize_t used = 0;
    if (reserveFd_ < 0 || ::fstat(reserveFd_, &st) != 0 || H5Fget_filesize(file_.get(), &used) < 0) {
        H5Eclear2(H5E_DEFAULT);
        return;
    }
    const hsize_t need = used + unflushedBytes_ + extra + kRoomMargin;
    if (need <= static_cast<hsize_t>(st.st_size))
        return;
    const int err = ::posix_fallocate(reserveFd_, 0, static_cast<off_t>(need + kRoomStep));
    if (err == EOPNOTSUPP || err == ENOSYS || err == EINVAL)
        return; // cannot reserve here; HDF5 reports a failed write itself
    if (err != 0)
        throw NoRoomError(std::string("no room to grow the file: ") + std::strerror(err));
}

// Cuts the file back to the end recorded in its superblock (format version 2
// or 3, as the latest format writes: the end-of-file address at byte 28).
void RecordingFile::trimToStoredEnd()
{
    unsigned char sb[36];
    struct stat st {};
    if (reserveFd_ < 0 || ::pread(reserveFd_, sb, sizeof sb, 0) != static_cast<ssize_t>(sizeof sb) ||
        std::memcmp(sb, "\x89HDF\r\n\x1a\n", 8) != 0 || sb[8] < 2 || sb[9] != 8 || ::fstat(reserveFd_, &st) != 0)
        return;
    uint64_t base = 0;
    uint64_t end = 0;
    for (int i = 7; i >= 0; --i) {
        base = base << 8 | sb[12 + i];
        end = end << 8 | sb[28 + i];
    }
    if (base == 0 && end > 0 && end < static_cast<uint64_t>(st.st_size))
        (void)::ftruncate(reserveFd_, static_cast<off_t>(end));
}

int64_t RecordingFile::fileSize() const
{
    const QuietErrors quiet;
    hsize_t size = 0;
    if (file_.valid() && H5Fget_filesize(file_.get(), &size) < 0)
        H5Eclear2(H5E_DEFAULT);
    return static_cast<int64_t>(size);
}

void RecordingFile::close()
{
    const QuietErrors quiet;
    closeRun();
    rowType_.reset();
    check(file_.reset(), "closing '" + path_ + "'");
    fapl_.reset();
    trimToStoredEnd();
    ::close(reserveFd_);
    reserveFd_ = -1;
}

void RecordingFile::abandon() noexcept
{
    const QuietErrors quiet;
    blocks_.reset();
    samples_.reset();
    run_.reset();
    rowType_.reset();
    file_.reset();
    fapl_.reset();
    H5Eclear2(H5E_DEFAULT);
    if (reserveFd_ >= 0)
        ::close(reserveFd_);
    reserveFd_ = -1;
}

} // namespace adcard
