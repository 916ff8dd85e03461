// The play steps of the last cycle for the second group of code lists (surgery
// activities, travel destinations, addenda, payment forms, laboratory evaluations and
// links, X-ray projections and areas, manufacturers, locations, record marks), the
// reports and the stock-closing items.
//
// New codes get keys from their generators. Two lists keep the station's keys by
// design: locations (UMISTENI), whose key is copied from the station row (a key the
// main database uses already for another location becomes the next free one, and the
// generator is raised past the keys written), and the laboratory links (LAB_VAZBY),
// whose key is the three link columns themselves; laboratory evaluations and links are
// only ever merged, never inserted.
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

using play::Str;

std::function<AnsiString(TDataSet*)> Column(const char* name) {
  return [name](TDataSet* d) { return Str(d, name); };
}

}  // namespace

void TMeldrun::PlayNamedCodeList(const TStepConfig& c, const AnsiString& lookup_key, const AnsiString& lookup_sql,
                                 const std::function<AnsiString(TDataSet*)>& key_of, bool log_duplicates) {
  RunStep(
      c, [this, lookup_key, lookup_sql] { KeyLookup().SetQuery(lookup_key, lookup_sql); },
      [this, c, key_of, log_duplicates](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, c.KeyField.c_str())) {
          handled = false;
          return;
        }
        const AnsiString key = key_of(src);
        if (FindNatural(key)) {
          ImportTable().SkipRecord(log_duplicates);
        } else {
          pending_natural_key_ = key;  // a new code under a new key
        }
      });
}

void TMeldrun::PlayOrdCinnost() {
  TStepConfig c{"ORD_CINNOST", "Ordinační činnost", "select * from ORD_CINNOST where ORD_CINNOST_NAZEV is not NULL",
                "GEN_ORD_CINNOST", "ID_ORD_CINNOST"};
  PlayNamedCodeList(c, "ORD_CINNOST_NAZEV", "select ORD_CINNOST_NAZEV from ORD_CINNOST", Column("ORD_CINNOST_NAZEV"),
                    false);
}

void TMeldrun::PlayCilCesty() {
  TStepConfig c{"CIL_CESTY", "Cíl cesty", "select * from CIL_CESTY", "GEN_CIL_CESTY", "ID_CIL_CESTY"};
  PlayNamedCodeList(c, "KEY_CIL_CESTY",
                    "select snvl(CIL_CESTY, '')||'\\'||snvl(cast(VZDALENOST as varchar(11)), '') as KEY_CIL_CESTY "
                    "from CIL_CESTY",
                    [](TDataSet* d) { return Str(d, "CIL_CESTY") + "\\" + Str(d, "VZDALENOST"); }, false);
}

void TMeldrun::PlayDodatek() {
  TStepConfig c{"DODATEK", "Dodatek", "select * from DODATEK", "GEN_DODATEK", "ID_DODATEK"};
  PlayNamedCodeList(c, "KEY_DODATEK",
                    "select snvl(DODATEK, '')||'\\'||snvl(TABLE_NAME, '') as KEY_DODATEK from DODATEK",
                    [](TDataSet* d) { return Str(d, "DODATEK") + "\\" + Str(d, "TABLE_NAME"); }, true);
}

void TMeldrun::PlayFormaUhrady() {
  TStepConfig c{"FORMA_UHRADY", "Forma úhrady", "select * from FORMA_UHRADY", "GEN_FORMA_UHRADY", "ID_FORMA_UHRADY"};
  PlayNamedCodeList(c, "KEY_FORMA_UHRADY",
                    "select snvl(FORMA_UHRADY, '')||'/'||snvl(FORMA_UHRADY_NAZEV, '')  as KEY_FORMA_UHRADY from "
                    "FORMA_UHRADY",
                    [](TDataSet* d) { return Str(d, "FORMA_UHRADY") + "/" + Str(d, "FORMA_UHRADY_NAZEV"); }, false);
}

