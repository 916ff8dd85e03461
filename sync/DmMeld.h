// The data module: the one object of the program that holds the database components the
// play-in and the wizard use, and the services built on them. It exists once for the
// whole run (the program makes it right after the main form) and everybody reaches it
// through DMMeldrun(). It reaches back into the main form only through TMainFormLink.
//
// Services: opening the station (Src) and working main database (Dst); running a
// statement or reading one value on either side; the schema-version check; raising a
// generator of the working database; the per-station key-mapping lists and the journal
// remap that consumes them; trimming a station's journal; the journal-trigger switch; the
// error list saved as "Errors.txt"; the paging of a station table's changed keys with the
// work-flow-cycle chunks; reading the first row of a query; the backup and restore
// services with their progress windows; the memory-table import of documents, daily
// records and document items (DmMeld_memory.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "dbadapters/MemoryData.h"
#include "dbadapters/REZDatabase.h"
#include "dbadapters/REZDataset.h"
#include "dbclient/IBServices.h"
#include "platform/classes.h"
#include "platform/types.h"
#include "platform/variant.h"
#include "sync/BkpResUtils.h"
#include "sync/MainFormLink.h"
#include "sync/Pracuji.h"

namespace pelvar {

// Whether a statement changed data in the transaction since its last commit: a read then
// commits (retaining) what was written before it, while a read after nothing written needs
// no commit of its own.
inline bool HoldsWrites(const TIB_Transaction* transaction) {
  const TIB_TransactionState state = transaction->State();
  return state != tsNone && state != tsInactive && state != tsInactivePending;
}

class TDMMeldrun : public TComponent {
 public:
  // The module's creation: the two progress windows, the backup and restore settings,
  // and the three settings read through the main form: "SERVER"/"ServerName"
  // ("localhost"), "SERVER"/"ServerProtocol" ("local"), "WORKSTATION"/"MyProtocol"
  // ("local"). The first module made becomes DMMeldrun().
  TDMMeldrun(TComponent* owner, TMainFormLink& main_form);
  // Disconnects Src and Dst and saves ErrorList as "Errors.txt" in the current directory
  // when it holds a line; the windows, settings and lists go with the module.
  ~TDMMeldrun() override;

  TMainFormLink& MainForm() const { return main_form_; }

  // --- Components
  TREZDatabase* Src() const { return src_; }
  TREZDatabase* Dst() const { return dst_; }
  // All writes to the working main database.
  TREZTransaction* REZTransactionDst() const { return rez_transaction_dst_; }
  // Reads and writes on the station database, and a second, independent transaction there.
  TREZTransaction* REZTransactionSrc() const { return rez_transaction_src_; }
  TREZTransaction* REZTransactionTmpSrc() const { return rez_transaction_tmp_src_; }
  // The queries of ExecDst/SelectDst (and the journal remap and trigger switch), of
  // ExecSrc/SelectSrc, and of SelectTmpSrc/SelectTmpSrcLast.
  TREZQuery* IBQueryDst() const { return ib_query_dst_; }
  TREZQuery* IBQuerySrc() const { return ib_query_src_; }
  TREZQuery* IBQueryTmpSrc() const { return ib_query_tmp_src_; }
  // Search and helper datasets of the memory-table import and the play steps.
  TREZQuery* IBQueryDSearch() const { return ib_query_dsearch_; }
  TREZTable* IBDataSetDSearch() const { return ib_dataset_dsearch_; }
  TREZQuery* IBQueryDstOther() const { return ib_query_dst_other_; }
  TREZQuery* IBQuerySSearch() const { return ib_query_ssearch_; }
  TREZQuery* IBQuerySrcOther() const { return ib_query_src_other_; }
  // Target of the copy-back of a station's own tables.
  TREZTable* IBTableOrigSave() const { return ib_table_orig_save_; }
  TMemoryData* MemoryDoklad() const { return memory_doklad_; }
  TMemoryData* MemoryDenZaznam() const { return memory_den_zaznam_; }
  TMemoryData* MemoryDokladPolozka() const { return memory_doklad_polozka_; }
  // The main server's services ("M") and the local ones.
  TIBBackupService* IBBackupService() const { return ib_backup_service_; }
  TIBRestoreService* IBRestoreService() const { return ib_restore_service_; }
  TIBBackupService* IBBackupService1() const { return ib_backup_service1_; }
  TIBRestoreService* IBRestoreService1() const { return ib_restore_service1_; }

