/* A stand-in for the client's XML extension library: present, and every
   entry point fails with "stand-in: not supported". Built with
   STANDIN_XML_LACKS_BUFFER_FETCH, it lacks one of the three. */
#include <ibase.h>

#include "db/InterBaseExtensions.h"

static ISC_STATUS Unsupported(ISC_STATUS* status) {
  status[0] = isc_arg_gds;
  status[1] = isc_random;
  status[2] = isc_arg_string;
  status[3] = (ISC_STATUS) "stand-in: not supported";
  status[4] = isc_arg_end;
  return status[1];
}

ISC_STATUS isc_dsql_xml_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                              struct IB_XMLDA* xmlda) {
  return Unsupported(status);
}

ISC_STATUS isc_dsql_xml_fetch_all(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                                  struct IB_XMLDA* xmlda) {
  return Unsupported(status);
}

#ifndef STANDIN_XML_LACKS_BUFFER_FETCH
ISC_STATUS isc_dsql_xml_buffer_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, ISC_SCHAR* buffer, int bufferSize,
                                     unsigned short dialect, XSQLDA* sqlda, struct IB_XMLDA* xmlda) {
  return Unsupported(status);
}
#endif
