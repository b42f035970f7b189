#pragma once
// Where each key of a JSON text stands, so that a rule refused for what a key
// says can name the key's line. nlohmann's reader gives a byte position for
// a syntax error only; this walks the text once with its SAX interface and
// counts what the reader has consumed at each key.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace adcard::rules {

struct JsonLines {
    // JSON pointer ("/rules/0/when/above") -> the line (from 1) of the key,
    // or of an array element's first character.
    std::map<std::string, int, std::less<>> lines;

    // The first fault that keeps the text from being read: a syntax error,
    // or a key that an object repeats. `path` is where the reader stood.
    bool ok = true;
    int errorLine = 0;
    std::string errorPath;
    std::string errorReason;
    bool duplicate = false; // the fault is a repeated key, at errorPath

    // The line of `path`, or of the nearest enclosing element that has one.
    int lineOf(std::string_view path) const;
};

JsonLines scanJsonLines(std::string_view text);

// A pointer's part for one key: "~" and "/" escaped as JSON pointers do.
std::string pointerPart(std::string_view key);

} // namespace adcard::rules
