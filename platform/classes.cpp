#include "platform/classes.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/sysutils.h"

namespace pelvar {

namespace {

AnsiString FormatData(const AnsiString& msg, int64_t data) {
  AnsiString result;
  auto pos = msg.find("%d");
  if (pos == AnsiString::npos) return msg;
  result = msg.substr(0, pos) + std::to_string(data) + msg.substr(pos + 2);
  return result;
}

const char kListIndexError[] = "List index out of bounds (%d)";
const char kListCapacityError[] = "List capacity out of bounds (%d)";
const char kListCountError[] = "List count out of bounds (%d)";
const char kDuplicateString[] = "String list does not allow duplicates";
const char kSortedListError[] = "Operation not allowed on sorted list";

}  // namespace

// ---------------------------------------------------------------------------
AnsiString TObject::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  AnsiString name = status == 0 && demangled ? AnsiString(demangled.get()) : AnsiString(mangled);
  // Drop namespaces and enclosing classes, but not inside template arguments.
  auto angle = name.find('<');
  auto sep = name.rfind("::", angle == AnsiString::npos ? AnsiString::npos : angle);
  if (sep != AnsiString::npos) name = name.substr(sep + 2);
  return name;
}

// ---------------------------------------------------------------------------
TList::~TList() { Clear(); }

void TList::Error(const AnsiString& msg, int64_t data) { throw EListError(FormatData(msg, data)); }

void TList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) Error(kListIndexError, index);
}

void TList::Grow() {
  int32_t delta;
  if (capacity_ > 64)
    delta = capacity_ / 4;
  else if (capacity_ > 8)
    delta = 16;
  else
    delta = 4;
  SetCapacity(capacity_ + delta);
}

int32_t TList::Add(void* item) {
  int32_t result = Count();
  if (result == capacity_) Grow();
  items_.push_back(item);
  if (item) Notify(item, lnAdded);
  return result;
}

void TList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void TList::Delete(int32_t index) {
  CheckIndex(index);
  void* item = items_[index];
  items_.erase(items_.begin() + index);
  if (item) Notify(item, lnDeleted);
}

void TList::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[index1], items_[index2]);
}

TList* TList::Expand() {
  if (Count() == capacity_) Grow();
  return this;
}

void* TList::Extract(void* item) {
  int32_t i = IndexOf(item);
  if (i < 0) return nullptr;
  items_.erase(items_.begin() + i);
  if (item) Notify(item, lnExtracted);
  return item;
}

void* TList::First() const { return Get(0); }
void* TList::Last() const { return Get(Count() - 1); }

int32_t TList::IndexOf(const void* item) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (items_[i] == item) return i;
  return -1;
}

void TList::Insert(int32_t index, void* item) {
  if (index < 0 || index > Count()) Error(kListIndexError, index);
  if (Count() == capacity_) Grow();
  items_.insert(items_.begin() + index, item);
  if (item) Notify(item, lnAdded);
}

void TList::Move(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  CheckIndex(new_index);
  CheckIndex(cur_index);
  void* item = items_[cur_index];
  items_.erase(items_.begin() + cur_index);
  items_.insert(items_.begin() + new_index, item);
}

int32_t TList::Remove(const void* item) {
  int32_t i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

void TList::Pack() {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (items_[i] == nullptr) items_.erase(items_.begin() + i);
}

void TList::Sort(const TListSortCompare& compare) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](void* a, void* b) { return compare(a, b) < 0; });
}

void TList::Assign(const TList& source) {
  if (&source == this) return;
  std::vector<void*> copy = source.items_;
  Clear();
  SetCapacity(static_cast<int32_t>(copy.size()));
  for (void* p : copy) Add(p);
}

void TList::SetCount(int32_t count) {
  if (count < 0) Error(kListCountError, count);
  if (count > capacity_) SetCapacity(count);
  if (count > Count()) {
    items_.resize(count, nullptr);
  } else {
    for (int32_t i = Count() - 1; i >= count; --i) Delete(i);
  }
}

void TList::SetCapacity(int32_t capacity) {
  if (capacity < Count()) Error(kListCapacityError, capacity);
  capacity_ = capacity;
  if (capacity == 0) {
    std::vector<void*>().swap(items_);
  } else {
    items_.reserve(capacity);
  }
}

