// TIB_NodeList: nodes, positions, row numbers, hidden rows and the cached-update
// bookkeeping of the buffered dataset.
#include "dbengine/IB_NodeList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dbclient/IB_Utils.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace pelvar {

namespace {

struct HiddenCounts {
  int32_t d = 0;
  int32_t f = 0;
  int32_t b = 0;
};

HiddenCounts CountsOf(const TIB_Node* n) {
  const bool d = (n->Flags & nfDeleted) != 0;
  const bool f = (n->Flags & nfFiltered) != 0;
  return {d ? 1 : 0, f ? 1 : 0, d && f ? 1 : 0};
}

void AddCounts(TIB_NodePosition& p, const HiddenCounts& h, int32_t sign) {
  CheckedInc(p.Deleted, sign * h.d);
  CheckedInc(p.Filtered, sign * h.f);
  CheckedInc(p.Both, sign * h.b);
}

// Which pending count a node's flags fall in: 1 modified, 2 inserted, 3 deleted, 0 none.
int CountKind(uint16_t f) {
  if (f & (nfApplied | nfSkipped)) return 0;
  if (f & nfModified) return 1;
  if (f & nfInserted) return 2;
  if (f & nfDeleted) return 3;
  return 0;
}

bool IsSpecial(int32_t n) { return n == NodeNoRow || n == NodeDetached; }

}  // namespace

// --- Construction and reset ------------------------------------------------------------------

TIB_NodeList::TIB_NodeList() { ResetPositions(); }

TIB_NodeList::~TIB_NodeList() {
  FreeAll();
  FreeBlobNodeChain(bof_node_.BlobChain);
  FreeBlobNodeChain(eof_node_.BlobChain);
  FreeBlobNodeChain(scratch_node_.BlobChain);
}

void TIB_NodeList::ResetPositions() {
  bof_node_.Prev = nullptr;
  bof_node_.Next = &eof_node_;
  eof_node_.Prev = &bof_node_;
  eof_node_.Next = nullptr;
  bof_node_.Flags = nfBof | nfEof;
  eof_node_.Flags = nfBof | nfEof;
  bof_ = {&bof_node_, 0, 0, 0, 0};
  eof_ = {&eof_node_, 1, 0, 0, 0};
  row_ = bof_;
  buffer_ = bof_;
  origin_ = bof_;
  row_num_offset_ = 0;
}

void TIB_NodeList::UpdateSentinelFlags() {
  if (bof_node_.Next == &eof_node_) {
    bof_node_.Flags = nfBof | nfEof;
    eof_node_.Flags = nfBof | nfEof;
  } else {
    bof_node_.Flags = nfBof;
    eof_node_.Flags = nfEof;
  }
}

void TIB_NodeList::ClearNode(TIB_Node* Node) {
  Node->Prev = nullptr;
  Node->Next = nullptr;
  Node->Flags = 0;
  Node->Key.assign(key_length_, 0);
  Node->Row.clear();
  Node->OldRow.clear();
  Node->OldRowEdited = false;
  Node->OldKey.clear();
  FreeBlobNodeChain(Node->BlobChain);
}

void TIB_NodeList::ReturnToPool(TIB_Node* Node) {
  ClearNode(Node);
  Node->Next = pool_head_;
  pool_head_ = Node;
  CheckedInc(pool_count_);
}

TIB_Node* TIB_NodeList::TakeNode() {
  TIB_Node* node = pool_head_;
  if (node != nullptr) {
    pool_head_ = node->Next;
    --pool_count_;
    node->Next = nullptr;
    node->Key.assign(key_length_, 0);
    return node;
  }
  node = new TIB_Node;
  node->Key.assign(key_length_, 0);
  return node;
}

void TIB_NodeList::FreeChain(TIB_Node*& Head) {
  while (Head != nullptr) {
    TIB_Node* n = Head;
    Head = n->Next;
    FreeBlobNodeChain(n->BlobChain);
    delete n;
  }
}

void TIB_NodeList::FreeAll() {
  TIB_Node* n = bof_node_.Next;
  while (n != nullptr && n != &eof_node_) {
    TIB_Node* next = n->Next;
    FreeBlobNodeChain(n->BlobChain);
    delete n;
    n = next;
  }
  FreeChain(detached_head_);
  FreeChain(pool_head_);
  pool_count_ = 0;
  pending_.clear();
  new_rows_.clear();
  modified_count_ = inserted_count_ = deleted_count_ = 0;
  processing_node_ = nullptr;
  processed_count_ = NodeDetached;
  dropped_rows_ = -1;
  bof_fetched_ = true;
  eof_fetched_ = true;
  ResetPositions();
}

void TIB_NodeList::SetKeyLength(uint16_t Length) {
  FreeAll();
  for (TIB_Node* n : {&bof_node_, &eof_node_, &scratch_node_}) n->Key.resize(Length, 0);
  key_length_ = Length;
}

void TIB_NodeList::AppendDetached(TIB_Node* Node) {
  Node->Next = nullptr;
  Node->Prev = nullptr;
  if (detached_head_ == nullptr) {
    detached_head_ = Node;
    return;
  }
  TIB_Node* tail = detached_head_;
  while (tail->Next != nullptr) tail = tail->Next;
  tail->Next = Node;
  Node->Prev = tail;
}

void TIB_NodeList::UnlinkDetached(TIB_Node* Node) {
  if (Node->Prev != nullptr) {
    Node->Prev->Next = Node->Next;
  } else if (detached_head_ == Node) {
    detached_head_ = Node->Next;
  }
  if (Node->Next != nullptr) Node->Next->Prev = Node->Prev;
  Node->Prev = nullptr;
  Node->Next = nullptr;
}

