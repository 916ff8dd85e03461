// The row-node list of the buffered dataset: numbering from both sides, positions and
// their hidden-row counters, seeking, fetching on demand, key look-up, inserting and
// deleting, filtering, unidirectional mode and the cached-update bookkeeping. A checker
// recomputes every position from scratch after each step of a random walk.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_NodeList.h"
#include "platform/codepage.h"

namespace pelvar {
namespace {

std::vector<char> KeyOf(int32_t k) {
  std::vector<char> b(4);
  std::memcpy(b.data(), &k, 4);
  return b;
}

int32_t KeyValue(const TIB_Node* n) {
  int32_t k;
  std::memcpy(&k, n->Key.data(), 4);
  return k;
}

TIB_Node* Add(TIB_NodeList& l, int32_t k, bool append = true, bool hidden = false) {
  return l.AddKey(KeyOf(k).data(), false, hidden, append);
}

// Every node of the list in order.
std::vector<TIB_Node*> Nodes(TIB_NodeList& l) {
  std::vector<TIB_Node*> out;
  for (TIB_Node* n = l.BofNode()->Next; n != l.EofNode(); n = n->Next) out.push_back(n);
  return out;
}

std::vector<TIB_Node*> VisibleNodes(TIB_NodeList& l) {
  std::vector<TIB_Node*> out;
  for (TIB_Node* n : Nodes(l)) {
    if (!l.IsHidden(n)) out.push_back(n);
  }
  return out;
}

// Recomputes the numbers and hidden counters of the five positions from the nodes and
// checks the reported numbers against the visible rows.
void CheckList(TIB_NodeList& l) {
  SCOPED_TRACE("list check");
  std::vector<TIB_Node*> nodes = Nodes(l);
  int32_t bof_side = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const bool b = nodes[i]->Flags & nfBofSide;
    const bool e = nodes[i]->Flags & nfEofSide;
    ASSERT_NE(b, e) << "node " << i << " must be on exactly one side";
    if (b) {
      ++bof_side;
      ASSERT_EQ(static_cast<int32_t>(i) + 1, bof_side) << "BOF-side nodes come first";
    }
    ASSERT_EQ(nodes[i]->Next->Prev, nodes[i]);
  }
  const int32_t bof_num = -bof_side;
  ASSERT_EQ(l.BofPosition().RowNum, bof_num);
  ASSERT_EQ(l.EofPosition().RowNum, bof_num + static_cast<int32_t>(nodes.size()) + 1);
  ASSERT_EQ(l.NodeCount(), static_cast<int32_t>(nodes.size()));
  const uint16_t empty_flags = nfBof | nfEof;
  ASSERT_EQ(l.BofNode()->Flags, nodes.empty() ? empty_flags : nfBof);
  ASSERT_EQ(l.EofNode()->Flags, nodes.empty() ? empty_flags : nfEof);

  auto expected = [&](const TIB_NodePosition& p) {
    TIB_NodePosition e{p.Node, 0, 0, 0, 0};
    int32_t num = bof_num;
    int32_t index = -1;
    if (p.Node == l.EofNode()) {
      num = bof_num + static_cast<int32_t>(nodes.size()) + 1;
      index = static_cast<int32_t>(nodes.size());
    } else if (p.Node != l.BofNode()) {
      for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i] == p.Node) {
          num = bof_num + static_cast<int32_t>(i) + 1;
          index = static_cast<int32_t>(i);
        }
      }
      EXPECT_NE(index, -1) << "position on a node outside the list";
    }
    e.RowNum = num;
    const bool eof_side = p.Node == l.EofNode() || (p.Node->Flags & nfEofSide);
    for (size_t i = 0; i < nodes.size(); ++i) {
      const int32_t n = bof_num + static_cast<int32_t>(i) + 1;
      const bool in = eof_side ? (n >= 1 && n <= num) : (n > num && n <= 0);
      if (!in) continue;
      const bool d = nodes[i]->Flags & nfDeleted;
      const bool f = nodes[i]->Flags & nfFiltered;
      e.Deleted += d;
      e.Filtered += f;
      e.Both += d && f;
    }
    return e;
  };
  for (const TIB_NodePosition* p : {&l.BofPosition(), &l.EofPosition(), &l.RowPosition(),
                                    &l.BufferPosition(), &l.OriginPosition()}) {
    const TIB_NodePosition e = expected(*p);
    EXPECT_EQ(p->RowNum, e.RowNum);
    EXPECT_EQ(p->Deleted, e.Deleted);
    EXPECT_EQ(p->Filtered, e.Filtered);
    EXPECT_EQ(p->Both, e.Both);
  }
  EXPECT_EQ(l.OriginPosition().RowNum, 0);

  const std::vector<TIB_Node*> visible = VisibleNodes(l);
  ASSERT_EQ(l.VisibleCount(), static_cast<int32_t>(visible.size()));
  EXPECT_EQ(l.IsEmpty(), visible.empty());
  EXPECT_EQ(l.EofRowNum(), l.BofRowNum() + static_cast<int32_t>(visible.size()) + 1);
}

