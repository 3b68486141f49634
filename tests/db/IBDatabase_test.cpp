// The connection component's rules that hold without a database server: its
// defaults, the setters' checks, the connect's own refusals, and what the
// client library says when no server listens.
#include "db/IBDatabase.h"

#include <gtest/gtest.h>

#include "ConnectionTesting.h"
#include "db/IBSchema.h"
#include "db/IBTimer.h"
#include "db/IBTransaction.h"

using namespace nemvo;
using namespace nemvo::testing;

TEST(IBDatabase, Defaults) {
  TIBDatabase db;
  EXPECT_FALSE(db.Connected());
  EXPECT_TRUE(db.LoginPrompt());
  EXPECT_EQ("", db.DatabaseName());
  EXPECT_TRUE(db.Params().Empty());
  EXPECT_EQ(3, db.SQLDialect());
  EXPECT_EQ(3, db.DBSQLDialect());
  EXPECT_EQ(0, db.IdleTimer());
  EXPECT_TRUE(db.TraceFlags().Empty());
  EXPECT_TRUE(db.AllowStreamedConnected());
  EXPECT_EQ(nullptr, db.DefaultTransaction());
  // Its own transaction works on it; its schema statements are linked to it.
  ASSERT_NE(nullptr, db.InternalTransaction());
  EXPECT_EQ(&db, db.InternalTransaction()->DefaultDatabase());
  EXPECT_EQ(2, db.SQLObjectCount());
}

TEST(IBDatabase, DisconnectWhenNotAttachedDoesNothing) {
  TIBDatabase db;
  EventLog events(db);
  db.SetConnected(false);
  db.CloseConnection();
  EXPECT_TRUE(events.Log.empty());
  EXPECT_EQ(3, db.DBSQLDialect());
}

TEST(IBDatabase, ConnectWithoutDatabaseName) {
  TIBDatabase db;
  db.SetLoginPrompt(false);
  EventLog events(db);
  ExpectClientError([&] { db.SetConnected(true); }, 17, "Faltando nome do Banco de Dados");
  EXPECT_FALSE(db.Connected());
  // The failed step leaves the rest undone.
  EXPECT_EQ(Lines{"BeforeConnect"}, events.Take());
  // Held as the base class, it behaves the same.
  TCustomConnection& connection = db;
  ExpectClientError([&] { connection.WriteConnected(true); }, 17, "Faltando nome do Banco de Dados");
  EXPECT_FALSE(connection.ReadConnected());
}

TEST(IBDatabase, BadParameterLinesAttachNothing) {
  TIBDatabase db;
  db.SetLoginPrompt(false);
  db.SetDatabaseName("127.0.0.1/1:/nowhere.fdb");
  db.Params().Add("user_name=" + std::string(32, 'x'));
  ExpectClientError([&] { db.SetConnected(true); }, 121, "Valor longo demais para a constante DPB (user_name)");
  EXPECT_FALSE(db.Connected());
  // Still refused the second time: the refused line is not replaced by an
  // earlier (or no) parameter block.
  ExpectClientError([&] { db.SetConnected(true); }, 121, "Valor longo demais para a constante DPB (user_name)");
  EXPECT_EQ("", db.ParameterBlock());
  db.Params().Clear();
  db.Params().Add("bogus=1");
  ExpectClientError([&] { db.SetConnected(true); }, 114, "Constante DPB (bogus) \xE9 desconhecida");
}

TEST(IBDatabase, SQLDialectSetter) {
  TIBDatabase db;
  ExpectClientError([&] { db.SetSQLDialect(0); }, 87, DialectInvalidText);
  ExpectClientError([&] { db.SetSQLDialect(-3); }, 87, DialectInvalidText);
  EXPECT_EQ(3, db.SQLDialect());
  // Not attached: nothing to compare with.
  db.SetSQLDialect(1);
  EXPECT_EQ(1, db.SQLDialect());
  db.SetSQLDialect(7);
  EXPECT_EQ(7, db.SQLDialect());
}

TEST(IBDatabase, IdleTimerSetter) {
  TIBDatabase db;
  ExpectClientError([&] { db.SetIdleTimer(-1); }, 20, "Valor de Timeout n\xE3o pode ser negativo");
  EXPECT_EQ(0, db.IdleTimer());
  db.SetIdleTimer(50);
  EXPECT_EQ(50, db.IdleTimer());
  EventLog events(db);
  // Not attached: its ticks do nothing.
  auto later = TIBTimer::Clock::now() + std::chrono::seconds(1);
  EXPECT_EQ(1, TIBTimer::DispatchTimers(later));
  EXPECT_EQ(1, TIBTimer::DispatchTimers(later + std::chrono::seconds(1)));
  EXPECT_TRUE(events.Log.empty());
  db.SetIdleTimer(0);
  EXPECT_EQ(0, TIBTimer::DispatchTimers(later + std::chrono::seconds(5)));
}

TEST(IBDatabase, DatabaseNameAndParamsChangeFreelyWhileDetached) {
  TIBDatabase db;
  db.SetDatabaseName("a:/x.fdb");
  db.SetDatabaseName("A:/x.fdb");
  EXPECT_EQ("A:/x.fdb", db.DatabaseName());
  TStringList p{"user_name=a", "password=b"};
  db.SetParams(p);
  EXPECT_EQ(p.Lines(), db.Params().Lines());
}

