// The framework's Variant: a value of one of a fixed set of types (or Unassigned, or
// Null), and Variant arrays of 1 to 16 dimensions with per-dimension bounds.
//
// Conversions follow the framework: Unassigned converts to 0, False or the empty
// string; Null raises EVariantError in every conversion except VarToStr (which gives
// the empty string); strings convert to numbers with the process's format settings;
// a value out of the target type's range, an array, or a text that is not a number
// raises EVariantError.
//
// Comparisons: Null equals only Null and Unassigned only Unassigned; for ordering both
// come before every other value (Null before Unassigned). Numbers compare by value
// whatever their types (a string against a number converts to a number), strings by
// AnsiCompareStr (equality is exact), Booleans False before True. Arrays cannot be
// compared (EVariantError).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

#include "platform/currency.h"
#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

using TVarType = uint16_t;

constexpr TVarType varEmpty = 0x0000;
constexpr TVarType varNull = 0x0001;
constexpr TVarType varSmallint = 0x0002;
constexpr TVarType varInteger = 0x0003;
constexpr TVarType varSingle = 0x0004;
constexpr TVarType varDouble = 0x0005;
constexpr TVarType varCurrency = 0x0006;
constexpr TVarType varDate = 0x0007;
constexpr TVarType varOleStr = 0x0008;
constexpr TVarType varBoolean = 0x000B;
constexpr TVarType varVariant = 0x000C;
constexpr TVarType varShortInt = 0x0010;
constexpr TVarType varByte = 0x0011;
constexpr TVarType varWord = 0x0012;
constexpr TVarType varLongWord = 0x0013;
constexpr TVarType varInt64 = 0x0014;
constexpr TVarType varString = 0x0100;
constexpr TVarType varTypeMask = 0x0FFF;
constexpr TVarType varArray = 0x2000;

constexpr int kVarArrayMaxDims = 16;

enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

class Variant {
 public:
  Variant();  // Unassigned
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  Variant(bool v);
  Variant(signed char v);    // varShortInt
  Variant(unsigned char v);  // varByte
  Variant(int16_t v);        // varSmallint
  Variant(uint16_t v);       // varWord
  Variant(int v);            // varInteger
  Variant(unsigned v);       // varLongWord
  Variant(long v);           // varInt64
  Variant(long long v);      // varInt64
  // varInt64; a value above the Int64 range raises EVariantError.
  Variant(unsigned long v);
  Variant(unsigned long long v);
  Variant(float v);  // varSingle
  Variant(double v);
  Variant(long double v);  // varDouble
  Variant(Currency v);
  Variant(const AnsiString& v);  // varString
  Variant(const char* v);        // varString
  Variant(const WideString& v);  // varOleStr
  Variant(const char16_t* v);    // varOleStr

  static Variant FromDateTime(TDateTime v);  // varDate
  static Variant MakeNull();

