#pragma once
// Every entry of the card's driver library. The decorated name is the one
// the card's contract uses (a Windows stdcall export); an ELF library cannot
// carry the '@' decoration, so on Linux each entry is exported, and looked
// up, under its plain C name.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace adcard {

enum class Entry : std::size_t {
    Initial,
    StartIntr,
    StopIntr,
    QueryBuf,
    ADResult,
    GetLastADError,
    Tvo_DI,
    Tvo_DO,
    // Declared by the contract, never called by the panel.
    StartSnapshot,
    RegisterNotify,
    ADResultRecent,
    GetSnapshot,
    ConfigInfo,
    ChannelFrq,
    IOCtl,
    Tvo_ADResult,
    Tvo_Init,
};

struct EntryInfo {
    Entry entry;
    std::string_view decoratedName;
    std::string_view linuxName;
    bool calledByPanel;
};

inline constexpr std::array<EntryInfo, 17> kEntries{{
    {Entry::Initial, "_Initial@16", "Initial", true},
    {Entry::StartIntr, "_StartIntr@28", "StartIntr", true},
    {Entry::StopIntr, "_StopIntr@0", "StopIntr", true},
    {Entry::QueryBuf, "_QueryBuf@0", "QueryBuf", true},
    {Entry::ADResult, "_ADResult@4", "ADResult", true},
    {Entry::GetLastADError, "_GetLastADError@0", "GetLastADError", true},
    {Entry::Tvo_DI, "_Tvo_DI@8", "Tvo_DI", true},
    {Entry::Tvo_DO, "_Tvo_DO@8", "Tvo_DO", true},
    {Entry::StartSnapshot, "_StartSnapshot@32", "StartSnapshot", false},
    {Entry::RegisterNotify, "_RegisterNotify@20", "RegisterNotify", false},
    {Entry::ADResultRecent, "_ADResultRecent@4", "ADResultRecent", false},
    {Entry::GetSnapshot, "_GetSnapshot@12", "GetSnapshot", false},
    {Entry::ConfigInfo, "_ConfigInfo@32", "ConfigInfo", false},
    {Entry::ChannelFrq, "_ChannelFrq@8", "ChannelFrq", false},
    {Entry::IOCtl, "_IOCtl@16", "IOCtl", false},
    {Entry::Tvo_ADResult, "_Tvo_ADResult@8", "Tvo_ADResult", false},
    {Entry::Tvo_Init, "_Tvo_Init@12", "Tvo_Init", false},
}};

constexpr const EntryInfo &entryInfo(Entry e) { return kEntries[static_cast<std::size_t>(e)]; }

#if defined(_WIN32)
// The card's own DLL, searched for as Windows searches for any DLL (the
// program's folder first), its entries under their decorated names.
inline constexpr const char *kLibraryName = "adcard.dll";
constexpr std::string_view lookupName(const EntryInfo &e) { return e.decoratedName; }
#else
// The library file, opened by its bare name so that the dynamic loader's
// ordinary search (LD_LIBRARY_PATH, ld.so.cache, the default directories)
// decides which driver is used.
inline constexpr const char *kLibraryName = "libadcard.so";
constexpr std::string_view lookupName(const EntryInfo &e) { return e.linuxName; }
#endif

} // namespace adcard
