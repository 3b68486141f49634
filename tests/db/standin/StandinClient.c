/*
 * A stand-in for the database client library, for what the real one cannot
 * be made to do on demand: be an older or newer client, lack an entry point,
 * or fail with chosen status vectors. Built several times from this one file
 * under the real library's file name, each build in its own directory; a test
 * reaches one by putting that directory first in LD_LIBRARY_PATH of a child
 * process.
 *
 * Variants (compile-time):
 *   STANDIN_HAS_VERSION6    exports isc_rollback_retaining, the service and
 *                           SQL date/time entry points (every variant but
 *                           the old client)
 *   STANDIN_HAS_CLIENT_VERSION  exports isc_get_client_version and its
 *                           major/minor companions
 *   STANDIN_HAS_VERSION70 / _VERSION71 / _VERSION80
 *                           exports the second-generation array and blob,
 *                           savepoint, batch entry points
 *   STANDIN_MISSING_REQUIRED  leaves out isc_que_events, a required one
 *   STANDIN_DEFAULT_VERSION "M.m" reported when the environment says nothing
 *
 * Behaviour (environment, read at each call):
 *   NEMVO_STANDIN_VERSION=M.m       major/minor version the client reports
 *   NEMVO_STANDIN_ATTACH_MESSAGES=A|B|...
 *                                   isc_attach_database fails; the status
 *                                   vector carries one message per "|"-part
 *                                   (at most 4); "\n" in the value stands for
 *                                   a line feed
 *   NEMVO_STANDIN_ATTACH_CODE=N     isc code of the first attach message
 *                                   (default 335544472, isc_login); later
 *                                   messages carry isc_random
 *   NEMVO_STANDIN_SQLCODE=N         what isc_sqlcode answers for a failed
 *                                   call (default -902)
 *   NEMVO_STANDIN_DIALECT=N         dialect isc_database_info reports (3)
 *   NEMVO_STANDIN_INFO_ERROR=WHAT[:message]
 *                                   isc_database_info fails; WHAT is "lost"
 *                                   (isc_lost_db_connection), "net_read",
 *                                   "net_write" or a decimal isc code; the
 *                                   message defaults to a lost connection's
 *   NEMVO_STANDIN_DETACH_MESSAGES=A|B, NEMVO_STANDIN_DETACH_CODE=N
 *                                   isc_detach_database fails, as for attach
 *   NEMVO_STANDIN_DETACH_DELAY_MS=N  isc_detach_database takes N ms first
 *                                   (a server slow to let go), then records
 *                                   "detached"
 *   NEMVO_STANDIN_LOG=path          every call is appended to the file, one
 *                                   line each: the entry point's name; for an
 *                                   attach also the database name and the
 *                                   parameter block in hex ("attach NAME HEX")
 *
 * Every other entry point does nothing and fails with "stand-in: not
 * supported".
 */
#include <ibase.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <string.h>

#include "db/InterBaseExtensions.h"

#ifndef STANDIN_DEFAULT_VERSION
#define STANDIN_DEFAULT_VERSION "6.3"
#endif

enum { MaxMessages = 4, MaxMessageLength = 1024 };

static char messageTexts[MaxMessages][MaxMessageLength];

static void Record(const char* text) {
  const char* path = getenv("NEMVO_STANDIN_LOG");
  if (!path || !*path) return;
  FILE* log = fopen(path, "a");
  if (!log) return;
  fprintf(log, "%s\n", text);
  fclose(log);
}

// Each time the loader maps the library, a line in the file that
// NEMVO_STANDIN_MAP_LOG names: a client unloaded and loaded again logs twice.
__attribute__((constructor)) static void Mapped(void) {
  const char* path = getenv("NEMVO_STANDIN_MAP_LOG");
  if (!path || !*path) return;
  FILE* log = fopen(path, "a");
  if (!log) return;
  fprintf(log, "mapped\n");
  fclose(log);
}

static void Clear(ISC_STATUS* status) {
  if (!status) return;
  status[0] = isc_arg_gds;
  status[1] = 0;
  status[2] = isc_arg_end;
}

