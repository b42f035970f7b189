#include "recording/reading_support.h"

#include "platform/native_file.h"

#include <cmath>
#include <cstring>

namespace adcard::reading {

// The reader keeps what it read in blocks of its own; HDF5's chunk cache
// (1 MiB a dataset by default) would only hold a second copy.
Hid openDataset(hid_t where, const char *name, std::size_t chunkCache)
{
    if (H5Lexists(where, name, H5P_DEFAULT) <= 0)
        return {};
    const Hid dapl(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
    H5Pset_chunk_cache(dapl.get(), 521, chunkCache, 1.0);
    return Hid(H5Dopen2(where, name, dapl.get()), H5Dclose);
}

std::optional<Stats> entryChannel(const unsigned char *b, const format::SummaryLayout &at, std::size_t k,
                                  int64_t count)
{
    int16_t lo, hi;
    std::memcpy(&lo, b + at.kMin + 2 * k, 2);
    std::memcpy(&hi, b + at.max() + 2 * k, 2);
    if (!at.sums) {
        float mean, sd;
        std::memcpy(&mean, b + at.mean() + 4 * k, 4);
        std::memcpy(&sd, b + at.sd() + 4 * k, 4);
        Stats s;
        s.addSummary(count, lo, hi, std::isfinite(mean) ? mean : 0.0F, std::isfinite(sd) ? sd : 0.0F);
        return s;
    }
    int64_t sum, sumSq;
    std::memcpy(&sum, b + at.sum() + 8 * k, 8);
    std::memcpy(&sumSq, b + at.sumSq() + 8 * k, 8);
    __extension__ typedef __int128 Wide;
    const Wide n = count, top = std::max(Wide{lo} * lo, Wide{hi} * hi);
    if (count <= 0 || lo > hi || sum < n * lo || sum > n * hi || sumSq < 0 || sumSq > n * top)
        return std::nullopt;
    return Stats{count, lo, hi, sum, sumSq};
}

// The value of a one-element numeric attribute.
namespace {

// A one-element attribute and its type; none where there is no such
// attribute or it holds more than one value.
struct ScalarAttr {
    Hid attr, type;
    H5T_class_t cls = H5T_NO_CLASS;
};

std::optional<ScalarAttr> scalarAttr(hid_t obj, const char *name)
{
    if (H5Aexists(obj, name) <= 0)
        return std::nullopt;
    ScalarAttr a{Hid(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose), {}};
    a.type = Hid(H5Aget_type(a.attr.get()), H5Tclose);
    const Hid space(H5Aget_space(a.attr.get()), H5Sclose);
    if (!space.valid() || !a.type.valid() || H5Sget_simple_extent_npoints(space.get()) != 1)
        return std::nullopt;
    a.cls = H5Tget_class(a.type.get());
    return a;
}

} // namespace

std::optional<double> attrNumber(hid_t obj, const char *name)
{
    const auto a = scalarAttr(obj, name);
    if (!a || (a->cls != H5T_INTEGER && a->cls != H5T_FLOAT))
        return std::nullopt;
    double v = 0;
    if (H5Aread(a->attr.get(), H5T_NATIVE_DOUBLE, &v) < 0 || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int64_t> attrInt(hid_t obj, const char *name, int64_t lo, int64_t hi)
{
    const auto v = attrNumber(obj, name);
    if (!v || *v < double(lo) || *v > double(hi) || *v != std::floor(*v))
        return std::nullopt;
    return int64_t(*v);
}

std::optional<int64_t> attrInt64(hid_t obj, const char *name)
{
    const auto a = scalarAttr(obj, name);
    int64_t v = 0;
    if (!a || a->cls != H5T_INTEGER || H5Aread(a->attr.get(), H5T_NATIVE_INT64, &v) < 0)
        return std::nullopt;
    return v;
}

std::optional<SeriesMembership> seriesOf(hid_t obj)
{
    SeriesMembership m;
    m.id = attrText(obj, format::kSeriesId);
    const auto place = attrInt64(obj, format::kSeriesPlace);
    const auto start = attrInt64(obj, format::kSeriesStartNs);
    m.split = attrText(obj, format::kSeriesSplit);
    if (m.id.empty() || !place || *place < 0 || !start)
        return std::nullopt;
    m.place = *place;
    m.startNs = *start;
    return m;
}

std::string attrText(hid_t obj, const char *name)
{
    const auto a = scalarAttr(obj, name);
    if (!a || a->cls != H5T_STRING)
        return {};
    const Hid &attr = a->attr, &type = a->type;
    const Hid mem(H5Tcopy(type.get()), H5Tclose); // in its own character set
    if (H5Tis_variable_str(type.get()) > 0) {
        char *value = nullptr;
        if (H5Aread(attr.get(), mem.get(), &value) < 0 || !value)
            return {};
        std::string out(value);
        H5free_memory(value);
        return out;
    }
    const std::size_t size = H5Tget_size(type.get());
    if (size == 0 || size > 4096)
        return {};
    std::string out(size + 1, '\0');
    H5Tset_size(mem.get(), size + 1);
    H5Tset_strpad(mem.get(), H5T_STR_NULLTERM);
    if (H5Aread(attr.get(), mem.get(), out.data()) < 0)
        return {};
    out.resize(std::strlen(out.c_str()));
    return out;
}

// The codes' conversion to volts that `obj` states; the panel's where it
// states none, or one that converts nothing.
Calibration calibrationOf(hid_t obj)
{
    const auto offset = attrNumber(obj, format::kVoltsOffset);
    const auto scale = attrNumber(obj, format::kVoltsScale);
    if (!offset || !scale || *scale == 0.0 || std::fabs(*offset) > 1e9 || std::fabs(*scale) > 1e9)
        return kPanelCalibration;
    return {*offset, *scale};
}

namespace {

// A one-dimensional attribute of exactly `n` elements: its space, or nothing.
Hid vectorAttribute(hid_t obj, const char *name, int n, Hid &type)
{
    if (H5Aexists(obj, name) <= 0)
        return {};
    Hid attr(H5Aopen(obj, name, H5P_DEFAULT), H5Aclose);
    const Hid space(H5Aget_space(attr.get()), H5Sclose);
    type = Hid(H5Aget_type(attr.get()), H5Tclose);
    if (!space.valid() || !type.valid() || H5Sget_simple_extent_ndims(space.get()) != 1 ||
        H5Sget_simple_extent_npoints(space.get()) != n)
        return {};
    return attr;
}

std::optional<std::vector<double>> attrNumbers(hid_t obj, const char *name, int n)
{
    Hid type;
    const Hid attr = vectorAttribute(obj, name, n, type);
    if (!attr.valid() || (H5Tget_class(type.get()) != H5T_FLOAT && H5Tget_class(type.get()) != H5T_INTEGER))
        return std::nullopt;
    std::vector<double> v(static_cast<std::size_t>(n));
    if (H5Aread(attr.get(), H5T_NATIVE_DOUBLE, v.data()) < 0)
        return std::nullopt;
    return v;
}

// Variable-length texts only, as the writer makes them.
std::optional<std::vector<std::string>> attrTexts(hid_t obj, const char *name, int n)
{
    Hid type;
    const Hid attr = vectorAttribute(obj, name, n, type);
    if (!attr.valid() || H5Tget_class(type.get()) != H5T_STRING || H5Tis_variable_str(type.get()) <= 0)
        return std::nullopt;
    const Hid mem(H5Tcopy(type.get()), H5Tclose);
    std::vector<char *> raw(static_cast<std::size_t>(n), nullptr);
    if (H5Aread(attr.get(), mem.get(), raw.data()) < 0)
        return std::nullopt;
    std::vector<std::string> out;
    for (char *text : raw) {
        // Longer than any writer makes: cut, then judged by unitProblem().
        out.emplace_back(text ? std::string(text, strnlen(text, kChannelTextBytes + 1)) : std::string());
        H5free_memory(text);
    }
    return out;
}

} // namespace

ChannelUnits channelUnitsOf(hid_t obj, int channels)
{
    if (channels <= 0)
        return {};
    const auto names = attrTexts(obj, format::kChannelNames, channels);
    const auto units = attrTexts(obj, format::kChannelUnits, channels);
    const auto scales = attrNumbers(obj, format::kChannelScale, channels);
    const auto offsets = attrNumbers(obj, format::kChannelOffset, channels);
    if (!names || !units || !scales || !offsets)
        return {};
    ChannelUnits out(static_cast<std::size_t>(channels));
    for (std::size_t c = 0; c < out.size(); ++c)
        out[c] = {(*names)[c], (*units)[c], (*scales)[c], (*offsets)[c]};
    return checkedUnits(std::move(out));
}

// Extent of a dataset of rank `rank`; nullopt for another rank.
std::optional<std::vector<hsize_t>> extent(hid_t dset, int rank)
{
    const Hid space(H5Dget_space(dset), H5Sclose);
    if (!space.valid() || H5Sget_simple_extent_ndims(space.get()) != rank)
        return std::nullopt;
    std::vector<hsize_t> dims(static_cast<std::size_t>(rank));
    if (H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr) < 0)
        return std::nullopt;
    return dims;
}

hsize_t length(hid_t dset)
{
    const auto dims = extent(dset, 1);
    return dims ? (*dims)[0] : 0;
}

// The superblock says whether a writer has the file open (or had, and
// crashed): version 2 or 3 keeps the flags in byte 11.
bool openForWriting(const std::string &path)
{
    unsigned char sb[12];
    int err = 0;
    const nativefile::Handle fd = nativefile::openRead(path, err);
    if (fd == nativefile::kNone)
        return false;
    const bool ok = nativefile::readAt(fd, sb, sizeof sb, 0);
    nativefile::close(fd);
    return ok && format::hasSignature(sb) && sb[8] >= 2 && (sb[11] & 0x05) != 0;
}

bool hdf5Signature(const std::string &path)
{
    int err = 0;
    const nativefile::Handle fd = nativefile::openRead(path, err);
    if (fd == nativefile::kNone)
        return false;
    bool found = false;
    // A user block puts the signature at 512, 1024, 2048, ...
    for (uint64_t at = 0; !found && at < (uint64_t{1} << 30); at = at ? at * 2 : 512) {
        unsigned char sig[8];
        if (!nativefile::readAt(fd, sig, sizeof sig, at))
            break;
        found = format::hasSignature(sig);
    }
    nativefile::close(fd);
    return found;
}

} // namespace adcard::reading