// Seeking each visible number lands on that visible row; the list is left as it was.
void CheckSeeks(TIB_NodeList& l) {
  const std::vector<TIB_Node*> visible = VisibleNodes(l);
  const int32_t bof = l.BofRowNum();
  TIB_Node* keep = l.BufferNode();
  for (size_t i = 0; i < visible.size(); ++i) {
    l.SetBufferRowNum(bof + 1 + static_cast<int32_t>(i));
    ASSERT_EQ(l.BufferNode(), visible[i]) << "visible row " << i;
    ASSERT_EQ(l.BufferRowNum(), bof + 1 + static_cast<int32_t>(i));
  }
  l.SetBufferRowNum(bof);
  EXPECT_TRUE(l.IsBufferBof());
  l.SetBufferRowNum(l.EofRowNum() + 5);
  EXPECT_TRUE(l.IsBufferEof());
  if (keep != nullptr) {
    TIB_NodePosition p;
    if (keep == l.BofNode()) {
      l.SetBufferRowNum(bof);
    } else if (keep != l.EofNode() && l.LocateKey(keep->Key.data(), false, p)) {
      l.SetBufferPosition(p.Node, p.RowNum, p.Deleted, p.Filtered, p.Both);
    }
  }
}

TEST(NodeList, EmptyListAndFirstRows) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  EXPECT_EQ(l.NodeCount(), 0);
  EXPECT_EQ(l.BofRowNum(), 0);
  EXPECT_EQ(l.EofRowNum(), 1);
  EXPECT_TRUE(l.IsRowBof());
  EXPECT_TRUE(l.IsRowEof());
  EXPECT_TRUE(l.IsBufferBof());
  EXPECT_TRUE(l.IsBufferEof());
  EXPECT_TRUE(l.BofFetched());
  EXPECT_TRUE(l.EofFetched());
  CheckList(l);

  // A row position on the BOF sentinel stays there; one on EOF moves onto the new row.
  TIB_Node* first = Add(l, 10);
  EXPECT_EQ(l.RowNumOfNode(first), 1);
  EXPECT_TRUE(l.IsRowBof());
  EXPECT_EQ(l.RowNum(), 0);
  l.SetRowNum(1);
  l.SetBufferRowNum(5);
  EXPECT_TRUE(l.IsBufferEof());
  EXPECT_EQ(l.BufferRowNum(), 2);
  TIB_Node* second = Add(l, 20);
  EXPECT_EQ(l.BufferNode(), second);
  EXPECT_EQ(l.BufferRowNum(), 2);
  EXPECT_EQ(l.RowNode(), first);
  CheckList(l);

  // Rows read backwards are numbered 0, -1, ...; row 0 is the origin.
  TIB_Node* zero = Add(l, 5, false);
  TIB_Node* minus = Add(l, 4, false);
  EXPECT_EQ(l.RowNumOfNode(zero), 0);
  EXPECT_EQ(l.RowNumOfNode(minus), -1);
  EXPECT_EQ(l.OriginPosition().Node, zero);
  EXPECT_EQ(l.BofRowNum(), -2);
  EXPECT_EQ(l.EofRowNum(), 3);
  EXPECT_EQ(l.NodeCount(), 4);
  CheckList(l);
  CheckSeeks(l);
}

