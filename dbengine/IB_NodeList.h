// The row store of the buffered dataset.
//
// TIB_NodeList keeps one node per row the dataset has met: the row's key (always), its
// data (when fetched), the row as it was before a cached change and its blob cache. The
// nodes form one doubly linked list between two sentinels (BOF and EOF). Five remembered
// positions (BOF, EOF, the current row, the buffer row and the origin, which is numbered
// 0) carry row numbers; rows appended at the EOF side are numbered 1, 2, ..., rows
// prepended at the BOF side 0, -1, .... Rows can be hidden without leaving the list
// (cached deletions, rows rejected by the filter); every count and number the list
// reports skips them. Every position carries three counters of hidden rows between the
// origin and itself: for a position on the EOF side the rows numbered 1 up to and
// including it, for one on the BOF side the rows after it up to and including row 0.
//
// The list never talks to the server: it asks its dataset through the handlers the
// dataset installs. Numbers and counts never wrap (EIntOverflow).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dbclient/IB_Session.h"
#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

class TIB_NodeList;

// Node flags.
constexpr uint16_t nfBof = 1;          // BOF sentinel (both sentinels while empty)
constexpr uint16_t nfEof = 2;          // EOF sentinel (both sentinels while empty)
constexpr uint16_t nfEofSide = 4;      // counted on the EOF side
constexpr uint16_t nfBofSide = 8;      // counted on the BOF side
constexpr uint16_t nfFiltered = 32;    // hidden by the filter
constexpr uint16_t nfInserted = 64;    // cached insert pending
constexpr uint16_t nfModified = 128;   // cached modification pending
constexpr uint16_t nfDeleted = 256;    // cached deletion pending
constexpr uint16_t nfApplied = 512;    // cached change applied, not yet committed
constexpr uint16_t nfSkipped = 1024;   // cached change skipped by the update handler
constexpr uint16_t nfCachedMarks = nfInserted | nfModified | nfDeleted | nfApplied | nfSkipped;

// Row numbers with a meaning of their own.
constexpr int32_t NodeNoRow = -2147483647;     // no row
constexpr int32_t NodeDetached = -2147483646;  // a node outside the visible list

struct TIB_Node {
  TIB_Node* Prev = nullptr;
  TIB_Node* Next = nullptr;
  uint16_t Flags = 0;
  std::vector<char> Key;     // key length bytes
  std::vector<char> Row;     // row data in the node format; empty: no row data
  std::vector<char> OldRow;  // the row before a cached edit; empty: none
  // The saved row holds the edited values and the current row must be read again
  // from the server (the negative old length of the node format).
  bool OldRowEdited = false;
  std::vector<char> OldKey;  // the key before its columns were edited; empty: unchanged
  TIB_BlobCacheNode* BlobChain = nullptr;

  TIB_Node() = default;
  ~TIB_Node() { FreeBlobNodeChain(BlobChain); }
  TIB_Node(const TIB_Node&) = delete;
  TIB_Node& operator=(const TIB_Node&) = delete;

  int32_t RowLength() const { return static_cast<int32_t>(Row.size()); }
  bool HasOldKey() const { return !OldKey.empty(); }
};

struct TIB_NodePosition {
  TIB_Node* Node = nullptr;
  int32_t RowNum = NodeNoRow;
  int32_t Deleted = 0;   // hidden-row counters between the origin and the position
  int32_t Filtered = 0;
  int32_t Both = 0;      // rows both deleted and filtered
};

// Cached-update kinds and the update handler's answers (the framework's values).
constexpr int32_t nukModify = 0;
constexpr int32_t nukInsert = 1;
constexpr int32_t nukDelete = 2;
constexpr int32_t nuaFail = 0;
constexpr int32_t nuaAbort = 1;
constexpr int32_t nuaSkip = 2;
constexpr int32_t nuaRetry = 3;
constexpr int32_t nuaApplied = 4;

// MarkUpdate kinds.
constexpr int32_t nmkInsert = 6;
constexpr int32_t nmkModify = 7;
constexpr int32_t nmkDelete = 8;

// ProcessUpdates modes.
constexpr int32_t npmApply = 0;
constexpr int32_t npmCancel = 1;
constexpr int32_t npmCommit = 2;
constexpr int32_t npmReset = 3;

using TIB_NodeApplyUpdateEvent =
    std::function<void(TIB_NodeList* List, TIB_Node* Node, int32_t& Action, int32_t Kind)>;
