#include "acquisition/panel_errors.h"

namespace adcard {

std::string_view panelErrorText(PanelError e)
{
    switch (e) {
    case PanelError::SizingOverflow:
        return "the acquisition settings give buffer sizes beyond the 32-bit range";
    case PanelError::OutOfMemory:
        return "no memory for the block buffer or the history ring";
    }
    return {};
}

} // namespace adcard
