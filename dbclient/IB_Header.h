// Declarations of the database client library's C interface as this library uses it:
// basic types, handles, the descriptor structures (XSQLDA, XSQLVAR, array and blob
// descriptors), the constants of the parameter blocks, the information items and the
// status codes, and one function-pointer type per entry point.
//
// The layout is that of the 64-bit client library on Linux x86-64: ISC_STATUS is as
// wide as a pointer, handles are 32-bit, an XSQLVAR is 160 bytes. Nothing here links
// the client library; its entry points are bound at run time (IB_Session).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelvar {

// --- Basic types ---------------------------------------------------------------------

using ISC_SCHAR = char;
using ISC_UCHAR = unsigned char;
using ISC_SHORT = int16_t;
using ISC_USHORT = uint16_t;
using ISC_LONG = int32_t;
using ISC_ULONG = uint32_t;
using ISC_INT64 = long long;
using ISC_UINT64 = unsigned long long;
using ISC_DATE = int32_t;
using ISC_TIME = uint32_t;
using ISC_BOOLEAN = ISC_UCHAR;

// One word of a status vector: pointer-sized, because argument words carry pointers.
using ISC_STATUS = intptr_t;
constexpr int ISC_STATUS_LENGTH = 20;
using ISC_STATUS_ARRAY = ISC_STATUS[ISC_STATUS_LENGTH];

// Handles are 32-bit numbers handed out by the client library; 0 means none.
using FB_API_HANDLE = uint32_t;
using isc_att_handle = FB_API_HANDLE;
using isc_blob_handle = FB_API_HANDLE;
using isc_db_handle = FB_API_HANDLE;
using isc_req_handle = FB_API_HANDLE;
using isc_stmt_handle = FB_API_HANDLE;
using isc_svc_handle = FB_API_HANDLE;
using isc_tr_handle = FB_API_HANDLE;
using isc_resv_handle = ISC_LONG;

// A blob or array id; all zero means no stored value.
struct ISC_QUAD {
  ISC_LONG gds_quad_high;
  ISC_ULONG gds_quad_low;
};

// A server timestamp: day number (1858-11-17 is day 0) and time of day in 1/10000 s.
struct ISC_TIMESTAMP {
  ISC_DATE timestamp_date;
  ISC_TIME timestamp_time;
};

// --- Dynamic SQL descriptors -----------------------------------------------------------

struct XSQLVAR {
  ISC_SHORT sqltype;      // data type; bit 0 set means nullable
  ISC_SHORT sqlscale;     // power of ten of an exact numeric
  ISC_SHORT sqlsubtype;   // blob sub-type or character set
  ISC_SHORT sqllen;       // length of the data at sqldata
  ISC_SCHAR* sqldata;     // the value
  ISC_SHORT* sqlind;      // null indicator: -1 null, 0 not null
  ISC_SHORT sqlname_length;
  ISC_SCHAR sqlname[32];
  ISC_SHORT relname_length;
  ISC_SCHAR relname[32];
  ISC_SHORT ownname_length;
  ISC_SCHAR ownname[32];
  ISC_SHORT aliasname_length;
  ISC_SCHAR aliasname[32];
};
using PXSQLVAR = XSQLVAR*;

struct XSQLDA {
  ISC_SHORT version;      // SQLDA_VERSION1
  ISC_SCHAR sqldaid[8];   // reserved
  ISC_LONG sqldabc;       // reserved
  ISC_SHORT sqln;         // number of entries allocated
  ISC_SHORT sqld;         // number of entries in use
  XSQLVAR sqlvar[1];      // sqln entries follow
};
using PXSQLDA = XSQLDA*;

constexpr ISC_SHORT SQLDA_VERSION1 = 1;

// Bytes to allocate (zero-filled) for an XSQLDA of N entries. Sized from the real
// layout of the structures, with the same spare room at the end as the library has
// always left after the last entry. Raises ERangeError for a negative N.
int32_t XSQLDA_LENGTH(int16_t N);
// The spare bytes behind the last entry of every XSQLDA buffer.
constexpr int32_t XSQLDA_SPARE = 296;

// --- Array and blob descriptors -----------------------------------------------------

struct ISC_ARRAY_BOUND {
  int16_t array_bound_lower;
  int16_t array_bound_upper;
};

