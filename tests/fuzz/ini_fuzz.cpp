// libFuzzer target for the INI reader: arbitrary bytes as an INI file, read the way
// settings are read (every section, every key, as text, number, date and flag); then one
// key is written and must read back as written, with every other key unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/classes.h"
#include "platform/inifiles.h"
#include "platform/sysutils.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant failed: %s\n", what);
  std::abort();
}

// Every section's keys with their values as the reader gives them, but for one key.
std::string Dump(const pelvar::TIniFile& ini, const pelvar::AnsiString& skip_section,
                 const pelvar::AnsiString& skip_key) {
  pelvar::TStringList sections, keys;
  ini.ReadSections(&sections);
  std::string out;
  for (int32_t i = 0; i < sections.Count(); ++i) {
    const pelvar::AnsiString section = sections.Strings(i);
    out += "[" + section + "]\n";
    ini.ReadSection(section, &keys);
    for (int32_t j = 0; j < keys.Count(); ++j) {
      const pelvar::AnsiString key = keys.Strings(j);
      if (pelvar::AnsiSameText(section, skip_section) && pelvar::AnsiSameText(key, skip_key)) continue;
      out += key + "=" + ini.ReadString(section, key, "") + "\n";
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelvar;
  if (size > 8192) return 0;
  const AnsiString path = fuzz::WriteInput("input.ini", data, size);
  TIniFile ini(path);
  TStringList sections, keys;
  ini.ReadSections(&sections);
  volatile uint64_t sink = 0;
  for (int32_t i = 0; i < sections.Count(); ++i) {
    const AnsiString section = sections.Strings(i);
    if (!ini.SectionExists(section)) Fail("a listed section does not exist");
    ini.ReadSection(section, &keys);
    for (int32_t j = 0; j < keys.Count(); ++j) {
      const AnsiString key = keys.Strings(j);
      if (!ini.ValueExists(section, key)) Fail("a listed key does not exist");
      sink = sink + ini.ReadString(section, key, "").size() + static_cast<uint32_t>(ini.ReadInteger(section, key, 0)) +
             ini.ReadBool(section, key, false);
      sink = sink + static_cast<uint64_t>(ini.ReadFloat(section, key, 0) != 0) +
             static_cast<uint64_t>(ini.ReadDateTime(section, key, 0) != 0) +
             static_cast<uint64_t>(ini.ReadDate(section, key, 0) != 0) + static_cast<uint64_t>(ini.ReadTime(section, key, 0) != 0);
    }
  }
  // Writing a key found in the file changes that key alone.
  if (sections.Count() > 0) {
    const AnsiString section = sections.Strings(0);
    ini.ReadSection(section, &keys);
    const AnsiString key = keys.Count() > 0 ? keys.Strings(0) : AnsiString("FuzzKey");
    const std::string before = Dump(ini, section, key);
    try {
      ini.WriteString(section, key, "fuzz value");
    } catch (const Exception&) {
      return 0;  // a name with a line break is refused
    }
    if (ini.ReadString(section, key, "") != "fuzz value") Fail("a written key does not read back");
    if (Dump(ini, section, key) != before) Fail("writing a key changed other keys");
  }
  return 0;
}
