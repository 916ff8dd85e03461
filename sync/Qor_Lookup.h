// Small classes of the maker's library that the copy engine and the play-in rest on: a
// keyed look-up over a query of its own (does a row with this key exist in the database,
// and what are its values), a list of named Variant values, a memory stream read and
// written line by line, and a tagged text file on top of it.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "dbadapters/REZDatabase.h"
#include "dbadapters/REZDataset.h"
#include "platform/classes.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "platform/variant.h"

namespace pelvar {

// One named value: the entry of TVariants, of the look-up cache and of the copy engine's
// field plan.
struct TNamedValue : public TObject {
  int32_t Kind = 0;
  Variant Value;
};

// Tells whether a row with a given key exists in a database and gives that row's values.
// The query reads in a transaction of its own, read committed; once opened it keeps its
// result until Close (rows written meanwhile are not seen), and after Close the next
// opening sees everything committed since.
class TQorLookupList {
 public:
  // The query is bound by the connection's database name; the transaction to the
  // connection.
  explicit TQorLookupList(TIB_Connection* connection);
  ~TQorLookupList();
  TQorLookupList(const TQorLookupList&) = delete;
  TQorLookupList& operator=(const TQorLookupList&) = delete;

  // Adds the SQL text as a line to the query and prepares it; key_field names the key
  // column of the result (compared exactly, case counts). Close clears the SQL again.
  void SetQuery(const AnsiString& key_field, const AnsiString& sql);
  // True when a row whose key column, as text, equals key exactly; its row becomes the
  // current one. Opens the query when it is closed. A key column that the result lacks
  // raises.
  bool Find(const AnsiString& key);
  // The value of the column at index (0-based, query order) of the current row; raises
  // "Nebyl nalezen aktuální záznam..." when no row is current.
  Variant GetValue(int32_t index) const;
  // Commits the list's transaction when it was started.
  void EndTransaction();
  // Frees the cached row, closes the query, commits its transaction when started and
  // clears the SQL.
  void Close();

  // Steps of Find: loads the row of key (if any) into the cache, emptied first. The
  // first lookup after the query opens indexes its rows by key text (the first row of a
  // key wins), so that each later lookup is one probe instead of a pass over the result.
  void LoadKey(const AnsiString& key);
  void ClearCache();

  const AnsiString& KeyFieldName() const { return key_field_name_; }
  TStringList& KeyList() { return *key_list_; }
  TStringList& ColumnNames() { return *column_names_; }
  TREZQuery* Query() const { return query_.get(); }
  TREZTransaction* QueryTransaction() const { return query_transaction_.get(); }
  int32_t CurrentIndex() const { return current_index_; }

 private:
  AnsiString key_field_name_;
  std::unique_ptr<TStringList> key_list_;
  std::unique_ptr<TStringList> column_names_;
  std::unique_ptr<TREZTransaction> query_transaction_;
  std::unique_ptr<TREZQuery> query_;
  int32_t current_index_ = -1;
  // The column values of the first row of each key text, for the query as it is open now.
  std::unordered_map<AnsiString, Variant> rows_by_key_;
  bool indexed_ = false;
};

// A list of named Variant values; names need not be unique, look-ups ignore case and
// find the first. Null and Unassigned stay what they are (a Null is no empty text).
class TVariants {
 public:
  TVariants() = default;
  ~TVariants() { Clear(); }
  TVariants(const TVariants&) = delete;
  TVariants& operator=(const TVariants&) = delete;

  void Add(const AnsiString& name, const Variant& value);
  void Clear();
  int32_t IndexOf(const AnsiString& name) const;
  AnsiString GetName(int32_t index) const;
  Variant GetValue(int32_t index) const;
  int32_t GetCount() const { return list_.Count(); }

 private:
  TNamedValue& Entry(int32_t index) const;
  TStringList list_;
};

// A memory stream read and written as text lines.
class TTextMemoryStream : public TMemoryStream {
 public:
  // Reads from the position up to the delimiter (consumed, not stored) or the end;
  // bytes below 32 are dropped. A delimiter of more than one character never matches.
  void ReadTo(const AnsiString& delimiter, AnsiString& text);
  // ReadTo CR, then one more byte (the LF of CR LF) is dropped.
  void ReadLine(AnsiString& text);
  void WriteString(const AnsiString& text);
  // The text and CR LF.
  void WriteLine(const AnsiString& text);
};

// A text file of tagged lines: each line may start with one of TagNames.
class TAsciTable : public TTextMemoryStream {
 public:
  enum TMode : uint8_t { amLoadSave = 0, amLoad = 1, amSave = 2 };

  TAsciTable() = default;

  AnsiString Delimiter;
  AnsiString FileName;
  bool AtEnd = false;
  uint8_t Mode = amLoadSave;
  TVariants& TagNames() { return tag_names_; }
  int32_t TagWidth = 0;
  int32_t CurrentTag = 0;
  AnsiString CurrentLine;

  // TagWidth from the longest tag name; in the loading modes the file is loaded and its
  // first line read.
  void Open();
  // In the saving modes the stream is saved to FileName.
  void Close();
  // Reads the next line into CurrentLine (AtEnd when it is empty) and returns its tag:
  // the first tag name, in list order, found within the line's first TagWidth
  // characters (its index in CurrentTag); empty when none is found.
  AnsiString ReadTaggedLine();

 private:
  TVariants tag_names_;
};

}  // namespace pelvar
