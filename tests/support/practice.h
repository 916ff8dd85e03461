// The practice database for engine and wizard tests: a fresh database with the schema
// of tests/fixtures, the data generator of tools/practice, and small isql-fb queries.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/firebird.h"
#include "support/process.h"

namespace pelvar::test {

// A fixed reference date keeps generated dates independent of the day tests run.
inline constexpr const char* kPracticeToday = "2026-06-15";

// The path of a file in tests/fixtures.
std::string Fixture(const std::string& name);

// A fresh embedded database with the practice schema and its database objects.
std::unique_ptr<FbTestDb> PracticeSchemaDb(const std::string& file_name = "practice.fdb");

// Runs tools/practice/generate.py with --quiet --today kPracticeToday and args. A
// practice is generated once per build for the same arguments (paths aside), generator
// and fixtures: later calls get copies of the databases it made, without forced
// writes, which a test may change freely.
CommandResult GeneratePractice(const std::vector<std::string>& args);
// The same, always running the generator (for tests of the generator itself).
CommandResult RunPracticeGenerator(const std::vector<std::string>& args);

// The generator's checksum of a database's key-ordered dump.
std::string PracticeChecksum(const std::string& database);
// The generator's key-ordered dump of a database (every table and every generator value).
std::string PracticeDump(const std::string& database);
// The lines of two dumps that one has and the other has not ("-" before, "+" after),
// each with its table (at most limit of each).
std::string PracticeDumpDiff(const std::string& before, const std::string& after, size_t limit = 40);

// Runs a query in isql-fb ("set list on") and returns the values of its column V,
// row by row. QueryBlock is for statements with semicolons of their own.
std::vector<std::string> Query(const std::string& database, const std::string& sql);
std::vector<std::string> QueryBlock(const std::string& database, const std::string& sql);
// The single value of column V, or "<n rows>" when there is not exactly one row.
std::string QueryOne(const std::string& database, const std::string& sql);

// The values of one column in "set list on" output, in row order.
std::vector<std::string> ListValues(const std::string& output, const std::string& column);

}  // namespace pelvar::test
