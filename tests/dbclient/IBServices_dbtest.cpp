// Backup and restore through the in-process services manager ("service_mgr"), checked
// with isql-fb and with gbak as the peer on the other end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "IBServices_checks.h"

namespace pelvar::test {
namespace {

// The lines of a text without their trailing blanks (the server ends some lines with a
// blank in one kind of output and not in the other).
std::string WithoutTrailingBlanks(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
    pos = end + 1;
  }
  return out;
}

TEST(IBServicesDb, BackupAndRestoreRoundTripWithVerboseLines) {
  CheckBackupAndRestoreRoundTrip(FbTestDb::Mode::Embedded);
}

TEST(IBServicesDb, MissingDatabaseRaisesTheServerError) {
  CheckMissingDatabase(FbTestDb::Mode::Embedded);
}

// gbak's backup restored by the restore service, and the backup service's (quiet, read
// in blocks) restored by gbak.
TEST(IBServicesDb, BackupsInterchangeWithGbak) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  db->RunSql(kFillScript);
  const std::string expected_count = "120";

  const std::string by_gbak = db->Dir().File("gbak.fbk");
  const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password",
                                      kSysdbaPassword, db->Path(), by_gbak});
  ASSERT_EQ(b.exit_code, 0) << b.output;

  const std::string from_gbak = db->Dir().File("from_gbak.fdb");
  TIBRestoreService restore(nullptr);
  ConfigureService(restore, FbTestDb::Mode::Embedded);
  restore.DatabaseName()->Add(from_gbak);
  restore.BackupFile()->Add(by_gbak);
  restore.SetActive(true);
  // Quiet: no line per object (the server may still say that the page size shrinks).
  const std::string quiet = StartAndReadChunks(restore);
  EXPECT_TRUE(restore.Eof());
  EXPECT_EQ(quiet.find(CZ("KŮŇ")), std::string::npos) << quiet;
  restore.SetActive(false);
  std::string summary = TableSummary(from_gbak);
  EXPECT_EQ(ListValue(summary, "N"), expected_count) << summary;
  EXPECT_EQ(ListValue(summary, "P"), "4096") << "the default page size";

  const std::string by_service = db->Dir().File("service.fbk");
  TIBBackupService backup(nullptr);
  ConfigureService(backup, FbTestDb::Mode::Embedded);
  backup.SetDatabaseName(db->Path());
  backup.BackupFile()->Add("   ");  // blank lines are no files
  backup.BackupFile()->Add(by_service);
  backup.SetActive(true);
  StartAndReadChunks(backup);
  backup.SetActive(false);
  const std::string to_gbak = db->Dir().File("to_gbak.fdb");
  const CommandResult r = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password",
                                      kSysdbaPassword, by_service, to_gbak});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  summary = TableSummary(to_gbak);
  EXPECT_EQ(ListValue(summary, "N"), expected_count) << summary;
  EXPECT_EQ(ListValue(summary, "M"), "Žluťoučký 99") << summary;
  EXPECT_EQ(ListValue(summary, "P"), "8192") << "gbak keeps the page size of the backup";
}

