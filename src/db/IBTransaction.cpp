#include "db/IBTransaction.h"

#include <algorithm>

#include "db/ErrorReporting.h"
#include "db/IBBase.h"
#include "db/IBDatabase.h"
#include "db/SlotList.h"

namespace nemvo {

namespace {

// One database's part of a multi-database start, as the client library reads it.
struct TransactionElement {
  isc_db_handle* database;
  int tpbLength;
  const char* tpb;
};

const char DefaultTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};

}  // namespace

TIBTransaction::TIBTransaction(TComponent* owner) : TComponent(owner) {
  fGDSLibrary = AcquireClientLibrary();
  fClientLibraryReady = false;
  fGDSLibrary->EnsureClientLibrary();
  fClientLibraryReady = true;
}

TIBTransaction::~TIBTransaction() {
  if (!fClientLibraryReady) return;
  if (InTransaction()) {
    try {
      EndTransaction(TARollback, true);
    } catch (...) {
      // A statement's objection cannot stop the transaction from going.
    }
  }
  for (TIBBase* link : fSQLObjects)
    if (link) link->DoTransactionFree();
  fSQLObjects.clear();
  for (TIBDatabase* db : std::vector<TIBDatabase*>(fDatabases))
    if (db) RemoveDatabase(db);
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* database) {
  if (database == fDefaultDatabase) return;
  if (database) AddDatabase(database);
  fDefaultDatabase = database;
}

int TIBTransaction::AddDatabase(TIBDatabase* database) {
  if (!database) return -1;
  bool known = std::find(fDatabases.begin(), fDatabases.end(), database) != fDatabases.end();
  int index = AddTo(fDatabases, database);
  if (!known) database->AddTransaction(this);
  return index;
}

void TIBTransaction::RemoveDatabase(TIBDatabase* database) {
  if (!database || std::find(fDatabases.begin(), fDatabases.end(), database) == fDatabases.end()) return;
  RemoveFrom(fDatabases, database);
  if (fDefaultDatabase == database) fDefaultDatabase = nullptr;
  database->RemoveTransaction(this);
}

int TIBTransaction::DatabaseCount() const {
  return int(std::count_if(fDatabases.begin(), fDatabases.end(), [](TIBDatabase* d) { return d != nullptr; }));
}

TIBDatabase* TIBTransaction::Databases(int index) const {
  int n = 0;
  for (TIBDatabase* d : fDatabases)
    if (d && n++ == index) return d;
  return nullptr;
}

int TIBTransaction::AddSQLObject(TIBBase* link) { return AddTo(fSQLObjects, link); }
void TIBTransaction::RemoveSQLObject(TIBBase* link) { RemoveFrom(fSQLObjects, link); }

void TIBTransaction::StartTransaction() {
  if (InTransaction()) return;
  std::vector<TransactionElement> teb;
  TIBDatabase* first = nullptr;
  for (TIBDatabase* db : fDatabases) {
    if (!db) continue;
    db->RequireActive();
    if (!first) first = db;
    teb.push_back(TransactionElement{db->HandleAddress(), int(sizeof DefaultTpb), DefaultTpb});
  }
  if (!first) RaiseClientError(ClientErrorKind::ceDbNotOpen);
  ISC_STATUS result;
  {
    platform::TCallDeadline bound = BoundCall();
    result = fGDSLibrary->isc_start_multiple(ThreadStatusVector(), &fHandle, short(teb.size()), teb.data());
  }
  if (result > 0) fHandle = 0;
  CheckConnectionCall(*first, result, true);
}

void TIBTransaction::EndTransaction(TTransactionAction action, bool force) {
  if (!InTransaction()) return;
  for (TIBBase* link : std::vector<TIBBase*>(fSQLObjects)) {
    if (!link) continue;
    try {
      link->DoBeforeTransactionEnd();
    } catch (...) {
      if (!force) throw;
    }
  }
  ISC_STATUS* status = ThreadStatusVector();
  ISC_STATUS result = 0;
  {
    platform::TCallDeadline bound = BoundCall();
    switch (action) {
      case TACommit: result = fGDSLibrary->isc_commit_transaction(status, &fHandle); break;
      case TARollback: result = fGDSLibrary->isc_rollback_transaction(status, &fHandle); break;
      case TACommitRetaining: result = fGDSLibrary->isc_commit_retaining(status, &fHandle); break;
      case TARollbackRetaining: result = fGDSLibrary->isc_rollback_retaining(status, &fHandle); break;
    }
  }
  if (result > 0) {
    if (!force) {
      if (fDefaultDatabase) CheckConnectionCall(*fDefaultDatabase, result, true);
      RaiseDatabaseError();
    }
    // The transaction must end: a failed commit falls back to a rollback,
    // and whatever the server says then, the handle is given up.
    if (action == TACommit || action == TACommitRetaining) {
      platform::TCallDeadline bound = BoundCall();
      fGDSLibrary->isc_rollback_transaction(status, &fHandle);
    }
    fHandle = 0;
  }
  for (TIBBase* link : std::vector<TIBBase*>(fSQLObjects))
    if (link) link->DoAfterTransactionEnd();
}

platform::TCallDeadline TIBTransaction::BoundCall() const {
  for (TIBDatabase* db : fDatabases)
    if (db) return db->BoundCall();
  return platform::TCallDeadline::None();
}

void TIBTransaction::BeforeDatabaseDisconnect(TIBDatabase*, bool force) {
  if (!InTransaction()) return;
  bool commit = fDefaultAction == TACommit || fDefaultAction == TACommitRetaining;
  try {
    EndTransaction(commit ? TACommit : TARollback, true);
  } catch (...) {
    if (!force) throw;
  }
}

}  // namespace nemvo
