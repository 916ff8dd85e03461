// Blob cache node chains, array slice sizes and the CREATE DATABASE text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dbclient/IB_Session.h"
#include "dbclient/IB_Utils.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace pelvar::test {
namespace {

TIB_BlobCacheNode* NewNode(int32_t id, int16_t field, bool changed, const std::string& data) {
  auto* n = new TIB_BlobCacheNode{};
  n->BlobId.gds_quad_low = static_cast<ISC_ULONG>(id);
  n->FieldNo = field;
  n->Changed = changed;
  ReallocBuffer(n->Buffer, 0, static_cast<int32_t>(data.size()));
  if (!data.empty()) std::memcpy(n->Buffer, data.data(), data.size());
  n->Capacity = n->Size = static_cast<int32_t>(data.size());
  return n;
}

std::string Data(const TIB_BlobCacheNode* n) {
  return n->Buffer ? std::string(static_cast<const char*>(n->Buffer), static_cast<size_t>(n->Size))
                   : std::string();
}

TEST(BlobNodes, FindPrefersTheBlobIdThenAFieldNumberThatMayHaveToBeChanged) {
  TIB_BlobCacheNode* head = nullptr;
  // Built from the tail: the head is the changed node of field 3.
  TIB_BlobCacheNode* by_id = NewNode(77, 5, false, "by id");
  TIB_BlobCacheNode* unchanged3 = NewNode(0, 3, false, "unchanged");
  TIB_BlobCacheNode* changed3 = NewNode(0, 3, true, "changed");
  by_id->Next = nullptr;
  unchanged3->Next = by_id;
  changed3->Next = unchanged3;
  head = changed3;

  TIB_BlobCacheNode probe{};
  probe.BlobId.gds_quad_low = 77;
  EXPECT_EQ(FindBlobNode(head, &probe, 3, true), by_id)
      << "the blob id wins over a changed node of the same field";
  probe.BlobId = ISC_QUAD{};
  EXPECT_EQ(FindBlobNode(head, &probe, 3, true), changed3);
  EXPECT_EQ(FindBlobNode(unchanged3, &probe, 3, true), nullptr);
  EXPECT_EQ(FindBlobNode(unchanged3, &probe, 3, false), unchanged3);
  EXPECT_EQ(FindBlobNode(nullptr, &probe, 3, false), nullptr);

  // Restore copies the chain's node into a row's node; the chain keeps its data.
  TIB_BlobCacheNode row{};
  row.FieldNo = 3;
  ASSERT_TRUE(RestoreBlobNode(head, true, &row));
  EXPECT_EQ(Data(&row), "changed");
  EXPECT_TRUE(row.Changed);
  EXPECT_EQ(row.Capacity, 7);
  EXPECT_EQ(Data(changed3), "changed");
  TIB_BlobCacheNode other{};
  other.FieldNo = 9;
  EXPECT_FALSE(RestoreBlobNode(head, false, &other));

  // Save with Move hands the buffer over and clears the source.
  TIB_BlobCacheNode source{};
  source.BlobId.gds_quad_low = 99;
  source.FieldNo = 9;
  ReallocBuffer(source.Buffer, 0, 4);
  std::memcpy(source.Buffer, "abcd", 4);
  source.Size = source.Capacity = 4;
  void* const buffer = source.Buffer;
  TIB_BlobCacheNode* saved = SaveBlobNode(head, &source, true);
  EXPECT_EQ(head, saved) << "a new node goes to the head";
  EXPECT_EQ(saved->Buffer, buffer);
  EXPECT_EQ(saved->BlobId.gds_quad_low, 99u);
  EXPECT_EQ(source.Buffer, nullptr);
  EXPECT_EQ(source.Capacity, 0);
  EXPECT_EQ(source.Size, 0);
  EXPECT_TRUE(IsNullBlobId(source.BlobId));

  // Saving the same blob again reuses its node, and a copy gets its own buffer.
  TIB_BlobCacheNode again{};
  again.BlobId.gds_quad_low = 99;
  again.FieldNo = 9;
  ReallocBuffer(again.Buffer, 0, 16);
  std::memcpy(again.Buffer, "xy", 2);
  again.Capacity = 16;
  again.Size = 2;
  EXPECT_EQ(SaveBlobNode(head, &again, false), saved);
  EXPECT_EQ(Data(saved), "xy");
  EXPECT_EQ(saved->Capacity, 2);
  EXPECT_NE(saved->Buffer, again.Buffer);

  EXPECT_EQ(ClearBlobNode(&again), &again);
  EXPECT_EQ(again.Size, 0);
  EXPECT_EQ(again.Capacity, 16) << "clearing keeps the buffer";
  FreeBlobNodeBuffer(&again);
  EXPECT_EQ(again.Buffer, nullptr);
  FreeBlobNodeBuffer(&row);
  FreeBlobNodeChain(head);
  EXPECT_EQ(head, nullptr);
}

TEST(ArraySlice, SizeIsTheElementsTimesTheElementLengthWithOverflowChecked) {
  struct Case {
    uint8_t dtype;
    uint16_t length;
    std::vector<std::pair<int16_t, int16_t>> bounds;
    int32_t expected;
  };
  const Case cases[] = {
      {blr_long, 4, {{1, 3}, {1, 2}}, 24},
      {blr_short, 2, {{-2, 2}}, 10},
      {blr_varying, 10, {{0, 4}}, 60},
      {blr_varying2, 10, {{1, 1}, {1, 1}, {1, 1}}, 12},
      {blr_double, 8, {}, 8},
  };
  for (const Case& c : cases) {
    ISC_ARRAY_DESC d{};
    d.array_desc_dtype = c.dtype;
    d.array_desc_length = c.length;
    d.array_desc_dimensions = static_cast<int16_t>(c.bounds.size());
    for (size_t i = 0; i < c.bounds.size(); ++i) {
      d.array_desc_bounds[i] = {c.bounds[i].first, c.bounds[i].second};
    }
    EXPECT_EQ(ArraySliceSize(&d), c.expected) << int(c.dtype);
  }
  ISC_ARRAY_DESC big{};
  big.array_desc_dtype = blr_double;
  big.array_desc_length = 8;
  big.array_desc_dimensions = 3;
  for (int i = 0; i < 3; ++i) big.array_desc_bounds[i] = {-32768, 32767};
  EXPECT_THROW(ArraySliceSize(&big), EIntOverflow);
}

TEST(CreateDatabaseText, PageSizeRoundsToKilobytesAndValuesAreQuoted) {
  struct Case {
    uint16_t page_size;
    const char* clause;
  };
  const Case cases[] = {
      {0, ""},
      {1000, ""},
      {1500, " PAGE_SIZE = 1024"},
      {1536, " PAGE_SIZE = 2048"},
      {4096, " PAGE_SIZE = 4096"},
      {8191, " PAGE_SIZE = 8192"},
      {65023, " PAGE_SIZE = 64512"},
      {65024, " PAGE_SIZE = 65536"},
      {65535, " PAGE_SIZE = 65536"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CreateDatabaseSQL("/d/a.fdb", "", "", c.page_size, ""),
              std::string("CREATE DATABASE '/d/a.fdb'") + c.clause)
        << c.page_size;
  }
  EXPECT_EQ(CreateDatabaseSQL("/d/it's.fdb", "SYS'DBA", "pa'ss' --", 8192, "WIN1250"),
            "CREATE DATABASE '/d/it''s.fdb' USER 'SYS''DBA' PASSWORD 'pa''ss'' --'"
            " PAGE_SIZE = 8192 DEFAULT CHARACTER SET WIN1250");
  // The file name reaches the library as UTF-8.
  EXPECT_EQ(CreateDatabaseSQL(CZ("/d/žluť.fdb"), "", "", 0, ""), "CREATE DATABASE '/d/žluť.fdb'");
  for (const char* bad : {"WIN1250; DROP", "UTF8'", "A B", "\"X\""}) {
    EXPECT_THROW(CreateDatabaseSQL("/d/a.fdb", "", "", 0, bad), EIB_Error) << bad;
  }
}

}  // namespace
}  // namespace pelvar::test