TEST(NodeList, DuplicateKeysAndDetachedNodes) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  l.BeginFetch(0);
  Add(l, 1);
  Add(l, 2);
  // A key the dataset inserted itself is not added again by a later fetch.
  l.SetRowNum(2);
  TIB_Node* inserted = l.InsertNode();
  std::memcpy(inserted->Key.data(), KeyOf(7).data(), 4);
  EXPECT_EQ(Add(l, 7), nullptr);
  // The duplicate check scans the list, matching the old key as well.
  EXPECT_EQ(l.AddKey(KeyOf(1).data(), true, false, true), nullptr);
  TIB_Node* two = l.RowNode()->Next;
  ASSERT_EQ(KeyValue(two), 2);
  two->OldKey = KeyOf(22);
  EXPECT_EQ(l.AddKey(KeyOf(22).data(), true, false, true), nullptr);
  EXPECT_NE(l.AddKey(KeyOf(3).data(), true, false, true), nullptr);
  CheckList(l);

  // A cached change survives a release; fetching its key again brings the node back.
  l.MarkUpdate(l.RowNode()->Prev, nmkModify);  // the node of key 1
  l.Release(false, true, true);
  EXPECT_EQ(l.NodeCount(), 0);
  ASSERT_NE(l.DetachedHead(), nullptr);
  EXPECT_EQ(l.RowNumOfNode(l.DetachedHead()), NodeDetached);
  TIB_NodePosition p;
  ASSERT_TRUE(l.LocateKey(KeyOf(1).data(), true, p));
  EXPECT_EQ(p.RowNum, NodeDetached);
  EXPECT_FALSE(l.LocateKey(KeyOf(1).data(), false, p));
  l.BeginFetch(0);
  TIB_Node* back = Add(l, 1);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->Flags & nfModified);
  EXPECT_EQ(l.ModifiedCount(), 1);
  EXPECT_EQ(l.DetachedHead(), nullptr);
  CheckList(l);
}

TEST(NodeList, ReleaseKeepsWhatStillHoldsSomething) {
  // Nodes: 1 plain, 2 with row data, 3 with a blob chain, 4 with a cached-update mark
  // (a pending modification, or a skipped change that is no longer pending).
  struct Case {
    bool keep, whole_rows, has_keys, unidirectional, pending;
    std::vector<int32_t> kept;
  };
  const Case cases[] = {
      {false, false, false, false, false, {}},
      {true, false, false, false, false, {2, 4}},
      {true, true, true, false, false, {3, 4}},
      {true, true, true, true, false, {4}},
      {true, false, true, false, false, {2, 3, 4}},
      {false, true, true, false, true, {3, 4}},  // a pending change keeps the nodes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keep << c.whole_rows << c.has_keys << c.unidirectional << c.pending);
    TIB_NodeList l;
    l.SetKeyLength(4);
    for (int32_t k = 1; k <= 4; ++k) Add(l, k, true, k == 2);
    std::vector<TIB_Node*> n = Nodes(l);
    n[1]->Row.assign(3, 'r');
    n[2]->BlobChain = new TIB_BlobCacheNode{};
    if (c.pending) {
      l.MarkUpdate(n[3], nmkModify);
    } else {
      n[3]->Flags |= nfSkipped;
    }
    l.SetUnidirectional(c.unidirectional);
    l.SetFetched(false);
    l.Release(c.keep, c.whole_rows, c.has_keys);
    std::vector<int32_t> kept;
    for (TIB_Node* d = l.DetachedHead(); d != nullptr; d = d->Next) {
      kept.push_back(KeyValue(d));
      EXPECT_FALSE(d->Flags & (nfEofSide | nfBofSide | nfFiltered));
    }
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(l.PoolCount(), 4 - static_cast<int32_t>(c.kept.size()));
    EXPECT_EQ(l.NodeCount(), 0);
    EXPECT_TRUE(l.BofFetched());  // the fetched flags stay
    CheckList(l);
  }
}

