#include "db/IBDatabaseInfo.h"

#include "db/ErrorReporting.h"
#include "db/IBDatabase.h"

namespace nemvo {

TIBDatabaseInfo::TIBDatabaseInfo(TComponent* owner) : TComponent(owner) {
  fGDSLibrary = AcquireClientLibrary();
  fClientLibraryReady = false;
  fGDSLibrary->EnsureClientLibrary();
  fClientLibraryReady = true;
}

void TIBDatabaseInfo::SetDatabase(TIBDatabase* database) {
  if (database == fDatabase) return;
  if (fDatabase) RemoveFreeNotification(fDatabase);
  fDatabase = database;
  if (fDatabase) FreeNotification(fDatabase);
}

void TIBDatabaseInfo::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == fDatabase) fDatabase = nullptr;
}

void TIBDatabaseInfo::Check(ISC_STATUS result) {
  if (StatusHasCode({isc_lost_db_connection})) CheckConnectionCall(*fDatabase, result, true);
  if (result > 0) RaiseDatabaseError();
}

int TIBDatabaseInfo::DBSQLDialect() {
  if (!fDatabase) RaiseClientError(ClientErrorKind::ceDbNotOpen);
  fDatabase->RequireActive();
  const char items[] = {isc_info_db_sql_dialect};
  char buffer[512] = {};
  ISC_STATUS result;
  {
    platform::TCallDeadline bound = fDatabase->BoundCall();
    result = fGDSLibrary->isc_database_info(ThreadStatusVector(), fDatabase->HandleAddress(), short(sizeof items),
                                            items, short(sizeof buffer), buffer);
  }
  Check(result);
  if (static_cast<unsigned char>(buffer[0]) != isc_info_db_sql_dialect) return 1;
  // The reply's own length field is the server's word; never read past the buffer.
  int length = fGDSLibrary->isc_vax_integer(buffer + 1, 2);
  if (length < 0 || length > int(sizeof buffer) - 3) length = int(sizeof buffer) - 3;
  return fGDSLibrary->isc_vax_integer(buffer + 3, short(length));
}

}  // namespace nemvo
