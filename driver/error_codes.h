#pragma once
// The panel's own codes, shown as "Error=<code>" where a Start failed for a
// reason of the panel's rather than the card's: the loader's and the driver
// host's, answered through GetLastADError when the latest call could not
// reach the driver, and the acquisition's, when a Start cannot size or
// allocate its arrays. A card driver uses its own codes; these are negative
// and far below anything the simulated card uses, so that the two cannot be
// confused.
#include <array>
#include <cstdint>
#include <string_view>

namespace adcard {

enum class PanelError : int32_t {
    DriverUnavailable = -9001, // the library or one of its entries could not be loaded
    SizingOverflow = -9002,    // the acquisition settings give array sizes beyond 32 bits
    OutOfMemory = -9003,       // the block buffer or the history ring could not be allocated
    DriverHostLost = -9004,    // the driver host could not be started, or crashed, hung or garbled a reply
};

inline constexpr std::array kPanelErrors{PanelError::DriverUnavailable, PanelError::SizingOverflow,
                                         PanelError::OutOfMemory, PanelError::DriverHostLost};

std::string_view panelErrorText(PanelError e);

constexpr int32_t code(PanelError e) { return static_cast<int32_t>(e); }

} // namespace adcard
