// The buffered dataset's filters (server Filter text and client OnFilterRecord),
// locating, looking up and finding rows.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/ib_bdataset_internal.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace bdataset_detail;

namespace {

std::vector<AnsiString> SplitNames(const AnsiString& Text) {
  std::vector<AnsiString> out;
  AnsiString cur;
  for (char c : Text) {
    if (c == ',' || c == ';') {
      if (!Trim(cur).empty()) out.push_back(Trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!Trim(cur).empty()) out.push_back(Trim(cur));
  return out;
}

Variant ValueAt(const Variant& Values, size_t I, bool Many) {
  if (!Many) return Values;
  return Values.GetElement({VarArrayLowBound(Values, 1) + static_cast<int32_t>(I)});
}

bool IsBlank(const Variant& V) {
  if (VarIsNull(V) || VarIsEmpty(V)) return true;
  return V.VarType() == varString && VarToStr(V).empty();
}

}  // namespace

// --- Filtering ---------------------------------------------------------------------------------

void TIB_BDataset::SetFilter(const AnsiString& Value) {
  if (Value == filter_) return;
  const AnsiString old = filter_;
  filter_ = Value;
  try {
    if (Prepared() && Filtered()) {
      const bool was_active = Active();
      if (was_active) Close();
      InvalidateSQL();
      Prepare();
      if (was_active) Open();
    } else if (filter_cursor_) {
      filter_cursor_.reset();
    }
  } catch (...) {
    filter_ = old;
    throw;
  }
}

void TIB_BDataset::SetFiltered(bool Value) {
  if (Value == Filtered()) return;
  if (Active()) CheckBrowseMode();
  const bool old = Filtered();
  try {
    if (!Trim(filter_).empty()) {
      node_list_->SetFiltered(Value);
      if (Prepared()) {
        const bool was_active = Active();
        if (was_active) Close();
        InvalidateSQL();
        Prepare();
        if (was_active) Open();
      }
    } else if (Active() && on_filter_record_) {
      Fields()->SetRowNode(nullptr);
      current_node_shown_ = nullptr;
      node_list_->SetFiltered(Value);
      node_list_->MoveRowBy(0);
      if (!ReadCurrentRow() && KeysReadable()) RemoveRow(true, true);
      ProcessLinkEvent(dsetRowRefreshed, NodeNoRow);
      ProcessLinkEvent(dsetDataChange, 0);
      SysAfterScroll();
    } else {
      node_list_->SetFiltered(Value);
    }
  } catch (...) {
    node_list_->SetFiltered(old);
    throw;
  }
}

void TIB_BDataset::SetFilterOptions(TFilterOptions Value) {
  if (Value == filter_options_) return;
  const TFilterOptions old = filter_options_;
  filter_options_ = Value;
  try {
    node_list_->SetFilterOptions(static_cast<uint8_t>(Value.Bits()));
    if (Prepared() && Filtered() && !Trim(filter_).empty()) {
      const bool was_active = Active();
      if (was_active) Close();
      InvalidateSQL();
      Prepare();
      if (was_active) Open();
    }
  } catch (...) {
    filter_options_ = old;
    throw;
  }
}

void TIB_BDataset::SetOnFilterRecord(const TIB_FilterRecordEvent& Handler) {
  on_filter_record_ = Handler;
  if (Active() && owner_for_events_ == nullptr && !ComponentState().Contains(csDesigning)) RefilterRows();
}

void TIB_BDataset::RefilterRows() {
  Fields()->SetRowNode(nullptr);
  current_node_shown_ = nullptr;
  node_list_->Refilter();
  node_list_->MoveRowBy(0);
  ReadCurrentRow();
  ProcessLinkEvent(dsetRowRefreshed, NodeNoRow);
  ProcessLinkEvent(dsetDataChange, 0);
}

bool TIB_BDataset::DoFilterRecord(TIB_Row* ARow) {
  bool accept = true;
  if (ARow != nullptr && ARow->RowState() != rsEmpty && on_filter_record_) on_filter_record_(ARow, accept);
  return accept;
}

bool TIB_BDataset::RowPassesFilter(TIB_Node* Node) {
  if (!on_filter_record_) return true;
  if (Node == Fields()->RowNode() && current_node_shown_ == Node) return DoFilterRecord(Fields());
  TIB_Row* row = buffer_cursor_->Fields();
  if (row->ColumnCount() == 0) return true;
  if (Node->Row.empty() && !buffer_cursor_->FetchRowByKey(Node, false, false)) return true;
  row->SetRowNode(Node);
  row->LoadFromNode(false, false);
  if (row->CalculatedCount() > 0) row->CalculateFields();
  row->SetRowState(rsLoaded);
  const bool accept = DoFilterRecord(row);
  row->SetRowNode(nullptr);
  return accept;
}

void TIB_BDataset::SysFilterRow(TIB_Node* Node, bool& Accept) {
  Accept = true;
  if (Node == nullptr) return;
  // A cached row of a detail shows under its own master only.
  TIB_Row* probe = buffer_cursor_->Fields();
  if (GetMasterDataset() != nullptr && !Node->Row.empty() && probe->ColumnCount() > 0) {
    probe->SetRowNode(Node);
    probe->LoadFromNode(false, false);
    probe->SetRowState(rsLoaded);
    Accept = DetailRowMatchesMaster(probe);
    probe->SetRowNode(nullptr);
    if (!Accept) return;
  }
  Accept = RowPassesFilter(Node);
}

// --- Locating -----------------------------------------------------------------------------------

bool TIB_BDataset::CompareBufferRow(const std::vector<TIB_Column*>& Columns, const Variant& Values,
                                    uint8_t Options) {
  const bool many = Columns.size() > 1 || Values.IsArray();
  for (size_t i = 0; i < Columns.size(); ++i) {
    TIB_Column* c = Columns[i];
    const Variant v = ValueAt(Values, i, many);
    const bool col_blank = c->GetIsNull() || (c->IsText && c->GetAsString().empty());
    const bool val_blank = IsBlank(v);
    if (col_blank && val_blank) continue;
    if (col_blank != val_blank) return false;
    try {
      if (c->IsText) {
        AnsiString s = c->GetAsString();
        AnsiString t = VarToStr(v);
        const bool ci = (Options & lopCaseInsensitive) != 0;
        if ((Options & lopPartialKey) != 0) {
          if (ci) {
            s = AnsiUpperCase(s);
            t = AnsiUpperCase(t);
          }
          if (s.compare(0, t.size(), t) != 0) return false;
        } else if (ci ? AnsiCompareText(s, t) != 0 : AnsiCompareStr(s, t) != 0) {
          return false;
        }
      } else if (Variant::Compare(c->GetAsVariant(), v) != 0) {
        return false;
      }
    } catch (const Exception&) {
      return false;
    }
  }
  return true;
}

bool TIB_BDataset::LocateInBuffer(const std::vector<TIB_Column*>& Columns, const Variant& Values,
                                  uint8_t Options, int32_t Lower, int32_t Upper) {
  if (VarArrayDimCount(Values) > 1) throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotFindRecord));
  locate_hit_ = NodeNoRow;
  TIB_Row* key = KeyFields();
  const std::vector<char> saved_key(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
  const int32_t aborts = FetchAbortCount();
  for (int32_t n = std::max(Lower, node_list_->BofRowNum() + 1); n <= Upper; ++n) {
    SetBufferRowNum(n);
    if (aborts != FetchAbortCount() || GetBufferEof() || node_list_->BufferRowNum() != n) break;
    if (node_list_->IsBufferEof()) break;
    if (CompareBufferRow(Columns, Values, Options)) {
      locate_hit_ = n;
      break;
    }
  }
  if (!saved_key.empty()) std::memcpy(key->RowBuffer(), saved_key.data(), saved_key.size());
  return locate_hit_ != NodeNoRow;
}

bool TIB_BDataset::LocateRecord(const AnsiString& KeyFieldNames, const Variant& KeyValues, uint8_t Options,
                                bool SyncCursor, bool Nearest) {
  CheckPrepared();
  if (!Active()) Open();
  CheckedInc(locate_nesting_);
  struct Nesting {
    TIB_BDataset& d;
    ~Nesting() {
      --d.locate_nesting_;
      if (d.locate_cursor_ && d.locate_cursor_->Active()) {
        try {
          d.locate_cursor_->Close();
        } catch (...) {
        }
      }
    }
  } nesting{*this};
  const std::vector<AnsiString> names = SplitNames(KeyFieldNames);
  if (names.empty()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::NoLocateLinks));
  if (VarArrayDimCount(KeyValues) > 1) throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotFindRecord));
  const bool many = names.size() > 1 || KeyValues.IsArray();
  std::vector<TIB_Column*> columns;
  for (const AnsiString& n : names) columns.push_back(BufferFieldByName(n));

  // Every key column named, compared exactly: the key finds the row directly.
  if (!Nearest && KeysReadable() && !GetUpdatesPending() && names.size() == key_column_map_.size()) {
    TIB_Row* key = KeyFields();
    bool all = true;
    std::vector<int32_t> order;
    for (size_t i = 0; i < names.size() && all; ++i) {
      TIB_Column* f = FindField(names[i]);
      auto it = std::find_if(key_column_map_.begin(), key_column_map_.end(),
                             [f](const auto& m) { return m.second == f; });
      if (f == nullptr || it == key_column_map_.end() ||
          (f->IsText && (Options & (lopCaseInsensitive | lopPartialKey)) != 0)) {
        all = false;
        break;
      }
      order.push_back(static_cast<int32_t>(it - key_column_map_.begin()));
    }
    if (all) {
      std::memset(key->RowBuffer(), 0, static_cast<size_t>(key->RowBufferSize()));
      for (size_t i = 0; i < names.size(); ++i) {
        TIB_Column* k = key->GetColumn(order[i]);
        const Variant v = ValueAt(KeyValues, i, many);
        if (IsBlank(v)) {
          k->SetIsNull(true);
        } else {
          k->SetAsVariant(v);
        }
        // Bytes past a text value are zero in every stored key.
        if (k->BaseType() == SQL_VARYING) {
          const int32_t len = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(k->DataPtr())), 0, k->GetSQLLen());
          std::memset(k->DataPtr() + 2 + len, 0, static_cast<size_t>(k->GetSQLLen() - len));
        }
        if (k->GetIsNull()) std::memset(k->DataPtr(), 0, static_cast<size_t>(k->GetBufferDataSize()));
      }
      return SyncCursor ? LookupKey() : LookupBufferKey();
    }
  }

  bool hit = LocateInBuffer(columns, KeyValues, Options, node_list_->BofRowNum() + 1, node_list_->EofRowNum() - 1);
  if (!hit && !node_list_->EofFetched()) {
    if (KeysReadable() && !key_select_.empty()) {
      // Ask the server for the keys of matching rows; the first one the dataset shows wins.
      if (!locate_cursor_) locate_cursor_ = std::make_unique<TIB_LocateCursor>(nullptr, this);
      TIB_LocateCursor* lc = locate_cursor_.get();
      lc->SetLocateLinks(KeyFieldNames);
      lc->SetValues(KeyValues);
      lc->SetOptions(Options);
      lc->SetNearest(Nearest);
      bool row = false;
      try {
        row = lc->OpenAndFetch();
      } catch (...) {
        try {
          lc->Unprepare();
        } catch (...) {
        }
        throw;
      }
      while (row) {
        if (SyncCursor ? LookupKey() : LookupBufferKey()) return true;
        row = lc->NextRow();
      }
      return false;
    }
    hit = LocateInBuffer(columns, KeyValues, Options, node_list_->EofRowNum(), INT32_MAX - 1);
  }
  if (!hit) return false;
  if (SyncCursor) {
    SetRowNum(locate_hit_);
    return GetRowNum() == locate_hit_;
  }
  SetBufferRowNum(locate_hit_);
  return GetBufferRowNum() == locate_hit_;
}

