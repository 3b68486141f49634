#pragma once
// Small aids shared by the connection tests: a record of the events a
// connection fires, and checks for the errors it raises.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBErrors.h"

namespace nemvo::testing {

// Hooks every event of `db` and writes its name to Log as it fires.
struct EventLog {
  std::vector<std::string> Log;
  explicit EventLog(TIBDatabase& db) {
    auto record = [this](const char* name) { return [this, name](TComponent&) { Log.push_back(name); }; };
    db.BeforeConnect = record("BeforeConnect");
    db.AfterConnect = record("AfterConnect");
    db.BeforeDisconnect = record("BeforeDisconnect");
    db.AfterDisconnect = record("AfterDisconnect");
    db.OnDialectDowngradeWarning = record("DialectDowngrade");
    db.OnIdleTimer = record("IdleTimer");
  }
  std::vector<std::string> Take() { return std::exchange(Log, {}); }
};

using Lines = std::vector<std::string>;

// Runs `f` and checks that it raises EIBClientError with `code` and `message`.
inline void ExpectClientError(const std::function<void()>& f, int code, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no EIBClientError (" << code << ")";
  } catch (const EIBClientError& e) {
    EXPECT_EQ(code, e.SqlErrorNumber());
    EXPECT_EQ(message, e.Message());
  }
}

inline const std::string DbAlreadyOpenText = "N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB est\xE1 atualmente aberto";
inline const std::string DbNotOpenText = "N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB n\xE3o est\xE1 aberto";
inline const std::string DialectInvalidText = "SQL Dialect Inv\xE1lido";
inline const std::string LoginRejected =
    "Your user name and password are not defined. Ask your database administrator to set up a Firebird login";

}  // namespace nemvo::testing
