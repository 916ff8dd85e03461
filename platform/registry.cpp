#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

#include "platform/codepage.h"
#include "platform/inifiles.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

// --- The tree --------------------------------------------------------------------------

struct RegValue {
  AnsiString name;
  TRegDataType type = rdUnknown;
  std::string data;  // text, 4 little-endian bytes, or the binary bytes
};

struct RegKey {
  AnsiString name;
  std::vector<std::unique_ptr<RegKey>> keys;  // sorted case-insensitively
  std::vector<RegValue> values;               // in creation order

  RegKey* Find(const AnsiString& n) const {
    for (const auto& k : keys)
      if (AnsiSameText(k->name, n)) return k.get();
    return nullptr;
  }
  RegKey* FindOrCreate(const AnsiString& n) {
    if (RegKey* k = Find(n)) return k;
    auto key = std::make_unique<RegKey>();
    key->name = n;
    auto at = std::find_if(keys.begin(), keys.end(), [&](const auto& k) {
      return AnsiCompareText(k->name, n) > 0;
    });
    return keys.insert(at, std::move(key))->get();
  }
  bool Remove(const AnsiString& n) {
    auto it = std::find_if(keys.begin(), keys.end(),
                           [&](const auto& k) { return AnsiSameText(k->name, n); });
    if (it == keys.end()) return false;
    keys.erase(it);
    return true;
  }
  RegValue* FindValue(const AnsiString& n) {
    for (auto& v : values)
      if (AnsiSameText(v.name, n)) return &v;
    return nullptr;
  }
  const RegValue* FindValue(const AnsiString& n) const {
    return const_cast<RegKey*>(this)->FindValue(n);
  }
  std::unique_ptr<RegKey> Clone() const {
    auto c = std::make_unique<RegKey>();
    c->name = name;
    c->values = values;
    for (const auto& k : keys) c->keys.push_back(k->Clone());
    return c;
  }
};

const char* RootName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    default: return nullptr;
  }
}

RegKey* Walk(RegKey* tree, HKEY root, const std::vector<AnsiString>& path, bool create) {
  const char* root_name = RootName(root);
  if (!root_name) return nullptr;
  RegKey* k = create ? tree->FindOrCreate(root_name) : tree->Find(root_name);
  for (const AnsiString& seg : path) {
    if (!k) return nullptr;
    k = create ? k->FindOrCreate(seg) : k->Find(seg);
  }
  return k;
}

const RegKey* Find(const std::shared_ptr<const RegKey>& tree, HKEY root,
                  const std::vector<AnsiString>& path) {
  // Walk does not change the tree without create.
  return Walk(const_cast<RegKey*>(tree.get()), root, path, false);
}

// --- The file format ---------------------------------------------------------------------

const char kMagic[] = "PELVAR REGISTRY 1";

const char kHex[] = "0123456789ABCDEF";

std::string Hex2(unsigned char c) { return {kHex[c >> 4], kHex[c & 15]}; }