void TMeldrun::PlayRtgProjekce() {
  TStepConfig c{"RTG_PROJEKCE", "RTG projekce", "select * from RTG_PROJEKCE where ST is not NULL", "GEN_RTG_PROJEKCE",
                "ID_RTG_PROJEKCE"};
  PlayNamedCodeList(c, "RTG_PROJEKCE", "select snvl(PROJEKCE, '') as RTG_PROJEKCE from RTG_PROJEKCE",
                    Column("PROJEKCE"), false);
}

void TMeldrun::PlayRtgOblast() {
  TStepConfig c{"RTG_OBLAST", "RTG oblast", "select * from RTG_OBLAST where ST is not NULL", "GEN_RTG_OBLAST",
                "ID_RTG_OBLAST"};
  PlayNamedCodeList(c, "RTG_OBLAST", "select snvl(OBLAST, '') as RTG_OBLAST from RTG_OBLAST", Column("OBLAST"), false);
}

void TMeldrun::PlayVyrobce() {
  TStepConfig c{"VYROBCE", "Výrobce", "select * from VYROBCE", "GEN_VYROBCE", "ID_VYROBCE"};
  PlayNamedCodeList(c, "KEY_VYROBCE", "select snvl(VYROBCE, '') as KEY_VYROBCE from VYROBCE", Column("VYROBCE"),
                    false);
}

void TMeldrun::PlayLabHodn() {
  // No key field: an evaluation the main database lacks is never inserted.
  TStepConfig c{"LABHODN", "LabHodn", "select * from LABHODN", "GEN_LABHODN", ""};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("LABHODN",
                             "select snvl(ZKRATKA, '')||'/'||snvl(HODNOCENI, '') as LABHODN from LABHODN");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_LABHODN")) {
          ImportTable().SkipRecord(false);
          return;
        }
        // Only what the station changed may change main: its untouched copy of an
        // evaluation would put back what main has changed since.
        if (Unchanged(src)) {
          ImportTable().SkipRecord(false);
          return;
        }
        const AnsiString short_name = Str(src, "ZKRATKA");
        const AnsiString rating = Str(src, "HODNOCENI");
        const AnsiString key = short_name + "/" + rating;
        if (!KeyLookup().Find(key)) {
          // Main takes no new evaluation from a station: the row is logged and stays marked.
          ImportTable().RefuseRecord(CZ("nové hodnocení hlavní databáze nepřijímá"));
          return;
        }
        ResolveNatural(key, src,
                       {"select snvl(ZKRATKA, ''), snvl(HODNOCENI, ''), ID_LABHODN from LABHODN",
                        {Variant(short_name), Variant(rating)}, true},
                       "select * from LABHODN where ID_LABHODN=", "", "ID_LABHODN");
      });
}

