#pragma once
// The process-wide binding to the database client library. Nothing above
// this file calls the client library directly: every call goes through the
// IGDSLibrary that AcquireClientLibrary returns, whose operations forward
// their arguments to the bound entry points and return their results.
#include <ibase.h>

#include <cstdint>
#include <memory>

#include "db/InterBaseExtensions.h"

namespace nemvo {

// Client versions are decimals with four fractional digits, held scaled.
inline constexpr int64_t ClientVersionScale = 10000;

class IGDSLibrary {
 public:
  virtual ~IGDSLibrary() = default;

  // Loads the library and binds its entry points, unless it is loaded
  // already (then it does nothing). A library that cannot be found binds
  // nothing and raises nothing; a required entry point it lacks
  // raises EOSError and leaves the library unloaded and nothing bound.
  virtual void LoadClientLibrary() = 0;
  // Frees the client library and the XML library; nothing stays bound.
  virtual void UnloadClientLibrary() = 0;
  // Loads the library unless it is loaded; whether it is loaded afterwards.
  virtual bool TryLoadClientLibrary() = 0;
  // As TryLoadClientLibrary, raising ceLibraryMissing when it is not loaded.
  virtual void EnsureClientLibrary() = 0;
  // The client's version, scaled by ClientVersionScale (6.3 is 63000).
  virtual int64_t ClientLibraryVersion() = 0;