struct ISC_ARRAY_DESC {
  ISC_UCHAR array_desc_dtype;
  ISC_SCHAR array_desc_scale;
  uint16_t array_desc_length;
  ISC_SCHAR array_desc_field_name[32];
  ISC_SCHAR array_desc_relation_name[32];
  int16_t array_desc_dimensions;
  int16_t array_desc_flags;
  ISC_ARRAY_BOUND array_desc_bounds[16];
};
using PISC_ARRAY_DESC = ISC_ARRAY_DESC*;

struct ISC_BLOB_DESC {
  int16_t blob_desc_subtype;
  int16_t blob_desc_charset;
  int16_t blob_desc_segment_size;
  ISC_UCHAR blob_desc_field_name[32];
  ISC_UCHAR blob_desc_relation_name[32];
};
using PISC_BLOB_DESC = ISC_BLOB_DESC*;

// One entry of the transaction-existence vector of isc_start_multiple.
struct ISC_TEB {
  isc_db_handle* db_ptr;
  ISC_LONG tpb_len;
  const ISC_SCHAR* tpb_ptr;
};

// The user record of the user-management calls.
struct USER_SEC_DATA {
  short sec_flags;
  int uid;
  int gid;
  int protocol;
  char* server;
  char* user_name;
  char* password;
  char* group_name;
  char* first_name;
  char* middle_name;
  char* last_name;
  char* dba_user_name;
  char* dba_password;
};

using ISC_EVENT_CALLBACK = void (*)(void*, ISC_USHORT, const ISC_UCHAR*);

// --- SQL data types (XSQLVAR.sqltype without the nullable bit) ----------------------

constexpr int16_t SQL_TEXT = 452;
constexpr int16_t SQL_VARYING = 448;
constexpr int16_t SQL_SHORT = 500;
constexpr int16_t SQL_LONG = 496;
constexpr int16_t SQL_FLOAT = 482;
constexpr int16_t SQL_DOUBLE = 480;
constexpr int16_t SQL_D_FLOAT = 530;
constexpr int16_t SQL_TIMESTAMP = 510;
constexpr int16_t SQL_BLOB = 520;
constexpr int16_t SQL_ARRAY = 540;
constexpr int16_t SQL_QUAD = 550;
constexpr int16_t SQL_TYPE_TIME = 560;
constexpr int16_t SQL_TYPE_DATE = 570;
constexpr int16_t SQL_INT64 = 580;
constexpr int16_t SQL_BOOLEAN = 32764;
constexpr int16_t SQL_NULL = 32766;
constexpr int16_t SQL_DATE = SQL_TIMESTAMP;

// Dialect numbers.
constexpr int16_t SQL_DIALECT_V5 = 1;
constexpr int16_t SQL_DIALECT_V6_TRANSITION = 2;
constexpr int16_t SQL_DIALECT_V6 = 3;
constexpr int16_t SQL_DIALECT_CURRENT = SQL_DIALECT_V6;

// isc_dsql_free_statement options.
constexpr uint16_t DSQL_close = 1;
constexpr uint16_t DSQL_drop = 2;
constexpr uint16_t DSQL_unprepare = 4;

// --- BLR data types (array descriptors, message formats) ----------------------------

constexpr uint8_t blr_text = 14;
constexpr uint8_t blr_text2 = 15;
constexpr uint8_t blr_short = 7;
constexpr uint8_t blr_long = 8;
constexpr uint8_t blr_quad = 9;
constexpr uint8_t blr_float = 10;
constexpr uint8_t blr_double = 27;
constexpr uint8_t blr_d_float = 11;
constexpr uint8_t blr_timestamp = 35;
constexpr uint8_t blr_varying = 37;
constexpr uint8_t blr_varying2 = 38;
constexpr uint8_t blr_cstring = 40;
constexpr uint8_t blr_cstring2 = 41;
constexpr uint8_t blr_blob_id = 45;
constexpr uint8_t blr_sql_date = 12;
constexpr uint8_t blr_sql_time = 13;
constexpr uint8_t blr_int64 = 16;
constexpr uint8_t blr_bool = 23;

// --- Database parameter block ---------------------------------------------------------