/* Fills the status vector from "A|B|..." (with "\n" escapes); the first
   message gets `firstCode`, the others isc_random. */
static ISC_STATUS Fail(ISC_STATUS* status, const char* messages, ISC_STATUS firstCode) {
  int count = 0;
  int i = 0;
  const char* p = messages;
  while (count < MaxMessages) {
    char* out = messageTexts[count];
    size_t n = 0;
    while (*p && *p != '|') {
      char c = *p++;
      if (c == '\\' && *p == 'n') {
        c = '\n';
        ++p;
      }
      if (n + 1 < MaxMessageLength) out[n++] = c;
    }
    out[n] = '\0';
    status[i++] = isc_arg_gds;
    status[i++] = count == 0 ? firstCode : isc_random;
    status[i++] = isc_arg_string;
    status[i++] = (ISC_STATUS)(intptr_t)out;
    ++count;
    if (*p != '|') break;
    ++p;
  }
  status[i] = isc_arg_end;
  return status[1];
}

static ISC_STATUS Unsupported(ISC_STATUS* status) {
  if (!status) return isc_random;
  return Fail(status, "stand-in: not supported", isc_random);
}

static ISC_STATUS EnvCode(const char* name, ISC_STATUS fallback) {
  const char* value = getenv(name);
  return value && *value ? (ISC_STATUS)strtoll(value, NULL, 10) : fallback;
}

#ifdef STANDIN_HAS_CLIENT_VERSION
static void ReportedVersion(int* major, int* minor) {
  const char* value = getenv("NEMVO_STANDIN_VERSION");
  if (!value || !*value) value = STANDIN_DEFAULT_VERSION;
  *major = atoi(value);
  const char* dot = strchr(value, '.');
  *minor = dot ? atoi(dot + 1) : 0;
}
#endif

ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength, const ISC_SCHAR* name, isc_db_handle* db,
                               short dpbLength, const ISC_SCHAR* dpb) {
  static char line[2 * 65536 + 1024];
  size_t n = (size_t)snprintf(line, 1024, "attach %.*s ", nameLength > 0 ? (int)nameLength : 0, name);
  for (int i = 0; i < dpbLength; ++i) n += (size_t)sprintf(line + n, "%02x", (unsigned char)dpb[i]);
  Record(line);
  const char* messages = getenv("NEMVO_STANDIN_ATTACH_MESSAGES");
  if (messages) {
    return Fail(status, messages, EnvCode("NEMVO_STANDIN_ATTACH_CODE", isc_login));
  }
  Clear(status);
  *db = 1;
  return 0;
}

ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) {
  Record("detach");
  const char* delay = getenv("NEMVO_STANDIN_DETACH_DELAY_MS");
  if (delay && *delay) {
    usleep((useconds_t)(atoi(delay) * 1000));
    Record("detached");
  }
  const char* messages = getenv("NEMVO_STANDIN_DETACH_MESSAGES");
  if (messages) return Fail(status, messages, EnvCode("NEMVO_STANDIN_DETACH_CODE", isc_network_error));
  Clear(status);
  *db = 0;
  return 0;
}

ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemLength, const ISC_SCHAR* items,
                             short bufferLength, ISC_SCHAR* buffer) {
  (void)db;
  Record("info");
  const char* error = getenv("NEMVO_STANDIN_INFO_ERROR");
  if (error && *error) {
    ISC_STATUS code = isc_lost_db_connection;
    if (strncmp(error, "net_read", 8) == 0) code = isc_net_read_err;
    else if (strncmp(error, "net_write", 9) == 0) code = isc_net_write_err;
    else if (error[0] >= '0' && error[0] <= '9') code = (ISC_STATUS)strtoll(error, NULL, 10);
    const char* colon = strchr(error, ':');
    return Fail(status, colon ? colon + 1 : "Connection lost to database", code);
  }
  Clear(status);
  if (itemLength < 1 || bufferLength < 5) return 0;
  int dialect = (int)EnvCode("NEMVO_STANDIN_DIALECT", 3);
  if (items[0] == isc_info_db_sql_dialect) {
    buffer[0] = isc_info_db_sql_dialect;
    buffer[1] = 1;
    buffer[2] = 0;
    buffer[3] = (ISC_SCHAR)dialect;
    buffer[4] = isc_info_end;
  } else {
    buffer[0] = isc_info_end;
  }
  return 0;
}

