#include "db/DynamicLibrary.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "BuildConfig.h"
#include "db/ErrorReporting.h"
#include "db/IBErrors.h"
#include "platform/LibraryLoading.h"
#include "platform/SystemError.h"

namespace nemvo {

namespace {

using E = GDSEntryPoint;
using M = TMissingEntryPoint;

constexpr const char* EntryPointNames[] = {
#define NEMVO_NAME_ENTRY(name) #name,
    NEMVO_GDS_ENTRY_POINTS(NEMVO_NAME_ENTRY)
#undef NEMVO_NAME_ENTRY
};
static_assert(std::size(EntryPointNames) == GDSEntryPointCount);

const char* NameOf(E entry) { return EntryPointNames[static_cast<int>(entry)]; }

// Every client since the first that this program knows exports these.
constexpr E RequiredEntryPoints[] = {
    E::BLOB_get, E::BLOB_put, E::isc_sqlcode, E::isc_sql_interprete, E::isc_interprete, E::isc_vax_integer,
    E::isc_blob_info, E::isc_open_blob2, E::isc_close_blob, E::isc_get_segment, E::isc_put_segment,
    E::isc_create_blob2, E::isc_cancel_blob, E::isc_array_gen_sdl, E::isc_array_get_slice,
    E::isc_array_lookup_bounds, E::isc_array_lookup_desc, E::isc_array_set_desc, E::isc_array_put_slice,
    E::isc_blob_default_desc, E::isc_blob_gen_bpb, E::isc_blob_lookup_desc, E::isc_blob_set_desc,
    E::isc_decode_date, E::isc_encode_date, E::isc_dsql_free_statement, E::isc_dsql_execute2, E::isc_dsql_execute,
    E::isc_dsql_set_cursor_name, E::isc_dsql_fetch, E::isc_dsql_sql_info, E::isc_dsql_alloc_statement2,
    E::isc_dsql_prepare, E::isc_dsql_describe_bind, E::isc_dsql_describe, E::isc_dsql_execute_immediate,
    E::isc_drop_database, E::isc_detach_database, E::isc_attach_database, E::isc_database_info,
    E::isc_start_multiple, E::isc_commit_transaction, E::isc_commit_retaining, E::isc_rollback_transaction,
    E::isc_cancel_events, E::isc_que_events, E::isc_event_counts, E::isc_event_block, E::isc_free,
    E::isc_add_user, E::isc_delete_user, E::isc_modify_user, E::isc_prepare_transaction,
    E::isc_prepare_transaction2, E::isc_transaction_info,
};
static_assert(std::size(RequiredEntryPoints) == 55);

// Arrived with version 6, together with isc_rollback_retaining.
constexpr E Version6EntryPoints[] = {
    E::isc_service_attach,  E::isc_service_detach,  E::isc_service_query,    E::isc_service_start,
    E::isc_decode_sql_date, E::isc_decode_sql_time, E::isc_decode_timestamp, E::isc_encode_sql_date,
    E::isc_encode_sql_time, E::isc_encode_timestamp,
};
constexpr E ClientVersionEntryPoints[] = {E::isc_get_client_version, E::isc_get_client_major_version,
                                          E::isc_get_client_minor_version};
constexpr E Version70EntryPoints[] = {
    E::isc_array_gen_sdl2,    E::isc_array_get_slice2,   E::isc_array_lookup_bounds2, E::isc_array_lookup_desc2,
    E::isc_array_set_desc2,   E::isc_array_put_slice2,   E::isc_blob_default_desc2,   E::isc_blob_gen_bpb2,
    E::isc_blob_lookup_desc2, E::isc_blob_set_desc2,
};
constexpr E Version71EntryPoints[] = {E::isc_release_savepoint, E::isc_rollback_savepoint, E::isc_start_savepoint};
constexpr E Version80EntryPoints[] = {E::isc_dsql_batch_execute_immed, E::isc_dsql_batch_execute};

constexpr const char* XmlLibraryName = "libibxml.so";
constexpr const char* XmlEntryPointNames[] = {"isc_dsql_xml_fetch", "isc_dsql_xml_fetch_all",
                                              "isc_dsql_xml_buffer_fetch"};
enum XmlEntryPoint { xmlFetch, xmlFetchAll, xmlBufferFetch, XmlEntryPointCount };
using XmlFetchFunction = ISC_STATUS(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*, IB_XMLDA*);
using XmlBufferFetchFunction = ISC_STATUS(ISC_STATUS*, isc_stmt_handle*, ISC_SCHAR*, int, unsigned short, XSQLDA*,
                                          IB_XMLDA*);

// Process-wide: the binding is loaded once and shared by every component.
// The lock makes a load from a second thread wait instead of binding twice;
// every component calls EnsureClientLibrary before its first call, so its
// reads of the addresses come after the load.
struct BindingState {
  std::mutex lock;
  platform::LibraryHandle clientLibrary = nullptr;
  platform::LibraryHandle xmlLibrary = nullptr;
  int64_t clientVersion = 0;
  void* xmlAddress[XmlEntryPointCount] = {};
  M xmlMissing[XmlEntryPointCount] = {};
};

BindingState& Binding() {
  static BindingState state;
  return state;
}

[[noreturn]] void RaiseMissingEntryPoint(const char* name, M missing) {
  const char* text = nullptr;
  switch (missing) {
    case M::mpUnbound:
      RaiseClientError(ClientErrorKind::ceLibraryMissing);
    case M::mpNeedsVersion6:
      RaiseClientError(ClientErrorKind::ceNeedsVersion6, name);
    case M::mpVersion65:
      text = "%s \xE9 uma fun\xE7\xE3o do InterBase 6.5. Por favor atualize para o InterBase 6.5 para usar esta fun\xE7\xE3o.";
      break;
    case M::mpVersion70:
      text = "%s \xE9 uma fun\xE7\xE3o do InterBase 7.0. Por favor atualize para o InterBase 7.0 para usar esta fun\xE7\xE3o.";
      break;
    case M::mpVersion71:
      text = "%s \xE9 uma fun\xE7\xE3o do InterBase 7.1. Por favor atualize para o InterBase 7.1 para usar esta fun\xE7\xE3o.";
      break;
    case M::mpVersion80:
      text = "%s \xE9 uma fun\xE7\xE3o do InterBase 8.0. Por favor atualize para o InterBase 8.0 para usar esta fun\xE7\xE3o.";
      break;
  }
  // The batch entry points were named without the blank that all the others
  // get; messages that users already know keep that shape.
  std::string argument = name;
  if (std::strcmp(name, "isc_dsql_batch_execute_immed") != 0 && std::strcmp(name, "isc_dsql_batch_execute") != 0)
    argument += ' ';
  throw EIBClientError(0, 0, Format(text, argument));
}

[[noreturn]] void RaiseEntryPointNotFound() {
  throw EOSError::FromLastError(platform::LastErrorCode());
}

template <class F>
F* As(void* address) {
  static_assert(sizeof(F*) == sizeof(void*));
  F* function;
  std::memcpy(&function, &address, sizeof function);
  return function;
}

// The XML extension is looked for at its first use, not with the client
// library: no request of this program uses it, and the search of every
// library directory for a file that is normally absent cost each CGI process
// a tenth of a millisecond and 100 KiB of memory. A library that lacks one of
// the three entry points fails that call alone (and every later one, the
// same way), not every connection.
void BindXmlLocked() {
  BindingState& state = Binding();
  state.xmlLibrary = platform::LoadLibraryByName(XmlLibraryName);
  if (!state.xmlLibrary) {
    for (M& missing : state.xmlMissing) missing = M::mpVersion65;
    return;
  }
  for (int i = 0; i < XmlEntryPointCount; ++i) {
    state.xmlAddress[i] = platform::FindEntryPoint(state.xmlLibrary, XmlEntryPointNames[i]);
    if (!state.xmlAddress[i]) {
      const int error = platform::LastErrorCode();
      for (void*& address : state.xmlAddress) address = nullptr;
      platform::FreeLibrary(state.xmlLibrary);
      state.xmlLibrary = nullptr;
      throw EOSError::FromLastError(error);
    }
  }
}

void* XmlAddress(XmlEntryPoint entry) {
  BindingState& state = Binding();
  if (!state.xmlAddress[entry] && state.xmlMissing[entry] == M::mpUnbound) {
    AcquireClientLibrary()->EnsureClientLibrary();
    std::lock_guard guard(state.lock);
    if (!state.xmlAddress[entry] && state.xmlMissing[entry] == M::mpUnbound) BindXmlLocked();
  }
  if (state.xmlAddress[entry]) return state.xmlAddress[entry];
  RaiseMissingEntryPoint(XmlEntryPointNames[entry], state.xmlMissing[entry]);
}

}  // namespace

std::shared_ptr<IGDSLibrary> AcquireClientLibrary() {
  static const std::shared_ptr<IGDSLibrary> binding(new TDynamicLibrary);
  return binding;
}

void TDynamicLibrary::LoadClientLibrary() {
  std::lock_guard guard(Binding().lock);
  // Loaded at most once: connections, and the threads the library started,
  // may be using the loaded one.
  if (Binding().clientLibrary) return;
  BindLocked();
}

bool TDynamicLibrary::TryLoadClientLibrary() {
  std::lock_guard guard(Binding().lock);
  if (!Binding().clientLibrary) BindLocked();
  return Binding().clientLibrary != nullptr;
}

void TDynamicLibrary::EnsureClientLibrary() {
  if (!TryLoadClientLibrary()) RaiseClientError(ClientErrorKind::ceLibraryMissing);
}

int64_t TDynamicLibrary::ClientLibraryVersion() {
  EnsureClientLibrary();
  return Binding().clientVersion;
}

void TDynamicLibrary::UnloadClientLibrary() {
  BindingState& state = Binding();
  std::lock_guard guard(state.lock);
  UnbindAll();
  platform::FreeLibrary(state.clientLibrary);
  state.clientLibrary = nullptr;
  platform::FreeLibrary(state.xmlLibrary);
  state.xmlLibrary = nullptr;
}

void TDynamicLibrary::BindLocked() {
  BindingState& state = Binding();
  state.clientLibrary = platform::LoadLibraryByName(build::ClientLibrary);
  if (!state.clientLibrary) return;
  try {
    for (E entry : RequiredEntryPoints) Require(entry);

    if (LookUp(E::isc_rollback_retaining)) {
      state.clientVersion = 6 * ClientVersionScale;
      for (E entry : Version6EntryPoints) Require(entry);
    } else {
      state.clientVersion = 5 * ClientVersionScale;
      Replace(E::isc_rollback_retaining, M::mpNeedsVersion6);
      for (E entry : Version6EntryPoints) Replace(entry, M::mpNeedsVersion6);
    }

    if (LookUp(E::isc_get_client_version)) {
      Require(E::isc_get_client_major_version);
      Require(E::isc_get_client_minor_version);
      int major = As<decltype(::isc_get_client_major_version)>(fAddress[int(E::isc_get_client_major_version)])();
      int minor = As<decltype(::isc_get_client_minor_version)>(fAddress[int(E::isc_get_client_minor_version)])();
      state.clientVersion = std::llround((major + minor / 10.0) * double(ClientVersionScale));
    } else {
      for (E entry : ClientVersionEntryPoints) Replace(entry, M::mpVersion70);
    }

    const int64_t version = state.clientVersion;
    for (E entry : Version70EntryPoints) {
      if (version >= 70000) Require(entry);
      else Replace(entry, M::mpVersion70);
    }
    for (E entry : Version71EntryPoints) {
      if (version >= 71000) Require(entry);
      else Replace(entry, M::mpVersion71);
    }
    for (E entry : Version80EntryPoints) {
      if (version >= 80000) Require(entry);
      else Replace(entry, M::mpVersion80);
    }

  } catch (...) {
    // Half a binding would send some calls to the library and others to
    // nothing: drop it all, so that every later attempt fails the same way.
    UnbindAll();
    platform::FreeLibrary(state.clientLibrary);
    platform::FreeLibrary(state.xmlLibrary);
    state.clientLibrary = state.xmlLibrary = nullptr;
    throw;
  }
}

void TDynamicLibrary::UnbindAll() {
  BindingState& state = Binding();
  fAddress.fill(nullptr);
  fMissing.fill(M::mpUnbound);
  for (int i = 0; i < XmlEntryPointCount; ++i) {
    state.xmlAddress[i] = nullptr;
    state.xmlMissing[i] = M::mpUnbound;
  }
}

void TDynamicLibrary::Require(GDSEntryPoint entry) {
  if (!LookUp(entry)) RaiseEntryPointNotFound();
}

bool TDynamicLibrary::LookUp(GDSEntryPoint entry) {
  void* address = platform::FindEntryPoint(Binding().clientLibrary, NameOf(entry));
  fAddress[int(entry)] = address;
  fMissing[int(entry)] = M::mpUnbound;
  return address != nullptr;
}

void TDynamicLibrary::Replace(GDSEntryPoint entry, TMissingEntryPoint replacement) {
  fAddress[int(entry)] = nullptr;
  fMissing[int(entry)] = replacement;
}

void* TDynamicLibrary::Address(GDSEntryPoint entry) {
  const int i = int(entry);
  if (!fAddress[i] && fMissing[i] == M::mpUnbound) EnsureClientLibrary();
  if (fAddress[i]) return fAddress[i];
  RaiseMissingEntryPoint(NameOf(entry), fMissing[i]);
}

// Each operation forwards to the entry point of the same name, typed by the
// client library's own declaration.
#define NEMVO_BOUND(name) As<decltype(::name)>(Address(GDSEntryPoint::name))

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // isc_interprete is the documented way for this API
ISC_STATUS TDynamicLibrary::isc_attach_database(ISC_STATUS* status, short nameLength, const ISC_SCHAR* name, isc_db_handle* db, short dpbLength, const ISC_SCHAR* dpb) {
  return NEMVO_BOUND(isc_attach_database)(status, nameLength, name, db, dpbLength, dpb);
}

ISC_STATUS TDynamicLibrary::isc_array_gen_sdl2(ISC_STATUS* status, const ISC_ARRAY_DESC_V2* desc, ISC_SHORT* sdlBufferLength, ISC_UCHAR* sdlBuffer, ISC_SHORT* sdlLength) {
  return NEMVO_BOUND(isc_array_gen_sdl2)(status, desc, sdlBufferLength, sdlBuffer, sdlLength);
}

ISC_STATUS TDynamicLibrary::isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) {
  return NEMVO_BOUND(isc_array_get_slice)(status, db, tr, arrayId, desc, slice, sliceLength);
}

