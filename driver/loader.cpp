#include "driver/loader.h"

#include "driver/adcard.h"
#include "driver/dynamic_library.h"
#include "driver/error_codes.h"

#include <cstdio>
#include <utility>

namespace adcard {

namespace {
// The types come from the contract's header, so the loader and a driver that
// includes it cannot disagree.
using InitialFn = decltype(&::Initial);
using StartIntrFn = decltype(&::StartIntr);
using StopIntrFn = decltype(&::StopIntr);
using QueryBufFn = decltype(&::QueryBuf);
using ADResultFn = decltype(&::ADResult);
using GetLastADErrorFn = decltype(&::GetLastADError);
using Tvo_DIFn = decltype(&::Tvo_DI);
using Tvo_DOFn = decltype(&::Tvo_DO);
} // namespace

DriverLoader::DriverLoader(std::string library) : library_(std::move(library)) {}

DriverLoader::~DriverLoader()
{
    // The library is left loaded: a driver may still run threads of its own
    // until the process ends, and unloading their code under them would crash.
}

std::string DriverLoader::libraryPath() const { return handle_ ? dynlib::path(handle_) : std::string(); }

void DriverLoader::report(DriverFailure failure)
{
    const std::string &line = failure.line;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    failures_ += line;
    failures_ += '\n';
    if (sink_)
        sink_(failure);
}

void *DriverLoader::resolve(Entry e)
{
    const auto i = static_cast<std::size_t>(e);
    if (!openAttempted_) {
        openAttempted_ = true;
        std::string reason;
        handle_ = dynlib::open(library_, reason);
        if (!handle_) {
            report({DriverFailure::Kind::Library, library_, {}, {}, reason,
                    "adcard: cannot load the card driver library " + library_ + ": " + reason});
        }
    }
    if (!handle_) {
        lastCallUnbound_ = true;
        return nullptr;
    }
    if (!lookedUp_[i]) {
        lookedUp_[i] = true;
        const std::string name(entryInfo(e).linuxName);
        std::string reason;
        bound_[i] = dynlib::symbol(handle_, std::string(lookupName(entryInfo(e))), reason);
        if (!bound_[i]) {
            const std::string decorated(entryInfo(e).decoratedName);
            report({DriverFailure::Kind::Entry, library_, name, decorated, reason,
                    "adcard: the card driver library " + library_ + " has no entry " + name + " (" +
                        decorated + "): " + reason});
        }
    }
    lastCallUnbound_ = bound_[i] == nullptr;
    return bound_[i];
}

int32_t DriverLoader::Initial(int32_t a, int32_t b, int32_t c, int32_t d)
{
    auto fn = reinterpret_cast<InitialFn>(resolve(Entry::Initial));
    return fn ? fn(a, b, c, d) : 0;
}

int32_t DriverLoader::StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3,
                                int16_t channelCount, int32_t arg5, int32_t arg6, int16_t arg7)
{
    auto fn = reinterpret_cast<StartIntrFn>(resolve(Entry::StartIntr));
    return fn ? fn(arg1, scansPerBlock, arg3, channelCount, arg5, arg6, arg7) : 0;
}

int32_t DriverLoader::StopIntr()
{
    auto fn = reinterpret_cast<StopIntrFn>(resolve(Entry::StopIntr));
    return fn ? fn() : 0;
}

int16_t DriverLoader::QueryBuf()
{
    auto fn = reinterpret_cast<QueryBufFn>(resolve(Entry::QueryBuf));
    return fn ? fn() : int16_t{0};
}

int32_t DriverLoader::ADResult(int16_t *buffer)
{
    auto fn = reinterpret_cast<ADResultFn>(resolve(Entry::ADResult));
    return fn ? fn(buffer) : 0;
}

int32_t DriverLoader::GetLastADError()
{
    // A failure of the loader itself is newer than anything the driver knows.
    if (lastCallUnbound_)
        return code(PanelError::DriverUnavailable);
    auto fn = reinterpret_cast<GetLastADErrorFn>(resolve(Entry::GetLastADError));
    return fn ? fn() : code(PanelError::DriverUnavailable);
}

int16_t DriverLoader::Tvo_DI(int32_t count, int16_t *states)
{
    auto fn = reinterpret_cast<Tvo_DIFn>(resolve(Entry::Tvo_DI));
    return fn ? fn(count, states) : int16_t{0};
}

int16_t DriverLoader::Tvo_DO(int16_t group, int16_t value)
{
    auto fn = reinterpret_cast<Tvo_DOFn>(resolve(Entry::Tvo_DO));
    return fn ? fn(group, value) : int16_t{0};
}

} // namespace adcard
