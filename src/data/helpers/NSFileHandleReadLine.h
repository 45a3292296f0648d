#pragma once

#include <optional>
#include <string>

// Line reading on an open file descriptor, moving its offset. A seek or read that fails
// throws foundation::NamedException "NSFileHandleOperationException".
namespace NSFileHandle {

// The text between the last "\n" before the current offset and that offset, with that
// "\n" at its front, leaving the offset at the "\n"; without one, the text from the start
// of the file, leaving the offset at 0. Successive calls walk a file from its end one line
// at a time; at offset 0 the answer is "". nullopt when the bytes are not valid UTF-8.
std::optional<std::string> readLineBackwards(int fd);

// The bytes from the current offset up to and including the next "\n" (or to the end of
// the file), leaving the offset behind them; "" at the end. nullopt for invalid UTF-8.
std::optional<std::string> readLine(int fd);

}  // namespace NSFileHandle
