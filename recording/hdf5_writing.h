#pragma once
// The writer's HDF5 steps, each throwing RecordingError with HDF5's own
// innermost cause ("No space left on device") when it fails: attributes,
// row types from the schema's fields, extendible tables and row writes.
#include "recording/recording_file.h"

#include <span>
#include <string>
#include <vector>

namespace adcard::writing {

// The innermost cause on HDF5's error stack, which it clears.
std::string hdf5Cause();
[[noreturn]] void fail(const std::string &what);

// An identifier or a status; negative means failure.
template <typename T>
T check(T result, const std::string &what)
{
    if (result < 0)
        fail(what);
    return result;
}

Hid type(hid_t id, const char *what);

template <typename T>
void writeAttribute(hid_t obj, const char *name, hid_t fileType, hid_t memType, const T &value)
{
    const Hid space(check(H5Screate(H5S_SCALAR), "dataspace"), H5Sclose);
    const Hid attr(check(H5Acreate2(obj, name, fileType, space.get(), H5P_DEFAULT, H5P_DEFAULT), name), H5Aclose);
    check(H5Awrite(attr.get(), memType, &value), std::string("attribute ") + name);
}

void writeInt(hid_t obj, const char *name, int32_t v);
void writeText(hid_t obj, const char *name, const std::string &value);
// One text per element, each cut to what a reader accepts of a channel's.
void writeTexts(hid_t obj, const char *name, const std::vector<std::string> &values);
void writeDoubles(hid_t obj, const char *name, const std::vector<double> &values);

Hid fixedText(std::size_t bytes);
Hid arrayOf(hid_t base, int n);
// The in-memory compound of a row `memSize` bytes long (members where the
// schema says) and the file's (little-endian, packed, in the same order).
void compound(std::size_t memSize, std::span<const format::Field> fields, Hid &mem, Hid &file);
Table extendible(hid_t where, const char *name, hid_t fileType, int rank, hsize_t width, const hsize_t *chunk,
                 bool compress = false);
// Writes `count` rows of `memType` at row `at` of `dset`, growing it when
// they go past its end.
void writeRows(hid_t dset, hid_t memType, hsize_t at, hsize_t count, hsize_t width, bool grow, const void *data,
               const char *what);

} // namespace adcard::writing
