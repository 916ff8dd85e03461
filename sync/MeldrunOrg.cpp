// The play steps of the organisation structure (devices, their bank accounts,
// departments, workplaces), the access rights and the users.
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

// The value of a _NEW column when not Null, else of the station column.
Variant NewOrOldValue(TDataSet* d, const AnsiString& new_field, const AnsiString& old_field) {
  TField* n = d->FieldByName(new_field);
  return n->IsNull() ? d->FieldByName(old_field)->AsVariant() : n->AsVariant();
}

// A number part of a search condition ("NULL" for a missing one, which finds nothing).
AnsiString Num(const AnsiString& text) { return text.empty() ? AnsiString("NULL") : text; }

// A row the station inserted: its key came from the station's own generator, which
// every station and main run alike, so another station's new row, or main's, may have
// the same key. Such a row is never found by its key, only by what it holds.
bool InsertedAtStation(TDataSet* d) {
  TField* st = d->FindField("ST");
  return st != nullptr && !st->IsNull() && Trim(st->AsString()) == "I";
}

// The main key of a row the station inserted: the row this step wrote for the same
// content (written), else the first main row sql selects; 0 when neither.
int32_t InsertedRowKey(TDMMeldrun& dm, int32_t written, const AnsiString& sql) {
  if (written != 0) return written;
  const Variant found = dm.SelectDst(sql);
  return found.IsNull() || found.IsEmpty() ? 0 : found.AsInteger();
}

}  // namespace

void TMeldrun::PlayZarizeni() {
  TStepConfig c;
  c.Table = "ZARIZENI";
  c.Caption = "Zařízení";
  c.Source =
      "select ID_ZARIZENI, NAZEV, ULICE, PSC, OBEC, ICO, DIC, TELEFON, FAX, EMAIL, PLATCEDPH, REGISTRACE, "
      "POZNAMKA, HASCHILDODD, UROVEN, HLAVICKA, HASCHILDPRAC, HASCHILDPRCV, DOBA_ZURNALU, ME_PRIPADY, "
      "USE_STORNO, ST from ZARIZENI";
  c.Generator = "GEN_ZARIZENI";
  c.KeyField = "ID_ZARIZENI";
  c.NewKeyColumn = "ID_ZARIZENI_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("ZARIZENI_KEY",
                             "select cast(ID_ZARIZENI as varchar(10))||snvl(NAZEV, '') as ZARIZENI_KEY from ZARIZENI");
        TargetLookup().SetQuery("ID_ZARIZENI", "select ID_ZARIZENI from ZARIZENI");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_ZARIZENI")) {
          handled = false;
          return;
        }
        const AnsiString code = Text(src, "ID_ZARIZENI");
        const AnsiString key = code + Text(src, "NAZEV");
        if (FindNatural(key)) {
          ImportTable().SkipRecord(true);
          const int32_t written = StepKey(key);
          MapToMain("ZARIZENI", "ID_ZARIZENI", src, written != 0 ? written : StrToInt(code), "ID_ZARIZENI_NEW");
          return;
        }
        // A device the station did not change is main's device of its code, whatever main
        // made of it since: it changes nothing and asks nothing. One main no longer has is
        // not brought back.
        if (Unchanged(src)) {
          ImportTable().SkipRecord(false);
          if (!code.empty() && TargetLookup().Find(code))
            MapToMain("ZARIZENI", "ID_ZARIZENI", src, StrToInt(code), "ID_ZARIZENI_NEW");
          return;
        }
        // A code that a device added by this step has taken is no conflict with the main
        // database: the station device is added as well.
        if (!code.empty() && TargetLookup().Find(code) && !WrittenByStep(StrToInt(code))) {
          OpenSearch("select * from zarizeni where ID_ZARIZENI = " + code);
          if (SearchSet()->IsEmpty() || SearchSet()->FieldByName("ID_ZARIZENI")->IsNull()) {
            ImportTable().SkipRecord(false);
            return;
          }
          auto describe = [](TDataSet* d) { return Text(d, "NAZEV") + CZ("  Ičo: ") + Text(d, "ICO"); };
          const AnsiString question = Format(
              CZ("POZOR! Zařízení \"%s\" ze sehrávané databáze má stejný kód jako zařízení \"%s\" z hlavní "
                 "databáze. Pokud se má záznam v hlavní databázi NAHRADIT záznamem ze sehrávané databáze, "
                 "stikněte tlačítko [Yes]. Pokud se má zařízení PŘIDAT do organizační struktury, stikněte "
                 "tlačítko [No]!"),
              {describe(src), describe(SearchSet())});
          // Enter keeps main's device and adds the station's beside it: replacing is
          // chosen only deliberately.
          if (MessageDlg(question, mtConfirmation, {mbYes, mbNo}, 0, mbNo) == mrYes) {
            const int32_t r = MergeRow(src, SearchSet(), "", "ID_ZARIZENI, ID_ZARIZENI_NEW");
            StandardOutcome(r);
            if (r != 0) MapToMain("ZARIZENI", "ID_ZARIZENI", src, StrToInt(code), "ID_ZARIZENI_NEW");
            return;
          }
        }
        pending_natural_key_ = key;  // a new device with a new key
      });
}