void TMeldrun::PlayLabVazby() {
  TStepConfig c{"LAB_VAZBY", "LabVazby",
                "select va.VARIANTA, lv.* from LAB_VAZBY lv left join VARIANTA va on lv.ID_VARIANTA = va.ID_VARIANTA "
                "where lv.ST is not null",
                "GEN_LAB_VAZBY", ""};
  RunStep(
      c, [this] { TargetLookup().SetQuery("VARIANTA", "select VARIANTA, ID_VARIANTA from VARIANTA"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        (void)field;
        const AnsiString where =
            Format("ID_TYP_ZADANKY = %d and ID_POLOZKA_ZADANKY = %d and ID_TYP_VZORKU = %d",
                   {src->FieldByName("ID_TYP_ZADANKY")->AsInteger(), src->FieldByName("ID_POLOZKA_ZADANKY")->AsInteger(),
                    src->FieldByName("ID_TYP_VZORKU")->AsInteger()});
        const Variant n = dm_.SelectDst("select count(*) from LAB_VAZBY where " + where);
        search_set_->Close();
        search_set_->SQL()->Clear();
        if (n.IsNull() || n.AsInteger() == 0) {
          // A link the main database lacks is not inserted: logged, and kept marked.
          ImportTable().RefuseRecord(CZ("novou vazbu hlavní databáze nepřijímá"));
          return;
        }
        // The variant is the main database's variant of the same code.
        std::map<AnsiString, Variant> o;
        const AnsiString variant = Str(src, "VARIANTA");
        if (!variant.empty() && TargetLookup().Find(variant)) o["ID_VARIANTA"] = TargetLookup().GetValue(1);
        AnsiString excluded = "ID_TYP_ZADANKY,ID_POLOZKA_ZADANKY,ID_TYP_VZORKU,VARIANTA";
        if (o.empty()) excluded += ",ID_VARIANTA";
        OpenSearch("select * from LAB_VAZBY where " + where);
        StandardOutcome(MergeRow(src, SearchSet(), "", excluded, o));
      });
}

void TMeldrun::PlayUmisteni() {
  TStepConfig c{"UMISTENI", "Umístění", "select * from UMISTENI"};
  RunStep(
      c, [this] { KeyLookup().SetQuery("KEY_UMISTENI", "select snvl(UMISTENI, '') as KEY_UMISTENI from UMISTENI"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = false;
        if (!Is(field, "ID_UMISTENI")) return;
        const AnsiString key = Str(src, "UMISTENI");
        if (FindNatural(key)) {
          handled = true;
          ImportTable().SkipRecord(false);
          return;
        }
        pending_natural_key_ = key;
        // The station's key, unless another location has it in the main database.
        TField* s = src->FieldByName("ID_UMISTENI");
        if (s->IsNull()) return;
        const Variant used =
            dm_.SelectDst(Format("select count(*) from UMISTENI where ID_UMISTENI = %d", {s->AsInteger()}));
        if (used.IsNull() || used.AsInteger() == 0) return;
        field->SetAsVariant(dm_.SelectDst("select coalesce(max(ID_UMISTENI), 0) + 1 from UMISTENI"));
        handled = true;
      });
  const Variant highest = dm_.SelectDst("select coalesce(max(ID_UMISTENI), 0) from UMISTENI");
  if (!highest.IsNull() && highest.AsInt64() > 0) dm_.SyncGenerator("UMISTENI", highest.AsInt64());
}

void TMeldrun::PlayOznaceniZaznamu() {
  TStepConfig c{"OZNACENI_ZAZNAMU", "Označení záznamu", "select * from OZNACENI_ZAZNAMU", "GEN_OZNACENI_ZAZNAMU",
                "ID_OZNACENI_ZAZNAMU"};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("OZNACENI_ZAZNAMU",
                             "select snvl(OZNACENI_ZAZNAMU_NAZEV, '') as OZNACENI_ZAZNAMU from OZNACENI_ZAZNAMU");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_OZNACENI_ZAZNAMU")) {
          handled = false;
          return;
        }
        // Every row is read: one the station has not changed changes nothing in main
        // (neither put back over main's later edit, nor brought back after main deleted it).
        if (Unchanged(src)) {
          ImportTable().SkipRecord(false);
          return;
        }
        const AnsiString name = Str(src, "OZNACENI_ZAZNAMU_NAZEV");
        if (!FindNatural(name)) {
          pending_natural_key_ = name;
          return;
        }
        ResolveNatural(name, src,
                       {"select snvl(OZNACENI_ZAZNAMU_NAZEV, ''), ID_OZNACENI_ZAZNAMU from OZNACENI_ZAZNAMU",
                        {Variant(name)}, true},
                       "select * from OZNACENI_ZAZNAMU where ID_OZNACENI_ZAZNAMU=", "", "ID_OZNACENI_ZAZNAMU");
      });
}

