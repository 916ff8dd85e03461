// Column display settings: labels, widths, edit masks, and the setters that write a
// changed setting back into the statement's Fields lists.
#include <algorithm>

#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_Parse.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// "-" shows nothing, "/-" shows a dash; anything else is the label itself.
bool DecodeLabel(const AnsiString& Label, AnsiString& Text) {
  if (Label.empty()) return false;
  if (Label == "-") {
    Text.clear();
  } else if (Label == "/-") {
    Text = "-";
  } else {
    Text = Label;
  }
  return true;
}

AnsiString EncodeLabel(const AnsiString& Label) {
  if (Label.empty()) return "-";
  if (Label == "-") return "/-";
  return Label;
}

// Replaces every occurrence of Pattern, any case, by Replacement.
AnsiString ReplaceAnyCase(const AnsiString& Text, const AnsiString& Pattern,
                          const AnsiString& Replacement) {
  return StringReplace(Text, Pattern, Replacement, TReplaceFlags{rfReplaceAll, rfIgnoreCase});
}

// Removes the first occurrence of Part from Text; false when there is none.
void RemoveFirst(AnsiString& Text, const AnsiString& Part) {
  const size_t at = Text.find(Part);
  if (at != AnsiString::npos) Text.erase(at, Part.size());
}

}  // namespace

bool TIB_RowOwner::ColumnIsAttributeSet(const TIB_Column* Column,
                                        const AnsiString& Keyword) const {
  AnsiString value;
  return GetColumnAttribute(Column, Keyword, value);
}

// --- Labels and widths ---------------------------------------------------------------------

AnsiString TIB_Column::GetDisplayLabel() const {
  AnsiString text;
  if (DecodeLabel(DisplayLabel, text)) return text;
  const AnsiString alias = GetAliasName();
  if (IsQuoted(alias, '"')) return StripQuotes(alias);
  return StringReplace(alias, "_", " ", TReplaceFlags{rfReplaceAll});
}

AnsiString TIB_Column::GetGridDisplayLabel() const {
  AnsiString text;
  if (DecodeLabel(GridLabel, text)) return text;
  return GetDisplayLabel();
}

AnsiString TIB_Column::GetGridDisplayName() const {
  AnsiString text;
  if (DecodeLabel(GridLabel, text)) return text;
  return GetDisplayName();
}

int32_t TIB_Column::CalcWidth(bool ForGrid) {
  const AnsiString name = ForGrid ? GetGridDisplayName() : GetDisplayName();
  const auto name_len = static_cast<int32_t>(Trim(name).size());
  const int16_t t = BaseType();
  const int32_t data_len =
      (t == SQL_TIMESTAMP || t == SQL_QUAD || t == SQL_INT64) ? 16 : GetSQLLen();
  return std::clamp(8 * std::max(name_len, data_len), 70, 200);
}

int32_t TIB_Column::GetDisplayWidth() { return DisplayWidth >= 0 ? DisplayWidth : CalcWidth(true); }

// --- Edit mask ----------------------------------------------------------------------------------

AnsiString TIB_Column::GetEditMask() const {
  const TFormatSettings& fs = FormatSettings();
  if (!EditMask.empty()) {
    AnsiString mask = ReplaceAnyCase(EditMask, "%d", AnsiString(1, fs.DateSeparator));
    return ReplaceAnyCase(mask, "%t", AnsiString(1, fs.TimeSeparator));
  }
  if (!IsDateTime) return {};
  if (GetDateOnly()) {
    const AnsiString sep(1, fs.DateSeparator);
    AnsiString rest = AnsiUpperCase(date_format_);
    RemoveFirst(rest, "DD" + sep);
    RemoveFirst(rest, "D" + sep);
    RemoveFirst(rest, "MM" + sep);
    RemoveFirst(rest, "M" + sep);
    RemoveFirst(rest, "YY");
    RemoveFirst(rest, "YY");
    if (rest.empty()) return "!99" + sep + "99" + sep + "9999;1; ";
    return {};
  }
  if (GetTimeOnly()) {
    const AnsiString sep(1, fs.TimeSeparator);
    return "!99" + sep + "99" + sep + "99;1; ";
  }
  return {};
}

// --- Setters --------------------------------------------------------------------------------------