void TIB_NodeList::Release(bool Keep, bool WholeRows, bool HasKeys) {
  const bool keep_some = Keep || !pending_.empty();
  TIB_Node* n = bof_node_.Next;
  while (n != &eof_node_) {
    TIB_Node* next = n->Next;
    bool holds = false;
    if (keep_some) {
      holds = (!n->Row.empty() && !(WholeRows && HasKeys)) || (n->Flags & nfCachedMarks) != 0 ||
              (n->BlobChain != nullptr && HasKeys && !unidirectional_);
    }
    if (holds) {
      n->Flags &= static_cast<uint16_t>(~(nfEofSide | nfBofSide | nfFiltered));
      AppendDetached(n);
    } else {
      ReturnToPool(n);
    }
    n = next;
  }
  if (!keep_some) {
    while (detached_head_ != nullptr) {
      TIB_Node* d = detached_head_;
      detached_head_ = d->Next;
      ReturnToPool(d);
    }
  }
  new_rows_.clear();
  dropped_rows_ = -1;
  ResetPositions();
}

// --- Fetching -----------------------------------------------------------------------------------

void TIB_NodeList::BeginFetch(uint8_t Direction) {
  bof_fetched_ = Direction == 0;
  eof_fetched_ = Direction == 2;
  if (inserted_count_ > 0) ReattachInserts();
}

void TIB_NodeList::SetFetched(bool EofSide) {
  if (EofSide) {
    eof_fetched_ = true;
  } else {
    bof_fetched_ = true;
  }
  if (bof_fetched_ && eof_fetched_) new_rows_.clear();
}

bool TIB_NodeList::KeyEquals(const TIB_Node* Node, const void* Key, bool EitherKey) const {
  if (key_length_ == 0) return true;
  if (Node->HasOldKey()) {
    if (std::memcmp(Node->OldKey.data(), Key, key_length_) == 0) return true;
    if (!EitherKey) return false;
  }
  return Node->Key.size() >= key_length_ && std::memcmp(Node->Key.data(), Key, key_length_) == 0;
}

void TIB_NodeList::LinkAtEnd(TIB_Node* Node, bool Append, bool Hidden) {
  Node->Flags &= static_cast<uint16_t>(~(nfEofSide | nfBofSide | nfFiltered));
  if (Hidden) Node->Flags |= nfFiltered;
  const HiddenCounts h = CountsOf(Node);
  if (Append) {
    const int32_t number = eof_.RowNum;
    const int32_t eof_num = CheckedAdd(eof_.RowNum, 1);
    Node->Flags |= nfEofSide;
    Node->Prev = eof_node_.Prev;
    Node->Next = &eof_node_;
    eof_node_.Prev->Next = Node;
    eof_node_.Prev = Node;
    eof_.RowNum = eof_num;
    AddCounts(eof_, h, 1);
    for (TIB_NodePosition* p : {&row_, &buffer_}) {
      if (p->Node == &eof_node_) {
        p->Node = Node;
        p->RowNum = number;
        AddCounts(*p, h, 1);
      }
    }
  } else {
    const int32_t number = bof_.RowNum;
    const int32_t bof_num = CheckedSub(bof_.RowNum, 1);
    Node->Flags |= nfBofSide;
    Node->Next = bof_node_.Next;
    Node->Prev = &bof_node_;
    bof_node_.Next->Prev = Node;
    bof_node_.Next = Node;
    bof_.RowNum = bof_num;
    AddCounts(bof_, h, 1);
    if (bof_num == -1) origin_ = {Node, 0, 0, 0, 0};
    for (TIB_NodePosition* p : {&row_, &buffer_}) {
      if (p->Node == &bof_node_) {
        p->Node = Node;
        p->RowNum = number;
      }
    }
  }
  UpdateSentinelFlags();
}

TIB_Node* TIB_NodeList::AddKey(const void* Key, bool CheckDuplicates, bool Hidden, bool Append) {
  if (unidirectional_) {
    TIB_Node* n = bof_node_.Next;
    while (n != &eof_node_) {
      TIB_Node* next = n->Next;
      if (n->Flags & nfCachedMarks) {
        n->Flags &= static_cast<uint16_t>(~(nfEofSide | nfBofSide | nfFiltered));
        AppendDetached(n);
      } else {
        EraseFromNewRows(n);
        ReturnToPool(n);
      }
      n = next;
    }
    ResetPositions();
  }
  for (TIB_Node* n : new_rows_) {
    if (KeyEquals(n, Key, true)) return nullptr;
  }
  if (CheckDuplicates && NodeCount() > 0) {
    for (TIB_Node* n = bof_node_.Next; n != &eof_node_; n = n->Next) {
      if (KeyEquals(n, Key, true)) return nullptr;
    }
  }
  TIB_Node* node = nullptr;
  for (TIB_Node* d = detached_head_; d != nullptr; d = d->Next) {
    if (KeyEquals(d, Key, false)) {
      node = d;
      UnlinkDetached(d);
      break;
    }
  }
  if (node == nullptr) {
    node = TakeNode();
    if (key_length_ > 0) std::memcpy(node->Key.data(), Key, key_length_);
  }
  try {
    LinkAtEnd(node, Append, Hidden);
  } catch (...) {
    ReturnToPool(node);
    throw;
  }
  if (unidirectional_) CheckedInc(dropped_rows_);
  ++add_serial_;
  return node;
}

// --- Numbers ------------------------------------------------------------------------------------

int32_t TIB_NodeList::NodeCount() const { return CheckedSub(CheckedSub(eof_.RowNum, bof_.RowNum), 1); }

bool TIB_NodeList::IsHidden(const TIB_Node* Node) const {
  if (Node == nullptr || IsSentinel(Node)) return false;
  return (hide_deleted_ && (Node->Flags & nfDeleted)) || (hide_filtered_ && (Node->Flags & nfFiltered));
}

bool TIB_NodeList::AnyHidden() const {
  return (hide_deleted_ && (bof_.Deleted != 0 || eof_.Deleted != 0)) ||
         (hide_filtered_ && (bof_.Filtered != 0 || eof_.Filtered != 0));
}

int32_t TIB_NodeList::VisibleCount() const {
  int64_t n = NodeCount();
  if (hide_deleted_) n -= static_cast<int64_t>(bof_.Deleted) + eof_.Deleted;
  if (hide_filtered_) n -= static_cast<int64_t>(bof_.Filtered) + eof_.Filtered;
  if (hide_deleted_ && hide_filtered_) n += static_cast<int64_t>(bof_.Both) + eof_.Both;
  return CheckedCast<int32_t>(n);
}

