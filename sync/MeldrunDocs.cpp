// The play steps of documents, daily records and document items, played through the
// data module's memory tables in every cycle, and of the daily records' detail tables,
// played through the copy engine in the last cycle.
//
// Change marks are cleared only for what was played: a memory row that was refused or
// failed keeps its mark (its station key is held back from the clearing), so the next
// run plays it again. Each memory step empties what it filled when it ends, so that no
// row of one station is resolved or written again with the next station's.
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

AnsiString KeyText(TDataSet* d, const char* field) {
  TField* f = d->FieldByName(field);
  return f->IsNull() ? AnsiString() : IntToStr(f->AsInteger());
}

// The main daily record of a detail row: by the source key the memory import wrote
// into the main table's ID, else a main daily record under the station's own key; Null
// when there is none.
Variant MainDailyRecord(TImport& import, TQorLookupList& by_key, TDataSet* src) {
  const AnsiString station_key = KeyText(src, "ID_DENNI_ZAZNAM");
  if (station_key.empty()) return Null();
  if (import.TargetLookup().Find(station_key)) return import.TargetLookup().GetValue(1);
  if (by_key.Find(station_key)) return by_key.GetValue(0);
  return Null();
}

bool FindDailyRecord(TImport& import, TQorLookupList& by_key, TDataSet* src, TField* field) {
  const Variant key = MainDailyRecord(import, by_key, src);
  if (key.IsNull() || key.IsEmpty()) return false;
  field->SetAsVariant(key);
  return true;
}

const char* const kOrgParents[][2] = {
    {"ID_ZARIZENI", "ZARIZENI"}, {"ID_ODDELENI", "ODDELENI"}, {"ID_PRACOVISTE", "PRACOVISTE"}};

}  // namespace

// --- Memory-table steps --------------------------------------------------------------------

bool TMeldrun::OpenMemorySource(const AnsiString& sql) {
  TREZQuery* q = dm_.IBQuerySrcOther();
  if (q->Active()) q->Close();
  if (!IsTransactionStarted(dm_.REZTransactionSrc())) dm_.REZTransactionSrc()->StartTransaction();
  q->SQL()->SetText(sql);
  q->Prepare();
  q->Open();
  return !q->IsEmpty();
}

void TMeldrun::CloseMemorySource() {
  TREZQuery* q = dm_.IBQuerySrcOther();
  if (IsTransactionStarted(dm_.REZTransactionSrc())) dm_.REZTransactionSrc()->Commit();
  if (q->Active()) q->Close();
}

void TMeldrun::HoldFailedMarks(const AnsiString& table, TMemoryData* memory, const char* key_field) {
  if (!memory->Active()) return;
  int32_t inserted = 0;
  for (memory->First(); !memory->Eof(); memory->Next()) {
    TField* update = memory->FieldByName("UPDATE");
    const int32_t mode = update->IsNull() ? 0 : update->AsInteger();
    if (mode == 1) {
      ImportTable().LogChanged(table, memory);
    } else if (mode == 0) {
      ++inserted;
    } else {
      TField* key = memory->FieldByName(key_field);
      if (!key->IsNull()) HoldKey(table, key_field, key->AsInteger());
    }
  }
  ImportTable().CountSaved(inserted);
}

void TMeldrun::EmptyMemory(TMemoryData* memory) {
  if (memory->Active()) memory->EmptyTable();
  memory->Close();
}

void TMeldrun::PlayDoklad() {
  StartStep(CZ("Doklad"), 0);
  // Statuses kept from an earlier station's import are not this one's.
  dm_.DocumentStatuses().Clear();
  TMemoryData* m = dm_.MemoryDoklad();
  EmptyMemory(m);
  try {
    if (OpenMemorySource("select * from doklad where ST is not null")) {
      dm_.FillMemoryTable("DOKLAD", m);
      dm_.ResolveDocumentValues();
      dm_.ResolveDocumentParents();
      dm_.ImportNewRecords("DOKLAD", "ID_DOKLAD", m);
      dm_.ApplyDocumentStatuses();
      HoldFailedMarks("DOKLAD", m, "ID_DOKLAD");
    }
  } catch (...) {
    CloseMemorySource();
    dm_.DocumentStatuses().Clear();
    throw;
  }
  CloseMemorySource();
  dm_.DocumentStatuses().Clear();
  // The documents stay in memory for the daily records and items of this cycle; the
  // item step empties them.
}

