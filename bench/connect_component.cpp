// A login through the connection component, as the login action does it:
// set DatabaseName, Params and the connect time-out, connect, read
// Connected, disconnect. Measured against connect_floor.c, which does the
// same with bare client calls.
//
//   connect_component DATABASE USER PASSWORD    exit 0 connected, 1 refused
// In USER, "%p" stands for the process id (distinct names for refused logins).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"

int main(int argc, char** argv) {
  using namespace nemvo;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DATABASE USER PASSWORD\n", argv[0]);
    return 2;
  }
  std::string user = argv[2];
  if (auto p = user.find("%p"); p != std::string::npos) user.replace(p, 2, std::to_string(::getpid()));
  TIBDatabase db;
  db.SetLoginPrompt(false);
  try {
    db.SetConnected(false);
    db.SetDatabaseName(argv[1]);
    db.Params().Clear();
    db.Params().Add("user_name=" + user);
    db.Params().Add(std::string("password=") + argv[3]);
    db.SetConnectTimeout(15);  // the login action's, with the default LoginTimeout
    db.SetConnected(true);
    bool connected = db.Connected();
    std::printf("dialect %d\n", connected ? db.DBSQLDialect() : 0);
    db.SetConnected(false);
    return 0;
  } catch (const Exception& e) {
    db.SetConnected(false);
    std::printf("%s\n", e.Message().c_str());
    return 1;
  }
}
