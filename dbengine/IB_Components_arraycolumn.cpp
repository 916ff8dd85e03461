// Array columns: the whole slice lives in the row's blob cache nodes and travels to and
// from the application as a Variant array with the server's dimensions and bounds.
#include <cmath>
#include <cstring>
#include <vector>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/ib_columns_content.h"
#include "platform/checked.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

using columns_content::ContentWriter;

namespace {

int Dimensions(const ISC_ARRAY_DESC& D) { return D.array_desc_dimensions; }
int32_t Lower(const ISC_ARRAY_DESC& D, int Dim) { return D.array_desc_bounds[Dim].array_bound_lower; }
int32_t Upper(const ISC_ARRAY_DESC& D, int Dim) { return D.array_desc_bounds[Dim].array_bound_upper; }
int32_t Extent(const ISC_ARRAY_DESC& D, int Dim) { return Upper(D, Dim) - Lower(D, Dim) + 1; }

bool IsVarying(uint8_t T) { return T == blr_varying || T == blr_varying2; }
bool IsFixedText(uint8_t T) { return T == blr_text || T == blr_text2 || T == blr_cstring || T == blr_cstring2; }

// Calls Visit(indices) for every element in the order of the slice: the last dimension
// varies fastest (row-major, the order of a descriptor whose flags are 0).
template <class F>
void ForEachElement(const ISC_ARRAY_DESC& D, F Visit) {
  const int dims = Dimensions(D);
  std::vector<int32_t> idx(static_cast<size_t>(dims));
  for (int i = 0; i < dims; ++i) {
    if (Extent(D, i) <= 0) return;
    idx[static_cast<size_t>(i)] = Lower(D, i);
  }
  for (;;) {
    Visit(idx);
    int d = dims - 1;
    while (d >= 0) {
      if (++idx[static_cast<size_t>(d)] <= Upper(D, d)) break;
      idx[static_cast<size_t>(d)] = Lower(D, d);
      --d;
    }
    if (d < 0) return;
  }
}

TVarType ElementVarType(uint8_t T, int8_t Scale) {
  switch (T) {
    case blr_short: return Scale < 0 ? varDouble : varSmallint;
    case blr_long: return Scale < 0 ? varDouble : varInteger;
    case blr_float: return varSingle;
    case blr_d_float:
    case blr_double: return varDouble;
    case blr_sql_date:
    case blr_sql_time:
    case blr_timestamp: return varDate;
    default: return varVariant;
  }
}

[[noreturn]] void RaiseUnsupported() { throw Exception(IB_Message(TIB_Msg::UnsupportedArrayVariant)); }

template <class T>
T Load(const char* P) {
  T v;
  std::memcpy(&v, P, sizeof v);
  return v;
}

template <class T>
void Store(char* P, T V) {
  std::memcpy(P, &V, sizeof V);
}

// A scaled SMALLINT or INTEGER element (NUMERIC and DECIMAL arrays) is the stored integer
// times 10^scale.
Variant ScaledElement(int64_t Stored, int8_t Scale) {
  if (Scale >= 0) return Variant();
  return Variant(static_cast<double>(ScaleFloat(Scale, static_cast<long double>(Stored))));
}

Variant ReadElement(const ISC_ARRAY_DESC& D, const char* P) {
  const uint8_t t = D.array_desc_dtype;
  const int8_t scale = static_cast<int8_t>(D.array_desc_scale);
  switch (t) {
    case blr_short:
      return scale < 0 ? ScaledElement(Load<int16_t>(P), scale) : Variant(Load<int16_t>(P));
    case blr_long:
      return scale < 0 ? ScaledElement(Load<int32_t>(P), scale) : Variant(static_cast<int>(Load<int32_t>(P)));
    case blr_float: return Variant(Load<float>(P));
    case blr_d_float:
    case blr_double: return Variant(Load<double>(P));
    case blr_sql_date: {
      ISC_TIMESTAMP ts{};
      ts.timestamp_date = Load<ISC_DATE>(P);
      return Variant::FromDateTime(ISCTimestampToDateTime(ts));
    }
    case blr_sql_time: {
      ISC_TIMESTAMP ts{};
      ts.timestamp_date = IB_DateOffset;
      ts.timestamp_time = Load<ISC_TIME>(P);
      return Variant::FromDateTime(ISCTimestampToDateTime(ts));
    }
    case blr_timestamp: return Variant::FromDateTime(ISCTimestampToDateTime(Load<ISC_TIMESTAMP>(P)));
    default: break;
  }
  if (IsFixedText(t)) return Variant(AnsiString(P, D.array_desc_length));
  if (IsVarying(t)) {
    // The client library hands VARCHAR elements over as zero-terminated strings in
    // length + 2 bytes, not as a length word and characters.
    return Variant(AnsiString(P, ::strnlen(P, static_cast<size_t>(D.array_desc_length) + 2)));
  }
  RaiseUnsupported();
}

// A number element: numbers directly, texts parsed (an empty text is 0). A text that is
// no number raises rather than storing a silent 0.
long double NumberOf(const Variant& V) {
  if (VarIsStr(V)) {
    const AnsiString s = Trim(VarToStr(V));
    return s.empty() ? 0 : StrToFloat(s);
  }
  if (VarIsNullOrEmpty(V)) return 0;
  return V.AsDouble();
}

int64_t WholeNumberOf(const Variant& V, int8_t Scale, int64_t Min, int64_t Max) {
  long double v = NumberOf(V);
  for (int i = Scale; i < 0; ++i) v *= 10;
  v = std::nearbyint(v);
  if (!(v >= static_cast<long double>(Min) && v <= static_cast<long double>(Max))) RaiseIntOverflow();
  return static_cast<int64_t>(v);
}

void WriteElement(const ISC_ARRAY_DESC& D, const Variant& V, char* P, uint8_t PadChar) {
  const uint8_t t = D.array_desc_dtype;
  const int8_t scale = static_cast<int8_t>(D.array_desc_scale);
  switch (t) {
    case blr_short: Store<int16_t>(P, static_cast<int16_t>(WholeNumberOf(V, scale, INT16_MIN, INT16_MAX))); return;
    case blr_long: Store<int32_t>(P, static_cast<int32_t>(WholeNumberOf(V, scale, INT32_MIN, INT32_MAX))); return;
    case blr_float: Store<float>(P, static_cast<float>(NumberOf(V))); return;
    case blr_d_float:
    case blr_double: Store<double>(P, static_cast<double>(NumberOf(V))); return;
    case blr_sql_date:
    case blr_sql_time:
    case blr_timestamp: {
      TDateTime dt;
      if (VarIsStr(V)) {
        const AnsiString s = Trim(VarToStr(V));
        if (s.empty()) {
          std::memset(P, 0, t == blr_timestamp ? sizeof(ISC_TIMESTAMP) : 4);
          return;
        }
        dt = StrToDateTime(s);
      } else {
        dt = V.AsDateTime();
      }
      ISC_TIMESTAMP ts{};
      DateTimeToISCTimestamp(ts, dt);
      if (t == blr_sql_date) {
        Store(P, ts.timestamp_date);
      } else if (t == blr_sql_time) {
        Store(P, ts.timestamp_time);
      } else {
        Store(P, ts);
      }
      return;
    }
    default: break;
  }
  const size_t len = D.array_desc_length;
  if (IsFixedText(t)) {
    const AnsiString s = VarToStr(V);
    std::memset(P, PadChar, len);
    std::memcpy(P, s.data(), std::min(s.size(), len));
    return;
  }
  if (IsVarying(t)) {
    // Zero-terminated (see ReadElement); the text is cut to the element length.
    const AnsiString s = VarToStr(V);
    std::memset(P, 0, len + 2);
    std::memcpy(P, s.data(), std::min(::strnlen(s.data(), s.size()), len));
    return;
  }
  RaiseUnsupported();
}

}  // namespace

