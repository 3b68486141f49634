#pragma once
// The binding behind IGDSLibrary: one code address per entry point, filled
// by LoadClientLibrary. The library's handle, its version and the XML
// extension are process-wide, so there is only ever one binding, handed out
// by AcquireClientLibrary.
#include <array>
#include <cstdint>
#include <memory>

#include "db/GDSLibrary.h"

namespace nemvo {

// Every entry point the binding knows, in no particular order.
#define NEMVO_GDS_ENTRY_POINTS(X)                                                                                  \
  X(BLOB_get) X(BLOB_put) X(isc_sqlcode) X(isc_sql_interprete) X(isc_interprete) X(isc_vax_integer)               \
  X(isc_blob_info) X(isc_open_blob2) X(isc_close_blob) X(isc_get_segment) X(isc_put_segment) X(isc_create_blob2)  \
  X(isc_cancel_blob) X(isc_array_gen_sdl) X(isc_array_get_slice) X(isc_array_lookup_bounds)                       \
  X(isc_array_lookup_desc) X(isc_array_set_desc) X(isc_array_put_slice) X(isc_blob_default_desc)                  \
  X(isc_blob_gen_bpb) X(isc_blob_lookup_desc) X(isc_blob_set_desc) X(isc_decode_date) X(isc_encode_date)          \
  X(isc_dsql_free_statement) X(isc_dsql_execute2) X(isc_dsql_execute) X(isc_dsql_set_cursor_name)                 \
  X(isc_dsql_fetch) X(isc_dsql_sql_info) X(isc_dsql_alloc_statement2) X(isc_dsql_prepare)                         \
  X(isc_dsql_describe_bind) X(isc_dsql_describe) X(isc_dsql_execute_immediate) X(isc_drop_database)               \
  X(isc_detach_database) X(isc_attach_database) X(isc_database_info) X(isc_start_multiple)                        \
  X(isc_commit_transaction) X(isc_commit_retaining) X(isc_rollback_transaction) X(isc_cancel_events)              \
  X(isc_que_events) X(isc_event_counts) X(isc_event_block) X(isc_free) X(isc_add_user) X(isc_delete_user)         \
  X(isc_modify_user) X(isc_prepare_transaction) X(isc_prepare_transaction2) X(isc_transaction_info)               \
  X(isc_rollback_retaining) X(isc_service_attach) X(isc_service_detach) X(isc_service_query)                      \
  X(isc_service_start) X(isc_decode_sql_date) X(isc_decode_sql_time) X(isc_decode_timestamp)                      \
  X(isc_encode_sql_date) X(isc_encode_sql_time) X(isc_encode_timestamp) X(isc_get_client_version)                 \
  X(isc_get_client_major_version) X(isc_get_client_minor_version) X(isc_array_gen_sdl2)                           \
  X(isc_array_get_slice2) X(isc_array_lookup_bounds2) X(isc_array_lookup_desc2) X(isc_array_set_desc2)            \
  X(isc_array_put_slice2) X(isc_blob_default_desc2) X(isc_blob_gen_bpb2) X(isc_blob_lookup_desc2)                 \
  X(isc_blob_set_desc2) X(isc_release_savepoint) X(isc_rollback_savepoint) X(isc_start_savepoint)                 \
  X(isc_dsql_batch_execute_immed) X(isc_dsql_batch_execute)

enum class GDSEntryPoint : int {
#define NEMVO_ENUM_ENTRY(name) name,
  NEMVO_GDS_ENTRY_POINTS(NEMVO_ENUM_ENTRY)
#undef NEMVO_ENUM_ENTRY
      Count
};
inline constexpr int GDSEntryPointCount = static_cast<int>(GDSEntryPoint::Count);

// What an entry point that the client lacks raises when it is called.
enum class TMissingEntryPoint : uint8_t {
  mpUnbound,      // nothing bound: the library is not loaded
  mpNeedsVersion6,
  mpVersion65,
  mpVersion70,
  mpVersion71,
  mpVersion80,
};

class TDynamicLibrary final : public IGDSLibrary {
 public:
  void LoadClientLibrary() override;
  void UnloadClientLibrary() override;
  bool TryLoadClientLibrary() override;
  void EnsureClientLibrary() override;
  int64_t ClientLibraryVersion() override;

