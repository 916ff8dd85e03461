// Our declarations of the client library's interface against the library's own header:
// structure sizes and offsets, constants and the exact type of every entry point.
// The real header is used in this test only.
#include "dbclient/IB_Header.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "platform/exceptions.h"
#include <type_traits>

// The constants compared, expanded once against our declarations and once against
// the real header (whose macros take over the same names when it is included).
#define IB_HEADER_CONSTANTS \
    SQL_TEXT, SQL_VARYING, SQL_SHORT, SQL_LONG, SQL_FLOAT, SQL_DOUBLE, SQL_D_FLOAT, \
    SQL_TIMESTAMP, SQL_BLOB, SQL_ARRAY, SQL_QUAD, SQL_TYPE_TIME, SQL_TYPE_DATE, SQL_INT64, \
    SQL_BOOLEAN, SQL_NULL, SQL_DIALECT_V5, SQL_DIALECT_V6, DSQL_close, DSQL_drop, \
    DSQL_unprepare, SQLDA_VERSION1, \
    blr_text, blr_text2, blr_short, blr_long, blr_quad, blr_float, blr_double, blr_d_float, \
    blr_timestamp, blr_varying, blr_varying2, blr_cstring, blr_cstring2, blr_blob_id, \
    blr_sql_date, blr_sql_time, blr_int64, blr_bool, \
    isc_dpb_version1, isc_dpb_page_size, isc_dpb_num_buffers, isc_dpb_garbage_collect, \
    isc_dpb_verify, isc_dpb_sweep, isc_dpb_dbkey_scope, isc_dpb_no_garbage_collect, \
    isc_dpb_damaged, isc_dpb_sys_user_name, isc_dpb_activate_shadow, isc_dpb_sweep_interval, \
    isc_dpb_delete_shadow, isc_dpb_force_write, isc_dpb_no_reserve, isc_dpb_user_name, \
    isc_dpb_password, isc_dpb_password_enc, isc_dpb_lc_messages, isc_dpb_lc_ctype, \
    isc_dpb_shutdown, isc_dpb_online, isc_dpb_shutdown_delay, isc_dpb_connect_timeout, \
    isc_dpb_dummy_packet_interval, isc_dpb_sql_role_name, isc_dpb_set_page_buffers, \
    isc_dpb_sql_dialect, isc_dpb_set_db_readonly, isc_dpb_set_db_sql_dialect, \
    isc_dpb_set_db_charset, \
    isc_tpb_version1, isc_tpb_version3, isc_tpb_consistency, isc_tpb_concurrency, \
    isc_tpb_shared, isc_tpb_protected, isc_tpb_exclusive, isc_tpb_wait, isc_tpb_nowait, \
    isc_tpb_read, isc_tpb_write, isc_tpb_lock_read, isc_tpb_lock_write, isc_tpb_verb_time, \
    isc_tpb_commit_time, isc_tpb_ignore_limbo, isc_tpb_read_committed, isc_tpb_autocommit, \
    isc_tpb_rec_version, isc_tpb_no_rec_version, isc_tpb_restart_requests, \
    isc_tpb_no_auto_undo, isc_tpb_lock_timeout, \
    isc_bpb_version1, isc_bpb_source_type, isc_bpb_target_type, isc_bpb_type, \
    isc_bpb_source_interp, isc_bpb_target_interp, isc_bpb_filter_parameter, \
    isc_bpb_type_segmented, isc_bpb_type_stream, \
    isc_info_end, isc_info_truncated, isc_info_error, isc_info_db_id, isc_info_reads, \
    isc_info_writes, isc_info_fetches, isc_info_marks, isc_info_implementation, \
    isc_info_isc_version, isc_info_base_level, isc_info_page_size, isc_info_num_buffers, \
    isc_info_current_memory, isc_info_max_memory, isc_info_attachment_id, \
    isc_info_sweep_interval, isc_info_ods_version, isc_info_ods_minor_version, \
    isc_info_no_reserve, isc_info_forced_writes, isc_info_user_names, \
    isc_info_db_sql_dialect, isc_info_db_read_only, isc_info_db_size_in_pages, \
    isc_info_firebird_version, isc_info_oldest_transaction, isc_info_oldest_active, \
    isc_info_oldest_snapshot, isc_info_next_transaction, isc_info_tra_id, \
    isc_info_blob_num_segments, isc_info_blob_max_segment, isc_info_blob_total_length, \
    isc_info_blob_type, isc_info_sql_select, isc_info_sql_bind, isc_info_sql_stmt_type, \
    isc_info_sql_get_plan, isc_info_sql_records, isc_info_sql_batch_fetch, \
    isc_info_req_update_count, isc_info_req_delete_count, isc_info_req_select_count, \
    isc_info_req_insert_count, isc_info_sql_stmt_select, isc_info_sql_stmt_insert, \
    isc_info_sql_stmt_update, isc_info_sql_stmt_delete, isc_info_sql_stmt_ddl, \
    isc_info_sql_stmt_get_segment, isc_info_sql_stmt_put_segment, \
    isc_info_sql_stmt_exec_procedure, isc_info_sql_stmt_start_trans, \
    isc_info_sql_stmt_commit, isc_info_sql_stmt_rollback, \
    isc_info_sql_stmt_select_for_upd, isc_info_sql_stmt_set_generator, \
    isc_info_sql_stmt_savepoint, \
    isc_arg_end, isc_arg_gds, isc_arg_string, isc_arg_cstring, isc_arg_number, \
    isc_arg_interpreted, isc_arg_warning, isc_arg_sql_state, \
    isc_arith_except, isc_bad_db_handle, isc_deadlock, isc_io_error, isc_lock_conflict, \
    isc_no_dup, isc_segment, isc_segstr_eof, isc_unavailable, isc_sqlerr, isc_foreign_key, \
    isc_login, isc_except, isc_shutdown, isc_dsql_error, isc_unique_key_violation, \
    isc_network_error, isc_net_connect_err, isc_net_connect_listen_err, \
    isc_net_event_connect_err, isc_net_event_listen_err, isc_net_read_err, \
    isc_net_write_err, isc_lost_db_connection, isc_att_shutdown, isc_info_allocation, \
    isc_info_set_page_buffers

