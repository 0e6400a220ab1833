// The development infod's server: one libevent loop serving the protocol
// on a UNIX stream socket.
#pragma once

#include <string>

namespace devinfod {

// Serves on socket_path until SIGINT or SIGTERM, then removes the socket
// file. log_path names the frame log ("-" for standard output, empty for
// none). Returns the process exit status: 0 after a signal, 1 when the
// server could not start.
int serve(const std::string& socket_path, const std::string& log_path);

}  // namespace devinfod
