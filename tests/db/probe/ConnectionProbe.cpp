// Connects and disconnects once through TIBDatabase, in a process of its own
// so that a test can choose the client library through LD_LIBRARY_PATH.
// Arguments: database name, user name, password. Prints one line per step:
//   connect ok | connect <class> <code> <isc code> <message>
//   disconnect ok | disconnect <class> ...
// then "connected 0|1", "dialect <SQLDialect> <DBSQLDialect>" and the events
// fired by the step, "events A,B,...". CR and LF are written as \r and \n.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"

namespace {

using namespace nemvo;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::vector<std::string> events;

void Step(const char* name, TIBDatabase& db, bool connect) {
  events.clear();
  try {
    db.SetConnected(connect);
    std::printf("%s ok\n", name);
  } catch (const EIBError& e) {
    std::printf("%s %s %d %d %s\n", name, e.ClassName(), e.SqlErrorNumber(), e.IscErrorNumber(),
                Escaped(e.Message()).c_str());
  } catch (const Exception& e) {
    std::printf("%s %s 0 0 %s\n", name, e.ClassName(), Escaped(e.Message()).c_str());
  }
  std::string list;
  for (const auto& e : events) list += (list.empty() ? "" : ",") + e;
  std::printf("connected %d\ndialect %d %d\nevents %s\n", db.Connected() ? 1 : 0, db.SQLDialect(),
              db.DBSQLDialect(), list.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DATABASE USER PASSWORD\n", argv[0]);
    return 2;
  }
  try {
    TIBDatabase db;
    db.SetLoginPrompt(false);
    db.SetDatabaseName(argv[1]);
    db.Params().Add(std::string("user_name=") + argv[2]);
    db.Params().Add(std::string("password=") + argv[3]);
    // NEMVO_PROBE_CONNECT_TIMEOUT: the connection's ConnectTimeout, in seconds.
    if (const char* timeout = std::getenv("NEMVO_PROBE_CONNECT_TIMEOUT")) db.SetConnectTimeout(std::atoi(timeout));
    auto record = [](const char* name) { return [name](TComponent&) { events.push_back(name); }; };
    db.BeforeConnect = record("BeforeConnect");
    db.AfterConnect = record("AfterConnect");
    db.BeforeDisconnect = record("BeforeDisconnect");
    db.AfterDisconnect = record("AfterDisconnect");
    Step("connect", db, true);
    Step("disconnect", db, false);
  } catch (const Exception& e) {
    std::printf("create %s %s\n", e.ClassName(), Escaped(e.Message()).c_str());
  }
  std::fflush(stdout);
  return 0;
}