std::string QuoteText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x" + Hex2(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string EscapeSegment(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F || c == '%')
      out += "%" + Hex2(c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

void WriteKey(std::string& out, const RegKey& key, const std::string& path) {
  out += "\n[" + path + "]\n";
  for (const RegValue& v : key.values) {
    out += QuoteText(v.name) + "=";
    switch (v.type) {
      case rdString: out += QuoteText(v.data); break;
      case rdExpandString: out += "expand:" + QuoteText(v.data); break;
      case rdInteger: {
        uint32_t n = 0;
        std::memcpy(&n, v.data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08X", n);
        out += buf;
        break;
      }
      default:
        out += "hex:";
        for (size_t i = 0; i < v.data.size(); ++i) {
          if (i) out += ',';
          out += Hex2(static_cast<unsigned char>(v.data[i]));
        }
        break;
    }
    out += "\n";
  }
  for (const auto& k : key.keys) WriteKey(out, *k, path + "\\" + EscapeSegment(k->name));
}

std::string Serialize(const RegKey& tree) {
  std::string out = std::string(kMagic) + "\n";
  for (const auto& root : tree.keys) WriteKey(out, *root, root->name);
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

class Parser {
 public:
  Parser(const std::string& file, const std::string& data) : file_(file), data_(data) {}

  std::unique_ptr<RegKey> Parse() {
    auto tree = std::make_unique<RegKey>();
    if (data_.empty()) return tree;
    RegKey* key = nullptr;
    size_t pos = 0;
    while (pos < data_.size()) {
      size_t end = data_.find('\n', pos);
      if (end == std::string::npos) end = data_.size();
      std::string line = data_.substr(pos, end - pos);
      pos = end + 1;
      ++line_no_;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line_no_ == 1) {
        if (line != kMagic) Fail(CZ("chybí záhlaví \"") + kMagic + "\"");
        continue;
      }
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        if (line.back() != ']') Fail(CZ("neukončený název klíče"));
        key = ParseKeyPath(*tree, line.substr(1, line.size() - 2));
        continue;
      }
      if (line[0] != '"') Fail(CZ("neznámý řádek"));
      if (!key) Fail(CZ("hodnota mimo klíč"));
      size_t i = 0;
      RegValue v;
      v.name = ParseQuoted(line, i);
      if (i >= line.size() || line[i] != '=') Fail(CZ("chybí '=' za názvem hodnoty"));
      ++i;
      ParseData(line.substr(i), v);
      if (key->FindValue(v.name)) Fail(CZ("hodnota uvedena dvakrát"));
      key->values.push_back(std::move(v));
    }
    return tree;
  }

 private:
  [[noreturn]] void Fail(const AnsiString& reason) {
    throw ERegistryException(CZ("Soubor registru \"") + Utf8ToAnsi(file_) + CZ("\" je poškozen (řádek ") +
                             IntToStr(line_no_) + "): " + reason +
                             CZ(". Soubor nebyl změněn; opravte jej nebo jej odstraňte."));
  }

  RegKey* ParseKeyPath(RegKey& tree, const std::string& path) {
    RegKey* k = &tree;
    size_t start = 0;
    bool first = true;
    for (;;) {
      const size_t bs = path.find('\\', start);
      const std::string seg = Unescape(path.substr(start, bs == std::string::npos ? bs : bs - start));
      if (seg.empty()) Fail(CZ("prázdný název klíče"));
      if (first && seg != "HKEY_CLASSES_ROOT" && seg != "HKEY_CURRENT_USER" &&
          seg != "HKEY_LOCAL_MACHINE" && seg != "HKEY_USERS" && seg != "HKEY_CURRENT_CONFIG")
        Fail(CZ("neznámý kořenový klíč"));
      first = false;
      k = k->FindOrCreate(seg);
      if (bs == std::string::npos) return k;
      start = bs + 1;
    }
  }

  std::string Unescape(const std::string& seg) {
    std::string out;
    for (size_t i = 0; i < seg.size(); ++i) {
      if (seg[i] != '%') {
        out += seg[i];
        continue;
      }
      if (i + 2 >= seg.size() || HexDigit(seg[i + 1]) < 0 || HexDigit(seg[i + 2]) < 0)
        Fail(CZ("chybná sekvence % v názvu klíče"));
      const char c = static_cast<char>(HexDigit(seg[i + 1]) * 16 + HexDigit(seg[i + 2]));
      // A key name never holds the separator: such a key could be listed but never
      // opened, and the next write would store it as two nested keys.
      if (c == '\\') Fail(CZ("zpětné lomítko v názvu klíče"));
      out += c;
      i += 2;
    }
    return out;
  }

  // A "..." string starting at line[i]; i ends after the closing quote.
  std::string ParseQuoted(const std::string& line, size_t& i) {
    if (i >= line.size() || line[i] != '"') Fail(CZ("chybí uvozovky"));
    std::string out;
    for (++i; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        ++i;
        return out;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (++i >= line.size()) break;
      if (line[i] == '\\' || line[i] == '"') {
        out += line[i];
      } else if (line[i] == 'x' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
                 HexDigit(line[i + 2]) >= 0) {
        out += static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
        i += 2;
      } else {
        Fail(CZ("chybná sekvence \\ v textu"));
      }
    }
    Fail(CZ("neukončený text"));
  }

  void ParseData(const std::string& s, RegValue& v) {
    size_t i = 0;
    if (!s.empty() && s[0] == '"') {
      v.type = rdString;
      v.data = ParseQuoted(s, i);
    } else if (s.rfind("expand:", 0) == 0) {
      v.type = rdExpandString;
      i = 7;
      v.data = ParseQuoted(s, i);
    } else if (s.rfind("dword:", 0) == 0) {
      if (s.size() != 14) Fail(CZ("chybné číslo"));
      uint32_t n = 0;
      for (size_t j = 6; j < 14; ++j) {
        const int d = HexDigit(s[j]);
        if (d < 0) Fail(CZ("chybné číslo"));
        n = n * 16 + static_cast<uint32_t>(d);
      }
      v.type = rdInteger;
      v.data.assign(reinterpret_cast<const char*>(&n), 4);
      i = s.size();
    } else if (s.rfind("hex:", 0) == 0) {
      v.type = rdBinary;
      for (i = 4; i < s.size();) {
        if (i + 1 >= s.size() || HexDigit(s[i]) < 0 || HexDigit(s[i + 1]) < 0)
          Fail(CZ("chybná binární data"));
        v.data += static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1]));
        i += 2;
        if (i < s.size()) {
          if (s[i] != ',' || i + 1 == s.size()) Fail(CZ("chybná binární data"));
          ++i;
        }
      }
    } else {
      Fail(CZ("neznámý typ hodnoty"));
    }
    if (i != s.size()) Fail(CZ("nadbytečné znaky za hodnotou"));
  }

  std::string file_;
  const std::string& data_;
  int line_no_ = 0;
};