// Verbose output read in blocks holds the same text as read line by line, also where a
// block ends inside a Czech letter: 300 tables and columns with Czech names make more
// output than one block holds. (With the server's present wording and this length of
// the backup file's name, the first block ends in the middle of a letter.)
TEST(IBServicesDb, VerboseOutputReadInBlocksHoldsTheLines) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  std::string script;
  for (int i = 0; i < 300; ++i) {
    script += "create table \"ŽŽŽŽŽŽŽŽŽŽŽŽ_" + std::to_string(i) +
              "\" (\"ČČČČČČČČČČČČČČČ\" integer);\n";
  }
  db->RunSql(script + "commit;\n");
  TIBBackupService backup(nullptr);
  ConfigureService(backup, FbTestDb::Mode::Embedded);
  backup.SetDatabaseName(db->Path());
  backup.BackupFile()->Add(db->Dir().File("ab.fbk"));
  backup.SetVerbose(true);
  backup.SetActive(true);
  std::string by_lines;
  for (const AnsiString& line : StartAndReadLines(backup)) {
    if (!line.empty()) by_lines += line + "\n";
  }
  EXPECT_NE(by_lines.find(CZ("ŽŽŽŽŽŽŽŽŽŽŽŽ_299")), std::string::npos);

  // The same attachment runs the next service; Eof starts over.
  backup.ServiceStart();
  EXPECT_FALSE(backup.Eof());
  std::string by_blocks;
  int blocks = 0;
  while (!backup.Eof() && blocks < 100000) {
    by_blocks += backup.GetNextChunk();
    ++blocks;
  }
  EXPECT_GT(blocks, 1);
  EXPECT_EQ(WithoutTrailingBlanks(by_blocks), WithoutTrailingBlanks(by_lines));
  EXPECT_EQ(by_blocks.find('?'), std::string::npos) << "a letter was cut";

  backup.SetVerbose(false);
  backup.BackupFile()->Clear();
  backup.BackupFile()->Add(db->Dir().File("b.fbk"));
  const std::vector<AnsiString> lines = StartAndReadLines(backup);
  EXPECT_EQ(lines, std::vector<AnsiString>{""}) << "a quiet backup has no lines";
  EXPECT_TRUE(std::filesystem::exists(db->Dir().File("b.fbk")));
  // Settings of the attachment stay while it is attached.
  EXPECT_THROW(backup.SetServerName("elsewhere"), EIBClientError);
  EXPECT_THROW(backup.SetProtocol(TProtocol::TCP), EIBClientError);
  EXPECT_THROW(backup.Attach(), EIBClientError);
  EXPECT_EQ(backup.Protocol(), TProtocol::Local);
  EXPECT_TRUE(backup.Active());
}

// A new database is not written over an existing file; Replace does that.
TEST(IBServicesDb, RestoreCreatesOrReplacesAsTheOptionsSay) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  db->RunSql(kFillScript);
  const std::string backup_file = db->Dir().File("full.fbk");
  {
    TIBBackupService backup(nullptr);
    ConfigureService(backup, FbTestDb::Mode::Embedded);
    backup.SetDatabaseName(db->Path());
    backup.BackupFile()->Add(backup_file);
    backup.SetActive(true);
    StartAndReadChunks(backup);
  }  // detached by its destructor
  db->RunSql("delete from \"KŮŇ\" where ID > 20;\ncommit;\n");

  TIBRestoreService restore(nullptr);
  ConfigureService(restore, FbTestDb::Mode::Embedded);
  restore.DatabaseName()->Add(db->Path());
  restore.BackupFile()->Add(backup_file);
  restore.SetVerbose(true);
  restore.SetActive(true);
  try {
    StartAndReadLines(restore);
    ADD_FAILURE() << "an existing database was overwritten without Replace";
  } catch (const EIBInterBaseError& e) {
    EXPECT_NE(e.Message().find(CZ(db->Path())), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(restore.Active());
  EXPECT_EQ(ListValue(TableSummary(db->Path()), "N"), "20");

  restore.SetOptions({TRestoreOption::Replace});
  restore.SetActive(true);
  StartAndReadLines(restore);
  restore.SetActive(false);
  EXPECT_EQ(ListValue(TableSummary(db->Path()), "N"), "120");
}

// A file that is no backup fails the restore with the server's message.
TEST(IBServicesDb, RestoreOfAFileThatIsNoBackupRaises) {
  TempDir dir("pelvar-svc");
  const std::string bad = dir.File("bad.fbk");
  WriteFile(bad, std::string(4096, 'x'));
  TIBRestoreService restore(nullptr);
  ConfigureService(restore, FbTestDb::Mode::Embedded);
  restore.DatabaseName()->Add(dir.File("bad.fdb"));
  restore.BackupFile()->Add(bad);
  restore.SetActive(true);
  try {
    StartAndReadLines(restore);
    ADD_FAILURE() << "restored from garbage";
  } catch (const EIBInterBaseError& e) {
    EXPECT_NE(e.IBErrorCode(), 0);
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_FALSE(restore.Active());
}

}  // namespace
}  // namespace pelvar::test