bool TIB_BDataset::LookupRecord(const AnsiString& KeyFieldNames, const Variant& KeyValues,
                                const AnsiString& ResultFields, Variant& Result) {
  Result = Variant::MakeNull();
  if (!LocateRecord(KeyFieldNames, KeyValues, 0, false, false)) return false;
  const std::vector<AnsiString> names = SplitNames(ResultFields);
  if (names.size() == 1) {
    TIB_Column* c = BufferFieldByName(names[0]);
    Result = c->GetIsNull() ? Variant::MakeNull() : c->GetAsVariant();
    return true;
  }
  std::vector<Variant> values;
  for (const AnsiString& n : names) {
    TIB_Column* c = BufferFieldByName(n);
    values.push_back(c->GetIsNull() ? Variant::MakeNull() : c->GetAsVariant());
  }
  Result = VarArrayOf(values);
  return true;
}

// --- Finding -----------------------------------------------------------------------------------

bool TIB_BDataset::FindRecord(bool Restart, bool GoForward) {
  if (Active()) CheckBrowseMode();
  found_ = false;
  if (!Active()) Open();
  if (Filtered() || Trim(filter_).empty()) {
    // The rows at hand are the rows to find; rejected ones are stepped over.
    auto rejected = [this]() {
      return !Filtered() && on_filter_record_ && !DoFilterRecord(Fields());
    };
    if (GoForward) {
      if (Restart) First();
      else if (!GetEof()) Next();
      while (!GetEof() && rejected()) Next();
      found_ = !GetEof();
    } else {
      if (Restart) Last();
      else if (!GetBof()) Prior();
      while (!GetBof() && rejected()) Prior();
      found_ = !GetBof();
    }
    return found_;
  }
  if (!KeysReadable()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::CursorWithoutKey));
  // A Filter text while Filtered is off: the filter cursor holds the keys of the matching
  // rows, and the rows are found in this dataset's order.
  if (!filter_cursor_) {
    filter_cursor_ = std::make_unique<TIB_FilterCursor>(nullptr, this);
  }
  TIB_FilterCursor* fc = filter_cursor_.get();
  if (!fc->Prepared()) {
    fc->SetIB_Connection(IB_Connection());
    fc->SetIB_Transaction(IB_Transaction());
    fc->SQL()->SetText(SQL()->Text());
    fc->SetKeyLinks(KeyLinks());
    fc->SetFilter(filter_);
    fc->SetFilterOptions(filter_options_);
    fc->SetFiltered(true);
    fc->SetFetchWholeRows(true);
    fc->Prepare();
  }
  fc->SetIB_Transaction(IB_Transaction());
  if (!fc->Active()) fc->Open();
  fc->FetchAll();
  TIB_NodeList* matches = fc->NodeList();
  if (matches->KeyLength() != node_list_->KeyLength()) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotFindRecord));
  }
  const int32_t saved_buffer = node_list_->BufferRowNum();
  int32_t hit = NodeNoRow;
  auto matching = [&](int32_t n) {
    SetBufferRowNum(n);
    TIB_Node* node = node_list_->BufferNode();
    if (node == nullptr || node_list_->IsSentinel(node) || node_list_->BufferRowNum() != n) return false;
    if (on_filter_record_ && !RowPassesFilter(node)) return false;
    TIB_NodePosition p;
    return matches->LocateKey(node->Key.data(), true, p);
  };
  if (GoForward) {
    for (int32_t n = Restart ? node_list_->BofRowNum() + 1 : CheckedAdd(GetRowNum(), 1);; ++n) {
      int32_t m = n;
      if (!FetchToRowNum(m) || m >= node_list_->EofRowNum()) break;
      if (matching(n)) {
        hit = n;
        break;
      }
    }
  } else {
    if (Restart) SysFetchAll(0);
    const int32_t start = Restart ? node_list_->EofRowNum() - 1 : CheckedSub(GetRowNum(), 1);
    for (int32_t n = start; n > node_list_->BofRowNum(); --n) {
      if (matching(n)) {
        hit = n;
        break;
      }
    }
  }
  SetBufferRowNum(saved_buffer);
  if (hit == NodeNoRow) return false;
  SetRowNum(hit);
  found_ = GetRowNum() == hit;
  return found_;
}

}  // namespace pelvar