void TMeldrun::PlayDenniZaznam() {
  StartStep(CZ("Denní záznam"), 0);
  TMemoryData* m = dm_.MemoryDenZaznam();
  // What an earlier station left must not be written again with this one's rows.
  EmptyMemory(m);
  try {
    if (OpenMemorySource(
            "select DZ.*, PAC.PACIENT, D.DOKLAD, D.TYP_DOKLADU, P.ZALOZENI_ZAZNAMU as DATUM_PRIPADU from "
            "DENNI_ZAZNAM DZ join PACIENT PAC on (DZ.ID_PACIENT = PAC.ID_PACIENT) left join DOKLAD D on "
            "(DZ.ID_DOKLAD = D.ID_DOKLAD) left join PRIPAD P on (DZ.ID_PRIPAD = P.ID_PRIPAD) where (DZ.ST is not "
            "NULL) ")) {
      dm_.FillMemoryTable("DENNI_ZAZNAM", m);
      dm_.ResolveDailyRecordValues();
      dm_.ImportNewRecords("DENNI_ZAZNAM", "ID_DENNI_ZAZNAM", m);
      HoldFailedMarks("DENNI_ZAZNAM", m, "ID_DENNI_ZAZNAM");
    }
  } catch (...) {
    CloseMemorySource();
    EmptyMemory(m);
    throw;
  }
  CloseMemorySource();
  HoldOrphans("DENNI_ZAZNAM");
  // Kept for the items of this cycle when they play; emptied by the item step, and
  // here when it does not follow.
  if (!Doklady) EmptyMemory(m);
}

void TMeldrun::PlayDokladPolozka() {
  // The bank-statement items play like the others: delivery rebuilds the station from
  // main, so an item main never got would be gone from the station too.
  static const char* const kKinds[][2] = {{"fa", "Položka faktury"},
                                          {"pd", "Položka pokl. dokladu"},
                                          {"um", "Položka účtu majitele"},
                                          {"sk", "Položka skladového dokladu"},
                                          {"bv", "Položka bankovního výpisu"}};
  TMemoryData* items = dm_.MemoryDokladPolozka();
  auto empty_all = [this, items] {
    EmptyMemory(dm_.MemoryDoklad());
    EmptyMemory(dm_.MemoryDenZaznam());
    EmptyMemory(items);
  };
  try {
    EmptyMemory(items);
    for (const auto& kind : kKinds) {
      StartStep(CZ(kind[1]), 0);
      const AnsiString table = "doklad_polozka_" + AnsiString(kind[0]);
      if (OpenMemorySource("select d1.doklad, d1.typ_dokladu, d2.doklad as doklad_predek, dp.* from " + table +
                           " dp join doklad d1 on (dp.id_doklad = d1.id_doklad) left join doklad d2 on "
                           "(dp.id_doklad_predek = d2.id_doklad) where (dp.st is not null) ")) {
        EmptyMemory(items);
        const AnsiString t = AnsiUpperCase(table);
        dm_.FillMemoryTable(t, items);
        dm_.ResolveDocumentItemValues(t);
        dm_.ResolveDocumentItemParents();
        dm_.ImportNewRecords(t, "ID_DOKLAD_POLOZKA", items);
        HoldFailedMarks(t, items, "ID_DOKLAD_POLOZKA");
      }
      CloseMemorySource();
      HoldOrphans(table);
    }
  } catch (...) {
    CloseMemorySource();
    empty_all();
    throw;
  }
  empty_all();
}

// --- Detail tables of the daily records ---------------------------------------------------