bool TIB_NodeList::OnEofSide(const TIB_NodePosition& P) const {
  if (P.Node == &eof_node_) return eof_.RowNum > 0;
  return P.Node != nullptr && (P.Node->Flags & nfEofSide) != 0;
}

int32_t TIB_NodeList::VisibleDistance(const TIB_NodePosition& A, const TIB_NodePosition& B) const {
  if (A.RowNum == B.RowNum) return 0;
  const bool a_eof = OnEofSide(A);
  const bool b_eof = OnEofSide(B);
  const int64_t sign = B.RowNum > A.RowNum ? 1 : -1;
  auto between = [&](int64_t a, int64_t b) -> int64_t {
    if (a_eof && b_eof) return b - a;
    if (!a_eof && !b_eof) return a - b;
    return sign * (a + b);
  };
  int64_t hidden = 0;
  if (hide_deleted_) hidden += between(A.Deleted, B.Deleted);
  if (hide_filtered_) hidden += between(A.Filtered, B.Filtered);
  if (hide_deleted_ && hide_filtered_) hidden -= between(A.Both, B.Both);
  return CheckedCast<int32_t>(static_cast<int64_t>(B.RowNum) - A.RowNum - hidden);
}

int32_t TIB_NodeList::ReportedNum(const TIB_NodePosition& P) const {
  if (IsSpecial(P.RowNum)) return P.RowNum;
  int32_t r;
  if (!AnyHidden()) {
    r = P.RowNum;
  } else if (P.Node == nullptr) {
    r = bof_.RowNum;
  } else if (P.RowNum < bof_.RowNum || P.RowNum > eof_.RowNum) {
    return NodeNoRow;
  } else {
    int64_t v = bof_.RowNum;
    if (hide_deleted_) v += bof_.Deleted;
    if (hide_filtered_) v += bof_.Filtered;
    if (hide_deleted_ && hide_filtered_) v -= bof_.Both;
    if (!IsHidden(P.Node)) v += VisibleDistance(bof_, P);
    v += row_num_offset_;
    r = CheckedCast<int32_t>(v);
  }
  if (dropped_rows_ >= 0) r = CheckedAdd(r, dropped_rows_);
  return r;
}

bool TIB_NodeList::IsAtBof(const TIB_NodePosition& P) const {
  return P.Node == &bof_node_ || (P.Node == &eof_node_ && IsEmpty());
}

bool TIB_NodeList::IsAtEof(const TIB_NodePosition& P) const {
  return P.Node == &eof_node_ || (P.Node == &bof_node_ && IsEmpty());
}

void TIB_NodeList::AdjustOffset(int32_t Before, int32_t After) {
  if (IsSpecial(Before) || IsSpecial(After)) return;
  CheckedInc(row_num_offset_, CheckedSub(Before, After));
}

// --- Moving -------------------------------------------------------------------------------------

bool TIB_NodeList::RawStep(TIB_NodePosition& P, int32_t Dir) const {
  TIB_Node* cur = P.Node;
  if (cur == nullptr) return false;
  TIB_Node* next = Dir > 0 ? cur->Next : cur->Prev;
  if (next == nullptr) return false;
  const int32_t number = CheckedAdd(P.RowNum, Dir > 0 ? 1 : -1);
  if (Dir > 0) {
    AddCounts(P, CountsOf(next), (next->Flags & nfEofSide) ? 1 : -1);
  } else {
    AddCounts(P, CountsOf(cur), (cur->Flags & nfEofSide) ? -1 : 1);
  }
  P.Node = next;
  P.RowNum = number;
  return true;
}

void TIB_NodeList::StepPosition(TIB_NodePosition& P, int32_t N, bool AllowFetch) {
  if (P.Node == nullptr) return;
  const bool no_hidden = bof_.Deleted == 0 && eof_.Deleted == 0 && bof_.Filtered == 0 && eof_.Filtered == 0;
  if (N == 0) {
    if (no_hidden || IsSentinel(P.Node) || !IsHidden(P.Node)) return;
    TIB_NodePosition q = P;
    while (RawStep(q, 1) && q.Node != &eof_node_ && IsHidden(q.Node)) {
    }
    if (q.Node == &eof_node_ && VisibleCount() > 0) {
      q = P;
      while (RawStep(q, -1) && q.Node != &bof_node_ && IsHidden(q.Node)) {
      }
    }
    P = q;
    return;
  }
  if (no_hidden && (N == 1 || N == -1)) {
    TIB_Node* neighbour = N > 0 ? P.Node->Next : P.Node->Prev;
    if (neighbour != nullptr && !IsSentinel(neighbour)) {
      P.RowNum = CheckedAdd(P.RowNum, N);
      P.Node = neighbour;
      return;
    }
  }
  const int32_t dir = N > 0 ? 1 : -1;
  int64_t remaining = N > 0 ? static_cast<int64_t>(N) : -static_cast<int64_t>(N);
  while (remaining > 0 && P.Node != nullptr) {
    TIB_Node* cur = P.Node;
    const bool at_end = dir > 0 ? (cur == &eof_node_ || cur->Next == &eof_node_)
                                : (cur == &bof_node_ || cur->Prev == &bof_node_);
    const bool fetched = dir > 0 ? eof_fetched_ : bof_fetched_;
    if (at_end && AllowFetch && !fetched && OnFetch) {
      const uint64_t serial = add_serial_;
      OnFetch(this, dir > 0, 1);
      if (serial != add_serial_ && P.Node != cur) {
        // The fetch moved this position: onto the new row (it stood on the sentinel) or,
        // in unidirectional mode, back to BOF.
        if (!IsSentinel(P.Node) && !IsHidden(P.Node)) --remaining;
        continue;
      }
    }
    if (!RawStep(P, dir)) break;
    if (IsSentinel(P.Node)) break;
    if (!IsHidden(P.Node)) --remaining;
  }
}

void TIB_NodeList::MoveRowBy(int32_t N) { StepPosition(row_, N, true); }

void TIB_NodeList::MoveBufferBy(int32_t N) { StepPosition(buffer_, N, true); }

