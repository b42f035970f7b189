#pragma once
// The host's end of the pipes to the panel: its standard input and output.
// Standard output is taken over for the frames alone, and what the driver
// prints there goes to standard error instead, so that a chatty driver
// cannot garble a reply.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace adcard::host {

// False if standard output cannot be taken over.
bool openChannel();
// False at the end of the input or on an error.
bool readExact(uint8_t *bytes, std::size_t n);
bool writeAll(const uint8_t *bytes, std::size_t n);
// The arguments in UTF-8: Windows hands main() the ANSI code page's, which
// cannot hold every folder's name.
std::vector<std::string> arguments(int argc, char **argv);

} // namespace adcard::host