ISC_STATUS TDynamicLibrary::isc_array_get_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) {
  return NEMVO_BOUND(isc_array_get_slice2)(status, db, tr, arrayId, desc, slice, sliceLength);
}

ISC_STATUS TDynamicLibrary::isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) {
  return NEMVO_BOUND(isc_array_lookup_bounds)(status, db, tr, relation, field, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_lookup_bounds2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC_V2* desc) {
  return NEMVO_BOUND(isc_array_lookup_bounds2)(status, db, tr, relation, field, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC* desc) {
  return NEMVO_BOUND(isc_array_lookup_desc)(status, db, tr, relation, field, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_SCHAR* relation, const ISC_SCHAR* field, ISC_ARRAY_DESC_V2* desc) {
  return NEMVO_BOUND(isc_array_lookup_desc2)(status, db, tr, relation, field, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_set_desc(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field, const short* sqlDtype, const short* sqlLength, const short* dimensions, ISC_ARRAY_DESC* desc) {
  return NEMVO_BOUND(isc_array_set_desc)(status, relation, field, sqlDtype, sqlLength, dimensions, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_set_desc2(ISC_STATUS* status, const ISC_SCHAR* relation, const ISC_SCHAR* field, const short* sqlDtype, const short* sqlLength, const short* dimensions, ISC_ARRAY_DESC_V2* desc) {
  return NEMVO_BOUND(isc_array_set_desc2)(status, relation, field, sqlDtype, sqlLength, dimensions, desc);
}

ISC_STATUS TDynamicLibrary::isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC* desc, void* slice, ISC_LONG* sliceLength) {
  return NEMVO_BOUND(isc_array_put_slice)(status, db, tr, arrayId, desc, slice, sliceLength);
}

ISC_STATUS TDynamicLibrary::isc_array_put_slice2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* arrayId, const ISC_ARRAY_DESC_V2* desc, void* slice, ISC_LONG* sliceLength) {
  return NEMVO_BOUND(isc_array_put_slice2)(status, db, tr, arrayId, desc, slice, sliceLength);
}

void TDynamicLibrary::isc_blob_default_desc(ISC_BLOB_DESC* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) {
  NEMVO_BOUND(isc_blob_default_desc)(desc, relation, field);
}

void TDynamicLibrary::isc_blob_default_desc2(ISC_BLOB_DESC_V2* desc, const ISC_UCHAR* relation, const ISC_UCHAR* field) {
  NEMVO_BOUND(isc_blob_default_desc2)(desc, relation, field);
}

ISC_STATUS TDynamicLibrary::isc_blob_gen_bpb(ISC_STATUS* status, const ISC_BLOB_DESC* to, const ISC_BLOB_DESC* from, unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer, unsigned short* bpbLength) {
  return NEMVO_BOUND(isc_blob_gen_bpb)(status, to, from, bpbBufferLength, bpbBuffer, bpbLength);
}

ISC_STATUS TDynamicLibrary::isc_blob_gen_bpb2(ISC_STATUS* status, const ISC_BLOB_DESC_V2* to, const ISC_BLOB_DESC_V2* from, unsigned short bpbBufferLength, ISC_UCHAR* bpbBuffer, unsigned short* bpbLength) {
  return NEMVO_BOUND(isc_blob_gen_bpb2)(status, to, from, bpbBufferLength, bpbBuffer, bpbLength);
}

ISC_STATUS TDynamicLibrary::isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_blob_info)(status, blob, itemLength, items, bufferLength, buffer);
}

ISC_STATUS TDynamicLibrary::isc_blob_lookup_desc(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC* desc, ISC_UCHAR* global) {
  return NEMVO_BOUND(isc_blob_lookup_desc)(status, db, tr, relation, field, desc, global);
}

ISC_STATUS TDynamicLibrary::isc_blob_lookup_desc2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, const ISC_UCHAR* relation, const ISC_UCHAR* field, ISC_BLOB_DESC_V2* desc, ISC_UCHAR* global) {
  return NEMVO_BOUND(isc_blob_lookup_desc2)(status, db, tr, relation, field, desc, global);
}

ISC_STATUS TDynamicLibrary::isc_blob_set_desc(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype, short charset, short segmentSize, ISC_BLOB_DESC* desc) {
  return NEMVO_BOUND(isc_blob_set_desc)(status, relation, field, subtype, charset, segmentSize, desc);
}

ISC_STATUS TDynamicLibrary::isc_blob_set_desc2(ISC_STATUS* status, const ISC_UCHAR* relation, const ISC_UCHAR* field, short subtype, short charset, short segmentSize, ISC_BLOB_DESC_V2* desc) {
  return NEMVO_BOUND(isc_blob_set_desc2)(status, relation, field, subtype, charset, segmentSize, desc);
}

ISC_STATUS TDynamicLibrary::isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  return NEMVO_BOUND(isc_cancel_blob)(status, blob);
}

ISC_STATUS TDynamicLibrary::isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId) {
  return NEMVO_BOUND(isc_cancel_events)(status, db, eventId);
}

