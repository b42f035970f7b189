#pragma once
// Codes the panel's own side can report through GetLastADError or the
// "Error=" caption. A card driver uses its own codes; these are negative and
// far below anything the simulated card uses so that they cannot be confused.
#include <array>
#include <cstdint>
#include <string_view>

namespace adcard {

enum class PanelError : int32_t {
    DriverUnavailable = -9001, // the library or one of its entries could not be loaded
    SizingOverflow = -9002,    // the acquisition settings give array sizes beyond 32 bits
    OutOfMemory = -9003,       // the block buffer or the history ring could not be allocated
};

inline constexpr std::array kPanelErrors{
    PanelError::DriverUnavailable,
    PanelError::SizingOverflow,
    PanelError::OutOfMemory,
};

std::string_view panelErrorText(PanelError e);

constexpr int32_t code(PanelError e) { return static_cast<int32_t>(e); }

} // namespace adcard
