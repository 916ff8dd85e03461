// The framework's basic classes: the object root, the pointer list, string lists,
// persistent objects, components with ownership and free notification, collections.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

// ---------------------------------------------------------------------------
// A small set of enumeration values (the framework's "set of" types). E must be an
// unscoped or scoped enum whose values are below 64.
template <typename E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TEnumSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TEnumSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint64_t Bits() const { return bits_; }
  constexpr TEnumSet operator+(TEnumSet o) const { return FromBits(bits_ | o.bits_); }
  constexpr TEnumSet operator-(TEnumSet o) const { return FromBits(bits_ & ~o.bits_); }
  constexpr TEnumSet operator*(TEnumSet o) const { return FromBits(bits_ & o.bits_); }
  constexpr bool operator==(const TEnumSet&) const = default;
  static constexpr TEnumSet FromBits(uint64_t bits) {
    TEnumSet s;
    s.bits_ = bits;
    return s;
  }

 private:
  static constexpr uint64_t Bit(E e) { return uint64_t{1} << static_cast<unsigned>(e); }
  uint64_t bits_ = 0;
};

// ---------------------------------------------------------------------------
// The root of the class tree. Objects are reference objects: not copyable.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  // The class's own name without namespace ("TStringList").
  AnsiString ClassName() const;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

// ---------------------------------------------------------------------------
enum TListNotification { lnAdded, lnExtracted, lnDeleted };
// Returns < 0, 0, > 0 as item1 sorts before, with, after item2.
using TListSortCompare = std::function<int(void* item1, void* item2)>;

// A list of untyped pointers. Indexes out of range raise EListError.
// ~TList clears with TList's own Clear and Notify (C++ does not dispatch to a derived
// class from a base destructor): a derived list that owns its items, or overrides
// Notify, calls Clear() in its own destructor.
class TList : public TObject {
 public:
  TList() = default;
  ~TList() override;

  int32_t Add(void* item);
  virtual void Clear();
  void Delete(int32_t index);
  void Exchange(int32_t index1, int32_t index2);
  TList* Expand();
  // Removes item (its first occurrence) without deleting; returns it or nullptr.
  void* Extract(void* item);
  void* First() const;
  void* Last() const;
  int32_t IndexOf(const void* item) const;
  void Insert(int32_t index, void* item);
  void Move(int32_t cur_index, int32_t new_index);
  // Deletes the first occurrence of item; returns its former index or -1.
  int32_t Remove(const void* item);
  // Removes every nil entry.
  void Pack();
  void Sort(const TListSortCompare& compare);
  // Replaces the content with source's.
  void Assign(const TList& source);

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  void SetCount(int32_t count);
  int32_t Capacity() const { return capacity_; }
  void SetCapacity(int32_t capacity);
  void* Items(int32_t index) const { return Get(index); }
  void SetItems(int32_t index, void* item) { Put(index, item); }
  void* Get(int32_t index) const;
  void Put(int32_t index, void* item);
  void* const* List() const { return items_.data(); }

  // Raises EListError with the message formatted with data ("%d").
  [[noreturn]] static void Error(const AnsiString& msg, int64_t data);

 protected:
  // Called after an item is added and before it is extracted or deleted (not for nil).
  virtual void Notify(void* ptr, TListNotification action);
  virtual void Grow();

 private:
  void CheckIndex(int32_t index) const;
  std::vector<void*> items_;
  int32_t capacity_ = 0;
};

// ---------------------------------------------------------------------------
// The reader or writer of the binary component streaming and the table of published
// properties it streams (platform/filer.h).
class TFiler;
class TReader;
class TWriter;
class TPublishedProperties;

class TPersistent : public TObject {
 public:
  // Copies source into this object by asking source to AssignTo this; raises
  // EConvertError "Cannot assign a X to a Y" when neither side knows how.
  virtual void Assign(TPersistent* source);
  virtual AnsiString GetNamePath() const;
  // Lists the published properties that the component streaming writes and reads; the
  // base publishes none.
  virtual void DefinePublished(TPublishedProperties&) {}