ISC_STATUS TDynamicLibrary::isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  return NEMVO_BOUND(isc_close_blob)(status, blob);
}

ISC_STATUS TDynamicLibrary::isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
  return NEMVO_BOUND(isc_commit_retaining)(status, tr);
}

ISC_STATUS TDynamicLibrary::isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  return NEMVO_BOUND(isc_commit_transaction)(status, tr);
}

ISC_STATUS TDynamicLibrary::isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* blobId, short bpbLength, const ISC_SCHAR* bpb) {
  return NEMVO_BOUND(isc_create_blob2)(status, db, tr, blob, blobId, bpbLength, bpb);
}

ISC_STATUS TDynamicLibrary::isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_database_info)(status, db, itemLength, items, bufferLength, buffer);
}

void TDynamicLibrary::isc_decode_date(const ISC_QUAD* date, void* tmDate) {
  NEMVO_BOUND(isc_decode_date)(date, tmDate);
}

void TDynamicLibrary::isc_decode_sql_date(const ISC_DATE* date, void* tmDate) {
  NEMVO_BOUND(isc_decode_sql_date)(date, tmDate);
}

void TDynamicLibrary::isc_decode_sql_time(const ISC_TIME* time, void* tmDate) {
  NEMVO_BOUND(isc_decode_sql_time)(time, tmDate);
}

