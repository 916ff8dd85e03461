// Practice databases for the play-in tests: one small main database with two stations
// (the current schema and 200624) is generated once per test process by
// tools/practice; every test gets its own file copies of them.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/practice.h"
#include "support/process.h"

namespace pelvar::test {

class PlayPractice {
 public:
  // The generated set (made on first use).
  static const TempDir& Source() {
    static std::unique_ptr<TempDir> dir = [] {
      auto d = std::make_unique<TempDir>("pelvar-playset");
      const CommandResult r =
          GeneratePractice({"--seed", "1", "--size", "small", "--main", d->File("main.fdb"), "--station",
                            d->File("st.fdb"), "--station-version", "200824", "--station", d->File("st624.fdb"),
                            "--station-version", "200624"});
      if (r.exit_code != 0) throw std::runtime_error("practice generation failed: " + r.output);
      return d;
    }();
    return *dir;
  }
  // Copies a generated file ("main.fdb", "st.fdb", "st624.fdb") to path.
  static void CopyTo(const std::string& name, const std::string& path) {
    std::filesystem::copy_file(Source().File(name), path, std::filesystem::copy_options::overwrite_existing);
  }
};

}  // namespace pelvar::test
