// The play-in engine: for one station database (Src of the data module) and one
// work-flow cycle it plays the station's changed rows into the working main database
// (Dst), table by table along a fixed sequence of play steps, through the copy engine
// of the import framework.
//
// The sequence is data (PlaySteps): one row per step with its option gates, its cycle,
// its schema-version threshold, the change marks cleared after it and the new-key
// columns it writes. A row whose table rules are not built yet has no play routine: it
// is reported in NotPlayedSteps and neither plays nor clears its marks.
//
// Rules the engine keeps for every table:
// - A merge into an existing main row never copies the station's key, the station's
//   foreign keys or the change mark "ST" over the main row's values: remapped foreign
//   keys take the parents' main keys, the rest keeps what the main row has.
// - A parent row that is merged into, or skipped as a duplicate of, a main row still
//   writes that main key into its station row's new-key column, so that its children
//   remap to it.
// - The new-key columns are added to the station in the first cycle whatever the
//   options, so that the joins of later steps and of finishing always find them.
// - A natural key met twice in one table finds the row the first one wrote.
// - Station values put into SQL texts are quoted (apostrophes doubled).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "platform/classes.h"
#include "platform/db.h"
#include "platform/sysutils.h"
#include "platform/types.h"
#include "platform/variant.h"
#include "sync/Qor_Import_New.h"

namespace pelvar {

class TDMMeldrun;
class TMeldrun;

// The option flags that gate the play steps.
enum TPlayFlag : uint8_t {
  pfOrgStruktura = 1,
  pfZaklad = 2,
  pfExPartner = 4,
  pfExPacient = 8,
  pfKarty = 16,
  pfDoklady = 32,
  pfCiselniky = 64,
};

// In which work-flow cycles a step runs.
enum class TPlayCycle : uint8_t { First, Every, Last };
// The schema-version condition of a step on the lowest version met.
enum class TVersionRule : uint8_t { Any, AtLeast, Above };

using TPlayRoutine = void (TMeldrun::*)();

struct TPlayStepDef {
  int32_t Number;
  const char* Tables;        // the table(s) the step plays, as the wizard lists them
  const char* Caption;       // the step's caption (UTF-8)
  uint8_t Flags;             // TPlayFlag bits; the step runs when any of them is set
  TPlayCycle Cycle;
  TVersionRule Rule;
  int32_t Version;
  const char* ClearedMarks;  // comma-separated tables whose "ST" is cleared after it
  bool ClearAlways;          // clearing also when no flag of the step is set
  const char* Group;         // the family of table rules the step belongs to
  const char* NewKeyTable;   // station table that gets new-key columns ("" none)
  const char* NewKeyColumns; // its comma-separated new-key columns
  TPlayRoutine Play;         // nullptr: the table's rules are not built yet
};

// The options, the cycle and the version a run is gated by.
struct TPlayGate {
  uint8_t Flags = 0;
  int32_t CycleIndex = 0;
  bool IsLastCycle = false;
  int32_t LowestVersion = 999999;

  bool CycleAllows(const TPlayStepDef& step) const;
  bool VersionAllows(const TPlayStepDef& step) const;
  // The step plays: a flag of it is set, its cycle and version allow it.
  bool Plays(const TPlayStepDef& step) const;
  // Its change marks are cleared (a step without a play routine clears nothing).
  bool ClearsMarks(const TPlayStepDef& step) const;
};

class TMeldrun : public TImport {
 public:
  // On the data module's Src (station) and Dst (working main database); the data module
  // must exist.
  TMeldrun();
  ~TMeldrun() override;

  // The whole sequence of play steps, in order.
  static std::span<const TPlayStepDef> PlaySteps();

  // The run of one cycle. An exception ends the run and is raised again.
  void Execute() override;

  // Option flags, set by the wizard.
  bool Zaklad = false;
  bool ExPartner = false;
  bool ExPacient = false;
  bool Karty = false;
  bool Uzaverky = false;
  bool Doklady = false;
  bool Ciselniky = false;
  bool AutoChange = false;
  bool OrgStruktura = false;
  uint8_t Flags() const;
  TPlayGate Gate() const;