void TDynamicLibrary::isc_decode_timestamp(const ISC_TIMESTAMP* timestamp, void* tmDate) {
  NEMVO_BOUND(isc_decode_timestamp)(timestamp, tmDate);
}

ISC_STATUS TDynamicLibrary::isc_detach_database(ISC_STATUS* status, isc_db_handle* db) {
  return NEMVO_BOUND(isc_detach_database)(status, db);
}

ISC_STATUS TDynamicLibrary::isc_drop_database(ISC_STATUS* status, isc_db_handle* db) {
  return NEMVO_BOUND(isc_drop_database)(status, db);
}

ISC_STATUS TDynamicLibrary::isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* stmt) {
  return NEMVO_BOUND(isc_dsql_alloc_statement2)(status, db, stmt);
}

ISC_STATUS TDynamicLibrary::isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_describe)(status, stmt, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_describe_bind)(status, stmt, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_execute)(status, tr, stmt, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* inSqlda, const XSQLDA* outSqlda) {
  return NEMVO_BOUND(isc_dsql_execute2)(status, tr, stmt, dialect, inSqlda, outSqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short length, const ISC_SCHAR* statement, unsigned short dialect, const XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_execute_immediate)(status, db, tr, length, statement, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_fetch)(status, stmt, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short option) {
  return NEMVO_BOUND(isc_dsql_free_statement)(status, stmt, option);
}

ISC_STATUS TDynamicLibrary::isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short length, const ISC_SCHAR* statement, unsigned short dialect, XSQLDA* sqlda) {
  return NEMVO_BOUND(isc_dsql_prepare)(status, tr, stmt, length, statement, dialect, sqlda);
}