namespace pelvar::test {
namespace {

// Stand-ins for the client library's entry points, for answers a real server never
// gives. The call table is restored afterwards.
class FakeClient : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ClientCallTable;
    ClientCallTable.isc_vax_integer = [](const ISC_SCHAR* p, short n) {
      ISC_LONG v = 0;
      for (short i = 0; i < n; ++i) v |= static_cast<ISC_LONG>(static_cast<uint8_t>(p[i])) << (8 * i);
      return v;
    };
  }
  void TearDown() override { ClientCallTable = saved_; }

  static inline std::string answer;
  static inline std::vector<int> segments;

 private:
  TIB_ClientCallTable saved_;
};

TEST_F(FakeClient, RowsAffectedAnswersAreCheckedBeforeTheyAreRead) {
  ClientCallTable.isc_dsql_sql_info = [](ISC_STATUS*, isc_stmt_handle*, short, const ISC_SCHAR*,
                                         short length, ISC_SCHAR* buffer) -> ISC_STATUS {
    std::memcpy(buffer, answer.data(), std::min<size_t>(answer.size(), static_cast<size_t>(length)));
    return 0;
  };
  isc_stmt_handle stmt = 1;
  TIB_RowsAffected counts;
  // records item, total length, then item code, 2-byte length, value.
  answer = std::string("\x17\x0F\x00", 3) + std::string("\x0D\x04\x00\x05\x00\x00\x00", 7) +
           std::string("\x10\x04\x00\x02\x00\x00\x00", 7) + "\x01";
  GetRowsAffected(&stmt, counts);
  EXPECT_EQ(counts.SelectCount, 5);
  EXPECT_EQ(counts.DeleteCount, 2);
  EXPECT_EQ(counts.InsertCount, -1);

  answer = std::string("\x04\x00\x00", 3);  // not the records item: nothing reported
  GetRowsAffected(&stmt, counts);
  EXPECT_EQ(counts.SelectCount, -1);

  struct Case {
    std::string answer;
    TIB_Msg message;
  };
  const Case bad[] = {
      {std::string("\x17\x2C\x01", 3), TIB_Msg::RowsAffectedBuffer},  // length 300
      {std::string("\x17\x08\x00\x2A\x04\x00\x01\x00\x00\x00\x01", 11),
       TIB_Msg::RowsAffectedBuffer2},  // unknown item
      {std::string("\x17\x05\x00\x0D\x04\x00\x01\x00\x00\x00\x01", 11),
       TIB_Msg::RowsAffectedBuffer2},  // item runs past the given length
      {std::string("\x17\x07\x00\x0D\x04\x00\x01\x00\x00\x00", 10),
       TIB_Msg::RowsAffectedBuffer2},  // no end marker within the length
  };
  for (const Case& c : bad) {
    answer = c.answer;
    try {
      GetRowsAffected(&stmt, counts);
      ADD_FAILURE() << "accepted a malformed answer";
    } catch (const EIB_Error& e) {
      EXPECT_EQ(e.Message(), IB_Message(c.message));
      EXPECT_EQ(e.Message(), CZ("Chybný buffer pro RowsAffected"));
    }
  }
}