// --- The store ----------------------------------------------------------------------------

std::string StorePath() {
  if (const char* env = std::getenv("PELVAR_REGISTRY"); env && *env) return env;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/pelvar/registry.reg";
}

struct Signature {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const Signature&) const = default;
};

Signature SignatureOf(const std::string& path) {
  Signature s;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

struct CacheEntry {
  Signature sig;
  std::shared_ptr<const RegKey> tree;
};

std::mutex& StoreMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, CacheEntry>& Cache() {
  static std::map<std::string, CacheEntry> cache;
  return cache;
}

// The current tree of the store (StoreMutex held).
std::shared_ptr<const RegKey> LoadLocked(const std::string& path) {
  CacheEntry& entry = Cache()[path];
  for (int attempt = 0;; ++attempt) {
    const Signature sig = SignatureOf(path);
    if (entry.tree && sig == entry.sig) return entry.tree;
    if (!sig.exists) {
      entry = {sig, std::make_shared<RegKey>()};
      return entry.tree;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      if (attempt < 3) continue;  // replaced between stat and open
      throw ERegistryException(CZ("Nelze číst soubor registru \"") + Utf8ToAnsi(path) + "\": " +
                               Utf8ToAnsi(std::strerror(errno)));
    }
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (SignatureOf(path) != sig && attempt < 3) continue;  // changed while reading
    std::shared_ptr<const RegKey> tree = Parser(path, data).Parse();
    entry = {sig, tree};
    return tree;
  }
}

std::shared_ptr<const RegKey> LoadStore() {
  std::lock_guard lock(StoreMutex());
  return LoadLocked(StorePath());
}

// Runs change on a copy of the current tree under the store's lock (shared by all
// processes) and writes the result when change returns true. What change returns is
// passed on.
template <typename Fn>
bool ModifyStore(Fn change) {
  std::lock_guard lock(StoreMutex());
  const std::string path = StorePath();
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  const std::string lock_path = path + ".lock";
  const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    throw ERegistryException(CZ("Nelze zamknout soubor registru \"") + Utf8ToAnsi(lock_path) +
                             "\": " + Utf8ToAnsi(std::strerror(errno)));
  struct FdGuard {
    int fd;
    ~FdGuard() { ::close(fd); }  // closing releases the lock
  } guard{fd};
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  const std::shared_ptr<const RegKey> current = LoadLocked(path);
  std::shared_ptr<RegKey> copy = current->Clone();
  if (!change(*copy)) return false;
  try {
    ReplaceFileAtomically(path, Serialize(*copy));
  } catch (const EInOutError& e) {
    throw ERegistryException(CZ("Nelze zapsat soubor registru: ") + e.Message());
  }
  Cache()[path] = {SignatureOf(path), copy};
  return true;
}

std::vector<AnsiString> SplitKey(const AnsiString& key) {
  std::vector<AnsiString> out;
  size_t start = 0;
  while (start <= key.size()) {
    size_t bs = key.find('\\', start);
    if (bs == AnsiString::npos) bs = key.size();
    if (bs > start) out.push_back(key.substr(start, bs - start));
    start = bs + 1;
  }
  return out;
}

[[noreturn]] void GetDataFailed(const AnsiString& name) {
  throw ERegistryException(CZ("Nelze získat data pro '") + name + "'");
}
[[noreturn]] void InvalidType(const AnsiString& name) {
  throw ERegistryException(CZ("Neplatný typ dat pro '") + name + "'");
}
[[noreturn]] void SetDataFailed(const AnsiString& name) {
  throw ERegistryException(CZ("Nelze nastavit data pro '") + name + "'");
}

int32_t DataSize(const RegValue& v) {
  const bool text = v.type == rdString || v.type == rdExpandString;
  return static_cast<int32_t>(v.data.size() + (text ? 1 : 0));
}

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

}  // namespace