void TIB_NodeList::Seek(TIB_NodePosition& P, int32_t N) {
  if (N >= ReportedNum(eof_)) {
    P = eof_;
    return;
  }
  if (N <= ReportedNum(bof_)) {
    P = bof_;
    return;
  }
  // Starting points on hidden rows report no useful number and are passed over.
  auto usable = [&](const TIB_NodePosition& c) {
    return c.Node != nullptr && !IsSpecial(c.RowNum) && (IsSentinel(c.Node) || !IsHidden(c.Node));
  };
  for (const TIB_NodePosition* c : {&buffer_, &row_, &origin_}) {
    if (usable(*c) && ReportedNum(*c) == N) {
      P = *c;
      return;
    }
  }
  const TIB_NodePosition* best = nullptr;
  int64_t best_diff = 0;
  for (const TIB_NodePosition* c : {&bof_, &eof_, &row_, &buffer_, &origin_}) {
    if (!usable(*c)) continue;
    int64_t diff = static_cast<int64_t>(N) - ReportedNum(*c);
    if (diff < 0) diff = -diff;
    if (diff > 2147483647) diff = 2147483647;
    if (best == nullptr || diff < best_diff) {
      best = c;
      best_diff = diff;
    }
  }
  TIB_NodePosition q = *best;
  StepPosition(q, CheckedSub(N, ReportedNum(q)), false);
  P = q;
}

void TIB_NodeList::SetRowNum(int32_t N) { Seek(row_, N); }

void TIB_NodeList::SetBufferRowNum(int32_t N) { Seek(buffer_, N); }

void TIB_NodeList::SetBufferPosition(TIB_Node* Node, int32_t Number, int32_t Deleted,
                                     int32_t Filtered, int32_t Both) {
  buffer_ = {Node, Number, Deleted, Filtered, Both};
}

void TIB_NodeList::SettlePositions() {
  // A position whose node left the list falls back to BOF.
  for (TIB_NodePosition* p : {&row_, &buffer_}) {
    if (p->Node != nullptr && !IsSentinel(p->Node) && !(p->Node->Flags & (nfEofSide | nfBofSide))) *p = bof_;
  }
  UpdateSentinelFlags();
}

void TIB_NodeList::RecountPositions() {
  HiddenCounts bof_total;
  int32_t bof_side = 0;
  int32_t eof_side = 0;
  for (TIB_Node* n = bof_node_.Next; n != &eof_node_; n = n->Next) {
    if (n->Flags & nfBofSide) {
      CheckedInc(bof_side);
      const HiddenCounts h = CountsOf(n);
      bof_total.d += h.d;
      bof_total.f += h.f;
      bof_total.b += h.b;
    } else {
      CheckedInc(eof_side);
    }
  }
  const int32_t bof_num = -bof_side;
  TIB_Node* row_node = row_.Node;
  TIB_Node* buffer_node = buffer_.Node;
  bof_ = {&bof_node_, bof_num, bof_total.d, bof_total.f, bof_total.b};
  origin_ = bof_;
  row_ = bof_;
  buffer_ = bof_;
  bool row_found = row_node == &bof_node_;
  bool buffer_found = buffer_node == &bof_node_;
  HiddenCounts bof_seen;
  HiddenCounts eof_seen;
  int32_t number = bof_num;
  for (TIB_Node* n = bof_node_.Next; n != &eof_node_; n = n->Next) {
    number = CheckedAdd(number, 1);
    const HiddenCounts h = CountsOf(n);
    TIB_NodePosition p{n, number, 0, 0, 0};
    if (n->Flags & nfBofSide) {
      bof_seen.d += h.d;
      bof_seen.f += h.f;
      bof_seen.b += h.b;
      p.Deleted = bof_total.d - bof_seen.d;
      p.Filtered = bof_total.f - bof_seen.f;
      p.Both = bof_total.b - bof_seen.b;
    } else {
      eof_seen.d += h.d;
      eof_seen.f += h.f;
      eof_seen.b += h.b;
      p.Deleted = eof_seen.d;
      p.Filtered = eof_seen.f;
      p.Both = eof_seen.b;
    }
    if (n == row_node) {
      row_ = p;
      row_found = true;
    }
    if (n == buffer_node) {
      buffer_ = p;
      buffer_found = true;
    }
    if (number == 0) origin_ = p;
  }
  eof_ = {&eof_node_, CheckedAdd(number, 1), eof_seen.d, eof_seen.f, eof_seen.b};
  if (row_node == &eof_node_) {
    row_ = eof_;
    row_found = true;
  }
  if (buffer_node == &eof_node_) {
    buffer_ = eof_;
    buffer_found = true;
  }
  // A position whose node left the list falls back to BOF.
  if (!row_found) row_ = bof_;
  if (!buffer_found) buffer_ = bof_;
  UpdateSentinelFlags();
}

// --- Looking up keys -----------------------------------------------------------------------------

bool TIB_NodeList::LocateKey(const void* Key, bool FullScan, TIB_NodePosition& Position) {
  Position = TIB_NodePosition{};
  auto matches = [&](const TIB_Node* n) { return n != nullptr && !IsSentinel(n) && KeyEquals(n, Key, true); };
  bool found = false;
  if (buffer_.Node != nullptr && !IsSentinel(buffer_.Node) && (FullScan || buffer_.RowNum > bof_.RowNum) &&
      matches(buffer_.Node)) {
    Position = buffer_;
    found = true;
  } else if (row_.Node != nullptr && !IsSentinel(row_.Node) && matches(row_.Node)) {
    Position = row_;
    found = true;
  }
  if (!found && NodeCount() > 500) {
    // Windows of at most 101 comparisons around the cursor positions and before EOF.
    auto window = [&](const TIB_NodePosition& anchor, int32_t dir) {
      TIB_NodePosition q = anchor;
      for (int i = 0; i < 101; ++i) {
        if (!RawStep(q, dir) || IsSentinel(q.Node)) return false;
        if (matches(q.Node)) {
          Position = q;
          return true;
        }
      }
      return false;
    };
    const int64_t bof_num = bof_.RowNum;
    const int64_t count = NodeCount();
    const int64_t row_rel = static_cast<int64_t>(row_.RowNum) + bof_num;
    found = (row_rel > 200 && window(row_, -1)) || (count - 200 > row_rel && window(row_, 1));
    if (!found && buffer_.RowNum > bof_.RowNum &&
        std::llabs(static_cast<int64_t>(buffer_.RowNum) - row_.RowNum) > 50) {
      const int64_t buf_rel = static_cast<int64_t>(buffer_.RowNum) + bof_num;
      found = (buf_rel > 200 && window(buffer_, -1)) || (count - 200 > buf_rel && window(buffer_, 1));
    }
    if (!found) found = window(eof_, -1);
  }
  if (!found && NodeCount() > 0) {
    TIB_NodePosition q = bof_;
    while (RawStep(q, 1) && !IsSentinel(q.Node)) {
      if (matches(q.Node)) {
        Position = q;
        found = true;
        break;
      }
    }
  }
  if (!found && FullScan) {
    for (TIB_Node* d = detached_head_; d != nullptr; d = d->Next) {
      if (KeyEquals(d, Key, false)) {
        Position = {d, NodeDetached, 0, 0, 0};
        found = true;
        break;
      }
    }
  }
  if (!found || Position.Node == nullptr || IsSentinel(Position.Node)) {
    Position = TIB_NodePosition{};
    return false;
  }
  return true;
}

