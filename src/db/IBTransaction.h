#pragma once
// A transaction over one or more databases. The connection keeps one of its
// own (for its schema look-ups) and ends any active transaction when it
// detaches; this program itself never starts one.
#include <ibase.h>

#include <memory>
#include <vector>

#include "base/Component.h"
#include "db/GDSLibrary.h"
#include "platform/CallDeadline.h"

namespace nemvo {

class TIBBase;
class TIBDatabase;

// How a transaction ends when its database closes under it.
enum TTransactionAction { TARollback, TACommit, TARollbackRetaining, TACommitRetaining };

class TIBTransaction : public TComponent {
  NEMVO_COMPONENT(TIBTransaction, TComponent)

 public:
  explicit TIBTransaction(TComponent* owner = nullptr);
  ~TIBTransaction() override;

  bool InTransaction() const { return fHandle != 0; }
  isc_tr_handle Handle() const { return fHandle; }

  TIBDatabase* DefaultDatabase() const { return fDefaultDatabase; }
  void SetDefaultDatabase(TIBDatabase* database);
  int AddDatabase(TIBDatabase* database);
  void RemoveDatabase(TIBDatabase* database);
  int DatabaseCount() const;
  TIBDatabase* Databases(int index) const;

  TTransactionAction DefaultAction() const { return fDefaultAction; }
  void SetDefaultAction(TTransactionAction value) { fDefaultAction = value; }

  // Set by a stored definition that has the transaction active; the database
  // starts it once it has connected at the end of loading.
  bool StreamedActive() const { return fStreamedActive; }
  void SetStreamedActive(bool value) { fStreamedActive = value; }

  // A read-write, concurrency-level transaction over every attached database.
  void StartTransaction();
  void Commit() { EndTransaction(TACommit, false); }
  void Rollback() { EndTransaction(TARollback, false); }
  // Ends the transaction as `action` says; with `force`, a failure of the
  // server is ignored and the transaction counts as ended.
  void EndTransaction(TTransactionAction action, bool force);

  // Called by a database that is about to detach: ends the transaction as
  // DefaultAction says (forced); with `force` the statements' failures are
  // ignored.
  void BeforeDatabaseDisconnect(TIBDatabase* database, bool force);

  int AddSQLObject(TIBBase* link);
  void RemoveSQLObject(TIBBase* link);

 private:
  // The bound of a call on the transaction's attachments: the first one's
  // (this program works on one database).
  platform::TCallDeadline BoundCall() const;

  std::shared_ptr<IGDSLibrary> fGDSLibrary;
  bool fClientLibraryReady = false;
  isc_tr_handle fHandle = 0;
  TIBDatabase* fDefaultDatabase = nullptr;    // not owned
  std::vector<TIBDatabase*> fDatabases;       // not owned; null where one left
  std::vector<TIBBase*> fSQLObjects;          // not owned; null where one left
  TTransactionAction fDefaultAction = TACommit;
  bool fStreamedActive = false;
};

}  // namespace nemvo