constexpr uint8_t isc_dpb_version1 = 1;
constexpr uint8_t isc_dpb_page_size = 4;
constexpr uint8_t isc_dpb_num_buffers = 5;
constexpr uint8_t isc_dpb_garbage_collect = 8;
constexpr uint8_t isc_dpb_verify = 9;
constexpr uint8_t isc_dpb_sweep = 10;
constexpr uint8_t isc_dpb_license = 12;
constexpr uint8_t isc_dpb_dbkey_scope = 13;
constexpr uint8_t isc_dpb_no_garbage_collect = 16;
constexpr uint8_t isc_dpb_damaged = 17;
constexpr uint8_t isc_dpb_sys_user_name = 19;
constexpr uint8_t isc_dpb_activate_shadow = 21;
constexpr uint8_t isc_dpb_sweep_interval = 22;
constexpr uint8_t isc_dpb_delete_shadow = 23;
constexpr uint8_t isc_dpb_force_write = 24;
constexpr uint8_t isc_dpb_no_reserve = 27;
constexpr uint8_t isc_dpb_user_name = 28;
constexpr uint8_t isc_dpb_password = 29;
constexpr uint8_t isc_dpb_password_enc = 30;
constexpr uint8_t isc_dpb_lc_messages = 47;
constexpr uint8_t isc_dpb_lc_ctype = 48;
constexpr uint8_t isc_dpb_shutdown = 50;
constexpr uint8_t isc_dpb_online = 51;
constexpr uint8_t isc_dpb_shutdown_delay = 52;
constexpr uint8_t isc_dpb_connect_timeout = 57;
constexpr uint8_t isc_dpb_dummy_packet_interval = 58;
constexpr uint8_t isc_dpb_sql_role_name = 60;
constexpr uint8_t isc_dpb_set_page_buffers = 61;
constexpr uint8_t isc_dpb_sql_dialect = 63;
constexpr uint8_t isc_dpb_set_db_readonly = 64;
constexpr uint8_t isc_dpb_set_db_sql_dialect = 65;
constexpr uint8_t isc_dpb_set_db_charset = 68;

// --- Transaction parameter block ------------------------------------------------------

constexpr uint8_t isc_tpb_version1 = 1;
constexpr uint8_t isc_tpb_version3 = 3;
constexpr uint8_t isc_tpb_consistency = 1;
constexpr uint8_t isc_tpb_concurrency = 2;
constexpr uint8_t isc_tpb_shared = 3;
constexpr uint8_t isc_tpb_protected = 4;
constexpr uint8_t isc_tpb_exclusive = 5;
constexpr uint8_t isc_tpb_wait = 6;
constexpr uint8_t isc_tpb_nowait = 7;
constexpr uint8_t isc_tpb_read = 8;
constexpr uint8_t isc_tpb_write = 9;
constexpr uint8_t isc_tpb_lock_read = 10;
constexpr uint8_t isc_tpb_lock_write = 11;
constexpr uint8_t isc_tpb_verb_time = 12;
constexpr uint8_t isc_tpb_commit_time = 13;
constexpr uint8_t isc_tpb_ignore_limbo = 14;
constexpr uint8_t isc_tpb_read_committed = 15;
constexpr uint8_t isc_tpb_autocommit = 16;
constexpr uint8_t isc_tpb_rec_version = 17;
constexpr uint8_t isc_tpb_no_rec_version = 18;
constexpr uint8_t isc_tpb_restart_requests = 19;
constexpr uint8_t isc_tpb_no_auto_undo = 20;
constexpr uint8_t isc_tpb_lock_timeout = 21;

// --- Blob parameter block -------------------------------------------------------------

constexpr uint8_t isc_bpb_version1 = 1;
constexpr uint8_t isc_bpb_source_type = 1;
constexpr uint8_t isc_bpb_target_type = 2;
constexpr uint8_t isc_bpb_type = 3;
constexpr uint8_t isc_bpb_source_interp = 4;
constexpr uint8_t isc_bpb_target_interp = 5;
constexpr uint8_t isc_bpb_filter_parameter = 6;
constexpr uint8_t isc_bpb_type_segmented = 0;
constexpr uint8_t isc_bpb_type_stream = 1;

// --- Information items ------------------------------------------------------------------

