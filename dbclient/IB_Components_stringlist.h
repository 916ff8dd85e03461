// The library's name=value string lists. Most of the library's configuration lives in
// them: field attributes, key and join links, connection parameters, the schema cache.
//
// An item is Name or Name=Value. The name ends at the first "=" outside double quotes,
// so a quoted identifier may contain "="; a name may be qualified, Relation.Field, split
// at its first "." outside double quotes. A value may hold an attribute list (KEYWORD or
// KEYWORD=value entries separated by ";").
//
// Part of the IB_Components unit; dbclient/IB_Components.h includes it.
#pragma once

#include <cstdint>

#include "platform/classes.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

class TIB_StringList : public TStringList {
 public:
  TIB_StringList();
  ~TIB_StringList() override;

  // True here and in TIB_StringCache; a TIB_StringProperty drops its blank lines at
  // every change.
  bool KeepBlankLines() const { return keep_blank_lines_; }
  // Set while the list edits itself; it silences the change notifications.
  bool Editing() const { return editing_; }
  // Mirrors the framework's update state.
  bool Updating() const { return updating_; }

  // A blank item is added silently. In a sorted list an item Name=Value meets an
  // existing item of the same name by Duplicates: dupIgnore replaces that item,
  // dupError raises a plain Exception "Duplicate String Error", dupAccept adds beside.
  int32_t Add(const AnsiString& S) override;
  int32_t AddObject(const AnsiString& S, TObject* Object) override;
  // In a sorted list the item is taken out and added again with its object, so that it
  // moves to its sorted place.
  void Put(int32_t Index, const AnsiString& S) override;
  // The list's text (lines ended by CR LF); nothing for nullptr.
  using TStringList::SaveToStream;
  void SaveToStream(TStream* Stream) const;

  // The item up to its first "=" outside quotes (the whole item when it has none), and
  // the part after it (empty when there is none).
  AnsiString GetItemName(int32_t Index) const;
  AnsiString GetItemValue(int32_t Index) const;
  // An empty Name deletes the item; otherwise the item becomes Name and its old
  // "=value" part.
  void SetItemName(int32_t Index, const AnsiString& Name);
  // The item becomes its text up to and including the "=" followed by Value, or
  // item + "=" + Value when it had no "=".
  void SetItemValue(int32_t Index, const AnsiString& Value);
  // The name before / after its first "." outside quotes; the whole name for both when
  // it has no "."; empty for an Index outside the list.
  AnsiString GetItemRelation(int32_t Index) const;
  AnsiString GetItemField(int32_t Index) const;

  // Link look-ups: a name may be given qualified or not, and the list may hold it
  // qualified or not. -1 / false / nothing added when nothing matches.
  int32_t IndexOfLinkName(const AnsiString& Name) const;
  // Value of the link; an empty value counts as not found (false).
  bool GetLinkValue(const AnsiString& Name, AnsiString& Value) const;
  // Replaces the value of the link (of every Relation.Name item when an unqualified
  // Name is held only qualified); adds Name=Value when nothing matches.
  void SetLinkValue(const AnsiString& Name, const AnsiString& Value);

  // Attributes in the item's value (true when the attribute is present).
  bool GetItemAttributeValue(int32_t Index, const AnsiString& Attr, AnsiString& Value) const;
  bool HasItemAttribute(int32_t Index, const AnsiString& Attr) const;
  bool GetLinkAttributeValue(const AnsiString& Name, const AnsiString& Attr,
                             AnsiString& Value) const;
  bool HasLinkAttribute(const AnsiString& Name, const AnsiString& Attr) const;
  // Adds or removes the attribute flag in the link's value; writes the value back only
  // when its text changed.
  void SetLinkAttribute(const AnsiString& Name, const AnsiString& Attr, bool Present);

  // Binary search by name, case aside, in a sorted list (a plain Exception "Pro tuto
  // operaci musí být StringList setříděn" otherwise). Only items Name=... are found.
  // Index is -1 when nothing is found.
  bool FindName(const AnsiString& Name, int32_t& Index) const;
  bool FindValue(const AnsiString& Name, AnsiString& Value) const;

  // Deletes the items that are blank after trimming.
  void RemoveBlankLines();
  // Deletes blank items and items Name= with no value.
  void RemoveEmptyValues();
  // Clears the list and adds the pieces of Text between commas outside double quotes,
  // trimmed (empty pieces included, quotes kept).
  void SetCommaList(const AnsiString& Text);

 protected:
  void Changing() override;
  void Changed() override;
  void SetUpdateState(bool Updating) override;

  bool keep_blank_lines_ = true;

 private:
  // Index by name (FindName when sorted, else IndexOfName), else the whole item.
  int32_t IndexOfNameOrItem(const AnsiString& Name) const;
  bool editing_ = false;
  bool updating_ = false;
};

// The list of published list properties: blank lines go at the next change.
class TIB_StringProperty : public TIB_StringList {
 public:
  TIB_StringProperty();
};

// Always sorted.
class TIB_StringCache : public TIB_StringList {
 public:
  TIB_StringCache();
};

// The position (1-based) of the first "=" / "." outside double quotes; 0 when none.
int32_t IB_NameEnd(const AnsiString& Item);
int32_t IB_RelationEnd(const AnsiString& Name);

}  // namespace pelvar
