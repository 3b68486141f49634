// Status vectors turned into exceptions, with the real client library's
// interpreter in this process and chosen vectors from the stand-in client.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "db/ErrorReporting.h"
#include "db/GDSLibrary.h"

namespace nemvo {
namespace {

// Builds a status vector of isc_random messages with the given texts (the
// message of isc_random is its argument alone), first code replaceable.
class StatusVectorTest : public ::testing::Test {
 protected:
  void SetUp() override { AcquireClientLibrary()->EnsureClientLibrary(); }

  void SetMessages(const std::vector<const char*>& texts, ISC_STATUS firstCode = isc_random) {
    ISC_STATUS* v = ThreadStatusVector();
    std::fill(v, v + StatusVectorLength, 0);
    int i = 0;
    for (const char* text : texts) {
      v[i] = isc_arg_gds;
      v[i + 1] = i == 0 ? firstCode : isc_random;
      i += 2;
      v[i++] = isc_arg_string;
      v[i++] = reinterpret_cast<ISC_STATUS>(text);
    }
    v[i] = isc_arg_end;
  }

  void SetVector(std::initializer_list<ISC_STATUS> entries) {
    ISC_STATUS* v = ThreadStatusVector();
    std::fill(v, v + StatusVectorLength, 0);
    std::copy(entries.begin(), entries.end(), v);
  }
};

TEST_F(StatusVectorTest, ComposedTextJoinsMessagesAndDropsOnlyTheFinalPeriod) {
  struct Case {
    std::vector<const char*> messages;
    std::string expected;
  } cases[] = {
      {{"A.", "B."}, "A.\r\nB"},
      {{"X\n", "Y"}, "X\nY"},  // a message ending in LF gets no CR LF after it
      {{"one", "two", "three."}, "one\r\ntwo\r\nthree"},
      {{"ends with two.."}, "ends with two."},
      {{"."}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    SetMessages(c.messages);
    EXPECT_EQ(ComposeStatusText(), c.expected);
  }
}

TEST_F(StatusVectorTest, RaisesTheServerErrorWithSqlCodeAndFirstIscCode) {
  SetMessages({"Something went wrong."});
  try {
    RaiseDatabaseError();
  } catch (const EIBInterBaseRoleError&) {
    FAIL() << "not a permission error";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.Message(), "Something went wrong");
    EXPECT_EQ(e.IscErrorNumber(), isc_random);
    // isc_random is one of the codes Firebird files under SQLCODE -901.
    EXPECT_EQ(e.SqlErrorNumber(), -901);
  }
}

TEST_F(StatusVectorTest, SqlCode551RaisesTheRoleError) {
  // no permission for @1 access to @2 @3: SQLCODE -551
  static const char* kind = "SELECT";
  static const char* object = "TABLE";
  static const char* name = "SECRETS";
  SetVector({isc_arg_gds, isc_no_priv, isc_arg_string, ISC_STATUS(kind), isc_arg_string, ISC_STATUS(object),
             isc_arg_string, ISC_STATUS(name), isc_arg_end});
  try {
    RaiseDatabaseError();
    FAIL();
  } catch (const EIBInterBaseRoleError& e) {
    EXPECT_EQ(e.SqlErrorNumber(), -551);
    EXPECT_EQ(e.IscErrorNumber(), isc_no_priv);
    EXPECT_EQ(e.Message(), "no permission for SELECT access to TABLE SECRETS");
  }
}

TEST_F(StatusVectorTest, EachThreadHasItsOwnVectorStartingAtZero) {
  SetMessages({"main thread."});
  ISC_STATUS* mine = ThreadStatusVector();
  std::thread other([mine] {
    ISC_STATUS* theirs = ThreadStatusVector();
    EXPECT_NE(theirs, mine);
    EXPECT_TRUE(std::all_of(theirs, theirs + StatusVectorLength, [](ISC_STATUS e) { return e == 0; }));
    EXPECT_EQ(ComposeStatusText(), "");
  });
  other.join();
  EXPECT_EQ(ComposeStatusText(), "main thread");
}

TEST_F(StatusVectorTest, StatusHasCodeLooksAtCodesOnly) {
  static const char text[] = "x";
  // A code value sitting in the length slot of a counted string, or as the
  // argument of another tag, is not a code.
  SetVector({isc_arg_gds, isc_random, isc_arg_cstring, isc_lost_db_connection, ISC_STATUS(text), isc_arg_interpreted,
             isc_net_read_err, isc_arg_number, 42, isc_arg_end, isc_net_write_err});
  EXPECT_TRUE(StatusHasCode({isc_random}));
  EXPECT_TRUE(StatusHasCode({7, 42}));
  EXPECT_FALSE(StatusHasCode({isc_lost_db_connection}));
  EXPECT_FALSE(StatusHasCode({isc_net_read_err}));
  EXPECT_FALSE(StatusHasCode({isc_net_write_err}));  // after the end tag
}

TEST_F(StatusVectorTest, StatusHasCodeStopsAtTheEndOfTheVector) {
  ISC_STATUS* v = ThreadStatusVector();
  for (int i = 0; i < StatusVectorLength; ++i) v[i] = isc_arg_warning;  // no end tag at all
  EXPECT_FALSE(StatusHasCode({isc_lost_db_connection}));
}

TEST(ClientErrors, CarryTheKindOrdinalAndItsFormattedText) {
  struct Case {
    ClientErrorKind kind;
    std::string argument;
    int32_t code;
    std::string expected;
  } cases[] = {
      {ClientErrorKind::ceDbNameMissing, "", 17, "Faltando nome do Banco de Dados"},
      {ClientErrorKind::ceDpbItemNotSupported, "journal", 11, "Constante DPB (isc_dpb_journal) n\xE3o \xE9 suportada"},
      {ClientErrorKind::ceDpbItemUnrecognised, " user_name", 114, "Constante DPB ( user_name) \xE9 desconhecida"},
      {ClientErrorKind::ceDbAlreadyOpen, "ignored", 16,
       "N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB est\xE1 atualmente aberto"},
      {ClientErrorKind::ceSharedResourceFailed, "13", 58,
       "N\xE3o \xE9 poss\xEDvel criar recursos compartilhados. (Erro do Windows 13)"},
      {ClientErrorKind::ceSqlDialectInvalid, "", 87, "SQL Dialect Inv\xE1lido"},
  };
  for (const auto& c : cases) {
    try {
      RaiseClientError(c.kind, c.argument);
      FAIL();
    } catch (const EIBClientError& e) {
      EXPECT_EQ(e.SqlErrorNumber(), c.code);
      EXPECT_EQ(e.IscErrorNumber(), 0);
      EXPECT_EQ(e.Message(), c.expected);
    }
  }
}

class FakeConnection : public IIBConnection {
 public:
  TTraceFlags TraceFlags() const override { return {}; }
  std::string TraceName() const override { return "DB1"; }
  void ClearIdleFlag() override { ++idleCleared; }
  void ForceDisconnect() override {
    ++forcedDisconnects;
    // A forced close talks to the library too and overwrites the vector.
    ThreadStatusVector()[1] = 0;
  }
  int idleCleared = 0;
  int forcedDisconnects = 0;
};

TEST_F(StatusVectorTest, CheckConnectionCallWithoutRaiseFlagOnlyMarksTheConnectionBusy) {
  FakeConnection connection;
  SetMessages({"Connection lost."}, isc_lost_db_connection);
  EXPECT_EQ(CheckConnectionCall(connection, isc_lost_db_connection, false), isc_lost_db_connection);
  EXPECT_EQ(connection.idleCleared, 1);
  EXPECT_EQ(connection.forcedDisconnects, 0);
}

TEST_F(StatusVectorTest, CheckConnectionCallClosesALostConnectionBeforeRaising) {
  for (ISC_STATUS code : {isc_lost_db_connection, isc_net_read_err, isc_net_write_err}) {
    FakeConnection connection;
    static const char* first = "first.";
    SetVector({isc_arg_gds, isc_random, isc_arg_string, ISC_STATUS(first), isc_arg_gds, code, isc_arg_end});
    try {
      CheckConnectionCall(connection, code, true);
      FAIL();
    } catch (const EIBInterBaseError& e) {
      EXPECT_STREQ(e.ClassName(), "EIBInterBaseError");
      EXPECT_EQ(e.IscErrorNumber(), isc_random);  // read before the forced close
      EXPECT_EQ(e.Message().rfind("first.\r\n", 0), 0u) << e.Message();
    }
    EXPECT_EQ(connection.forcedDisconnects, 1);
  }
}

TEST_F(StatusVectorTest, CheckConnectionCallRaisesOtherFailuresAndPassesSuccess) {
  FakeConnection connection;
  SetMessages({"Some failure."});
  EXPECT_THROW(CheckConnectionCall(connection, isc_random, true), EIBInterBaseError);
  EXPECT_EQ(connection.forcedDisconnects, 0);
  SetVector({isc_arg_gds, 0, isc_arg_end});
  EXPECT_EQ(CheckConnectionCall(connection, 0, true), 0);
  EXPECT_EQ(connection.idleCleared, 2);
}

// Chosen vectors from the stand-in client's failed attach, in a child process.
TEST(StandinStatusVectors, FailedCallsRaiseTheComposedText) {
  struct Case {
    std::string call;
    testing::TChildProcess::Environment env;
    std::string expected;
  } cases[] = {
      {"isc_attach_database", {{"NEMVO_STANDIN_ATTACH_MESSAGES", "A.|B."}}, "EIBInterBaseError -902 335544472 A.\\r\\nB"},
      {"isc_attach_database", {{"NEMVO_STANDIN_ATTACH_MESSAGES", "line\\n|next."}}, "EIBInterBaseError -902 335544472 line\\nnext"},
      {"isc_attach_database",
       {{"NEMVO_STANDIN_ATTACH_MESSAGES", "no permission."},
        {"NEMVO_STANDIN_SQLCODE", "-551"},
        {"NEMVO_STANDIN_ATTACH_CODE", "335544352"}},
       "EIBInterBaseRoleError -551 335544352 no permission"},
      {"isc_database_info", {{"NEMVO_STANDIN_INFO_ERROR", "lost"}},
       "EIBInterBaseError -902 335544741 Connection lost to database"},
      {"isc_detach_database", {{"NEMVO_STANDIN_DETACH_MESSAGES", "Detach failed."}},
       "EIBInterBaseError -902 335544721 Detach failed"},
  };
  for (auto& c : cases) {
    c.env["LD_LIBRARY_PATH"] = std::string(NEMVO_STANDIN_DIR) + "/modern";
    std::string out = testing::RunChild(NEMVO_BINDING_PROBE, {"call:" + c.call, "raise-database"}, c.env);
    EXPECT_EQ(out.substr(out.find('\n') + 1), c.expected + "\n") << c.env.begin()->second;
  }
}

}  // namespace
}  // namespace nemvo
