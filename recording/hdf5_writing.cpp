#include "recording/hdf5_writing.h"

#include <utility>

namespace adcard::writing {

namespace {

herr_t keepDeepest(unsigned, const H5E_error2_t *err, void *out)
{
    if (err->desc && *err->desc)
        *static_cast<std::string *>(out) = err->desc;
    return 0;
}

} // namespace

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

void fail(const std::string &what)
{
    const std::string cause = hdf5Cause();
    throw RecordingError(cause.empty() ? what : what + ": " + cause);
}

Hid type(hid_t id, const char *what) { return Hid(check(id, what), H5Tclose); }


void writeInt(hid_t obj, const char *name, int32_t v) { writeAttribute(obj, name, H5T_STD_I32LE, H5T_NATIVE_INT32, v); }

void writeText(hid_t obj, const char *name, const std::string &value)
{
    const Hid t = type(H5Tcopy(H5T_C_S1), "string type");
    check(H5Tset_size(t.get(), H5T_VARIABLE), "string type");
    check(H5Tset_cset(t.get(), H5T_CSET_UTF8), "string type");
    const char *text = value.c_str();
    writeAttribute(obj, name, t.get(), t.get(), text);
}

void writeTexts(hid_t obj, const char *name, const std::vector<std::string> &values)
{
    const Hid t = type(H5Tcopy(H5T_C_S1), "string type");
    check(H5Tset_size(t.get(), H5T_VARIABLE), "string type");
    check(H5Tset_cset(t.get(), H5T_CSET_UTF8), "string type");
    std::vector<std::string> cut;
    std::vector<const char *> texts;
    for (const std::string &v : values)
        cut.push_back(cutUtf8(v, kChannelTextBytes));
    for (const std::string &v : cut)
        texts.push_back(v.c_str());
    const hsize_t n[1] = {texts.size()};
    const Hid space(check(H5Screate_simple(1, n, nullptr), "dataspace"), H5Sclose);
    const Hid attr(check(H5Acreate2(obj, name, t.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), name), H5Aclose);
    check(H5Awrite(attr.get(), t.get(), texts.data()), std::string("attribute ") + name);
}

void writeDoubles(hid_t obj, const char *name, const std::vector<double> &values)
{
    const hsize_t n[1] = {values.size()};
    const Hid space(check(H5Screate_simple(1, n, nullptr), "dataspace"), H5Sclose);
    const Hid attr(check(H5Acreate2(obj, name, H5T_IEEE_F64LE, space.get(), H5P_DEFAULT, H5P_DEFAULT), name),
                   H5Aclose);
    check(H5Awrite(attr.get(), H5T_NATIVE_DOUBLE, values.data()), std::string("attribute ") + name);
}

Hid fixedText(std::size_t bytes)
{
    Hid t = type(H5Tcopy(H5T_C_S1), "string type");
    check(H5Tset_size(t.get(), bytes), "string type");
    check(H5Tset_strpad(t.get(), H5T_STR_NULLTERM), "string type");
    check(H5Tset_cset(t.get(), H5T_CSET_UTF8), "string type");
    return t;
}

Hid arrayOf(hid_t base, int n)
{
    const hsize_t dims[1] = {static_cast<hsize_t>(n)};
    return type(H5Tarray_create2(base, 1, dims), "array type");
}

void compound(std::size_t memSize, std::span<const format::Field> fields, Hid &mem, Hid &file)
{
    std::vector<std::pair<Hid, Hid>> types; // per field: memory, file
    std::size_t fileSize = 0;
    for (const format::Field &f : fields) {
        Hid m, d;
        if (f.kind == format::Field::Text) {
            m = fixedText(f.extent);
            d = fixedText(f.extent);
        } else if (f.extent > 0) {
            m = arrayOf(format::memoryType(f.kind), int(f.extent));
            d = arrayOf(format::fileType(f.kind), int(f.extent));
        } else {
            m = type(H5Tcopy(format::memoryType(f.kind)), "row type");
            d = type(H5Tcopy(format::fileType(f.kind)), "row type");
        }
        fileSize += H5Tget_size(d.get());
        types.emplace_back(std::move(m), std::move(d));
    }
    mem = type(H5Tcreate(H5T_COMPOUND, memSize), "row type");
    file = type(H5Tcreate(H5T_COMPOUND, fileSize), "row type");
    std::size_t at = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        check(H5Tinsert(mem.get(), fields[i].name, fields[i].offset, types[i].first.get()), fields[i].name);
        check(H5Tinsert(file.get(), fields[i].name, at, types[i].second.get()), fields[i].name);
        at += H5Tget_size(types[i].second.get());
    }
}

Table extendible(hid_t where, const char *name, hid_t fileType, int rank, hsize_t width, const hsize_t *chunk,
                 bool compress)
{
    hsize_t dims[2] = {0, width};
    hsize_t maxDims[2] = {H5S_UNLIMITED, width};
    const Hid space(check(H5Screate_simple(rank, dims, maxDims), name), H5Sclose);
    const Hid dcpl(check(H5Pcreate(H5P_DATASET_CREATE), name), H5Pclose);
    check(H5Pset_chunk(dcpl.get(), rank, chunk), std::string("chunking of ") + name);
    if (compress) {
        check(H5Pset_shuffle(dcpl.get()), std::string("compression of ") + name);
        check(H5Pset_deflate(dcpl.get(), 1), std::string("compression of ") + name);
    }
    Table t;
    t.dset = Hid(check(H5Dcreate2(where, name, fileType, space.get(), H5P_DEFAULT, dcpl.get(), H5P_DEFAULT), name),
                 H5Dclose);
    return t;
}

void writeRows(hid_t dset, hid_t memType, hsize_t at, hsize_t count, hsize_t width, bool grow, const void *data,
               const char *what)
{
    // Rows are converted from their in-memory layout to the file's on the
    // way. HDF5 would clear a 1 MiB conversion buffer, and as much again for
    // the background, on every write; a tick's rows need a few kilobytes.
    static const Hid transfer = [] {
        Hid dxpl(H5Pcreate(H5P_DATASET_XFER), H5Pclose);
        if (dxpl.valid())
            H5Pset_buffer(dxpl.get(), 64 * 1024, nullptr, nullptr);
        return dxpl;
    }();
    const int rank = width > 0 ? 2 : 1;
    if (grow) {
        const hsize_t dims[2] = {at + count, width};
        check(H5Dset_extent(dset, dims), std::string("extending ") + what);
    }
    const Hid fileSpace(check(H5Dget_space(dset), what), H5Sclose);
    const hsize_t start[2] = {at, 0};
    const hsize_t n[2] = {count, width};
    check(H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, n, nullptr), what);
    const Hid memSpace(check(H5Screate_simple(rank, n, nullptr), what), H5Sclose);
    check(H5Dwrite(dset, memType, memSpace.get(), fileSpace.get(), transfer.valid() ? transfer.get() : H5P_DEFAULT,
                   data),
          std::string("writing ") + what);
}

} // namespace adcard::writing
