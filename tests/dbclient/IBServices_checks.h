// Backup and restore through the services classes, shared by the embedded tests (the
// in-process services manager) and the server tests (localhost:service_mgr).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbclient/IBServices.h"
#include "platform/codepage.h"
#include "support/firebird.h"

namespace pelvar::test {

// The services manager of the mode: in-process, or the server on localhost.
inline void ConfigureService(TIBCustomService& service, FbTestDb::Mode mode,
                             const std::string& password = kSysdbaPassword) {
  service.SetServerName(mode == FbTestDb::Mode::Server ? "localhost" : "");
  service.SetProtocol(mode == FbTestDb::Mode::Server ? TProtocol::TCP : TProtocol::Local);
  service.SetLoginPrompt(false);
  service.Params()->Clear();
  service.Params()->Add("user_name=sysdba");
  service.Params()->Add("password=" + password);
}

// What a client attaches to for a database file of the mode.
inline std::string ConnectTo(FbTestDb::Mode mode, const std::string& path) {
  return mode == FbTestDb::Mode::Server ? "localhost:" + path : path;
}

// Starts the service and reads its output line by line up to Eof (the empty line that
// ends it included). A safety stop keeps a broken Eof from looping for ever.
inline std::vector<AnsiString> StartAndReadLines(TIBControlAndQueryService& service) {
  std::vector<AnsiString> lines;
  service.ServiceStart();
  EXPECT_FALSE(service.Eof());
  while (!service.Eof()) {
    lines.push_back(service.GetNextLine());
    if (lines.size() > 100000) {
      ADD_FAILURE() << "the output never ended";
      break;
    }
  }
  return lines;
}

inline std::string StartAndReadChunks(TIBControlAndQueryService& service) {
  std::string all;
  service.ServiceStart();
  for (int i = 0; !service.Eof(); ++i) {
    all += service.GetNextChunk();
    if (i > 100000) {
      ADD_FAILURE() << "the output never ended";
      break;
    }
  }
  return all;
}

inline bool AnyLineHas(const std::vector<AnsiString>& lines, const AnsiString& text) {
  for (const AnsiString& line : lines) {
    if (line.find(text) != AnsiString::npos) return true;
  }
  return false;
}

// The table of the round trips: Czech name and data, 120 rows.
constexpr const char* kFillScript =
    "create table \"KŮŇ\" (ID integer not null primary key, \"JMÉNO\" varchar(40));\n"
    "set term ^;\n"
    "execute block as declare i integer = 1; begin\n"
    "  while (i <= 120) do begin\n"
    "    insert into \"KŮŇ\" values (:i, 'Žluťoučký ' || :i); i = i + 1; end\n"
    "end^\n"
    "set term ;^\n"
    "commit;\n";

// The value of a column in isql-fb's list output ("NAME   value" lines).
inline std::string ListValue(const std::string& output, const std::string& name) {
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(pos, end - pos);
    if (line.rfind(name + " ", 0) == 0) {
      const size_t value = line.find_first_not_of(' ', name.size());
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    pos = end + 1;
  }
  return "(missing)";
}

// What the filled table holds, as isql-fb prints it in list mode.
inline std::string TableSummary(const std::string& connect) {
  const CommandResult r =
      RunIsql("set list on;\n"
              "select count(*) as N, sum(ID) as S, max(\"JMÉNO\") as M from \"KŮŇ\";\n"
              "select mon$page_size as P from mon$database;\n",
              connect);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

// Backs the filled database up through the services manager of the mode, restores the
// backup into a new database with the page size changed, and checks both ends with
// isql-fb. File names carry Czech letters.
inline void CheckBackupAndRestoreRoundTrip(FbTestDb::Mode mode) {
  auto db = FbTestDb::Create(mode);
  db->RunSql(kFillScript);
  const std::string backup = db->Dir().File("záloha.fbk");
  const std::string restored = db->Dir().File("obnovená.fdb");

  TIBBackupService backup_service(nullptr);
  ConfigureService(backup_service, mode);
  backup_service.SetDatabaseName(CZ(db->Path()));
  backup_service.BackupFile()->Add(CZ(backup));
  backup_service.SetOptions({TBackupOption::IgnoreLimbo});
  backup_service.SetVerbose(true);
  backup_service.SetActive(true);
  ASSERT_TRUE(backup_service.Active());
  const std::vector<AnsiString> lines = StartAndReadLines(backup_service);
  EXPECT_TRUE(backup_service.Eof());
  // One line per step and object, the empty one that ends the output last.
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines.back(), "");
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_FALSE(lines[i].empty()) << "line " << i;
    EXPECT_EQ(lines[i].find('\n'), AnsiString::npos) << lines[i];
  }
  // The server's lines come as Windows-1250: the table and the file name read back.
  EXPECT_TRUE(AnyLineHas(lines, CZ("KŮŇ")));
  EXPECT_TRUE(AnyLineHas(lines, CZ(backup)));
  // At the end nothing more is asked.
  EXPECT_EQ(backup_service.GetNextLine(), "");
  backup_service.SetActive(false);
  EXPECT_FALSE(backup_service.Active());
  ASSERT_TRUE(std::filesystem::exists(backup));

  TIBRestoreService restore_service(nullptr);
  ConfigureService(restore_service, mode);
  restore_service.DatabaseName()->Add(CZ(restored));
  restore_service.BackupFile()->Add(CZ(backup));
  restore_service.SetOptions({TRestoreOption::Replace});
  restore_service.SetPageSize(4096);
  restore_service.SetVerbose(true);
  restore_service.SetActive(true);
  const std::vector<AnsiString> restore_lines = StartAndReadLines(restore_service);
  EXPECT_TRUE(restore_service.Eof());
  EXPECT_GT(restore_lines.size(), 10u);
  EXPECT_TRUE(AnyLineHas(restore_lines, CZ("KŮŇ")));
  restore_service.SetActive(false);

  const std::string summary = TableSummary(ConnectTo(mode, restored));
  EXPECT_EQ(ListValue(summary, "N"), "120") << summary;
  EXPECT_EQ(ListValue(summary, "S"), "7260") << summary;
  EXPECT_EQ(ListValue(summary, "M"), "Žluťoučký 99") << summary;
  EXPECT_EQ(ListValue(summary, "P"), "4096") << summary;
  RunIsql("drop database;\n", ConnectTo(mode, restored));
}

// A backup of a file that does not exist fails with the server's text, naming the
// file, and leaves the service detached.
inline void CheckMissingDatabase(FbTestDb::Mode mode) {
  TempDir dir("pelvar-svc");
  const std::string missing = dir.File("chybí.fdb");
  TIBBackupService service(nullptr);
  ConfigureService(service, mode);
  service.SetDatabaseName(CZ(missing));
  service.BackupFile()->Add(CZ(dir.File("chybí.fbk")));
  service.SetVerbose(true);
  service.SetActive(true);
  try {
    // The server refuses at the start or reports it with the first output.
    StartAndReadLines(service);
    ADD_FAILURE() << "the backup of a missing database went through";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.IBErrorCode(), 335544344) << e.Message();  // I/O error
    EXPECT_EQ(e.SQLCode(), -902);
    EXPECT_NE(e.Message().find(CZ(missing)), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("\r\n"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().back(), '.');
  }
  EXPECT_FALSE(service.Active());
}

}  // namespace pelvar::test