/* Messages are the status vector's own texts; a code without one is named. */
ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
  ISC_STATUS* v = *cursor;
  if (!v || v[0] != isc_arg_gds || v[1] == 0) return 0;
  ISC_STATUS code = v[1];
  v += 2;
  if (v[0] == isc_arg_string) {
    snprintf(buffer, MaxMessageLength, "%s", (const char*)(intptr_t)v[1]);
    v += 2;
  } else {
    snprintf(buffer, MaxMessageLength, "stand-in error %ld", (long)code);
  }
  *cursor = v;
  return (ISC_LONG)strlen(buffer);
}

ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
  if (!status || status[1] == 0) return 0;
  return (ISC_LONG)EnvCode("NEMVO_STANDIN_SQLCODE", -902);
}

void isc_sql_interprete(short sqlcode, ISC_SCHAR* buffer, short bufferLength) {
  if (buffer && bufferLength > 0) snprintf(buffer, (size_t)bufferLength, "SQLCODE %d", sqlcode);
}

ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) {
  if (!bytes || length <= 0 || length > 4) return 0;
  uint32_t value = 0;
  for (int i = length - 1; i >= 0; --i) value = (value << 8) | (unsigned char)bytes[i];
  if (length < 4 && (value & (1u << (8 * length - 1)))) value |= ~0u << (8 * length); /* sign */
  return (ISC_LONG)(int32_t)value;
}

ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count, ...) {
  (void)eventBuffer;
  (void)resultBuffer;
  (void)count;
  Record("isc_event_block");
  return 0;
}

ISC_STATUS isc_array_gen_sdl(ISC_STATUS* status, const ISC_ARRAY_DESC* desc, ISC_SHORT* sdlBufferLength,
                             ISC_UCHAR* sdlBuffer, ISC_SHORT* sdlLength) {
  Record("isc_array_gen_sdl");
  return Unsupported(status);
}

#ifdef STANDIN_HAS_CLIENT_VERSION
void isc_get_client_version(ISC_SCHAR* buffer) {
  int major, minor;
  ReportedVersion(&major, &minor);
  sprintf(buffer, "LI-V%d.%d stand-in", major, minor);
}
int isc_get_client_major_version(void) {
  int major, minor;
  ReportedVersion(&major, &minor);
  return major;
}
int isc_get_client_minor_version(void) {
  int major, minor;
  ReportedVersion(&major, &minor);
  return minor;
}
#endif