  TQorLookupList& Lookup1() { return *lookups_[0]; }
  TQorLookupList& Lookup2() { return *lookups_[1]; }
  TQorLookupList& Lookup3() { return *lookups_[2]; }
  TQorLookupList& Lookup4() { return *lookups_[3]; }
  TQorLookupList& Lookup5() { return *lookups_[4]; }
  TQorLookupList& KeyLookup() { return *key_lookup_; }
  TREZTable* SearchSet() const { return search_set_; }
  TStringList& PatientCases() { return *patient_cases_; }
  TStringList& DocumentStatuses() { return *document_statuses_; }

  // Step numbers the last Execute played, and those whose gate was open but whose
  // rules are not built yet (nothing was played nor cleared for them).
  const std::vector<int32_t>& PlayedSteps() const { return played_steps_; }
  const std::vector<int32_t>& NotPlayedSteps() const { return not_played_steps_; }

  // --- Routines of the play steps
  // True when the current rows differ (fields of the target compared with the same-
  // named source fields; excluded names, "ST" and auto-increment fields passed over).
  // overrides: target fields compared with the given value instead of the source's.
  bool CompareRows(TDataSet* source, TDataSet* target, const AnsiString& excluded,
                   const std::map<AnsiString, Variant>* overrides = nullptr);
  // Copies the source row (overrides in place of the source's values) into the target
  // row and posts it; never "ST". True.
  bool CopyRowAndPost(TDataSet* source, TDataSet* target, const AnsiString& excluded,
                      const std::map<AnsiString, Variant>* overrides = nullptr);
  // Merges the station row into the main row: 0 when a dataset is not open, 2 when the
  // rows are equal, 1 when the main row was updated (one post). remaps: items
  // "target field,table,key field,old key[,column]" separated by "|"; a remapped field
  // takes the parent's main key, and keeps its main value when the parent has none.
  int32_t MergeRow(TDataSet* source, TDataSet* target, const AnsiString& remaps,
                   const AnsiString& excluded,
                   const std::map<AnsiString, Variant>& overrides = {});
  // Adds integer columns to a station table ("alter table %s add %s integer"); a column
  // the table has already is left as it is.
  void AddNewKeyColumns(const AnsiString& table, const AnsiString& column_names);
  // Writes the new keys into the station row with the old key, one column each.
  void WriteBackNewKey(const AnsiString& table, const AnsiString& key_field,
                       const std::vector<int32_t>& new_keys, int32_t old_key,
                       const AnsiString& new_key_columns);
  static bool SetFieldIfNotNull(TField* field, const Variant& value);
  // The parent's new key (column, default key field + "_NEW") of the station row with
  // old_key; found when it is not Null.
  Variant RemapForeignKey(const AnsiString& table, const AnsiString& key_field, int32_t old_key,
                          bool& found, const AnsiString& column = AnsiString());
  void ClearChangeMarks(const AnsiString& table, const AnsiString& condition = AnsiString());
  void ClearSourceIds(const AnsiString& table);
  void FinishTable();
  void ApplyDocumentStatuses();

 protected:
  TDMMeldrun& dm_;

  // --- The pattern of a play step
  struct TStepConfig {
    AnsiString Table;
    AnsiString Caption;
    AnsiString Source;
    AnsiString Generator;
    AnsiString KeyField;
    bool MapIds = false;
    AnsiString NewKeyColumn;  // written back after each post ("" none)
    AnsiString Excluded;
    std::vector<std::pair<AnsiString, Variant>> Defaults;
    std::vector<AnsiString> FieldMap;
    bool KeepKeyGenerator = false;  // the previous table's key setting stays
  };
  // Slots 1-11 of a play step: configures the copy engine, runs it, closes the look-ups
  // and finishes the table. prepare runs after the mapping is reset (look-up queries).
  // Rows that do not arrive, and marked rows whose joined parent is gone on the station,
  // are held marked (HoldRow, HoldOrphans); a new main row never takes the mark "ST".
  void RunStep(const TStepConfig& config, const std::function<void()>& prepare,
               TImportFieldEvent handler);