bool TIB_NodeList::LocateBufferKey(const void* Key) {
  TIB_NodePosition p;
  // The buffer row stays in the visible list: a detached match does not count.
  if (LocateKey(Key, true, p) && p.RowNum != NodeDetached) {
    buffer_ = p;
    return true;
  }
  buffer_ = bof_;
  return false;
}

bool TIB_NodeList::LocateHexKey(const AnsiString& HexText, TIB_NodePosition& Position) {
  Position = TIB_NodePosition{};
  if (HexText.empty()) return false;
  bof_node_.Key.resize(key_length_, 0);
  try {
    HexTextToBinary(HexText, bof_node_.Key.data(), key_length_);
  } catch (const Exception&) {
    return false;
  }
  if (!LocateKey(bof_node_.Key.data(), true, Position)) return false;
  DropRowData(Position.Node);
  return true;
}

int32_t TIB_NodeList::RowNumOfNode(const TIB_Node* Node) const {
  if (Node == nullptr) return NodeNoRow;
  if (Node == &bof_node_) return bof_.RowNum;
  if (Node == &eof_node_) return eof_.RowNum;
  if (!(Node->Flags & (nfEofSide | nfBofSide))) return NodeDetached;
  for (const TIB_NodePosition* p : {&row_, &buffer_, &origin_, &bof_, &eof_}) {
    if (p->Node == nullptr || IsSpecial(p->RowNum)) continue;
    if (p->Node == Node) return p->RowNum;
    if (p->Node->Next == Node) return CheckedAdd(p->RowNum, 1);
    if (p->Node->Prev == Node) return CheckedSub(p->RowNum, 1);
  }
  int32_t number = bof_.RowNum;
  for (const TIB_Node* n = bof_node_.Next; n != &eof_node_ && n != nullptr; n = n->Next) {
    number = CheckedAdd(number, 1);
    if (n == Node) return number;
  }
  return NodeNoRow;
}

TIB_NodePosition TIB_NodeList::PositionOfNode(TIB_Node* Node) const {
  if (Node == nullptr) return TIB_NodePosition{};
  if (Node == &bof_node_) return bof_;
  if (Node == &eof_node_) return eof_;
  if (!(Node->Flags & (nfEofSide | nfBofSide))) return {Node, NodeDetached, 0, 0, 0};
  for (const TIB_NodePosition* p : {&row_, &buffer_, &origin_}) {
    if (p->Node == Node && !IsSpecial(p->RowNum)) return *p;
  }
  // Out from the current row both ways, counters kept.
  TIB_NodePosition ahead = row_.Node == nullptr || IsSpecial(row_.RowNum) ? bof_ : row_;
  TIB_NodePosition back = ahead;
  bool more_ahead = true, more_back = true;
  while (more_ahead || more_back) {
    if (more_ahead) {
      more_ahead = RawStep(ahead, 1);
      if (more_ahead && ahead.Node == Node) return ahead;
    }
    if (more_back) {
      more_back = RawStep(back, -1);
      if (more_back && back.Node == Node) return back;
    }
  }
  return TIB_NodePosition{};
}

// --- Editing the list ----------------------------------------------------------------------------