void TMeldrun::PlayZprava() {
  TStepConfig c{"ZPRAVA", "Zpráva",
                "select pa.pacient, z.* from zprava z join pacient pa on (pa.id_pacient = z.id_pacient) where (z.st is "
                "not null)",
                "GEN_ZPRAVA", "ID_ZPRAVA"};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("ZPRAVA",
                             "select snvl(PA.PACIENT, '')||'/'||snvl(DATETOSTR(Z.DATUM, '%d.%m.%Y'), '')||'/'||"
                             "snvl(Z.HLAVICKA, '') as ZPRAVA from PACIENT PA, ZPRAVA Z where PA.ID_PACIENT=Z.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", "select PACIENT, ID_PACIENT from PACIENT");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString patient = Str(src, "PACIENT");
        if (Is(field, "ID_ZPRAVA")) {
          const AnsiString date = DateKey(src, "DATUM");
          const AnsiString heading = Str(src, "HLAVICKA");
          const AnsiString key = patient + "/" + date + "/" + heading;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          if (TargetLookup().Find(patient)) o["ID_PACIENT"] = TargetLookup().GetValue(1);
          ResolveNatural(key, src,
                         {"select PA.PACIENT, " + DatePart("Z.DATUM") +
                              ", snvl(Z.HLAVICKA, ''), Z.ID_ZPRAVA from PACIENT PA, ZPRAVA Z where "
                              "Z.ID_PACIENT=PA.ID_PACIENT",
                          {Variant(patient), Variant(date), Variant(heading)}, true},
                         "select * from ZPRAVA where ID_ZPRAVA=", UserRemapList(src, {"ID_ZALOZIL", "ID_MODIFIKOVAL"}),
                         "ID_ZPRAVA,ID_PACIENT,PACIENT", o);
          return;
        }
        if (Is(field, "ID_PACIENT")) {
          if (TargetLookup().Find(patient)) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("PACIENT", patient);
          }
          return;
        }
        if (Is(field, "TEXT")) {
          field->SetAsVariant(src->FieldByName("TEXT")->AsVariant());
          return;
        }
        if (Is(field, "PACIENT")) return;
        // The authors are users of the main database, not the station's keys.
        if (RemapUserField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayDokladPolozkaUz() {
  // Expiry dates are compared as dates: both sides write them "dd.mm.yyyy".
  const char* const expiry =
      "case when (dp.datum_expirace is null) then '01.01.1900' else datetostr(dp.datum_expirace, '%d.%m.%Y') end";
  TStepConfig c{"DOKLAD_POLOZKA_UZ", "Položka uzávěrky",
                "select D.DOKLAD, DP.* from DOKLAD_POLOZKA_UZ DP, DOKLAD D where (DP.ID_DOKLAD = D.ID_DOKLAD) and "
                "(DP.ST is not NULL)",
                "GEN_DOKLAD_POLOZKA", "ID_DOKLAD_POLOZKA"};
  RunStep(
      c,
      [this, expiry] {
        KeyLookup().SetQuery("DOKLAD_POLOZKA",
                             AnsiString("select trim(snvl(d.doklad, '') ||'\\'|| snvl(dp.varianta, '') ||'\\'|| "
                                        "snvl(cast(dp.id_sklad as varchar(10)), '') ||'\\'|| snvl(dp.vyrobni_cislo, '') "
                                        "||'\\'|| ") +
                                 expiry +
                                 " ) as doklad_polozka from doklad d, doklad_polozka_uz dp where "
                                 "(dp.id_doklad=d.id_doklad)");
        TargetLookup().SetQuery("DOKLAD", "select DOKLAD, ID_DOKLAD from DOKLAD where (ID_DRUH_DOKLADU = 1040)");
        Lookup1().SetQuery("ID",
                           AnsiString("select trim(cast(dp.ID as varchar(10)) ||'\\'|| snvl(d.doklad_puvodni, '') ||'\\'|| "
                                      "snvl(dp.varianta, '') ||'\\'|| snvl(cast(dp.id_sklad as varchar(10)), '') ||'\\'|| "
                                      "snvl(dp.vyrobni_cislo, '') ||'\\'|| ") +
                               expiry +
                               " ) as ID, dp.id_doklad_polozka from doklad_polozka_sk dp join doklad d on "
                               "(dp.id_doklad = d.id_doklad) where (dp.TYP_POHYBU = 'G') and (dp.id is not null)");
        Lookup4().SetQuery("ID", "select trim(cast(id_doklad_polozka as varchar(10))) as ID from doklad_polozka_uz");
        Lookup2().SetQuery("MERNA_JEDNOTKA", "select MERNA_JEDNOTKA, ID_MERNA_JEDNOTKA from MERNA_JEDNOTKA");
        Lookup3().SetQuery("VARIANTA", "select VARIANTA, VARIANTA_NAZEV, ID_VARIANTA from VARIANTA");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        TDataSet* target = ImportTable().TargetTable();
        if (Is(field, "ID_DOKLAD_POLOZKA")) {
          AnsiString e = DateKey(src, "DATUM_EXPIRACE");
          if (e.empty()) e = "01.01.1900";
          const AnsiString tail = Str(src, "VARIANTA") + "\\" + Str(src, "ID_SKLAD") + "\\" +
                                  Str(src, "VYROBNI_CISLO") + "\\" + e;
          const AnsiString key = Str(src, "DOKLAD") + "\\" + tail;
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
            return;
          }
          pending_natural_key_ = key;
          // The closing item of a stock item written in this run takes that item's key,
          // unless a closing item has that key already: then it gets a new one.
          if (Lookup1().Find(Str(src, "ID_DOKLAD_POLOZKA") + "\\" + key)) {
            const AnsiString stock_key = Lookup1().GetValue(1).AsString();
            if (!Lookup4().Find(stock_key) && StepKey(key) == 0) {
              bool taken = false;
              for (const auto& [k, v] : step_keys_) taken = taken || IntToStr(v) == stock_key;
              if (!taken) field->SetAsString(stock_key);
            }
          }
          return;
        }
        if (Is(field, "MERNA_JEDNOTKA")) {
          if (Lookup2().Find(Str(src, "MERNA_JEDNOTKA"))) {
            field->SetAsVariant(Lookup2().GetValue(0));
            target->FieldByName("ID_MERNA_JEDNOTKA")->SetAsVariant(Lookup2().GetValue(1));
          } else if (HeldAtStation("MERNA_JEDNOTKA", "MERNA_JEDNOTKA", Str(src, "MERNA_JEDNOTKA"))) {
            RefuseMissingParent("MERNA_JEDNOTKA", Str(src, "MERNA_JEDNOTKA"));
          }
          return;
        }
        if (Is(field, "VARIANTA")) {
          if (Lookup3().Find(Str(src, "VARIANTA"))) {
            field->SetAsVariant(Lookup3().GetValue(0));
            target->FieldByName("VARIANTA_NAZEV")->SetAsVariant(Lookup3().GetValue(1));
            target->FieldByName("ID_VARIANTA")->SetAsVariant(Lookup3().GetValue(2));
          } else if (HeldAtStation("VARIANTA", "VARIANTA", Str(src, "VARIANTA"))) {
            RefuseMissingParent("VARIANTA", Str(src, "VARIANTA"));
          } else {
            field->SetAsString(CZ("Ručně"));
            target->FieldByName("VARIANTA_NAZEV")->SetAsVariant(src->FieldByName("VARIANTA_NAZEV")->AsVariant());
            target->FieldByName("ID_VARIANTA")->SetAsInteger(-1);
          }
          return;
        }
        if (Is(field, "ID_MERNA_JEDNOTKA") || Is(field, "ID_VARIANTA") || Is(field, "VARIANTA_NAZEV")) return;
        if (Is(field, "ID_DOKLAD")) {
          if (TargetLookup().Find(Str(src, "DOKLAD"))) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("DOKLAD", Str(src, "DOKLAD"));
          }
          return;
        }
        if (RemapUserField(field, src, handled)) return;
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

}  // namespace pelvar
