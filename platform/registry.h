// TRegistry and TRegIniFile: the current user's and the local machine's registry, kept
// in one file.
//
// The store is the file named by $PELVAR_REGISTRY, else
// $XDG_CONFIG_HOME/pelvar/registry.reg (~/.config when XDG_CONFIG_HOME is unset). It is
// Windows-1250 text, one "[ROOT\Key\Sub]" line per key followed by its values. Keys and
// value names compare case-insensitively, as on Windows, and keep the spelling they were
// created with. Every operation reads the store afresh (cached while the file is
// unchanged) and every change is written at once: under a lock shared by all processes,
// to a temporary file renamed over the store, so other processes see it at once, nothing
// written by another process is lost, and a crash never leaves a half-written store. A
// damaged store raises ERegistryException naming the file and the line, and is never
// overwritten.
#pragma once

#include <cstdint>

#include "platform/classes.h"
#include "platform/currency.h"
#include "platform/types.h"

namespace pelvar {

using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
constexpr HKEY HKEY_USERS = 0x80000003;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;

constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
  TRegDataType RegData = rdUnknown;
  int32_t DataSize = 0;
};

class TRegistry : public TObject {
 public:
  // The current user's root, no key open.
  explicit TRegistry(uint32_t access = KEY_ALL_ACCESS);
  ~TRegistry() override;

  HKEY RootKey() const { return root_; }
  // Closes the open key.
  void SetRootKey(HKEY root);
  uint32_t Access() const { return access_; }
  void SetAccess(uint32_t access) { access_ = access; }
  bool LazyWrite() const { return lazy_write_; }
  void SetLazyWrite(bool v) { lazy_write_ = v; }  // writes are immediate either way

  // Non-zero while a key is open.
  HKEY CurrentKey() const { return open_ ? root_ : 0; }
  // The open key's path below the root, without a leading '\'.
  AnsiString CurrentPath() const;

  // A key starting with '\' is taken from the root, any other relative to the open key
  // (from the root when none is open). With can_create, missing keys are created
  // (unless the access is read-only). True when the key is now open.
  bool OpenKey(const AnsiString& key, bool can_create);
  bool OpenKeyReadOnly(const AnsiString& key);
  void CloseKey();
  // Creates the key and its missing parents; raises ERegistryException when that is
  // not possible; true otherwise.
  bool CreateKey(const AnsiString& key);
  // Deletes the key with all its sub-keys and values; false when it does not exist.
  bool DeleteKey(const AnsiString& key);
  bool KeyExists(const AnsiString& key);
  // Moves (or with !del copies) a key with everything below it to a new name.
  void MoveKey(const AnsiString& old_name, const AnsiString& new_name, bool del);

  // Of the open key. Names are sorted (case-insensitively) for keys and in creation
  // order for values.
  bool HasSubKeys();
  void GetKeyNames(TStrings* strings);
  void GetValueNames(TStrings* strings);
  bool ValueExists(const AnsiString& name);
  bool DeleteValue(const AnsiString& name);
  void RenameValue(const AnsiString& old_name, const AnsiString& new_name);
  bool GetDataInfo(const AnsiString& name, TRegDataInfo& info);
  TRegDataType GetDataType(const AnsiString& name);
  // -1 when the value does not exist; strings count their terminating null.
  int32_t GetDataSize(const AnsiString& name);

  // Reading a missing value raises ERegistryException, except ReadString (empty) and
  // ReadBinaryData (0); so does a value of another type.
  AnsiString ReadString(const AnsiString& name);
  void WriteString(const AnsiString& name, const AnsiString& value);
  void WriteExpandString(const AnsiString& name, const AnsiString& value);
  int32_t ReadInteger(const AnsiString& name);
  void WriteInteger(const AnsiString& name, int32_t value);
  bool ReadBool(const AnsiString& name);
  void WriteBool(const AnsiString& name, bool value);
  // Binary values of 8 bytes, as the framework stores them.
  double ReadFloat(const AnsiString& name);
  void WriteFloat(const AnsiString& name, double value);
  TDateTime ReadDateTime(const AnsiString& name);
  void WriteDateTime(const AnsiString& name, TDateTime value);
  TDateTime ReadDate(const AnsiString& name) { return ReadDateTime(name); }
  void WriteDate(const AnsiString& name, TDateTime value) { WriteDateTime(name, value); }
  TDateTime ReadTime(const AnsiString& name) { return ReadDateTime(name); }
  void WriteTime(const AnsiString& name, TDateTime value) { WriteDateTime(name, value); }
  Currency ReadCurrency(const AnsiString& name);
  void WriteCurrency(const AnsiString& name, Currency value);
  // Copies the value into buffer and returns its size (0 when missing); raises when the
  // buffer is too small or the value is not binary.
  int32_t ReadBinaryData(const AnsiString& name, void* buffer, int32_t buf_size);
  void WriteBinaryData(const AnsiString& name, const void* buffer, int32_t buf_size);

  // The file that holds the registry.
  static AnsiString StoreFileName();

 protected:
  // The open key's value; false when there is none.
  bool ReadValue(const AnsiString& name, TRegDataType& type, std::string& data);
  void WriteValue(const AnsiString& name, TRegDataType type, const std::string& data);
  // The path below the root that a key name means (see OpenKey).
  std::vector<AnsiString> Resolve(const AnsiString& key) const;
  bool CanWrite() const;

  HKEY root_ = HKEY_CURRENT_USER;
  uint32_t access_;
  bool lazy_write_ = true;
  bool open_ = false;
  bool read_only_ = false;
  std::vector<AnsiString> path_;
};

// The registry with the interface of an INI file: "sections" are sub-keys of the key
// given to the constructor (created when missing), "idents" are values. Integers and
// Booleans are stored as text, as the framework does; reading accepts either kind.
class TRegIniFile : public TRegistry {
 public:
  explicit TRegIniFile(const AnsiString& file_name, uint32_t access = KEY_ALL_ACCESS);

  const AnsiString& FileName() const { return file_name_; }

  AnsiString ReadString(const AnsiString& section, const AnsiString& ident,
                        const AnsiString& def);
  void WriteString(const AnsiString& section, const AnsiString& ident, const AnsiString& value);
  int32_t ReadInteger(const AnsiString& section, const AnsiString& ident, int32_t def);
  void WriteInteger(const AnsiString& section, const AnsiString& ident, int32_t value);
  bool ReadBool(const AnsiString& section, const AnsiString& ident, bool def);
  void WriteBool(const AnsiString& section, const AnsiString& ident, bool value);
  // Value names of the section.
  void ReadSection(const AnsiString& section, TStrings* strings);
  // Sub-key names.
  void ReadSections(TStrings* strings);
  void ReadSectionValues(const AnsiString& section, TStrings* strings);
  void EraseSection(const AnsiString& section);
  void DeleteKey(const AnsiString& section, const AnsiString& ident);

  using TRegistry::DeleteKey;
  using TRegistry::ReadBool;
  using TRegistry::ReadInteger;
  using TRegistry::ReadString;
  using TRegistry::WriteBool;
  using TRegistry::WriteInteger;
  using TRegistry::WriteString;

 private:
  // Runs fn with the section's key open (a sub-key of the file's key; the file's key
  // itself for an empty section), then reopens the file's key.
  template <typename Fn>
  bool InSection(const AnsiString& section, bool create, Fn fn);
  AnsiString file_name_;
};

}  // namespace pelvar