 protected:
  friend class TReader;
  friend class TWriter;
  // Declares data streamed beside the published properties; the base declares none.
  virtual void DefineProperties(TFiler*) {}
  virtual void AssignTo(TPersistent* dest);
  virtual TPersistent* GetOwner() const { return nullptr; }
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

// ---------------------------------------------------------------------------
// An ordered list of strings, each with an associated object (not owned).
class TStrings : public TPersistent {
 public:
  TStrings() = default;
  ~TStrings() override = default;

  virtual int32_t Add(const AnsiString& s);
  virtual int32_t AddObject(const AnsiString& s, TObject* object);
  void Append(const AnsiString& s) { Add(s); }
  virtual void AddStrings(const TStrings* strings);
  void Assign(TPersistent* source) override;
  void BeginUpdate();
  void EndUpdate();
  virtual void Clear() = 0;
  virtual void Delete(int32_t index) = 0;
  virtual void Exchange(int32_t index1, int32_t index2);
  // Same count and the same strings, compared exactly.
  bool Equals(const TStrings* strings) const;
  virtual int32_t IndexOf(const AnsiString& s) const;
  virtual int32_t IndexOfName(const AnsiString& name) const;
  int32_t IndexOfObject(const TObject* object) const;
  virtual void Insert(int32_t index, const AnsiString& s) = 0;
  virtual void InsertObject(int32_t index, const AnsiString& s, TObject* object);
  virtual void Move(int32_t cur_index, int32_t new_index);
  virtual void LoadFromFile(const AnsiString& file_name);
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToFile(const AnsiString& file_name) const;
  virtual void SaveToStream(TStream& stream) const;

  virtual int32_t Count() const = 0;
  virtual AnsiString Get(int32_t index) const = 0;
  virtual void Put(int32_t index, const AnsiString& s);
  virtual TObject* GetObject(int32_t index) const;
  virtual void PutObject(int32_t index, TObject* object);
  virtual int32_t Capacity() const { return Count(); }
  virtual void SetCapacity(int32_t) {}

  AnsiString Strings(int32_t index) const { return Get(index); }
  void SetStrings(int32_t index, const AnsiString& s) { Put(index, s); }
  TObject* Objects(int32_t index) const { return GetObject(index); }
  void SetObjects(int32_t index, TObject* object) { PutObject(index, object); }

  // name=value lines. Names(i) is empty for a line without the separator.
  AnsiString Names(int32_t index) const;
  AnsiString Values(const AnsiString& name) const;
  // Sets the value of name (adding the line when missing); an empty value deletes
  // the line.
  void SetValue(const AnsiString& name, const AnsiString& value);
  void SetValues(const AnsiString& name, const AnsiString& value) { SetValue(name, value); }
  AnsiString ValueFromIndex(int32_t index) const;
  void SetValueFromIndex(int32_t index, const AnsiString& value);
  char NameValueSeparator() const { return name_value_separator_; }
  void SetNameValueSeparator(char c) { name_value_separator_ = c; }

  // Each line followed by CR LF. SetText splits at CR LF, CR or LF.
  virtual AnsiString Text() const;
  virtual void SetText(const AnsiString& text);
  // Delimited with ',' and '"'; items with spaces, control characters, quotes or
  // commas are quoted, quotes doubled.
  AnsiString CommaText() const;
  void SetCommaText(const AnsiString& text);
  AnsiString DelimitedText() const;
  void SetDelimitedText(const AnsiString& text);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char c) { delimiter_ = c; }
  char QuoteChar() const { return quote_char_; }
  void SetQuoteChar(char c) { quote_char_ = c; }
  // When set, only the delimiter separates items (spaces are data).
  bool StrictDelimiter() const { return strict_delimiter_; }
  void SetStrictDelimiter(bool v) { strict_delimiter_ = v; }

  int32_t UpdateCount() const { return update_count_; }

 protected:
  // Called with true by the outermost BeginUpdate, with false by the matching EndUpdate.
  virtual void SetUpdateState(bool updating);
  // The comparison of IndexOf and IndexOfName: Windows-1250 case-insensitive.
  virtual int CompareStrings(const AnsiString& s1, const AnsiString& s2) const;
  [[noreturn]] static void Error(const AnsiString& msg, int64_t data);