namespace {

// Writes Value as the column's entry of list Which of its statement; without such a list
// the column takes the setting itself through Apply.
template <class ApplyFn>
void WriteSetting(TIB_Column* Column, int32_t Which, const AnsiString& Value, ApplyFn Apply) {
  TIB_RowOwner* owner = Column->Row()->Statement();
  TIB_StringList* list = owner->ColumnPropertyList(Which);
  if (list == nullptr) {
    Apply();
    return;
  }
  owner->SetColumnListValue(Column, list, Value);
}

const char* const kTrimmingNames[] = {"NONE",  "CNONE",  "ALL",   "CALL",     "BOTH",
                                      "CBOTH", "LEFT",   "CLEFT", "RIGHT",    "CRIGHT",
                                      "SENTENCE", "CSENTENCE"};

}  // namespace

void TIB_Column::SetAlignment(uint8_t Value) {
  if (Value == Alignment) return;
  static const char* const names[] = {"LEFT", "RIGHT", "CENTER"};
  WriteSetting(this, clAlignment, names[std::min<uint8_t>(Value, 2)], [&] { Alignment = Value; });
}

void TIB_Column::SetCharCase(TIB_CharCase Value) {
  if (Value == CharCase) return;
  const char* text = Value == ccUpper ? "UPPER" : Value == ccLower ? "LOWER"
                   : Value == ccProper ? "PROPER" : "NORMAL";
  WriteSetting(this, clCharCase, text, [&] { CharCase = Value; });
}

void TIB_Column::SetDisplayFormat(const AnsiString& Value) {
  if (Value == DisplayFormat) return;
  WriteSetting(this, clDisplayFormat, Value, [&] { DisplayFormat = Value; });
}

void TIB_Column::SetDisplayLabel(const AnsiString& Value) {
  const AnsiString encoded = EncodeLabel(Value);
  if (encoded == DisplayLabel) return;
  WriteSetting(this, clDisplayLabel, encoded, [&] { DisplayLabel = encoded; });
}

void TIB_Column::SetGridDisplayLabel(const AnsiString& Value) {
  const AnsiString encoded = EncodeLabel(Value);
  if (encoded == GridLabel) return;
  WriteSetting(this, clGridLabel, encoded, [&] { GridLabel = encoded; });
}

void TIB_Column::SetGridTitleHint(const AnsiString& Value) {
  if (Value == GridTitleHint) return;
  WriteSetting(this, clGridTitleHint, Value, [&] { GridTitleHint = Value; });
}

void TIB_Column::SetDisplayWidth(int32_t Value) {
  if (Value == DisplayWidth) return;
  if (Value == GetDefaultWidth()) {
    // The default width is no setting of its own: the entry goes.
    WriteSetting(this, clDisplayWidth, AnsiString(), [] {});
    DisplayWidth = -1;
    return;
  }
  WriteSetting(this, clDisplayWidth, IntToStr(static_cast<int64_t>(Value)),
               [&] { DisplayWidth = Value; });
}

void TIB_Column::SetEditMask(const AnsiString& Value) {
  if (Value == EditMask) return;
  WriteSetting(this, clEditMask, Value, [&] { EditMask = Value; });
}

void TIB_Column::SetTrimming(TIB_ColumnTrimming Value) {
  if (Value == Trimming) return;
  // The column takes the mode at once; the statement writes its list without applying
  // the lists again.
  Trimming = Value;
  WriteSetting(this, clTrimming, kTrimmingNames[Value], [] {});
}

void TIB_Column::SetVisible(bool Value) {
  if (Value == Visible) return;
  WriteSetting(this, clVisible, Value ? AnsiString() : AnsiString("FALSE"),
               [&] { Visible = Value; });
}

void TIB_Column::SetIndex(int32_t Position) {
  const int32_t count = row_->ColumnCount();
  if (count == 0) return;
  Position = std::clamp(Position, 0, count - 1);
  const int32_t current = GetIndex();
  if (current < 0 || current == Position) return;
  auto& cols = row_->columns_;
  std::unique_ptr<TIB_Column> self = std::move(cols[static_cast<size_t>(current)]);
  cols.erase(cols.begin() + current);
  cols.insert(cols.begin() + Position, std::move(self));
  if (row_->RowType() == rtFields && row_->Statement()->GetLayoutLevel() == 0) {
    row_->Statement()->ColumnIndexChanged();
  }
}

}  // namespace pelvar