TEST(NodeList, LocateKeyWindowsAndHexKeys) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  for (int32_t k = 1; k <= 501; ++k) Add(l, k * 10);
  l.SetRowNum(300);
  ASSERT_EQ(KeyValue(l.RowNode()), 3000);
  // Rows before and after the current row, and near EOF.
  for (int32_t row : {220, 300, 380, 500, 1, 150}) {
    TIB_NodePosition p;
    ASSERT_TRUE(l.LocateKey(KeyOf(row * 10).data(), false, p)) << row;
    EXPECT_EQ(p.RowNum, row);
    EXPECT_EQ(KeyValue(p.Node), row * 10);
  }
  TIB_NodePosition p;
  EXPECT_FALSE(l.LocateKey(KeyOf(5).data(), true, p));
  EXPECT_EQ(p.Node, nullptr);
  EXPECT_EQ(p.RowNum, NodeNoRow);

  EXPECT_TRUE(l.LocateBufferKey(KeyOf(4000).data()));
  EXPECT_EQ(l.BufferRowNum(), 400);
  EXPECT_FALSE(l.LocateBufferKey(KeyOf(4001).data()));
  EXPECT_TRUE(l.IsBufferBof());

  // A bookmark is the hex text of the key; locating it drops the row's data.
  TIB_Node* n = l.RowNode();
  n->Row.assign(8, 'x');
  const AnsiString hex = BinaryToHexText(n->Key.data(), 4);
  ASSERT_TRUE(l.LocateHexKey(hex, p));
  EXPECT_EQ(p.Node, n);
  EXPECT_TRUE(n->Row.empty());
  EXPECT_FALSE(l.LocateHexKey("", p));
  EXPECT_FALSE(l.LocateHexKey("ZZ", p));
  CheckList(l);
}

TEST(NodeList, InsertAndDeleteKeepNumbersConsecutive) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  for (int32_t k = 1; k <= 3; ++k) Add(l, k);
  for (int32_t k = 0; k >= -2; --k) Add(l, k, false);
  CheckList(l);
  // Inserting on the BOF side keeps the BOF number; row 0 stays the origin.
  l.SetRowNum(-1);
  TIB_Node* a = l.InsertNode();
  EXPECT_EQ(l.RowNode(), a);
  EXPECT_EQ(l.RowNum(), -1);
  EXPECT_EQ(l.BofRowNum(), -3);
  EXPECT_EQ(l.EofRowNum(), 5);
  CheckList(l);
  // Inserting at the current row on the EOF side, and at BOF.
  l.SetRowNum(3);
  l.InsertNode();
  l.SetRowNum(l.BofRowNum());
  TIB_Node* front = l.InsertNode();
  EXPECT_EQ(l.RowNumOfNode(front), l.BofRowNum() + 1);
  CheckList(l);
  CheckSeeks(l);

  // Deleting moves the current row to the next row, or back at the end.
  l.SetRowNum(0);
  TIB_Node* next = l.RowNode()->Next;
  l.DeleteRow();
  EXPECT_EQ(l.RowNode(), next);
  CheckList(l);
  l.SetRowNum(l.EofRowNum() - 1);
  TIB_Node* prev = l.RowNode()->Prev;
  l.DeleteRow();
  EXPECT_EQ(l.RowNode(), prev);
  CheckList(l);
  while (l.NodeCount() > 0) {
    l.SetRowNum(l.BofRowNum() + 1);
    l.DeleteRow();
    CheckList(l);
  }
  EXPECT_TRUE(l.IsRowBof());
  EXPECT_TRUE(l.IsRowEof());
  try {
    l.DeleteRow();
    FAIL() << "deleting on an empty list must fail";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), CZ("Chybný odkaz na Delete"));
  }
  EXPECT_THROW(l.DeleteBufferRow(), Exception);
  EXPECT_EQ(l.PoolCount(), 9);  // every node went back to the pool
}

