#include "simcard/config.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace adcard::sim {

namespace {

// Whole-string parse: no sign prefix '+', no blanks, no trailing text.
template <typename T>
std::optional<T> parseNumber(std::string_view s)
{
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

class Reader {
public:
    Reader(const EnvLookup &lookup, std::vector<std::string> &warnings)
        : lookup_(lookup), warnings_(warnings)
    {
    }

    // Calls `accept` with the value of `name` when set and non-empty; a false
    // answer turns into one warning naming the variable, the value and `rule`.
    template <typename Accept>
    void read(const char *name, const char *rule, Accept accept)
    {
        const char *raw = lookup_(name);
        if (!raw || !*raw)
            return;
        if (!accept(std::string_view(raw)))
            warnings_.push_back(std::string("adcard-sim: ignoring ") + name + "=\"" + raw +
                                "\" (" + rule + "); using the default");
    }

private:
    const EnvLookup &lookup_;
    std::vector<std::string> &warnings_;
};

template <typename T>
auto intInRange(T &out, T lo, T hi)
{
    return [&out, lo, hi](std::string_view s) {
        const auto v = parseNumber<T>(s);
        if (!v || *v < lo || *v > hi)
            return false;
        out = *v;
        return true;
    };
}

// 0 is what GetLastADError says when nothing failed, so it cannot stand
// for a failure.
auto failureCode(std::optional<int32_t> &out)
{
    return [&out](std::string_view s) {
        const auto v = parseNumber<int32_t>(s);
        if (!v || *v == 0)
            return false;
        out = v;
        return true;
    };
}

} // namespace

SimConfig parseSimConfig(const EnvLookup &lookup, std::vector<std::string> &warnings)
{
    SimConfig c;
    Reader r(lookup, warnings);
    r.read("ADCARD_SIM_FAIL_INITIAL", "a non-zero 32-bit integer", failureCode(c.failInitial));
    r.read("ADCARD_SIM_FAIL_STARTINTR", "a non-zero 32-bit integer", failureCode(c.failStartIntr));
    r.read("ADCARD_SIM_FAIL_ADRESULT_EVERY", "an integer of at least 1",
           intInRange<uint32_t>(c.failADResultEvery, 1, UINT32_MAX));
    r.read("ADCARD_SIM_CRASH_ADRESULT", "an integer of at least 1",
           intInRange<uint32_t>(c.crashAtADResult, 1, UINT32_MAX));
    r.read("ADCARD_SIM_SPEED", "a number above 0, at most 1000000", [&c](std::string_view s) {
        const auto v = parseNumber<double>(s);
        if (!v || !(*v > 0.0 && *v <= kMaxSpeed))
            return false;
        c.speed = *v;
        return true;
    });
    r.read("ADCARD_SIM_SEED", "an unsigned 64-bit integer",
           intInRange<uint64_t>(c.seed, 0, UINT64_MAX));
    r.read("ADCARD_SIM_NOISE", "an integer from 0 to 2047",
           intInRange<int32_t>(c.noise, 0, kMaxNoise));
    r.read("ADCARD_SIM_QUEUE", "an integer from 1 to 32767",
           intInRange<int32_t>(c.queueBlocks, 1, kMaxQueueBlocks));
    r.read("ADCARD_SIM_SEQUENCE", "0 or 1", [&c](std::string_view s) {
        if (s != "0" && s != "1")
            return false;
        c.sequence = s == "1";
        return true;
    });
    r.read("ADCARD_SIM_STATS", "a file path", [&c](std::string_view s) {
        c.statsPath = s;
        return true;
    });
    return c;
}

SimConfig readSimConfig()
{
    std::vector<std::string> warnings;
    SimConfig c = parseSimConfig([](const char *name) { return std::getenv(name); }, warnings);
    for (const auto &w : warnings)
        std::fprintf(stderr, "%s\n", w.c_str());
    if (!warnings.empty())
        std::fflush(stderr);
    return c;
}

} // namespace adcard::sim