// --- TRegistry ----------------------------------------------------------------------------

TRegistry::TRegistry(uint32_t access) : access_(access) {}

TRegistry::~TRegistry() = default;

AnsiString TRegistry::StoreFileName() { return Utf8ToAnsi(StorePath()); }

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  root_ = root;
}

AnsiString TRegistry::CurrentPath() const {
  AnsiString s;
  for (const AnsiString& seg : path_) s += (s.empty() ? "" : "\\") + seg;
  return s;
}

bool TRegistry::CanWrite() const { return (access_ & KEY_WRITE & ~KEY_READ) != 0; }

std::vector<AnsiString> TRegistry::Resolve(const AnsiString& key) const {
  std::vector<AnsiString> segs = SplitKey(key);
  if (!key.empty() && key[0] == '\\') return segs;
  std::vector<AnsiString> out = open_ ? path_ : std::vector<AnsiString>{};
  out.insert(out.end(), segs.begin(), segs.end());
  return out;
}

bool TRegistry::OpenKey(const AnsiString& key, bool can_create) {
  const std::vector<AnsiString> path = Resolve(key);
  if (!RootName(root_)) return false;
  bool ok;
  if (can_create && CanWrite()) {
    ok = true;
    ModifyStore([&](RegKey& tree) {
      const bool existed = Walk(&tree, root_, path, false) != nullptr;
      Walk(&tree, root_, path, true);
      return !existed;
    });
  } else {
    const auto tree = LoadStore();
    ok = Find(tree, root_, path) != nullptr || path.empty();
  }
  if (ok) {
    path_ = path;
    open_ = true;
    read_only_ = !CanWrite();
  }
  return ok;
}

bool TRegistry::OpenKeyReadOnly(const AnsiString& key) {
  const std::vector<AnsiString> path = Resolve(key);
  const auto tree = LoadStore();
  if (!RootName(root_)) return false;
  if (!path.empty() && !Find(tree, root_, path)) return false;
  path_ = path;
  open_ = true;
  read_only_ = true;
  return true;
}

void TRegistry::CloseKey() {
  open_ = false;
  read_only_ = false;
  path_.clear();
}

bool TRegistry::CreateKey(const AnsiString& key) {
  const std::vector<AnsiString> path = Resolve(key);
  if (!CanWrite() || !RootName(root_) || path.empty())
    throw ERegistryException(CZ("Nelze vytvořit klíč ") + key);
  ModifyStore([&](RegKey& tree) {
    const bool existed = Walk(&tree, root_, path, false) != nullptr;
    Walk(&tree, root_, path, true);
    return !existed;
  });
  return true;
}

