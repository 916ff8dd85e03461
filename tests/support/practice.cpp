#include "support/practice.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "support/dbcache.h"

namespace pelvar::test {

namespace {
const std::string kGenerator = std::string(PELVAR_SOURCE_DIR) + "/tools/practice/generate.py";
}

std::string Fixture(const std::string& name) { return std::string(PELVAR_FIXTURES_DIR) + "/" + name; }

std::vector<std::string> ListValues(const std::string& output, const std::string& column) {
  std::vector<std::string> values;
  const std::regex line("^" + column + " +(.*?) *$", std::regex::multiline);
  for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
    values.push_back((*it)[1]);
  return values;
}

std::vector<std::string> Query(const std::string& database, const std::string& sql) {
  const CommandResult r = RunIsql("set list on;\n" + sql + "\n", database);
  if (r.exit_code != 0) throw std::runtime_error("isql-fb failed on " + database + ": " + r.output);
  return ListValues(r.output, "V");
}

std::vector<std::string> QueryBlock(const std::string& database, const std::string& sql) {
  return Query(database, "set term ^ ;\n" + sql + "^\nset term ; ^");
}

std::string QueryOne(const std::string& database, const std::string& sql) {
  const auto values = Query(database, sql);
  return values.size() == 1 ? values[0] : "<" + std::to_string(values.size()) + " rows>";
}

std::unique_ptr<FbTestDb> PracticeSchemaDb(const std::string& file_name) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded, file_name);
  db->RunSqlFile(Fixture("practice_schema.sql"));
  db->RunSqlFile(Fixture("practice_objects.sql"));
  return db;
}

namespace {

// The arguments of a generator run that the cache can stand in for: the same text with
// the database paths left out, and those paths (main first).
struct PracticePlan {
  std::string arguments;
  std::vector<std::string> databases;
};

std::optional<PracticePlan> PlanOf(const std::vector<std::string>& args) {
  static const std::set<std::string> with_value = {"--seed", "--size", "--station-version"};
  PracticePlan plan;
  std::string main;
  std::vector<std::string> stations;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-main-changes") {
      plan.arguments += a + "\n";
      continue;
    }
    if (i + 1 >= args.size()) return std::nullopt;
    const std::string& value = args[++i];
    if (with_value.count(a)) {
      plan.arguments += a + "=" + value + "\n";
    } else if (a == "--main" || a == "--station") {
      if (value.empty() || value.find(':') != std::string::npos) return std::nullopt;
      if (a == "--main") {
        if (!main.empty()) return std::nullopt;
        main = value;
      } else {
        stations.push_back(value);
      }
      plan.arguments += a + "\n";
    } else {
      return std::nullopt;  // anything else (another fixtures folder, a dump, ...) always runs
    }
  }
  if (main.empty()) return std::nullopt;
  plan.databases.push_back(main);
  plan.databases.insert(plan.databases.end(), stations.begin(), stations.end());
  std::set<std::string> distinct;
  for (const auto& d : plan.databases) distinct.insert(std::filesystem::absolute(d).lexically_normal().string());
  if (distinct.size() != plan.databases.size()) return std::nullopt;
  return plan;
}

// Everything a generated practice depends on besides its arguments.
std::string GeneratorInputs() {
  std::string inputs = ReadFile(kGenerator);
  std::set<std::string> fixtures;
  for (const auto& e : std::filesystem::directory_iterator(PELVAR_FIXTURES_DIR))
    if (e.path().extension() == ".sql") fixtures.insert(e.path().string());
  for (const auto& f : fixtures) inputs += "\n--- " + f + "\n" + ReadFile(f);
  return inputs + "\n--- today " + kPracticeToday;
}

}  // namespace

CommandResult GeneratePractice(const std::vector<std::string>& args) {
  const auto plan = PlanOf(args);
  if (!plan || !dbcache::Dir()) return RunPracticeGenerator(args);
  const std::string key = dbcache::Key({"practice v1", GeneratorInputs(), plan->arguments});
  const auto entry = [&](size_t i) { return "." + std::to_string(i) + ".fdb"; };

  dbcache::KeyLock lock(key);
  if (dbcache::Has(key, entry(0))) {
    for (size_t i = 0; i < plan->databases.size(); ++i)
      dbcache::CopyOut(dbcache::EntryPath(key, entry(i)), plan->databases[i]);
    return {0, {}};
  }
  CommandResult r = RunPracticeGenerator(args);
  if (r.exit_code != 0 || !r.output.empty()) return r;
  // The main database goes in last: its entry says the whole practice is there.
  for (size_t i = plan->databases.size(); i-- > 0;) {
    SetAsyncWrites(plan->databases[i]);
    dbcache::Store(plan->databases[i], key, entry(i));
  }
  return r;
}

CommandResult RunPracticeGenerator(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", kGenerator, "--quiet", "--today", kPracticeToday};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

std::string PracticeChecksum(const std::string& database) {
  const CommandResult r = RunCommand({"python3", kGenerator, "--checksum", database});
  if (r.exit_code != 0) throw std::runtime_error("checksum failed: " + r.output);
  return r.output;
}

std::string PracticeDump(const std::string& database) {
  const CommandResult r = RunCommand({"python3", kGenerator, "--dump", database});
  if (r.exit_code != 0) throw std::runtime_error("dump failed: " + r.output);
  return r.output;
}

std::string PracticeDumpDiff(const std::string& before, const std::string& after, size_t limit) {
  const auto lines = [](const std::string& dump) {
    std::multiset<std::string> out;
    std::istringstream in(dump);
    std::string line, table;
    while (std::getline(in, line)) {
      if (line.rfind("TABULKA_DUMP", 0) == 0) table = line.substr(12);
      out.insert(table + ": " + line);
    }
    return out;
  };
  const std::multiset<std::string> a = lines(before), b = lines(after);
  std::vector<std::string> gone, added;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(gone));
  std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(added));
  std::string out;
  for (size_t i = 0; i < gone.size() && i < limit; ++i) out += "- " + gone[i] + "\n";
  for (size_t i = 0; i < added.size() && i < limit; ++i) out += "+ " + added[i] + "\n";
  return out;
}

}  // namespace pelvar::test
