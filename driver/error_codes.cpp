#include "driver/error_codes.h"

namespace adcard {

std::string_view panelErrorText(PanelError e)
{
    switch (e) {
    case PanelError::DriverUnavailable:
        return "the card driver library or one of its entries could not be loaded";
    case PanelError::SizingOverflow:
        return "the acquisition settings give buffer sizes beyond the 32-bit range";
    case PanelError::OutOfMemory:
        return "no memory for the block buffer or the history ring";
    case PanelError::DriverHostLost:
        return "the driver host could not be started, or stopped answering";
    }
    return {};
}

} // namespace adcard