  // Natural keys written by the current step, with the main key they got.
  std::map<AnsiString, int32_t> step_keys_;
  // Per natural key, the main rows the current step wrote or merged into under it.
  std::map<AnsiString, std::set<int32_t>> step_touched_;
  // The parents' new keys read from the station during the current step, by table (upper
  // case), column and old key. The station copy changes only through this engine: a
  // write-back forgets its table's keys, added columns, cleared marks and the end of a
  // step forget them all.
  std::map<AnsiString, std::map<std::pair<AnsiString, int32_t>, Variant>> remapped_;
  // The natural key of the row being filled (recorded with its new key after its post).
  AnsiString pending_natural_key_;
  // Searches the natural key in KeyLookup and among the rows the step wrote.
  bool FindNatural(const AnsiString& key);
  // The main key of a natural key the step wrote (0 when it wrote none).
  int32_t StepKey(const AnsiString& key) const;
  // True when the step wrote a row under this main key.
  bool WrittenByStep(int32_t key) const;
  // Opens SearchSet on sql.
  void OpenSearch(const AnsiString& sql);
  // Opens SearchSet on row_sql (a text that ends where the row's key belongs) with key as a
  // parameter: the rows of one table reuse the prepared statement.
  void OpenSearchByKey(const AnsiString& row_sql, const Variant& key);
  // A station row read with its change mark that has none: unchanged on the station.
  // The steps that read all rows only map such a row to its main row: merging it would
  // put the station's old values over the main database's own later changes.
  static bool Unchanged(TDataSet* source);
  // The standard outcome of a merge result.
  void StandardOutcome(int32_t merge_result);
  // The station row's key value.
  static int32_t KeyOf(TDataSet* source, const AnsiString& field);
  // Records for the journal remap that the station row source is main_row in main:
  // table's journal key column in both, when both have it.
  void NoteMainRow(const AnsiString& table, TDataSet* source, TDataSet* main_row);
  // Records station_key -> main_key of table when key_field is the column table's journal
  // rows name it by.
  void NoteMainKey(const AnsiString& table, const AnsiString& key_field, int32_t station_key, int32_t main_key);
  // Writes main_key into the station row's new-key column (merged or duplicate parents).
  void MapToMain(const AnsiString& table, const AnsiString& key_field, TDataSet* source,
                 int32_t main_key, const AnsiString& new_key_column);
  // A station value as an SQL literal.
  static AnsiString Sql(const AnsiString& value) { return QuotedStr(value); }
  // The text of a field, "" when Null.
  static AnsiString Text(TDataSet* d, const AnsiString& field);
  // The _NEW value when not Null, else the station value, as text.
  static AnsiString NewOrOld(TDataSet* d, const AnsiString& new_field, const AnsiString& old_field);

 private:
  void PlayNewKeyColumns();
  bool TableExists(const AnsiString& table);

  // --- Organisation structure and access rights
  void PlayZarizeni();
  void PlayZarizeniBanka();
  void PlayOddeleni();
  void PlayPracoviste();
  void PlayPristupovaPrava();
  void PlayPristup();
  void PlayUzivatel();
  void PlayPracUziv();
  void PlayPristupOrgJednotka();
  void DecideRight(TDataSet* source);
  // --- Code lists
  void PlayCenik();
  void PlayBanka();
  void PlayDiagnoza();
  void PlayFraze();
  void PlayHodnoceni();
  void PlayMernaJednotka();
  void PlayPsc();
  void PlayReceptar();
  void PlaySklad();
  void PlayPohlavi();
  void PlayText();
  void PlayTypUstajeni();
  void PlayKatastr();
  void PlayKategoriePacienta();
  // A code list whose duplicates are skipped with the log: the natural key (key_of) is
  // tested when test_field is filled, in KeyLookup keyed lookup_key over lookup_sql (its
  // column 1, when it has one, the main key a new-key column is given); other fields go
  // to others, or to the copy.
  void PlayCodeList(const TStepConfig& config, const AnsiString& test_field,
                    const AnsiString& lookup_key, const AnsiString& lookup_sql,
                    const std::function<AnsiString(TDataSet*)>& key_of,
                    const TImportFieldEvent& others = {},
                    const std::function<void()>& prepare_more = {});

