#pragma once

#include <string>

namespace quillon::link {

// $XDG_RUNTIME_DIR/quillon/engine.sock, else /tmp/quillon-UID/engine.sock.
std::string defaultSocketPath();

// Binds and listens on a non-blocking Unix stream socket at `path`. Missing
// folders are created with mode 0700 and the socket gets mode 0600. A socket
// file nobody answers on is replaced; a live one, or a file that is not a
// socket, is left alone and the call fails. Returns the descriptor, or -1
// with the reason in *error.
int listenOnUnixSocket(const std::string& path, std::string* error);

// Connects a blocking Unix stream socket to `path`; -1 with the reason in *error.
int connectToUnixSocket(const std::string& path, std::string* error);

}  // namespace quillon::link
