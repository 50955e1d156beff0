// Text that goes from a server or a record into a host command line or a
// shell command: the checks and the quoting.  Below the cycle's files (the
// comparison, the checks, the record commands all use it); it includes
// nothing of the client.

#ifndef VARNEK_CLIENT_TEXT_H
#define VARNEK_CLIENT_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace client_internal {

// A text from a server that may go into a host command line: 1 to `room`
// letters, digits and "_-." only (no blank, quote, "=", ";" or control
// character can change the shape of a command).
[[nodiscard]] bool IsPlainWord(std::string_view text, std::size_t room);

// Whether a file name of a TEXT record may be handed to the file-transfer
// client: not beginning with "|" or "!", which it would run as a command.
[[nodiscard]] bool IsSafeTransferName(std::string_view name);

// A word for /bin/sh: quoted in single quotes, a quote inside written '\''.
std::string ShellQuote(std::string_view text);

}  // namespace client_internal

#endif  // VARNEK_CLIENT_TEXT_H