bool TRegistry::DeleteKey(const AnsiString& key) {
  std::vector<AnsiString> path = Resolve(key);
  if (path.empty() || !CanWrite()) return false;
  const AnsiString last = path.back();
  path.pop_back();
  return ModifyStore([&](RegKey& tree) {
    RegKey* parent = Walk(&tree, root_, path, false);
    return parent && parent->Remove(last);
  });
}

bool TRegistry::KeyExists(const AnsiString& key) {
  const std::vector<AnsiString> path = Resolve(key);
  if (!RootName(root_)) return false;
  const auto tree = LoadStore();
  return path.empty() || Find(tree, root_, path) != nullptr;
}

void TRegistry::MoveKey(const AnsiString& old_name, const AnsiString& new_name, bool del) {
  std::vector<AnsiString> from = Resolve(old_name), to = Resolve(new_name);
  if (from.empty() || to.empty() || !CanWrite()) return;
  ModifyStore([&](RegKey& tree) {
    RegKey* src = Walk(&tree, root_, from, false);
    if (!src || Walk(&tree, root_, to, false)) return false;
    // Not into itself.
    if (to.size() > from.size() &&
        std::equal(from.begin(), from.end(), to.begin(),
                   [](const AnsiString& a, const AnsiString& b) { return AnsiSameText(a, b); }))
      return false;
    std::unique_ptr<RegKey> copy = src->Clone();
    const AnsiString new_last = to.back();
    to.pop_back();
    RegKey* dest_parent = Walk(&tree, root_, to, true);
    RegKey* dest = dest_parent->FindOrCreate(new_last);
    dest->keys = std::move(copy->keys);
    dest->values = std::move(copy->values);
    if (del) {
      const AnsiString last = from.back();
      from.pop_back();
      Walk(&tree, root_, from, false)->Remove(last);
    }
    return true;
  });
}

bool TRegistry::HasSubKeys() {
  if (!open_) return false;
  const auto tree = LoadStore();
  const RegKey* k = Find(tree, root_, path_);
  return k && !k->keys.empty();
}

void TRegistry::GetKeyNames(TStrings* strings) {
  strings->BeginUpdate();
  strings->Clear();
  if (open_) {
    const auto tree = LoadStore();
    if (const RegKey* k = Find(tree, root_, path_))
      for (const auto& sub : k->keys) strings->Add(sub->name);
  }
  strings->EndUpdate();
}

void TRegistry::GetValueNames(TStrings* strings) {
  strings->BeginUpdate();
  strings->Clear();
  if (open_) {
    const auto tree = LoadStore();
    if (const RegKey* k = Find(tree, root_, path_))
      for (const RegValue& v : k->values) strings->Add(v.name);
  }
  strings->EndUpdate();
}

bool TRegistry::ReadValue(const AnsiString& name, TRegDataType& type, std::string& data) {
  if (!open_) return false;
  const auto tree = LoadStore();
  const RegKey* k = Find(tree, root_, path_);
  const RegValue* v = k ? k->FindValue(name) : nullptr;
  if (!v) return false;
  type = v->type;
  data = v->data;
  return true;
}

void TRegistry::WriteValue(const AnsiString& name, TRegDataType type, const std::string& data) {
  if (!open_ || read_only_ || !CanWrite()) SetDataFailed(name);
  const bool ok = ModifyStore([&](RegKey& tree) {
    RegKey* k = Walk(&tree, root_, path_, false);
    if (!k) return false;  // the open key was deleted meanwhile
    if (RegValue* v = k->FindValue(name)) {
      v->type = type;
      v->data = data;
    } else {
      k->values.push_back({name, type, data});
    }
    return true;
  });
  if (!ok) SetDataFailed(name);
}

bool TRegistry::ValueExists(const AnsiString& name) {
  TRegDataType type;
  std::string data;
  return ReadValue(name, type, data);
}

