#pragma once
// An SQL statement on a database and transaction. The connection's schema
// cache holds two of them; nothing in this program prepares or runs one, so
// what is here is the part that the connection's life cycle touches: the
// statement's server handle is freed when its database is about to close.
#include <ibase.h>

#include <memory>

#include "base/Component.h"
#include "base/StringList.h"
#include "db/GDSLibrary.h"
#include "db/IBBase.h"

namespace nemvo {

class TIBDatabase;
class TIBTransaction;

class TIBSQL : public TComponent {
  NEMVO_COMPONENT(TIBSQL, TComponent)

 public:
  explicit TIBSQL(TComponent* owner = nullptr);
  ~TIBSQL() override;

  TIBDatabase* Database() const { return fBase.Database(); }
  void SetDatabase(TIBDatabase* database) { fBase.SetDatabase(database); }
  TIBTransaction* Transaction() const { return fBase.Transaction(); }
  void SetTransaction(TIBTransaction* transaction) { fBase.SetTransaction(transaction); }

  TStringList& SQL() { return fSQL; }
  isc_stmt_handle Handle() const { return fHandle; }
  // Frees the statement on the server; nothing happens without one.
  void FreeHandle();

 private:
  std::shared_ptr<IGDSLibrary> fGDSLibrary;
  bool fClientLibraryReady = false;
  TIBBase fBase;
  TStringList fSQL;
  isc_stmt_handle fHandle = 0;
};

}  // namespace nemvo