  // --- Fields
  TfrmPracuji* ProgressWindow() const { return progress_window_; }
  TfrmPracujiMemo* MemoProgressWindow() const { return memo_progress_window_; }
  // Expected line totals of display mode 3; nothing sets them, so they stay 0.
  int32_t BackupTotal = 0;
  int32_t RestoreTotal = 0;
  TBackUpDatabaseSetings& BackupSettings() { return *backup_settings_; }
  TRestoreDatabaseSettings& RestoreSettings() { return *restore_settings_; }
  const AnsiString& MainServerName() const { return main_server_name_; }
  TProtocol MainServerProtocol() const { return main_server_protocol_; }
  TIB_Protocol ConnectProtocol() const { return connect_protocol_; }
  // Whether the working databases are the server's: a connection protocol other than
  // local opens them through the server on localhost. The local server letter's backups
  // and restores then go through that server's services manager as well, so that every
  // database the server opens is one it made itself (it runs as an OS user of its own,
  // which cannot open a file this process made) and no file is held by this process and
  // the server at once.
  bool WorkingDatabasesOnServer() const { return connect_protocol_ != cpLocal; }
  // One key-mapping list per station ("TABLE|old|new" lines), indexed like the
  // wizard's station lists.
  const std::vector<std::unique_ptr<TStringList>>& StationMappings() const { return station_mappings_; }

  // The commit interval of the copy engine and the page size of the paging; the wizard
  // sets it from "CommitAfter" when a play-in starts.
  int32_t CommitAfter = 0;
  // The work-flow cycle being played (0-based) and whether it is the station's last.
  int32_t CycleIndex = 0;
  bool IsLastCycle = false;
  // Lowest schema version met since the start (999999 before any); it only decreases.
  int32_t LowestVersion = 999999;
  // Failed memory-table records; saved as "Errors.txt" when the module goes, if any.
  TStringList& ErrorList() { return *error_list_; }
  TStringList& DocumentStatuses() { return *document_statuses_; }

  // The last access-rights decision of the play-in (the conflict dialog stores it when
  // it closes): the option 0-3, the main right chosen for option 2 (-1 when none) and
  // the name typed for option 1.
  int32_t RightsDecision = 0;
  int32_t RightsTargetId = -1;
  AnsiString RightsNewName;

  // --- Paging of a station table's keys and the work-flow-cycle chunks
  // The page read last (1 outside the paging); the copy engine starts its row counter
  // at (PageNo - 1) * CommitAfter.
  int32_t PageNo = 1;
  // Row count of the paged table (0 outside the paging: the copy engine counts itself).
  int32_t SourceRowCount = 0;
  AnsiString PagedTable;
  bool PagedChangedOnly = false;
  // The upper key of the page read last.
  int32_t PageLastKey = 0;
  // Bounds of the cycles' document chunks, one entry per cycle. They are computed and
  // kept, not applied: every cycle's document step reads all changed documents (the
  // first cycle plays them all and clears their marks).
  std::vector<int32_t> CycleUpperKeys;
  std::vector<int32_t> CycleLowerKeys;
  bool CyclesPrepared = false;

  // The services protocol a text names: the first of "Local", "NamedPipe", "TCP",
  // "SPX" that the text contains (ignoring case); none gives Local.
  static TProtocol ServiceProtocolFromText(const AnsiString& text);
  // The connection protocol, the same words in the same order: cpLocal, cpNetBEUI,
  // cpTCP_IP, cpNovell; none gives cpLocal.
  static TIB_Protocol ConnectProtocolFromText(const AnsiString& text);

  // Open the station database (Src) or the working main database (Dst): the connection
  // parameters cleared, the path, user, password and "WIN1250"; ConnectProtocol with
  // the server "localhost" unless it is local; dialect 3, no login prompt. A failure
  // raises EDatabaseError "Otevření zdrojové databáze skončilo chybou:" (Src) or
  // "Otevření cílové databáze skončilo chybou:" (Dst) and the failure's own message.
  void OpenSrc(const AnsiString& database_path, const AnsiString& user_name,
               const AnsiString& password);
  void OpenDst(const AnsiString& database_path, const AnsiString& user_name,
               const AnsiString& password);

