#pragma once
// The program's standard streams: always open, so that nothing we open later (the bus socket)
// takes their numbers, and written in full or not at all, with the reason.
#include <expected>
#include <string>
#include <string_view>

namespace ctl {

// Reopens each of descriptors 0 to 2 that was closed at start on /dev/null, and ignores
// SIGPIPE, so that writing to a reader that went away fails with EPIPE instead of ending the
// process without a word. Before anything else opens a descriptor.
std::expected<void, std::string> prepare_standard_streams();

// Writes all of `text` to standard output, or says why it could not ("No space left on device").
// BLOCKS while the reader does not read.
std::expected<void, std::string> write_output(std::string_view text);

// Writes one line to standard error; there is nobody to tell when that fails.
void write_error_line(std::string_view line);

}  // namespace ctl
