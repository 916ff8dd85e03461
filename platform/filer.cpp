#include "platform/filer.h"

#include <cfloat>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr char kSignature[4] = {'T', 'P', 'F', '0'};
// Deeper nesting than this is no form a writer makes: refused before the stack runs out.
constexpr int32_t kMaxDepth = 256;

struct DepthGuard {
  int32_t& depth;
  explicit DepthGuard(int32_t& d) : depth(d) {
    if (++depth > kMaxDepth) {
      --depth;
      throw EReadError("Component stream nested too deeply");
    }
  }
  ~DepthGuard() { --depth; }
};

AnsiString Upper(const AnsiString& s) {
  AnsiString r = s;
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

struct Registry {
  std::mutex lock;
  std::map<AnsiString, std::pair<AnsiString, TPersistentFactory>> classes;  // by upper-cased name
};
Registry& TheRegistry() {
  static Registry r;
  return r;
}

// The sub-object and the rest of a dotted property path ("Font.Name" -> Font, "Name").
TPersistent* WalkPath(TPersistent* instance, AnsiString& name) {
  for (;;) {
    auto dot = name.find('.');
    if (dot == AnsiString::npos) return instance;
    TPublishedProperties props;
    instance->DefinePublished(props);
    const TPublishedProperty* p = props.Find(name.substr(0, dot));
    if (!p || p->Kind != TPropKind::Object || !p->Object) return instance;
    instance = p->Object;
    name = name.substr(dot + 1);
  }
}

}  // namespace

// ---- Published properties ------------------------------------------------------------------
void TPublishedProperties::Int64(const AnsiString& name, int64_t& field, int64_t def) {
  Ordinal(name, TPropKind::Int64, field, def);
}

void TPublishedProperties::Boolean(const AnsiString& name, bool& field, bool def) {
  Ordinal(name, TPropKind::Boolean, field, def ? 1 : 0);
}

void TPublishedProperties::String(const AnsiString& name, AnsiString& field, const AnsiString& def) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::String;
  AnsiString* f = &field;
  p.GetStr = [f] { return *f; };
  p.SetStr = [f](const AnsiString& v) { *f = v; };
  p.StrDefault = def;
  list_.push_back(std::move(p));
}

void TPublishedProperties::WideStr(const AnsiString& name, WideString& field) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::WideString;
  WideString* f = &field;
  p.GetWide = [f] { return *f; };
  p.SetWide = [f](const WideString& v) { *f = v; };
  list_.push_back(std::move(p));
}

void TPublishedProperties::Float(const AnsiString& name, double& field, double def) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::Float;
  double* f = &field;
  p.GetFloat = [f] { return static_cast<long double>(*f); };
  p.SetFloat = [f](long double v) { *f = static_cast<double>(v); };
  p.FloatDefault = def;
  list_.push_back(std::move(p));
}

void TPublishedProperties::Object(const AnsiString& name, TPersistent* object) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::Object;
  p.Object = object;
  list_.push_back(std::move(p));
}

void TPublishedProperties::Collection(const AnsiString& name, TCollection* collection) {
  TPublishedProperty p;
  p.Name = name;
  p.Kind = TPropKind::Collection;
  p.Object = collection;
  list_.push_back(std::move(p));
}

const TPublishedProperty* TPublishedProperties::Find(const AnsiString& name) const {
  for (const auto& p : list_)
    if (SameText(p.Name, name)) return &p;
  return nullptr;
}

// ---- Writer ------------------------------------------------------------------------------------
void TWriter::WriteValue(TValueType value) {
  uint8_t b = value;
  WriteBytes(&b, 1);
}

void TWriter::WriteStr(const AnsiString& value) {
  if (value.size() > 255) throw EWriteError("Name too long for a short string: " + value.substr(0, 32) + "...");
  uint8_t n = static_cast<uint8_t>(value.size());
  WriteBytes(&n, 1);
  WriteBytes(value.data(), n);
}