// A detail whose daily record main does not have (it did not arrive, or lies outside the
// window the step looks in) is refused and stays marked.
void TMeldrun::RefuseNoDailyRecord(TDataSet* src) {
  ImportTable().RefuseRecord(CZ("denní záznam ") + KeyText(src, "ID_DENNI_ZAZNAM") + CZ(" není v hlavní databázi"));
}

void TMeldrun::PlayDailyValues(const char* table, const char* caption, const char* key_field,
                               const char* second, const char* lookup_sql) {
  TStepConfig c{table, caption, AnsiString("select * from ") + table + " where ST is not NULL",
                AnsiString("GEN_") + table, key_field, true};
  const bool is_time = AnsiSameText(second, "CAS");
  RunStep(
      c,
      [this, table, lookup_sql] {
        KeyLookup().SetQuery(table, lookup_sql);
        TargetLookup().SetQuery("ID", "select ID, ID_DENNI_ZAZNAM from DENNI_ZAZNAM");
        Lookup1().SetQuery("ID_DENNI_ZAZNAM", "select ID_DENNI_ZAZNAM from DENNI_ZAZNAM");
      },
      [this, key_field, second, is_time](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, key_field)) {
          // The natural key names the daily record by its main key: the station's key of
          // a daily record it added is not the key main gave it.
          const Variant day = MainDailyRecord(*this, Lookup1(), src);
          if (day.IsNull() || day.IsEmpty()) return;  // the daily-record field skips the row
          TField* s = src->FieldByName(second);
          AnsiString tail;
          if (!s->IsNull())
            tail = is_time ? FormatDateTime("hh:mm:ss.zzz", s->AsDateTime()) + "0" : IntToStr(s->AsInteger());
          const AnsiString key = IntToStr(day.AsInteger()) + "\\" + tail;
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
          return;
        }
        if (Is(field, "ID_DENNI_ZAZNAM")) {
          if (!FindDailyRecord(*this, Lookup1(), src, field)) RefuseNoDailyRecord(src);
          return;
        }
        for (const auto& p : kOrgParents) {
          if (!Is(field, p[0])) continue;
          bool found = false;
          TField* old = src->FindField(p[0]);
          if (old != nullptr && !old->IsNull()) {
            const Variant v = RemapForeignKey(p[1], p[0], old->AsInteger(), found);
            if (found) field->SetAsVariant(v);
          }
          handled = found;
          return;
        }
        handled = false;
      });
}

void TMeldrun::PlayDenniZaznamHodnota() {
  PlayDailyValues("DENNI_ZAZNAM_HODNOTA", "Trias", "ID_DENNI_ZAZNAM_HODNOTA", "CAS",
                  "select cast(ID_DENNI_ZAZNAM as varchar(10))||'\\'||snvl(cast(CAS as varchar(13)), '') as "
                  "DENNI_ZAZNAM_HODNOTA from DENNI_ZAZNAM_HODNOTA");
}

void TMeldrun::PlayDenniZaznamRecept() {
  PlayDailyValues("DENNI_ZAZNAM_RECEPT", "Vydané recepty", "ID_DENNI_ZAZNAM_RECEPT", "PORADOVE_CISLO",
                  "select cast(ID_DENNI_ZAZNAM as varchar(10))||'\\'||snvl(cast(PORADOVE_CISLO as varchar(10)), '') "
                  "as DENNI_ZAZNAM_RECEPT from DENNI_ZAZNAM_RECEPT");
}

AnsiString TMeldrun::DailyWindow() {
  return " WHERE DZ.DATUM > '" + FormatDateTime("dd.mm.yyyy", Date() - 700) + "'";
}

