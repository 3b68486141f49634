#include "db/IBSchema.h"

#include "db/IBDatabase.h"
#include "db/IBSQL.h"

namespace nemvo {

TSchema::TSchema(TIBDatabase& database)
    : fFieldQuery(std::make_unique<TIBSQL>()), fKeyQuery(std::make_unique<TIBSQL>()) {
  for (TIBSQL* q : {fFieldQuery.get(), fKeyQuery.get()}) {
    q->SetDatabase(&database);
    q->SetTransaction(database.InternalTransaction());
  }
  fFieldQuery->SQL().Add(
      "SELECT R.RDB$FIELD_NAME, F.RDB$COMPUTED_BLR, R.RDB$DEFAULT_SOURCE, F.RDB$DEFAULT_SOURCE "
      "FROM RDB$RELATION_FIELDS R JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = R.RDB$FIELD_SOURCE "
      "WHERE R.RDB$RELATION_NAME = :TABLE "
      "AND (F.RDB$COMPUTED_BLR IS NOT NULL OR R.RDB$DEFAULT_SOURCE IS NOT NULL OR F.RDB$DEFAULT_SOURCE IS NOT NULL)");
  fKeyQuery->SQL().Add(
      "SELECT S.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS C "
      "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME "
      "WHERE C.RDB$RELATION_NAME = :TABLE AND C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' "
      "ORDER BY S.RDB$FIELD_POSITION");
}

TSchema::~TSchema() = default;

}  // namespace nemvo
