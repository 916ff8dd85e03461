#include "dbclient/IB_Components_stringlist.h"

#include "dbclient/IB_Constants.h"
#include "dbengine/IB_Parse.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Sets a flag for the lifetime of the guard and puts back its former value.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& Flag) : flag_(Flag), old_(Flag) { flag_ = true; }
  ~TFlagGuard() { flag_ = old_; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

// The part of a qualified name after its relation; empty when it is not qualified.
AnsiString FieldPart(const AnsiString& Name) {
  const int32_t dot = IB_RelationEnd(Name);
  return dot == 0 ? AnsiString() : Name.substr(static_cast<size_t>(dot));
}

// Item with its value replaced: text up to and including the "=" then Value, or the
// item, "=" and Value when it has no "=".
AnsiString WithValue(const AnsiString& Item, const AnsiString& Value) {
  const int32_t eq = IB_NameEnd(Item);
  if (eq == 0) {
    return Item + "=" + Value;
  }
  return Item.substr(0, static_cast<size_t>(eq)) + Value;
}

}  // namespace

int32_t IB_NameEnd(const AnsiString& Item) { return CharPosOutsideQuotes('=', Item); }
int32_t IB_RelationEnd(const AnsiString& Name) { return CharPosOutsideQuotes('.', Name); }

// --- TIB_StringList -----------------------------------------------------------------------

TIB_StringList::TIB_StringList() = default;
TIB_StringList::~TIB_StringList() = default;

int32_t TIB_StringList::Add(const AnsiString& S) { return AddObject(S, nullptr); }

int32_t TIB_StringList::AddObject(const AnsiString& S, TObject* Object) {
  // A blank line goes in without a notification, so a list that drops blank lines
  // keeps it until its next change.
  if (!editing_ && Trim(S).empty()) {
    TFlagGuard guard(editing_);
    return TStringList::AddObject(S, Object);
  }
  if (Sorted()) {
    const int32_t eq = IB_NameEnd(S);
    int32_t index = -1;
    if (eq > 0 && FindName(S.substr(0, static_cast<size_t>(eq - 1)), index)) {
      switch (Duplicates()) {
        case dupIgnore:
          Put(index, S);
          return IndexOf(S);
        case dupError:
          throw Exception(IB_Message(TIB_Msg::DuplicateString));
        case dupAccept:
          break;
      }
    }
  }
  return TStringList::AddObject(S, Object);
}