  // The type; for an array, the element type with varArray.
  TVarType VarType() const;
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return (type_ & varArray) != 0; }

  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  bool AsBoolean() const;
  AnsiString AsString() const;
  WideString AsWideString() const;

  // Array access: one index per dimension, within the bounds, else EVariantError.
  // Put converts value to the element type of a typed array.
  Variant GetElement(const std::vector<int32_t>& indices) const;
  void PutElement(const std::vector<int32_t>& indices, const Variant& value);
  Variant GetElement(std::initializer_list<int32_t> indices) const {
    return GetElement(std::vector<int32_t>(indices));
  }
  void PutElement(std::initializer_list<int32_t> indices, const Variant& value) {
    PutElement(std::vector<int32_t>(indices), value);
  }
  // The element of a one-dimensional array (read only; write with PutElement).
  const Variant& operator[](int32_t index) const;

  int DimCount() const;
  int32_t LowBound(int dim) const;   // dim from 1
  int32_t HighBound(int dim) const;  // dim from 1

  // The framework's three-way comparison (operators below); raises EVariantError for
  // arrays and for values that cannot be brought to one type.
  static int Compare(const Variant& a, const Variant& b);
  static bool Equal(const Variant& a, const Variant& b);

 private:
  struct ArrayData;
  friend Variant VarArrayCreate(const std::vector<int32_t>& bounds, TVarType element_type);
  friend void VarArrayRedim(Variant& v, int32_t high_bound);
  friend Variant VarAsType(const Variant& v, TVarType type);

  int64_t IntValue() const { return std::get<int64_t>(data_); }
  double DoubleValue() const { return std::get<double>(data_); }
  const ArrayData& Array() const;
  ArrayData& Array();
  size_t Offset(const std::vector<int32_t>& indices) const;
  [[noreturn]] void CastError(TVarType to) const;
  [[noreturn]] void OverflowError(TVarType to) const;
  // Conversions naming `target` in their errors.
  int64_t ToInt64(TVarType target) const;
  double ToDouble(TVarType target) const;
  Currency ToCurrency(TVarType target) const;
  TDateTime ToDateTime(TVarType target) const;
  bool ToBoolean(TVarType target) const;
  AnsiString ToString(TVarType target) const;

  TVarType type_ = varEmpty;
  // int64_t: the integer types, Boolean (0/1) and Currency (raw); double: Single,
  // Double, Date; strings; the array.
  std::variant<std::monostate, int64_t, double, AnsiString, WideString,
               std::unique_ptr<ArrayData>>
      data_;
};

inline bool operator==(const Variant& a, const Variant& b) { return Variant::Equal(a, b); }
inline bool operator!=(const Variant& a, const Variant& b) { return !Variant::Equal(a, b); }
inline bool operator<(const Variant& a, const Variant& b) { return Variant::Compare(a, b) < 0; }
inline bool operator<=(const Variant& a, const Variant& b) { return Variant::Compare(a, b) <= 0; }
inline bool operator>(const Variant& a, const Variant& b) { return Variant::Compare(a, b) > 0; }
inline bool operator>=(const Variant& a, const Variant& b) { return Variant::Compare(a, b) >= 0; }

Variant Null();
Variant Unassigned();

TVarType VarType(const Variant& v);
bool VarIsNull(const Variant& v);
bool VarIsEmpty(const Variant& v);
bool VarIsClear(const Variant& v);
bool VarIsArray(const Variant& v);
// Null or Unassigned.
bool VarIsNullOrEmpty(const Variant& v);
bool VarIsStr(const Variant& v);
bool VarIsNumeric(const Variant& v);
// The text of the value; Null and Unassigned give the empty string.
AnsiString VarToStr(const Variant& v);
AnsiString VarToStrDef(const Variant& v, const AnsiString& def);
Variant VarFromDateTime(TDateTime v);
TDateTime VarToDateTime(const Variant& v);
// The value converted to type (varEmpty, varNull, varVariant and the simple types).
Variant VarAsType(const Variant& v, TVarType type);
// The name of a type as the framework's messages give it ("Integer", "String", ...).
AnsiString VarTypeAsText(TVarType type);
// Equal, less, greater, or not equal when Null or Unassigned meets anything but itself.
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);
bool VarSameValue(const Variant& a, const Variant& b);

// bounds holds a low and a high bound per dimension (1 to 16 dimensions); a high
// bound one below the low bound gives an empty dimension. The elements start as
// Unassigned (varVariant), zero, False or the empty string.
Variant VarArrayCreate(const std::vector<int32_t>& bounds, TVarType element_type);
// A one-dimensional varVariant array [0..n-1] of the values.
Variant VarArrayOf(const std::vector<Variant>& values);
int VarArrayDimCount(const Variant& v);  // 0 when v is not an array
int32_t VarArrayLowBound(const Variant& v, int dim);
int32_t VarArrayHighBound(const Variant& v, int dim);
// Changes the high bound of the last dimension, keeping the elements that remain.
void VarArrayRedim(Variant& v, int32_t high_bound);
Variant VarArrayGet(const Variant& v, const std::vector<int32_t>& indices);
void VarArrayPut(Variant& v, const Variant& value, const std::vector<int32_t>& indices);

}  // namespace pelvar