  // --- Statements and single values
  // Run one statement on Dst (IBQueryDst) or Src (IBQuerySrc): an explicit transaction
  // unless one is started, commit retaining afterwards; on failure roll back retaining
  // and raise again. The query is closed at the end. True when it ran.
  bool ExecDst(const AnsiString& sql);
  bool ExecSrc(const AnsiString& sql);
  // The first column of the first row (SelectTmpSrcLast: of the last row), Null when
  // the query gives no row. SelectSrc reads the station through IBQuerySrc, SelectDst the
  // working main database through IBQueryDst, the TmpSrc pair the station through
  // IBQueryTmpSrc. Commit retaining afterwards; a failure rolls back retaining and is
  // raised, never turned into Null.
  Variant SelectSrc(const AnsiString& sql);
  Variant SelectDst(const AnsiString& sql);
  Variant SelectTmpSrc(const AnsiString& sql);
  Variant SelectTmpSrcLast(const AnsiString& sql);
  // Commit retaining on Dst's and then Src's transaction, each only when started.
  void CommitBoth();

  // Reads VERZE of the station ("src"/"source", any case) or of the working main database
  // (anything else). A version below LowestVersion becomes it. A version other than
  // expected asks whether to go on; true for the expected version or the answer Yes.
  bool CheckDatabaseVersion(const AnsiString& which, int32_t expected);

  // --- Texts
  // The part of text before the first separator (trimmed), text keeping what follows
  // it; without a separator the whole text (untrimmed), text becoming empty.
  static AnsiString CutToken(AnsiString& text, char separator);
  // Clears list and fills it with the tokens of text; the count (0 without a list).
  // Consecutive separators give empty items, a separator at the end none.
  static int32_t SplitToList(TStrings* list, AnsiString text, char separator);
  // 1-based position of the last ch in text, 0 when it does not occur.
  static int32_t LastCharPos(char ch, const AnsiString& text);

  // --- Key mappings and the journal
  // Makes count empty key-mapping lists (preparation, once it has succeeded).
  void InitStationLists(int32_t count);
  // Appends "TABLE|old|new" to the list of the station at the main form's StationIndex;
  // an entry equal to the list's last one is not repeated.
  void AddIdMapping(const AnsiString& table, const AnsiString& old_key, const AnsiString& new_key);
  // True when the station at the main form's StationIndex has a key-mapping list (a
  // play-in outside a prepared run keeps none).
  bool KeepsMappings() const;
  // The column whose value a journal row (ZURNAL.ID_ZAZNAM) holds for a row of table:
  // the first column of the table's primary key (LAB_VAZBY is journalled under
  // ID_POLOZKA_ZADANKY); empty for a table the station database lacks or that has no
  // primary key. Read from the station database once per station.
  AnsiString JournalKeyColumn(const AnsiString& table);
  // Before the play-in of the station at StationIndex: the keys its journal names whose
  // record is no row the station had from main (unchanged, or changed: "U"): a row the
  // station added, whose key main may give to another record, or a record the station
  // no longer has. Such a journal row is copied into the delivery with the key its
  // record got in main (a mapping entry of the play-in), or with no key at all.
  void ReadStationJournalKeys();
  const std::map<AnsiString, std::set<int32_t>>& StationJournalKeys(int32_t station) const;
  // Gives every ZURNAL row of the working main database that refers to a remapped row
  // the new key of the current station's mapping entry that matched the key the row held
  // before the remap: chains (a->b, b->c) and swaps (a->b, b->a) included, the first entry
  // of an old key winning. A row naming one of the station's journal keys
  // (ReadStationJournalKeys) that no entry maps loses its key (ID_ZAZNAM null): in main
  // that key may be another record's. Each row changes once, by its primary key; commit
  // retaining after every 1000th row, a hard commit at the end, also when a change fails
  // (the failure travels on). A malformed entry (a key that is not an integer) is refused
  // before anything is changed.
  void RemapJournal();
  // Deletes the station's journal rows above mark (written by the play-in's own changes)
  // and, when the finishing option "Pouze změny za posledních" is ticked, those dated
  // more than days days back.
  void TrimStationJournal(int32_t mark, int32_t days);
  // Raises the working main database's generator "GEN_" + table to value (value <= 0: to
  // the station's current value). A generator ahead of value is left alone: lowering it
  // would make the working database hand out keys it already used. False when a value
  // cannot be read (Null).
  bool SyncGenerator(const AnsiString& table, int64_t value);
  // Switches the working main database's journal triggers off (0) or on (1) through
  // SET_ZURNAL_TRIGGERS, committed at once; returns state.
  int32_t SetJournalTriggers(int32_t state);

