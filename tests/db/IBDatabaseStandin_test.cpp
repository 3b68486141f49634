// The connection's failure paths that the real client cannot be made to take
// on demand, through a stand-in client library in a process of its own: a
// lost connection during the dialect query, other failures of that query, a
// failed detach, the role error. The stand-in's call log shows what reached
// the library and that every attach was followed by a detach.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

using namespace nemvo::testing;

namespace {

struct Outcome {
  std::string output;  // the probe's lines
  std::string calls;   // the stand-in's log, one call per line
};

Outcome RunProbe(TChildProcess::Environment env, const std::string& user = "ana", const std::string& password = "a=b") {
  TempDirectory dir;
  const std::string log = dir.PathOf("calls.log");
  env["LD_LIBRARY_PATH"] = std::string(NEMVO_STANDIN_DIR) + "/modern";
  env["NEMVO_STANDIN_LOG"] = log;
  Outcome o;
  o.output = RunChild(NEMVO_CONNECTION_PROBE, {"server:/db.fdb", user, password}, env);
  std::ifstream in(log);
  std::stringstream s;
  s << in.rdbuf();
  o.calls = s.str();
  return o;
}

// "attach <name> <block in hex>" for the probe's database and credentials.
std::string AttachLine(const std::string& user, const std::string& password) {
  auto hex = [](const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
    return out;
  };
  std::string block{char(1), char(28), char(user.size())};
  block += user;
  block += char(29);
  block += char(password.size());
  block += password;
  return "attach server:/db.fdb " + hex(block) + "\n";
}

}  // namespace

TEST(StandinConnection, NormalConnectSendsTheBlockAndDetaches) {
  Outcome o = RunProbe({});
  EXPECT_EQ(
      "connect ok\nconnected 1\ndialect 3 3\nevents BeforeConnect,AfterConnect\n"
      "disconnect ok\nconnected 0\ndialect 3 1\nevents BeforeDisconnect,AfterDisconnect\n",
      o.output);
  EXPECT_EQ(AttachLine("ana", "a=b") + "info\ndetach\n", o.calls);
}

// A connect time-out goes into the block after the items of Params, which
// stay as they are: isc_dpb_connect_timeout (57), four bytes, the seconds
// least significant byte first. Without one the block is the Params' alone.
TEST(StandinConnection, ConnectTimeoutFollowsTheParamsItems) {
  const std::pair<std::string, std::string> cases[] = {
      {"15", "39040f000000"}, {"300", "39042c010000"}, {"0", ""}, {"-4", ""},
  };
  for (const auto& [seconds, item] : cases) {
    Outcome o = RunProbe({{"NEMVO_PROBE_CONNECT_TIMEOUT", seconds}});
    std::string line = AttachLine("ana", "a=b");
    line.insert(line.size() - 1, item);
    EXPECT_EQ(line + "info\ndetach\n", o.calls) << seconds;
  }
}

TEST(StandinConnection, ConnectionLostDuringTheDialectQuery) {
  Outcome o = RunProbe({{"NEMVO_STANDIN_INFO_ERROR", "lost"}});
  std::istringstream lines(o.output);
  std::string connect;
  std::getline(lines, connect);
  EXPECT_EQ(0u, connect.find("connect EIBInterBaseError ")) << connect;
  EXPECT_NE(std::string::npos, connect.find(" 335544741 ")) << connect;
  // Closed by force before the error left the connect: the disconnect events
  // of the forced close, and nothing left to disconnect afterwards.
  EXPECT_NE(std::string::npos,
            o.output.find("connected 0\ndialect 3 3\nevents BeforeConnect,BeforeDisconnect,AfterDisconnect\n"))
      << o.output;
  EXPECT_NE(std::string::npos, o.output.find("disconnect ok\nconnected 0\ndialect 3 3\nevents \n")) << o.output;
  EXPECT_EQ(AttachLine("ana", "a=b") + "info\ndetach\n", o.calls);
}

TEST(StandinConnection, OtherDialectQueryFailuresLeaveItAttached) {
  // Only a lost connection closes it; a broken network read is raised as it
  // is, and the caller's disconnect then detaches.
  for (const char* what : {"net_read", "335544344:I/O error."}) {
    SCOPED_TRACE(what);
    Outcome o = RunProbe({{"NEMVO_STANDIN_INFO_ERROR", what}});
    EXPECT_EQ(0u, o.output.find("connect EIBInterBaseError ")) << o.output;
    EXPECT_NE(std::string::npos, o.output.find("connected 1\ndialect 3 3\nevents BeforeConnect\n")) << o.output;
    EXPECT_NE(std::string::npos,
              o.output.find("disconnect ok\nconnected 0\ndialect 3 1\nevents BeforeDisconnect,AfterDisconnect\n"))
        << o.output;
    EXPECT_EQ(AttachLine("ana", "a=b") + "info\ndetach\n", o.calls);
  }
}

TEST(StandinConnection, FailedDetachClosesByForceAndRaises) {
  Outcome o = RunProbe({{"NEMVO_STANDIN_DETACH_MESSAGES", "Error writing data to the connection."}});
  EXPECT_NE(std::string::npos,
            o.output.find("disconnect EIBInterBaseError -902 335544721 Error writing data to the connection\n"
                          "connected 0\ndialect 3 3\n"
                          "events BeforeDisconnect,BeforeDisconnect,AfterDisconnect\n"))
      << o.output;
  // The normal detach, then the forced one.
  EXPECT_EQ(AttachLine("ana", "a=b") + "info\ndetach\ndetach\n", o.calls);
}

TEST(StandinConnection, RefusedAttachAndTheRoleError) {
  struct Case {
    const char* sqlcode;
    const char* messages;
    std::string line;
  };
  const Case cases[] = {
      {"-902", "Your user name and password are not defined. Ask your database administrator to set up a Firebird login.",
       "connect EIBInterBaseError -902 335544472 Your user name and password are not defined. Ask your database "
       "administrator to set up a Firebird login\n"},
      {"-551", "no permission for CONNECT access to DATABASE x.", "connect EIBInterBaseRoleError -551 335544472 "
                                                                  "no permission for CONNECT access to DATABASE x\n"},
      {"-902", "A.|B.", "connect EIBInterBaseError -902 335544472 A.\\r\\nB\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages);
    Outcome o = RunProbe({{"NEMVO_STANDIN_ATTACH_MESSAGES", c.messages}, {"NEMVO_STANDIN_SQLCODE", c.sqlcode}});
    EXPECT_EQ(c.line + "connected 0\ndialect 3 3\nevents BeforeConnect\n"
                       "disconnect ok\nconnected 0\ndialect 3 3\nevents \n",
              o.output);
    // Refused: no dialect query, nothing to detach.
    EXPECT_EQ(AttachLine("ana", "a=b"), o.calls);
  }
}