  // --- Details, laboratory, images and sales: KOPROLOGIE, SOUBOR, VAKCINACE_ODCERVENI,
  //     VARIANTA_SKLAD, VARIANTA_CENIK, VARIANTA_PARTNER, POHLEDAVKA, LABVH, LABVD, CESTA,
  //     SKUPINA_OBRAZOVE_DOKUMENTACE, OBRAZOVA_DOKUMENTACE, ZADANKA, PRODEJKA
  //     (MeldrunDetails.cpp); code lists II, reports and closing items: ORD_CINNOST,
  //     CIL_CESTY, DODATEK, FORMA_UHRADY, LABHODN, LAB_VAZBY, RTG_PROJEKCE, RTG_OBLAST,
  //     VYROBCE, UMISTENI, OZNACENI_ZAZNAMU, ZPRAVA, DOKLAD_POLOZKA_UZ (MeldrunCodes2.cpp)
  void PlayKoprologie();
  void PlaySoubor();
  void PlayVakcinaceOdcerveni();
  void PlayVariantaSklad();
  void PlayVariantaCenik();
  void PlayVariantaPartner();
  void PlayPohledavka();
  void PlayLab();
  void PlayCesta();
  void PlaySkupinaObrazoveDokumentace();
  void PlayObrazovaDokumentace();
  void PlayZadanka();
  void PlayProdejka();
  void PlayOrdCinnost();
  void PlayCilCesty();
  void PlayDodatek();
  void PlayFormaUhrady();
  void PlayLabHodn();
  void PlayLabVazby();
  void PlayRtgProjekce();
  void PlayRtgOblast();
  void PlayVyrobce();
  void PlayUmisteni();
  void PlayOznaceniZaznamu();
  void PlayZprava();
  void PlayDokladPolozkaUz();
  // A code list whose natural key (key_of, in KeyLookup keyed lookup_key over
  // lookup_sql) the main database has is skipped (logged when log_duplicates); a new
  // one gets a generator key.
  void PlayNamedCodeList(const TStepConfig& config, const AnsiString& lookup_key, const AnsiString& lookup_sql,
                         const std::function<AnsiString(TDataSet*)>& key_of, bool log_duplicates);
  // The main rows of a natural key, without a statement per station row: read lists
  // every main row of the table as the parts of its natural key followed by its key, and
  // runs once per play step (kept by key: texts compare without their trailing blanks, a
  // null part matches nothing); parts are the station row's values of those parts. With
  // highest only the highest key of the natural key is one.
  struct TNaturalSearch {
    AnsiString read;
    std::vector<Variant> parts;
    bool highest = false;
  };
  // A station row whose natural key the main database (or this step) has: merged into a
  // main row of the key that search finds, never into one this step wrote or merged into
  // under the key; the row the station row equals, else the highest key. No such row:
  // skipped with the log when main has none at all, else the row is new (false: the
  // caller fills its key). The merge keeps the main key (excluded) and takes the parents'
  // main keys from overrides.
  bool ResolveNatural(const AnsiString& key, TDataSet* source, const TNaturalSearch& search,
                      const AnsiString& row_sql, const AnsiString& remaps, const AnsiString& excluded,
                      const std::map<AnsiString, Variant>& overrides = {});
  // The parent's new key of a station reference (not found: false, the field untouched).
  bool RemapParentField(TField* field, TDataSet* source, const char* source_field, const char* table,
                        const char* key_field);
  // ID_ZARIZENI, ID_ODDELENI, ID_PRACOVISTE (and the user columns) through their
  // parents' new keys; true when the field is one of them.
  bool RemapOrgField(TField* field, TDataSet* source, bool& handled);
  bool RemapUserField(TField* field, TDataSet* source, bool& handled);
  // The remap-list items of the organisation columns and of the named user columns.
  static AnsiString OrgRemapList(TDataSet* source);
  static AnsiString UserRemapList(TDataSet* source, std::initializer_list<const char*> fields);
  // A date of a natural key as "dd.mm.yyyy", a time as "hh:mm:ss.zzz" + "0" ("" for Null);
  // the part of a natural-key read for a date column, the same text of its date ("" for
  // Null) that DateKey gives a station row; the start of the 700-day window.
  static AnsiString DateKey(TDataSet* d, const char* field);
  static AnsiString TimeKey(TDataSet* d, const char* field);
  static AnsiString DatePart(const AnsiString& column);
  static AnsiString WindowStart();

