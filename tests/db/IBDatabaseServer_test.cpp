// The connection against the real server through the real client library:
// what a login sees (accepted, rejected, refused before sending), the
// dialects, the rules while attached, and that nothing stays attached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "ConnectionTesting.h"
#include "db/IBBase.h"
#include "db/IBDatabase.h"
#include "db/IBTimer.h"
#include "db/IBTransaction.h"
#include "support/FirebirdServer.h"

using namespace nemvo;
using namespace nemvo::testing;

namespace {

class ServerConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_FIREBIRD();
  }
  // Every test leaves both databases without attachments; the components it
  // made are gone by now.
  void TearDown() override {
    for (const std::string& path : {FirebirdServer::DatabasePath(), FirebirdServer::Dialect1DatabasePath()})
      EXPECT_EQ(0, Attachments(path)) << path;
  }

  static int Attachments(const std::string& path) {
    int n = FirebirdServer::Attachments(path);
    // A detach is complete when the call returns; the count is allowed a
    // moment to catch up before it is believed.
    for (int i = 0; i < 20 && n > 0; ++i) {
      ::usleep(50 * 1000);
      n = FirebirdServer::Attachments(path);
    }
    return n;
  }

  // A component set up as the login action sets up its DB1.
  static std::unique_ptr<TIBDatabase> Login(const std::string& database, const std::string& user,
                                            const std::string& password) {
    auto db = std::make_unique<TIBDatabase>();
    db->SetLoginPrompt(false);
    db->SetConnected(false);
    db->SetDatabaseName(database);
    db->Params().Clear();
    db->Params().Add("user_name=" + user);
    db->Params().Add("password=" + password);
    return db;
  }
  static std::unique_ptr<TIBDatabase> TestLogin(const std::string& database = FirebirdServer::Database()) {
    return Login(database, FirebirdServer::User(), FirebirdServer::Password());
  }
};

std::string ExpectedBlock(const std::string& user, const std::string& password) {
  std::string b{char(1), char(28), char(user.size())};
  b += user;
  b += char(29);
  b += char(password.size());
  b += password;
  return b;
}

}  // namespace

TEST_F(ServerConnection, RightCredentialsConnect) {
  auto db = TestLogin();
  EventLog events(*db);
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  EXPECT_NE(0u, db->Handle());
  EXPECT_EQ((Lines{"BeforeConnect", "AfterConnect"}), events.Take());
  EXPECT_EQ(3, db->DBSQLDialect());
  EXPECT_EQ(3, db->SQLDialect());
  EXPECT_EQ(ExpectedBlock(FirebirdServer::User(), FirebirdServer::Password()), db->ParameterBlock());
  EXPECT_EQ(1, FirebirdServer::Attachments(FirebirdServer::DatabasePath()));

  // Already connected: nothing happens.
  db->SetConnected(true);
  EXPECT_TRUE(events.Log.empty());
  EXPECT_EQ(1, FirebirdServer::Attachments(FirebirdServer::DatabasePath()));

  db->SetConnected(false);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ((Lines{"BeforeDisconnect", "AfterDisconnect"}), events.Take());
  EXPECT_EQ(1, db->DBSQLDialect());
  EXPECT_EQ(0, Attachments(FirebirdServer::DatabasePath()));

  // Again, with the same block.
  std::string block = db->ParameterBlock();
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(block, db->ParameterBlock());
  db->SetConnected(false);
}

TEST_F(ServerConnection, Dialect1DatabaseLowersSQLDialect) {
  auto db = TestLogin(FirebirdServer::Dialect1Database());
  EventLog events(*db);
  db->SetConnected(true);
  EXPECT_EQ(1, db->DBSQLDialect());
  EXPECT_EQ(1, db->SQLDialect());
  EXPECT_EQ((Lines{"BeforeConnect", "DialectDowngrade", "AfterConnect"}), events.Take());
  ExpectClientError([&] { db->SetSQLDialect(3); }, 87, DialectInvalidText);
  db->SetConnected(false);
  EXPECT_EQ((Lines{"BeforeDisconnect", "AfterDisconnect"}), events.Take());

  // The lowered dialect stays lowered on a dialect-3 database.
  db->SetDatabaseName(FirebirdServer::Database());
  db->SetConnected(true);
  EXPECT_EQ(3, db->DBSQLDialect());
  EXPECT_EQ(1, db->SQLDialect());
  EXPECT_EQ((Lines{"BeforeConnect", "AfterConnect"}), events.Take());
  db->SetSQLDialect(3);
  ExpectClientError([&] { db->SetSQLDialect(4); }, 87, DialectInvalidText);
  db->SetConnected(false);
}