 private:
  AnsiString DelimitedWith(char delimiter, char quote, bool strict) const;
  void SetDelimitedWith(const AnsiString& text, char delimiter, char quote, bool strict);

  int32_t update_count_ = 0;
  char name_value_separator_ = '=';
  char delimiter_ = ',';
  char quote_char_ = '"';
  bool strict_delimiter_ = false;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList;
// Compares the items at index1 and index2 of list.
using TStringListSortCompare = std::function<int(TStringList* list, int32_t index1, int32_t index2)>;

class TStringList : public TStrings {
 public:
  TStringList() = default;
  ~TStringList() override;

  int32_t Add(const AnsiString& s) override;
  int32_t AddObject(const AnsiString& s, TObject* object) override;
  void Clear() override;
  void Delete(int32_t index) override;
  void Exchange(int32_t index1, int32_t index2) override;
  // Binary search of a sorted list with the list's own comparison; index receives the
  // first match or the insertion point.
  virtual bool Find(const AnsiString& s, int32_t& index) const;
  int32_t IndexOf(const AnsiString& s) const override;
  void Insert(int32_t index, const AnsiString& s) override;
  void InsertObject(int32_t index, const AnsiString& s, TObject* object) override;
  virtual void Sort();
  virtual void CustomSort(const TStringListSortCompare& compare);

  int32_t Count() const override { return static_cast<int32_t>(items_.size()); }
  AnsiString Get(int32_t index) const override;
  void Put(int32_t index, const AnsiString& s) override;
  TObject* GetObject(int32_t index) const override;
  void PutObject(int32_t index, TObject* object) override;
  int32_t Capacity() const override { return static_cast<int32_t>(items_.capacity()); }
  void SetCapacity(int32_t capacity) override;
  void Move(int32_t cur_index, int32_t new_index) override;

  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool case_sensitive);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  // AnsiCompareStr when CaseSensitive, AnsiCompareText otherwise.
  int CompareStrings(const AnsiString& s1, const AnsiString& s2) const override;
  virtual void InsertItem(int32_t index, const AnsiString& s, TObject* object);

 private:
  struct Item {
    AnsiString string;
    TObject* object = nullptr;
  };
  void CheckIndex(int32_t index) const;
  void ExchangeItems(int32_t index1, int32_t index2);
  void QuickSort(int32_t l, int32_t r, const TStringListSortCompare& compare);

  std::vector<Item> items_;
  TDuplicates duplicates_ = dupIgnore;
  bool sorted_ = false;
  bool case_sensitive_ = false;
};

// ---------------------------------------------------------------------------
enum TOperation { opInsert, opRemove };
enum TComponentStateFlag {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
using TComponentState = TEnumSet<TComponentStateFlag>;

// A component: owned by its owner (which destroys it), owner of the components created
// with it as owner, named, and told through Notification(c, opRemove) when a component
// it asked FreeNotification of goes away.
//
// Deleting a component deletes what it owns, tells every component linked by
// FreeNotification, and takes it out of its owner's list (the owner and its other
// components get Notification(c, opRemove)). csDestroying is set on the component and
// everything it owns before any owned component is destroyed; a derived destructor that
// needs the flag for its own code calls Destroying() first.
//
// A component with an owner is deleted by its owner (never hold it in a unique_ptr
// too); a component without one is held by its creator. Deleting an owned component
// directly is fine: it leaves its owner's list. Moving a component to another owner
// (InsertComponent) takes it out of the former owner's list first.
//
// Note for C++: the owner's Notification(c, opInsert) is called from the TComponent
// constructor, so at that moment c is not yet of its derived type.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const AnsiString& Name() const { return name_; }
  // Raises EComponentError for a name that is not an identifier or is already used
  // by another component of the same owner (compared case-insensitively).
  virtual void SetName(const AnsiString& name);
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }

  int32_t ComponentCount() const { return static_cast<int32_t>(components_.size()); }
  TComponent* Components(int32_t index) const;
  int32_t ComponentIndex() const;
  void SetComponentIndex(int32_t index);
  TComponentState ComponentState() const { return state_; }
  // An owned component of that name (case-insensitive) or nullptr.
  TComponent* FindComponent(const AnsiString& name) const;

  // Asks this component to tell `component` (Notification(this, opRemove)) when this
  // component is destroyed; the link works both ways. Components of one owner need no
  // link: the owner passes notifications on to all it owns.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void DestroyComponents();
  // Sets csDestroying on this component and all it owns.
  void Destroying();

  // Called after loading: clears csLoading. Overrides call the base.
  virtual void Loaded();
  // For code that builds components the way a form loader does: BeginLoading sets
  // csLoading and csReading on this component; EndLoading clears csReading and calls
  // Loaded.
  void BeginLoading();
  void EndLoading();
  // Sets or clears csDesigning here and on all owned components.
  void SetDesigning(bool value);

  // Passes the notification on to every owned component; on opRemove it first drops
  // the free-notification link to component. Overrides call the base.
  virtual void Notification(TComponent* component, TOperation operation);

  AnsiString GetNamePath() const override { return name_; }

  // The components streamed as this one's children (component streaming); none in the base.
  virtual void GetChildren(const std::function<void(TComponent*)>& /*proc*/, TComponent* /*root*/) {}

 protected:
  virtual void ValidateRename(TComponent* component, const AnsiString& cur_name,
                              const AnsiString& new_name);
  void IncludeState(TComponentStateFlag f) { state_.Include(f); }
  void ExcludeState(TComponentStateFlag f) { state_.Exclude(f); }

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void RemoveNotification(TComponent* component);

  TComponent* owner_ = nullptr;
  AnsiString name_;
  intptr_t tag_ = 0;
  TComponentState state_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
};

