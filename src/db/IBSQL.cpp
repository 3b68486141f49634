#include "db/IBSQL.h"

#include "db/ErrorReporting.h"
#include "db/IBDatabase.h"

namespace nemvo {

TIBSQL::TIBSQL(TComponent* owner) : TComponent(owner) {
  fGDSLibrary = AcquireClientLibrary();
  fClientLibraryReady = false;
  fGDSLibrary->EnsureClientLibrary();
  fClientLibraryReady = true;
  fBase.OnBeforeDatabaseDisconnect = [this] { FreeHandle(); };
  fBase.OnDatabaseFree = [this] { fHandle = 0; };
}

TIBSQL::~TIBSQL() {
  if (!fClientLibraryReady) return;
  try {
    FreeHandle();
  } catch (...) {
    // A statement that the server cannot free any more is gone with its attachment.
  }
}

void TIBSQL::FreeHandle() {
  if (fHandle == 0) return;
  ISC_STATUS result;
  {
    platform::TCallDeadline bound = Database() ? Database()->BoundCall() : platform::TCallDeadline::None();
    result = fGDSLibrary->isc_dsql_free_statement(ThreadStatusVector(), &fHandle, DSQL_drop);
  }
  fHandle = 0;
  if (Database()) CheckConnectionCall(*Database(), result, true);
  else if (result > 0) RaiseDatabaseError();
}

}  // namespace nemvo