void TIB_StringList::Put(int32_t Index, const AnsiString& S) {
  if (!Sorted()) {
    TStringList::Put(Index, S);
    return;
  }
  TObject* object = GetObject(Index);
  const AnsiString old = Get(Index);
  BeginUpdate();
  try {
    Delete(Index);
    try {
      AddObject(S, object);
    } catch (...) {
      // A refused line (a duplicate) does not cost the line it was to replace.
      TStringList::AddObject(old, object);
      throw;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TIB_StringList::SaveToStream(TStream* Stream) const {
  if (Stream != nullptr) {
    TStringList::SaveToStream(*Stream);
  }
}

void TIB_StringList::Changing() {
  if (!editing_) {
    TStringList::Changing();
  }
}

void TIB_StringList::Changed() {
  if (editing_ || updating_) {
    return;
  }
  if (Count() > 0 && !keep_blank_lines_) {
    RemoveBlankLines();
  }
  TStringList::Changed();
}

void TIB_StringList::SetUpdateState(bool Updating) {
  updating_ = Updating;
  TStringList::SetUpdateState(Updating);
}

AnsiString TIB_StringList::GetItemName(int32_t Index) const {
  const AnsiString item = Get(Index);
  const int32_t eq = IB_NameEnd(item);
  return eq == 0 ? item : item.substr(0, static_cast<size_t>(eq - 1));
}

AnsiString TIB_StringList::GetItemValue(int32_t Index) const {
  const AnsiString item = Get(Index);
  const int32_t eq = IB_NameEnd(item);
  return eq == 0 ? AnsiString() : item.substr(static_cast<size_t>(eq));
}

void TIB_StringList::SetItemName(int32_t Index, const AnsiString& Name) {
  if (Name.empty()) {
    Delete(Index);
    return;
  }
  const AnsiString item = Get(Index);
  const int32_t eq = IB_NameEnd(item);
  Put(Index, eq == 0 ? Name : Name + item.substr(static_cast<size_t>(eq - 1)));
}

void TIB_StringList::SetItemValue(int32_t Index, const AnsiString& Value) {
  Put(Index, WithValue(Get(Index), Value));
}

AnsiString TIB_StringList::GetItemRelation(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    return {};
  }
  const AnsiString name = GetItemName(Index);
  const int32_t dot = IB_RelationEnd(name);
  return dot == 0 ? name : name.substr(0, static_cast<size_t>(dot - 1));
}

AnsiString TIB_StringList::GetItemField(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    return {};
  }
  const AnsiString name = GetItemName(Index);
  const int32_t dot = IB_RelationEnd(name);
  return dot == 0 ? name : name.substr(static_cast<size_t>(dot));
}

int32_t TIB_StringList::IndexOfNameOrItem(const AnsiString& Name) const {
  int32_t index = -1;
  if (Sorted()) {
    FindName(Name, index);
  } else {
    index = IndexOfName(Name);
  }
  if (index < 0) {
    index = IndexOf(Name);
  }
  return index;
}

int32_t TIB_StringList::IndexOfLinkName(const AnsiString& Name) const {
  int32_t index = IndexOfNameOrItem(Name);
  if (index >= 0) {
    return index;
  }
  if (IB_RelationEnd(Name) > 0) {
    return IndexOfNameOrItem(FieldPart(Name));
  }
  for (int32_t i = 0; i < Count(); ++i) {
    const AnsiString name = Names(i);
    if (IB_RelationEnd(name) > 0 && AnsiSameText(FieldPart(name), Name)) {
      return i;
    }
  }
  return -1;
}

bool TIB_StringList::GetLinkValue(const AnsiString& Name, AnsiString& Value) const {
  auto by_name = [this](const AnsiString& N) {
    AnsiString v;
    if (Sorted()) {
      FindValue(N, v);
    } else {
      v = Values(N);
    }
    return v;
  };
  Value = by_name(Name);
  if (!Value.empty()) {
    return true;
  }
  if (IB_RelationEnd(Name) > 0) {
    Value = by_name(FieldPart(Name));
    return !Value.empty();
  }
  for (int32_t i = 0; i < Count(); ++i) {
    const AnsiString name = Names(i);
    if (IB_RelationEnd(name) > 0 && AnsiSameText(FieldPart(name), Name)) {
      Value = ValueFromIndex(i);
      return !Value.empty();
    }
  }
  Value.clear();
  return false;
}

void TIB_StringList::SetLinkValue(const AnsiString& Name, const AnsiString& Value) {
  int32_t index = IndexOfNameOrItem(Name);
  if (index < 0 && IB_RelationEnd(Name) > 0) {
    index = IndexOfNameOrItem(FieldPart(Name));
  }
  if (index < 0 && IB_RelationEnd(Name) == 0) {
    // Every qualified item of that field takes the value. Collected first: in a sorted
    // list a changed item may move.
    std::vector<AnsiString> matches;
    for (int32_t i = 0; i < Count(); ++i) {
      const AnsiString name = Names(i);
      if (IB_RelationEnd(name) > 0 && AnsiSameText(FieldPart(name), Name)) {
        matches.push_back(Get(i));
      }
    }
    if (!matches.empty()) {
      BeginUpdate();
      try {
        for (const AnsiString& item : matches) {
          const int32_t at = IndexOf(item);
          if (at >= 0) {
            Put(at, WithValue(item, Value));
          }
        }
      } catch (...) {
        EndUpdate();
        throw;
      }
      EndUpdate();
      return;
    }
  }
  if (index >= 0) {
    SetItemValue(index, Value);
  } else {
    Add(Name + "=" + Value);
  }
}

bool TIB_StringList::GetItemAttributeValue(int32_t Index, const AnsiString& Attr,
                                           AnsiString& Value) const {
  int32_t start = 0;
  int32_t end = 0;
  FindAttribute(GetItemValue(Index), Attr, start, Value, end);
  return start != 0;
}

bool TIB_StringList::HasItemAttribute(int32_t Index, const AnsiString& Attr) const {
  AnsiString value;
  return GetItemAttributeValue(Index, Attr, value);
}

bool TIB_StringList::GetLinkAttributeValue(const AnsiString& Name, const AnsiString& Attr,
                                           AnsiString& Value) const {
  AnsiString link;
  GetLinkValue(Name, link);
  int32_t start = 0;
  int32_t end = 0;
  FindAttribute(link, Attr, start, Value, end);
  return start != 0;
}

bool TIB_StringList::HasLinkAttribute(const AnsiString& Name, const AnsiString& Attr) const {
  AnsiString value;
  return GetLinkAttributeValue(Name, Attr, value);
}

void TIB_StringList::SetLinkAttribute(const AnsiString& Name, const AnsiString& Attr,
                                      bool Present) {
  AnsiString link;
  GetLinkValue(Name, link);
  const AnsiString before = link;
  SetAttributeFlag(link, Attr, Present);
  if (link != before) {
    SetLinkValue(Name, link);
  }
}

bool TIB_StringList::FindName(const AnsiString& Name, int32_t& Index) const {
  if (!Sorted()) {
    throw Exception(IB_Message(TIB_Msg::StringListNotSorted));
  }
  const AnsiString probe = Name + "=";
  const size_t n = probe.size();
  bool found = false;
  int32_t low = 0;
  int32_t high = Count() - 1;
  while (low <= high) {
    const int32_t middle = low + (high - low) / 2;
    const AnsiString item = Get(middle);
    const int c = AnsiCompareText(std::string_view(item).substr(0, n), probe);
    if (c < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
      if (c == 0) {
        found = true;
        if (Duplicates() != dupAccept) {
          low = middle;
        }
      }
    }
  }
  Index = found ? low : -1;
  return found;
}

bool TIB_StringList::FindValue(const AnsiString& Name, AnsiString& Value) const {
  int32_t index = -1;
  if (FindName(Name, index)) {
    Value = GetItemValue(index);
    return true;
  }
  Value.clear();
  return false;
}

void TIB_StringList::RemoveBlankLines() {
  if (editing_) {
    return;
  }
  TFlagGuard guard(editing_);
  for (int32_t i = Count() - 1; i >= 0; --i) {
    if (Trim(Get(i)).empty()) {
      Delete(i);
    }
  }
}

void TIB_StringList::RemoveEmptyValues() {
  if (editing_) {
    return;
  }
  TFlagGuard guard(editing_);
  for (int32_t i = Count() - 1; i >= 0; --i) {
    const AnsiString item = Trim(Get(i));
    if (item.empty() || IB_NameEnd(item) == static_cast<int32_t>(item.size())) {
      Delete(i);
    }
  }
}

void TIB_StringList::SetCommaList(const AnsiString& Text) {
  BeginUpdate();
  try {
    Clear();
    if (!Text.empty()) {
      int32_t start = 1;
      while (true) {
        const int32_t comma = CharPosOutsideQuotes(',', Text, start);
        const int32_t stop = comma == 0 ? static_cast<int32_t>(Text.size()) + 1 : comma;
        Add(Trim(Text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(stop - start))));
        if (comma == 0) {
          break;
        }
        start = comma + 1;
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

// --- Descendants --------------------------------------------------------------------------

TIB_StringProperty::TIB_StringProperty() { keep_blank_lines_ = false; }

TIB_StringCache::TIB_StringCache() { SetSorted(true); }

}  // namespace pelvar