  ISC_STATUS isc_attach_database(ISC_STATUS* status, short nameLength, const ISC_SCHAR* name, isc_db_handle* db,
                                 short dpbLength, const ISC_SCHAR* dpb) override;
  ISC_STATUS isc_array_gen_sdl2(ISC_STATUS* status, const ISC_ARRAY_DESC_V2* desc, ISC_SHORT* sdlBufferLength,
                                ISC_UCHAR* sdlBuffer, ISC_SHORT* sdlLength) override;
  ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                 const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) override;
  ISC_STATUS isc_array_get_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                  const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) override;
  ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                     const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) override;
  ISC_STATUS isc_array_lookup_bounds2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                      const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                      ISC_ARRAY_DESC_V2* desc) override;
  ISC_STATUS isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation,
                                   const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) override;
  ISC_STATUS isc_array_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                    const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                    ISC_ARRAY_DESC_V2* desc) override;
  ISC_STATUS isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                const short* sqlDtype, const short* sqlLength, const short* dimensions,
                                ISC_ARRAY_DESC* desc) override;
  ISC_STATUS isc_array_set_desc2(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                 const short* sqlDtype, const short* sqlLength, const short* dimensions,
                                 ISC_ARRAY_DESC_V2* desc) override;
  ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                 const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) override;
  ISC_STATUS isc_array_put_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId,
                                  const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) override;
  void isc_blob_default_desc(ISC_BLOB_DESC* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) override;
  void isc_blob_default_desc2(ISC_BLOB_DESC_V2* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) override;
  ISC_STATUS isc_blob_gen_bpb(ISC_STATUS* status, const ISC_BLOB_DESC* to, const ISC_BLOB_DESC* from,
                              unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer,
                              unsigned short* bpbLength) override;
  ISC_STATUS isc_blob_gen_bpb2(ISC_STATUS* status, const ISC_BLOB_DESC_V2* to, const ISC_BLOB_DESC_V2* from,
                               unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer,
                               unsigned short* bpbLength) override;
  ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemLength, const ISC_SCHAR* items,
                           short bufferLength, ISC_SCHAR* buffer) override;
  ISC_STATUS isc_blob_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_UCHAR* relation,
                                  const ISC_UCHAR* field, ISC_BLOB_DESC* desc, ISC_UCHAR* global) override;
  ISC_STATUS isc_blob_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                   const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC_V2* desc,
                                   ISC_UCHAR* global) override;
  ISC_STATUS isc_blob_set_desc(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype,
                               short charset, short segmentSize, ISC_BLOB_DESC* desc) override;
  ISC_STATUS isc_blob_set_desc2(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype,
                                short charset, short segmentSize, ISC_BLOB_DESC_V2* desc) override;
  ISC_STATUS isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) override;
  ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId) override;
  ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) override;
  ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) override;
  ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
  ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob,
                              ISC_QUAD* blobId, short bpbLength, const ISC_SCHAR* bpb) override;
  ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemLength, const ISC_SCHAR* items,
                               short bufferLength, ISC_SCHAR* buffer) override;
  void isc_decode_date(const ISC_QUAD* date, void* tmDate) override;
  void isc_decode_sql_date(const ISC_DATE* date, void* tmDate) override;
  void isc_decode_sql_time(const ISC_TIME* time, void* tmDate) override;
  void isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) override;
  ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) override;
  ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) override;
  ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* stmt) override;
  ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                               XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                                    XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect,
                              const XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect,
                               const XSQLDA* inSqlda, const XSQLDA* outSqlda) override;
  ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                        unsigned short length, const ISC_SCHAR* statement, unsigned short dialect,
                                        const XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect,
                            const XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short option) override;
  ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short length,
                              const ISC_SCHAR* statement, unsigned short dialect, XSQLDA* sqlda) override;
  ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt, const ISC_SCHAR* name,
                                      unsigned short type) override;
  ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt, short itemLength, const ISC_SCHAR* items,
                               short bufferLength, ISC_SCHAR* buffer) override;
  void isc_encode_date(const void* tmDate, ISC_QUAD* date) override;
  void isc_encode_sql_date(const void* tmDate, ISC_DATE* date) override;
  void isc_encode_sql_time(const void* tmDate, ISC_TIME* time) override;
  void isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) override;
  ISC_LONG isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count,
                           const char* const names[15]) override;
  void isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer,
                        const ISC_UCHAR* resultBuffer) override;
  ISC_LONG isc_free(ISC_SCHAR* block) override;
  ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* actualLength,
                             unsigned short bufferLength, ISC_SCHAR* buffer) override;
  ISC_LONG isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** cursor) override;
  ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob,
                            ISC_QUAD* blobId, ISC_USHORT bpbLength, const ISC_UCHAR* bpb) override;
  ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT messageLength,
                                      const ISC_UCHAR* message) override;
  ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length,
                             const ISC_SCHAR* buffer) override;
  ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId, short length,
                            const ISC_UCHAR* eventBuffer, ISC_EVENT_CALLBACK callback, void* argument) override;
  ISC_STATUS isc_release_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) override;
  ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) override;
  ISC_STATUS isc_rollback_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name,
                                    ISC_USHORT option) override;
  ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
  ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count, void* teb) override;
  ISC_STATUS isc_start_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) override;
  ISC_LONG isc_sqlcode(const ISC_STATUS* status) override;
  void isc_sql_interprete(short sqlcode, ISC_SCHAR* buffer, short bufferLength) override;
  ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) override;
  ISC_STATUS isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                          unsigned short dialect, ISC_ULONG count, char** statements,
                                          ISC_ULONG* rowsAffected) override;
  ISC_STATUS isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt,
                                    unsigned short dialect, XSQLDA* inSqlda, unsigned short rowCount,
                                    XSQLVAR** batchVars, ISC_ULONG* rowsAffected) override;
  ISC_STATUS isc_add_user(ISC_STATUS* status, const USER_SEC_DATA* user) override;
  ISC_STATUS isc_delete_user(ISC_STATUS* status, const USER_SEC_DATA* user) override;
  ISC_STATUS isc_modify_user(ISC_STATUS* status, const USER_SEC_DATA* user) override;
  ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) override;
  int BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) override;
  int BLOB_get(FB_BLOB_STREAM stream) override;
  ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short nameLength, const ISC_SCHAR* name,
                                isc_svc_handle* svc, unsigned short spbLength, const ISC_SCHAR* spb) override;
  ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* svc) override;
  ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved,
                               unsigned short sendLength, const ISC_SCHAR* sendItems, unsigned short requestLength,
                               const ISC_SCHAR* requestItems, unsigned short bufferLength,
                               ISC_SCHAR* buffer) override;
  ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved,
                               unsigned short spbLength, const ISC_SCHAR* spb) override;
  void isc_get_client_version(ISC_SCHAR* buffer) override;
  int isc_get_client_major_version() override;
  int isc_get_client_minor_version() override;
  ISC_STATUS isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr, short itemLength, const ISC_SCHAR* items,
                                  short bufferLength, ISC_SCHAR* buffer) override;

 private:
  friend std::shared_ptr<IGDSLibrary> AcquireClientLibrary();
  TDynamicLibrary() = default;

  void BindLocked();
  void UnbindAll();
  void Require(GDSEntryPoint entry);
  bool LookUp(GDSEntryPoint entry);
  void Replace(GDSEntryPoint entry, TMissingEntryPoint replacement);
  // The bound address of `entry`; raises what its replacement raises when it
  // has none.
  void* Address(GDSEntryPoint entry);

  std::array<void*, GDSEntryPointCount> fAddress{};
  std::array<TMissingEntryPoint, GDSEntryPointCount> fMissing{};
};

}  // namespace nemvo