TIB_Node* TIB_NodeList::InsertNode() {
  if (row_.Node == nullptr) throw EIB_Error("Invalid ANode");
  const int32_t bof_before = BofRowNum();
  const bool at_bof = row_.Node == &bof_node_;
  TIB_Node* at = at_bof ? bof_node_.Next : row_.Node;
  const int32_t number = at_bof ? CheckedAdd(bof_.RowNum, 1) : row_.RowNum;
  CheckedAdd(eof_.RowNum, 1);  // the EOF number must have room for one more row
  // The positions follow the new row by what it changes (O(1)); a current row that
  // does not stand on a numbered row of the list leaves them to a full recount.
  bool counted = !IsSpecial(number) && (at_bof || !IsSpecial(row_.RowNum)) &&
                       (IsSentinel(at) || (at->Flags & (nfEofSide | nfBofSide)) != 0);
  // Row 0 when the new row goes to the BOF side: it moves to the EOF side, so that the
  // BOF number stays and row 0 stays the origin.
  TIB_Node* zero = nullptr;
  if (number < 1) {
    zero = origin_.Node;
    if (zero == nullptr || IsSentinel(zero) || !(zero->Flags & nfBofSide) ||
        (!IsSentinel(zero->Next) && (zero->Next->Flags & nfBofSide))) {
      zero = eof_node_.Prev;
      while (zero != &bof_node_ && !(zero->Flags & nfBofSide)) zero = zero->Prev;
    }
  }
  TIB_Node* node = TakeNode();
  node->Flags = number < 1 ? nfBofSide : nfEofSide;
  node->Prev = at->Prev;
  node->Next = at;
  at->Prev->Next = node;
  at->Prev = node;
  if (zero == &bof_node_) {
    // No BOF-side row before: the new row is the last one of that side.
    zero = node;
    counted = false;
  }
  if (zero != nullptr) zero->Flags = static_cast<uint16_t>((zero->Flags & ~nfBofSide) | nfEofSide);
  new_rows_.push_back(node);
  if (!counted) {
    row_.Node = node;
    RecountPositions();
  } else if (number >= 1) {
    // Counters of the new row: those of the row before it (it hides nothing itself).
    TIB_NodePosition p{node, number, 0, 0, 0};
    if (number > 1) {
      p = row_;
      p.Node = node;
      AddCounts(p, CountsOf(at), -1);
    }
    for (TIB_NodePosition* q : {&bof_, &eof_, &row_, &buffer_, &origin_}) {
      if (!IsSpecial(q->RowNum) && q->RowNum >= number) q->RowNum = CheckedAdd(q->RowNum, 1);
    }
    row_ = p;
  } else {
    // The rows from the new one up to the former row 0 move up by one; the former row 0
    // leaves the BOF-side counters and joins the EOF-side ones.
    const HiddenCounts z = CountsOf(zero);
    TIB_NodePosition p = at_bof ? bof_ : row_;
    if (!at_bof) AddCounts(p, CountsOf(at), 1);
    AddCounts(p, z, -1);
    p.Node = node;
    p.RowNum = number;
    for (TIB_NodePosition* q : {&bof_, &eof_, &row_, &buffer_}) {
      if (IsSpecial(q->RowNum)) continue;
      const bool eof_side = q->RowNum >= 1 || q->Node == zero;
      if (q->RowNum >= number) q->RowNum = CheckedAdd(q->RowNum, 1);
      AddCounts(*q, z, eof_side ? 1 : -1);
    }
    row_ = p;
    origin_ = {zero->Prev, 0, 0, 0, 0};
  }
  if (counted) SettlePositions();
  AdjustOffset(bof_before, BofRowNum());
  return node;
}

void TIB_NodeList::EraseFromNewRows(TIB_Node* Node) {
  new_rows_.erase(std::remove(new_rows_.begin(), new_rows_.end(), Node), new_rows_.end());
}

void TIB_NodeList::DeleteNode(TIB_Node* Node) {
  // The node leaves the pending list (its flags still count for the positions below).
  auto forget = [&] {
    auto it = std::find(pending_.begin(), pending_.end(), Node);
    if (it != pending_.end()) {
      SetFlags(Node, static_cast<uint16_t>(Node->Flags & ~nfCachedMarks));
      pending_.erase(it);
    }
    EraseFromNewRows(Node);
    if (processing_node_ == Node) processing_node_ = nullptr;
  };
  if (!(Node->Flags & (nfEofSide | nfBofSide))) {
    // A detached node.
    forget();
    UnlinkDetached(Node);
    ReturnToPool(Node);
    return;
  }
  const int32_t bof_before = BofRowNum();
  // The node's own number: from a position on it, else looked up.
  int32_t number = NodeNoRow;
  for (const TIB_NodePosition* p : {&row_, &buffer_, &origin_}) {
    if (p->Node == Node && !IsSpecial(p->RowNum)) number = p->RowNum;
  }
  if (number == NodeNoRow) number = RowNumOfNode(Node);
  bool counted = !IsSpecial(number);
  // A position on the node moves to the next visible row, or back when none follows.
  for (TIB_NodePosition* p : {&row_, &buffer_}) {
    if (p->Node != Node) continue;
    TIB_Node* target = Node->Next;
    int32_t dir = 1;
    while (target != &eof_node_ && IsHidden(target)) target = target->Next;
    if (target == &eof_node_) {
      TIB_Node* back = Node->Prev;
      while (back != &bof_node_ && IsHidden(back)) back = back->Prev;
      if (back != &bof_node_) {
        target = back;
        dir = -1;
      }
    }
    if (counted && !IsSpecial(p->RowNum)) {
      while (p->Node != target && RawStep(*p, dir)) {
      }
    } else {
      p->Node = target;
      counted = false;
    }
  }
  const HiddenCounts gone = CountsOf(Node);
  const bool bof_side = (Node->Flags & nfBofSide) != 0;
  // When a BOF-side row goes, the first row of the EOF side becomes row 0 (when there is
  // one), so that the BOF number stays.
  TIB_Node* first = nullptr;
  if (bof_side) {
    TIB_Node* zero = origin_.Node;
    if (zero != nullptr && !IsSentinel(zero) && (zero->Flags & nfBofSide) &&
        (IsSentinel(zero->Next) || (zero->Next->Flags & nfEofSide))) {
      first = zero->Next;
    } else {
      first = bof_node_.Next;
      while (first != &eof_node_ && (first == Node || !(first->Flags & nfEofSide))) first = first->Next;
    }
    if (first == &eof_node_) first = nullptr;
  }
  TIB_Node* before = Node->Prev;
  Node->Prev->Next = Node->Next;
  Node->Next->Prev = Node->Prev;
  if (first != nullptr) first->Flags = static_cast<uint16_t>((first->Flags & ~nfEofSide) | nfBofSide);
  forget();
  ReturnToPool(Node);
  if (!counted) {
    RecountPositions();
  } else if (!bof_side) {
    for (TIB_NodePosition* q : {&bof_, &eof_, &row_, &buffer_, &origin_}) {
      if (IsSpecial(q->RowNum) || q->RowNum <= number) continue;
      q->RowNum = CheckedSub(q->RowNum, 1);
      AddCounts(*q, gone, -1);
    }
  } else if (first != nullptr) {
    const HiddenCounts f = CountsOf(first);
    for (TIB_NodePosition* q : {&bof_, &eof_, &row_, &buffer_}) {
      if (IsSpecial(q->RowNum)) continue;
      if (q->Node == first) {
        *q = {first, 0, 0, 0, 0};
      } else if (q->RowNum >= 2 || q->Node == &eof_node_) {
        q->RowNum = CheckedSub(q->RowNum, 1);
        AddCounts(*q, f, -1);
      } else if (q->RowNum > number) {
        q->RowNum = CheckedSub(q->RowNum, 1);
        AddCounts(*q, f, 1);
      } else {
        AddCounts(*q, f, 1);
        AddCounts(*q, gone, -1);
      }
    }
    origin_ = {first, 0, 0, 0, 0};
  } else {
    for (TIB_NodePosition* q : {&bof_, &eof_, &row_, &buffer_, &origin_}) {
      if (IsSpecial(q->RowNum) || q->RowNum >= number) continue;
      q->RowNum = CheckedAdd(q->RowNum, 1);
      AddCounts(*q, gone, -1);
    }
    if (number == 0) origin_ = before == &bof_node_ ? bof_ : TIB_NodePosition{before, 0, 0, 0, 0};
  }
  if (counted) SettlePositions();
  AdjustOffset(bof_before, BofRowNum());
}

