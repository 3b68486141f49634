#pragma once
// Declarations of the client-library entry points that newer InterBase
// clients offer and the Firebird headers lack: the second-generation array
// and blob descriptors, savepoints, batches and the XML extension. Nothing in
// this program calls them; the binding only has to name and forward them.
#include <ibase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  short array_desc_version;
  ISC_UCHAR array_desc_dtype;
  ISC_SCHAR array_desc_scale;
  unsigned short array_desc_length;
  ISC_SCHAR array_desc_field_name[68];
  ISC_SCHAR array_desc_relation_name[68];
  short array_desc_dimensions;
  short array_desc_flags;
  ISC_ARRAY_BOUND array_desc_bounds[16];
} ISC_ARRAY_DESC_V2;

typedef struct {
  short blob_desc_version;
  short blob_desc_subtype;
  short blob_desc_charset;
  short blob_desc_segment_size;
  ISC_UCHAR blob_desc_field_name[68];
  ISC_UCHAR blob_desc_relation_name[68];
} ISC_BLOB_DESC_V2;

// The XML extension's descriptor; only ever passed by address.
struct IB_XMLDA;

// Prototypes only: the binding takes their types, never links them.
ISC_STATUS ISC_EXPORT isc_array_gen_sdl2(ISC_STATUS*, const ISC_ARRAY_DESC_V2*, ISC_SHORT*, ISC_UCHAR*, ISC_SHORT*);
ISC_STATUS ISC_EXPORT isc_array_get_slice2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC_V2*, void*, ISC_LONG*);
ISC_STATUS ISC_EXPORT isc_array_lookup_bounds2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                               const ISC_SCHAR*, ISC_ARRAY_DESC_V2*);
ISC_STATUS ISC_EXPORT isc_array_lookup_desc2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*,
                                             const ISC_SCHAR*, ISC_ARRAY_DESC_V2*);
ISC_STATUS ISC_EXPORT isc_array_set_desc2(ISC_STATUS*, const ISC_SCHAR*, const ISC_SCHAR*, const short*, const short*,
                                          const short*, ISC_ARRAY_DESC_V2*);
ISC_STATUS ISC_EXPORT isc_array_put_slice2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*,
                                           const ISC_ARRAY_DESC_V2*, void*, ISC_LONG*);
void ISC_EXPORT isc_blob_default_desc2(ISC_BLOB_DESC_V2*, const ISC_UCHAR*, const ISC_UCHAR*);
ISC_STATUS ISC_EXPORT isc_blob_gen_bpb2(ISC_STATUS*, const ISC_BLOB_DESC_V2*, const ISC_BLOB_DESC_V2*, unsigned short,
                                        ISC_UCHAR*, unsigned short*);
ISC_STATUS ISC_EXPORT isc_blob_lookup_desc2(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_UCHAR*,
                                            const ISC_UCHAR*, ISC_BLOB_DESC_V2*, ISC_UCHAR*);
ISC_STATUS ISC_EXPORT isc_blob_set_desc2(ISC_STATUS*, const ISC_UCHAR*, const ISC_UCHAR*, short, short, short,
                                         ISC_BLOB_DESC_V2*);
ISC_STATUS ISC_EXPORT isc_start_savepoint(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*);
ISC_STATUS ISC_EXPORT isc_release_savepoint(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*);
ISC_STATUS ISC_EXPORT isc_rollback_savepoint(ISC_STATUS*, isc_tr_handle*, const ISC_SCHAR*, ISC_USHORT);
ISC_STATUS ISC_EXPORT isc_dsql_batch_execute_immed(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                                   ISC_ULONG, char**, ISC_ULONG*);
ISC_STATUS ISC_EXPORT isc_dsql_batch_execute(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, XSQLDA*,
                                             unsigned short, XSQLVAR**, ISC_ULONG*);

#ifdef __cplusplus
}  // extern "C"
#endif