constexpr uint8_t isc_info_end = 1;
constexpr uint8_t isc_info_truncated = 2;
constexpr uint8_t isc_info_error = 3;
constexpr uint8_t isc_info_db_id = 4;
constexpr uint8_t isc_info_reads = 5;
constexpr uint8_t isc_info_writes = 6;
constexpr uint8_t isc_info_fetches = 7;
constexpr uint8_t isc_info_marks = 8;
constexpr uint8_t isc_info_implementation = 11;
constexpr uint8_t isc_info_isc_version = 12;
constexpr uint8_t isc_info_base_level = 13;
constexpr uint8_t isc_info_page_size = 14;
constexpr uint8_t isc_info_num_buffers = 15;
constexpr uint8_t isc_info_current_memory = 17;
constexpr uint8_t isc_info_max_memory = 18;
constexpr uint8_t isc_info_allocation = 21;
constexpr uint8_t isc_info_attachment_id = 22;
constexpr uint8_t isc_info_sweep_interval = 31;
constexpr uint8_t isc_info_ods_version = 32;
constexpr uint8_t isc_info_ods_minor_version = 33;
constexpr uint8_t isc_info_no_reserve = 34;
constexpr uint8_t isc_info_forced_writes = 52;
constexpr uint8_t isc_info_user_names = 53;
constexpr uint8_t isc_info_set_page_buffers = 61;
constexpr uint8_t isc_info_db_sql_dialect = 62;
constexpr uint8_t isc_info_db_read_only = 63;
constexpr uint8_t isc_info_db_size_in_pages = 64;
constexpr uint8_t isc_info_firebird_version = 103;
constexpr uint8_t isc_info_oldest_transaction = 104;
constexpr uint8_t isc_info_oldest_active = 105;
constexpr uint8_t isc_info_oldest_snapshot = 106;
constexpr uint8_t isc_info_next_transaction = 107;

constexpr uint8_t isc_info_tra_id = 4;

constexpr uint8_t isc_info_blob_num_segments = 4;
constexpr uint8_t isc_info_blob_max_segment = 5;
constexpr uint8_t isc_info_blob_total_length = 6;
constexpr uint8_t isc_info_blob_type = 7;

constexpr uint8_t isc_info_sql_select = 4;
constexpr uint8_t isc_info_sql_bind = 5;
constexpr uint8_t isc_info_sql_stmt_type = 21;
constexpr uint8_t isc_info_sql_get_plan = 22;
constexpr uint8_t isc_info_sql_records = 23;
constexpr uint8_t isc_info_sql_batch_fetch = 24;

// The row counts of isc_info_sql_records (select 13, insert 14, update 15, delete 16).
constexpr uint8_t isc_info_req_select_count = 13;
constexpr uint8_t isc_info_req_insert_count = 14;
constexpr uint8_t isc_info_req_update_count = 15;
constexpr uint8_t isc_info_req_delete_count = 16;

// Statement types answered for isc_info_sql_stmt_type.
constexpr int32_t isc_info_sql_stmt_select = 1;
constexpr int32_t isc_info_sql_stmt_insert = 2;
constexpr int32_t isc_info_sql_stmt_update = 3;
constexpr int32_t isc_info_sql_stmt_delete = 4;
constexpr int32_t isc_info_sql_stmt_ddl = 5;
constexpr int32_t isc_info_sql_stmt_get_segment = 6;
constexpr int32_t isc_info_sql_stmt_put_segment = 7;
constexpr int32_t isc_info_sql_stmt_exec_procedure = 8;
constexpr int32_t isc_info_sql_stmt_start_trans = 9;
constexpr int32_t isc_info_sql_stmt_commit = 10;
constexpr int32_t isc_info_sql_stmt_rollback = 11;
constexpr int32_t isc_info_sql_stmt_select_for_upd = 12;
constexpr int32_t isc_info_sql_stmt_set_generator = 13;
constexpr int32_t isc_info_sql_stmt_savepoint = 14;

// --- Status vector words and status codes ------------------------------------------------

constexpr ISC_STATUS isc_arg_end = 0;
constexpr ISC_STATUS isc_arg_gds = 1;
constexpr ISC_STATUS isc_arg_string = 2;
constexpr ISC_STATUS isc_arg_cstring = 3;
constexpr ISC_STATUS isc_arg_number = 4;
constexpr ISC_STATUS isc_arg_interpreted = 5;
constexpr ISC_STATUS isc_arg_warning = 18;
constexpr ISC_STATUS isc_arg_sql_state = 19;