ISC_STATUS TDynamicLibrary::isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* stmt, const ISC_SCHAR* name, unsigned short type) {
  return NEMVO_BOUND(isc_dsql_set_cursor_name)(status, stmt, name, type);
}

ISC_STATUS TDynamicLibrary::isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_dsql_sql_info)(status, stmt, itemLength, items, bufferLength, buffer);
}

void TDynamicLibrary::isc_encode_date(const void* tmDate, ISC_QUAD* date) {
  NEMVO_BOUND(isc_encode_date)(tmDate, date);
}

void TDynamicLibrary::isc_encode_sql_date(const void* tmDate, ISC_DATE* date) {
  NEMVO_BOUND(isc_encode_sql_date)(tmDate, date);
}

void TDynamicLibrary::isc_encode_sql_time(const void* tmDate, ISC_TIME* time) {
  NEMVO_BOUND(isc_encode_sql_time)(tmDate, time);
}

void TDynamicLibrary::isc_encode_timestamp(const void* tmDate, ISC_TIMESTAMP* timestamp) {
  NEMVO_BOUND(isc_encode_timestamp)(tmDate, timestamp);
}

ISC_LONG TDynamicLibrary::isc_event_block(ISC_UCHAR** eventBuffer, ISC_UCHAR** resultBuffer, ISC_USHORT count, const char* const names[15]) {
  return NEMVO_BOUND(isc_event_block)(eventBuffer, resultBuffer, count, names[0], names[1], names[2], names[3], names[4],
      names[5], names[6], names[7], names[8], names[9], names[10], names[11], names[12], names[13], names[14]);
}