TEST(IBDatabase, LoginRefusedByHandler) {
  TIBDatabase db;
  db.SetDatabaseName("127.0.0.1/1:/nowhere.fdb");
  db.Params().Add("user_name=a");
  int asked = 0;
  db.OnLogin = [&](TIBDatabase& sender, TStringList& loginParams) {
    ++asked;
    EXPECT_EQ(&db, &sender);
    EXPECT_EQ("a", loginParams.Values("user_name"));
    return false;
  };
  ExpectClientError([&] { db.SetConnected(true); }, 10, "Opera\xE7\xE3o cancelada em requisi\xE7\xE3o do usu\xE1rio");
  EXPECT_EQ(1, asked);
  // Without the prompt the handler is not asked.
  db.SetLoginPrompt(false);
  EXPECT_THROW(db.SetConnected(true), EIBInterBaseError);
  EXPECT_EQ(1, asked);
}

TEST(IBDatabase, LoginHandlerPasswordStaysOutOfParams) {
  TIBDatabase db;
  db.SetDatabaseName("127.0.0.1/1:/nowhere.fdb");
  db.Params().Add("user_name=a");
  db.Params().Add("password=old");
  db.OnLogin = [&](TIBDatabase&, TStringList& loginParams) {
    loginParams.SetValues("user_name", "b");
    loginParams.SetValues("password", "secret");
    return true;
  };
  EXPECT_THROW(db.SetConnected(true), EIBInterBaseError);
  EXPECT_EQ(Lines{"user_name=b"}, db.Params().Lines());
  EXPECT_EQ(std::string("\x01\x1C\x01" "b\x1D\x06" "secret"), db.ParameterBlock());
}

TEST(IBDatabase, ServerNotRunning) {
  TIBDatabase db;
  db.SetLoginPrompt(false);
  // Nothing listens on port 1 of the loopback address.
  db.SetDatabaseName("127.0.0.1/1:/var/lib/firebird/nowhere.fdb");
  db.Params().Add("user_name=a");
  db.Params().Add("password=b");
  EventLog events(db);
  try {
    db.SetConnected(true);
    ADD_FAILURE() << "connected";
  } catch (const EIBInterBaseError& e) {
    EXPECT_NE(std::string::npos, e.Message().find("127.0.0.1")) << e.Message();
    EXPECT_NE('.', e.Message().back());
    EXPECT_NE(0, e.IscErrorNumber());
  }
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(0u, db.Handle());
  EXPECT_EQ(Lines{"BeforeConnect"}, events.Take());
  // Refused once, it reads as detached and disconnecting does nothing.
  db.SetConnected(false);
  EXPECT_TRUE(events.Log.empty());
}

TEST(IBDatabase, StoredDefinitionLoading) {
  // Connected stored true is only remembered while loading; the end of
  // loading carries it out (here: the missing name refuses it).
  TIBDatabase db;
  db.BeginLoading();
  db.SetLoginPrompt(false);
  db.SetConnected(true);
  EXPECT_FALSE(db.Connected());
  ExpectClientError([&] { db.EndLoading(); }, 17, "Faltando nome do Banco de Dados");

  // With AllowStreamedConnected false nothing is attempted.
  TIBDatabase quiet;
  quiet.SetAllowStreamedConnected(false);
  quiet.BeginLoading();
  quiet.SetConnected(true);
  EventLog events(quiet);
  quiet.EndLoading();
  EXPECT_TRUE(events.Log.empty());
  EXPECT_FALSE(quiet.Connected());
}

TEST(IBDatabase, OwnerFreesIt) {
  TComponent module;
  auto* db = CreateOwned<TIBDatabase>(&module);
  db->SetName("DB1");
  EXPECT_EQ(db, module.FindComponent("DB1"));
  // Its class is known by name, as a stored definition names it.
  EXPECT_STREQ("TIBDatabase", db->ClassName());
  EXPECT_TRUE(db->InheritsFrom(TCustomConnection::StaticClass()));
  std::unique_ptr<TComponent> made(TIBDatabase::StaticClass().Create(nullptr));
  EXPECT_NE(nullptr, dynamic_cast<TIBDatabase*>(made.get()));
}

TEST(IBDatabase, DefaultTransactionFreedFirst) {
  TIBDatabase db;
  auto tr = std::make_unique<TIBTransaction>();
  db.SetDefaultTransaction(tr.get());
  EXPECT_EQ(2, db.TransactionCount());
  EXPECT_EQ(&db, tr->Databases(0));
  tr.reset();
  EXPECT_EQ(nullptr, db.DefaultTransaction());
  EXPECT_EQ(1, db.TransactionCount());
}

TEST(IBDatabase, DatabaseFreedFirst) {
  auto tr = std::make_unique<TIBTransaction>();
  {
    TIBDatabase db;
    tr->AddDatabase(&db);
    EXPECT_EQ(1, tr->DatabaseCount());
  }
  EXPECT_EQ(0, tr->DatabaseCount());
}
