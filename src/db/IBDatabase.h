#pragma once
// The connection to a Firebird/InterBase database: attach with a parameter
// block built from Params, learn the database's SQL dialect, detach.
#include <ibase.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "db/CustomConnection.h"
#include "db/GDSLibrary.h"
#include "db/IBConnection.h"
#include "db/TraceFlags.h"
#include "platform/CallDeadline.h"
#include "platform/SocketIdentity.h"

namespace nemvo {

class TIBBase;
class TIBSchema;
class TIBTimer;
class TIBTransaction;
class TIBDatabase;

// Asked before a connect when LoginPrompt is true. It gets a copy of Params
// in which it may change "user_name" and "password"; returning false refuses
// the login and the connect raises ceOperationCancelled.
using TIBDatabaseLoginEvent = std::function<bool(TIBDatabase& database, TStringList& loginParams)>;

class TIBDatabase : public TCustomConnection, public IIBConnection {
  NEMVO_COMPONENT(TIBDatabase, TCustomConnection)

 public:
  // Loads the client library (once per process); raises EIBClientError
  // ceLibraryMissing when it cannot be found.
  explicit TIBDatabase(TComponent* owner = nullptr);
  ~TIBDatabase() override;

  bool ReadConnected() override { return fHandle != 0; }

  // The connection string handed to the client library unchanged, normally
  // "host:/path/to/file" (a name without a host opens the file in-process).
  const std::string& DatabaseName() const { return fDatabaseName; }
  void SetDatabaseName(const std::string& value);
  // Lines name=value sent in the parameter block; changing them while
  // attached raises ceDbAlreadyOpen.
  TStringList& Params() { return fParams; }
  const TStringList& Params() const { return fParams; }
  void SetParams(const TStringList& value) { fParams.Assign(value); }

  // Whole seconds a connect may take, from the call until the server has
  // answered the attach; 0 (the default) leaves it to the client library's
  // own settings. Sent as the parameter block's connect time-out item after
  // the items of Params, and a TCP connect still waiting then is cut off
  // (the client library puts no bound on that step). Every later call on
  // the attachment is bounded too: see BoundCall.
  int ConnectTimeout() const { return fConnectTimeout; }
  void SetConnectTimeout(int seconds) { fConnectTimeout = seconds > 0 ? seconds : 0; }
  // The bound of one client-library call on this attachment, to be held
  // while the call runs: ConnectTimeout and a second. A server that stops
  // answering after the attach (or a network path that goes silent) is
  // waited for by the library without end; when the bound passes, the
  // attachment's connection to the server is shut down and the call fails
  // as for a lost connection. Nothing is armed without a ConnectTimeout.
  [[nodiscard]] platform::TCallDeadline BoundCall() const;

  int SQLDialect() const { return fSQLDialect; }
  void SetSQLDialect(int value);
  // The database's dialect while attached; 1 after a normal disconnect.
  int DBSQLDialect() const { return fDBSQLDialect; }

  TTraceFlags TraceFlags() const override { return fTraceFlags; }
  void SetTraceFlags(TTraceFlags value) { fTraceFlags = value; }
  std::string TraceName() const override { return Name(); }

  // Milliseconds without client-library calls after which the connection is
  // closed; 0 means no timer. See TIBTimer for when the timer ticks.
  int IdleTimer() const { return fIdleTimer; }
  void SetIdleTimer(int value);

  TIBTransaction* DefaultTransaction() const { return fDefaultTransaction; }
  void SetDefaultTransaction(TIBTransaction* value);
  TIBTransaction* InternalTransaction() const { return fInternalTransaction.get(); }

  bool AllowStreamedConnected() const { return fAllowStreamedConnected; }
  void SetAllowStreamedConnected(bool value) { fAllowStreamedConnected = value; }

  TIBDatabaseLoginEvent OnLogin;
  TNotifyEvent OnIdleTimer;
  TNotifyEvent OnDialectDowngradeWarning;

  void RequireInactive() const;
  void RequireDatabaseName() const;
  void RequireActive();

  // Detaches. With `force`, failures of the statements, the transactions and
  // the detach itself are ignored and the component always ends detached.
  void CloseAttachment(bool force);
  // Closes whatever happens, with the disconnect events.
  void ForceDisconnect() override;
  void ClearIdleFlag() override { fIdleFlag = false; }
  // The dialect the attached database reports.
  int QueryDatabaseDialect();

  isc_db_handle Handle() const { return fHandle; }
  isc_db_handle* HandleAddress() { return &fHandle; }
  IGDSLibrary& GDSLibrary() const { return *fGDSLibrary; }
  TIBSchema& Schema() const { return *fSchema; }
  // The parameter block sent by the last connect (empty before the first).
  const std::string& ParameterBlock() const { return fParameterBlock; }

  // Transactions working on this database (not owned).
  int AddTransaction(TIBTransaction* transaction);
  void RemoveTransaction(TIBTransaction* transaction);
  int TransactionCount() const;
  TIBTransaction* Transactions(int index) const;
  // Statement links bound to this database (not owned).
  int AddSQLObject(TIBBase* link);
  void RemoveSQLObject(TIBBase* link);
  int SQLObjectCount() const;

 protected:
  void EstablishConnection() override;
  void ReleaseConnection() override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  bool Login();
  void ParamsChanging();
  void ReconcileDialect();
  void IdleTick();
  template <class F>
  void ForEachSQLObject(F f);

  std::shared_ptr<IGDSLibrary> fGDSLibrary;
  bool fClientLibraryReady = false;

  isc_db_handle fHandle = 0;
  std::string fDatabaseName;
  TStringList fParams;
  bool fParamsDirty = true;
  std::string fParameterBlock;
  std::string fHiddenPassword;
  int fSQLDialect = 3;
  int fDBSQLDialect = 3;
  TTraceFlags fTraceFlags;
  int fIdleTimer = 0;
  int fConnectTimeout = 0;
  // The attachment's socket, when it could be told (see EstablishConnection).
  platform::TSocketIdentity fServerConnection;
  std::unique_ptr<TIBTimer> fTimer;
  bool fIdleFlag = false;
  TIBTransaction* fDefaultTransaction = nullptr;  // not owned; cleared when it is freed
  std::vector<TIBTransaction*> fTransactions;     // not owned; null where one left
  std::vector<TIBBase*> fSQLObjects;              // not owned; null where one left
  std::unique_ptr<TIBTransaction> fInternalTransaction;
  std::unique_ptr<TIBSchema> fSchema;
  bool fAllowStreamedConnected = true;
};

}  // namespace nemvo