  // --- Paging, cycle chunks, row values
  // Resets the paging state: no table, PageLastKey 0, SourceRowCount 0, PageNo 1.
  void ResetChunking();
  // Counts the station table's rows (changed ones only, or all) into SourceRowCount and
  // returns the number of pages of CommitAfter rows (count div CommitAfter + 1). A failed
  // count shows the warning "Nepodařilo se zjistit počet zdrojových záznamů!" and gives 1.
  int32_t CountPages(const AnsiString& table_name, bool changed_only);
  // The lowest and the highest key of page page_no of PagedTable: page 1 starts at the
  // lowest key, every later one after PageLastKey of the page read before; a page holds
  // CommitAfter keys in ascending order. Null gives 0.
  void GetPageBounds(const AnsiString& key_field, int32_t page_no, int32_t& upper_key,
                     int32_t& lower_key);
  // Divides the station's changed documents into cycles chunks of (count div cycles + 1)
  // keys each and keeps their bounds; CommitAfter and the paging state are restored.
  void PrepareDocumentCycles(int32_t cycles);
  // Sets the active case of each patient: lines "patient|case", one statement and commit
  // per line. A key that is not an integer raises.
  void FixActiveCases(TStrings* list);
  // Runs sql on query and gives the first row's values as a Variant array (0-based);
  // the column count, 0 (values untouched) when there is no row. A failing query rolls
  // back and gives 0 as well: it never raises.
  int32_t SelectRowValues(TREZQuery* query, const AnsiString& sql, Variant& values);

  // --- Memory-table import of documents, daily records and document items
  // (DmMeld_memory.cpp). The three memory tables get their fixed columns on first use.
  // A record that cannot be imported whole (a failed resolution, a reference whose
  // natural key the main database does not know) is listed in ErrorList with its dump,
  // marked UPDATE = -1 and not written; rows referring to it by its new key are refused
  // in turn. A document without a number is refused: nothing tells it from main's.
  //
  // Loads the rows of the open IBQuerySrcOther into memory_table (appending), then
  // closes the query.
  bool FillMemoryTable(const AnsiString& table_name, TMemoryData* memory_table);
  bool ResolveDocumentValues();
  bool ResolveDailyRecordValues();
  bool ResolveDocumentItemValues(const AnsiString& item_table);
  bool ResolveDocumentParents();
  bool ResolveDocumentItemParents();
  // Writes every accepted row of memory_table into table_name (INSERT under the new key,
  // UPDATE under the main key); each row in a transaction of its own. Always false.
  bool ImportNewRecords(const AnsiString& table_name, const AnsiString& key_field,
                        TMemoryData* memory_table);
  // The statements over the main table's columns (read with "select first 1 *"); with a
  // memory table only the columns it holds and the station delivered. Values go in as
  // parameters named after the columns; the UPDATE ends "where (key = " and wants the
  // key and ")" appended.
  void BuildImportSQL(AnsiString& insert_sql, AnsiString& update_sql, const AnsiString& key_field,
                      const AnsiString& table_name, TMemoryData* memory_table = nullptr);
  void BuildInsertSQL(const AnsiString& table_name, TDataSet* dataset, AnsiString& sql,
                      TMemoryData* memory_table = nullptr);
  void BuildUpdateSQL(const AnsiString& table_name, const AnsiString& key_field, AnsiString& sql,
                      TDataSet* dataset, TMemoryData* memory_table = nullptr);
  // The column's value, replaced by the column + "_NEW" when that exists and has a value;
  // an empty text the station delivered stays an empty text.
  void ValuePreferNew(const AnsiString& field_name, TDataSet* dataset, Variant& value);
  // Writes the main database's newer statuses of documents back; the list is emptied.
  void ApplyDocumentStatuses();
  // The first row of sql on the main database as a Variant array; found false and values
  // Null when there is none. A failure rolls back retaining and is raised.
  void SelectDstRow(const AnsiString& sql, bool& found, Variant& values);
  // Statements that a resolution pass of the memory import or a play step runs for every
  // row: the statement (its values as parameters :P0, :P1, ...) is prepared once per text
  // and database and run again with params; each run commits retaining as SelectSrc,
  // SelectDst, SelectDstRow, ExecSrc and ExecDst do, and a failure rolls back retaining
  // and is raised. ReleasePrepared frees the statements (at the end of every pass and
  // every play step).
  Variant SelectPrepared(bool station, const AnsiString& sql, const std::vector<Variant>& params = {});
  void SelectPreparedRow(bool station, const AnsiString& sql, const std::vector<Variant>& params, bool& found,
                         Variant& values);
  void ExecPrepared(bool station, const AnsiString& sql, const std::vector<Variant>& params);
  void ReleasePrepared();
  // A look-up by a natural key in a table that the running pass or play step does not
  // write to, without a statement per row: read (its first key_count columns the key, the
  // others the values) runs once and its rows are kept by key, compared as the server
  // compares the key of a per-row statement (texts without their trailing blanks; a null
  // never matches). found and values (the first row's values as a Variant array) as
  // SelectPreparedRow gives them; SelectKeyed gives the first value or Null.
  // ReleasePrepared lets the rows go.
  void SelectKeyedRow(bool station, const AnsiString& read, int32_t key_count, const std::vector<Variant>& key,
                      bool& found, Variant& values);
  Variant SelectKeyed(bool station, const AnsiString& read, int32_t key_count, const std::vector<Variant>& key);
  // Every row of a key, for a table the play step writes to only under keys it keeps
  // apart itself: read (its columns the key's parts, then one value) runs once and the
  // values of all its rows are kept by key, compared as SelectKeyedRow compares; values
  // gets those of key, in the order read gave them. ReleasePrepared lets the rows go.
  void SelectKeyedAll(bool station, const AnsiString& read, const std::vector<Variant>& key,
                      std::vector<Variant>& values);
  // The station's new-key column of table_name for the row old_key.
  void SelectNewKey(const AnsiString& table_name, const AnsiString& key_field, Variant& value,
                    int32_t old_key);
  // "NAME: value | " for every column; empty when the dataset is closed.
  static void DumpRecord(TDataSet* dataset, AnsiString& text);

