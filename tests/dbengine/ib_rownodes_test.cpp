// A row packed into a buffered dataset's node and unpacked again: the node format,
// saved rows, damaged or missing node data, and edited blobs that travel in the node's
// chain (the first column's included).
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_NodeList.h"

namespace pelvar {
namespace {

XSQLVAR MakeVar(int16_t type, int16_t len, const char* alias, int16_t subtype = 0) {
  XSQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqlsubtype = subtype;
  v.aliasname_length = static_cast<int16_t>(std::strlen(alias));
  std::memcpy(v.aliasname, alias, static_cast<size_t>(v.aliasname_length));
  v.sqlname_length = v.aliasname_length;
  std::memcpy(v.sqlname, alias, static_cast<size_t>(v.sqlname_length));
  return v;
}

// Columns: a text blob, VARCHAR(10), a non-nullable INTEGER, CHAR(5).
class NodeStatement : public TIB_RowOwner {
 public:
  NodeStatement() : TIB_RowOwner(nullptr), fields(this, rtFields) {
    vars = {MakeVar(SQL_BLOB + 1, 8, "MEMO", 1), MakeVar(SQL_VARYING + 1, 10, "NAME"),
            MakeVar(SQL_LONG, 4, "N"), MakeVar(SQL_TEXT + 1, 5, "C")};
    fields.SetColumnCount(static_cast<int16_t>(vars.size()));
    fields.ClearRow(rsLoaded);
  }
  ~NodeStatement() override {
    fields.SetRowNode(nullptr);
    fields.ClearColumns();
  }
  void SysDescribeRow(TIB_Row* row) override {
    for (size_t i = 0; i < vars.size(); ++i) *row->Var(static_cast<int32_t>(i)) = vars[i];
  }
  std::vector<XSQLVAR> vars;
  TIB_Row fields;
};

TEST(RowNodes, PackAndUnpack) {
  NodeStatement st;
  TIB_Row& r = st.fields;
  TIB_Node node;
  r.SetRowNode(&node);
  r.ColumnByName("NAME")->SetAsString("abc");
  r.ColumnByName("N")->SetAsInteger(7);
  r.SaveToNode();
  // MEMO null (2), NAME (2 + 2 + 3), N (2 + 4), C null (2).
  const char expected[] = {'\xFF', '\xFF', 0, 0, 3, 0, 'a', 'b', 'c', 0, 0, 7, 0, 0, 0, '\xFF', '\xFF'};
  EXPECT_EQ(node.Row, std::vector<char>(expected, expected + sizeof expected));

  // The saved row becomes the old values; the row the current ones.
  node.OldRow = node.Row;
  r.ColumnByName("NAME")->SetAsString("xyz12");
  r.ColumnByName("C")->SetAsString("q");
  r.SaveToNode();
  r.ClearRow(rsEmpty);
  int changes = 0;
  r.OnDataChange = [&](TIB_Row*, TIB_Column* c) { changes += c == nullptr; };
  r.LoadFromNode(true, false);
  EXPECT_EQ(r.RowState(), rsLoaded);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(r.ColumnByName("NAME")->GetAsString(), "xyz12");
  EXPECT_EQ(r.ColumnByName("C")->GetAsString(), "q");
  EXPECT_EQ(r.ColumnByName("N")->GetAsInteger(), 7);
  EXPECT_TRUE(r.ColumnByName("MEMO")->GetIsNull());
  EXPECT_EQ(r.ColumnByName("NAME")->GetOldAsString(), "abc");
  EXPECT_TRUE(r.ColumnByName("C")->GetOldIsNull());
  r.OnDataChange = nullptr;

  // A node without an old row loads the row as unchanged.
  node.OldRow.clear();
  r.LoadFromNode(false, false);
  EXPECT_EQ(r.ColumnByName("NAME")->GetOldAsString(), "xyz12");
}

TEST(RowNodes, MissingOrDamagedNodeData) {
  NodeStatement st;
  TIB_Row& r = st.fields;
  TIB_Node node;
  try {
    r.LoadFromNode(true, false);
    FAIL() << "a row without a node has nothing to load";
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), "No record data to load");
  }
  r.SetRowNode(&node);
  EXPECT_THROW(r.LoadFromNode(true, false), EIB_StatementError);

  // A VARCHAR stored longer than the column is cut; data that ends early leaves the rest
  // null instead of being read past its end.
  const char longer[] = {'\xFF', '\xFF', 0, 0, 12, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 0, 0, 9};
  node.Row.assign(longer, longer + sizeof longer);
  r.LoadFromNode(true, false);
  EXPECT_EQ(r.ColumnByName("NAME")->GetAsString(), "abcdefghij");
  EXPECT_TRUE(r.ColumnByName("C")->GetIsNull());
  EXPECT_EQ(r.ColumnByName("N")->GetAsInteger(), 0);
  node.Row.assign(longer, longer + 5);
  r.LoadFromNode(true, false);
  EXPECT_TRUE(r.ColumnByName("NAME")->GetIsNull());
}

TEST(RowNodes, EditedBlobsTravelInTheNodeChain) {
  NodeStatement st;
  TIB_Row& r = st.fields;
  TIB_Node node;
  r.SetRowNode(&node);
  EXPECT_EQ(r.GetBlobNodes(), &node.BlobChain);
  r.ColumnByName("MEMO")->SetAsString("long text");
  r.ColumnByName("N")->SetAsInteger(1);
  r.SaveToNode();
  ASSERT_NE(node.BlobChain, nullptr);
  EXPECT_TRUE(node.BlobChain->Changed);
  EXPECT_EQ(node.BlobChain->FieldNo, 0);
  EXPECT_EQ(node.BlobChain->Size, 9);

  // Another node is shown meanwhile; coming back hands the blob to the row again.
  TIB_Node other;
  r.SetRowNode(&other);
  r.ClearRow(rsLoaded);
  r.SetRowNode(&node);
  r.LoadFromNode(true, true);
  EXPECT_EQ(r.ColumnByName("MEMO")->GetAsString(), "long text");
  // The node keeps its edit until it is posted or cancelled: shown again after another
  // row, the row still has it, and the other row's view never had it.
  ASSERT_NE(node.BlobChain, nullptr);
  EXPECT_EQ(node.BlobChain->Next, nullptr);
  EXPECT_TRUE(node.BlobChain->Changed);
  r.SetRowNode(&other);
  r.ClearRow(rsLoaded);
  r.SetRowNode(&node);
  r.LoadFromNode(true, true);
  EXPECT_EQ(r.ColumnByName("MEMO")->GetAsString(), "long text");

  // An edit to an empty text travels the same way; saved again and cancelled, the node
  // forgets the edit.
  r.ColumnByName("MEMO")->SetAsString("");
  r.SaveToNode();
  ASSERT_NE(node.BlobChain, nullptr);
  EXPECT_EQ(node.BlobChain->Next, nullptr);
  EXPECT_TRUE(node.BlobChain->Changed);
  EXPECT_EQ(node.BlobChain->Size, 0);
  r.CancelNodeBlobs();
  EXPECT_EQ(node.BlobChain, nullptr);
  r.SetRowNode(nullptr);
  EXPECT_NE(r.GetBlobNodes(), &node.BlobChain);
  FreeBlobNodeChain(other.BlobChain);
}

}  // namespace
}  // namespace pelvar
