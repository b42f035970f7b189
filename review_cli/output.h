#pragma once
// How adcard-review writes numbers and texts: JSON with every digit a double
// holds, and texts escaped whatever bytes a file holds; text output with the
// digits a reading justifies.
#include <string>

namespace adcard::cli {

// The shortest form that reads back the same; "null" for what is not finite.
std::string num(double v);

// `v` with `decimals` digits after the point, for people to read.
std::string fixed(double v, int decimals);

// A JSON string: quoted, with quotes, backslashes and control characters
// escaped, and every byte that is not part of valid UTF-8 replaced by
// U+FFFD, so that any JSON reader takes it.
std::string jsonText(const std::string &s);

// The same text with invalid UTF-8 replaced, for text output.
std::string validUtf8(const std::string &s);

} // namespace adcard::cli
