#pragma once
// The connection's cache of table facts: which columns are computed or have
// defaults, and which form the primary key. It is filled per table on demand
// through two statements on the connection's internal transaction and
// emptied when the connection is pointed at another database.
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace nemvo {

class TIBDatabase;
class TIBSQL;

class TIBSchema {
 public:
  virtual ~TIBSchema() = default;
  // Forgets every table.
  virtual void FreeNodes() = 0;
};

class TSchema : public TIBSchema {
 public:
  explicit TSchema(TIBDatabase& database);
  ~TSchema() override;

  void FreeNodes() override { fTables.clear(); }
  int TableCount() const { return int(fTables.size()); }

  TIBSQL& FieldQuery() const { return *fFieldQuery; }
  TIBSQL& KeyQuery() const { return *fKeyQuery; }

 private:
  struct TableFacts {
    std::vector<std::string> computedOrDefaulted;
    std::vector<std::string> primaryKey;
  };
  std::map<std::string, TableFacts> fTables;
  std::unique_ptr<TIBSQL> fFieldQuery;
  std::unique_ptr<TIBSQL> fKeyQuery;
};

}  // namespace nemvo