void TWriter::WriteInteger(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    WriteValue(vaInt8);
    int8_t v = static_cast<int8_t>(value);
    WriteBytes(&v, 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    WriteValue(vaInt16);
    uint16_t v = static_cast<uint16_t>(value);
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    WriteBytes(b, 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteValue(vaInt32);
    uint32_t v = static_cast<uint32_t>(value);
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    WriteBytes(b, 4);
  } else {
    WriteValue(vaInt64);
    uint64_t v = static_cast<uint64_t>(value);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    WriteBytes(b, 8);
  }
}

namespace {
void PutLE32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLE32(const uint8_t* b) {
  return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
}  // namespace

void TWriter::WriteString(const AnsiString& value) {
  if (value.size() <= 255) {
    WriteValue(vaString);
    WriteStr(value);
  } else {
    if (value.size() > static_cast<size_t>(INT32_MAX)) throw EWriteError("String too long for the component stream");
    WriteValue(vaLString);
    uint8_t b[4];
    PutLE32(b, static_cast<uint32_t>(value.size()));
    WriteBytes(b, 4);
    WriteBytes(value.data(), static_cast<int64_t>(value.size()));
  }
}

void TWriter::WriteWideString(const WideString& value) {
  if (value.size() > static_cast<size_t>(INT32_MAX / 2)) throw EWriteError("String too long for the component stream");
  WriteValue(vaWString);
  uint8_t b[4];
  PutLE32(b, static_cast<uint32_t>(value.size()));
  WriteBytes(b, 4);
  std::string bytes(value.size() * 2, '\0');
  for (size_t i = 0; i < value.size(); ++i) {
    bytes[2 * i] = static_cast<char>(value[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(value[i] >> 8);
  }
  WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TWriter::WriteFloat(long double value) {
  static_assert(LDBL_MANT_DIG == 64, "the extended type is the 80-bit x87 format");
  WriteValue(vaExtended);
  uint8_t b[16] = {};
  std::memcpy(b, &value, sizeof(long double) < 16 ? sizeof(long double) : 16);
  WriteBytes(b, 10);
}

void TWriter::WriteSingle(float value) {
  WriteValue(vaSingle);
  WriteBytes(&value, 4);
}

void TWriter::WriteDate(double value) {
  WriteValue(vaDate);
  WriteBytes(&value, 8);
}

void TWriter::WriteIdent(const AnsiString& ident) {
  if (SameText(ident, "False"))
    WriteValue(vaFalse);
  else if (SameText(ident, "True"))
    WriteValue(vaTrue);
  else if (SameText(ident, "nil"))
    WriteValue(vaNil);
  else if (SameText(ident, "Null"))
    WriteValue(vaNull);
  else {
    WriteValue(vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteBinary(const std::string& bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw EWriteError("Binary property too large");
  WriteValue(vaBinary);
  uint8_t b[4];
  PutLE32(b, static_cast<uint32_t>(bytes.size()));
  WriteBytes(b, 4);
  WriteBytes(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TWriter::WritePropName(const AnsiString& name) { WriteStr(prop_path_ + name); }

void TWriter::DefineProperty(const AnsiString& name, TReaderProc, TWriterProc write, bool has_data) {
  if (has_data && write) {
    WritePropName(name);
    write(*this);
  }
}

void TWriter::DefineBinaryProperty(const AnsiString& name, TStreamProc, TStreamProc write, bool has_data) {
  if (!has_data || !write) return;
  WritePropName(name);
  TMemoryStream data;
  write(data);
  WriteBinary(std::string(reinterpret_cast<const char*>(data.Memory()), static_cast<size_t>(data.Size())));
}

void TWriter::WriteProperty(const TPublishedProperty& p, const AnsiString& prefix) {
  switch (p.Kind) {
    case TPropKind::Integer:
    case TPropKind::Int64: {
      int64_t v = p.GetOrd();
      if (p.HasDefault && v == p.OrdDefault) return;
      WriteStr(prefix + p.Name);
      WriteInteger(v);
      return;
    }
    case TPropKind::Boolean: {
      int64_t v = p.GetOrd();
      if (p.HasDefault && v == p.OrdDefault) return;
      WriteStr(prefix + p.Name);
      WriteBoolean(v != 0);
      return;
    }
    case TPropKind::Enum: {
      int64_t v = p.GetOrd();
      if (p.HasDefault && v == p.OrdDefault) return;
      if (v < 0 || v >= static_cast<int64_t>(p.Names.size()))
        throw EWriteError("Property " + p.Name + ": value " + std::to_string(v) + " has no name");
      WriteStr(prefix + p.Name);
      WriteIdent(p.Names[static_cast<size_t>(v)]);
      return;
    }
    case TPropKind::Set: {
      int64_t v = p.GetOrd();
      if (p.HasDefault && v == p.OrdDefault) return;
      WriteStr(prefix + p.Name);
      WriteValue(vaSet);
      for (size_t i = 0; i < p.Names.size() && i < 64; ++i)
        if ((static_cast<uint64_t>(v) >> i) & 1) WriteStr(p.Names[i]);
      WriteStr("");
      return;
    }
    case TPropKind::String: {
      AnsiString v = p.GetStr();
      if (p.HasDefault && v == p.StrDefault) return;
      WriteStr(prefix + p.Name);
      WriteString(v);
      return;
    }
    case TPropKind::WideString: {
      WideString v = p.GetWide();
      if (p.HasDefault && v.empty()) return;
      WriteStr(prefix + p.Name);
      WriteWideString(v);
      return;
    }
    case TPropKind::Float: {
      long double v = p.GetFloat();
      if (p.HasDefault && v == p.FloatDefault) return;
      WriteStr(prefix + p.Name);
      WriteFloat(v);
      return;
    }
    case TPropKind::Object:
      if (p.Object) WritePropertiesPrefixed(p.Object, prefix + p.Name + ".");
      return;
    case TPropKind::Collection: {
      auto* c = static_cast<TCollection*>(p.Object);
      if (!c || (p.HasDefault && c->Count() == 0)) return;
      WriteStr(prefix + p.Name);
      WriteCollection(c);
      return;
    }
  }
}

void TWriter::WritePropertiesPrefixed(TPersistent* instance, const AnsiString& prefix) {
  TPublishedProperties props;
  instance->DefinePublished(props);
  for (const auto& p : props.List()) WriteProperty(p, prefix);
  AnsiString saved = prop_path_;
  prop_path_ = prefix;
  instance->DefineProperties(this);
  prop_path_ = saved;
}

void TWriter::WriteProperties(TPersistent* instance) { WritePropertiesPrefixed(instance, ""); }

void TWriter::WriteCollection(TCollection* collection) {
  WriteValue(vaCollection);
  for (int32_t i = 0; i < collection->Count(); ++i) {
    WriteListBegin();
    WriteProperties(collection->Items(i));
    WriteListEnd();
  }
  WriteListEnd();
}

void TWriter::WriteSignature() { WriteBytes(kSignature, 4); }

void TWriter::WriteComponent(TComponent* component) {
  WriteStr(component->ClassName());
  WriteStr(component->Name());
  WriteProperties(component);
  WriteListEnd();
  component->GetChildren([this](TComponent* child) { WriteComponent(child); }, root_);
  WriteListEnd();
}

void TWriter::WriteRootComponent(TComponent* root) {
  root_ = root;
  WriteSignature();
  WriteComponent(root);
}

// ---- Reader ------------------------------------------------------------------------------------
TValueType TReader::ReadValue() {
  uint8_t b;
  ReadBytes(&b, 1);
  if (b > vaUTF8String) throw EReadError("Invalid value type " + std::to_string(b) + " in the component stream");
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return v;
}

bool TReader::EndOfList() {
  // The byte after a list may be a type byte or the length of a property name.
  uint8_t b;
  ReadBytes(&b, 1);
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return b == vaNull;
}

void TReader::CheckValue(TValueType expected) {
  TValueType v = ReadValue();
  if (v != expected) {
    stream_.Seek(-1, TSeekOrigin::soCurrent);
    throw EReadError("Invalid property value: type " + std::to_string(static_cast<int>(v)) + " where " +
                     std::to_string(static_cast<int>(expected)) + " was expected");
  }
}

AnsiString TReader::ReadStr() {
  uint8_t n;
  ReadBytes(&n, 1);
  AnsiString s(n, '\0');
  if (n) ReadBytes(s.data(), n);
  return s;
}

int64_t TReader::ReadInt64() {
  TValueType v = ReadValue();
  switch (v) {
    case vaInt8: {
      int8_t x;
      ReadBytes(&x, 1);
      return x;
    }
    case vaInt16: {
      uint8_t b[2];
      ReadBytes(b, 2);
      return static_cast<int16_t>(b[0] | (b[1] << 8));
    }
    case vaInt32: {
      uint8_t b[4];
      ReadBytes(b, 4);
      return static_cast<int32_t>(GetLE32(b));
    }
    case vaInt64: {
      uint8_t b[8];
      ReadBytes(b, 8);
      uint64_t x = 0;
      for (int i = 7; i >= 0; --i) x = (x << 8) | b[i];
      return static_cast<int64_t>(x);
    }
    default:
      stream_.Seek(-1, TSeekOrigin::soCurrent);
      throw EReadError("Invalid property value: an integer was expected");
  }
}

int32_t TReader::ReadInteger() {
  int64_t v = ReadInt64();
  if (v < INT32_MIN || v > INT32_MAX) throw EReadError("Invalid property value: integer out of range");
  return static_cast<int32_t>(v);
}

bool TReader::ReadBoolean() {
  TValueType v = ReadValue();
  if (v == vaTrue) return true;
  if (v == vaFalse) return false;
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  throw EReadError("Invalid property value: a Boolean was expected");
}

AnsiString TReader::ReadString() {
  TValueType v = ReadValue();
  switch (v) {
    case vaString:
      return ReadStr();
    case vaLString:
    case vaUTF8String: {
      uint8_t b[4];
      ReadBytes(b, 4);
      uint32_t n = GetLE32(b);
      if (n > static_cast<uint32_t>(INT32_MAX) || n > stream_.Size() - stream_.Position())
        throw EReadError("Invalid string length in the component stream");
      AnsiString s(n, '\0');
      if (n) ReadBytes(s.data(), n);
      return v == vaUTF8String ? Utf8ToAnsi(s) : s;
    }
    case vaWString: {
      stream_.Seek(-1, TSeekOrigin::soCurrent);
      return FromWide(ReadWideString());
    }
    default:
      stream_.Seek(-1, TSeekOrigin::soCurrent);
      throw EReadError("Invalid property value: a string was expected");
  }
}

WideString TReader::ReadWideString() {
  TValueType v = ReadValue();
  if (v == vaWString) {
    uint8_t b[4];
    ReadBytes(b, 4);
    uint32_t n = GetLE32(b);
    if (n > static_cast<uint32_t>(INT32_MAX / 2) || int64_t{n} * 2 > stream_.Size() - stream_.Position())
      throw EReadError("Invalid string length in the component stream");
    std::string bytes(n * 2, '\0');
    if (n) ReadBytes(bytes.data(), n * 2);
    WideString w(n, u'\0');
    for (uint32_t i = 0; i < n; ++i)
      w[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return w;
  }
  if (v == vaUTF8String) {
    uint8_t b[4];
    ReadBytes(b, 4);
    uint32_t n = GetLE32(b);
    if (n > static_cast<uint32_t>(INT32_MAX) || n > stream_.Size() - stream_.Position())
      throw EReadError("Invalid string length in the component stream");
    std::string s(n, '\0');
    if (n) ReadBytes(s.data(), n);
    return Utf8ToUtf16(s);
  }
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return ToWide(ReadString());
}

long double TReader::ReadFloat() {
  TValueType v = ReadValue();
  if (v == vaExtended) {
    uint8_t b[16] = {};
    ReadBytes(b, 10);
    long double x = 0;
    std::memcpy(&x, b, sizeof(long double) < 16 ? sizeof(long double) : 16);
    return x;
  }
  if (v == vaSingle) {
    float f;
    ReadBytes(&f, 4);
    return f;
  }
  if (v == vaDate) {
    double d;
    ReadBytes(&d, 8);
    return d;
  }
  stream_.Seek(-1, TSeekOrigin::soCurrent);
  return static_cast<long double>(ReadInt64());
}

float TReader::ReadSingle() {
  if (NextValue() == vaSingle) {
    ReadValue();
    float f;
    ReadBytes(&f, 4);
    return f;
  }
  return static_cast<float>(ReadFloat());
}

double TReader::ReadDate() {
  if (NextValue() == vaDate) {
    ReadValue();
    double d;
    ReadBytes(&d, 8);
    return d;
  }
  return static_cast<double>(ReadFloat());
}

AnsiString TReader::ReadIdent() {
  TValueType v = ReadValue();
  switch (v) {
    case vaIdent:
      return ReadStr();
    case vaFalse:
      return "False";
    case vaTrue:
      return "True";
    case vaNil:
      return "nil";
    case vaNull:
      return "Null";
    default:
      stream_.Seek(-1, TSeekOrigin::soCurrent);
      throw EReadError("Invalid property value: an identifier was expected");
  }
}

std::string TReader::ReadBinary() {
  CheckValue(vaBinary);
  uint8_t b[4];
  ReadBytes(b, 4);
  uint32_t n = GetLE32(b);
  if (n > static_cast<uint32_t>(INT32_MAX) || n > stream_.Size() - stream_.Position())
    throw EReadError("Invalid binary size in the component stream");
  std::string s(n, '\0');
  if (n) ReadBytes(s.data(), n);
  return s;
}

void TReader::SkipValue() {
  DepthGuard guard(depth_);
  TValueType v = NextValue();
  switch (v) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
      ReadValue();
      return;
    case vaList:
      ReadValue();
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      return;
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64:
      ReadInt64();
      return;
    case vaExtended:
    case vaSingle:
    case vaDate:
      ReadFloat();
      return;
    case vaCurrency: {
      ReadValue();
      uint8_t b[8];
      ReadBytes(b, 8);
      return;
    }
    case vaString:
    case vaLString:
      ReadString();
      return;
    case vaWString:
    case vaUTF8String:
      ReadWideString();
      return;
    case vaIdent:
      ReadIdent();
      return;
    case vaBinary:
      ReadBinary();
      return;
    case vaSet:
      ReadValue();
      while (!ReadStr().empty()) {
      }
      return;
    case vaCollection:
      ReadValue();
      while (!EndOfList()) {
        if (NextValue() != vaList) SkipValue();  // an item's order value
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      return;
  }
}

void TReader::DefineProperty(const AnsiString& name, TReaderProc read, TWriterProc, bool) {
  if (!prop_handled_ && read && SameText(name, prop_name_)) {
    read(*this);
    prop_handled_ = true;
  }
}

void TReader::DefineBinaryProperty(const AnsiString& name, TStreamProc read, TStreamProc, bool) {
  if (prop_handled_ || !read || !SameText(name, prop_name_)) return;
  std::string bytes = ReadBinary();
  TMemoryStream data;
  if (!bytes.empty()) data.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  data.SetPosition(0);
  read(data);
  prop_handled_ = true;
}

void TReader::ReadPropValue(const TPublishedProperty& p) {
  switch (p.Kind) {
    case TPropKind::Integer: {
      // The value must fit the field: a wider value in the stream is refused, not cut.
      int32_t v = ReadInteger();
      p.SetOrd(v);
      if (p.GetOrd() != v) throw EReadError("Invalid property value: " + std::to_string(v) + " is out of range for " + p.Name);
      return;
    }
    case TPropKind::Int64:
      p.SetOrd(ReadInt64());
      return;
    case TPropKind::Boolean:
      p.SetOrd(ReadBoolean() ? 1 : 0);
      return;
    case TPropKind::Enum: {
      AnsiString ident = ReadIdent();
      for (size_t i = 0; i < p.Names.size(); ++i)
        if (SameText(p.Names[i], ident)) {
          p.SetOrd(static_cast<int64_t>(i));
          return;
        }
      throw EReadError("Invalid property value " + ident + " of " + p.Name);
    }
    case TPropKind::Set: {
      CheckValue(vaSet);
      uint64_t bits = 0;
      for (AnsiString e = ReadStr(); !e.empty(); e = ReadStr()) {
        size_t i = 0;
        while (i < p.Names.size() && !SameText(p.Names[i], e)) ++i;
        if (i == p.Names.size() || i >= 64) throw EReadError("Invalid property value " + e + " of " + p.Name);
        bits |= uint64_t{1} << i;
      }
      p.SetOrd(static_cast<int64_t>(bits));
      return;
    }
    case TPropKind::String:
      p.SetStr(ReadString());
      return;
    case TPropKind::WideString:
      p.SetWide(ReadWideString());
      return;
    case TPropKind::Float:
      p.SetFloat(ReadFloat());
      return;
    case TPropKind::Object:
      throw EReadError("Invalid property value: " + p.Name + " is an object");
    case TPropKind::Collection:
      ReadCollection(static_cast<TCollection*>(p.Object));
      return;
  }
}

void TReader::ReadProperty(TPersistent* instance) {
  AnsiString full = ReadStr();
  AnsiString name = full;
  TPersistent* target = WalkPath(instance, name);
  TPublishedProperties props;
  target->DefinePublished(props);
  if (const TPublishedProperty* p = props.Find(name)) {
    ReadPropValue(*p);
    return;
  }
  prop_name_ = name;
  prop_handled_ = false;
  target->DefineProperties(this);
  if (!prop_handled_) throw EReadError("Property " + full + " does not exist");
}

void TReader::ReadProperties(TPersistent* instance) {
  while (!EndOfList()) ReadProperty(instance);
  ReadListEnd();
}

void TReader::ReadCollection(TCollection* collection) {
  DepthGuard guard(depth_);
  CheckValue(vaCollection);
  collection->BeginUpdate();
  try {
    collection->Clear();
    while (!EndOfList()) {
      if (NextValue() != vaList) ReadInteger();  // an item's order value
      ReadListBegin();
      TCollectionItem* item = collection->Add();
      ReadProperties(item);
    }
    ReadListEnd();
  } catch (...) {
    collection->EndUpdate();
    throw;
  }
  collection->EndUpdate();
}

void TReader::ReadSignature() {
  char sig[4];
  ReadBytes(sig, 4);
  if (std::memcmp(sig, kSignature, 4) != 0) throw EReadError("Invalid stream format");
}

TComponent* TReader::ReadComponent(TComponent* component) {
  DepthGuard guard(depth_);
  AnsiString class_name = ReadStr();
  AnsiString name = ReadStr();
  std::unique_ptr<TComponent> created;
  if (component) {
    if (!SameText(component->ClassName(), class_name))
      throw EReadError("Stream holds a " + class_name + " where a " + component->ClassName() + " was expected");
  } else {
    if (!FindClassFactory(class_name)) throw EClassNotFound("Class " + class_name + " not found");
    created = CreateRegistered<TComponent>(class_name);
    if (!created) throw EClassNotFound("Class " + class_name + " is not a component");
    component = created.get();
  }
  component->BeginLoading();
  try {
    if (!name.empty() && !SameText(component->Name(), name)) component->SetName(name);
    ReadProperties(component);
    while (!EndOfList()) {
      TComponent* child = ReadComponent(nullptr);
      (void)child;
    }
    ReadListEnd();
  } catch (...) {
    component->EndLoading();
    throw;
  }
  component->EndLoading();
  if (created) {
    // A child belongs to the root being read; the root itself to its caller.
    if (root_ && root_ != component) root_->InsertComponent(component);
    created.release();
  }
  return component;
}

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  if (root) {
    root_ = root;
    return ReadComponent(root);
  }
  // The root's class is read ahead so that children can be given to it.
  int64_t start = stream_.Position();
  AnsiString class_name = ReadStr();
  stream_.SetPosition(start);
  if (!FindClassFactory(class_name)) throw EClassNotFound("Class " + class_name + " not found");
  std::unique_ptr<TComponent> created = CreateRegistered<TComponent>(class_name);
  if (!created) throw EClassNotFound("Class " + class_name + " is not a component");
  root_ = created.get();
  ReadComponent(created.get());
  return created.release();
}

// ---- Registry ------------------------------------------------------------------------------------
void RegisterClassFactory(const AnsiString& name, TPersistentFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  r.classes[Upper(name)] = {name, std::move(factory)};
}

void UnRegisterClass(const AnsiString& name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  r.classes.erase(Upper(name));
}

const TPersistentFactory* FindClassFactory(const AnsiString& name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.classes.find(Upper(name));
  return it == r.classes.end() ? nullptr : &it->second.second;
}

void WriteComponentToStream(TStream& stream, TComponent* component) {
  TWriter writer(stream);
  writer.WriteRootComponent(component);
}

TComponent* ReadComponentFromStream(TStream& stream, TComponent* component) {
  TReader reader(stream);
  return reader.ReadRootComponent(component);
}

}  // namespace pelvar
