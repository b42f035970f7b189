#pragma once
// The simulated card's failure codes, as GetLastADError reports them. All are
// positive so that they never collide with the panel's own negative codes.
#include <array>
#include <cstdint>
#include <string_view>

namespace adcard::sim {

enum class SimError : int32_t {
    None = 0,
    NotInitialised = 1,   // StartIntr before a successful Initial
    BadChannelCount = 2,  // channel count outside 1..32
    BadScanCount = 3,     // scans per block below 1
    BadRate = 4,          // scan rate not positive
    BlockTooLarge = 5,    // channels x scans does not fit the caller's 32-bit buffer index
    QueueTooLarge = 6,    // the block queue would exceed the card's memory
    OutOfMemory = 7,      // the block queue could not be allocated
    NullBuffer = 9,       // ADResult or Tvo_DI handed a null address
    NoBlockWaiting = 10,  // ADResult with no filled block
    TransferFailed = 11,  // a block was lost on its way to the caller
    BadDICount = 12,      // Tvo_DI asked for other than two ports
    BadDOGroup = 13,      // Tvo_DO group outside 0..1
    BadDOValue = 14,      // Tvo_DO value outside 0..255
};

inline constexpr std::array kSimErrors{
    SimError::NotInitialised, SimError::BadChannelCount, SimError::BadScanCount,
    SimError::BadRate,        SimError::BlockTooLarge,   SimError::QueueTooLarge,
    SimError::OutOfMemory,    SimError::NullBuffer,
    SimError::NoBlockWaiting, SimError::TransferFailed,  SimError::BadDICount,
    SimError::BadDOGroup,     SimError::BadDOValue,
};

std::string_view simErrorText(SimError e);

constexpr int32_t code(SimError e) { return static_cast<int32_t>(e); }

} // namespace adcard::sim