// The positions follow inserts and deletes by what each one changes: a long run of
// appends (the way a dataset appends: current row on EOF, then insert), inserts in the
// middle and at BOF, and deletes on both sides of the origin, with hidden rows among
// them and the buffer position standing anywhere, keeps every number and counter exact.
TEST(NodeList, ManyInsertsAppendsAndDeletesKeepPositionsExact) {
  std::mt19937 rng(4242);
  TIB_NodeList l;
  l.SetKeyLength(4);
  int32_t key = 0;
  for (int i = 0; i < 150; ++i) Add(l, ++key, true, i % 7 == 0);
  for (int i = 0; i < 150; ++i) Add(l, ++key, false, i % 5 == 0);
  for (TIB_Node* n : Nodes(l)) {
    if (rng() % 6 == 0) l.MarkUpdate(n, nmkDelete);
  }
  l.SetFiltered(true);
  CheckList(l);
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const int op = static_cast<int>(rng() % 10);
    const int32_t visible = l.VisibleCount();
    auto any_row = [&] { return l.BofRowNum() + 1 + static_cast<int32_t>(rng() % (visible > 0 ? visible : 1)); };
    if (op < 4) {
      // Append.
      l.SetRowNum(l.EofRowNum());
      TIB_Node* n = l.InsertNode();
      std::memcpy(n->Key.data(), KeyOf(++key).data(), 4);
      EXPECT_EQ(l.RowNode(), n);
      EXPECT_EQ(l.RowNum(), l.EofRowNum() - 1);
    } else if (op < 7) {
      // Insert in the middle (now and then at BOF).
      l.SetRowNum(op == 6 && rng() % 4 == 0 ? l.BofRowNum() : any_row());
      const int32_t at = l.IsRowBof() ? l.BofRowNum() + 1 : l.RowNum();
      TIB_Node* n = l.InsertNode();
      std::memcpy(n->Key.data(), KeyOf(++key).data(), 4);
      EXPECT_EQ(l.RowNum(), at);
      EXPECT_EQ(l.RowNumOfNode(n), l.RowPosition().RowNum);
    } else if (visible > 1) {
      // Delete the current row or the buffer row.
      if (op == 9) {
        l.SetBufferRowNum(any_row());
        l.DeleteBufferRow();
      } else {
        l.SetRowNum(any_row());
        l.DeleteRow();
      }
    }
    if (rng() % 3 == 0) l.SetBufferRowNum(any_row());
    CheckList(l);
    if (step % 500 == 0) {
      CheckSeeks(l);
      for (TIB_Node* n : Nodes(l)) {
        const TIB_NodePosition p = l.PositionOfNode(n);
        ASSERT_EQ(p.Node, n);
        ASSERT_EQ(p.RowNum, l.RowNumOfNode(n));
      }
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(l.NodeCount(), 1000);
  // Cancelling the cached deletions brings the hidden rows back where they were counted.
  l.ProcessUpdates(npmCancel);
  CheckList(l);
  CheckSeeks(l);
}

TEST(NodeList, FilteringHidesRowsAndSettles) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  for (int32_t k = 1; k <= 6; ++k) Add(l, k);
  for (int32_t k = 0; k >= -3; --k) Add(l, k, false);
  int before = 0, after = 0;
  l.OnBeforeRefilter = [&](TIB_NodeList*) { ++before; };
  l.OnAfterRefilter = [&](TIB_NodeList*) { ++after; };
  l.OnFilter = [](TIB_NodeList*, TIB_Node* n, bool& hidden) { hidden = KeyValue(n) % 2 != 0; };
  l.SetRowNum(3);  // key 3: hidden once filtering is on
  l.Refilter();
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(l.VisibleCount(), 10);  // hiding is still off
  CheckList(l);
  l.SetFiltered(true);
  EXPECT_EQ(KeyValue(l.RowNode()), 4);  // settled on the next visible row
  EXPECT_EQ(l.VisibleCount(), 5);
  CheckList(l);
  CheckSeeks(l);
  // Settling at the end turns back.
  l.SetFiltered(false);
  l.SetRowNum(l.EofRowNum() - 1);
  ASSERT_EQ(KeyValue(l.RowNode()), 6);
  EXPECT_FALSE(l.SetRowFiltered(false));
  l.SetFiltered(true);
  EXPECT_TRUE(l.SetRowFiltered(true));
  l.MoveRowBy(0);
  EXPECT_EQ(KeyValue(l.RowNode()), 4);
  CheckList(l);
  // Moving steps over hidden rows; the emptiness test agrees when backward rows hide.
  l.SetRowNum(l.BofRowNum());
  l.MoveRowBy(1);
  EXPECT_EQ(KeyValue(l.RowNode()), -2);
  l.MoveRowBy(2);
  EXPECT_EQ(KeyValue(l.RowNode()), 2);
  l.OnFilter = [](TIB_NodeList*, TIB_Node*, bool& hidden) { hidden = true; };
  l.Refilter();
  EXPECT_TRUE(l.IsEmpty());
  EXPECT_TRUE(l.IsRowBof() && l.IsRowEof());
  CheckList(l);
  // The after-refilter handler runs even when the filter fails.
  l.OnFilter = [](TIB_NodeList*, TIB_Node*, bool&) { throw Exception("boom"); };
  after = 0;
  EXPECT_THROW(l.Refilter(), Exception);
  EXPECT_EQ(after, 1);
  EXPECT_TRUE(l.Filtered());
  CheckList(l);
}

