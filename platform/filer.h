// The framework's binary component streaming: the value codec with its type bytes, the
// writer and the reader of components and of persistent objects, the tables of published
// properties they stream, and the class registry through which a stream names the class of
// a component to create.
//
// Binary form (the form files' own): "TPF0", then per component its class name and name
// as short strings (a length byte and the bytes), its properties (a short-string name, then
// a typed value) up to a 0 byte, its children the same way up to a 0 byte. A property equal
// to its default is not written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EClassNotFound : public EFilerError {
 public:
  using EFilerError::EFilerError;
};

// The type byte in front of every value.
enum TValueType : uint8_t {
  vaNull = 0,  // end of a list
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20
};

using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

// ---- Published properties --------------------------------------------------------------
enum class TPropKind { Integer, Int64, Boolean, Enum, Set, String, WideString, Float, Object, Collection };

struct TPublishedProperty {
  AnsiString Name;
  TPropKind Kind = TPropKind::Integer;
  // Integer, Int64, Boolean, Enum and Set (the set's bits, bit n = element n).
  std::function<int64_t()> GetOrd;
  std::function<void(int64_t)> SetOrd;
  int64_t OrdDefault = 0;
  std::vector<AnsiString> Names;  // Enum and Set element names, by value
  std::function<AnsiString()> GetStr;
  std::function<void(const AnsiString&)> SetStr;
  AnsiString StrDefault;
  std::function<WideString()> GetWide;
  std::function<void(const WideString&)> SetWide;
  std::function<long double()> GetFloat;
  std::function<void(long double)> SetFloat;
  long double FloatDefault = 0;
  TPersistent* Object = nullptr;  // Object (its properties are written as Name.Sub) and Collection
  bool HasDefault = true;         // false: written whatever its value
};

// The published properties of one object, in the order they are written.
class TPublishedProperties {
 public:
  // Fields wider than a signed 32-bit value (unsigned 32-bit included) stream as Int64.
  template <typename T>
  void Integer(const AnsiString& name, T& field, T def) {
    constexpr bool wide = sizeof(T) > 4 || (sizeof(T) == 4 && std::is_unsigned_v<T>);
    Ordinal(name, wide ? TPropKind::Int64 : TPropKind::Integer, field, static_cast<int64_t>(def));
  }
  void Int64(const AnsiString& name, int64_t& field, int64_t def);
  void Boolean(const AnsiString& name, bool& field, bool def);
  // An enumeration named by names (value n = names[n]).
  template <typename E>
  void Enum(const AnsiString& name, E& field, E def, std::vector<AnsiString> names) {
    Ordinal(name, TPropKind::Enum, field, static_cast<int64_t>(def));
    list_.back().Names = std::move(names);
  }
  // A set kept as bits (bit n = names[n]).
  template <typename B>
  void Set(const AnsiString& name, B& bits, B def, std::vector<AnsiString> names) {
    Ordinal(name, TPropKind::Set, bits, static_cast<int64_t>(def));
    list_.back().Names = std::move(names);
  }
  void String(const AnsiString& name, AnsiString& field, const AnsiString& def = AnsiString());
  void WideStr(const AnsiString& name, WideString& field);
  void Float(const AnsiString& name, double& field, double def);
  void Object(const AnsiString& name, TPersistent* object);
  void Collection(const AnsiString& name, TCollection* collection);
  // Any other form: the caller fills the record.
  void Add(TPublishedProperty p) { list_.push_back(std::move(p)); }

  const std::vector<TPublishedProperty>& List() const { return list_; }
  const TPublishedProperty* Find(const AnsiString& name) const;

 private:
  template <typename T>
  void Ordinal(const AnsiString& name, TPropKind kind, T& field, int64_t def) {
    TPublishedProperty p;
    p.Name = name;
    p.Kind = kind;
    T* f = &field;
    p.GetOrd = [f] { return static_cast<int64_t>(*f); };
    p.SetOrd = [f](int64_t v) { *f = static_cast<T>(v); };
    p.OrdDefault = def;
    list_.push_back(std::move(p));
  }
  std::vector<TPublishedProperty> list_;
};

// ---- Filer, writer, reader -------------------------------------------------------------
class TFiler : public TObject {
 public:
  explicit TFiler(TStream& stream) : stream_(stream) {}
  // Declares a property streamed by the owner's own procedures (DefineProperties): the
  // writer writes it when has_data is set, the reader calls read when it meets the name.
  virtual void DefineProperty(const AnsiString& name, TReaderProc read, TWriterProc write, bool has_data) = 0;
  // The same for raw bytes, kept in the stream as vaBinary, a 32-bit size and the bytes.
  virtual void DefineBinaryProperty(const AnsiString& name, TStreamProc read, TStreamProc write,
                                    bool has_data) = 0;
  TComponent* Root() const { return root_; }
  void SetRoot(TComponent* root) { root_ = root; }
  TStream& Stream() { return stream_; }

 protected:
  TStream& stream_;
  TComponent* root_ = nullptr;
};

