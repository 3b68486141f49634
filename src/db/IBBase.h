#pragma once
// The link between a statement (or any object working on a database) and the
// database and transaction it uses: it keeps both registrations in step and
// passes on what they announce.
#include <functional>

namespace nemvo {

class TIBDatabase;
class TIBTransaction;

class TIBBase {
 public:
  TIBBase() = default;
  ~TIBBase();
  TIBBase(const TIBBase&) = delete;
  TIBBase& operator=(const TIBBase&) = delete;

  TIBDatabase* Database() const { return fDatabase; }
  void SetDatabase(TIBDatabase* database);
  TIBTransaction* Transaction() const { return fTransaction; }
  void SetTransaction(TIBTransaction* transaction);

  // What the owner of the link does when the database or transaction
  // announces something. BeforeDatabaseDisconnect may raise to stop a normal
  // disconnect; a forced one carries on.
  std::function<void()> OnBeforeDatabaseDisconnect;
  std::function<void()> OnAfterDatabaseDisconnect;
  std::function<void()> OnDatabaseFree;
  std::function<void()> OnBeforeTransactionEnd;
  std::function<void()> OnAfterTransactionEnd;
  std::function<void()> OnTransactionFree;

  // Called by the database and the transaction.
  void DoBeforeDatabaseDisconnect() { Call(OnBeforeDatabaseDisconnect); }
  void DoAfterDatabaseDisconnect() { Call(OnAfterDatabaseDisconnect); }
  void DoDatabaseFree();
  void DoBeforeTransactionEnd() { Call(OnBeforeTransactionEnd); }
  void DoAfterTransactionEnd() { Call(OnAfterTransactionEnd); }
  void DoTransactionFree();

 private:
  static void Call(const std::function<void()>& f) {
    if (f) f();
  }
  TIBDatabase* fDatabase = nullptr;        // not owned; cleared when it goes
  TIBTransaction* fTransaction = nullptr;  // not owned; cleared when it goes
};

}  // namespace nemvo
