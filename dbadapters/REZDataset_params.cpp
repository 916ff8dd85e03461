#include "dbadapters/REZDataset_params.h"

#include <cmath>
#include <memory>

#include "dbclient/IB_Header.h"
#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_Parse.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

bool HasPrefix(const AnsiString& Name, const char* Prefix) {
  return AnsiSameText(Name.substr(0, std::char_traits<char>::length(Prefix)), Prefix);
}

int32_t IndexOfName(const std::vector<std::unique_ptr<TParam>>& List, const AnsiString& Name,
                    size_t Before) {
  for (size_t i = 0; i < Before && i < List.size(); ++i)
    if (AnsiSameText(List[i]->Name(), Name)) return static_cast<int32_t>(i);
  return -1;
}

}  // namespace

std::vector<AnsiString> REZParseParamNames(const AnsiString& SQL) {
  std::vector<AnsiString> names;
  AnsiString server_sql;
  int32_t comment_chars = 0;
  ParseSQLParams(SQL, &names, nullptr, server_sql, ':', false, comment_chars, false);
  return names;
}

bool REZMergeParams(TParams& Params, const std::vector<AnsiString>& Names,
                    int32_t StatementParamCount, bool WithOutputs,
                    const std::vector<AnsiString>& OutputNames) {
  std::vector<std::unique_ptr<TParam>> fresh;
  for (const AnsiString& n : Names) {
    auto p = std::make_unique<TParam>(nullptr, ptInput);
    p->SetName(n);
    fresh.push_back(std::move(p));
  }
  for (size_t i = fresh.size(); i-- > 0;) {
    const AnsiString& n = fresh[i]->Name();
    if (HasPrefix(n, "RBEG_") || HasPrefix(n, "REND_") || HasPrefix(n, "OLNK_")) {
      fresh.erase(fresh.begin() + static_cast<ptrdiff_t>(i));
    } else if (static_cast<int32_t>(fresh.size()) != StatementParamCount &&
               IndexOfName(fresh, n, i) >= 0) {
      fresh.erase(fresh.begin() + static_cast<ptrdiff_t>(i));
    }
  }
  bool outputs = false;
  if (WithOutputs) {
    for (const AnsiString& f : OutputNames) {
      const int32_t at = IndexOfName(fresh, f, fresh.size());
      if (at >= 0) {
        if (fresh[static_cast<size_t>(at)]->ParamType() == ptInput)
          fresh[static_cast<size_t>(at)]->SetParamType(ptInputOutput);
      } else if (Params.FindParam(f) == nullptr) {
        auto p = std::make_unique<TParam>(nullptr, ptOutput);
        p->SetName(f);
        fresh.push_back(std::move(p));
      }
    }
    outputs = true;
  }
  Params.BeginUpdate();
  try {
    const int32_t n = static_cast<int32_t>(fresh.size());
    for (int32_t i = 0; i < n; ++i) {
      TParam* p = fresh[static_cast<size_t>(i)].get();
      // The kept parameter of that name among those not placed yet (a repeated name
      // finds its own one, not the one placed before).
      int32_t at = -1;
      for (int32_t k = i; k < Params.Count() && at < 0; ++k)
        if (AnsiSameText(Params.Items(k)->Name(), p->Name())) at = k;
      if (at < 0) {
        Params.Insert(i, std::move(fresh[static_cast<size_t>(i)]));
        continue;
      }
      if (at != i) Params.Move(at, i);
      TParam* kept = Params.Items(i);
      if (!outputs && kept->ParamType() == ptInputOutput) kept->SetParamType(ptInput);
    }
    int32_t kept = 0;
    while (Params.Count() > n + kept) {
      TParam* last = Params.Items(Params.Count() - 1 - kept);
      if (last->ParamType() == ptOutput) {
        ++kept;
      } else if (last->ParamType() == ptInputOutput) {
        last->SetParamType(ptOutput);
        ++kept;
      } else {
        Params.Delete(Params.Count() - 1 - kept);
      }
    }
  } catch (...) {
    Params.EndUpdate();
    throw;
  }
  Params.EndUpdate();
  return outputs;
}

