// The library's writes to standard output: the setup's status lines and the
// text of a failed encryption.
//
// The library is a guest in its host's process: its writes to descriptor 1
// raise no signal in the host, and leave the host's signal mask and the
// descriptor's flags as they were.
#pragma once

#include <string_view>

namespace hibe_c {

// Hands text to file descriptor 1 in one write (continuing only after a partial
// write), without any buffer of the library's own. On a non-blocking descriptor
// that is full it waits until the descriptor can take more, as a blocking write
// would. A write that fails (no standard output, a pipe without a reader) is
// dropped, and raises no SIGPIPE in the host (see stdout_writer.cpp).
void WriteStdout(std::string_view text);

}  // namespace hibe_c
