#include "recording/format.h"

#include <cstring>

namespace adcard {

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

namespace format {

std::string levelName(int level)
{
    return "level" + std::to_string(level);
}

std::string levelPath(int level)
{
    return std::string(kSummaries) + "/" + levelName(level);
}

RunFields runFields(int levels)
{
    RunFields r{};
    std::memcpy(r.fields, kRunFields, sizeof kRunFields);
    for (Field &f : r.fields)
        if (f.kind == Field::I64Array)
            f.extent = std::size_t(levels);
    return r;
}

SummaryLayout::Fields SummaryLayout::fields() const
{
    return {{{"run", kRun, Field::I32},
             {"start", kStart, Field::I64},
             {"count", kCount, Field::I64},
             {"min", kMin, Field::I16Array, channels},
             {"max", max(), Field::I16Array, channels},
             sums ? Field{"sum", sum(), Field::I64Array, channels} : Field{"mean", mean(), Field::F32Array, channels},
             sums ? Field{"sum_sq", sumSq(), Field::I64Array, channels}
                  : Field{"std", sd(), Field::F32Array, channels}}};
}

hid_t memoryType(Field::Kind kind)
{
    switch (kind) {
    case Field::U8:
        return H5T_NATIVE_UINT8;
    case Field::F64:
        return H5T_NATIVE_DOUBLE;
    case Field::I16:
    case Field::I16Array:
        return H5T_NATIVE_INT16;
    case Field::I32:
        return H5T_NATIVE_INT32;
    case Field::I64:
    case Field::I64Array:
        return H5T_NATIVE_INT64;
    case Field::F32:
    case Field::F32Array:
        return H5T_NATIVE_FLOAT;
    case Field::Text:
        break;
    }
    return H5I_INVALID_HID;
}

hid_t fileType(Field::Kind kind)
{
    switch (kind) {
    case Field::U8:
        return H5T_STD_U8LE;
    case Field::F64:
        return H5T_IEEE_F64LE;
    case Field::I16:
    case Field::I16Array:
        return H5T_STD_I16LE;
    case Field::I32:
        return H5T_STD_I32LE;
    case Field::I64:
    case Field::I64Array:
        return H5T_STD_I64LE;
    case Field::F32:
    case Field::F32Array:
        return H5T_IEEE_F32LE;
    case Field::Text:
        break;
    }
    return H5I_INVALID_HID;
}

QuietErrors::QuietErrors()
{
    H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

QuietErrors::~QuietErrors()
{
    H5Eclear2(H5E_DEFAULT);
    H5Eset_auto2(H5E_DEFAULT, func_, data_);
}

bool hasSignature(std::span<const unsigned char> bytes)
{
    static constexpr unsigned char kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

} // namespace format
} // namespace adcard