using TIB_NodeEvent = std::function<void(TIB_NodeList* List, TIB_Node* Node)>;
using TIB_NodeAcceptEvent = std::function<void(TIB_NodeList* List, TIB_Node* Node, bool& Accept)>;
using TIB_NodeFilterEvent = std::function<void(TIB_NodeList* List, TIB_Node* Node, bool& Hidden)>;
using TIB_NodeListEvent = std::function<void(TIB_NodeList* List)>;
// Reads Count more rows in that direction (AddKey per row).
using TIB_NodeFetchEvent = std::function<void(TIB_NodeList* List, bool Forward, int32_t Count)>;

class TIB_NodeList : public TObject {
 public:
  TIB_NodeList();
  ~TIB_NodeList() override;
  TIB_NodeList(const TIB_NodeList&) = delete;
  TIB_NodeList& operator=(const TIB_NodeList&) = delete;

  // --- Construction and reset
  uint16_t KeyLength() const { return key_length_; }
  void SetKeyLength(uint16_t Length);
  void Release(bool Keep, bool WholeRows, bool HasKeys);
  void FreeAll();

  // --- Fetching
  void BeginFetch(uint8_t Direction);
  void SetFetched(bool EofSide);
  bool BofFetched() const { return bof_fetched_; }
  bool EofFetched() const { return eof_fetched_; }
  // Key holds KeyLength bytes. nullptr when the row is already there.
  TIB_Node* AddKey(const void* Key, bool CheckDuplicates, bool Hidden, bool Append);

  // --- Positions and numbers (reported numbers)
  int32_t RowNum() const { return ReportedNum(row_); }
  int32_t BufferRowNum() const { return ReportedNum(buffer_); }
  int32_t BofRowNum() const { return ReportedNum(bof_); }
  int32_t EofRowNum() const { return ReportedNum(eof_); }
  int32_t NodeCount() const;
  int32_t VisibleCount() const;
  bool IsEmpty() const { return VisibleCount() == 0; }
  bool IsRowBof() const { return IsAtBof(row_); }
  bool IsRowEof() const { return IsAtEof(row_); }
  bool IsBufferBof() const { return IsAtBof(buffer_); }
  bool IsBufferEof() const { return IsAtEof(buffer_); }
  void SetRowNum(int32_t N);
  void SetBufferRowNum(int32_t N);
  void MoveRowBy(int32_t N);
  void MoveBufferBy(int32_t N);
  void SetBufferPosition(TIB_Node* Node, int32_t Number, int32_t Deleted, int32_t Filtered,
                         int32_t Both);
  bool LocateKey(const void* Key, bool FullScan, TIB_NodePosition& Position);
  bool LocateBufferKey(const void* Key);
  bool LocateHexKey(const AnsiString& HexText, TIB_NodePosition& Position);
  // The node's own (unreported) number; NodeDetached for a node outside the list,
  // NodeNoRow when not found.
  int32_t RowNumOfNode(const TIB_Node* Node) const;
  // The node's position with its own number and counters (walking out from the
  // current row when no position stands on it); RowNum NodeDetached for a node outside
  // the visible list, NodeNoRow when not found.
  TIB_NodePosition PositionOfNode(TIB_Node* Node) const;

  // The five positions as they stand (own numbers and counters).
  const TIB_NodePosition& RowPosition() const { return row_; }
  const TIB_NodePosition& BufferPosition() const { return buffer_; }
  const TIB_NodePosition& BofPosition() const { return bof_; }
  const TIB_NodePosition& EofPosition() const { return eof_; }
  const TIB_NodePosition& OriginPosition() const { return origin_; }
  TIB_Node* RowNode() const { return row_.Node; }
  TIB_Node* BufferNode() const { return buffer_.Node; }
  TIB_Node* BofNode() { return &bof_node_; }
  TIB_Node* EofNode() { return &eof_node_; }
  bool IsSentinel(const TIB_Node* Node) const {
    return Node == &bof_node_ || Node == &eof_node_;
  }
  // Hidden by the current hiding rules (sentinels never are).
  bool IsHidden(const TIB_Node* Node) const;
  int32_t RowNumOffset() const { return row_num_offset_; }
  int32_t DroppedRows() const { return dropped_rows_; }

  // --- Editing the list
  TIB_Node* InsertNode();
  void DeleteRow();
  void DeleteBufferRow();
  void DropRowData(TIB_Node* Node);
  void DropAllRowData();
  bool Filtered() const { return hide_filtered_; }
  void SetFiltered(bool On);
  uint8_t FilterOptions() const { return filter_options_; }
  void SetFilterOptions(uint8_t Options);
  void Refilter();
  bool SetRowFiltered(bool Hidden);
  bool HideDeleted() const { return hide_deleted_; }
  void SetHideDeleted(bool On);
  bool Unidirectional() const { return unidirectional_; }
  void SetUnidirectional(bool On) { unidirectional_ = On; }

