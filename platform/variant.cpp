#include "platform/variant.h"

#include <cmath>
#include <limits>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

struct Variant::ArrayData {
  TVarType element_type = varVariant;
  struct Bound {
    int32_t low;
    int32_t count;
  };
  std::vector<Bound> bounds;
  // First index varies fastest (the order of the framework's safe arrays).
  std::vector<Variant> elements;
};

namespace {

const char kInvalidCast[] = "Invalid variant type conversion";
const char kInvalidOp[] = "Invalid variant operation";
const char kArrayCreate[] = "Error creating variant or safe array";
const char kArrayBounds[] = "Variant or safe array index out of bounds";

bool IsIntegral(TVarType t) {
  switch (t) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloat(TVarType t) { return t == varSingle || t == varDouble || t == varDate; }
bool IsStringType(TVarType t) { return t == varString || t == varOleStr; }
bool IsNumber(TVarType t) { return IsIntegral(t) || IsFloat(t) || t == varCurrency; }

bool IsSimpleType(TVarType t) {
  return IsNumber(t) || IsStringType(t) || t == varBoolean;
}

// Rounds half to even, as the framework's Round does under the default FPU mode.
bool RoundToInt64(double d, int64_t& out) {
  if (!std::isfinite(d)) return false;
  double r = std::nearbyint(d);
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  out = static_cast<int64_t>(r);
  return true;
}

Variant DefaultElement(TVarType t) {
  switch (t) {
    case varVariant:
      return Variant();
    case varBoolean:
      return Variant(false);
    case varString:
      return Variant(AnsiString());
    case varOleStr:
      return Variant(WideString());
    default:
      return VarAsType(Variant(0), t);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
Variant::Variant() = default;
Variant::~Variant() = default;
Variant::Variant(Variant&& other) noexcept : type_(other.type_), data_(std::move(other.data_)) {
  other.type_ = varEmpty;
  other.data_ = std::monostate{};
}

Variant::Variant(const Variant& other) : type_(other.type_) {
  if (auto* a = std::get_if<std::unique_ptr<ArrayData>>(&other.data_))
    data_ = std::make_unique<ArrayData>(**a);
  else if (auto* i = std::get_if<int64_t>(&other.data_))
    data_ = *i;
  else if (auto* d = std::get_if<double>(&other.data_))
    data_ = *d;
  else if (auto* s = std::get_if<AnsiString>(&other.data_))
    data_ = *s;
  else if (auto* w = std::get_if<WideString>(&other.data_))
    data_ = *w;
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    type_ = other.type_;
    data_ = std::move(other.data_);
    other.type_ = varEmpty;
    other.data_ = std::monostate{};
  }
  return *this;
}

Variant::Variant(bool v) : type_(varBoolean), data_(int64_t{v ? 1 : 0}) {}
Variant::Variant(signed char v) : type_(varShortInt), data_(int64_t{v}) {}
Variant::Variant(unsigned char v) : type_(varByte), data_(int64_t{v}) {}
Variant::Variant(int16_t v) : type_(varSmallint), data_(int64_t{v}) {}
Variant::Variant(uint16_t v) : type_(varWord), data_(int64_t{v}) {}
Variant::Variant(int v) : type_(varInteger), data_(int64_t{v}) {}
Variant::Variant(unsigned v) : type_(varLongWord), data_(int64_t{v}) {}
Variant::Variant(long v) : type_(varInt64), data_(int64_t{v}) {}
Variant::Variant(long long v) : type_(varInt64), data_(int64_t{v}) {}
Variant::Variant(unsigned long v) : type_(varInt64) {
  if (v > static_cast<unsigned long>(std::numeric_limits<int64_t>::max()))
    throw EVariantError("Overflow while converting variant of type (UInt64) into type (Int64)");
  data_ = static_cast<int64_t>(v);
}
Variant::Variant(unsigned long long v) : Variant(static_cast<unsigned long>(v)) {}
Variant::Variant(float v) : type_(varSingle), data_(double{v}) {}
Variant::Variant(double v) : type_(varDouble), data_(v) {}
Variant::Variant(long double v) : type_(varDouble), data_(static_cast<double>(v)) {}
Variant::Variant(Currency v) : type_(varCurrency), data_(v.Raw()) {}
Variant::Variant(const AnsiString& v) : type_(varString), data_(v) {}
Variant::Variant(const char* v) : type_(varString), data_(AnsiString(v ? v : "")) {}
Variant::Variant(const WideString& v) : type_(varOleStr), data_(v) {}
Variant::Variant(const char16_t* v) : type_(varOleStr), data_(WideString(v ? v : u"")) {}

Variant Variant::FromDateTime(TDateTime v) {
  Variant r;
  r.type_ = varDate;
  r.data_ = v;
  return r;
}

Variant Variant::MakeNull() {
  Variant r;
  r.type_ = varNull;
  return r;
}

TVarType Variant::VarType() const {
  if (IsArray()) return static_cast<TVarType>(Array().element_type | varArray);
  return type_;
}

// Every element access goes through here: a Variant that holds no array is a bad cast.
const Variant::ArrayData& Variant::Array() const {
  if (!IsArray()) throw EVariantError(kInvalidCast);
  return *std::get<std::unique_ptr<ArrayData>>(data_);
}
Variant::ArrayData& Variant::Array() {
  if (!IsArray()) throw EVariantError(kInvalidCast);
  return *std::get<std::unique_ptr<ArrayData>>(data_);
}

void Variant::CastError(TVarType to) const {
  if (IsArray() || (to & varArray) != 0) throw EVariantError(kInvalidCast);
  throw EVariantError("Could not convert variant of type (" + VarTypeAsText(type_) +
                      ") into type (" + VarTypeAsText(to) + ")");
}

void Variant::OverflowError(TVarType to) const {
  throw EVariantError("Overflow while converting variant of type (" + VarTypeAsText(type_) +
                      ") into type (" + VarTypeAsText(to) + ")");
}

// ---------------------------------------------------------------------------
int64_t Variant::ToInt64(TVarType target) const {
  if (type_ == varEmpty) return 0;
  if (IsIntegral(type_)) return IntValue();
  int64_t out = 0;
  switch (type_) {
    case varBoolean:
      return IntValue() ? -1 : 0;
    case varCurrency:
      return Currency::FromRaw(IntValue()).Round();
    case varSingle:
    case varDouble:
    case varDate:
      if (!RoundToInt64(DoubleValue(), out)) OverflowError(target);
      return out;
    case varString:
    case varOleStr: {
      AnsiString s = ToString(target);
      if (TryStrToInt64(s, out)) return out;
      double d;
      if (TryStrToFloat(s, d)) {
        if (!RoundToInt64(d, out)) OverflowError(target);
        return out;
      }
      CastError(target);
    }
    default:
      CastError(target);
  }
}

double Variant::ToDouble(TVarType target) const {
  if (type_ == varEmpty) return 0;
  if (IsIntegral(type_)) return static_cast<double>(IntValue());
  switch (type_) {
    case varBoolean:
      return IntValue() ? -1 : 0;
    case varCurrency:
      return Currency::FromRaw(IntValue()).ToDouble();
    case varSingle:
    case varDouble:
    case varDate:
      return DoubleValue();
    case varString:
    case varOleStr: {
      double d;
      if (TryStrToFloat(ToString(target), d)) return d;
      CastError(target);
    }
    default:
      CastError(target);
  }
}

Currency Variant::ToCurrency(TVarType target) const {
  if (type_ == varCurrency) return Currency::FromRaw(IntValue());
  if (type_ == varEmpty) return Currency();
  if (IsIntegral(type_) || type_ == varBoolean) {
    int64_t v = ToInt64(target);
    if (v > std::numeric_limits<int64_t>::max() / Currency::kScale ||
        v < std::numeric_limits<int64_t>::min() / Currency::kScale)
      OverflowError(target);
    return Currency::FromRaw(v * Currency::kScale);
  }
  if (IsStringType(type_)) {
    Currency c;
    if (TryStrToCurr(ToString(target), c)) return c;
  }
  if (IsFloat(type_) || IsStringType(type_)) {
    double d = ToDouble(target);
    // Beyond about 9.2e14 the scaled value leaves the 64-bit range.
    if (!std::isfinite(d) || std::fabs(d) >= 922337203685477.0) OverflowError(target);
    try {
      return Currency(d);
    } catch (const Exception&) {
      OverflowError(target);
    }
  }
  CastError(target);
}

TDateTime Variant::ToDateTime(TVarType target) const {
  if (IsStringType(type_)) {
    TDateTime t;
    if (TryStrToDateTime(ToString(target), t)) return t;
    CastError(target);
  }
  if (type_ == varBoolean) CastError(target);
  return ToDouble(target);
}

bool Variant::ToBoolean(TVarType target) const {
  if (type_ == varEmpty) return false;
  if (IsIntegral(type_) || type_ == varBoolean || type_ == varCurrency) return IntValue() != 0;
  if (IsFloat(type_)) return DoubleValue() != 0;
  if (IsStringType(type_)) {
    bool b;
    if (TryStrToBool(ToString(target), b)) return b;
  }
  CastError(target);
}

AnsiString Variant::ToString(TVarType target) const {
  if (IsIntegral(type_)) return IntToStr(IntValue());
  switch (type_) {
    case varEmpty:
      return {};
    case varBoolean:
      return IntValue() ? "True" : "False";
    case varSingle:
      return FloatToStr(static_cast<float>(DoubleValue()));
    case varDouble:
      return FloatToStr(DoubleValue());
    case varDate:
      return DateTimeToStr(DoubleValue());
    case varCurrency:
      return CurrToStr(Currency::FromRaw(IntValue()));
    case varString:
      return std::get<AnsiString>(data_);
    case varOleStr:
      return FromWide(std::get<WideString>(data_));
    default:
      CastError(target);
  }
}

int32_t Variant::AsInteger() const {
  int64_t v = ToInt64(varInteger);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    OverflowError(varInteger);
  return static_cast<int32_t>(v);
}
int64_t Variant::AsInt64() const { return ToInt64(varInt64); }
double Variant::AsDouble() const { return ToDouble(varDouble); }
Currency Variant::AsCurrency() const { return ToCurrency(varCurrency); }
TDateTime Variant::AsDateTime() const { return ToDateTime(varDate); }
bool Variant::AsBoolean() const { return ToBoolean(varBoolean); }
AnsiString Variant::AsString() const { return ToString(varString); }
WideString Variant::AsWideString() const {
  if (type_ == varOleStr) return std::get<WideString>(data_);
  return ToWide(ToString(varOleStr));
}

// ---------------------------------------------------------------------------
int Variant::DimCount() const { return IsArray() ? static_cast<int>(Array().bounds.size()) : 0; }

int32_t Variant::LowBound(int dim) const {
  if (!IsArray()) throw EVariantError(kInvalidCast);
  const auto& b = Array().bounds;
  if (dim < 1 || dim > static_cast<int>(b.size())) throw EVariantError(kArrayBounds);
  return b[dim - 1].low;
}

int32_t Variant::HighBound(int dim) const {
  if (!IsArray()) throw EVariantError(kInvalidCast);
  const auto& b = Array().bounds;
  if (dim < 1 || dim > static_cast<int>(b.size())) throw EVariantError(kArrayBounds);
  return static_cast<int32_t>(int64_t{b[dim - 1].low} + b[dim - 1].count - 1);
}

size_t Variant::Offset(const std::vector<int32_t>& indices) const {
  if (!IsArray()) throw EVariantError(kInvalidCast);
  const ArrayData& a = Array();
  if (indices.size() != a.bounds.size()) throw EVariantError(kArrayBounds);
  size_t offset = 0;
  size_t stride = 1;
  for (size_t d = 0; d < indices.size(); ++d) {
    int64_t k = int64_t{indices[d]} - a.bounds[d].low;
    if (k < 0 || k >= a.bounds[d].count) throw EVariantError(kArrayBounds);
    offset += static_cast<size_t>(k) * stride;
    stride *= static_cast<size_t>(a.bounds[d].count);
  }
  return offset;
}

Variant Variant::GetElement(const std::vector<int32_t>& indices) const {
  return Array().elements[Offset(indices)];
}

void Variant::PutElement(const std::vector<int32_t>& indices, const Variant& value) {
  size_t offset = Offset(indices);
  ArrayData& a = Array();
  if (a.element_type == varVariant)
    a.elements[offset] = value;
  else
    a.elements[offset] = VarAsType(value, a.element_type);
}

const Variant& Variant::operator[](int32_t index) const {
  return Array().elements[Offset({index})];
}

// ---------------------------------------------------------------------------
namespace {

// 0 Null, 1 Unassigned, 2 a value.
int Rank(const Variant& v) { return v.IsNull() ? 0 : v.IsEmpty() ? 1 : 2; }

bool IntegralValue(const Variant& v, int64_t& out) {
  TVarType t = v.VarType();
  if (IsIntegral(t) || t == varBoolean) {
    out = v.AsInt64();
    return true;
  }
  if (IsStringType(t)) return TryStrToInt64(v.AsString(), out);
  return false;
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int Variant::Compare(const Variant& a, const Variant& b) {
  if (a.IsArray() || b.IsArray()) throw EVariantError(kInvalidOp);
  int ra = Rank(a);
  int rb = Rank(b);
  if (ra != 2 || rb != 2) return ra - rb;
  TVarType ta = a.type_;
  TVarType tb = b.type_;
  if (IsStringType(ta) && IsStringType(tb)) {
    int c = AnsiCompareStr(a.AsString(), b.AsString());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (ta == varBoolean || tb == varBoolean) {
    if (ta == varBoolean && tb == varBoolean)
      return Sign<int>(a.IntValue() != 0, b.IntValue() != 0);
    if (IsStringType(ta) || IsStringType(tb))
      return Sign<int>(a.ToBoolean(varBoolean), b.ToBoolean(varBoolean));
  }
  if ((ta == varDate || tb == varDate) && (IsStringType(ta) || IsStringType(tb)))
    return Sign(a.ToDateTime(varDate), b.ToDateTime(varDate));
  int64_t ia, ib;
  if (IntegralValue(a, ia) && IntegralValue(b, ib)) return Sign(ia, ib);
  if ((ta == varCurrency || tb == varCurrency) && !IsFloat(ta) && !IsFloat(tb))
    return Sign(a.ToCurrency(varCurrency), b.ToCurrency(varCurrency));
  return Sign(a.ToDouble(varDouble), b.ToDouble(varDouble));
}

bool Variant::Equal(const Variant& a, const Variant& b) {
  if (a.IsArray() || b.IsArray()) throw EVariantError(kInvalidOp);
  if (Rank(a) != 2 || Rank(b) != 2) return Rank(a) == Rank(b);
  if (IsStringType(a.type_) && IsStringType(b.type_)) {
    if (a.type_ == varOleStr && b.type_ == varOleStr)
      return std::get<WideString>(a.data_) == std::get<WideString>(b.data_);
    return a.AsString() == b.AsString();
  }
  return Compare(a, b) == 0;
}

// ---------------------------------------------------------------------------
Variant Null() { return Variant::MakeNull(); }
Variant Unassigned() { return Variant(); }

TVarType VarType(const Variant& v) { return v.VarType(); }
bool VarIsNull(const Variant& v) { return v.IsNull(); }
bool VarIsEmpty(const Variant& v) { return v.IsEmpty(); }
bool VarIsClear(const Variant& v) { return v.IsEmpty(); }
bool VarIsArray(const Variant& v) { return v.IsArray(); }
bool VarIsNullOrEmpty(const Variant& v) { return v.IsNull() || v.IsEmpty(); }
bool VarIsStr(const Variant& v) { return IsStringType(v.VarType()); }
bool VarIsNumeric(const Variant& v) {
  TVarType t = v.VarType();
  return IsIntegral(t) || t == varSingle || t == varDouble || t == varCurrency;
}

AnsiString VarToStr(const Variant& v) { return VarToStrDef(v, AnsiString()); }

AnsiString VarToStrDef(const Variant& v, const AnsiString& def) {
  if (v.IsNull() || v.IsEmpty()) return def;
  return v.AsString();
}

Variant VarFromDateTime(TDateTime v) { return Variant::FromDateTime(v); }
TDateTime VarToDateTime(const Variant& v) { return v.AsDateTime(); }

Variant VarAsType(const Variant& v, TVarType type) {
  if ((type & varArray) != 0) {
    if (v.IsArray() && v.VarType() == type) return v;
    v.CastError(type);
  }
  if (type == varVariant) return v;
  if (type == varEmpty) return Variant();
  if (type == varNull) return Null();
  if (v.type_ == type) return v;
  if (v.IsNull() || v.IsArray()) v.CastError(type);
  auto ranged = [&](int64_t lo, int64_t hi) {
    int64_t i = v.ToInt64(type);
    if (i < lo || i > hi) v.OverflowError(type);
    return i;
  };
  switch (type) {
    case varSmallint:
      return Variant(static_cast<int16_t>(ranged(INT16_MIN, INT16_MAX)));
    case varInteger:
      return Variant(static_cast<int>(ranged(INT32_MIN, INT32_MAX)));
    case varShortInt:
      return Variant(static_cast<signed char>(ranged(INT8_MIN, INT8_MAX)));
    case varByte:
      return Variant(static_cast<unsigned char>(ranged(0, UINT8_MAX)));
    case varWord:
      return Variant(static_cast<uint16_t>(ranged(0, UINT16_MAX)));
    case varLongWord:
      return Variant(static_cast<unsigned>(ranged(0, UINT32_MAX)));
    case varInt64:
      return Variant(static_cast<long>(v.ToInt64(type)));
    case varSingle: {
      double d = v.ToDouble(type);
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        v.OverflowError(type);
      return Variant(static_cast<float>(d));
    }
    case varDouble:
      return Variant(v.ToDouble(type));
    case varCurrency:
      return Variant(v.ToCurrency(type));
    case varDate:
      return Variant::FromDateTime(v.ToDateTime(type));
    case varBoolean:
      return Variant(v.ToBoolean(type));
    case varString:
      return Variant(v.ToString(type));
    case varOleStr:
      return Variant(v.AsWideString());
    default:
      throw EVariantError(kInvalidCast);
  }
}

AnsiString VarTypeAsText(TVarType type) {
  AnsiString name;
  switch (type & varTypeMask) {
    case varEmpty: name = "Empty"; break;
    case varNull: name = "Null"; break;
    case varSmallint: name = "Smallint"; break;
    case varInteger: name = "Integer"; break;
    case varSingle: name = "Single"; break;
    case varDouble: name = "Double"; break;
    case varCurrency: name = "Currency"; break;
    case varDate: name = "Date"; break;
    case varOleStr: name = "OleStr"; break;
    case varBoolean: name = "Boolean"; break;
    case varVariant: name = "Variant"; break;
    case varShortInt: name = "ShortInt"; break;
    case varByte: name = "Byte"; break;
    case varWord: name = "Word"; break;
    case varLongWord: name = "LongWord"; break;
    case varInt64: name = "Int64"; break;
    case varString: name = "String"; break;
    default: name = "$" + IntToHex(static_cast<int32_t>(type & varTypeMask), 4); break;
  }
  if ((type & varArray) != 0) name = "Array " + name;
  return name;
}

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
  if (a.IsEmpty()) return b.IsEmpty() ? vrEqual : vrNotEqual;
  if (a.IsNull()) return b.IsNull() ? vrEqual : vrNotEqual;
  if (b.IsEmpty() || b.IsNull()) return vrNotEqual;
  if (a == b) return vrEqual;
  return a < b ? vrLessThan : vrGreaterThan;
}

bool VarSameValue(const Variant& a, const Variant& b) { return VarCompareValue(a, b) == vrEqual; }

// ---------------------------------------------------------------------------
Variant VarArrayCreate(const std::vector<int32_t>& bounds, TVarType element_type) {
  if (bounds.empty() || bounds.size() % 2 != 0 || bounds.size() / 2 > kVarArrayMaxDims)
    throw EVariantError(kArrayCreate);
  if (element_type != varVariant && !IsSimpleType(element_type)) throw EVariantError(kArrayCreate);
  auto data = std::make_unique<Variant::ArrayData>();
  data->element_type = element_type;
  int64_t total = 1;
  for (size_t i = 0; i < bounds.size(); i += 2) {
    int64_t count = int64_t{bounds[i + 1]} - bounds[i] + 1;
    if (count < 0 || count > std::numeric_limits<int32_t>::max()) throw EVariantError(kArrayCreate);
    total *= count;
    if (total > std::numeric_limits<int32_t>::max()) throw EVariantError(kArrayCreate);
    data->bounds.push_back({bounds[i], static_cast<int32_t>(count)});
  }
  data->elements.assign(static_cast<size_t>(total), DefaultElement(element_type));
  Variant v;
  v.type_ = static_cast<TVarType>(element_type | varArray);
  v.data_ = std::move(data);
  return v;
}

Variant VarArrayOf(const std::vector<Variant>& values) {
  Variant v = VarArrayCreate({0, static_cast<int32_t>(values.size()) - 1}, varVariant);
  for (size_t i = 0; i < values.size(); ++i) v.PutElement({static_cast<int32_t>(i)}, values[i]);
  return v;
}

int VarArrayDimCount(const Variant& v) { return v.DimCount(); }
int32_t VarArrayLowBound(const Variant& v, int dim) { return v.LowBound(dim); }
int32_t VarArrayHighBound(const Variant& v, int dim) { return v.HighBound(dim); }

void VarArrayRedim(Variant& v, int32_t high_bound) {
  if (!v.IsArray()) throw EVariantError(kInvalidCast);
  Variant::ArrayData& a = v.Array();
  auto& last = a.bounds.back();
  int64_t count = int64_t{high_bound} - last.low + 1;
  if (count < 0) throw EVariantError(kArrayBounds);
  int64_t stride = 1;
  for (size_t d = 0; d + 1 < a.bounds.size(); ++d) stride *= a.bounds[d].count;
  if (stride * count > std::numeric_limits<int32_t>::max()) throw EVariantError(kArrayCreate);
  // The last dimension varies slowest, so its elements form the tail of the storage.
  a.elements.resize(static_cast<size_t>(stride * count), DefaultElement(a.element_type));
  last.count = static_cast<int32_t>(count);
}

Variant VarArrayGet(const Variant& v, const std::vector<int32_t>& indices) {
  return v.GetElement(indices);
}

void VarArrayPut(Variant& v, const Variant& value, const std::vector<int32_t>& indices) {
  v.PutElement(indices, value);
}

}  // namespace pelvar