namespace pelvar {

// --- Master and key sources -----------------------------------------------------------------

void TIB_BDataset::UpdateCachedDetailRows(int32_t Mode, TIB_Column* /*MasterColumn*/) {
  if (!Active() || !CachedUpdates || !GetUpdatesPending()) return;
  if (Mode == 1) {
    // The master being inserted changed a link value: the cached rows made for it take
    // the new value, so that they are sent under the master they were made for.
    DisableLinkEvents();
    const AnsiString saved = GetBookmark();
    try {
      std::vector<std::vector<char>> keys;
      for (TIB_Node* node : node_list_->PendingList()) {
        if ((node->Flags & (nfApplied | nfSkipped | nfDeleted)) == 0) keys.push_back(node->Key);
      }
      TIB_Row* key = KeyFields();
      for (const std::vector<char>& k : keys) {
        std::memcpy(key->RowBuffer(), k.data(), std::min<size_t>(k.size(), static_cast<size_t>(key->RowBufferSize())));
        if (!LookupKey() || DetailRowMatchesMaster(Fields())) continue;
        Edit();
        AssignMasterLinkValues();
        if (GetIsEditing()) Post();
      }
      if (!saved.empty()) SetBookmark(saved);
    } catch (...) {
      EnableLinkEvents();
      throw;
    }
    EnableLinkEvents();
    return;
  }
  DisableLinkEvents();
  try {
    // Every pending change made for the master row being deleted goes, whether its row is
    // in view or kept aside by a refresh: none may be sent later under another master.
    const std::vector<TIB_Node*> pending = node_list_->PendingList();
    TIB_Row* probe = buffer_cursor_->Fields();
    for (TIB_Node* node : pending) {
      if ((node->Flags & (nfApplied | nfSkipped)) != 0 || node->Row.empty() || probe->ColumnCount() == 0) continue;
      probe->SetRowNode(node);
      probe->LoadFromNode(false, false);
      probe->SetRowState(rsLoaded);
      const bool mine = DetailRowMatchesMaster(probe);
      probe->SetRowNode(nullptr);
      if (!mine) continue;
      if (Fields()->RowNode() == node) {
        Fields()->SetRowNode(nullptr);
        current_node_shown_ = nullptr;
      }
      if ((node->Flags & nfInserted) != 0) {
        const TIB_NodePosition at = node_list_->PositionOfNode(node);
        if (at.RowNum != NodeDetached && at.RowNum != NodeNoRow) {
          node_list_->SetBufferPosition(node, at.RowNum, at.Deleted, at.Filtered, at.Both);
          node_list_->SetBufferRowNum(node_list_->BufferRowNum());
          if (node_list_->BufferNode() == node) {
            node_list_->DeleteBufferRow();
            continue;
          }
        }
        node_list_->RemoveFromPending(node);
        continue;
      }
      node_list_->RevertNode(node, true);
      RevertedNode(node);
    }
    Fields()->SetRowNode(nullptr);
    current_node_shown_ = nullptr;
    node_list_->MoveRowBy(0);
    ReadCurrentRow();
    ReadBufferRow();
    UpdatePendingState();
  } catch (...) {
    EnableLinkEvents();
    if (!Active()) Open();
    throw;
  }
  EnableLinkEvents();
  if (!Active()) Open();
}

void TIB_BDataset::SysKeyDataChange() {
  if (!Active() || KeyFollowingHeld()) return;
  TIB_Dataset* key = GetKeyDataset();
  if (key == nullptr || !key->Prepared()) {
    if (KeySeeking()) GotoBof();
    return;
  }
  if (key->GetState() == dstSearch) return;
  TIB_Row* row = KeyFields();
  bool complete = key->Fields()->RowState() != rsEmpty && KeysReadable();
  for (int32_t i = 0; complete && i < row->ColumnCount() && i < KeyLinks()->Count(); ++i) {
    TIB_Column* mine = row->GetColumn(i);
    const AnsiString value = Trim(KeyLinks()->GetItemValue(i));
    TIB_Column* theirs = value.empty() ? nullptr : key->FindField(value);
    if (theirs == nullptr || theirs->GetIsNull()) {
      complete = false;
      break;
    }
    std::memset(mine->DataPtr(), 0, static_cast<size_t>(mine->GetBufferDataSize()));
    mine->Assign(theirs);
    if (mine->BaseType() == SQL_VARYING) {
      const int32_t len = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(mine->DataPtr())), 0, mine->GetSQLLen());
      std::memset(mine->DataPtr() + 2 + len, 0, static_cast<size_t>(mine->GetSQLLen() - len));
    }
  }
  if (!complete) {
    GotoBof();
    return;
  }
  if (KeySeeking()) {
    if (!LookupKey()) GotoBof();
  } else {
    LookupBufferKey();
  }
}

}  // namespace pelvar