constexpr ISC_STATUS isc_arith_except = 335544321L;
constexpr ISC_STATUS isc_bad_db_handle = 335544324L;
constexpr ISC_STATUS isc_deadlock = 335544336L;
constexpr ISC_STATUS isc_io_error = 335544344L;
constexpr ISC_STATUS isc_lock_conflict = 335544345L;
constexpr ISC_STATUS isc_no_dup = 335544349L;
constexpr ISC_STATUS isc_segment = 335544366L;
constexpr ISC_STATUS isc_segstr_eof = 335544367L;
constexpr ISC_STATUS isc_unavailable = 335544375L;
constexpr ISC_STATUS isc_sqlerr = 335544436L;
constexpr ISC_STATUS isc_foreign_key = 335544466L;
constexpr ISC_STATUS isc_login = 335544472L;
constexpr ISC_STATUS isc_except = 335544517L;
constexpr ISC_STATUS isc_shutdown = 335544528L;
constexpr ISC_STATUS isc_dsql_error = 335544569L;
constexpr ISC_STATUS isc_unique_key_violation = 335544665L;
constexpr ISC_STATUS isc_network_error = 335544721L;
constexpr ISC_STATUS isc_net_connect_err = 335544722L;
constexpr ISC_STATUS isc_net_connect_listen_err = 335544723L;
constexpr ISC_STATUS isc_net_event_connect_err = 335544724L;
constexpr ISC_STATUS isc_net_event_listen_err = 335544725L;
constexpr ISC_STATUS isc_net_read_err = 335544726L;
constexpr ISC_STATUS isc_net_write_err = 335544727L;
constexpr ISC_STATUS isc_lost_db_connection = 335544741L;
constexpr ISC_STATUS isc_att_shutdown = 335544856L;

// --- Entry points -------------------------------------------------------------------------
//
// Each entry point once: its name, result type and parameter list. The mandatory ones
// in the order they are bound, then the optional ones in theirs.

