#pragma once
// A reload starts the program anew in the same process (exec), so that a new
// program installed meanwhile takes over. The listening socket stays open
// across it and its successor takes it from the environment instead of
// opening one again: the connections waiting in its queue are not lost, and a
// unix socket's file is not made anew under the web server.
#include <optional>

#include "platform/ListeningSocket.h"

namespace nemvo::platform {

// Names the variable that carries the socket: "FD DEVICE INODE PATH".
inline constexpr const char* kHandedOverSocketVariable = "NEMVO_POOL_SOCKET";

// Keeps `socket` open across exec and names it in the environment; false
// (nothing changed) when it cannot.
bool HandOverOnExec(const ListeningSocket& socket);
// Undoes that, when the exec failed.
void TakeBackFromExec(const ListeningSocket& socket);

// The socket the program's predecessor in this process handed over, when it
// did and the descriptor is still a listening socket; close-on-exec again.
// The variable is removed either way, so that nothing started later sees it.
std::optional<ListeningSocket> TakeHandedOverSocket();

}  // namespace nemvo::platform