TEST_F(ServerConnection, RejectedLogins) {
  // Few failures, each under another name: the server slows down repeated
  // failures of one name.
  const std::string tag = std::to_string(::getpid());
  struct Case {
    const char* what;
    std::string user, password;
  };
  const Case cases[] = {
      {"wrong password", FirebirdServer::User(), "not-" + FirebirdServer::Password()},
      {"unknown user", "nemvo_nobody_" + tag, "x"},
      {"unknown user of 31 bytes", ("nemvo_long_" + tag + std::string(31, 'x')).substr(0, 31), "x"},
      {"empty user name and password", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto db = Login(FirebirdServer::Database(), c.user, c.password);
    EventLog events(*db);
    try {
      db->SetConnected(true);
      ADD_FAILURE() << "connected";
    } catch (const EIBInterBaseError& e) {
      EXPECT_STREQ("EIBInterBaseError", e.ClassName());
      EXPECT_EQ(LoginRejected, e.Message());
      EXPECT_EQ(isc_login, e.IscErrorNumber());
    }
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(0u, db->Handle());
    db->SetConnected(false);
    EXPECT_EQ(Lines{"BeforeConnect"}, events.Log);
  }
}

TEST_F(ServerConnection, OverlongValuesNeverReachTheServer) {
  const std::string longName(32, 'n');
  for (const auto& [user, password] : {std::pair{longName, std::string("x")},
                                       std::pair{std::string(300, 'n'), std::string("x")},
                                       std::pair{FirebirdServer::User(), std::string(256, 'p')}}) {
    auto db = Login(FirebirdServer::Database(), user, password);
    try {
      db->SetConnected(true);
      ADD_FAILURE() << "connected";
    } catch (const EIBClientError& e) {
      EXPECT_EQ(121, e.SqlErrorNumber());
      EXPECT_NE(std::string::npos, e.Message().find(user.size() > 31 ? "(user_name)" : "(password)"));
    }
    EXPECT_FALSE(db->Connected());
  }
  // The server is still there, for this and every other attachment.
  auto db = TestLogin();
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  db->SetConnected(false);
}

TEST_F(ServerConnection, MissingDatabaseFile) {
  const std::string path = FirebirdServer::DatabasePath() + ".missing";
  auto db = TestLogin(FirebirdServer::Url(path));
  try {
    db->SetConnected(true);
    ADD_FAILURE() << "connected";
  } catch (const EIBInterBaseError& e) {
    EXPECT_NE(std::string::npos, e.Message().find(path)) << e.Message();
    EXPECT_NE(LoginRejected, e.Message());
  }
  EXPECT_FALSE(db->Connected());
}

TEST_F(ServerConnection, NothingChangesWhileAttached) {
  auto db = TestLogin();
  db->SetConnected(true);
  const std::string name = db->DatabaseName();
  const Lines params = db->Params().Lines();

  db->SetDatabaseName(name);  // the same name: nothing to refuse
  ExpectClientError([&] { db->SetDatabaseName(name + "x"); }, 16, DbAlreadyOpenText);
  ExpectClientError([&] { db->Params().Clear(); }, 16, DbAlreadyOpenText);
  ExpectClientError([&] { db->Params().Add("lc_ctype=UTF8"); }, 16, DbAlreadyOpenText);
  ExpectClientError([&] { db->Params().Delete(0); }, 16, DbAlreadyOpenText);
  ExpectClientError([&] { db->SetParams(TStringList{"user_name=x"}); }, 16, DbAlreadyOpenText);
  ExpectClientError([&] { db->Params().SetText("user_name=y"); }, 16, DbAlreadyOpenText);
  EXPECT_EQ(name, db->DatabaseName());
  EXPECT_EQ(params, db->Params().Lines());
  EXPECT_TRUE(db->Connected());

  db->SetConnected(false);
  // Detached again, the list takes changes (it was not left mid-update).
  db->Params().Add("lc_ctype=UTF8");
  EXPECT_EQ(3, db->Params().Count());
  db->SetConnected(true);
  EXPECT_TRUE(db->Connected());
  db->SetConnected(false);
}

TEST_F(ServerConnection, IdleTimerClosesAnIdleConnection) {
  auto db = TestLogin();
  EventLog events(*db);
  db->SetConnected(true);
  events.Take();
  db->SetIdleTimer(100);
  auto now = TIBTimer::Clock::now();
  // First tick marks it idle, the second closes it.
  TIBTimer::DispatchTimers(now + std::chrono::milliseconds(150));
  EXPECT_TRUE(db->Connected());
  TIBTimer::DispatchTimers(now + std::chrono::milliseconds(300));
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ((Lines{"BeforeDisconnect", "AfterDisconnect", "IdleTimer"}), events.Take());
}

TEST_F(ServerConnection, ActiveTransactionEndsWithTheAttachment) {
  auto db = TestLogin();
  TIBTransaction tr;
  tr.SetDefaultAction(TARollback);
  db->SetDefaultTransaction(&tr);
  db->SetConnected(true);
  tr.StartTransaction();
  EXPECT_TRUE(tr.InTransaction());
  db->SetConnected(false);
  EXPECT_FALSE(tr.InTransaction());
  EXPECT_FALSE(db->Connected());
}

TEST_F(ServerConnection, FreeingDetaches) {
  {
    auto db = TestLogin();
    db->SetConnected(true);
  }
  {
    TComponent module;
    auto* db = CreateOwned<TIBDatabase>(&module);
    db->SetLoginPrompt(false);
    db->SetDatabaseName(FirebirdServer::Dialect1Database());
    db->Params().Add("user_name=" + FirebirdServer::User());
    db->Params().Add("password=" + FirebirdServer::Password());
    db->SetConnected(true);
    ASSERT_TRUE(db->Connected());
  }
  // TearDown counts the attachments.
}

TEST_F(ServerConnection, AttachmentEndedByTheServer) {
  auto db = TestLogin();
  EventLog events(*db);
  db->SetConnected(true);
  events.Take();
  // The administrator ends every attachment of the test user; the component
  // still holds its handle and must be able to let it go.
  ASSERT_TRUE(FirebirdServer::EndTestUserAttachments());
  EXPECT_NO_THROW(db->SetConnected(false));
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ((Lines{"BeforeDisconnect", "AfterDisconnect"}), events.Take());
}

TEST_F(ServerConnection, StatementObjectionStillEndsTheAttachment) {
  auto db = TestLogin();
  EventLog events(*db);
  TIBBase link;
  link.SetDatabase(db.get());
  int told = 0;
  link.OnBeforeDatabaseDisconnect = [&] {
    if (++told == 1) throw Exception("statement refuses");
  };
  db->SetConnected(true);
  events.Take();
  // The normal close fails in the statement; the forced close that follows
  // ignores it, and the first failure is what the caller sees.
  try {
    db->SetConnected(false);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ("statement refuses", e.Message());
  }
  EXPECT_EQ(2, told);
  EXPECT_FALSE(db->Connected());
  EXPECT_EQ((Lines{"BeforeDisconnect", "BeforeDisconnect", "AfterDisconnect"}), events.Take());
}

TEST_F(ServerConnection, CheckedCallsKeepTheIdleTimerAway) {
  auto db = TestLogin();
  TIBTransaction tr;
  db->SetDefaultTransaction(&tr);
  db->SetConnected(true);
  db->SetIdleTimer(100);
  auto t = TIBTimer::Clock::now();
  TIBTimer::DispatchTimers(t += std::chrono::milliseconds(150));  // marked idle
  tr.StartTransaction();                                          // a checked call: busy again
  TIBTimer::DispatchTimers(t += std::chrono::milliseconds(150));  // marked idle
  EXPECT_TRUE(db->Connected());
  TIBTimer::DispatchTimers(t += std::chrono::milliseconds(150));  // idle for a whole interval: closed
  EXPECT_FALSE(db->Connected());
  EXPECT_FALSE(tr.InTransaction());
}