  // --- Partners and patients: PARTNER, PARTNER_KONTAKT, PARTNER_BANKA, FARMA, PACIENT,
  // PARTNER_ZALOHA, PARTNER_ZALOHA_CERPANI; examinations, certificates, transfers,
  // variants, templates and cases: VYSETRENI_NA_VZTEKLINU, VYSETRENI_NOVOTVARU_MZ,
  // VYSETRENI_HISTOLOGIE, REVERS, MEZINARODNI_OSVEDCENI, PREMISTENI_ZVIRETE(_ZVI),
  // VARIANTA, SABLONA_VYKONU, SABLONA_VYKONU_POLOZKA, PRIPAD.
 public:
  // Station rows of a table that did not arrive (failed, refused, parent missing), as
  // their station keys (the values of a key of several columns joined by ","): their
  // change marks stay, so that the next run plays them again.
  std::map<AnsiString, std::vector<AnsiString>> FailedRows() const;
  // The station condition that keeps the marks of those rows ("" none).
  AnsiString KeptMarks(const AnsiString& table) const;
  // From a field handler: the row cannot arrive because main lacks the row it refers to
  // (parent names that row's table, reference the station's code or key of it). The row
  // is refused: logged as skipped with the reason, counted and held marked, so that it
  // plays in the run that brings its parent.
  void RefuseMissingParent(const AnsiString& parent, const AnsiString& reference);
  // From a field handler: the row cannot arrive because the main row its natural key
  // named could not be read or merged. Refused like a row whose parent is missing.
  void RefuseUnmatched();
  // True when the station still holds a marked row of table whose column is value: a
  // row that has not arrived in main (its step kept it back, or has not played it yet).
  // A reference to such a row keeps its child back rather than letting it arrive
  // without the link.
  bool HeldAtStation(const AnsiString& table, const AnsiString& column, const AnsiString& value);

 private:
  void PlayPartner();
  void PlayPartnerKontakt();
  void PlayPartnerBanka();
  // A partner's contact or account: skipped when the main database has its natural key
  // (key_of the station row, in KeyLookup over lookup_sql); its partner by code.
  void PlayPartnerDetail(const TStepConfig& config, const AnsiString& lookup_sql,
                         const std::function<AnsiString(TDataSet*)>& key_of);
  void PlayFarma();
  void PlayPacient();
  void PlayPartnerZaloha();
  void PlayPartnerZalohaCerpani();
  void PlayVysetreniVzteklina();
  void PlayVysetreniNovotvar();
  void PlayVysetreniHistologie();
  void PlayRevers();
  void PlayMezinarodniOsvedceni();
  void PlayPremisteni();
  void PlayVarianta();
  void PlaySablonaVykonu();
  void PlaySablonaVykonuPolozka();
  void PlayPripad();
  // RunStep with after_post chained behind the step's own after-post write-back.
  void RunWatchedStep(const TStepConfig& config, const std::function<void()>& prepare,
                      TImportFieldEvent handler,
                      const std::function<void(TDataSet*)>& after_post = {});
  // Organisation and user keys: the parent's main key when the station has one, else
  // the station value is copied. False when field is none of them.
  bool PlayOrgKey(TField* field, TDataSet* source, bool& handled);
  // The remap list of the organisation and user keys of the station row.
  static AnsiString OrgRemaps(TDataSet* source);
  // Partner by code (TargetLookup keyed PARTNER): the field takes its main key, or the
  // row is skipped with the log line.
  void PartnerByCode(TField* field, TDataSet* source, TQorLookupList& list);
  // An examination or certificate (patient code + creation day).
  void PlayExamination(const char* table, const char* caption, const char* alias,
                       const char* natural_key, bool map_ids, int32_t partner_mode);
  void ActivateCase(int32_t patient, int32_t case_key);