bool TRegistry::DeleteValue(const AnsiString& name) {
  if (!open_ || read_only_ || !CanWrite()) return false;
  return ModifyStore([&](RegKey& tree) {
    RegKey* k = Walk(&tree, root_, path_, false);
    if (!k) return false;
    auto it = std::find_if(k->values.begin(), k->values.end(),
                           [&](const RegValue& v) { return AnsiSameText(v.name, name); });
    if (it == k->values.end()) return false;
    k->values.erase(it);
    return true;
  });
}

void TRegistry::RenameValue(const AnsiString& old_name, const AnsiString& new_name) {
  if (!open_ || read_only_ || !CanWrite()) return;
  ModifyStore([&](RegKey& tree) {
    RegKey* k = Walk(&tree, root_, path_, false);
    if (!k) return false;
    RegValue* v = k->FindValue(old_name);
    if (!v || k->FindValue(new_name)) return false;
    v->name = new_name;
    return true;
  });
}

bool TRegistry::GetDataInfo(const AnsiString& name, TRegDataInfo& info) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) {
    info = {};
    return false;
  }
  info.RegData = type;
  info.DataSize = DataSize(RegValue{name, type, data});
  return true;
}

TRegDataType TRegistry::GetDataType(const AnsiString& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.RegData : rdUnknown;
}

int32_t TRegistry::GetDataSize(const AnsiString& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.DataSize : -1;
}

AnsiString TRegistry::ReadString(const AnsiString& name) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) return {};
  if (type != rdString && type != rdExpandString) InvalidType(name);
  return data;
}

void TRegistry::WriteString(const AnsiString& name, const AnsiString& value) {
  WriteValue(name, rdString, value);
}

void TRegistry::WriteExpandString(const AnsiString& name, const AnsiString& value) {
  WriteValue(name, rdExpandString, value);
}

int32_t TRegistry::ReadInteger(const AnsiString& name) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) GetDataFailed(name);
  if (type != rdInteger || data.size() != 4) InvalidType(name);
  int32_t v;
  std::memcpy(&v, data.data(), 4);
  return v;
}

void TRegistry::WriteInteger(const AnsiString& name, int32_t value) {
  WriteValue(name, rdInteger, Bytes(&value, 4));
}

bool TRegistry::ReadBool(const AnsiString& name) { return ReadInteger(name) != 0; }

void TRegistry::WriteBool(const AnsiString& name, bool value) { WriteInteger(name, value ? 1 : 0); }

double TRegistry::ReadFloat(const AnsiString& name) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) GetDataFailed(name);
  if (type != rdBinary || data.size() != sizeof(double)) InvalidType(name);
  double v;
  std::memcpy(&v, data.data(), sizeof v);
  return v;
}

void TRegistry::WriteFloat(const AnsiString& name, double value) {
  WriteValue(name, rdBinary, Bytes(&value, sizeof value));
}

TDateTime TRegistry::ReadDateTime(const AnsiString& name) { return ReadFloat(name); }

void TRegistry::WriteDateTime(const AnsiString& name, TDateTime value) { WriteFloat(name, value); }

Currency TRegistry::ReadCurrency(const AnsiString& name) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) GetDataFailed(name);
  if (type != rdBinary || data.size() != 8) InvalidType(name);
  int64_t raw;
  std::memcpy(&raw, data.data(), 8);
  return Currency::FromRaw(raw);
}

void TRegistry::WriteCurrency(const AnsiString& name, Currency value) {
  const int64_t raw = value.Raw();
  WriteValue(name, rdBinary, Bytes(&raw, 8));
}

int32_t TRegistry::ReadBinaryData(const AnsiString& name, void* buffer, int32_t buf_size) {
  TRegDataType type;
  std::string data;
  if (!ReadValue(name, type, data)) return 0;
  if ((type != rdBinary && type != rdUnknown) || static_cast<int64_t>(data.size()) > buf_size)
    InvalidType(name);
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return static_cast<int32_t>(data.size());
}