#define PELVAR_IB_MANDATORY_ENTRY_POINTS(X)                                                        \
  X(isc_array_gen_sdl, ISC_STATUS,                                                                 \
    (ISC_STATUS*, const ISC_ARRAY_DESC*, ISC_SHORT*, ISC_UCHAR*, ISC_SHORT*))                      \
  X(isc_array_get_slice, ISC_STATUS,                                                               \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*, void*,         \
     ISC_LONG*))                                                                                   \
  X(isc_array_lookup_bounds, ISC_STATUS,                                                           \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*, const ISC_SCHAR*,              \
     ISC_ARRAY_DESC*))                                                                             \
  X(isc_array_lookup_desc, ISC_STATUS,                                                             \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_SCHAR*, const ISC_SCHAR*,              \
     ISC_ARRAY_DESC*))                                                                             \
  X(isc_array_set_desc, ISC_STATUS,                                                                \
    (ISC_STATUS*, const ISC_SCHAR*, const ISC_SCHAR*, const short*, const short*, const short*,    \
     ISC_ARRAY_DESC*))                                                                             \
  X(isc_array_put_slice, ISC_STATUS,                                                               \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, const ISC_ARRAY_DESC*, void*,         \
     ISC_LONG*))                                                                                   \
  X(isc_blob_default_desc, void, (ISC_BLOB_DESC*, const ISC_UCHAR*, const ISC_UCHAR*))             \
  X(isc_blob_gen_bpb, ISC_STATUS,                                                                  \
    (ISC_STATUS*, const ISC_BLOB_DESC*, const ISC_BLOB_DESC*, unsigned short, ISC_UCHAR*,          \
     unsigned short*))                                                                             \
  X(isc_blob_info, ISC_STATUS,                                                                     \
    (ISC_STATUS*, isc_blob_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*))                   \
  X(isc_blob_lookup_desc, ISC_STATUS,                                                              \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, const ISC_UCHAR*, const ISC_UCHAR*,              \
     ISC_BLOB_DESC*, ISC_UCHAR*))                                                                  \
  X(isc_blob_set_desc, ISC_STATUS,                                                                 \
    (ISC_STATUS*, const ISC_UCHAR*, const ISC_UCHAR*, short, short, short, ISC_BLOB_DESC*))        \
  X(isc_cancel_blob, ISC_STATUS, (ISC_STATUS*, isc_blob_handle*))                                  \
  X(isc_close_blob, ISC_STATUS, (ISC_STATUS*, isc_blob_handle*))                                   \
  X(isc_create_blob, ISC_STATUS,                                                                   \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*))                    \
  X(isc_create_blob2, ISC_STATUS,                                                                  \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*, short,              \
     const ISC_SCHAR*))                                                                            \
  X(isc_open_blob, ISC_STATUS,                                                                     \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*))                    \
  X(isc_open_blob2, ISC_STATUS,                                                                    \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*, ISC_USHORT,         \
     const ISC_UCHAR*))                                                                            \
  X(isc_put_segment, ISC_STATUS, (ISC_STATUS*, isc_blob_handle*, unsigned short, const ISC_SCHAR*)) \
  X(isc_put_slice, ISC_STATUS,                                                                     \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, short, const ISC_SCHAR*, short,       \
     const ISC_LONG*, ISC_LONG, void*))                                                            \
  X(isc_get_segment, ISC_STATUS,                                                                   \
    (ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short, ISC_SCHAR*))                  \
  X(isc_get_slice, ISC_STATUS,                                                                     \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, ISC_QUAD*, short, const ISC_SCHAR*, short,       \
     const ISC_LONG*, ISC_LONG, void*, ISC_LONG*))                                                 \
  X(isc_attach_database, ISC_STATUS,                                                               \
    (ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*))               \
  X(isc_create_database, ISC_STATUS,                                                               \
    (ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*, short))        \
  X(isc_detach_database, ISC_STATUS, (ISC_STATUS*, isc_db_handle*))                                \
  X(isc_drop_database, ISC_STATUS, (ISC_STATUS*, isc_db_handle*))                                  \
  X(isc_database_info, ISC_STATUS,                                                                 \
    (ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*))                     \
  X(isc_start_multiple, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*, short, void*))                   \
  X(isc_commit_transaction, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*))                             \
  X(isc_commit_retaining, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*))                               \
  X(isc_rollback_transaction, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*))                           \
  X(isc_transaction_info, ISC_STATUS,                                                              \
    (ISC_STATUS*, isc_tr_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*))                     \
  X(isc_transact_request, ISC_STATUS,                                                              \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, ISC_SCHAR*, unsigned short,      \
     ISC_SCHAR*, unsigned short, ISC_SCHAR*))                                                      \
  X(isc_dsql_execute_immediate, ISC_STATUS,                                                        \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, const ISC_SCHAR*,                \
     unsigned short, const XSQLDA*))                                                               \
  X(isc_dsql_exec_immed2, ISC_STATUS,                                                              \
    (ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short, const ISC_SCHAR*,                \
     unsigned short, const XSQLDA*, const XSQLDA*))                                                \
  X(isc_dsql_execute, ISC_STATUS,                                                                  \
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*))                \
  X(isc_dsql_execute2, ISC_STATUS,                                                                 \
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*,                 \
     const XSQLDA*))                                                                               \
  X(isc_dsql_allocate_statement, ISC_STATUS, (ISC_STATUS*, isc_db_handle*, isc_stmt_handle*))      \
  X(isc_dsql_alloc_statement2, ISC_STATUS, (ISC_STATUS*, isc_db_handle*, isc_stmt_handle*))        \
  X(isc_dsql_prepare, ISC_STATUS,                                                                  \
    (ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const ISC_SCHAR*,              \
     unsigned short, XSQLDA*))                                                                     \
  X(isc_dsql_set_cursor_name, ISC_STATUS,                                                          \
    (ISC_STATUS*, isc_stmt_handle*, const ISC_SCHAR*, unsigned short))                             \
  X(isc_dsql_describe, ISC_STATUS, (ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*))       \
  X(isc_dsql_describe_bind, ISC_STATUS, (ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*))  \
  X(isc_dsql_fetch, ISC_STATUS, (ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*))    \
  X(isc_dsql_free_statement, ISC_STATUS, (ISC_STATUS*, isc_stmt_handle*, unsigned short))          \
  X(isc_dsql_sql_info, ISC_STATUS,                                                                 \
    (ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*))                   \
  X(isc_decode_date, void, (const ISC_QUAD*, void*))                                               \
  X(isc_encode_date, void, (const void*, ISC_QUAD*))                                               \
  X(isc_cancel_events, ISC_STATUS, (ISC_STATUS*, isc_db_handle*, ISC_LONG*))                       \
  X(isc_event_counts, void, (ISC_ULONG*, short, ISC_UCHAR*, const ISC_UCHAR*))                     \
  X(isc_que_events, ISC_STATUS,                                                                    \
    (ISC_STATUS*, isc_db_handle*, ISC_LONG*, short, const ISC_UCHAR*, ISC_EVENT_CALLBACK, void*))  \
  X(isc_event_block, ISC_LONG, (ISC_UCHAR**, ISC_UCHAR**, ISC_USHORT, ...))                        \
  X(isc_interprete, ISC_LONG, (ISC_SCHAR*, ISC_STATUS**))                                          \
  X(isc_sql_interprete, void, (short, ISC_SCHAR*, short))                                          \
  X(isc_free, ISC_LONG, (ISC_SCHAR*))                                                              \
  X(isc_sqlcode, ISC_LONG, (const ISC_STATUS*))                                                    \
  X(isc_vax_integer, ISC_LONG, (const ISC_SCHAR*, short))                                          \
  X(isc_compile_request, ISC_STATUS,                                                               \
    (ISC_STATUS*, isc_db_handle*, isc_req_handle*, short, const ISC_SCHAR*))                       \
  X(isc_compile_request2, ISC_STATUS,                                                              \
    (ISC_STATUS*, isc_db_handle*, isc_req_handle*, short, const ISC_SCHAR*))                       \
  X(isc_send, ISC_STATUS, (ISC_STATUS*, isc_req_handle*, short, short, const void*, short))        \
  X(isc_start_and_send, ISC_STATUS,                                                                \
    (ISC_STATUS*, isc_req_handle*, isc_tr_handle*, short, short, const void*, short))              \
  X(isc_start_request, ISC_STATUS, (ISC_STATUS*, isc_req_handle*, isc_tr_handle*, short))          \
  X(isc_unwind_request, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*, short))                          \
  X(isc_receive, ISC_STATUS, (ISC_STATUS*, isc_req_handle*, short, short, void*, short))           \
  X(isc_release_request, ISC_STATUS, (ISC_STATUS*, isc_req_handle*))