  virtual ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength, const ISC_SCHAR* name,
                                         isc_db_handle* db, short dpbLength, const ISC_SCHAR* dpb) = 0;
  virtual ISC_STATUS isc_array_gen_sdl2(ISC_STATUS* status, const ISC_ARRAY_DESC_V2* desc, ISC_SHORT* sdlBufferLength,
                                        ISC_UCHAR* sdlBuffer, ISC_SHORT* sdlLength) = 0;
  virtual ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                         const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) = 0;
  virtual ISC_STATUS isc_array_get_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                          const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) = 0;
  virtual ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                             const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                             ISC_ARRAY_DESC* desc) = 0;
  virtual ISC_STATUS isc_array_lookup_bounds2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                              const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                              ISC_ARRAY_DESC_V2* desc) = 0;
  virtual ISC_STATUS isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                           const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                           ISC_ARRAY_DESC* desc) = 0;
  virtual ISC_STATUS isc_array_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                            const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                            ISC_ARRAY_DESC_V2* desc) = 0;
  virtual ISC_STATUS isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                        const short* sqlDtype, const short* sqlLength, const short* dimensions,
                                        ISC_ARRAY_DESC* desc) = 0;
  virtual ISC_STATUS isc_array_set_desc2(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                         const short* sqlDtype, const short* sqlLength, const short* dimensions,
                                         ISC_ARRAY_DESC_V2* desc) = 0;
  virtual ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                         const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) = 0;
  virtual ISC_STATUS isc_array_put_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                          const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) = 0;
  virtual void isc_blob_default_desc(ISC_BLOB_DESC* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) = 0;
  virtual void isc_blob_default_desc2(ISC_BLOB_DESC_V2* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) = 0;
  virtual ISC_STATUS isc_blob_gen_bpb(ISC_STATUS* status, const ISC_BLOB_DESC* to, const ISC_BLOB_DESC* from,
                                      unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer,
                                      unsigned short* bpbLength) = 0;
  virtual ISC_STATUS isc_blob_gen_bpb2(ISC_STATUS* status, const ISC_BLOB_DESC_V2* to, const ISC_BLOB_DESC_V2* from,
                                       unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer,
                                       unsigned short* bpbLength) = 0;
  virtual ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemLength,
                                   const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) = 0;
  virtual ISC_STATUS isc_blob_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                          const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC* desc,
                                          ISC_UCHAR* global) = 0;
  virtual ISC_STATUS isc_blob_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                           const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC_V2* desc,
                                           ISC_UCHAR* global) = 0;
  virtual ISC_STATUS isc_blob_set_desc(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field,
                                       short subtype, short charset, short segmentSize, ISC_BLOB_DESC* desc) = 0;
  virtual ISC_STATUS isc_blob_set_desc2(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field,
                                        short subtype, short charset, short segmentSize, ISC_BLOB_DESC_V2* desc) = 0;
  virtual ISC_STATUS isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) = 0;
  virtual ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId) = 0;
  virtual ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) = 0;
  virtual ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) = 0;
  virtual ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
  virtual ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob,
                                      ISC_QUAD* blobId, short bpbLength, const ISC_SCHAR* bpb) = 0;
  virtual ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemLength,
                                       const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) = 0;
  virtual void isc_decode_date(const ISC_QUAD* date, void* tmDate) = 0;
  virtual void isc_decode_sql_date(const ISC_DATE* date, void* tmDate) = 0;
  virtual void isc_decode_sql_time(const ISC_TIME* time, void* tmDate) = 0;
  virtual void isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) = 0;
  virtual ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) = 0;
  virtual ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) = 0;
  virtual ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* stmt) = 0;
  virtual ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                                       XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                                            XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                      unsigned short dialect, const XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                       unsigned short dialect, const XSQLDA* inSqlda, const XSQLDA* outSqlda) = 0;
  virtual ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                                unsigned short length, const ISC_SCHAR* statement,
                                                unsigned short dialect, const XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                                    const XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short option) = 0;
  virtual ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                      unsigned short length, const ISC_SCHAR* statement, unsigned short dialect,
                                      XSQLDA* sqlda) = 0;
  virtual ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt, const ISC_SCHAR* name,
                                              unsigned short type) = 0;
  virtual ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt, short itemLength,
                                       const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) = 0;
  virtual void isc_encode_date(const void* tmDate, ISC_QUAD* date) = 0;
  virtual void isc_encode_sql_date(const void* tmDate, ISC_DATE* date) = 0;
  virtual void isc_encode_sql_time(const void* tmDate, ISC_TIME* time) = 0;
  virtual void isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) = 0;
  // Passes the first fifteen of `names` (null where unused) after the count.
  virtual ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                                   const char* const names[15]) = 0;
  virtual void isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer,
                                const ISC_UCHAR* resultBuffer) = 0;
  virtual ISC_LONG isc_free(ISC_SCHAR* block) = 0;
  virtual ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* actualLength,
                                     unsigned short bufferLength, ISC_SCHAR* buffer) = 0;
  // Writes the message at `*cursor` into `buffer` (at least 1024 bytes) and
  // moves the cursor past it; 0 or less when no message is left.
  virtual ISC_LONG isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** cursor) = 0;
  virtual ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob,
                                    ISC_QUAD* blobId, ISC_USHORT bpbLength, const ISC_UCHAR* bpb) = 0;
  virtual ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT messageLength,
                                              const ISC_UCHAR* message) = 0;
  virtual ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length,
                                     const ISC_SCHAR* buffer) = 0;
  virtual ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId, short length,
                                    const ISC_UCHAR* eventBuffer, ISC_EVENT_CALLBACK callback, void* argument) = 0;
  virtual ISC_STATUS isc_release_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) = 0;
  virtual ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) = 0;
  virtual ISC_STATUS isc_rollback_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name,
                                            ISC_USHORT option) = 0;
  virtual ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
  virtual ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count, void* teb) = 0;
  virtual ISC_STATUS isc_start_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) = 0;
  virtual ISC_LONG isc_sqlcode(const ISC_STATUS* status) = 0;
  virtual void isc_sql_interprete(short sqlcode, ISC_SCHAR* buffer, short bufferLength) = 0;
  virtual ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) = 0;
  virtual ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                                  unsigned short dialect, ISC_ULONG count, char** statements,
                                                  ISC_ULONG* rowsAffected) = 0;
  virtual ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                            unsigned short dialect, XSQLDA* inSqlda, unsigned short rowCount,
                                            XSQLVAR** batchVars, ISC_ULONG* rowsAffected) = 0;
  virtual ISC_STATUS isc_add_user(ISC_STATUS* status, const USER_SEC_DATA* user) = 0;
  virtual ISC_STATUS isc_delete_user(ISC_STATUS* status, const USER_SEC_DATA* user) = 0;
  virtual ISC_STATUS isc_modify_user(ISC_STATUS* status, const USER_SEC_DATA* user) = 0;
  virtual ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) = 0;
  virtual int BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) = 0;
  virtual int BLOB_get(FB_BLOB_STREAM stream) = 0;
  virtual ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength, const ISC_SCHAR* name,
                                        isc_svc_handle* svc, unsigned short spbLength, const ISC_SCHAR* spb) = 0;
  virtual ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* svc) = 0;
  virtual ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved,
                                       unsigned short sendLength, const ISC_SCHAR* sendItems,
                                       unsigned short requestLength, const ISC_SCHAR* requestItems,
                                       unsigned short bufferLength, ISC_SCHAR* buffer) = 0;
  virtual ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved,
                                       unsigned short spbLength, const ISC_SCHAR* spb) = 0;
  virtual void isc_get_client_version(ISC_SCHAR* buffer) = 0;
  virtual int isc_get_client_major_version() = 0;
  virtual int isc_get_client_minor_version() = 0;
  virtual ISC_STATUS isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr, short itemLength,
                                          const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) = 0;
};

// The shared binding, created (not loaded) on first use and kept until the
// process ends. Every database component holds one reference.
std::shared_ptr<IGDSLibrary> AcquireClientLibrary();

// The XML extension, bound from its own library when the client library is
// loaded; without it each raises the 6.5 version text.
ISC_STATUS isc_dsql_xml_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                              IB_XMLDA* xmlda);
ISC_STATUS isc_dsql_xml_fetch_all(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                                  IB_XMLDA* xmlda);
ISC_STATUS isc_dsql_xml_buffer_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, ISC_SCHAR* buffer, int bufferSize,
                                     unsigned short dialect, XSQLDA* sqlda, IB_XMLDA* xmlda);

}  // namespace nemvo