void TMeldrun::PlayDailyDetail(const char* suffix, const char* caption, bool dzs) {
  const AnsiString x = suffix;
  const AnsiString table = "DENNI_ZAZNAM_" + x;
  const AnsiString a = dzs ? "DZS" : "DZO";
  TStepConfig c;
  c.Table = table;
  c.Caption = caption;
  c.Source = dzs ? "select DZS.*, PAC.PACIENT from " + table +
                       " DZS, PACIENT PAC where (DZS.ST IS NOT NULL) AND (DZS.ID_PACIENT=PAC.ID_PACIENT)"
                 : "select PAC.PACIENT, DZO.* from " + table +
                       " DZO, PACIENT PAC where (DZO.ST IS NOT NULL) AND (DZO.ID_PACIENT=PAC.ID_PACIENT)";
  c.KeyField = "ID_DENNI_ZAZNAM";
  c.KeepKeyGenerator = true;
  const AnsiString window = DailyWindow();
  RunStep(
      c,
      [this, x, table, a, window] {
        KeyLookup().SetQuery("ID_" + x, "select cast(" + a + ".ID_DENNI_ZAZNAM as VARCHAR(10))||'\\'||PAC.PACIENT as ID_" +
                                            x + " from " + table + " " + a + " join PACIENT PAC on " + a +
                                            ".ID_PACIENT = PAC.ID_PACIENT");
        TargetLookup().SetQuery("ID", "select DZ.ID, DZ.ID_DENNI_ZAZNAM from DENNI_ZAZNAM DZ" + window);
        Lookup1().SetQuery("PACIENT", "select PACIENT, ID_PACIENT from PACIENT");
        Lookup2().SetQuery("ID_DENNI_ZAZNAM", "select DZ.ID_DENNI_ZAZNAM from DENNI_ZAZNAM DZ" + window);
      },
      [this, table, a](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_DENNI_ZAZNAM")) {
          const AnsiString patient = Text(src, "PACIENT");
          // The daily record by its main key when main has it (a daily record the station
          // added has another key in main), else by the station's key.
          const Variant main_day = MainDailyRecord(*this, Lookup2(), src);
          const bool known = !main_day.IsNull() && !main_day.IsEmpty();
          const AnsiString day_key = known ? IntToStr(main_day.AsInteger()) : KeyText(src, "ID_DENNI_ZAZNAM");
          if (!day_key.empty() && KeyLookup().Find(day_key + "\\" + patient)) {
            const Variant day = dm_.SelectDst("select " + a + ".ID_DENNI_ZAZNAM from " + table + " " + a +
                                              ", PACIENT PAC where " + a + ".ID_PACIENT=PAC.ID_PACIENT and PAC.PACIENT=" +
                                              Sql(patient) + " and " + a + ".ID_DENNI_ZAZNAM = " + day_key);
            search_set_->Close();
            search_set_->SQL()->Clear();
            if (day.IsNull() || day.IsEmpty()) {
              RefuseUnmatched();
              return;
            }
            // The note (a blob) is left out of the merge, which cannot read a main row's
            // blob here ("BLOB not found"), and written from the station's changed row by a
            // statement of its own.
            OpenSearchByKey("select * from " + table + " where ID_DENNI_ZAZNAM=", Variant(day.AsInteger()));
            // The patient is main's patient of the station's code (the same code found the
            // row), never the station's key of it.
            std::map<AnsiString, Variant> patient_key;
            AnsiString excluded = "ID_DENNI_ZAZNAM,PACIENT,POZNAMKA";
            if (Lookup1().Find(patient)) {
              patient_key["ID_PACIENT"] = Lookup1().GetValue(1);
            } else {
              excluded += ",ID_PACIENT";
            }
            const int32_t result = MergeRow(src, SearchSet(), "", excluded, patient_key);
            TField* note = src->FindField("POZNAMKA");
            if (result != 0 && note != nullptr)
              dm_.ExecDst("update " + table + " set POZNAMKA = " +
                          (note->IsNull() ? AnsiString("null") : Sql(note->AsString())) +
                          " where ID_DENNI_ZAZNAM = " + IntToStr(day.AsInteger()));
            StandardOutcome(result);
            return;
          }
          if (known) {
            field->SetAsVariant(main_day);
          } else {
            RefuseNoDailyRecord(src);
          }
          return;
        }
        if (Is(field, "ID_PACIENT")) {
          const AnsiString code = Text(src, "PACIENT");
          if (!code.empty() && Lookup1().Find(code)) {
            field->SetAsVariant(Lookup1().GetValue(1));
          } else {
            if (code.empty()) {
              ImportTable().RefuseRecord(CZ("pacient nemá kód"));
            } else {
              RefuseMissingParent("PACIENT", code);
            }
          }
          return;
        }
        handled = false;
      });
}