void TDynamicLibrary::isc_event_counts(ISC_ULONG* counts, short bufferLength, ISC_UCHAR* eventBuffer, const ISC_UCHAR* resultBuffer) {
  NEMVO_BOUND(isc_event_counts)(counts, bufferLength, eventBuffer, resultBuffer);
}

ISC_LONG TDynamicLibrary::isc_free(ISC_SCHAR* block) {
  return NEMVO_BOUND(isc_free)(block);
}

ISC_STATUS TDynamicLibrary::isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* actualLength, unsigned short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_get_segment)(status, blob, actualLength, bufferLength, buffer);
}

ISC_LONG TDynamicLibrary::isc_interprete(ISC_SCHAR* buffer, const ISC_STATUS** cursor) {
  return NEMVO_BOUND(isc_interprete)(buffer, const_cast<ISC_STATUS**>(cursor));
}

ISC_STATUS TDynamicLibrary::isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* blobId, ISC_USHORT bpbLength, const ISC_UCHAR* bpb) {
  return NEMVO_BOUND(isc_open_blob2)(status, db, tr, blob, blobId, bpbLength, bpb);
}

ISC_STATUS TDynamicLibrary::isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT messageLength, const ISC_UCHAR* message) {
  return NEMVO_BOUND(isc_prepare_transaction2)(status, tr, messageLength, message);
}