TIB_ColumnArray::TIB_ColumnArray(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_Column(Row, Var, FieldNo) {
  IsArray = true;
  PadChar = IsAttributeSet("BINARY") ? 0 : ' ';
  // A failed look-up leaves a descriptor without dimensions.
  if (!Row->Statement()->LookupArrayBounds(Var, desc_)) desc_ = ISC_ARRAY_DESC{};
  if (desc_.array_desc_dimensions < 0 || desc_.array_desc_dimensions > 16) desc_.array_desc_dimensions = 0;
}

int32_t TIB_ColumnArray::ElementSize() const {
  return desc_.array_desc_length + (IsVarying(desc_.array_desc_dtype) ? 2 : 0);
}

int32_t TIB_ColumnArray::ElementCount() const {
  int32_t n = 1;
  for (int i = 0; i < Dimensions(desc_); ++i) n = CheckedMul(n, std::max(Extent(desc_, i), 0));
  return n;
}

AnsiString TIB_ColumnArray::GetAsString() { return GetIsNull() ? "(array)" : "(ARRAY)"; }
AnsiString TIB_ColumnArray::GetOldAsString() { return GetOldIsNull() ? "(array)" : "(ARRAY)"; }

void TIB_ColumnArray::SetAsString(const AnsiString&) {
  throw EIB_ColumnError(GetStatement(), IB_Message(TIB_Msg::ArrayAsString));
}

void TIB_ColumnArray::Clear() {
  ContentWriter writer(this);
  writer.Finish();
}

Variant TIB_ColumnArray::GetAsVariant() {
  if (RowEmpty() || GetIsNull()) return Unassigned();
  const int dims = Dimensions(desc_);
  if (dims < 1) return Unassigned();
  std::vector<int32_t> bounds;
  for (int i = 0; i < dims; ++i) {
    bounds.push_back(Lower(desc_, i));
    bounds.push_back(Upper(desc_, i));
  }
  Variant result = VarArrayCreate(bounds, ElementVarType(desc_.array_desc_dtype, desc_.array_desc_scale));
  const TIB_BlobCacheNode* node = columns_content::CurrentNode(this, &desc_);
  const char* data = node && node->Buffer ? static_cast<const char*>(node->Buffer) : nullptr;
  const int32_t available = data ? node->Size : 0;
  const int32_t size = ElementSize();
  std::vector<char> element(static_cast<size_t>(size));
  int32_t offset = 0;
  ForEachElement(desc_, [&](const std::vector<int32_t>& idx) {
    // Bytes beyond what the server returned read as zeros.
    std::fill(element.begin(), element.end(), 0);
    if (offset < available) {
      std::memcpy(element.data(), data + offset, static_cast<size_t>(std::min(size, available - offset)));
    }
    result.PutElement(idx, ReadElement(desc_, element.data()));
    offset += size;
  });
  return result;
}

void TIB_ColumnArray::SetAsVariant(const Variant& Value) {
  if (VarIsNullOrEmpty(Value)) {
    Clear();
    return;
  }
  if (!VarIsArray(Value)) throw Exception(IB_Message(TIB_Msg::VariantNotArray));
  const int dims = Dimensions(desc_);
  if (VarArrayDimCount(Value) != dims) throw Exception(IB_Message(TIB_Msg::DimensionsDiffer));
  std::vector<int32_t> shift(static_cast<size_t>(dims));
  for (int i = 0; i < dims; ++i) {
    const int32_t low = VarArrayLowBound(Value, i + 1);
    if (VarArrayHighBound(Value, i + 1) - low + 1 != Extent(desc_, i)) {
      throw Exception(IB_Message(TIB_Msg::DimensionElementsDiffer));
    }
    shift[static_cast<size_t>(i)] = low - Lower(desc_, i);
  }
  // The whole slice is converted first: a failing element stores nothing.
  const int32_t size = ElementSize();
  std::vector<char> slice(static_cast<size_t>(CheckedMul(ElementCount(), size)));
  int32_t offset = 0;
  std::vector<int32_t> at(static_cast<size_t>(dims));
  ForEachElement(desc_, [&](const std::vector<int32_t>& idx) {
    for (int i = 0; i < dims; ++i) at[static_cast<size_t>(i)] = idx[static_cast<size_t>(i)] + shift[static_cast<size_t>(i)];
    WriteElement(desc_, VarArrayGet(Value, at), slice.data() + offset, PadChar);
    offset += size;
  });
  ContentWriter writer(this);
  writer.Write(slice.data(), static_cast<int32_t>(slice.size()));
  writer.Finish();
}

AnsiString TIB_ColumnArray::GetSQLTypeSource(bool WithoutExtras) {
  const AnsiString len = IntToStr(static_cast<int>(desc_.array_desc_length));
  AnsiString type;
  switch (desc_.array_desc_dtype) {
    case blr_short: type = "SMALLINT"; break;
    case blr_long: type = "INTEGER"; break;
    case blr_float: type = "FLOAT"; break;
    case blr_d_float:
    case blr_double: type = "DOUBLE PRECISION"; break;
    case blr_text:
    case blr_text2:
    case blr_cstring:
    case blr_cstring2: type = "CHAR( " + len + " )"; break;
    case blr_timestamp: type = row_->Statement()->SQLDialect() < 3 ? "DATE" : "TIMESTAMP"; break;
    case blr_sql_date: type = "DATE"; break;
    case blr_sql_time: type = "TIME"; break;
    case blr_varying:
    case blr_varying2: type = "VARCHAR( " + len + " )"; break;
    default: break;
  }
  AnsiString s = type + "[ ";
  for (int i = 0; i < Dimensions(desc_); ++i) {
    if (i > 0) s += ", ";
    s += IntToStr(static_cast<int>(Upper(desc_, i)));
  }
  s += " ]";
  if (!WithoutExtras) {
    s += " ";
    if (type.empty()) s += TIB_Column::GetSQLTypeSource(false);
  }
  return s;
}

}  // namespace pelvar