void TIB_NodeList::DeleteRow() {
  if (row_.Node == nullptr || IsSentinel(row_.Node) || NodeCount() == 0) {
    throw Exception(CZ("Chybný odkaz na Delete"));
  }
  DeleteNode(row_.Node);
}

void TIB_NodeList::DeleteBufferRow() {
  if (buffer_.Node == nullptr || IsSentinel(buffer_.Node) || NodeCount() == 0 ||
      buffer_.RowNum < bof_.RowNum) {
    throw Exception(CZ("Chybný odkaz na Delete"));
  }
  DeleteNode(buffer_.Node);
}

void TIB_NodeList::DropRowData(TIB_Node* Node) {
  if (Node == nullptr || IsSentinel(Node) || (Node->Flags & nfInserted)) return;
  if (Node->Flags & nfModified) {
    // The edited row waits in the saved place until the server row has been read again.
    if (!Node->Row.empty()) {
      Node->OldRow = std::move(Node->Row);
      Node->OldRowEdited = true;
    }
    Node->Row.clear();
    return;
  }
  Node->Row.clear();
  Node->OldKey.clear();
}

void TIB_NodeList::DropAllRowData() {
  for (TIB_Node* n = bof_node_.Next; n != &eof_node_; n = n->Next) DropRowData(n);
}

void TIB_NodeList::ToggleFlag(TIB_Node* Node, int32_t Num, uint16_t Flag) {
  const HiddenCounts before = CountsOf(Node);
  SetFlags(Node, static_cast<uint16_t>(Node->Flags ^ Flag));
  const HiddenCounts after = CountsOf(Node);
  const HiddenCounts delta{after.d - before.d, after.f - before.f, after.b - before.b};
  const bool eof_side = (Node->Flags & nfEofSide) != 0;
  for (TIB_NodePosition* p : {&bof_, &eof_, &row_, &buffer_, &origin_}) {
    if (p->Node == nullptr || IsSpecial(p->RowNum)) continue;
    const bool p_eof = OnEofSide(*p);
    if (eof_side ? (p_eof && p->RowNum >= Num) : (!p_eof && p->RowNum < Num)) AddCounts(*p, delta, 1);
  }
}

void TIB_NodeList::SetFiltered(bool On) {
  if (On == hide_filtered_) return;
  const int32_t before = RowNum();
  hide_filtered_ = On;
  StepPosition(row_, 0, false);
  AdjustOffset(before, RowNum());
}

void TIB_NodeList::SetHideDeleted(bool On) {
  if (On == hide_deleted_) return;
  const int32_t before = RowNum();
  hide_deleted_ = On;
  StepPosition(row_, 0, false);
  AdjustOffset(before, RowNum());
}

void TIB_NodeList::SetFilterOptions(uint8_t Options) {
  if (Options == filter_options_) return;
  filter_options_ = Options;
  Refilter();
}

void TIB_NodeList::Refilter() {
  const int32_t row_before = RowNum();
  TIB_Node* buffer_node = buffer_.Node;
  const bool hide = hide_filtered_;
  hide_filtered_ = false;
  auto restore = [&] {
    hide_filtered_ = hide;
    buffer_.Node = buffer_node;
    RecountPositions();
  };
  try {
    if (OnBeforeRefilter) OnBeforeRefilter(this);
    buffer_ = bof_;
    while (RawStep(buffer_, 1) && !IsSentinel(buffer_.Node)) {
      bool hidden = false;
      if (OnFilter) OnFilter(this, buffer_.Node, hidden);
      if (hidden != ((buffer_.Node->Flags & nfFiltered) != 0)) ToggleFlag(buffer_.Node, buffer_.RowNum, nfFiltered);
    }
  } catch (...) {
    restore();
    StepPosition(row_, 0, false);
    try {
      if (OnAfterRefilter) OnAfterRefilter(this);
    } catch (...) {
    }
    throw;
  }
  restore();
  StepPosition(row_, 0, false);
  if (OnAfterRefilter) OnAfterRefilter(this);
  ReattachInserts();
  AdjustOffset(row_before, RowNum());
}

bool TIB_NodeList::SetRowFiltered(bool Hidden) {
  TIB_Node* node = row_.Node;
  if (node == nullptr || IsSentinel(node)) return false;
  if (Hidden == ((node->Flags & nfFiltered) != 0)) return false;
  const int32_t bof_before = BofRowNum();
  ToggleFlag(node, row_.RowNum, nfFiltered);
  AdjustOffset(bof_before, BofRowNum());
  return Hidden && hide_filtered_;
}

void TIB_NodeList::ReattachInserts() {
  bool offered = false;
  TIB_Node* d = detached_head_;
  while (d != nullptr) {
    TIB_Node* next = d->Next;
    if (d->Flags & nfInserted) {
      offered = true;
      bool accept = true;
      if (OnAcceptInsert) OnAcceptInsert(this, d, accept);
      if (accept) {
        UnlinkDetached(d);
        d->Flags &= static_cast<uint16_t>(~(nfEofSide | nfBofSide | nfFiltered));
        d->Flags |= nfEofSide;
        d->Prev = eof_node_.Prev;
        d->Next = &eof_node_;
        eof_node_.Prev->Next = d;
        eof_node_.Prev = d;
      }
    }
    d = next;
  }
  if (offered) RecountPositions();
}

// --- Cached-update bookkeeping ---------------------------------------------------------------------

