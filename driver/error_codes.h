#pragma once
// The codes the loader reports through GetLastADError when the latest call
// could not reach the driver library (or its host). A card driver uses its own codes; these
// are negative and far below anything the simulated card uses, so that
// the two cannot be confused.
#include <array>
#include <cstdint>
#include <string_view>

namespace adcard {

enum class LoaderError : int32_t {
    DriverUnavailable = -9001, // the library or one of its entries could not be loaded
    DriverHostLost = -9004,    // the driver host could not be started, or crashed, hung or garbled a reply
};

inline constexpr std::array kLoaderErrors{LoaderError::DriverUnavailable, LoaderError::DriverHostLost};

std::string_view loaderErrorText(LoaderError e);

constexpr int32_t code(LoaderError e) { return static_cast<int32_t>(e); }

} // namespace adcard