ISC_STATUS TDynamicLibrary::isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length, const ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_put_segment)(status, blob, length, buffer);
}

ISC_STATUS TDynamicLibrary::isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* eventId, short length, const ISC_UCHAR* eventBuffer, ISC_EVENT_CALLBACK callback, void* argument) {
  return NEMVO_BOUND(isc_que_events)(status, db, eventId, length, eventBuffer, callback, argument);
}

ISC_STATUS TDynamicLibrary::isc_release_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) {
  return NEMVO_BOUND(isc_release_savepoint)(status, tr, name);
}

ISC_STATUS TDynamicLibrary::isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
  return NEMVO_BOUND(isc_rollback_retaining)(status, tr);
}

ISC_STATUS TDynamicLibrary::isc_rollback_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name, ISC_USHORT option) {
  return NEMVO_BOUND(isc_rollback_savepoint)(status, tr, name, option);
}

ISC_STATUS TDynamicLibrary::isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  return NEMVO_BOUND(isc_rollback_transaction)(status, tr);
}

ISC_STATUS TDynamicLibrary::isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count, void* teb) {
  return NEMVO_BOUND(isc_start_multiple)(status, tr, count, teb);
}

ISC_STATUS TDynamicLibrary::isc_start_savepoint(ISC_STATUS* status, isc_tr_handle* tr, const ISC_SCHAR* name) {
  return NEMVO_BOUND(isc_start_savepoint)(status, tr, name);
}

ISC_LONG TDynamicLibrary::isc_sqlcode(const ISC_STATUS* status) {
  return NEMVO_BOUND(isc_sqlcode)(status);
}

void TDynamicLibrary::isc_sql_interprete(short sqlcode, ISC_SCHAR* buffer, short bufferLength) {
  NEMVO_BOUND(isc_sql_interprete)(sqlcode, buffer, bufferLength);
}

ISC_LONG TDynamicLibrary::isc_vax_integer(const ISC_SCHAR* bytes, short length) {
  return NEMVO_BOUND(isc_vax_integer)(bytes, length);
}

ISC_STATUS TDynamicLibrary::isc_dsql_batch_execute_immed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short dialect, ISC_ULONG count, char** statements, ISC_ULONG* rowsAffected) {
  return NEMVO_BOUND(isc_dsql_batch_execute_immed)(status, db, tr, dialect, count, statements, rowsAffected);
}

ISC_STATUS TDynamicLibrary::isc_dsql_batch_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* inSqlda, unsigned short rowCount, XSQLVAR** batchVars, ISC_ULONG* rowsAffected) {
  return NEMVO_BOUND(isc_dsql_batch_execute)(status, tr, stmt, dialect, inSqlda, rowCount, batchVars, rowsAffected);
}