TEST(NodeList, MovesFetchOnDemand) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  l.BeginFetch(0);
  EXPECT_TRUE(l.BofFetched());
  EXPECT_FALSE(l.EofFetched());
  int32_t next_key = 1;
  int calls = 0;
  l.OnFetch = [&](TIB_NodeList* list, bool forward, int32_t count) {
    ++calls;
    EXPECT_TRUE(forward);
    EXPECT_EQ(count, 1);
    if (next_key > 5) {
      list->SetFetched(true);
      return;
    }
    Add(*list, next_key++);
  };
  l.MoveRowBy(1);
  EXPECT_EQ(l.RowNum(), 1);
  l.MoveRowBy(3);
  EXPECT_EQ(l.RowNum(), 4);
  EXPECT_EQ(KeyValue(l.RowNode()), 4);
  l.MoveRowBy(100);
  EXPECT_TRUE(l.IsRowEof());
  EXPECT_EQ(l.RowNum(), 6);
  EXPECT_TRUE(l.EofFetched());
  const int calls_at_end = calls;
  l.MoveRowBy(1);
  EXPECT_EQ(calls, calls_at_end);
  // Seeking never fetches.
  l.SetRowNum(2);
  EXPECT_EQ(KeyValue(l.RowNode()), 2);
  CheckList(l);
}

TEST(NodeList, UnidirectionalKeepsOnlyTheNewestRow) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  l.SetUnidirectional(true);
  l.BeginFetch(0);
  int32_t next_key = 1;
  l.OnFetch = [&](TIB_NodeList* list, bool, int32_t) {
    if (next_key > 3) {
      list->SetFetched(true);
      return;
    }
    Add(*list, next_key++);
  };
  TIB_Node* only = nullptr;
  for (int32_t expected = 1; expected <= 3; ++expected) {
    l.MoveRowBy(1);
    if (only == nullptr) only = l.RowNode();
    EXPECT_EQ(l.RowNode(), only);  // the one node is recycled
    EXPECT_EQ(l.NodeCount(), 1);
    EXPECT_EQ(KeyValue(l.RowNode()), expected);
    EXPECT_EQ(l.RowNum(), expected);
  }
  l.MoveRowBy(1);
  EXPECT_TRUE(l.IsRowEof());
  EXPECT_EQ(l.PoolCount(), 0);
}

TEST(NodeList, CachedUpdateBookkeeping) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  for (int32_t k = 1; k <= 4; ++k) Add(l, k)->Row.assign(4, static_cast<char>('0' + k));
  std::vector<TIB_Node*> n = Nodes(l);
  // Edit twice: the first saved row stays.
  l.MarkUpdate(n[0], nmkModify);
  n[0]->Row.assign(4, 'e');
  l.MarkUpdate(n[0], nmkModify);
  EXPECT_EQ(n[0]->OldRow, std::vector<char>(4, '1'));
  // Delete hides the row; deleting an edited row turns the edit into a deletion.
  l.MarkUpdate(n[1], nmkDelete);
  l.SetRowNum(1);
  l.MarkUpdate(n[0], nmkDelete);
  EXPECT_EQ(l.ModifiedCount(), 0);
  EXPECT_EQ(l.DeletedCount(), 2);
  EXPECT_EQ(l.VisibleCount(), 2);
  CheckList(l);
  CheckSeeks(l);
  // An inserted row cannot be deleted through the bookkeeping.
  l.SetRowNum(l.EofRowNum());
  TIB_Node* ins = l.InsertNode();
  l.MarkUpdate(ins, nmkInsert);
  EXPECT_EQ(l.InsertedCount(), 1);
  EXPECT_THROW(l.MarkUpdate(ins, nmkDelete), Exception);

  // Apply: the handler answers per node; applied and skipped changes leave the counts.
  std::vector<std::pair<int32_t, int32_t>> seen;
  l.OnApplyUpdate = [&](TIB_NodeList* list, TIB_Node* node, int32_t& action, int32_t kind) {
    seen.emplace_back(KeyValue(node), kind);
    EXPECT_EQ(list->NodeUnderProcessing(), node);
    if (kind == nukInsert) action = nuaSkip;
    if (KeyValue(node) == 2) action = nuaFail;
  };
  l.ProcessUpdates(npmApply);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], std::make_pair(int32_t{1}, nukDelete));  // first changed first
  EXPECT_EQ(seen[1], std::make_pair(int32_t{2}, nukDelete));
  EXPECT_EQ(seen[2].second, nukInsert);
  EXPECT_EQ(l.DeletedCount(), 1);
  EXPECT_EQ(l.InsertedCount(), 0);
  EXPECT_FALSE(l.Processing());
  EXPECT_EQ(l.ProcessedCount(), NodeDetached);
  // Commit: the applied deletion leaves the list, the skipped insert counts again.
  l.ProcessUpdates(npmCommit);
  EXPECT_EQ(l.NodeCount(), 4);
  EXPECT_EQ(l.InsertedCount(), 1);
  EXPECT_EQ(l.PendingList().size(), 2u);
  CheckList(l);
  // Cancel: the insert goes, the deletion is undone.
  std::vector<TIB_Node*> reverted;
  l.OnRevert = [&](TIB_NodeList*, TIB_Node* node) { reverted.push_back(node); };
  l.ProcessUpdates(npmCancel);
  EXPECT_FALSE(l.HasPendingUpdates());
  EXPECT_EQ(l.NodeCount(), 3);
  EXPECT_EQ(l.VisibleCount(), 3);
  ASSERT_EQ(reverted.size(), 1u);
  EXPECT_EQ(KeyValue(reverted[0]), 2);
  EXPECT_EQ(l.InsertedCount() + l.ModifiedCount() + l.DeletedCount(), 0);
  CheckList(l);

  // Without a handler the apply pass refuses.
  l.OnApplyUpdate = nullptr;
  l.MarkUpdate(Nodes(l)[0], nmkModify);
  EXPECT_THROW(l.ProcessUpdates(npmApply), Exception);
  EXPECT_FALSE(l.Processing());
}