  // --- Backup and restore
  // Backs up (restores) through the service of the server letter, showing the progress
  // in display mode 0 to 3 (see BkpResUtils.h; modes 0, 1, 3 in ProgressWindow, 2 in
  // MemoProgressWindow) placed at (left, top) with the caption. The window is hidden
  // afterwards, also on failure. A failure of the service is raised; a mode outside
  // 0 to 3 does nothing and returns false.
  //
  // A restore never leaves a half database behind: when the target is a file this
  // machine reaches, a failed restore removes what the server made and puts the file
  // that was there before back in place.
  bool BackupDatabase(const AnsiString& database_file, const AnsiString& backup_file, int32_t mode,
                      const AnsiString& caption, char server_letter, int32_t left, int32_t top);
  //
  // The main database through the in-process engine (letter 'M' with the local
  // protocol) is restored by a child process (TRestoreProcess): a failure that ends the
  // engine's process ends that child, and the restore raises as any failed restore.
  bool RestoreDatabase(const AnsiString& database_file, const AnsiString& backup_file, int32_t mode,
                       const AnsiString& caption, char server_letter, int32_t left, int32_t top);
  // The mark that tells the harmonised data of one finishing from any other database:
  // written into the working database (as its description, which a backup and restore
  // keep) before the harmonised backup is taken; read back from a database on its own
  // attachment (the main server's for letter 'M'); empty when it has none. Reading
  // raises when the database cannot be opened.
  void WriteHarmonisedMark(const AnsiString& mark);
  AnsiString ReadDatabaseMark(const AnsiString& database_file, char server_letter) const;
  // Forced writes of a working database (the local server's, letter 'L'), on its own
  // attachment: read, and set (the setting stays in the database's header and travels
  // with its backups). The working databases are scratch while they are played and
  // finished: a crash loses nothing that another run from the untouched originals would
  // not make again, so they are written without waiting for the disk at every commit;
  // what is handed out gets its setting back before its backup is taken. Both raise when
  // the database cannot be opened.
  bool WorkingForcedWrites(const AnsiString& database_file) const;
  void SetWorkingForcedWrites(const AnsiString& database_file, bool on);
  // The connection string of a database of the server letter.
  AnsiString ConnectStringFor(const AnsiString& database_file, char server_letter) const;
  // What precedes a database path of the server letter in a connection string: the main
  // server's name and ":" for "M" through a protocol other than local, "localhost:" for
  // any other letter while the working databases are the server's, else nothing.
  AnsiString ServerPrefixFor(char server_letter) const;
  // The services protocol of the local server letter: local, or the connection
  // protocol's counterpart while the working databases are the server's.
  TProtocol LocalServerProtocol() const;
  // Told the file a local restore is made in (beside its target) before the restore
  // begins, so that a caller can record it: a process ended midway leaves it behind.
  std::function<void(const AnsiString& work_file)> OnRestoreWorkFile;

