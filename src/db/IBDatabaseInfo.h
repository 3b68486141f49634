#pragma once
// Questions to an attached database through the client library's information
// call. The connection makes one for a moment to learn the database's dialect.
#include <memory>

#include "base/Component.h"
#include "db/GDSLibrary.h"

namespace nemvo {

class TIBDatabase;

class TIBDatabaseInfo : public TComponent {
  NEMVO_COMPONENT(TIBDatabaseInfo, TComponent)

 public:
  explicit TIBDatabaseInfo(TComponent* owner = nullptr);

  TIBDatabase* Database() const { return fDatabase; }
  void SetDatabase(TIBDatabase* database);

  // The database's SQL dialect; 1 when the database does not say (before
  // dialects existed every database was dialect 1).
  int DBSQLDialect();

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  // A lost connection closes the database by force and raises; any other
  // failure raises.
  void Check(ISC_STATUS result);

  std::shared_ptr<IGDSLibrary> fGDSLibrary;
  bool fClientLibraryReady = false;
  TIBDatabase* fDatabase = nullptr;  // not owned; cleared when it is freed
};

}  // namespace nemvo
