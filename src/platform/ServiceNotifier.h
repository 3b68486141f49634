#pragma once
// Tells the service manager how the service stands, through systemd's notify
// protocol: one datagram of "NAME=value" lines to the socket that
// $NOTIFY_SOCKET names ("@..." an abstract one). Where the variable is not
// set (not under a service manager that asked for it) nothing is sent.
#include <string>

namespace nemvo::platform {

class TServiceNotifier {
 public:
  // Reads $NOTIFY_SOCKET; leaves it set, so that the program started anew by
  // a reload (the same process) finds it too.
  TServiceNotifier();
  ~TServiceNotifier();
  TServiceNotifier(const TServiceNotifier&) = delete;
  TServiceNotifier& operator=(const TServiceNotifier&) = delete;

  bool Active() const { return !fAddress.empty(); }
  // Sends `state` (for example "READY=1\nSTATUS=..."); false when it could
  // not be sent (or nobody listens). Never blocks.
  bool Send(const std::string& state);

 private:
  std::string fAddress;  // the socket's path, with a leading NUL when abstract
  int fFd = -1;
};

}  // namespace nemvo::platform