#define PELVAR_IB_OPTIONAL_ENTRY_POINTS(X)                                                         \
  X(fb_interpret, ISC_LONG, (ISC_SCHAR*, unsigned int, const ISC_STATUS**))                        \
  X(isc_service_attach, ISC_STATUS,                                                                \
    (ISC_STATUS*, unsigned short, const ISC_SCHAR*, isc_svc_handle*, unsigned short,               \
     const ISC_SCHAR*))                                                                            \
  X(isc_service_detach, ISC_STATUS, (ISC_STATUS*, isc_svc_handle*))                                \
  X(isc_service_query, ISC_STATUS,                                                                 \
    (ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const ISC_SCHAR*,             \
     unsigned short, const ISC_SCHAR*, unsigned short, ISC_SCHAR*))                                \
  X(isc_service_start, ISC_STATUS,                                                                 \
    (ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const ISC_SCHAR*))            \
  X(isc_add_user, ISC_STATUS, (ISC_STATUS*, const USER_SEC_DATA*))                                 \
  X(isc_delete_user, ISC_STATUS, (ISC_STATUS*, const USER_SEC_DATA*))                              \
  X(isc_modify_user, ISC_STATUS, (ISC_STATUS*, const USER_SEC_DATA*))                              \
  X(isc_rollback_retaining, ISC_STATUS, (ISC_STATUS*, isc_tr_handle*))                             \
  X(isc_portable_integer, ISC_INT64, (const ISC_UCHAR*, short))

// One function-pointer type per entry point: Tisc_attach_database and so on.
#define PELVAR_IB_ENTRY_TYPE(name, result, params) using T##name = result(*) params;
PELVAR_IB_MANDATORY_ENTRY_POINTS(PELVAR_IB_ENTRY_TYPE)
PELVAR_IB_OPTIONAL_ENTRY_POINTS(PELVAR_IB_ENTRY_TYPE)
#undef PELVAR_IB_ENTRY_TYPE

}  // namespace pelvar
