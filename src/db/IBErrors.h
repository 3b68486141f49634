#pragma once
// The exception family of the database components.
#include <cstdint>
#include <string>

#include "base/Exception.h"
#include "db/ClientErrorKind.h"

namespace nemvo {

NEMVO_EXCEPTION(EDatabaseError, Exception);

class EIBError : public EDatabaseError {
 public:
  EIBError(int32_t sqlCode, std::string message)
      : EDatabaseError(std::move(message)), fSqlErrorNumber(sqlCode) {}
  EIBError(int32_t sqlCode, int32_t iscCode, std::string message)
      : EDatabaseError(std::move(message)), fSqlErrorNumber(sqlCode), fIscErrorNumber(iscCode) {}
  const char* ClassName() const noexcept override { return "EIBError"; }

  // The SQLCODE for server errors; the ClientErrorKind ordinal for client errors.
  int32_t SqlErrorNumber() const noexcept { return fSqlErrorNumber; }
  // The first error code of the status vector; 0 for client errors.
  int32_t IscErrorNumber() const noexcept { return fIscErrorNumber; }

 private:
  int32_t fSqlErrorNumber = 0;
  int32_t fIscErrorNumber = 0;
};

// Reported by the client library or the server.
NEMVO_EXCEPTION(EIBInterBaseError, EIBError);
// The same, for SQLCODE -551 (no permission).
NEMVO_EXCEPTION(EIBInterBaseRoleError, EIBInterBaseError);
// Detected by the components themselves; SqlErrorNumber is the kind's ordinal.
NEMVO_EXCEPTION(EIBClientError, EIBError);
NEMVO_EXCEPTION(EIBPlanError, EIBError);

}  // namespace nemvo