void TRegistry::WriteBinaryData(const AnsiString& name, const void* buffer, int32_t buf_size) {
  WriteValue(name, rdBinary, buf_size > 0 ? Bytes(buffer, static_cast<size_t>(buf_size)) : "");
}

// --- TRegIniFile --------------------------------------------------------------------------

TRegIniFile::TRegIniFile(const AnsiString& file_name, uint32_t access)
    : TRegistry(access), file_name_(file_name) {
  OpenKey(file_name, CanWrite());
}

template <typename Fn>
bool TRegIniFile::InSection(const AnsiString& section, bool create, Fn fn) {
  if (!open_) return false;
  if (section.empty()) {
    fn();
    return true;
  }
  const std::vector<AnsiString> saved = path_;
  const bool saved_read_only = read_only_;
  struct Restore {
    TRegIniFile* self;
    const std::vector<AnsiString>& path;
    bool read_only;
    ~Restore() {
      self->path_ = path;
      self->open_ = true;
      self->read_only_ = read_only;
    }
  } restore{this, saved, saved_read_only};
  if (create) CreateKey(section);
  if (!OpenKey(section, false)) return false;
  read_only_ = saved_read_only;
  fn();
  return true;
}

AnsiString TRegIniFile::ReadString(const AnsiString& section, const AnsiString& ident,
                                   const AnsiString& def) {
  AnsiString result = def;
  InSection(section, false, [&] {
    if (ValueExists(ident)) result = TRegistry::ReadString(ident);
  });
  return result;
}

void TRegIniFile::WriteString(const AnsiString& section, const AnsiString& ident,
                              const AnsiString& value) {
  if (!InSection(section, true, [&] { TRegistry::WriteString(ident, value); }))
    throw ERegistryException(CZ("Nelze nastavit data pro '") + ident + "'");
}

int32_t TRegIniFile::ReadInteger(const AnsiString& section, const AnsiString& ident,
                                 int32_t def) {
  int32_t result = def;
  InSection(section, false, [&] {
    TRegDataInfo info;
    if (!GetDataInfo(ident, info)) return;
    result = info.RegData == rdString || info.RegData == rdExpandString
                 ? StrToIntDef(TRegistry::ReadString(ident), def)
                 : TRegistry::ReadInteger(ident);
  });
  return result;
}

void TRegIniFile::WriteInteger(const AnsiString& section, const AnsiString& ident, int32_t value) {
  WriteString(section, ident, IntToStr(value));
}

bool TRegIniFile::ReadBool(const AnsiString& section, const AnsiString& ident, bool def) {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TRegIniFile::WriteBool(const AnsiString& section, const AnsiString& ident, bool value) {
  WriteInteger(section, ident, value ? 1 : 0);
}

void TRegIniFile::ReadSection(const AnsiString& section, TStrings* strings) {
  strings->BeginUpdate();
  strings->Clear();
  InSection(section, false, [&] { GetValueNames(strings); });
  strings->EndUpdate();
}

void TRegIniFile::ReadSections(TStrings* strings) { GetKeyNames(strings); }

void TRegIniFile::ReadSectionValues(const AnsiString& section, TStrings* strings) {
  strings->BeginUpdate();
  strings->Clear();
  InSection(section, false, [&] {
    TStringList names;
    GetValueNames(&names);
    for (int32_t i = 0; i < names.Count(); ++i) {
      const AnsiString name = names.Get(i);
      TRegDataType type;
      std::string data;
      if (!ReadValue(name, type, data)) continue;
      AnsiString text;
      if (type == rdString || type == rdExpandString) {
        text = data;
      } else if (type == rdInteger && data.size() == 4) {
        int32_t v;
        std::memcpy(&v, data.data(), 4);
        text = IntToStr(v);
      }
      strings->Add(name + "=" + text);
    }
  });
  strings->EndUpdate();
}

void TRegIniFile::EraseSection(const AnsiString& section) {
  if (!section.empty()) TRegistry::DeleteKey(section);
}

void TRegIniFile::DeleteKey(const AnsiString& section, const AnsiString& ident) {
  InSection(section, false, [&] { DeleteValue(ident); });
}

}  // namespace pelvar