class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& stream) : TFiler(stream) {}

  void DefineProperty(const AnsiString& name, TReaderProc read, TWriterProc write, bool has_data) override;
  void DefineBinaryProperty(const AnsiString& name, TStreamProc read, TStreamProc write, bool has_data) override;

  // "TPF0" and the component with its children.
  void WriteRootComponent(TComponent* root);
  void WriteSignature();
  void WriteComponent(TComponent* component);
  // The published properties (then those declared by DefineProperties) of an object.
  void WriteProperties(TPersistent* instance);
  void WriteCollection(TCollection* collection);

  void WriteValue(TValueType value);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  // The smallest of vaInt8, vaInt16, vaInt32 and vaInt64 that holds the value.
  void WriteInteger(int64_t value);
  void WriteBoolean(bool value) { WriteValue(value ? vaTrue : vaFalse); }
  // vaString up to 255 bytes, vaLString beyond.
  void WriteString(const AnsiString& value);
  void WriteWideString(const WideString& value);
  // vaExtended with the 10-byte extended value.
  void WriteFloat(long double value);
  void WriteSingle(float value);
  void WriteDate(double value);
  void WriteIdent(const AnsiString& ident);
  // A short string with no type byte (names of properties and classes).
  void WriteStr(const AnsiString& value);
  void WriteBinary(const std::string& bytes);

 private:
  void WritePropName(const AnsiString& name);
  void WritePropertiesPrefixed(TPersistent* instance, const AnsiString& prefix);
  void WriteProperty(const TPublishedProperty& p, const AnsiString& prefix);
  void WriteBytes(const void* p, int64_t n) { stream_.WriteBuffer(p, n); }
  AnsiString prop_path_;
};

class TReader : public TFiler {
 public:
  explicit TReader(TStream& stream) : TFiler(stream) {}

  void DefineProperty(const AnsiString& name, TReaderProc read, TWriterProc write, bool has_data) override;
  void DefineBinaryProperty(const AnsiString& name, TStreamProc read, TStreamProc write, bool has_data) override;

  // Reads the signature and a component into root; with root nullptr a new component of
  // the class the stream names is created (it must be registered and a TComponent). The
  // caller owns a created root.
  TComponent* ReadRootComponent(TComponent* root);
  void ReadSignature();
  // Reads one component: into component when given (the stream's class name must be
  // the component's), else a new one of the registered class, owned by the root.
  TComponent* ReadComponent(TComponent* component);
  // Reads properties up to the end of the list into instance.
  void ReadProperties(TPersistent* instance);
  void ReadCollection(TCollection* collection);

  TValueType ReadValue();
  TValueType NextValue();
  bool EndOfList();
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  int32_t ReadInteger();
  int64_t ReadInt64();
  bool ReadBoolean();
  AnsiString ReadString();
  WideString ReadWideString();
  long double ReadFloat();
  float ReadSingle();
  double ReadDate();
  AnsiString ReadIdent();
  AnsiString ReadStr();
  std::string ReadBinary();
  // Skips one value of any type.
  void SkipValue();

 private:
  void CheckValue(TValueType expected);
  void ReadProperty(TPersistent* instance);
  void ReadPropValue(const TPublishedProperty& p);
  void ReadBytes(void* p, int64_t n) { stream_.ReadBuffer(p, n); }
  AnsiString prop_name_;
  bool prop_handled_ = false;
  int32_t depth_ = 0;  // nesting of components and lists being read
};

// ---- Class registry ----------------------------------------------------------------------
using TPersistentFactory = std::function<TPersistent*()>;

// Registers the class of this name (the name a stream carries); registering a name again
// replaces its factory.
void RegisterClassFactory(const AnsiString& name, TPersistentFactory factory);
template <typename T>
void RegisterClass(const AnsiString& name) {
  RegisterClassFactory(name, []() -> TPersistent* {
    if constexpr (std::is_constructible_v<T, TComponent*>)
      return new T(nullptr);
    else
      return new T();
  });
}
void UnRegisterClass(const AnsiString& name);
// The factory of a registered name (compared without case), or nullptr.
const TPersistentFactory* FindClassFactory(const AnsiString& name);

// A new object of the registered class named name; nullptr when the name is not registered
// or its class does not derive from Base (the object made for the test is freed again).
template <typename Base>
std::unique_ptr<Base> CreateRegistered(const AnsiString& name) {
  const TPersistentFactory* f = FindClassFactory(name);
  if (!f) return nullptr;
  std::unique_ptr<TPersistent> obj((*f)());
  if (auto* b = dynamic_cast<Base*>(obj.get())) {
    obj.release();
    return std::unique_ptr<Base>(b);
  }
  return nullptr;
}

// Stream helpers: the component with its children in the binary form, and back.
void WriteComponentToStream(TStream& stream, TComponent* component);
// Reads into component when given, else creates the registered class the stream names.
TComponent* ReadComponentFromStream(TStream& stream, TComponent* component);

}  // namespace pelvar