namespace mine {
using namespace pelvar;
// Captured before the real header turns these names into macros.
constexpr long kConstants[] = {IB_HEADER_CONSTANTS};
}  // namespace mine

#include <ibase.h>

// isc_interprete is marked deprecated there; we only take its type.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// The same list, now read from the real header.
constexpr long kReal[] = {IB_HEADER_CONSTANTS};

static_assert(std::size(kReal) == std::size(mine::kConstants));

TEST(IBHeader, ConstantsMatchTheClientLibrary) {
  for (size_t i = 0; i < std::size(kReal); ++i) {
    EXPECT_EQ(mine::kConstants[i], kReal[i]) << "constant #" << i;
  }
}

#define SAME_LAYOUT(S, member)                                                      \
  static_assert(offsetof(pelvar::S, member) == offsetof(::S, member), #S "." #member); \
  static_assert(sizeof(pelvar::S::member) == sizeof(::S::member), #S "." #member);

TEST(IBHeader, StructuresHaveTheRealLayout) {
  static_assert(sizeof(pelvar::ISC_STATUS) == sizeof(::ISC_STATUS));
  static_assert(sizeof(pelvar::ISC_STATUS) == 8);
  static_assert(sizeof(pelvar::ISC_STATUS_ARRAY) == sizeof(::ISC_STATUS_ARRAY));
  static_assert(sizeof(pelvar::isc_db_handle) == sizeof(::isc_db_handle));
  static_assert(sizeof(pelvar::ISC_LONG) == sizeof(::ISC_LONG));

  static_assert(sizeof(pelvar::XSQLVAR) == sizeof(::XSQLVAR));
  static_assert(sizeof(pelvar::XSQLVAR) == 160);
  SAME_LAYOUT(XSQLVAR, sqltype) SAME_LAYOUT(XSQLVAR, sqlscale) SAME_LAYOUT(XSQLVAR, sqlsubtype)
  SAME_LAYOUT(XSQLVAR, sqllen) SAME_LAYOUT(XSQLVAR, sqldata) SAME_LAYOUT(XSQLVAR, sqlind)
  SAME_LAYOUT(XSQLVAR, sqlname_length) SAME_LAYOUT(XSQLVAR, sqlname)
  SAME_LAYOUT(XSQLVAR, relname_length) SAME_LAYOUT(XSQLVAR, relname)
  SAME_LAYOUT(XSQLVAR, ownname_length) SAME_LAYOUT(XSQLVAR, ownname)
  SAME_LAYOUT(XSQLVAR, aliasname_length) SAME_LAYOUT(XSQLVAR, aliasname)

  static_assert(sizeof(pelvar::XSQLDA) == sizeof(::XSQLDA));
  SAME_LAYOUT(XSQLDA, version) SAME_LAYOUT(XSQLDA, sqldaid) SAME_LAYOUT(XSQLDA, sqldabc)
  SAME_LAYOUT(XSQLDA, sqln) SAME_LAYOUT(XSQLDA, sqld) SAME_LAYOUT(XSQLDA, sqlvar)

  static_assert(sizeof(pelvar::ISC_QUAD) == sizeof(::ISC_QUAD));
  SAME_LAYOUT(ISC_QUAD, gds_quad_high) SAME_LAYOUT(ISC_QUAD, gds_quad_low)
  static_assert(sizeof(pelvar::ISC_TIMESTAMP) == sizeof(::ISC_TIMESTAMP));
  SAME_LAYOUT(ISC_TIMESTAMP, timestamp_date) SAME_LAYOUT(ISC_TIMESTAMP, timestamp_time)

  static_assert(sizeof(pelvar::ISC_ARRAY_DESC) == sizeof(::ISC_ARRAY_DESC));
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_dtype) SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_scale)
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_length)
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_field_name)
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_relation_name)
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_dimensions)
  SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_flags) SAME_LAYOUT(ISC_ARRAY_DESC, array_desc_bounds)
  static_assert(sizeof(pelvar::ISC_BLOB_DESC) == sizeof(::ISC_BLOB_DESC));
  SAME_LAYOUT(ISC_BLOB_DESC, blob_desc_subtype) SAME_LAYOUT(ISC_BLOB_DESC, blob_desc_charset)
  SAME_LAYOUT(ISC_BLOB_DESC, blob_desc_segment_size)
  SAME_LAYOUT(ISC_BLOB_DESC, blob_desc_field_name)
  SAME_LAYOUT(ISC_BLOB_DESC, blob_desc_relation_name)
  static_assert(sizeof(pelvar::USER_SEC_DATA) == sizeof(::USER_SEC_DATA));
  SAME_LAYOUT(USER_SEC_DATA, sec_flags) SAME_LAYOUT(USER_SEC_DATA, server)
  SAME_LAYOUT(USER_SEC_DATA, user_name) SAME_LAYOUT(USER_SEC_DATA, dba_password)
}