void TMeldrun::PlayZarizeniBanka() {
  TStepConfig c;
  c.Table = "ZARIZENI_BANKA";
  c.Caption = "Banka zařízení";
  c.Source = "select * from ZARIZENI_BANKA where ST is not NULL";
  c.Generator = "GEN_ZARIZENI_BANKA";
  c.KeyField = "ID_ZARIZENI_BANKA";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery(
            "ID", "select cast(ID_ZARIZENI_BANKA as varchar(10)) as ID from ZARIZENI_BANKA");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_ZARIZENI_BANKA")) {
          if (InsertedAtStation(src)) {
            // A new account is the one main has with the same device, bank and number
            // (played before, or added alike elsewhere), else a new row.
            Variant device = src->FieldByName("ID_ZARIZENI")->AsVariant();
            if (!device.IsNull() && !device.IsEmpty()) {
              const Variant mapped = dm_.SelectSrc(Format("select ID_ZARIZENI_NEW from ZARIZENI where ID_ZARIZENI = %d",
                                                          {device.AsInteger()}));
              if (!mapped.IsNull() && !mapped.IsEmpty()) device = mapped;
            }
            const AnsiString identity = "new/" + (device.IsNull() || device.IsEmpty() ? AnsiString() : device.AsString()) + "/" +
                                        Text(src, "BANKA") + "/" + Text(src, "UCET");
            const int32_t main_key = InsertedRowKey(
                dm_, StepKey(identity),
                "select min(ID_ZARIZENI_BANKA) from ZARIZENI_BANKA where ID_ZARIZENI " +
                    (device.IsNull() || device.IsEmpty() ? AnsiString("is null") : "= " + IntToStr(device.AsInteger())) +
                    " and snvl(BANKA, '') = " + Sql(Text(src, "BANKA")) + " and snvl(UCET, '') = " +
                    Sql(Text(src, "UCET")));
            if (main_key == 0) {
              pending_natural_key_ = identity;
              return;
            }
            OpenSearch("select * from ZARIZENI_BANKA where ID_ZARIZENI_BANKA = " + IntToStr(main_key));
            StandardOutcome(MergeRow(src, SearchSet(), "", "ID_ZARIZENI_BANKA,ID_ZARIZENI"));
            return;
          }
          const AnsiString key = Text(src, "ID_ZARIZENI_BANKA");
          if (FindNatural(key)) {
            OpenSearch("select * from ZARIZENI_BANKA where ID_ZARIZENI_BANKA = " + Num(key));
            StandardOutcome(MergeRow(src, SearchSet(), "", "ID_ZARIZENI"));
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_ZARIZENI")) {
          TField* s = src->FieldByName("ID_ZARIZENI");
          handled = !s->IsNull() &&
                    SetFieldIfNotNull(field, dm_.SelectSrc(Format("select ID_ZARIZENI_NEW from ZARIZENI where ID_ZARIZENI = %d",
                                                                  {s->AsInteger()})));
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayOddeleni() {
  TStepConfig c;
  c.Table = "ODDELENI";
  c.Caption = "Oddělení";
  c.Source =
      "select z.ID_ZARIZENI_NEW, c.CENIK, o.* from ODDELENI o join ZARIZENI z on o.ID_ZARIZENI = "
      "z.ID_ZARIZENI left JOIN CENIK c on o.ID_CENIK = c.ID_CENIK ";
  c.Generator = "GEN_ODDELENI";
  c.KeyField = "ID_ODDELENI";
  c.NewKeyColumn = "ID_ODDELENI_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("ODDELENI",
                             "select trim(cast(ID_ODDELENI as varchar(10))||'/'|| cast(ID_ZARIZENI as varchar(10))) "
                             "as ODDELENI from ODDELENI");
        TargetLookup().SetQuery("CENIK", "select ID_CENIK, CENIK from CENIK");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_ODDELENI")) {
          const AnsiString id = Text(src, "ID_ODDELENI");
          const AnsiString device = NewOrOld(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI");
          AnsiString key = id + "/" + device;
          if (InsertedAtStation(src)) {
            // A new department is the one main has with the same device and name (played
            // before, or added alike elsewhere), else a new row.
            key = "new/" + device + "/" + Text(src, "NAZEV");
            const int32_t main_key =
                InsertedRowKey(dm_, StepKey(key),
                               "select min(ID_ODDELENI) from ODDELENI where ID_ZARIZENI = " + Num(device) +
                                   " and snvl(NAZEV, '') = " + Sql(Text(src, "NAZEV")));
            if (main_key == 0) {
              pending_natural_key_ = key;
              return;
            }
            OpenSearch("select * from ODDELENI where ID_ODDELENI = " + IntToStr(main_key));
          } else if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          } else {
            OpenSearch("select * from ODDELENI where ID_ODDELENI = " + Num(id) + " and ID_ZARIZENI = " + Num(device));
          }
          const int32_t r = Unchanged(src) ? 2 :
              MergeRow(src, SearchSet(), "ID_CENIK,CENIK,ID_CENIK," + Text(src, "ID_CENIK") + "|",
                       "ID_ODDELENI,ID_ZARIZENI_NEW,ID_ODDELENI_NEW,CENIK",
                       {{"ID_ZARIZENI", NewOrOldValue(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI")}});
          StandardOutcome(r);
          if (r != 0)
            MapToMain("ODDELENI", "ID_ODDELENI", src, SearchSet()->FieldByName("ID_ODDELENI")->AsInteger(),
                      "ID_ODDELENI_NEW");
        } else if (Is(field, "ID_ZARIZENI")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_ZARIZENI_NEW")->AsVariant());
        } else if (Is(field, "ID_CENIK")) {
          TField* code = src->FieldByName("CENIK");
          if (!code->IsNull() && TargetLookup().Find(code->AsString())) {
            field->SetAsVariant(TargetLookup().GetValue(0));
          } else {
            field->Clear();
          }
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayPracoviste() {
  TStepConfig c;
  c.Table = "PRACOVISTE";
  c.Caption = "Pracoviště";
  c.Source =
      "select z.ID_ZARIZENI_NEW, o.ID_ODDELENI_NEW, p.* from PRACOVISTE p join ZARIZENI z on p.ID_ZARIZENI = "
      "z.ID_ZARIZENI join ODDELENI o on p.ID_ODDELENI = o.ID_ODDELENI";
  c.Generator = "GEN_PRACOVISTE";
  c.KeyField = "ID_PRACOVISTE";
  c.NewKeyColumn = "ID_PRACOVISTE_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("PRACOVISTE",
                             "select cast(ID_PRACOVISTE as varchar(10))||'/'|| cast(ID_ODDELENI as varchar(10))||'/'|| "
                             "cast(ID_ZARIZENI as varchar(10)) as PRACOVISTE from PRACOVISTE");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PRACOVISTE")) {
          const AnsiString id = Text(src, "ID_PRACOVISTE");
          const AnsiString department = NewOrOld(src, "ID_ODDELENI_NEW", "ID_ODDELENI");
          const AnsiString device = NewOrOld(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI");
          AnsiString key = id + "/" + department + "/" + device;
          if (InsertedAtStation(src)) {
            // A new workplace is the one main has in the same department with the same name.
            key = "new/" + department + "/" + device + "/" + Text(src, "NAZEV");
            const int32_t main_key =
                InsertedRowKey(dm_, StepKey(key),
                               "select min(ID_PRACOVISTE) from PRACOVISTE where ID_ZARIZENI = " + Num(device) +
                                   " and ID_ODDELENI = " + Num(department) + " and snvl(NAZEV, '') = " +
                                   Sql(Text(src, "NAZEV")));
            if (main_key == 0) {
              pending_natural_key_ = key;
              return;
            }
            OpenSearch("select * from PRACOVISTE where ID_PRACOVISTE = " + IntToStr(main_key));
          } else if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          } else {
            OpenSearch("select * from PRACOVISTE where ID_PRACOVISTE = " + Num(id) + " and ID_ZARIZENI = " +
                       Num(device) + " and ID_ODDELENI = " + Num(department));
          }
          const int32_t r = Unchanged(src) ? 2 : MergeRow(src, SearchSet(), "", "ID_PRACOVISTE,ID_ZARIZENI_NEW,ID_PRACOVISTE_NEW,ID_ODDELENI_NEW",
                                     {{"ID_ZARIZENI", NewOrOldValue(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI")},
                                      {"ID_ODDELENI", NewOrOldValue(src, "ID_ODDELENI_NEW", "ID_ODDELENI")}});
          StandardOutcome(r);
          if (r != 0)
            MapToMain("PRACOVISTE", "ID_PRACOVISTE", src, SearchSet()->FieldByName("ID_PRACOVISTE")->AsInteger(),
                      "ID_PRACOVISTE_NEW");
        } else if (Is(field, "ID_ZARIZENI")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_ZARIZENI_NEW")->AsVariant());
        } else if (Is(field, "ID_ODDELENI")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_ODDELENI_NEW")->AsVariant());
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayPristupovaPrava() {
  TStepConfig c;
  c.Table = "PRISTUPOVA_PRAVA";
  c.Caption = "Přístupová práva";
  c.Source = "select * from PRISTUPOVA_PRAVA where ST is not null";
  c.Generator = "GEN_PRISTUPOVA_PRAVA";
  c.KeyField = "ID_PRISTUPOVA_PRAVA";
  c.NewKeyColumn = "ID_PRISTUPOVA_PRAVA_NEW";
  RunStep(
      c, [this] { KeyLookup().SetQuery("NAZEV", "select NAZEV from PRISTUPOVA_PRAVA"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_PRISTUPOVA_PRAVA")) {
          handled = false;
          return;
        }
        const AnsiString name = Text(src, "NAZEV");
        if (FindNatural(name)) {
          DecideRight(src);
        } else {
          pending_natural_key_ = name;
        }
      });
}

void TMeldrun::DecideRight(TDataSet* src) {
  TImportTable& t = ImportTable();
  const AnsiString name = Text(src, "NAZEV");
  OpenSearch("select * from PRISTUPOVA_PRAVA where NAZEV = " + Sql(name));
  if (SearchSet()->IsEmpty()) {
    RefuseUnmatched();
    return;
  }
  const int32_t main_id = SearchSet()->FieldByName("ID_PRISTUPOVA_PRAVA")->AsInteger();
  const int32_t station_id = KeyOf(src, "ID_PRISTUPOVA_PRAVA");
  auto map_to = [&](int32_t key) {
    WriteBackNewKey("PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA", {key}, station_id, "ID_PRISTUPOVA_PRAVA_NEW");
  };
  if (dm_.MainForm().AutoContinue()) {
    dm_.RightsDecision = 0;
  } else {
    TFrmDialogPrava dialog(&dm_);
    auto show = [](TFrmDialogPrava& d, TDataSet* row, bool station) {
      const AnsiString values[] = {Text(row, "NAZEV"), Text(row, "ADMINISTRATOR"), Text(row, "DATABAZE"),
                                   Text(row, "NASTAVENI"), Text(row, "POZNAMKA")};
      if (station) {
        d.ShowStationRight(values[0], values[1], values[2], values[3], values[4]);
      } else {
        d.ShowMainRight(values[0], values[1], values[2], values[3], values[4]);
      }
    };
    show(dialog, src, true);
    show(dialog, SearchSet(), false);
    dialog.ShowModal();
  }
  switch (dm_.RightsDecision) {
    case 0: {
      // Counted as changed only when the main right did change.
      const int32_t r = MergeRow(src, SearchSet(), "", "ID_PRISTUPOVA_PRAVA");
      StandardOutcome(r);
      if (r != 0) map_to(main_id);
      break;
    }
    case 1: {
      const Variant id = dm_.SelectDst("select gen_id(gen_pristupova_prava, 1) from RDB$Database");
      if (!id.IsNull()) {
        TREZTable* s = SearchSet();
        s->Close();
        s->SQL()->SetText(
            "insert into PRISTUPOVA_PRAVA (ID_PRISTUPOVA_PRAVA, NAZEV, ADMINISTRATOR, POZNAMKA, NASTAVENI, DATABAZE) "
            "values (:ID_PRISTUPOVA_PRAVA, :NAZEV, :ADMINISTRATOR, :POZNAMKA, :NASTAVENI, :DATABAZE)");
        s->Prepare();
        s->ParamByName("ID_PRISTUPOVA_PRAVA")->SetAsInteger(id.AsInteger());
        s->ParamByName("NAZEV")->SetAsString(dm_.RightsNewName);
        for (const char* f : {"ADMINISTRATOR", "POZNAMKA", "NASTAVENI", "DATABAZE"})
          s->ParamByName(f)->SetValue(src->FieldByName(f)->AsVariant());
        TIB_Transaction* transaction = s->IB_Transaction();
        if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
        s->ExecSQL();
        map_to(id.AsInteger());
      }
      t.SkipRecord(false);
      break;
    }
    case 2:
      map_to(dm_.RightsTargetId >= 0 ? dm_.RightsTargetId : main_id);
      t.SkipRecord(false);
      break;
    default:
      map_to(main_id);
      t.SkipRecord(false);
      break;
  }
}

void TMeldrun::PlayPristup() {
  TStepConfig c;
  c.Table = "PRISTUP";
  c.Caption = "Úroveň práv k modulům";
  c.Source =
      "select P.*, PP.ID_PRISTUPOVA_PRAVA_NEW from PRISTUP P join PRISTUPOVA_PRAVA PP on P.ID_PRISTUPOVA_PRAVA = "
      "PP.ID_PRISTUPOVA_PRAVA where P.ST is not NULL";
  c.Generator = "GEN_PRISTUP";
  c.KeyField = "ID_PRISTUP";
  c.NewKeyColumn = "ID_PRISTUP_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("PRISTUP",
                             "select ID_PRISTUP, cast(ID_PRISTUPOVA_PRAVA as varchar(10)) ||'/'|| "
                             "cast(ID_PRISTPRAV as varchar(10)) as PRISTUP from PRISTUP");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PRISTUP")) {
          const AnsiString right = NewOrOld(src, "ID_PRISTUPOVA_PRAVA_NEW", "ID_PRISTUPOVA_PRAVA");
          const AnsiString level = Text(src, "ID_PRISTPRAV");
          const AnsiString key = right + "/" + level;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          OpenSearch("select * from PRISTUP where ID_PRISTUPOVA_PRAVA = " + Num(right) + " and ID_PRISTPRAV = " +
                     Num(level));
          const int32_t r =
              MergeRow(src, SearchSet(), "", "ID_PRISTUP,ID_PRISTUPOVA_PRAVA_NEW",
                       {{"ID_PRISTUPOVA_PRAVA", NewOrOldValue(src, "ID_PRISTUPOVA_PRAVA_NEW", "ID_PRISTUPOVA_PRAVA")}});
          StandardOutcome(r);
          if (r != 0)
            MapToMain("PRISTUP", "ID_PRISTUP", src, SearchSet()->FieldByName("ID_PRISTUP")->AsInteger(), "ID_PRISTUP_NEW");
        } else if (Is(field, "ID_PRISTUPOVA_PRAVA")) {
          // The new row refers to the access right as the main database has it.
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_PRISTUPOVA_PRAVA_NEW")->AsVariant());
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayUzivatel() {
  TStepConfig c;
  c.Table = "UZIVATEL_NEW";
  c.Caption = "Uživatel";
  c.Source = "select * from UZIVATEL_NEW";
  c.Generator = "GEN_UZIVATEL";
  c.KeyField = "ID_UZIVATEL";
  c.MapIds = true;
  c.NewKeyColumn = "ID_UZIVATEL_NEW";
  RunStep(
      c, [this] { KeyLookup().SetQuery("UZIVATEL", "select snvl(ZKRATKA, '') as UZIVATEL from UZIVATEL_NEW"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_UZIVATEL")) {
          const AnsiString code = Text(src, "ZKRATKA");
          if (!FindNatural(code)) {
            pending_natural_key_ = code;
            return;
          }
          OpenSearch("select * from UZIVATEL_NEW where ZKRATKA = " + Sql(code));
          const int32_t r = Unchanged(src) ? 2 : MergeRow(
              src, SearchSet(),
              "ID_PRISTUPOVA_PRAVA,PRISTUPOVA_PRAVA,ID_PRISTUPOVA_PRAVA," + Text(src, "ID_PRISTUPOVA_PRAVA") + "|",
              "ID_UZIVATEL,ID_UZIVATEL_NEW,ZKRATKA");
          StandardOutcome(r);
          if (r != 0)
            MapToMain("UZIVATEL_NEW", "ID_UZIVATEL", src, SearchSet()->FieldByName("ID_UZIVATEL")->AsInteger(),
                      "ID_UZIVATEL_NEW");
        } else if (Is(field, "ID_PRISTUPOVA_PRAVA")) {
          // A user's access right as the main database has it.
          TField* s = src->FieldByName("ID_PRISTUPOVA_PRAVA");
          bool found = false;
          const Variant v =
              s->IsNull() ? Variant::MakeNull() : RemapForeignKey("PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA", s->AsInteger(), found);
          handled = found && SetFieldIfNotNull(field, v);
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayPracUziv() {
  TStepConfig c;
  c.Table = "PRACUZIV";
  c.Caption = "Uživatelé pracoviště";
  c.Source =
      "select z.ID_ZARIZENI_NEW, pr.ID_PRACOVISTE_NEW, u.ID_UZIVATEL_NEW, pp.ID_PRISTUPOVA_PRAVA_NEW, p.* from "
      "PRACUZIV p join ZARIZENI z on p.ID_ZARIZENI = z.ID_ZARIZENI join PRACOVISTE pr on p.ID_PRACOVISTE = "
      "pr.ID_PRACOVISTE join UZIVATEL_NEW u on p.ID_UZIVATEL = u.ID_UZIVATEL left join PRISTUPOVA_PRAVA pp on "
      "p.ID_PRISTPRAV = pp.ID_PRISTUPOVA_PRAVA";
  c.Generator = "GEN_PRACUZIV";
  c.KeyField = "ID_PRACUZIV";
  c.NewKeyColumn = "ID_PRACUZIV_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("PRACUZIV",
                             "select cast(ID_PRACUZIV as varchar(10))||'/'|| cast(ID_PRACOVISTE as varchar(10))||'/'|| "
                             "cast(ID_ZARIZENI as varchar(10))||'/'|| cast(ID_UZIVATEL as varchar(10)) as PRACUZIV "
                             "from PRACUZIV");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PRACUZIV")) {
          const AnsiString id = Text(src, "ID_PRACUZIV");
          const AnsiString workplace = NewOrOld(src, "ID_PRACOVISTE_NEW", "ID_PRACOVISTE");
          const AnsiString device = NewOrOld(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI");
          const AnsiString user = NewOrOld(src, "ID_UZIVATEL_NEW", "ID_UZIVATEL");
          AnsiString key = id + "/" + workplace + "/" + device + "/" + user;
          if (InsertedAtStation(src)) {
            // A new user of a workplace is the one main has for the same workplace and user.
            key = "new/" + workplace + "/" + device + "/" + user;
            const int32_t main_key =
                InsertedRowKey(dm_, StepKey(key),
                               "select min(ID_PRACUZIV) from PRACUZIV where ID_ZARIZENI = " + Num(device) +
                                   " and ID_PRACOVISTE = " + Num(workplace) + " and ID_UZIVATEL = " + Num(user));
            if (main_key == 0) {
              pending_natural_key_ = key;
              return;
            }
            OpenSearch("select * from PRACUZIV where ID_PRACUZIV = " + IntToStr(main_key));
          } else if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          } else {
            OpenSearch("select * from PRACUZIV where ID_PRACUZIV = " + Num(id) + " and ID_ZARIZENI = " + Num(device) +
                       " and ID_PRACOVISTE = " + Num(workplace) + " and ID_UZIVATEL = " + Num(user));
          }
          const int32_t r = Unchanged(src) ? 2 : MergeRow(
              src, SearchSet(), "",
              "ID_PRACUZIV,ID_ZARIZENI_NEW,ID_PRACUZIV_NEW,ID_PRACOVISTE_NEW,ID_UZIVATEL_NEW,ID_PRISTUPOVA_PRAVA_NEW",
              {{"ID_ZARIZENI", NewOrOldValue(src, "ID_ZARIZENI_NEW", "ID_ZARIZENI")},
               {"ID_PRACOVISTE", NewOrOldValue(src, "ID_PRACOVISTE_NEW", "ID_PRACOVISTE")},
               {"ID_UZIVATEL", NewOrOldValue(src, "ID_UZIVATEL_NEW", "ID_UZIVATEL")},
               {"ID_PRISTPRAV", NewOrOldValue(src, "ID_PRISTUPOVA_PRAVA_NEW", "ID_PRISTPRAV")}});
          StandardOutcome(r);
          if (r != 0)
            MapToMain("PRACUZIV", "ID_PRACUZIV", src, SearchSet()->FieldByName("ID_PRACUZIV")->AsInteger(),
                      "ID_PRACUZIV_NEW");
        } else if (Is(field, "ID_ZARIZENI")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_ZARIZENI_NEW")->AsVariant());
        } else if (Is(field, "ID_PRACOVISTE")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_PRACOVISTE_NEW")->AsVariant());
        } else if (Is(field, "ID_UZIVATEL")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_UZIVATEL_NEW")->AsVariant());
        } else if (Is(field, "ID_PRISTPRAV")) {
          handled = SetFieldIfNotNull(field, src->FieldByName("ID_PRISTUPOVA_PRAVA_NEW")->AsVariant());
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayPristupOrgJednotka() {
  TStepConfig c;
  c.Table = "PRISTUP_ORG_JEDNOTKA";
  c.Caption = "Práva k organizačním jednotkám ";
  c.Source =
      "select z.ID_ZARIZENI_NEW, pr.ID_PRACOVISTE_NEW, o.ID_ODDELENI_NEW, pp.ID_PRISTUP_NEW, p.* from "
      "PRISTUP_ORG_JEDNOTKA p join ZARIZENI z on p.ID_ZARIZENI = z.ID_ZARIZENI join PRACOVISTE pr on "
      "p.ID_PRACOVISTE = pr.ID_PRACOVISTE join ODDELENI o on p.ID_ODDELENI = o.ID_ODDELENI join PRISTUP pp on "
      "p.ID_PRISTUP = pp.ID_PRISTUP where p.ST is not NULL";
  c.Generator = "GEN_PRISTUP_ORG_JEDNOTKA";
  c.KeyField = "ID_PRISTUP_ORG_JEDNOTKA";
  c.NewKeyColumn = "ID_PRISTUP_ORG_JEDNOTKA_NEW";
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("PRISTUP_ORG_JEDNOTKA",
                             "select cast(ID_PRISTUP as varchar(10))||'/'|| cast(ID_PRACOVISTE as varchar(10))||'/'|| "
                             "cast(ID_ZARIZENI as varchar(10))||'/'|| cast(ID_ODDELENI as varchar(10)) as "
                             "PRISTUP_ORG_JEDNOTKA from PRISTUP_ORG_JEDNOTKA");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        static const char* const kParts[][2] = {{"ID_PRISTUP", "ID_PRISTUP_NEW"},
                                                {"ID_PRACOVISTE", "ID_PRACOVISTE_NEW"},
                                                {"ID_ZARIZENI", "ID_ZARIZENI_NEW"},
                                                {"ID_ODDELENI", "ID_ODDELENI_NEW"}};
        if (Is(field, "ID_PRISTUP_ORG_JEDNOTKA")) {
          AnsiString part[4];
          for (int i = 0; i < 4; ++i) part[i] = NewOrOld(src, kParts[i][1], kParts[i][0]);
          const AnsiString key = part[0] + "/" + part[1] + "/" + part[2] + "/" + part[3];
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          const AnsiString parts_sql =
              Format("select ID_PRISTUP_ORG_JEDNOTKA from PRISTUP_ORG_JEDNOTKA where (ID_PRISTUP = %s) and "
                     "(ID_ZARIZENI = %s) and (ID_PRACOVISTE = %s) and (ID_ODDELENI = %s)",
                     {Num(part[0]), Num(part[2]), Num(part[1]), Num(part[3])});
          // Of several main rows with these parts, the one with the station's key (the
          // station started as a copy of the main database) comes first.
          OpenSearch(parts_sql + " and ID_PRISTUP_ORG_JEDNOTKA = " + Num(Text(src, "ID_PRISTUP_ORG_JEDNOTKA")));
          if (SearchSet()->IsEmpty()) OpenSearch(parts_sql);
          if (SearchSet()->IsEmpty()) {
            RefuseUnmatched();
            return;
          }
          const int32_t main_key = SearchSet()->Fields(0)->AsInteger();
          OpenSearch("select * from PRISTUP_ORG_JEDNOTKA where ID_PRISTUP_ORG_JEDNOTKA = " + IntToStr(main_key));
          std::map<AnsiString, Variant> overrides;
          for (const auto& p : kParts) overrides[p[0]] = NewOrOldValue(src, p[1], p[0]);
          const int32_t r = MergeRow(src, SearchSet(), "",
                                     "ID_PRISTUP_ORG_JEDNOTKA,ID_ZARIZENI_NEW,ID_PRISTUP_ORG_JEDNOTKA_NEW,"
                                     "ID_PRACOVISTE_NEW,ID_ODDELENI_NEW,ID_PRISTUP_NEW",
                                     overrides);
          StandardOutcome(r);
          if (r != 0)
            MapToMain("PRISTUP_ORG_JEDNOTKA", "ID_PRISTUP_ORG_JEDNOTKA", src, main_key, "ID_PRISTUP_ORG_JEDNOTKA_NEW");
          return;
        }
        for (const auto& p : kParts) {
          if (Is(field, p[0])) {
            handled = SetFieldIfNotNull(field, src->FieldByName(p[1])->AsVariant());
            return;
          }
        }
        handled = false;
      });
}

}  // namespace pelvar
