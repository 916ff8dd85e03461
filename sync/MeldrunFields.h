// Small field helpers that the play-in's table rules share.
#pragma once

#include "platform/db.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar::play {

// Whether the field is the named column (names compare as the server does, without case).
inline bool Is(TField* field, const AnsiString& name) { return AnsiSameText(field->FieldName(), name); }

// The field's text without trailing blanks; "" for Null.
inline AnsiString Str(TDataSet* d, const char* field) {
  TField* f = d->FieldByName(field);
  return f->IsNull() ? AnsiString() : Trim(f->AsString());
}

// A date of a natural key as "dd.mm.yyyy"; "" for Null or a field the table lacks.
inline AnsiString DayText(TDataSet* d, const char* field) {
  TField* f = d->FindField(field);
  return f == nullptr || f->IsNull() ? AnsiString() : FormatDateTime("dd.mm.yyyy", f->AsDateTime());
}

}  // namespace pelvar::play
