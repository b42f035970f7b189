#pragma once
// What the operator may type to go to a time besides a clock time: seconds
// from the run's start ("120 s") or from the middle of the view ("+30 s",
// "−30 s"). Free of widgets, so that every spelling is tried in a table.
#include <optional>
#include <string_view>

namespace adcard {

struct SecondsEntry {
    double seconds = 0; // negative only from the view
    bool fromView = false; // a sign was typed
};

// UTF-8; blanks around and before the unit are allowed; the unit ("s" or
// "秒") may be left out. The minus may be ASCII, "−" or full-width, as may
// the plus. Nothing for anything else (a clock time, say).
std::optional<SecondsEntry> parseSecondsEntry(std::string_view text);

} // namespace adcard
