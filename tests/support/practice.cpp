#include "support/practice.h"

#include <regex>
#include <stdexcept>

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

CommandResult GeneratePractice(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", kGenerator, "--quiet", "--today", kPracticeToday};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

std::string PracticeChecksum(const std::string& database) {
  const CommandResult r = RunCommand({"python3", kGenerator, "--checksum", database});
  if (r.exit_code != 0) throw std::runtime_error("checksum failed: " + r.output);
  return r.output;
}

}  // namespace pelvar::test