TEST_F(FakeClient, WriteSegmentSizeFromAHandlerStaysWithinWhatOneWriteCarries) {
  ClientCallTable.isc_create_blob2 = [](ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                        isc_blob_handle* blob, ISC_QUAD* id, short,
                                        const ISC_SCHAR*) -> ISC_STATUS {
    *blob = 1;
    *id = ISC_QUAD{0, 42};
    return 0;
  };
  ClientCallTable.isc_put_segment = [](ISC_STATUS*, isc_blob_handle*, unsigned short length,
                                       const ISC_SCHAR*) -> ISC_STATUS {
    segments.push_back(length);
    return 0;
  };
  ClientCallTable.isc_close_blob = [](ISC_STATUS*, isc_blob_handle* blob) -> ISC_STATUS {
    *blob = 0;
    return 0;
  };
  TIB_SessionBase session(nullptr);
  TIB_BlobCacheNode node{};
  ReallocBuffer(node.Buffer, 0, 70000);
  node.Size = node.Capacity = 70000;
  struct Case {
    int32_t asked;
    std::vector<int> sent;
  };
  const Case cases[] = {
      {0, {1, 1, 1, 1, 65535, 4461}},  // below 1: one byte at a time, never a hang
      {100000, {65535, 4465}},       // above 65535: cut to what the length can say
      {30000, {30000, 30000, 10000}},
  };
  for (const Case& c : cases) {
    segments.clear();
    int calls = 0;
    ASSERT_EQ(session.WriteBlob(nullptr, nullptr, nullptr, &node,
                                [&](const XSQLVAR*, TIB_BlobCallbackStatus s, int32_t, int32_t& seg) {
                                  if (s == bcsInitPut) seg = c.asked;
                                  // Stop the one-byte case early by growing the segment.
                                  if (c.asked == 0 && ++calls == 5) seg = 70000;
                                }),
              0);
    EXPECT_EQ(node.BlobId.gds_quad_low, 42u);
    EXPECT_EQ(segments, c.sent) << c.asked;
  }
  FreeBlobNodeBuffer(&node);
}