  // A station row held marked: (column, SQL literal) pairs that select it; no pairs
  // when the row could not be told apart (the table keeps all its marks).
  using THeldRow = std::vector<std::pair<AnsiString, AnsiString>>;
  std::map<AnsiString, std::vector<THeldRow>> failed_rows_;
  // Primary-key columns and plain (integer and text) columns of station tables.
  std::map<AnsiString, std::vector<AnsiString>> station_keys_;
  std::map<AnsiString, std::vector<AnsiString>> station_columns_;
  const std::vector<AnsiString>& StationKeyColumns(const AnsiString& table);
  const std::vector<AnsiString>& StationPlainColumns(const AnsiString& table);
  // Holds the source row of a table marked: by its station key, or, when the source
  // does not deliver the key, by its plain values.
  void HoldRow(const AnsiString& table, TDataSet* source);
  void HoldKey(const AnsiString& table, const AnsiString& column, int32_t key);
  // Marked station rows of a table that the step's source never reads because a parent
  // it joins is missing on the station: each is counted and logged as skipped with the
  // parent it misses, and held marked.
  void HoldOrphans(const AnsiString& table);

  // --- Documents, daily records, document items (DOKLAD, DENNI_ZAZNAM,
  // DOKLAD_POLOZKA_FA/_PD/_UM/_SK through the memory tables) and the daily records'
  // detail tables (DENNI_ZAZNAM_HODNOTA, _RECEPT, _OFTALMO, _ORTOPED, _STOMATO,
  // _MEKKE_TKANE, _PLAZI, _DROBNI_SAVCI, DZS_ZUB)
  void PlayDoklad();
  void PlayDenniZaznam();
  void PlayDokladPolozka();
  void PlayDenniZaznamHodnota();
  void PlayDenniZaznamRecept();
  void PlayDenniZaznamOftalmo();
  void PlayDenniZaznamOrtoped();
  void PlayDenniZaznamStomato();
  void PlayDenniZaznamMekkeTkane();
  void PlayDzsZub();
  void PlayDenniZaznamPlazi();
  void PlayDenniZaznamDrobniSavci();
  void PlayDailyValues(const char* table, const char* caption, const char* key_field, const char* second,
                       const char* lookup_sql);
  void PlayDailyDetail(const char* suffix, const char* caption, bool dzs);
  static AnsiString DailyWindow();
  void RefuseNoDailyRecord(TDataSet* src);
  // Opens IBQuerySrcOther on sql (true when it has rows); commits and closes it.
  bool OpenMemorySource(const AnsiString& sql);
  void CloseMemorySource();
  static void EmptyMemory(class TMemoryData* memory);
  // Station keys of the memory rows that were refused or failed: their change marks are
  // not cleared, so that the next run plays them again. The rows written are counted with
  // the copy engine's (new rows as saved, rows written over main's as changed).
  void HoldFailedMarks(const AnsiString& table, class TMemoryData* memory, const char* key_field);
  // The condition of ClearChangeMarks that keeps those marks ("" none).
  AnsiString KeptMarksCondition(const AnsiString& table) const;

  std::unique_ptr<TQorLookupList> lookups_[5];
  std::unique_ptr<TQorLookupList> key_lookup_;
  TREZTable* search_set_;
  std::unique_ptr<TStringList> patient_cases_;
  std::unique_ptr<TStringList> document_statuses_;
  std::vector<int32_t> played_steps_;
  std::vector<int32_t> not_played_steps_;
};

}  // namespace pelvar
