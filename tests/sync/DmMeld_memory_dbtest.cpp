// The data module's memory-table import of documents, daily records and document items,
// against practice databases of tools/practice in the embedded Firebird engine. The play
// steps that call it come with the engine; the tests call the operations in the steps'
// order and set up what the engine's earlier steps leave behind (the station's parent
// rows present in the main database, the organisation new-key columns of the station).
// Proved: new rows arrive under new keys with every item pointing at its document's main
// key, known rows update under the main key, a station of version 200628 plays, and the
// faults mended: a column the station lacks keeps its main value, an unresolved reference
// or a half-resolved row is listed in Errors and not written (nor are the rows that refer
// to it), a document without a number is refused, an empty text stays empty,
// station texts with apostrophes are quoted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

using Row = std::vector<Variant>;

class DmMeldMemory : public ::testing::Test {
 protected:
  // A main database and two stations cut from it (200824 and 200628), made once.
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    source_dir_ = new TempDir("pelvar-dmmem");
    const CommandResult r = GeneratePractice(
        {"--seed", "mem", "--size", "small", "--main", source_dir_->File("main.fdb"), "--station",
         source_dir_->File("st.fdb"), "--station", source_dir_->File("old.fdb"), "--station-version",
         "200824", "--station-version", "200628"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete source_dir_;
    source_dir_ = nullptr;
  }

  void Open(const std::string& station) {
    fs::copy_file(source_dir_->File("main.fdb"), dir_.File("main.fdb"));
    fs::copy_file(source_dir_->File(station), dir_.File("st.fdb"));
    dm_.OpenDst(dir_.File("main.fdb"), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(dir_.File("st.fdb"), AdministratorUser, AdministratorPassword);
  }

  // Every row of a query on the station (src) or the main database.
  std::vector<Row> Rows(bool src, const std::string& sql) {
    TREZQuery* q = src ? dm_.IBQuerySSearch() : dm_.IBQueryDSearch();
    if (q->Active()) q->Close();
    TIB_Transaction* t = q->IB_Transaction();
    if (!IsTransactionStarted(t)) t->StartTransaction();
    q->SQL()->SetText(CZ(sql));
    q->Open();
    std::vector<Row> rows;
    for (q->First(); !q->Eof(); q->Next()) {
      Row row;
      for (TField* f : q->FieldList()) {
        if (f->DataType() == ftBytes) continue;
        row.push_back(f->AsVariant());
      }
      rows.push_back(row);
    }
    q->Close();
    t->CommitRetaining();
    return rows;
  }
  Variant Dst(const std::string& sql) { return dm_.SelectDst(CZ(sql)); }
  Variant Src(const std::string& sql) { return dm_.SelectSrc(CZ(sql)); }
  static AnsiString Q(const Variant& v) { return v.IsNull() ? AnsiString("null") : QuotedStr(v.AsString()); }

  // What the engine's earlier steps leave: the station's new code-list rows, users,
  // partners, patients and cases exist in the main database under main keys.
  void PlayParents() {
    for (const Row& r : Rows(true, "select ZKRATKA from UZIVATEL_NEW where ST is not null")) {
      if (Dst("select count(*) from UZIVATEL_NEW where ZKRATKA = " + Q(r[0])).AsInteger() > 0) continue;
      dm_.ExecDst("insert into UZIVATEL_NEW (ID_UZIVATEL, ZKRATKA) values (gen_id(GEN_UZIVATEL, 1), " + Q(r[0]) + ")");
    }
    for (const char* t : {"PARTNER", "PACIENT", "VARIANTA", "CENIK", "SKLAD", "MERNA_JEDNOTKA"}) {
      const std::string table = t;
      for (const Row& r : Rows(true, "select " + table + " from " + table + " where ST is not null")) {
        if (Dst("select count(*) from " + table + " where " + table + " = " + Q(r[0])).AsInteger() > 0) continue;
        dm_.ExecDst("insert into " + table + " (ID_" + table + ", " + table + ") values (gen_id(GEN_" + table +
                    ", 1), " + Q(r[0]) + ")");
      }
    }
    for (const Row& r : Rows(true,
                             "select PAC.PACIENT, P.PRIPAD, P.AKTIVNI, P.ZALOZENI_ZAZNAMU from PRIPAD P join PACIENT "
                             "PAC on P.ID_PACIENT = PAC.ID_PACIENT where P.ST is not null")) {
      const AnsiString date = r[3].IsNull() ? AnsiString("null") : QuotedStr(FormatDateTime("yyyy-mm-dd", r[3].AsDateTime()));
      const AnsiString patient = "(select ID_PACIENT from PACIENT where PACIENT = " + Q(r[0]) + ")";
      if (Dst("select count(*) from PRIPAD where ID_PACIENT = " + patient + " and PRIPAD = " + Q(r[1])).AsInteger() > 0)
        continue;
      dm_.ExecDst("insert into PRIPAD (ID_PACIENT, PRIPAD, AKTIVNI, ZALOZENI_ZAZNAMU) values (" + patient + ", " +
                  Q(r[1]) + ", " + Q(r[2]) + ", " + date + ")");
    }
  }

  // The calls of the document, daily-record and item steps, in their order (the document
  // step only with the documents group).
  void PlayMemoryTables(bool documents = true) {
    TREZQuery* src = dm_.IBQuerySrcOther();
    auto open = [&](const std::string& sql) {
      if (src->Active()) src->Close();
      if (!IsTransactionStarted(dm_.REZTransactionSrc())) dm_.REZTransactionSrc()->StartTransaction();
      src->SQL()->SetText(sql);
      src->Prepare();
      src->Open();
      return !src->IsEmpty();
    };
    auto done = [&] {
      if (IsTransactionStarted(dm_.REZTransactionSrc())) dm_.REZTransactionSrc()->Commit();
      src->Close();
    };
    if (documents && open("select * from doklad where ST is not null")) {
      dm_.FillMemoryTable("DOKLAD", dm_.MemoryDoklad());
      dm_.ResolveDocumentValues();
      dm_.ResolveDocumentParents();
      dm_.ImportNewRecords("DOKLAD", "ID_DOKLAD", dm_.MemoryDoklad());
      dm_.ApplyDocumentStatuses();
    }
    done();
    if (open("select DZ.*, PAC.PACIENT, D.DOKLAD, D.TYP_DOKLADU, P.ZALOZENI_ZAZNAMU as DATUM_PRIPADU from "
             "DENNI_ZAZNAM DZ join PACIENT PAC on (DZ.ID_PACIENT = PAC.ID_PACIENT) left join DOKLAD D on "
             "(DZ.ID_DOKLAD = D.ID_DOKLAD) left join PRIPAD P on (DZ.ID_PRIPAD = P.ID_PRIPAD) where (DZ.ST is not "
             "NULL) ")) {
      dm_.FillMemoryTable("DENNI_ZAZNAM", dm_.MemoryDenZaznam());
      dm_.ResolveDailyRecordValues();
      dm_.ImportNewRecords("DENNI_ZAZNAM", "ID_DENNI_ZAZNAM", dm_.MemoryDenZaznam());
    }
    done();
    bool first = true;
    for (const char* kind : {"fa", "pd", "um", "sk"}) {
      const std::string table = std::string("doklad_polozka_") + kind;
      if (open("select d1.doklad, d1.typ_dokladu, d2.doklad as doklad_predek, dp.* from " + table +
               " dp join doklad d1 on (dp.id_doklad = d1.id_doklad) left join doklad d2 on (dp.id_doklad_predek = "
               "d2.id_doklad) where (dp.st is not null) ")) {
        if (!first) dm_.MemoryDokladPolozka()->EmptyTable();
        first = false;
        const AnsiString t = AnsiUpperCase(table);
        dm_.FillMemoryTable(t, dm_.MemoryDokladPolozka());
        dm_.ResolveDocumentItemValues(t);
        dm_.ResolveDocumentItemParents();
        dm_.ImportNewRecords(t, "ID_DOKLAD_POLOZKA", dm_.MemoryDokladPolozka());
      }
      done();
    }
    for (TMemoryData* m : {dm_.MemoryDoklad(), dm_.MemoryDenZaznam(), dm_.MemoryDokladPolozka()}) {
      if (m->Active()) m->EmptyTable();
      m->Close();
    }
  }

  std::string Errors() {
    std::string text;
    for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i) text += AnsiToUtf8(dm_.ErrorList().Strings(i)) + "\n";
    return text;
  }

  static TempDir* source_dir_;
  TempDir dir_{"pelvar-dmmem"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TScriptedResponder dialogs_{[](const std::string& m) { ADD_FAILURE() << m; }};
};

TempDir* DmMeldMemory::source_dir_ = nullptr;

const char* const kItemTables[] = {"DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_UM",
                                   "DOKLAD_POLOZKA_SK"};

TEST_F(DmMeldMemory, DocumentsDailyRecordsAndItemsArriveUnderMainKeys) {
  Open("st.fdb");
  PlayParents();
  // The organisation structure was played: one department got a new key in main.
  for (const char* t : {"ZARIZENI", "ODDELENI", "PRACOVISTE"})
    dm_.ExecSrc(std::string("alter table ") + t + " add ID_" + t + "_NEW integer");
  const Row dept = Rows(true, "select first 1 ID_ODDELENI from DOKLAD where ST is not null and ID_ODDELENI is not null "
                              "and ID_DOKLAD > (select max(ID_DOKLAD) - 100 from DOKLAD)")
                       .at(0);
  dm_.ExecSrc("update ODDELENI set ID_ODDELENI_NEW = 4711 where ID_ODDELENI = " + dept[0].AsString());

  const int32_t doc_gen = Dst("select gen_id(GEN_DOKLAD, 0) from rdb$database").AsInteger();
  const int32_t item_gen = Dst("select gen_id(GEN_DOKLAD_POLOZKA, 0) from rdb$database").AsInteger();
  const int32_t day_gen = Dst("select gen_id(GEN_DENNI_ZAZNAM, 0) from rdb$database").AsInteger();
  const auto docs = Rows(true, "select ID_DOKLAD, DOKLAD, TYP_DOKLADU, CENA, ID_ODDELENI from DOKLAD where ST is not null");
  ASSERT_GT(docs.size(), 3u);
  std::map<std::string, int32_t> known;  // documents main already had: number|type -> main key
  for (const Row& d : docs) {
    const Variant k = Dst("select ID_DOKLAD from DOKLAD where DOKLAD = " + Q(d[1]) + " and TYP_DOKLADU = " + Q(d[2]));
    if (!k.IsNull()) known[d[1].AsString() + "|" + d[2].AsString()] = k.AsInteger();
  }
  ASSERT_FALSE(known.empty());
  ASSERT_LT(known.size(), docs.size());

  PlayMemoryTables();
  EXPECT_EQ(Errors(), "");

  for (const Row& d : docs) {
    SCOPED_TRACE(d[1].AsString());
    const auto main = Rows(false, "select ID_DOKLAD, CENA, ID, ID_ODDELENI from DOKLAD where DOKLAD = " + Q(d[1]) +
                                      " and TYP_DOKLADU = " + Q(d[2]));
    ASSERT_EQ(main.size(), 1u);
    const auto it = known.find(d[1].AsString() + "|" + d[2].AsString());
    if (it != known.end()) {
      EXPECT_EQ(main[0][0].AsInteger(), it->second);  // updated under the main key
    } else {
      EXPECT_GT(main[0][0].AsInteger(), doc_gen);  // a new key
    }
    EXPECT_EQ(Variant::Equal(main[0][1], d[3]), true);
    EXPECT_EQ(main[0][2].AsInteger(), d[0].AsInteger());  // the station key in ID
    if (!d[4].IsNull() && d[4].AsString() == dept[0].AsString()) {
      EXPECT_EQ(main[0][3].AsInteger(), 4711);
    }
  }

  int32_t items = 0;
  for (const char* table : kItemTables) {
    const std::string t = table;
    for (const Row& r : Rows(true, "select dp.ID_DOKLAD_POLOZKA, d.DOKLAD, d.TYP_DOKLADU, dp.VARIANTA from " + t +
                                       " dp join DOKLAD d on dp.ID_DOKLAD = d.ID_DOKLAD where dp.ST is not null")) {
      SCOPED_TRACE(t + " " + r[0].AsString());
      const auto main = Rows(false, "select dp.ID_DOKLAD_POLOZKA, d.DOKLAD, d.TYP_DOKLADU, v.VARIANTA from " + t +
                                        " dp join DOKLAD d on dp.ID_DOKLAD = d.ID_DOKLAD left join VARIANTA v on "
                                        "dp.ID_VARIANTA = v.ID_VARIANTA where dp.ID = " + r[0].AsString());
      ASSERT_EQ(main.size(), 1u);
      EXPECT_EQ(main[0][1].AsString(), r[1].AsString());  // its document's main key
      EXPECT_EQ(main[0][2].AsString(), r[2].AsString());
      EXPECT_EQ(main[0][3].AsString(), r[3].AsString());
      ++items;
    }
    EXPECT_EQ(Dst("select count(*) from " + t + " where ID_DOKLAD_POLOZKA > " + std::to_string(item_gen) +
                  " and ID is null").AsInteger(), 0);
  }
  EXPECT_GT(items, 3);

  const auto days = Rows(true, "select DZ.ID_DENNI_ZAZNAM, PAC.PACIENT from DENNI_ZAZNAM DZ join PACIENT PAC on "
                               "DZ.ID_PACIENT = PAC.ID_PACIENT where DZ.ST is not null");
  ASSERT_FALSE(days.empty());
  for (const Row& r : days) {
    SCOPED_TRACE(r[0].AsString());
    const auto main = Rows(false, "select DZ.ID_DENNI_ZAZNAM, PAC.PACIENT from DENNI_ZAZNAM DZ join PACIENT PAC on "
                                  "DZ.ID_PACIENT = PAC.ID_PACIENT where DZ.ID = " + r[0].AsString());
    ASSERT_EQ(main.size(), 1u);
    EXPECT_EQ(main[0][1].AsString(), r[1].AsString());
  }
  EXPECT_GT(Dst("select count(*) from DENNI_ZAZNAM where ID_DENNI_ZAZNAM > " + std::to_string(day_gen)).AsInteger(), 0);

  // Every reference of a written row leads to the row the station meant.
  const std::pair<const char*, const char*> dangling[] = {
      {"DOKLAD d", "d.ID_PREDEK <> -1 and not exists (select 1 from DOKLAD p where p.ID_DOKLAD = d.ID_PREDEK and "
                   "p.DOKLAD = d.DOKLAD_PUVODNI)"},
      {"DOKLAD d", "not exists (select 1 from PARTNER p where p.ID_PARTNER = d.ID_PARTNER and p.PARTNER = d.PARTNER)"},
      {"DENNI_ZAZNAM z", "z.ID_DOKLAD <> -1 and not exists (select 1 from DOKLAD d where d.ID_DOKLAD = z.ID_DOKLAD)"},
      {"DENNI_ZAZNAM z", "z.ID_PRIPAD <> -1 and not exists (select 1 from PRIPAD p where p.ID_PRIPAD = z.ID_PRIPAD "
                         "and p.ID_PACIENT = z.ID_PACIENT)"},
      {"DOKLAD_POLOZKA_UM i", "i.ID_DENNI_ZAZNAM <> -1 and not exists (select 1 from DENNI_ZAZNAM z where "
                              "z.ID_DENNI_ZAZNAM = i.ID_DENNI_ZAZNAM)"},
      {"DOKLAD_POLOZKA_SK i", "i.ID_DOKLAD_POLOZKA_PREDEK <> -1 and not exists (select 1 from DOKLAD_POLOZKA_UM u "
                              "where u.ID_DOKLAD_POLOZKA = i.ID_DOKLAD_POLOZKA_PREDEK) and not exists (select 1 from "
                              "DOKLAD_POLOZKA_PD u where u.ID_DOKLAD_POLOZKA = i.ID_DOKLAD_POLOZKA_PREDEK)"},
  };
  for (const auto& [table, condition] : dangling) {
    SCOPED_TRACE(condition);
    const std::string alias = std::string(table).substr(std::string(table).find(' ') + 1);
    EXPECT_EQ(Dst(std::string("select count(*) from ") + table + " where " + alias + ".ID is not null and " + condition)
                  .AsInteger(), 0);
  }
  EXPECT_GT(Dst("select count(*) from DOKLAD where ID is not null and ID_PREDEK <> -1").AsInteger(), 0);
}

// The main rows of a natural key are read once per pass and kept by key; they must be
// found as the server found them with a statement per row: a code that main stores with
// trailing blanks, a time that is null on both sides (its text is then empty).
TEST_F(DmMeldMemory, NaturalKeysAreFoundAsTheServerComparesThem) {
  Open("st.fdb");
  PlayParents();
  const Row day = Rows(true, "select first 1 DZ.ID_DENNI_ZAZNAM, PAC.PACIENT from DENNI_ZAZNAM DZ join PACIENT PAC on "
                             "DZ.ID_PACIENT = PAC.ID_PACIENT where DZ.ST = 'U' and DZ.ID_DOKLAD = -1")
                      .at(0);
  const std::string key = day[0].AsString();
  ASSERT_EQ(Dst("select count(*) from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = " + key).AsInteger(), 1);
  dm_.ExecDst("update PACIENT set PACIENT = PACIENT || '  ' where PACIENT = " + Q(day[1]));
  dm_.ExecDst("update DENNI_ZAZNAM set CAS = null where ID_DENNI_ZAZNAM = " + key);
  dm_.ExecSrc("update DENNI_ZAZNAM set CAS = null where ID_DENNI_ZAZNAM = " + key);
  const int32_t before = Dst("select count(*) from DENNI_ZAZNAM").AsInteger();
  PlayMemoryTables();
  EXPECT_EQ(Errors(), "");
  // Written over main's row under main's key, not added as a new row.
  EXPECT_EQ(Dst("select ID from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = " + key).AsString(), key);
  EXPECT_EQ(Dst("select count(*) from DENNI_ZAZNAM where ID = " + key).AsInteger(), 1);
  EXPECT_EQ(Dst("select count(*) from DENNI_ZAZNAM where ID_DENNI_ZAZNAM > " + key + " and ID = " + key).AsInteger(), 0);
  EXPECT_GE(Dst("select count(*) from DENNI_ZAZNAM").AsInteger(), before);
}

TEST_F(DmMeldMemory, AStationOfVersion200628Plays) {
  Open("old.fdb");
  ASSERT_EQ(Src("select VERZE from VERZE").AsInteger(), 200628);
  PlayParents();
  const int32_t marked = Src("select count(*) from DOKLAD where ST is not null").AsInteger();
  ASSERT_GT(marked, 0);
  // No organisation new-key columns either: the station's organisation keys stand.
  PlayMemoryTables();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Dst("select count(*) from DOKLAD where ID is not null").AsInteger(), marked);
  EXPECT_EQ(Dst("select count(*) from DENNI_ZAZNAM where ID is not null").AsInteger(),
            Src("select count(*) from DENNI_ZAZNAM DZ join PACIENT P on DZ.ID_PACIENT = P.ID_PACIENT where DZ.ST is "
                "not null").AsInteger());
}

// With the documents group off the daily records and items find their documents in the
// main database; those whose document is new at the station are listed, not written.
TEST_F(DmMeldMemory, WithoutTheDocumentStepDocumentsAreFoundInMain) {
  Open("st.fdb");
  PlayParents();
  PlayMemoryTables(false);
  EXPECT_FALSE(dm_.MemoryDoklad()->Active());
  EXPECT_EQ(Dst("select count(*) from DOKLAD where ID is not null").AsInteger(), 0);
  const std::string errors = Errors();
  EXPECT_NE(errors.find("ID_DOKLAD: DOKLAD"), std::string::npos) << errors;
  for (const char* table : kItemTables) {
    const std::string t = table;
    SCOPED_TRACE(t);
    // Written items: exactly those whose document main already has, each under it.
    const int32_t expected = Src("select count(*) from " + t + " i join DOKLAD d on i.ID_DOKLAD = d.ID_DOKLAD where "
                                 "i.ST is not null and d.ST is distinct from 'I'").AsInteger();
    const int32_t written = Dst("select count(*) from " + t + " where ID is not null").AsInteger();
    EXPECT_LE(written, expected);
    EXPECT_EQ(Dst("select count(*) from " + t + " i where i.ID is not null and not exists (select 1 from DOKLAD d "
                  "where d.ID_DOKLAD = i.ID_DOKLAD)").AsInteger(), 0);
  }
  EXPECT_EQ(Dst("select count(*) from DENNI_ZAZNAM z where z.ID is not null and z.ID_DOKLAD <> -1 and not exists "
                "(select 1 from DOKLAD d where d.ID_DOKLAD = z.ID_DOKLAD)").AsInteger(), 0);
  EXPECT_GT(Dst("select count(*) from DENNI_ZAZNAM where ID is not null").AsInteger(), 0);
}

// A station row whose references the main database does not know is not written, and
// neither are the rows that refer to it; one whose resolution fails half-way neither.
TEST_F(DmMeldMemory, UnresolvedAndHalfResolvedRowsGoToErrorsNotToMain) {
  Open("st.fdb");
  PlayParents();
  // A new document of an unknown partner, with items; a document whose department's new
  // key cannot be read (after its key, partner and code lists were resolved).
  const Row doc = Rows(true, "select first 1 ID_DOKLAD, DOKLAD, TYP_DOKLADU from DOKLAD d where ST = 'I' and exists "
                             "(select 1 from DOKLAD_POLOZKA_FA f where f.ID_DOKLAD = d.ID_DOKLAD and f.ST is not "
                             "null)").at(0);
  dm_.ExecSrc("update DOKLAD set PARTNER = 'NEZNAMY' where ID_DOKLAD = " + doc[0].AsString());
  const Row other = Rows(true, "select first 1 ID_DOKLAD, DOKLAD, ID_ODDELENI from DOKLAD where ST is not null and "
                               "ID_DOKLAD <> " + doc[0].AsString() + " and ID_ODDELENI is not null order by ID_DOKLAD "
                               "desc").at(0);
  dm_.ExecSrc("alter table ODDELENI add ID_ODDELENI_NEW computed by (case when ID_ODDELENI = " +
              other[2].AsString() + " then 1/0 end)");
  const int32_t items = Src("select count(*) from DOKLAD_POLOZKA_FA where ST is not null and ID_DOKLAD = " +
                            doc[0].AsString()).AsInteger();

  PlayMemoryTables();
  const std::string errors = Errors();
  EXPECT_NE(errors.find("NEZNAMY"), std::string::npos) << errors;
  EXPECT_NE(errors.find(" zdrojová data: "), std::string::npos);
  EXPECT_EQ(Dst("select count(*) from DOKLAD where ID = " + doc[0].AsString()).AsInteger(), 0);
  EXPECT_EQ(Dst("select count(*) from DOKLAD_POLOZKA_FA where ID_DOKLAD in (select ID_DOKLAD from DOKLAD where ID = " +
                doc[0].AsString() + ")").AsInteger(), 0);
  // Its items are listed as well, and not written.
  EXPECT_GE(static_cast<int32_t>(dm_.ErrorList().Count()), 2 + items) << errors;
  EXPECT_EQ(Dst("select count(*) from DOKLAD where ID = " + other[0].AsString()).AsInteger(), 0);
  EXPECT_NE(errors.find(AnsiToUtf8(other[1].AsString())), std::string::npos);
  // Nothing was written under a station key the main database does not hold.
  EXPECT_EQ(Dst("select count(*) from DOKLAD d where ID is not null and ID_PARTNER is not null and ID_PARTNER <> -1 "
                "and not exists (select 1 from PARTNER p where p.ID_PARTNER = d.ID_PARTNER)").AsInteger(), 0);
}

// Station values the UPDATE must keep apart from main: a column the station does not have
// keeps its main value; empty texts stay empty; a document without a number is refused;
// texts with apostrophes are quoted.
TEST_F(DmMeldMemory, UpdatesKeepMainColumnsAndEmptyTextsAndQuoteStationTexts) {
  Open("st.fdb");
  PlayParents();
  const Row known = Rows(true, "select first 1 s.ID_DOKLAD, s.DOKLAD, s.TYP_DOKLADU from DOKLAD s where s.ST is not "
                               "null and s.ID_DOKLAD < (select min(ID_DOKLAD) from DOKLAD where ST = 'I')").at(0);
  const AnsiString where = " where DOKLAD = " + Q(known[1]) + " and TYP_DOKLADU = " + Q(known[2]);
  const int32_t main_key = Dst("select ID_DOKLAD from DOKLAD" + where).AsInteger();
  // Main has a column of its own and a DODATEK the station no longer carries.
  dm_.ExecDst("alter table DOKLAD add POZNAMKA_HLAVNI varchar(20)");
  dm_.ExecDst("update DOKLAD set POZNAMKA_HLAVNI = 'hlavni', DODATEK = 'dodatek' where ID_DOKLAD = " +
              std::to_string(main_key));
  dm_.ExecSrc("alter table DOKLAD drop DODATEK");
  // Empty texts at the station, and apostrophes.
  dm_.ExecSrc("update DOKLAD set TITUL = '', POZNAMKA = '', ZPUSOB_DOPRAVY = 'O''Neill' where ID_DOKLAD = " +
              known[0].AsString());
  const Row fresh = Rows(true, "select first 1 ID_DOKLAD from DOKLAD where ST = 'I' order by ID_DOKLAD desc").at(0);
  dm_.ExecSrc("update DOKLAD set DOKLAD = 'D''Artagnan', TEXT1 = '' where ID_DOKLAD = " + fresh[0].AsString());
  const Row blank = Rows(true, "select first 1 ID_DOKLAD from DOKLAD where ST = 'I' and ID_DOKLAD <> " +
                                   fresh[0].AsString() + " and not exists (select 1 from DENNI_ZAZNAM z where "
                                   "z.ID_DOKLAD = DOKLAD.ID_DOKLAD) order by ID_DOKLAD").at(0);
  dm_.ExecSrc("update DOKLAD set DOKLAD = null where ID_DOKLAD = " + blank[0].AsString());
  dm_.ExecSrc("update DOKLAD_POLOZKA_FA set ST = null where ID_DOKLAD = " + blank[0].AsString());
  dm_.ExecSrc("update DOKLAD_POLOZKA_PD set ST = null where ID_DOKLAD = " + blank[0].AsString());
  dm_.ExecSrc("update DOKLAD_POLOZKA_UM set ST = null where ID_DOKLAD = " + blank[0].AsString());
  dm_.ExecSrc("update DOKLAD_POLOZKA_SK set ST = null where ID_DOKLAD = " + blank[0].AsString());
  // An invoice whose status main changed later keeps main's status.
  int32_t invoice = 0;
  for (const Row& r : Rows(true, "select DOKLAD, TYP_DOKLADU from DOKLAD where ST is not null and ID_DRUH_DOKLADU = "
                                 "1110 and ID_DOKLAD <> " + known[0].AsString())) {
    const Variant k = Dst("select ID_DOKLAD from DOKLAD where DOKLAD = " + Q(r[0]) + " and TYP_DOKLADU = " + Q(r[1]));
    if (k.IsNull()) continue;
    invoice = k.AsInteger();
    break;
  }
  ASSERT_NE(invoice, 0);
  dm_.ExecDst("update DOKLAD set ID_TABLE_STATUS = 99, TABLE_STATUS = 'hlavni', POSLEDNI_MODIFIKACE = '2030-01-01' "
              "where ID_DOKLAD = " + std::to_string(invoice));
  const int32_t doc_gen = Dst("select gen_id(GEN_DOKLAD, 0) from rdb$database").AsInteger();

  const int32_t main_numberless = Dst("select count(*) from DOKLAD where DOKLAD is null").AsInteger();
  PlayMemoryTables();
  // The document without a number is the only one refused.
  const std::string errors = Errors();
  EXPECT_EQ(errors.rfind("doklad nemá číslo zdrojová data: ", 0), 0u) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  EXPECT_EQ(Dst("select ID_TABLE_STATUS || TABLE_STATUS from DOKLAD where ID_DOKLAD = " + std::to_string(invoice))
                .AsString(), "99hlavni");
  EXPECT_EQ(dm_.DocumentStatuses().Count(), 0);
  const auto main = Rows(false, "select ID_DOKLAD, POZNAMKA_HLAVNI, DODATEK, TITUL, coalesce(char_length(POZNAMKA), -1), ZPUSOB_DOPRAVY, ID from "
                                "DOKLAD" + AnsiToUtf8(where));
  ASSERT_EQ(main.size(), 1u);
  EXPECT_EQ(main[0][0].AsInteger(), main_key);
  EXPECT_EQ(main[0][1].AsString(), "hlavni");
  EXPECT_EQ(main[0][2].AsString(), "dodatek");
  ASSERT_FALSE(main[0][3].IsNull());
  EXPECT_EQ(main[0][3].AsString(), "");
  EXPECT_EQ(main[0][4].AsInteger(), 0);  // an empty text, not null
  EXPECT_EQ(main[0][5].AsString(), "O'Neill");
  EXPECT_EQ(main[0][6].AsInteger(), known[0].AsInteger());

  const auto quoted = Rows(false, "select ID_DOKLAD, coalesce(char_length(TEXT1), -1) from DOKLAD where DOKLAD = 'D''Artagnan'");
  ASSERT_EQ(quoted.size(), 1u);
  EXPECT_GT(quoted[0][0].AsInteger(), doc_gen);
  EXPECT_EQ(quoted[0][1].AsInteger(), 0);

  // Nothing tells a document without a number from main's own: it is not written.
  EXPECT_EQ(Rows(false, "select ID_DOKLAD from DOKLAD where ID = " + blank[0].AsString()).size(), 0u);
  EXPECT_EQ(Dst("select count(*) from DOKLAD where DOKLAD is null").AsInteger(), main_numberless);
}

TEST_F(DmMeldMemory, DocumentStatusesOfOneImportAreWrittenOnceAndQuoted) {
  Open("st.fdb");
  const int32_t a = Dst("select min(ID_DOKLAD) from DOKLAD").AsInteger();
  dm_.DocumentStatuses().Add(std::to_string(a) + "|3|Nov'y|");
  dm_.DocumentStatuses().Add(std::to_string(a + 1) + "||Storno|");
  dm_.ApplyDocumentStatuses();
  EXPECT_EQ(dm_.DocumentStatuses().Count(), 0);
  EXPECT_EQ(Dst("select TABLE_STATUS from DOKLAD where ID_DOKLAD = " + std::to_string(a)).AsString(), "Nov'y");
  EXPECT_EQ(Dst("select ID_TABLE_STATUS from DOKLAD where ID_DOKLAD = " + std::to_string(a)).AsInteger(), 3);
  EXPECT_TRUE(Dst("select ID_TABLE_STATUS from DOKLAD where ID_DOKLAD = " + std::to_string(a + 1)).IsNull());
  dm_.DocumentStatuses().Add("1 or 1=1|3|x|");
  EXPECT_THROW(dm_.ApplyDocumentStatuses(), EConvertError);
}

}  // namespace
}  // namespace pelvar::test
