#include "db/IBBase.h"

#include "db/IBDatabase.h"
#include "db/IBTransaction.h"

namespace nemvo {

TIBBase::~TIBBase() {
  SetDatabase(nullptr);
  SetTransaction(nullptr);
}

void TIBBase::SetDatabase(TIBDatabase* database) {
  if (database == fDatabase) return;
  if (fDatabase) fDatabase->RemoveSQLObject(this);
  fDatabase = database;
  if (fDatabase) fDatabase->AddSQLObject(this);
}

void TIBBase::SetTransaction(TIBTransaction* transaction) {
  if (transaction == fTransaction) return;
  if (fTransaction) fTransaction->RemoveSQLObject(this);
  fTransaction = transaction;
  if (fTransaction) fTransaction->AddSQLObject(this);
}

void TIBBase::DoDatabaseFree() {
  Call(OnDatabaseFree);
  // The database is going: it must not be called back any more.
  fDatabase = nullptr;
}

void TIBBase::DoTransactionFree() {
  Call(OnTransactionFree);
  fTransaction = nullptr;
}

}  // namespace nemvo