// A value read for a callback is measured first; one read without is read to its end.
// Either way a failing call is reported with its status, never read as an empty value.
TEST_F(FakeClient, AFailedBlobCallIsReportedNotReadAsAnEmptyValue) {
  ClientCallTable.isc_open_blob2 = [](ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                      isc_blob_handle* blob, ISC_QUAD*, ISC_USHORT,
                                      const ISC_UCHAR*) -> ISC_STATUS {
    *blob = 1;
    return 0;
  };
  static int info_calls = 0;
  info_calls = 0;
  ClientCallTable.isc_blob_info = [](ISC_STATUS* status, isc_blob_handle*, short,
                                     const ISC_SCHAR*, short, ISC_SCHAR*) -> ISC_STATUS {
    ++info_calls;
    status[0] = 1;
    status[1] = isc_network_error;
    return isc_network_error;
  };
  // Three bytes arrive, then the connection fails.
  static int reads = 0;
  reads = 0;
  ClientCallTable.isc_get_segment = [](ISC_STATUS* status, isc_blob_handle*, unsigned short* actual,
                                       unsigned short length, ISC_SCHAR* buffer) -> ISC_STATUS {
    if (reads++ == 0 && length >= 3) {
      std::memcpy(buffer, "abc", 3);
      *actual = 3;
      return 0;
    }
    *actual = 0;
    status[0] = 1;
    status[1] = isc_network_error;
    return isc_network_error;
  };
  ClientCallTable.isc_close_blob = [](ISC_STATUS*, isc_blob_handle* blob) -> ISC_STATUS {
    *blob = 0;
    return 0;
  };
  TIB_SessionBase session(nullptr);
  TIB_BlobCacheNode node{};
  int callbacks = 0;
  EXPECT_EQ(session.ReadBlob(nullptr, nullptr, nullptr, &node,
                             [&](const XSQLVAR*, TIB_BlobCallbackStatus, int32_t, int32_t&) { ++callbacks; }),
            isc_network_error);
  EXPECT_EQ(info_calls, 1);
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(callbacks, 0);
  EXPECT_EQ(session.LastResult(), isc_network_error);
  EXPECT_EQ(session.StatusVector()[1], isc_network_error) << "the vector still tells why";

  EXPECT_EQ(session.ReadBlob(nullptr, nullptr, nullptr, &node, nullptr), isc_network_error);
  EXPECT_EQ(info_calls, 1) << "no information call without a callback";
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(session.StatusVector()[1], isc_network_error);
  EXPECT_EQ(node.Size, 3) << "what did arrive";
  FreeBlobNodeBuffer(&node);
}

}  // namespace
}  // namespace pelvar::test