  // Fill the settings object (server and protocol by the letter) and configure the
  // service of the letter through RunBackup / RunRestore.
  bool RunBackupService(const AnsiString& database_file, const AnsiString& backup_file,
                        bool login_prompt, bool active, bool verbose, TBackupOptions options,
                        char server_letter);
  bool RunRestoreService(const AnsiString& database_file, const AnsiString& backup_file,
                         bool login_prompt, bool active, bool verbose, TRestoreOptions options,
                         int32_t page_size, int32_t page_buffers, char server_letter);
  // "M" (upper case only) selects the main server's service, any other letter the
  // local one (the server on localhost while the working databases are the server's).
  TIBBackupService* BackupServiceFor(char server_letter) const;
  TIBRestoreService* RestoreServiceFor(char server_letter) const;

  // --- The progress window for the wizard's own long steps
  // ProgressWindow at (left, top) with the caption and, in its status bar (enabled and
  // shown), the status text; shown and repainted. A failure here is ignored.
  void ShowProgress(const AnsiString& caption, const AnsiString& status_text, int32_t top,
                    int32_t left);
  // Hides the window; its status bar disabled and hidden.
  void HideProgress();
  // Makes room for the progress bar and shows it: bar maximum, step maximum / 100
  // (rounded), position 0; pumps messages.
  void ShowProgressBar(int32_t maximum);
  void HideProgressBar();
  // Moves the bar and pumps messages.
  void SetProgressPosition(int32_t position);
  void SetProgressText(const AnsiString& text);

 private:
  void Open(TREZDatabase* database, const AnsiString& database_path, const AnsiString& user_name,
            const AnsiString& password, const char* failure_prefix);
  void Exec(TREZQuery* query, const AnsiString& sql);
  Variant Select(TREZQuery* query, const AnsiString& sql, bool last);
  TREZQuery* NewQuery(const char* name, TREZDatabase* database, TREZTransaction* transaction);
  template <typename Loop>
  bool RunWindowed(int32_t mode, const AnsiString& caption, int32_t left, int32_t top, Loop loop);

  TMainFormLink& main_form_;
  TREZDatabase* src_;
  TREZDatabase* dst_;
  TREZTransaction* rez_transaction_dst_;
  TREZTransaction* rez_transaction_src_;
  TREZTransaction* rez_transaction_tmp_src_;
  TREZQuery* ib_query_dst_;
  TREZQuery* ib_query_src_;
  TREZQuery* ib_query_tmp_src_;
  TREZQuery* ib_query_dsearch_;
  TREZTable* ib_dataset_dsearch_;
  TREZQuery* ib_query_dst_other_;
  TREZQuery* ib_query_ssearch_;
  TREZQuery* ib_query_src_other_;
  TREZTable* ib_table_orig_save_;
  TMemoryData* memory_doklad_;
  TMemoryData* memory_den_zaznam_;
  TMemoryData* memory_doklad_polozka_;
  TIBBackupService* ib_backup_service_;
  TIBRestoreService* ib_restore_service_;
  TIBBackupService* ib_backup_service1_;
  TIBRestoreService* ib_restore_service1_;
  TfrmPracuji* progress_window_;
  TfrmPracujiMemo* memo_progress_window_;
  std::unique_ptr<TBackUpDatabaseSetings> backup_settings_;
  std::unique_ptr<TRestoreDatabaseSettings> restore_settings_;
  AnsiString main_server_name_;
  TProtocol main_server_protocol_ = TProtocol::Local;
  TIB_Protocol connect_protocol_ = cpLocal;
  std::vector<std::unique_ptr<TStringList>> station_mappings_;
  // Per station: table -> journal keys without an unchanged station row (see
  // ReadStationJournalKeys).
  std::vector<std::map<AnsiString, std::set<int32_t>>> station_journal_keys_;
  // Table -> the column its journal rows name it by, of the station read last.
  std::map<AnsiString, AnsiString> journal_key_columns_;
  bool journal_key_columns_read_ = false;
  // Tables of that station with a change mark "ST".
  std::set<AnsiString> marked_tables_;
  void ReadJournalKeyColumns();
  std::unique_ptr<TStringList> error_list_;
  std::unique_ptr<TStringList> document_statuses_;

  // State of the memory-table import (DmMeld_memory.cpp).
  struct TMemoryImportState;
  std::shared_ptr<TMemoryImportState> memory_state_;
  TMemoryImportState& MemoryState();
  TREZQuery* PreparedQuery(bool station, const AnsiString& sql);
};

// The program's data module (nullptr while none exists).
TDMMeldrun* DMMeldrun();

}  // namespace pelvar