  // --- Cached-update bookkeeping
  void MarkUpdate(TIB_Node* Node, int32_t Kind);
  void ToggleDeleted(TIB_Node* Node);
  bool RevertNode(TIB_Node* Node, bool UnlinkPending);
  void ProcessUpdates(int32_t Mode);
  void RemoveFromPending(TIB_Node* Node);
  bool HasPendingUpdates() const { return !pending_.empty(); }
  const std::vector<TIB_Node*>& PendingList() const { return pending_; }
  int32_t ModifiedCount() const { return modified_count_; }
  int32_t InsertedCount() const { return inserted_count_; }
  int32_t DeletedCount() const { return deleted_count_; }
  // The node an update pass works on (the scratch node when none runs) and the rows
  // the pass has handled.
  TIB_Node* NodeUnderProcessing() { return processing_node_ ? processing_node_ : &scratch_node_; }
  int32_t ProcessedCount() const { return processed_count_; }
  bool Processing() const { return processing_; }
  void ReattachInserts();

  // Detached chain (head first) and the new-row list, for the dataset and for tests.
  TIB_Node* DetachedHead() const { return detached_head_; }
  int32_t PoolCount() const { return pool_count_; }

  TIB_NodeApplyUpdateEvent OnApplyUpdate;
  TIB_NodeEvent OnRevert;
  TIB_NodeAcceptEvent OnAcceptInsert;
  TIB_NodeFilterEvent OnFilter;
  TIB_NodeListEvent OnBeforeRefilter;
  TIB_NodeListEvent OnAfterRefilter;
  TIB_NodeFetchEvent OnFetch;

 private:
  int32_t ReportedNum(const TIB_NodePosition& P) const;
  bool AnyHidden() const;
  bool OnEofSide(const TIB_NodePosition& P) const;
  int32_t VisibleDistance(const TIB_NodePosition& A, const TIB_NodePosition& B) const;
  bool IsAtBof(const TIB_NodePosition& P) const;
  bool IsAtEof(const TIB_NodePosition& P) const;
  bool KeyEquals(const TIB_Node* Node, const void* Key, bool EitherKey) const;
  // One node in direction Dir, counters kept; false at the end of the list.
  bool RawStep(TIB_NodePosition& P, int32_t Dir) const;
  void StepPosition(TIB_NodePosition& P, int32_t N, bool AllowFetch);
  void Seek(TIB_NodePosition& P, int32_t N);
  // Numbers and counters of every position from the nodes (O(n)).
  void RecountPositions();
  // After an incremental change: positions off the list go to BOF; sentinel flags.
  void SettlePositions();
  void ResetPositions();
  void UpdateSentinelFlags();
  void AdjustOffset(int32_t Before, int32_t After);
  // Sets or clears Flag (nfFiltered or nfDeleted) on a node of the list numbered Num.
  void ToggleFlag(TIB_Node* Node, int32_t Num, uint16_t Flag);
  void LinkAtEnd(TIB_Node* Node, bool Append, bool Hidden);
  void DeleteNode(TIB_Node* Node);
  TIB_Node* TakeNode();
  void ClearNode(TIB_Node* Node);
  void ReturnToPool(TIB_Node* Node);
  void FreeChain(TIB_Node*& Head);
  void UnlinkDetached(TIB_Node* Node);
  void AppendDetached(TIB_Node* Node);
  void EraseFromNewRows(TIB_Node* Node);
  // Changes a node's flags, keeping the pending counts in step.
  void SetFlags(TIB_Node* Node, uint16_t Flags);
  void AddPending(TIB_Node* Node);

  uint16_t key_length_ = 0;
  int32_t pool_count_ = 0;
  TIB_Node bof_node_;
  TIB_Node eof_node_;
  TIB_Node scratch_node_;
  TIB_NodePosition bof_, eof_, buffer_, row_, origin_;
  TIB_Node* processing_node_ = nullptr;
  int32_t processed_count_ = NodeDetached;
  TIB_Node* pool_head_ = nullptr;
  TIB_Node* detached_head_ = nullptr;
  std::vector<TIB_Node*> new_rows_;
  bool bof_fetched_ = true;
  bool eof_fetched_ = true;
  bool hide_deleted_ = true;
  bool hide_filtered_ = false;
  uint8_t filter_options_ = 0;
  int32_t row_num_offset_ = 0;
  int32_t dropped_rows_ = -1;
  bool unidirectional_ = false;
  bool processing_ = false;
  std::vector<TIB_Node*> pending_;
  int32_t modified_count_ = 0;
  int32_t inserted_count_ = 0;
  int32_t deleted_count_ = 0;
  uint64_t add_serial_ = 0;  // rows added so far (tells a move that a fetch brought rows)
};

}  // namespace pelvar