ISC_STATUS TDynamicLibrary::isc_add_user(ISC_STATUS* status, const USER_SEC_DATA* user) {
  return NEMVO_BOUND(isc_add_user)(status, user);
}

ISC_STATUS TDynamicLibrary::isc_delete_user(ISC_STATUS* status, const USER_SEC_DATA* user) {
  return NEMVO_BOUND(isc_delete_user)(status, user);
}

ISC_STATUS TDynamicLibrary::isc_modify_user(ISC_STATUS* status, const USER_SEC_DATA* user) {
  return NEMVO_BOUND(isc_modify_user)(status, user);
}

ISC_STATUS TDynamicLibrary::isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  return NEMVO_BOUND(isc_prepare_transaction)(status, tr);
}

int TDynamicLibrary::BLOB_put(ISC_SCHAR c, FB_BLOB_STREAM stream) {
  return NEMVO_BOUND(BLOB_put)(c, stream);
}

int TDynamicLibrary::BLOB_get(FB_BLOB_STREAM stream) {
  return NEMVO_BOUND(BLOB_get)(stream);
}

ISC_STATUS TDynamicLibrary::isc_service_attach(ISC_STATUS* status, unsigned short nameLength, const ISC_SCHAR* name, isc_svc_handle* svc, unsigned short spbLength, const ISC_SCHAR* spb) {
  return NEMVO_BOUND(isc_service_attach)(status, nameLength, name, svc, spbLength, spb);
}

ISC_STATUS TDynamicLibrary::isc_service_detach(ISC_STATUS* status, isc_svc_handle* svc) {
  return NEMVO_BOUND(isc_service_detach)(status, svc);
}

ISC_STATUS TDynamicLibrary::isc_service_query(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved, unsigned short sendLength, const ISC_SCHAR* sendItems, unsigned short requestLength, const ISC_SCHAR* requestItems, unsigned short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_service_query)(status, svc, reserved, sendLength, sendItems, requestLength, requestItems, bufferLength, buffer);
}

ISC_STATUS TDynamicLibrary::isc_service_start(ISC_STATUS* status, isc_svc_handle* svc, isc_resv_handle* reserved, unsigned short spbLength, const ISC_SCHAR* spb) {
  return NEMVO_BOUND(isc_service_start)(status, svc, reserved, spbLength, spb);
}

void TDynamicLibrary::isc_get_client_version(ISC_SCHAR* buffer) {
  NEMVO_BOUND(isc_get_client_version)(buffer);
}

int TDynamicLibrary::isc_get_client_major_version() {
  return NEMVO_BOUND(isc_get_client_major_version)();
}

int TDynamicLibrary::isc_get_client_minor_version() {
  return NEMVO_BOUND(isc_get_client_minor_version)();
}

ISC_STATUS TDynamicLibrary::isc_transaction_info(ISC_STATUS* status, isc_tr_handle* tr, short itemLength, const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  return NEMVO_BOUND(isc_transaction_info)(status, tr, itemLength, items, bufferLength, buffer);
}

#pragma GCC diagnostic pop

#undef NEMVO_BOUND

ISC_STATUS isc_dsql_xml_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                              IB_XMLDA* xmlda) {
  return As<XmlFetchFunction>(XmlAddress(xmlFetch))(status, stmt, dialect, sqlda, xmlda);
}

ISC_STATUS isc_dsql_xml_fetch_all(ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda,
                                  IB_XMLDA* xmlda) {
  return As<XmlFetchFunction>(XmlAddress(xmlFetchAll))(status, stmt, dialect, sqlda, xmlda);
}

ISC_STATUS isc_dsql_xml_buffer_fetch(ISC_STATUS* status, isc_stmt_handle* stmt, ISC_SCHAR* buffer, int bufferSize,
                                     unsigned short dialect, XSQLDA* sqlda, IB_XMLDA* xmlda) {
  return As<XmlBufferFetchFunction>(XmlAddress(xmlBufferFetch))(status, stmt, buffer, bufferSize,
                                                                               dialect, sqlda, xmlda);
}

}  // namespace nemvo