// True for a non-empty ASCII identifier (letter or '_', then letters, digits, '_').
bool IsValidIdent(const AnsiString& ident);

// ---------------------------------------------------------------------------
class TCollection;

// An item of a collection; it belongs to (and is destroyed by) its collection.
class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  TCollection* Collection() const { return collection_; }
  // Moves the item to another collection (nullptr: takes it out of any).
  virtual void SetCollection(TCollection* collection);
  int32_t ID() const { return id_; }
  int32_t Index() const;
  virtual void SetIndex(int32_t index);
  virtual AnsiString DisplayName() const;
  virtual void SetDisplayName(const AnsiString& value);
  AnsiString GetNamePath() const override;

 protected:
  // Tells the collection that this item (all_items: every item) changed.
  void Changed(bool all_items);
  TPersistent* GetOwner() const override;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int32_t id_ = 0;
};

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// A list of items made by the item factory (the framework's item class).
class TCollection : public TPersistent {
 public:
  using ItemFactory = std::function<TCollectionItem*(TCollection* collection)>;
  explicit TCollection(ItemFactory item_class);
  ~TCollection() override;

  // The factory of items of type T (T's constructor takes the collection).
  template <typename T>
  static ItemFactory ItemClass() {
    return [](TCollection* c) -> TCollectionItem* { return new T(c); };
  }

  TCollectionItem* Add();
  // Replaces the items by new items assigned from source's (a TCollection).
  void Assign(TPersistent* source) override;
  virtual void BeginUpdate();
  virtual void EndUpdate();
  void Clear();
  void Delete(int32_t index);
  TCollectionItem* FindItemID(int32_t id) const;
  TCollectionItem* Insert(int32_t index);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TCollectionItem* Items(int32_t index) const;
  // Assigns value to the item at index.
  void SetItems(int32_t index, TCollectionItem* value);
  AnsiString GetNamePath() const override;
  int32_t UpdateCount() const { return update_count_; }

 protected:
  // item nullptr: everything changed. Called when not inside BeginUpdate/EndUpdate.
  virtual void Update(TCollectionItem* item);
  virtual void Notify(TCollectionItem* item, TCollectionNotification action);
  virtual void SetItemName(TCollectionItem*) {}
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  ItemFactory item_class_;
  std::vector<TCollectionItem*> items_;
  int32_t next_id_ = 0;
  int32_t update_count_ = 0;
};

// A collection with an owner (for GetNamePath and GetOwner).
class TOwnedCollection : public TCollection {
 public:
  TOwnedCollection(TPersistent* owner, ItemFactory item_class)
      : TCollection(std::move(item_class)), owner_(owner) {}

 protected:
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
};

}  // namespace pelvar