TEST(NodeList, RowNumbersNeverWrap) {
  TIB_NodeList l;
  l.SetKeyLength(4);
  TIB_Node* a = Add(l, 1);
  Add(l, 2);
  l.SetBufferPosition(a, 2147483647, 0, 0, 0);
  EXPECT_THROW(l.MoveBufferBy(1), EIntOverflow);
  EXPECT_EQ(l.BufferRowNum(), 2147483647);  // left where it was
}

TEST(NodeList, RandomWalkKeepsPositionsConsistent) {
  std::mt19937 rng(20081224);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    TIB_NodeList l;
    l.SetKeyLength(4);
    int32_t key = 0;
    for (int step = 0; step < 120; ++step) {
      const int op = static_cast<int>(rng() % 11);
      const int32_t count = l.NodeCount();
      const int32_t pick = count > 0 ? l.BofPosition().RowNum + 1 + static_cast<int32_t>(rng() % count) : 0;
      auto node_at = [&](int32_t num) { return Nodes(l)[static_cast<size_t>(num - l.BofPosition().RowNum - 1)]; };
      switch (op) {
        case 0:
        case 1:
          Add(l, ++key, true, rng() % 4 == 0);
          break;
        case 2:
          Add(l, ++key, false, rng() % 4 == 0);
          break;
        case 3:
          l.SetRowNum(l.BofRowNum() + static_cast<int32_t>(rng() % (l.VisibleCount() + 2)));
          std::memcpy(l.InsertNode()->Key.data(), KeyOf(++key).data(), 4);
          break;
        case 4:
          if (!l.IsEmpty()) {
            l.SetRowNum(l.BofRowNum() + 1 + static_cast<int32_t>(rng() % l.VisibleCount()));
            l.DeleteRow();
          }
          break;
        case 5:
          if (count > 0) {
            TIB_Node* n = node_at(pick);
            if (!(n->Flags & nfInserted)) {
              if (n->Flags & nfDeleted) {
                l.RevertNode(n, true);
              } else {
                l.MarkUpdate(n, nmkDelete);
              }
            }
          }
          break;
        case 6:
          l.SetFiltered(!l.Filtered());
          break;
        case 7:
          l.OnFilter = [&rng](TIB_NodeList*, TIB_Node*, bool& hidden) { hidden = rng() % 3 == 0; };
          l.Refilter();
          break;
        case 8:
          l.MoveRowBy(static_cast<int32_t>(rng() % 7) - 3);
          break;
        case 9:
          l.SetHideDeleted(!l.HideDeleted());
          break;
        case 10:
          if (!l.IsRowBof() && !l.IsRowEof()) l.SetRowFiltered(rng() % 2 == 0);
          break;
      }
      CheckList(l);
      CheckSeeks(l);
      if (HasFatalFailure() || HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace pelvar
