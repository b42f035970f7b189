#include "driver/error_codes.h"

namespace adcard {

std::string_view loaderErrorText(LoaderError e)
{
    switch (e) {
    case LoaderError::DriverUnavailable:
        return "the card driver library or one of its entries could not be loaded";
    case LoaderError::DriverHostLost:
        return "the driver host could not be started, or stopped answering";
    }
    return {};
}

} // namespace adcard
