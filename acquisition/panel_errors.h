#pragma once
// Codes the panel's own Start can show as "Error=<code>" when it cannot
// size or allocate its arrays. They sit next to the loader's -9001 and far
// below any code of the simulated card.
#include <array>
#include <cstdint>
#include <string_view>

namespace adcard {

enum class PanelError : int32_t {
    SizingOverflow = -9002, // the acquisition settings give array sizes beyond 32 bits
    OutOfMemory = -9003,    // the block buffer or the history ring could not be allocated
};

inline constexpr std::array kPanelErrors{PanelError::SizingOverflow, PanelError::OutOfMemory};

std::string_view panelErrorText(PanelError e);

constexpr int32_t code(PanelError e) { return static_cast<int32_t>(e); }

} // namespace adcard