void REZAssignParamToColumn(const TParam* Param, TIB_Column* Column) {
  if (Param->IsNull()) {
    if (!Column->GetIsNull()) Column->SetIsNull(true);
  } else {
    switch (Param->DataType()) {
      case ftString: case ftBlob: case ftMemo: case ftLargeint: {
        const AnsiString v = Param->AsString();
        if (Column->GetIsNull() || Column->GetAsString() != v) Column->SetAsString(v);
        break;
      }
      case ftSmallint: case ftWord:
        Column->SetAsInteger(Param->AsInteger());
        break;
      case ftInteger: case ftAutoInc:
        if (Column->GetIsNull() || Column->GetAsInteger() != Param->AsInteger())
          Column->SetAsInteger(Param->AsInteger());
        break;
      case ftBoolean: {
        const int16_t base = Column->BaseType();
        if (base == SQL_VARYING || base == SQL_TEXT) {
          const AnsiString v = Param->AsBoolean() ? "T" : "F";
          if (Column->GetIsNull() || Column->GetAsString() != v) Column->SetAsString(v);
        } else {
          const int32_t v = Param->AsBoolean() ? 1 : 0;
          if (Column->GetIsNull() || Column->GetAsInteger() != v) Column->SetAsInteger(v);
        }
        break;
      }
      case ftFloat: case ftCurrency:
        if (Column->GetIsNull() || Column->GetAsDouble() != Param->AsFloat())
          Column->SetAsDouble(Param->AsFloat());
        break;
      case ftBCD:
        if (Column->GetIsNull() || Column->GetAsCurrency() != Param->AsCurrency())
          Column->SetAsCurrency(Param->AsCurrency());
        break;
      case ftDate:
        if (Column->GetIsNull() || Column->GetAsDate() != Param->AsDateTime())
          Column->SetAsDate(Param->AsDateTime());
        break;
      case ftTime: case ftDateTime:
        if (Column->GetIsNull() || Column->GetAsDateTime() != Param->AsDateTime())
          Column->SetAsDateTime(Param->AsDateTime());
        break;
      default: {
        const Variant v = Param->Value();
        if (Column->GetIsNull() || !VarSameValue(Column->GetAsVariant(), v)) Column->SetAsVariant(v);
      }
    }
  }
  Column->Bound = Param->Bound();
}

void REZAssignFieldToColumn(const TField* Field, TIB_Column* Column) {
  if (Field->IsNull()) {
    if (!Column->GetIsNull()) Column->SetIsNull(true);
    return;
  }
  const bool was_null = Column->GetIsNull();
  switch (Field->DataType()) {
    case ftString: case ftBlob: case ftMemo: case ftLargeint: {
      const AnsiString v = Field->AsString();
      if (was_null || Column->GetAsString() != v) Column->SetAsString(v);
      break;
    }
    case ftSmallint: case ftWord: case ftBoolean: {
      const int16_t v = static_cast<int16_t>(Field->DataType() == ftBoolean ? (Field->AsBoolean() ? 1 : 0)
                                                                           : Field->AsInteger());
      if (was_null || Column->GetAsSmallint() != v) Column->SetAsSmallint(v);
      break;
    }
    case ftInteger: case ftAutoInc:
      if (was_null || Column->GetAsInteger() != Field->AsInteger()) Column->SetAsInteger(Field->AsInteger());
      break;
    case ftFloat: case ftCurrency:
      if (was_null || Column->GetAsDouble() != Field->AsFloat()) Column->SetAsDouble(Field->AsFloat());
      break;
    case ftBCD:
      if (was_null || Column->GetAsCurrency() != Field->AsCurrency()) Column->SetAsCurrency(Field->AsCurrency());
      break;
    case ftDate: {
      const TDateTime d = std::trunc(Field->AsDateTime());
      if (was_null || Column->GetAsDate() != d) Column->SetAsDate(d);
      break;
    }
    case ftTime: case ftDateTime:
      if (was_null || Column->GetAsDateTime() != Field->AsDateTime()) Column->SetAsDateTime(Field->AsDateTime());
      break;
    default: {
      const Variant v = Field->AsVariant();
      if (was_null || !VarSameValue(Column->GetAsVariant(), v)) Column->SetAsVariant(v);
    }
  }
}

}  // namespace pelvar