// Our structure types mapped onto the real header's, through pointers, const and
// function types, so that entry-point types can be compared as a whole.
template <class T> struct Real { using type = T; };
template <class T> using RealT = typename Real<T>::type;
template <class T> struct Real<T*> { using type = RealT<T>*; };
template <class T> struct Real<const T> { using type = const RealT<T>; };
template <> struct Real<pelvar::XSQLDA> { using type = ::XSQLDA; };
template <> struct Real<pelvar::XSQLVAR> { using type = ::XSQLVAR; };
template <> struct Real<pelvar::ISC_QUAD> { using type = ::ISC_QUAD; };
template <> struct Real<pelvar::ISC_ARRAY_DESC> { using type = ::ISC_ARRAY_DESC; };
template <> struct Real<pelvar::ISC_BLOB_DESC> { using type = ::ISC_BLOB_DESC; };
template <> struct Real<pelvar::USER_SEC_DATA> { using type = ::USER_SEC_DATA; };
template <class R, class... A> struct Real<R (*)(A...)> {
  using type = RealT<R> (*)(RealT<A>...);
};
template <class R, class... A> struct Real<R (*)(A..., ...)> {
  using type = RealT<R> (*)(RealT<A>..., ...);
};

// Every entry point's type, as we declare it, is exactly the real function's type.
#define SAME_ENTRY(name, result, params) \
  static_assert(std::is_same_v<RealT<pelvar::T##name>, decltype(&::name)>, #name);
PELVAR_IB_MANDATORY_ENTRY_POINTS(SAME_ENTRY)
PELVAR_IB_OPTIONAL_ENTRY_POINTS(SAME_ENTRY)

TEST(IBHeader, XsqldaLengthHoldsEveryEntry) {
  // A buffer for N entries holds the header, N full entries and the spare room; a row of
  // 40 or more columns fits (the old 152-byte rule was short by 8 bytes per entry).
  for (int16_t n : {1, 5, 30, 40, 200, 32767}) {
    const size_t needed = offsetof(::XSQLDA, sqlvar) + n * sizeof(::XSQLVAR);
    EXPECT_GE(static_cast<size_t>((pelvar::XSQLDA_LENGTH)(n)), needed) << n;
    EXPECT_EQ(static_cast<size_t>((pelvar::XSQLDA_LENGTH)(n)),
              XSQLDA_LENGTH(n) + pelvar::XSQLDA_SPARE) << n;
  }
  EXPECT_EQ((pelvar::XSQLDA_LENGTH)(1), 480);
  EXPECT_EQ((pelvar::XSQLDA_LENGTH)(5), 1120);
  EXPECT_EQ((pelvar::XSQLDA_LENGTH)(30), 5120);
  EXPECT_THROW((pelvar::XSQLDA_LENGTH)(-1), pelvar::ERangeError);
}

}  // namespace
