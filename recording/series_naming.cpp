#include "recording/series_naming.h"

#include "platform/local_time.h"

#include <cctype>
#include <cstdio>
#include <random>

namespace adcard::series {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

// The part of `basePath` before its ".h5" (or the whole of it without one).
std::string stemOf(const std::string &basePath)
{
    const std::string ext = ".h5";
    if (basePath.size() > ext.size() && basePath.compare(basePath.size() - ext.size(), ext.size(), ext) == 0)
        return basePath.substr(0, basePath.size() - ext.size());
    return basePath;
}

std::size_t nameStart(const std::string &path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

bool digits(const std::string &s, std::size_t from, std::size_t n)
{
    if (from + n > s.size())
        return false;
    for (std::size_t i = from; i < from + n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

} // namespace

std::string fileName(const std::string &basePath, int64_t startNs, int n)
{
    // Floor division: a time before 1970 still names its own second.
    int64_t seconds = startNs / kNsPerSecond;
    if (startNs % kNsPerSecond < 0)
        --seconds;
    long offset = 0;
    const std::tm t = localTime(static_cast<std::time_t>(seconds), offset);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::string name = stemOf(basePath) + stamp;
    if (n > 1)
        name += "_" + std::to_string(n);
    return name + ".h5";
}

std::string freeName(const std::string &basePath, int64_t startNs,
                     const std::function<bool(const std::string &path)> &taken)
{
    for (int n = 1;; ++n) {
        std::string name = fileName(basePath, startNs, n);
        if (!taken(name))
            return name;
    }
}

bool nameOfSeries(const std::string &basePath, const std::string &name)
{
    const std::string stem = stemOf(basePath).substr(nameStart(basePath));
    // stem + "_YYYYMMDD-HHMMSS" + optional "_N" + ".h5"
    if (name.size() < stem.size() + 19 || name.compare(0, stem.size(), stem) != 0)
        return false;
    std::size_t at = stem.size();
    if (name[at] != '_' || !digits(name, at + 1, 8) || name[at + 9] != '-' || !digits(name, at + 10, 6))
        return false;
    at += 16;
    if (name[at] == '_') {
        std::size_t n = 0;
        while (digits(name, at + 1 + n, 1))
            ++n;
        if (n == 0)
            return false;
        at += 1 + n;
    }
    return name.compare(at, std::string::npos, ".h5") == 0;
}

std::string folderOf(const std::string &basePath)
{
    const std::size_t at = nameStart(basePath);
    return at == 0 ? std::string(".") : basePath.substr(0, at - 1 == 0 ? 1 : at - 1);
}

std::string newId()
{
    std::random_device device;
    std::mt19937_64 mix((uint64_t(device()) << 32) ^ device());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 32; ++i)
        id += kHex[mix() & 15];
    return id;
}

int64_t scansAt(int64_t ns, int64_t rate)
{
    if (ns <= 0 || rate <= 0)
        return 0;
    // In whole seconds and the rest, so that no product leaves 64 bits.
    const int64_t whole = ns / kNsPerSecond, rest = ns % kNsPerSecond;
    return whole * rate + (rest * rate + kNsPerSecond - 1) / kNsPerSecond;
}

int64_t nsOfScans(int64_t scans, int64_t rate)
{
    if (scans <= 0 || rate <= 0)
        return 0;
    const int64_t whole = scans / rate, rest = scans % rate;
    return whole * kNsPerSecond + rest * kNsPerSecond / rate;
}

std::string splitText(int64_t everyNs, int64_t everyBytes)
{
    if (everyBytes > 0) {
        if (everyBytes % (int64_t{1} << 30) == 0)
            return std::to_string(everyBytes >> 30) + "GiB";
        if (everyBytes % (int64_t{1} << 20) == 0)
            return std::to_string(everyBytes >> 20) + "MiB";
        return std::to_string(everyBytes) + "B";
    }
    const int64_t s = everyNs / kNsPerSecond;
    if (everyNs % kNsPerSecond != 0 || s == 0)
        return std::to_string(everyNs) + "ns";
    if (s % 86400 == 0)
        return std::to_string(s / 86400) + "d";
    if (s % 3600 == 0)
        return std::to_string(s / 3600) + "h";
    if (s % 60 == 0)
        return std::to_string(s / 60) + "m";
    return std::to_string(s) + "s";
}

} // namespace adcard::series
