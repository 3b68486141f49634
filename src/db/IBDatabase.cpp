#include "db/IBDatabase.h"

#include <algorithm>
#include <chrono>

#include "base/RequestProgress.h"
#include "db/DatabaseParameterBlock.h"
#include "db/ErrorReporting.h"
#include "db/IBBase.h"
#include "db/IBDatabaseInfo.h"
#include "db/IBSQLMonitorHook.h"
#include "db/IBSchema.h"
#include "db/IBTimer.h"
#include "db/SlotList.h"
#include "db/IBTransaction.h"
#include "platform/CallDeadline.h"
#include "platform/SocketSnapshot.h"

namespace nemvo {

TIBDatabase::TIBDatabase(TComponent* owner) : TCustomConnection(owner) {
  fGDSLibrary = AcquireClientLibrary();
  fClientLibraryReady = false;
  fGDSLibrary->EnsureClientLibrary();
  fClientLibraryReady = true;

  fParams.OnChanging = [this](TStringList&) { ParamsChanging(); };
  fParams.OnChange = [this](TStringList&) { fParamsDirty = true; };
  fInternalTransaction = std::make_unique<TIBTransaction>();
  fInternalTransaction->SetDefaultDatabase(this);
  fSchema = std::make_unique<TSchema>(*this);
}

TIBDatabase::~TIBDatabase() {
  // When the library could not be loaded the constructor never finished and
  // this does not run; the members let go of the library reference.
  SetIdleTimer(0);
  if (ReadConnected()) {
    try {
      WriteConnected(false);
    } catch (...) {
      try {
        ForceDisconnect();
      } catch (...) {
        // Nothing more can be done about an attachment that will not close.
      }
    }
  }
  for (TIBBase* link : std::vector<TIBBase*>(fSQLObjects))
    if (link) link->DoDatabaseFree();
  fSQLObjects.clear();
  for (TIBTransaction* tr : std::vector<TIBTransaction*>(fTransactions))
    if (tr) tr->RemoveDatabase(this);
  fTransactions.clear();
  if (fDefaultTransaction) RemoveFreeNotification(fDefaultTransaction);
  fDefaultTransaction = nullptr;
  fSchema.reset();
  fInternalTransaction.reset();
  fParams.OnChanging = nullptr;
  fParams.OnChange = nullptr;
}

// --- Properties -------------------------------------------------------------

void TIBDatabase::SetDatabaseName(const std::string& value) {
  if (value == fDatabaseName) return;
  RequireInactive();
  fDatabaseName = value;
  fSchema->FreeNodes();
}

void TIBDatabase::ParamsChanging() { RequireInactive(); }

void TIBDatabase::SetSQLDialect(int value) {
  if (value < 1 || (ReadConnected() && value > fDBSQLDialect)) RaiseClientError(ClientErrorKind::ceSqlDialectInvalid);
  fSQLDialect = value;
}

void TIBDatabase::SetIdleTimer(int value) {
  if (value < 0) RaiseClientError(ClientErrorKind::ceTimeoutNegative);
  fIdleTimer = value;
  if (value == 0) {
    fTimer.reset();
    return;
  }
  if (!fTimer) {
    fTimer = std::make_unique<TIBTimer>();
    fTimer->OnTimer = [this] { IdleTick(); };
  }
  fTimer->SetInterval(value);
  fTimer->SetEnabled(true);
}

void TIBDatabase::SetDefaultTransaction(TIBTransaction* value) {
  if (value == fDefaultTransaction) return;
  if (fDefaultTransaction) RemoveFreeNotification(fDefaultTransaction);
  fDefaultTransaction = value;
  if (value) {
    AddTransaction(value);
    FreeNotification(value);
  }
}

void TIBDatabase::Notification(TComponent* component, TOperation operation) {
  TCustomConnection::Notification(component, operation);
  if (operation == opRemove && component && component == fDefaultTransaction) {
    RemoveTransaction(fDefaultTransaction);
    fDefaultTransaction = nullptr;
  }
}

// --- Checks -----------------------------------------------------------------

void TIBDatabase::RequireInactive() const {
  if (fHandle != 0) RaiseClientError(ClientErrorKind::ceDbAlreadyOpen);
}

void TIBDatabase::RequireDatabaseName() const {
  if (fDatabaseName.empty()) RaiseClientError(ClientErrorKind::ceDbNameMissing);
}

void TIBDatabase::RequireActive() {
  if (StreamedConnected() && !ReadConnected()) Loaded();
  if (fHandle == 0) RaiseClientError(ClientErrorKind::ceDbNotOpen);
}

// --- Connect ----------------------------------------------------------------

bool TIBDatabase::Login() {
  // No dialog exists on this platform: without a handler the parameters go
  // as they stand.
  if (!OnLogin) return true;
  TStringList loginParams;
  loginParams.Assign(fParams);
  if (!OnLogin(*this, loginParams)) return false;
  // The password stays out of Params; the user name goes back into it.
  std::string user = loginParams.Values("user_name");
  if (fParams.Values("user_name") != user) fParams.SetValues("user_name", user);
  int pw = fParams.IndexOfName("password");
  if (pw >= 0) fParams.Delete(pw);
  fHiddenPassword = loginParams.Values("password");
  fParamsDirty = true;
  return true;
}

void TIBDatabase::EstablishConnection() {
  RequireInactive();
  RequireDatabaseName();
  if (!LoginPrompt() && !fHiddenPassword.empty()) {
    fHiddenPassword.clear();
    fParamsDirty = true;
  }
  if (LoginPrompt() && !Login()) RaiseClientError(ClientErrorKind::ceOperationCancelled);
  if (fParamsDirty) {
    // The flag stays set until a block has been built: after a refused
    // parameter the next connect must not send the previous block.
    if (LoginPrompt() && !fHiddenPassword.empty()) {
      TStringList withPassword;
      withPassword.Assign(fParams);
      withPassword.Add("password=" + fHiddenPassword);
      fParameterBlock = BuildParameterBlock(withPassword);
    } else {
      fParameterBlock = BuildParameterBlock(fParams);
    }
    fParamsDirty = false;
  }

  ISC_STATUS result;
  platform::TSocketIdentity connection;
  if (fConnectTimeout > 0) {
    // The client library's connect time-out bounds the wait for a server
    // that accepts the connection and never answers. A TCP connect to an
    // address that drops packets is not bounded by it: the deadline, one
    // second later, so that the library's own answer comes first where it
    // can, cuts that connect off.
    std::string block = fParameterBlock.empty() ? std::string(1, char(isc_dpb_version1)) : fParameterBlock;
    if (block.size() + 6 <= MaxDpbLength) AppendConnectTimeout(block, fConnectTimeout);
    // After the attach the library waits for each reply without end and
    // restarts the wait after a signal: only shutting its socket down ends
    // that wait (BoundCall). The library keeps the socket to itself; it is
    // the one TCP connection that appears during the attach, since one login
    // runs at a time in a process and nothing else opens one meanwhile. When
    // that cannot be told (none, as for a database opened in-process, or
    // several), later calls get the interruption only, which the library
    // shrugs off.
    platform::TSocketSnapshot before;
    {
      platform::TCallDeadline deadline(std::chrono::seconds(fConnectTimeout) + std::chrono::seconds(1));
      result = fGDSLibrary->isc_attach_database(ThreadStatusVector(), short(fDatabaseName.size()),
                                                fDatabaseName.c_str(), &fHandle, short(block.size()), block.data());
    }
    if (result == 0) connection = before.NewConnection();
  } else {
    result = fGDSLibrary->isc_attach_database(
        ThreadStatusVector(), short(fDatabaseName.size()), fDatabaseName.c_str(), &fHandle,
        short(fParameterBlock.size()), fParameterBlock.empty() ? nullptr : fParameterBlock.data());
  }
  CheckConnectionCall(*this, result, false);
  if (result > 0) {
    fHandle = 0;
    RaiseDatabaseError();
  }
  fServerConnection = connection;

  ReportRequestPhase(TRequestPhase::WaitingForDatabase);
  fDBSQLDialect = QueryDatabaseDialect();
  ReconcileDialect();
  if (auto hook = AcquireTraceHook()) hook->TraceConnect(*this);
  // No event notifiers exist in this program; there is nothing to register.
}

platform::TCallDeadline TIBDatabase::BoundCall() const {
  if (fConnectTimeout <= 0) return platform::TCallDeadline::None();
  return platform::TCallDeadline(std::chrono::seconds(fConnectTimeout) + std::chrono::seconds(1), fServerConnection);
}

int TIBDatabase::QueryDatabaseDialect() {
  // Owned by this component for the length of the question only.
  std::unique_ptr<TIBDatabaseInfo> info(CreateOwned<TIBDatabaseInfo>(this));
  info->SetDatabase(this);
  return info->DBSQLDialect();
}

void TIBDatabase::ReconcileDialect() {
  if (fDBSQLDialect < fSQLDialect) {
    fSQLDialect = fDBSQLDialect;
    FireEvent(OnDialectDowngradeWarning);
  }
}

// --- Disconnect -------------------------------------------------------------

void TIBDatabase::ReleaseConnection() {
  if (ReadConnected()) {
    try {
      CloseAttachment(false);
    } catch (...) {
      ForceDisconnect();
      throw;
    }
  }
  fDBSQLDialect = 1;
}

template <class F>
void TIBDatabase::ForEachSQLObject(F f) {
  for (TIBBase* link : std::vector<TIBBase*>(fSQLObjects))
    if (link && std::find(fSQLObjects.begin(), fSQLObjects.end(), link) != fSQLObjects.end()) f(*link);
}

void TIBDatabase::CloseAttachment(bool force) {
  RequireActive();
  isc_db_handle saved = fHandle;
  if (force) fHandle = 0;

  ForEachSQLObject([&](TIBBase& link) {
    try {
      link.DoBeforeDatabaseDisconnect();
    } catch (...) {
      if (!force) throw;
    }
  });
  for (TIBTransaction* tr : std::vector<TIBTransaction*>(fTransactions)) {
    if (!tr) continue;
    try {
      tr->BeforeDatabaseDisconnect(this, force);
    } catch (...) {
      if (!force) throw;
    }
  }

  if (force) fHandle = saved;
  ISC_STATUS result;
  {
    platform::TCallDeadline bound = BoundCall();
    result = fGDSLibrary->isc_detach_database(ThreadStatusVector(), &fHandle);
  }
  CheckConnectionCall(*this, result, false);
  if (result > 0 && !force) RaiseDatabaseError();
  fHandle = 0;
  fServerConnection = {};

  if (auto hook = AcquireTraceHook()) hook->TraceDisconnect(*this);
  ForEachSQLObject([](TIBBase& link) { link.DoAfterDatabaseDisconnect(); });
}

void TIBDatabase::ForceDisconnect() {
  if (!ReadConnected()) return;
  FireEvent(BeforeDisconnect);
  NotifyClients(false);
  CloseAttachment(true);
  FireEvent(AfterDisconnect);
}

void TIBDatabase::IdleTick() {
  if (!ReadConnected()) return;
  if (fIdleFlag) {
    ForceDisconnect();
    FireEvent(OnIdleTimer);
  } else {
    fIdleFlag = true;
  }
}

// --- Loading ----------------------------------------------------------------

void TIBDatabase::Loaded() {
  if (!fAllowStreamedConnected) {
    SetStreamedConnected(false);
    for (TIBTransaction* tr : fTransactions)
      if (tr) tr->SetStreamedActive(false);
  }
  if (StreamedConnected() && !ReadConnected()) {
    TCustomConnection::Loaded();
    for (TIBTransaction* tr : std::vector<TIBTransaction*>(fTransactions))
      if (tr && tr->StreamedActive()) {
        tr->StartTransaction();
        tr->SetStreamedActive(false);
      }
  } else {
    SetStreamedConnected(false);
  }
}

// --- Registrations ----------------------------------------------------------


int TIBDatabase::AddTransaction(TIBTransaction* transaction) {
  if (!transaction) return -1;
  bool known = std::find(fTransactions.begin(), fTransactions.end(), transaction) != fTransactions.end();
  int index = AddTo(fTransactions, transaction);
  if (!known) transaction->AddDatabase(this);
  return index;
}

void TIBDatabase::RemoveTransaction(TIBTransaction* transaction) {
  if (!transaction) return;
  auto it = std::find(fTransactions.begin(), fTransactions.end(), transaction);
  if (it == fTransactions.end()) return;
  *it = nullptr;
  transaction->RemoveDatabase(this);
}

int TIBDatabase::TransactionCount() const { return CountOf(fTransactions); }

TIBTransaction* TIBDatabase::Transactions(int index) const {
  int n = 0;
  for (TIBTransaction* t : fTransactions)
    if (t && n++ == index) return t;
  return nullptr;
}

int TIBDatabase::AddSQLObject(TIBBase* link) { return AddTo(fSQLObjects, link); }

void TIBDatabase::RemoveSQLObject(TIBBase* link) {
  RemoveFrom(fSQLObjects, link);
}

int TIBDatabase::SQLObjectCount() const { return CountOf(fSQLObjects); }

}  // namespace nemvo