void TMeldrun::PlayDenniZaznamOftalmo() { PlayDailyDetail("OFTALMO", "Denní záznam oftalmologický", false); }
void TMeldrun::PlayDenniZaznamOrtoped() { PlayDailyDetail("ORTOPED", "Denní záznam ortopedický", false); }
void TMeldrun::PlayDenniZaznamStomato() { PlayDailyDetail("STOMATO", "Denní záznam stomatologický.", true); }
void TMeldrun::PlayDenniZaznamMekkeTkane() {
  PlayDailyDetail("MEKKE_TKANE", "Denní záznam mměkké tkáně", false);
}
void TMeldrun::PlayDenniZaznamPlazi() { PlayDailyDetail("PLAZI", "Denní záznam plazi.", true); }
void TMeldrun::PlayDenniZaznamDrobniSavci() { PlayDailyDetail("DROBNI_SAVCI", "Denní záznam drobní savci.", true); }

void TMeldrun::PlayDzsZub() {
  TStepConfig c;
  c.Table = "DZS_ZUB";
  c.Caption = "Denní záznam zuby";
  c.Source = "select * from DZS_ZUB";
  c.KeyField = "ID_DENNI_ZAZNAM";
  c.KeepKeyGenerator = true;
  const AnsiString window = DailyWindow();
  RunStep(
      c,
      [this, window] {
        KeyLookup().SetQuery("ID_DZS_ZUB",
                             "select cast(ID_DENNI_ZAZNAM as VARCHAR(10))||'\\'||cast(ID_ZUB as VARCHAR(10)) as "
                             "ID_DZS_ZUB from DZS_ZUB");
        TargetLookup().SetQuery("ID", "select DZ.ID, DZ.ID_DENNI_ZAZNAM from DENNI_ZAZNAM DZ" + window);
        Lookup2().SetQuery("ID_DENNI_ZAZNAM", "select DZ.ID_DENNI_ZAZNAM from DENNI_ZAZNAM DZ" + window);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_DENNI_ZAZNAM")) {
          handled = false;
          return;
        }
        // Every tooth is read: one the station has not changed changes nothing in main.
        if (Unchanged(src)) {
          ImportTable().SkipRecord(false);
          return;
        }
        // The daily record by its main key when main has it, else by the station's key.
        const Variant main_day = MainDailyRecord(*this, Lookup2(), src);
        const bool known = !main_day.IsNull() && !main_day.IsEmpty();
        const AnsiString day = known ? IntToStr(main_day.AsInteger()) : KeyText(src, "ID_DENNI_ZAZNAM");
        const AnsiString tooth = KeyText(src, "ID_ZUB");
        if (!day.empty() && !tooth.empty() && KeyLookup().Find(day + "\\" + tooth)) {
          const AnsiString where = " where ID_ZUB = " + tooth + " and ID_DENNI_ZAZNAM = " + day;
          const Variant day_key = dm_.SelectDst("select ID_DENNI_ZAZNAM from DZS_ZUB" + where);
          if (day_key.IsNull() || day_key.IsEmpty()) {
            RefuseUnmatched();
            return;
          }
          const Variant tooth_key = dm_.SelectDst("select ID_ZUB from DZS_ZUB" + where);
          OpenSearch("select * from DZS_ZUB where (ID_DENNI_ZAZNAM=" + IntToStr(day_key.AsInteger()) +
                     ") and (ID_ZUB = " + IntToStr(tooth_key.AsInteger()) + ")");
          StandardOutcome(MergeRow(src, SearchSet(), "", "ID_DENNI_ZAZNAM"));
          return;
        }
        if (known) {
          field->SetAsVariant(main_day);
        } else {
          RefuseNoDailyRecord(src);
        }
      });
}

}  // namespace pelvar