void TIB_NodeList::SetFlags(TIB_Node* Node, uint16_t Flags) {
  const int before = CountKind(Node->Flags);
  const int after = CountKind(Flags);
  Node->Flags = Flags;
  if (before == after) return;
  int32_t* counts[] = {nullptr, &modified_count_, &inserted_count_, &deleted_count_};
  if (before != 0) CheckedDec(*counts[before]);
  if (after != 0) CheckedInc(*counts[after]);
}

void TIB_NodeList::AddPending(TIB_Node* Node) {
  if (std::find(pending_.begin(), pending_.end(), Node) == pending_.end()) pending_.push_back(Node);
}

void TIB_NodeList::MarkUpdate(TIB_Node* Node, int32_t Kind) {
  if (Node == nullptr || IsSentinel(Node)) return;
  auto save_row = [Node] {
    if (Node->OldRow.empty()) {
      Node->OldRow = std::move(Node->Row);
      Node->OldRowEdited = false;
    }
    Node->Row.clear();
  };
  switch (Kind) {
    case nmkInsert:
      if (Node->Flags & nfInserted) {
        save_row();
      } else {
        AddPending(Node);
        SetFlags(Node, Node->Flags | nfInserted);
      }
      break;
    case nmkModify:
      if (Node->Flags & nfInserted) return;
      if (!(Node->Flags & nfModified)) {
        AddPending(Node);
        SetFlags(Node, Node->Flags | nfModified);
      }
      save_row();
      break;
    case nmkDelete:
      if (Node->Flags & nfInserted) throw Exception("This cannot be handled here");
      if (Node->Flags & nfDeleted) return;
      if (Node->Flags & nfModified) {
        SetFlags(Node, static_cast<uint16_t>(Node->Flags & ~nfModified));
      }
      AddPending(Node);
      SetFlags(Node, static_cast<uint16_t>(Node->Flags & ~(nfApplied | nfSkipped)));
      ToggleDeleted(Node);
      break;
    default:
      break;
  }
}

void TIB_NodeList::ToggleDeleted(TIB_Node* Node) {
  if (Node == nullptr || IsSentinel(Node)) return;
  const int32_t number = RowNumOfNode(Node);
  if (IsSpecial(number)) {
    SetFlags(Node, static_cast<uint16_t>(Node->Flags ^ nfDeleted));
    return;
  }
  const int32_t bof_before = BofRowNum();
  ToggleFlag(Node, number, nfDeleted);
  AdjustOffset(bof_before, BofRowNum());
}

bool TIB_NodeList::RevertNode(TIB_Node* Node, bool UnlinkPending) {
  if (Node->Flags & nfInserted) throw Exception("Unsupported here");
  bool leave = false;
  if (Node->Flags & nfModified) {
    SetFlags(Node, static_cast<uint16_t>(Node->Flags & ~nfModified));
    if (!Node->OldRow.empty()) {
      Node->Row = std::move(Node->OldRow);
      Node->OldRow.clear();
    }
    Node->OldRowEdited = false;
    // The key goes back with the row.
    if (Node->HasOldKey()) Node->Key = Node->OldKey;
    Node->OldKey.clear();
    leave = true;
  } else if (Node->Flags & nfDeleted) {
    ToggleDeleted(Node);
    if (!Node->OldRow.empty()) {
      SetFlags(Node, Node->Flags | nfModified);
    } else {
      leave = true;
    }
  }
  if (leave && UnlinkPending) RemoveFromPending(Node);
  return leave;
}

void TIB_NodeList::RemoveFromPending(TIB_Node* Node) {
  if (Node->Flags & nfDeleted) throw Exception("This shouldn't happen 1");
  auto it = std::find(pending_.begin(), pending_.end(), Node);
  if (it == pending_.end()) throw Exception("This shouldn't happen 3");
  SetFlags(Node, static_cast<uint16_t>(Node->Flags & ~nfCachedMarks));
  Node->OldRow.clear();
  Node->OldRowEdited = false;
  pending_.erase(it);
}

void TIB_NodeList::ProcessUpdates(int32_t Mode) {
  if (processing_) return;
  processing_ = true;
  const int32_t row_before = RowNum();
  auto finish = [&] {
    processing_node_ = nullptr;
    processed_count_ = NodeDetached;
    processing_ = false;
  };
  try {
    processed_count_ = 0;
    size_t i = 0;
    while (i < pending_.size()) {
      TIB_Node* node = pending_[i];
      processing_node_ = node;
      CheckedInc(processed_count_);
      const bool done = (node->Flags & (nfApplied | nfSkipped)) != 0;
      switch (Mode) {
        case npmApply:
          if (!done) {
            int32_t kind;
            if (node->Flags & nfModified) {
              kind = nukModify;
            } else if (node->Flags & nfInserted) {
              kind = nukInsert;
            } else if (node->Flags & nfDeleted) {
              kind = nukDelete;
            } else {
              throw Exception("This shouldn't happen 4");
            }
            if (!OnApplyUpdate) throw Exception("Unable to process updates");
            int32_t action = nuaApplied;
            OnApplyUpdate(this, node, action, kind);
            if (action == nuaApplied) {
              SetFlags(node, node->Flags | nfApplied);
              node->OldKey.clear();
            } else if (action == nuaSkip) {
              SetFlags(node, node->Flags | nfSkipped);
            }
          }
          break;
        case npmCancel:
          if (!done) {
            if (node->Flags & nfInserted) {
              DeleteNode(node);
              continue;
            }
            if (RevertNode(node, false)) {
              if (OnRevert) OnRevert(this, node);
              RemoveFromPending(node);
              continue;
            }
          }
          break;
        case npmCommit:
          if (node->Flags & nfApplied) {
            if (node->Flags & nfDeleted) {
              DeleteNode(node);
            } else {
              RemoveFromPending(node);
            }
            continue;
          }
          if (node->Flags & nfSkipped) SetFlags(node, static_cast<uint16_t>(node->Flags & ~nfSkipped));
          break;
        case npmReset:
          if (done) SetFlags(node, static_cast<uint16_t>(node->Flags & ~(nfApplied | nfSkipped)));
          break;
        default:
          break;
      }
      ++i;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  StepPosition(row_, 0, false);
  AdjustOffset(row_before, RowNum());
}

}  // namespace pelvar