/* Everything else: present (as the variant says) and unsupported. */
ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) { Record("isc_array_get_slice"); return Unsupported(status); }
ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) { Record("isc_array_lookup_bounds"); return Unsupported(status); }
ISC_STATUS isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) { Record("isc_array_lookup_desc"); return Unsupported(status); }
ISC_STATUS isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field, const short* sqlDtype, const short* sqlLength, const short* dimensions, ISC_ARRAY_DESC* desc) { Record("isc_array_set_desc"); return Unsupported(status); }
ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) { Record("isc_array_put_slice"); return Unsupported(status); }
void isc_blob_default_desc(ISC_BLOB_DESC* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) { Record("isc_blob_default_desc"); }
ISC_STATUS isc_blob_gen_bpb(ISC_STATUS* status, const ISC_BLOB_DESC* to, const ISC_BLOB_DESC* from, unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer, unsigned short* bpbLength) { Record("isc_blob_gen_bpb"); return Unsupported(status); }
ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) { Record("isc_blob_info"); return Unsupported(status); }
ISC_STATUS isc_blob_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC* desc, ISC_UCHAR* global) { Record("isc_blob_lookup_desc"); return Unsupported(status); }
ISC_STATUS isc_blob_set_desc(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype, short charset, short segmentSize, ISC_BLOB_DESC* desc) { Record("isc_blob_set_desc"); return Unsupported(status); }
ISC_STATUS isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) { Record("isc_cancel_blob"); return Unsupported(status); }
ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId) { Record("isc_cancel_events"); return Unsupported(status); }
ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) { Record("isc_close_blob"); return Unsupported(status); }
ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) { Record("isc_commit_retaining"); return Unsupported(status); }
ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) { Record("isc_commit_transaction"); return Unsupported(status); }
ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* blobId, short bpbLength, const ISC_SCHAR* bpb) { Record("isc_create_blob2"); return Unsupported(status); }
void isc_decode_date(const ISC_QUAD* date, void* tmDate) { Record("isc_decode_date"); }
ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) { Record("isc_drop_database"); return Unsupported(status); }
ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* stmt) { Record("isc_dsql_alloc_statement2"); return Unsupported(status); }
ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda) { Record("isc_dsql_describe"); return Unsupported(status); }
ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda) { Record("isc_dsql_describe_bind"); return Unsupported(status); }
ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* sqlda) { Record("isc_dsql_execute"); return Unsupported(status); }
ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* inSqlda, const XSQLDA* outSqlda) { Record("isc_dsql_execute2"); return Unsupported(status); }
ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short length, const ISC_SCHAR* statement, unsigned short dialect, const XSQLDA* sqlda) { Record("isc_dsql_execute_immediate"); return Unsupported(status); }
ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* sqlda) { Record("isc_dsql_fetch"); return Unsupported(status); }
ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short option) { Record("isc_dsql_free_statement"); return Unsupported(status); }
ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short length, const ISC_SCHAR* statement, unsigned short dialect, XSQLDA* sqlda) { Record("isc_dsql_prepare"); return Unsupported(status); }
ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt, const ISC_SCHAR* name, unsigned short type) { Record("isc_dsql_set_cursor_name"); return Unsupported(status); }
ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) { Record("isc_dsql_sql_info"); return Unsupported(status); }
void isc_encode_date(const void* tmDate, ISC_QUAD* date) { Record("isc_encode_date"); }
void isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer, const ISC_UCHAR* resultBuffer) { Record("isc_event_counts"); }
ISC_LONG isc_free(ISC_SCHAR* block) { Record("isc_free"); return 0; }
ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* actualLength, unsigned short bufferLength, ISC_SCHAR* buffer) { Record("isc_get_segment"); return Unsupported(status); }
ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* blobId, ISC_USHORT bpbLength, const ISC_UCHAR* bpb) { Record("isc_open_blob2"); return Unsupported(status); }
ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT messageLength, const ISC_UCHAR* message) { Record("isc_prepare_transaction2"); return Unsupported(status); }
ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length, const ISC_SCHAR* buffer) { Record("isc_put_segment"); return Unsupported(status); }
#ifndef STANDIN_MISSING_REQUIRED
ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId, short length, const ISC_UCHAR* eventBuffer, ISC_EVENT_CALLBACK callback, void* argument) { Record("isc_que_events"); return Unsupported(status); }
#endif
ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) { Record("isc_rollback_transaction"); return Unsupported(status); }
ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count, void* teb) { Record("isc_start_multiple"); return Unsupported(status); }
ISC_STATUS isc_add_user(ISC_STATUS* status, const USER_SEC_DATA* user) { Record("isc_add_user"); return Unsupported(status); }
ISC_STATUS isc_delete_user(ISC_STATUS* status, const USER_SEC_DATA* user) { Record("isc_delete_user"); return Unsupported(status); }
ISC_STATUS isc_modify_user(ISC_STATUS* status, const USER_SEC_DATA* user) { Record("isc_modify_user"); return Unsupported(status); }
ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) { Record("isc_prepare_transaction"); return Unsupported(status); }
int BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) { Record("BLOB_put"); return 0; }
int BLOB_get(FB_BLOB_STREAM stream) { Record("BLOB_get"); return 0; }
ISC_STATUS isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) { Record("isc_transaction_info"); return Unsupported(status); }

