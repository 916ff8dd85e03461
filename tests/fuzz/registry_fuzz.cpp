// libFuzzer target for the registry-file reader: arbitrary bytes as the registry store.
// A damaged store must be refused with ERegistryException; a store that loads is walked
// whole (every key opened by the name it is listed under, every value read as its type
// says), and one value written to it must leave everything else as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/classes.h"
#include "platform/registry.h"
#include "platform/sysutils.h"

namespace {

using namespace pelvar;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant failed: %s\n", what);
  std::abort();
}

const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                       HKEY_CURRENT_CONFIG};

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Lines for every key below the root (its path) and every value (path, name, type and
// data, read through the typed calls), leaving out the probe value at the root.
void DumpKey(TRegistry& reg, const AnsiString& path, int depth, std::string& out) {
  if (depth > 200) return;
  if (!reg.OpenKeyReadOnly(path.empty() ? AnsiString("\\") : path)) Fail("a listed key cannot be opened");
  if (!path.empty()) out += path + "\n";
  TStringList names;
  reg.GetValueNames(&names);
  for (int32_t i = 0; i < names.Count(); ++i) {
    const AnsiString name = names.Strings(i);
    if (path.empty() && reg.RootKey() == HKEY_CURRENT_USER && AnsiSameText(name, "FuzzProbe")) continue;
    if (!reg.ValueExists(name)) Fail("a listed value does not exist");
    TRegDataInfo info;
    if (!reg.GetDataInfo(name, info)) Fail("a listed value has no data info");
    std::string data;
    switch (info.RegData) {
      case rdString:
      case rdExpandString:
        data = reg.ReadString(name);
        if (static_cast<int32_t>(data.size()) + 1 != info.DataSize) Fail("string size");
        break;
      case rdInteger:
        data = IntToStr(reg.ReadInteger(name));
        break;
      default: {
        std::string buf(static_cast<size_t>(info.DataSize), '\0');
        if (reg.ReadBinaryData(name, buf.data(), info.DataSize) != info.DataSize) Fail("binary size");
        data = Hex(buf);
        if (info.DataSize == 8) {
          (void)reg.ReadFloat(name);
          (void)reg.ReadCurrency(name);
        }
        break;
      }
    }
    out += path + "|" + name + "|" + IntToStr(info.RegData) + "|" + data + "\n";
  }
  TStringList keys;
  reg.GetKeyNames(&keys);
  for (int32_t i = 0; i < keys.Count(); ++i) DumpKey(reg, path + "\\" + keys.Strings(i), depth + 1, out);
}

std::string Dump() {
  std::string out;
  for (HKEY root : kRoots) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(root);
    out += "root " + IntToStr(static_cast<int64_t>(root)) + "\n";
    if (reg.KeyExists("\\")) DumpKey(reg, AnsiString(), 0, out);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("PELVAR_REGISTRY", (fuzz::ScratchDir() + "/registry.reg").c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  fuzz::WriteInput("registry.reg", data, size);
  std::string before;
  try {
    before = Dump();
  } catch (const ERegistryException&) {
    return 0;  // a damaged store is refused
  }
  TRegistry reg;
  if (!reg.OpenKey("\\", true)) Fail("the root cannot be opened for writing");
  reg.WriteString("FuzzProbe", "probe");
  if (reg.ReadString("FuzzProbe") != "probe") Fail("a written value does not read back");
  if (Dump() != before) Fail("writing a value changed the rest of the store");
  return 0;
}