void* TList::Get(int32_t index) const {
  CheckIndex(index);
  return items_[index];
}

void TList::Put(int32_t index, void* item) {
  CheckIndex(index);
  void* old = items_[index];
  if (old == item) return;
  items_[index] = item;
  if (old) Notify(old, lnDeleted);
  if (item) Notify(item, lnAdded);
}

void TList::Notify(void*, TListNotification) {}

// ---------------------------------------------------------------------------
void TPersistent::Assign(TPersistent* source) {
  if (source != nullptr)
    source->AssignTo(this);
  else
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  AnsiString source_name = source ? source->ClassName() : AnsiString("nil");
  throw EConvertError("Cannot assign a " + source_name + " to a " + ClassName());
}

AnsiString TPersistent::GetNamePath() const { return ClassName(); }

// ---------------------------------------------------------------------------
void TStrings::Error(const AnsiString& msg, int64_t data) {
  throw EStringListError(FormatData(msg, data));
}

int32_t TStrings::Add(const AnsiString& s) {
  int32_t result = Count();
  Insert(result, s);
  return result;
}

int32_t TStrings::AddObject(const AnsiString& s, TObject* object) {
  int32_t result = Add(s);
  PutObject(result, object);
  return result;
}

void TStrings::AddStrings(const TStrings* strings) {
  BeginUpdate();
  try {
    // A copy first: strings may be this very list.
    std::vector<std::pair<AnsiString, TObject*>> lines;
    for (int32_t i = 0; i < strings->Count(); ++i)
      lines.emplace_back(strings->Get(i), strings->GetObject(i));
    for (auto& [s, o] : lines) AddObject(s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(TPersistent* source) {
  if (auto* strings = dynamic_cast<TStrings*>(source)) {
    if (strings == this) return;
    BeginUpdate();
    try {
      Clear();
      AddStrings(strings);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

void TStrings::BeginUpdate() {
  if (update_count_ == 0) SetUpdateState(true);
  ++update_count_;
}

void TStrings::EndUpdate() {
  if (update_count_ <= 0) return;
  --update_count_;
  if (update_count_ == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::Exchange(int32_t index1, int32_t index2) {
  BeginUpdate();
  try {
    AnsiString s = Get(index1);
    TObject* o = GetObject(index1);
    Put(index1, Get(index2));
    PutObject(index1, GetObject(index2));
    Put(index2, s);
    PutObject(index2, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TStrings::Equals(const TStrings* strings) const {
  if (strings == nullptr) return false;
  if (Count() != strings->Count()) return false;
  for (int32_t i = 0; i < Count(); ++i)
    if (Get(i) != strings->Get(i)) return false;
  return true;
}

int TStrings::CompareStrings(const AnsiString& s1, const AnsiString& s2) const {
  return AnsiCompareText(s1, s2);
}

int32_t TStrings::IndexOf(const AnsiString& s) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int32_t TStrings::IndexOfName(const AnsiString& name) const {
  for (int32_t i = 0; i < Count(); ++i) {
    AnsiString s = Get(i);
    auto p = s.find(name_value_separator_);
    if (p != AnsiString::npos && CompareStrings(s.substr(0, p), name) == 0) return i;
  }
  return -1;
}

int32_t TStrings::IndexOfObject(const TObject* object) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

void TStrings::InsertObject(int32_t index, const AnsiString& s, TObject* object) {
  Insert(index, s);
  PutObject(index, object);
}

void TStrings::Move(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  BeginUpdate();
  try {
    AnsiString s = Get(cur_index);
    TObject* o = GetObject(cur_index);
    if (new_index < 0 || new_index >= Count()) Error(kListIndexError, new_index);
    Delete(cur_index);
    InsertObject(new_index, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::LoadFromFile(const AnsiString& file_name) {
  TFileStream stream(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t size = stream.Size() - stream.Position();
  AnsiString s;
  if (size > 0) {
    s.resize(static_cast<size_t>(size));
    stream.ReadBuffer(s.data(), size);
  }
  SetText(s);
}

void TStrings::SaveToFile(const AnsiString& file_name) const {
  TFileStream stream(file_name, fmCreate);
  SaveToStream(stream);
}

void TStrings::SaveToStream(TStream& stream) const {
  AnsiString s = Text();
  stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void TStrings::Put(int32_t index, const AnsiString& s) {
  TObject* o = GetObject(index);
  Delete(index);
  InsertObject(index, s, o);
}

TObject* TStrings::GetObject(int32_t) const { return nullptr; }
void TStrings::PutObject(int32_t, TObject*) {}

AnsiString TStrings::Names(int32_t index) const {
  AnsiString s = Get(index);
  auto p = s.find(name_value_separator_);
  return p == AnsiString::npos ? AnsiString() : s.substr(0, p);
}

AnsiString TStrings::Values(const AnsiString& name) const {
  int32_t i = IndexOfName(name);
  if (i < 0) return {};
  return ValueFromIndex(i);
}

void TStrings::SetValue(const AnsiString& name, const AnsiString& value) {
  int32_t i = IndexOfName(name);
  if (i < 0 && !value.empty())
    Add(name + name_value_separator_ + value);
  else
    SetValueFromIndex(i, value);
}

AnsiString TStrings::ValueFromIndex(int32_t index) const {
  AnsiString s = Get(index);
  auto p = s.find(name_value_separator_);
  return p == AnsiString::npos ? AnsiString() : s.substr(p + 1);
}

void TStrings::SetValueFromIndex(int32_t index, const AnsiString& value) {
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  if (index < 0) {
    Add(AnsiString(1, name_value_separator_) + value);
    return;
  }
  AnsiString line = Names(index) + name_value_separator_ + value;
  const auto* list = dynamic_cast<const TStringList*>(this);
  if (list != nullptr && list->Sorted()) {
    // A sorted list cannot be written in place: the line moves to its sorted place.
    BeginUpdate();
    try {
      TObject* o = GetObject(index);
      Delete(index);
      AddObject(line, o);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  } else {
    Put(index, line);
  }
}

AnsiString TStrings::Text() const {
  AnsiString result;
  for (int32_t i = 0; i < Count(); ++i) {
    result += Get(i);
    result += "\r\n";
  }
  return result;
}

void TStrings::SetText(const AnsiString& text) {
  BeginUpdate();
  try {
    Clear();
    size_t p = 0;
    const size_t n = text.size();
    while (p < n) {
      size_t start = p;
      while (p < n && text[p] != '\r' && text[p] != '\n') ++p;
      Add(text.substr(start, p - start));
      if (p < n && text[p] == '\r') ++p;
      if (p < n && text[p] == '\n') ++p;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

AnsiString TStrings::DelimitedWith(char delimiter, char quote, bool strict) const {
  int32_t count = Count();
  if (count == 1 && Get(0).empty()) return AnsiString(2, quote);
  AnsiString result;
  for (int32_t i = 0; i < count; ++i) {
    AnsiString s = Get(i);
    bool needs_quotes = false;
    for (char c : s) {
      auto u = static_cast<unsigned char>(c);
      if (c == quote || c == delimiter || u == 0 || (!strict && u <= ' ')) {
        needs_quotes = true;
        break;
      }
    }
    if (needs_quotes) {
      AnsiString q(1, quote);
      for (char c : s) {
        q += c;
        if (c == quote) q += c;
      }
      q += quote;
      s = q;
    }
    if (i > 0) result += delimiter;
    result += s;
  }
  return result;
}

void TStrings::SetDelimitedWith(const AnsiString& text, char delimiter, char quote, bool strict) {
  BeginUpdate();
  try {
    Clear();
    const size_t n = text.size();
    size_t p = 0;
    // Blanks (NUL included) separate items unless the delimiter is strict.
    auto blank = [&](size_t i) { return static_cast<unsigned char>(text[i]) <= ' '; };
    if (!strict)
      while (p < n && blank(p)) ++p;
    while (p < n) {
      AnsiString s;
      if (text[p] == quote) {
        // A quoted item: doubled quotes stand for one; a missing closing quote takes
        // the rest of the text.
        ++p;
        while (p < n) {
          if (text[p] == quote) {
            if (p + 1 < n && text[p + 1] == quote) {
              s += quote;
              p += 2;
              continue;
            }
            ++p;
            break;
          }
          s += text[p++];
        }
      } else {
        size_t start = p;
        if (strict) {
          while (p < n && text[p] != delimiter) ++p;
        } else {
          while (p < n && static_cast<unsigned char>(text[p]) > ' ' && text[p] != delimiter) ++p;
        }
        s = text.substr(start, p - start);
      }
      Add(s);
      if (!strict)
        while (p < n && blank(p)) ++p;
      if (p < n && text[p] == delimiter) {
        if (p + 1 == n) Add(AnsiString());
        ++p;
        if (!strict)
          while (p < n && blank(p)) ++p;
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

AnsiString TStrings::CommaText() const { return DelimitedWith(',', '"', false); }
void TStrings::SetCommaText(const AnsiString& text) { SetDelimitedWith(text, ',', '"', false); }
AnsiString TStrings::DelimitedText() const {
  return DelimitedWith(delimiter_, quote_char_, strict_delimiter_);
}
void TStrings::SetDelimitedText(const AnsiString& text) {
  SetDelimitedWith(text, delimiter_, quote_char_, strict_delimiter_);
}

// ---------------------------------------------------------------------------
TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
}

void TStringList::CheckIndex(int32_t index) const {
  if (index < 0 || index >= Count()) Error(kListIndexError, index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}

int TStringList::CompareStrings(const AnsiString& s1, const AnsiString& s2) const {
  return case_sensitive_ ? AnsiCompareStr(s1, s2) : AnsiCompareText(s1, s2);
}

int32_t TStringList::Add(const AnsiString& s) { return AddObject(s, nullptr); }

int32_t TStringList::AddObject(const AnsiString& s, TObject* object) {
  int32_t result;
  if (!sorted_) {
    result = Count();
  } else if (Find(s, result)) {
    switch (duplicates_) {
      case dupIgnore:
        return result;
      case dupError:
        Error(kDuplicateString, 0);
      case dupAccept:
        break;
    }
  }
  InsertItem(result, s, object);
  return result;
}

void TStringList::InsertItem(int32_t index, const AnsiString& s, TObject* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, object});
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  items_.shrink_to_fit();
  Changed();
}

void TStringList::Delete(int32_t index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Exchange(int32_t index1, int32_t index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  ExchangeItems(index1, index2);
  Changed();
}

void TStringList::ExchangeItems(int32_t index1, int32_t index2) {
  std::swap(items_[index1], items_[index2]);
}

bool TStringList::Find(const AnsiString& s, int32_t& index) const {
  bool result = false;
  int32_t l = 0;
  int32_t h = Count() - 1;
  while (l <= h) {
    int32_t i = l + (h - l) / 2;
    int c = CompareStrings(items_[i].string, s);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        result = true;
        if (duplicates_ != dupAccept) l = i;
      }
    }
  }
  index = l;
  return result;
}

int32_t TStringList::IndexOf(const AnsiString& s) const {
  if (!sorted_) return TStrings::IndexOf(s);
  int32_t index;
  return Find(s, index) ? index : -1;
}

void TStringList::Insert(int32_t index, const AnsiString& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int32_t index, const AnsiString& s, TObject* object) {
  if (sorted_) Error(kSortedListError, 0);
  if (index < 0 || index > Count()) Error(kListIndexError, index);
  InsertItem(index, s, object);
}

void TStringList::QuickSort(int32_t l, int32_t r, const TStringListSortCompare& compare) {
  int32_t i;
  do {
    i = l;
    int32_t j = r;
    int32_t p = l + (r - l) / 2;
    do {
      while (compare(this, i, p) < 0) ++i;
      while (compare(this, j, p) > 0) --j;
      if (i <= j) {
        ExchangeItems(i, j);
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) QuickSort(l, j, compare);
    l = i;
  } while (i < r);
}

void TStringList::Sort() {
  CustomSort([](TStringList* list, int32_t a, int32_t b) {
    return list->CompareStrings(list->items_[a].string, list->items_[b].string);
  });
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
  if (sorted_ || Count() <= 1) return;
  Changing();
  QuickSort(0, Count() - 1, compare);
  Changed();
}

AnsiString TStringList::Get(int32_t index) const {
  CheckIndex(index);
  return items_[index].string;
}

void TStringList::Put(int32_t index, const AnsiString& s) {
  if (sorted_) Error(kSortedListError, 0);
  CheckIndex(index);
  Changing();
  items_[index].string = s;
  Changed();
}

TObject* TStringList::GetObject(int32_t index) const {
  CheckIndex(index);
  return items_[index].object;
}

void TStringList::PutObject(int32_t index, TObject* object) {
  CheckIndex(index);
  Changing();
  items_[index].object = object;
  Changed();
}

void TStringList::SetCapacity(int32_t capacity) {
  if (capacity < Count()) Error(kListCapacityError, capacity);
  items_.reserve(static_cast<size_t>(capacity));
}

void TStringList::Move(int32_t cur_index, int32_t new_index) {
  // Checked before anything moves, so that a sorted list loses no line.
  if (sorted_ && cur_index != new_index) Error(kSortedListError, 0);
  TStrings::Move(cur_index, new_index);
}

void TStringList::SetSorted(bool sorted) {
  if (sorted_ == sorted) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool case_sensitive) {
  if (case_sensitive_ == case_sensitive) return;
  case_sensitive_ = case_sensitive;
  if (sorted_) {
    // The order depends on the comparison: sort again so that Find stays right.
    sorted_ = false;
    Sort();
    sorted_ = true;
  }
}

// ---------------------------------------------------------------------------
bool IsValidIdent(const AnsiString& ident) {
  if (ident.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(ident[0])) return false;
  for (char c : ident)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell every linked component; each link is dropped both ways before the call, so
  // a Notification override that does not call the base leaves nothing dangling.
  while (!free_notifies_.empty()) {
    TComponent* c = free_notifies_.back();
    free_notifies_.pop_back();
    c->RemoveNotification(this);
    c->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int32_t index) const {
  if (index < 0 || index >= ComponentCount()) TList::Error(kListIndexError, index);
  return components_[index];
}

int32_t TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int32_t>(it - list.begin());
}

void TComponent::SetComponentIndex(int32_t index) {
  if (owner_ == nullptr) return;
  int32_t cur = ComponentIndex();
  if (cur < 0) return;
  auto& list = owner_->components_;
  int32_t count = static_cast<int32_t>(list.size());
  if (index < 0) index = 0;
  if (index >= count) index = count - 1;
  if (index == cur) return;
  list.erase(list.begin() + cur);
  list.insert(list.begin() + index, this);
}

void TComponent::SetName(const AnsiString& name) {
  if (name_ == name) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError("'" + name + "' is not a valid component name");
  if (owner_ != nullptr)
    owner_->ValidateRename(this, name_, name);
  else
    ValidateRename(nullptr, name_, name);
  name_ = name;
}

void TComponent::ValidateRename(TComponent* component, const AnsiString& cur_name,
                                const AnsiString& new_name) {
  // Also checked for a component being inserted (not yet owned), so that names stay
  // unique within an owner.
  if (component != nullptr && !SameText(cur_name, new_name)) {
    TComponent* found = FindComponent(new_name);
    if (found != nullptr && found != component)
      throw EComponentError("A component named " + new_name + " already exists");
  }
}

TComponent* TComponent::FindComponent(const AnsiString& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (owner_ == nullptr || component->owner_ != owner_) {
    if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end()) {
      free_notifies_.push_back(component);
      component->FreeNotification(this);
    }
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveNotification(TComponent* component) {
  auto it = std::find(free_notifies_.begin(), free_notifies_.end(), component);
  if (it != free_notifies_.end()) free_notifies_.erase(it);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  RemoveNotification(component);
  component->RemoveNotification(this);
}

void TComponent::Insert(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr) return;
  if (component->owner_ == this) return;
  // Checked before the component leaves its former owner, so a clash changes nothing.
  ValidateRename(component, AnsiString(), component->name_);
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  Insert(component);
  if (state_.Contains(csDesigning)) component->SetDesigning(true);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  Notification(component, opRemove);
  Remove(component);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    Remove(c);
    delete c;
  }
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

void TComponent::BeginLoading() {
  state_.Include(csLoading);
  state_.Include(csReading);
}

void TComponent::EndLoading() {
  state_.Exclude(csReading);
  Loaded();
}

void TComponent::SetDesigning(bool value) {
  if (value)
    state_.Include(csDesigning);
  else
    state_.Exclude(csDesigning);
  for (TComponent* c : components_) c->SetDesigning(value);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // Backwards, and tolerant of the list shrinking while components react.
  int32_t i = ComponentCount() - 1;
  while (i >= 0) {
    components_[i]->Notification(component, operation);
    --i;
    if (i >= ComponentCount()) i = ComponentCount() - 1;
  }
}

// ---------------------------------------------------------------------------
TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection_ == collection) return;
  if (collection_ != nullptr) collection_->RemoveItem(this);
  if (collection != nullptr) collection->InsertItem(this);
}

int32_t TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int32_t>(it - items.begin());
}

void TCollectionItem::SetIndex(int32_t index) {
  int32_t cur = Index();
  if (cur < 0 || cur == index) return;
  auto& items = collection_->items_;
  if (index < 0 || index >= static_cast<int32_t>(items.size())) TList::Error(kListIndexError, index);
  items.erase(items.begin() + cur);
  items.insert(items.begin() + index, this);
  Changed(true);
}

AnsiString TCollectionItem::DisplayName() const { return ClassName(); }

void TCollectionItem::SetDisplayName(const AnsiString&) { Changed(false); }

AnsiString TCollectionItem::GetNamePath() const {
  if (collection_ == nullptr) return ClassName();
  return collection_->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

void TCollectionItem::Changed(bool all_items) {
  if (collection_ != nullptr && collection_->update_count_ == 0)
    collection_->Update(all_items ? nullptr : this);
}

TPersistent* TCollectionItem::GetOwner() const { return collection_; }

TCollection::TCollection(ItemFactory item_class) : item_class_(std::move(item_class)) {}

TCollection::~TCollection() {
  update_count_ = 1;
  while (!items_.empty()) delete items_.back();
}

TCollectionItem* TCollection::Add() {
  if (!item_class_) throw EListError("Collection has no item class");
  TCollectionItem* item = item_class_(this);
  if (item != nullptr && item->collection_ != this) item->SetCollection(this);
  return item;
}

void TCollection::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TCollection*>(source)) {
    if (other == this) return;
    BeginUpdate();
    try {
      Clear();
      for (TCollectionItem* item : other->items_) Add()->Assign(item);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

void TCollection::BeginUpdate() { ++update_count_; }

void TCollection::EndUpdate() {
  if (update_count_ > 0) --update_count_;
  Changed();
}

void TCollection::Changed() {
  if (update_count_ == 0) Update(nullptr);
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  try {
    while (!items_.empty()) delete items_.back();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Delete(int32_t index) {
  TCollectionItem* item = Items(index);
  Notify(item, cnDeleting);
  delete item;
}

TCollectionItem* TCollection::FindItemID(int32_t id) const {
  for (TCollectionItem* item : items_)
    if (item->id_ == id) return item;
  return nullptr;
}

TCollectionItem* TCollection::Insert(int32_t index) {
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

TCollectionItem* TCollection::Items(int32_t index) const {
  if (index < 0 || index >= Count()) TList::Error(kListIndexError, index);
  return items_[index];
}

void TCollection::SetItems(int32_t index, TCollectionItem* value) { Items(index)->Assign(value); }

AnsiString TCollection::GetNamePath() const {
  TPersistent* owner = GetOwner();
  if (owner == nullptr) return ClassName();
  AnsiString s = owner->GetNamePath();
  if (s.empty()) return ClassName();
  return s + "." + ClassName();
}

void TCollection::Update(TCollectionItem*) {}
void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = next_id_++;
  SetItemName(item);
  Notify(item, cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, cnExtracting);
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it != items_.end()) items_.erase(it);
  item->collection_ = nullptr;
  Changed();
}

}  // namespace pelvar