#ifdef STANDIN_HAS_VERSION6
void isc_decode_sql_date(const ISC_DATE* date, void* tmDate) { Record("isc_decode_sql_date"); }
void isc_decode_sql_time(const ISC_TIME* time, void* tmDate) { Record("isc_decode_sql_time"); }
void isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) { Record("isc_decode_timestamp"); }
void isc_encode_sql_date(const void* tmDate, ISC_DATE* date) { Record("isc_encode_sql_date"); }
void isc_encode_sql_time(const void* tmDate, ISC_TIME* time) { Record("isc_encode_sql_time"); }
void isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) { Record("isc_encode_timestamp"); }
ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) { Record("isc_rollback_retaining"); return Unsupported(status); }
ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength, const ISC_SCHAR* name, isc_svc_handle* svc, unsigned short spbLength, const ISC_SCHAR* spb) { Record("isc_service_attach"); return Unsupported(status); }
ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* svc) { Record("isc_service_detach"); return Unsupported(status); }
ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved, unsigned short sendLength, const ISC_SCHAR* sendItems, unsigned short requestLength, const ISC_SCHAR* requestItems, unsigned short bufferLength, ISC_SCHAR* buffer) { Record("isc_service_query"); return Unsupported(status); }
ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved, unsigned short spbLength, const ISC_SCHAR* spb) { Record("isc_service_start"); return Unsupported(status); }
#endif

#ifdef STANDIN_HAS_VERSION70
ISC_STATUS isc_array_gen_sdl2(ISC_STATUS* status, const ISC_ARRAY_DESC_V2* desc, ISC_SHORT* sdlBufferLength, ISC_UCHAR* sdlBuffer, ISC_SHORT* sdlLength) { Record("isc_array_gen_sdl2"); return Unsupported(status); }
ISC_STATUS isc_array_get_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) { Record("isc_array_get_slice2"); return Unsupported(status); }
ISC_STATUS isc_array_lookup_bounds2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC_V2* desc) { Record("isc_array_lookup_bounds2"); return Unsupported(status); }
ISC_STATUS isc_array_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC_V2* desc) { Record("isc_array_lookup_desc2"); return Unsupported(status); }
ISC_STATUS isc_array_set_desc2(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field, const short* sqlDtype, const short* sqlLength, const short* dimensions, ISC_ARRAY_DESC_V2* desc) { Record("isc_array_set_desc2"); return Unsupported(status); }
ISC_STATUS isc_array_put_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) { Record("isc_array_put_slice2"); return Unsupported(status); }
void isc_blob_default_desc2(ISC_BLOB_DESC_V2* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) { Record("isc_blob_default_desc2"); }
ISC_STATUS isc_blob_gen_bpb2(ISC_STATUS* status, const ISC_BLOB_DESC_V2* to, const ISC_BLOB_DESC_V2* from, unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer, unsigned short* bpbLength) { Record("isc_blob_gen_bpb2"); return Unsupported(status); }
ISC_STATUS isc_blob_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC_V2* desc, ISC_UCHAR* global) { Record("isc_blob_lookup_desc2"); return Unsupported(status); }
ISC_STATUS isc_blob_set_desc2(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype, short charset, short segmentSize, ISC_BLOB_DESC_V2* desc) { Record("isc_blob_set_desc2"); return Unsupported(status); }
#endif

#ifdef STANDIN_HAS_VERSION71
ISC_STATUS isc_release_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) { Record("isc_release_savepoint"); return Unsupported(status); }
ISC_STATUS isc_rollback_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name, ISC_USHORT option) { Record("isc_rollback_savepoint"); return Unsupported(status); }
ISC_STATUS isc_start_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) { Record("isc_start_savepoint"); return Unsupported(status); }
#endif

#ifdef STANDIN_HAS_VERSION80
ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short dialect, ISC_ULONG count, char** statements, ISC_ULONG* rowsAffected) { Record("isc_dsql_batch_execute_immed"); return Unsupported(status); }
ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* inSqlda, unsigned short rowCount, XSQLVAR** batchVars, ISC_ULONG* rowsAffected) { Record("isc_dsql_batch_execute"); return Unsupported(status); }
#endif
