// The play steps of the code lists of the first cycle: price lists, banks, diagnoses,
// phrases, ratings, units, postcodes, the recipe book, stores, sexes, texts, housing
// types, cadastral areas and patient categories. A code whose natural key the main
// database has already is skipped with the log line; only diagnoses merge.
#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

std::function<AnsiString(TDataSet*)> Column(const char* name) {
  return [name](TDataSet* d) {
    TField* f = d->FieldByName(name);
    return f->IsNull() ? AnsiString() : f->AsString();
  };
}

}  // namespace

void TMeldrun::PlayCodeList(const TStepConfig& c, const AnsiString& test_field, const AnsiString& lookup_key,
                            const AnsiString& lookup_sql, const std::function<AnsiString(TDataSet*)>& key_of,
                            const TImportFieldEvent& others, const std::function<void()>& prepare_more) {
  RunStep(
      c,
      [this, lookup_key, lookup_sql, prepare_more] {
        KeyLookup().SetQuery(lookup_key, lookup_sql);
        if (prepare_more) prepare_more();
      },
      [this, c, test_field, key_of, others](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, test_field)) {
          // The key field stays empty and gets a new key; another tested field is copied.
          handled = !c.KeyField.empty() && Is(field, c.KeyField);
          const AnsiString key = key_of(src);
          const bool in_main = KeyLookup().Find(key);
          if (in_main || step_keys_.count(key) > 0) {
            ImportTable().SkipRecord(true);
            if (!c.NewKeyColumn.empty()) {
              const int32_t main_key = in_main ? KeyLookup().GetValue(1).AsInteger() : StepKey(key);
              MapToMain(c.Table, c.KeyField, src, main_key, c.NewKeyColumn);
            }
          } else {
            pending_natural_key_ = key;
          }
          return;
        }
        if (others) {
          others(field, src, handled);
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayCenik() {
  TStepConfig c{"CENIK", "Ceník", "select * from CENIK where ST is not NULL", "GEN_CENIK", "ID_CENIK", true,
                "ID_CENIK_NEW"};
  PlayCodeList(c, "ID_CENIK", "CENIK", "select CENIK, ID_CENIK from CENIK", Column("CENIK"));
}

void TMeldrun::PlayBanka() {
  // The key is selected as well, so that the key mapping reads it; a new bank keeps its
  // code (the copy fills it) and gets a new key.
  TStepConfig c{"BANKA", "Banka", "select ID_BANKA, BANKA, BANKA_NAZEV, ST from BANKA where ST is not NULL",
                "GEN_BANKA", "ID_BANKA", true};
  PlayCodeList(c, "ID_BANKA", "BANKA", "select BANKA from BANKA", Column("BANKA"));
}

void TMeldrun::PlayDiagnoza() {
  TStepConfig c{"DIAGNOZA", "Diagnóza", "select * from DIAGNOZA where ST is not NULL", "GEN_DIAGNOZA",
                "ID_DIAGNOZA", true};
  RunStep(
      c, [this] { KeyLookup().SetQuery("DIAGNOZA", "select DIAGNOZA from DIAGNOZA"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        TField* code = src->FieldByName("DIAGNOZA");
        if (Is(field, "DIAGNOZA") || (Is(field, "ID_DIAGNOZA") && code->IsNull())) {
          // A diagnosis without a code cannot be told from main's: it does not arrive, is
          // logged and stays marked.
          if (code->IsNull()) {
            ImportTable().RefuseRecord(CZ("diagnóza nemá kód"));
          } else {
            handled = false;
          }
          return;
        }
        if (!Is(field, "ID_DIAGNOZA")) {
          handled = false;
          return;
        }
        const AnsiString key = code->AsString();
        if (!FindNatural(key)) {
          pending_natural_key_ = key;
          return;
        }
        OpenSearchByKey("select * from DIAGNOZA where DIAGNOZA=", Variant(key));
        StandardOutcome(MergeRow(src, SearchSet(), "", "ID_DIAGNOZA"));
      });
}

void TMeldrun::PlayFraze() {
  TStepConfig c{"FRAZE", "Fráze", "select * from FRAZE where ST is not NULL", "GEN_FRAZE", "ID_FRAZE", true};
  const bool remap = dm_.LowestVersion >= 200625;
  PlayCodeList(c, "ID_FRAZE", "FRAZE", "select FRAZE from FRAZE", Column("FRAZE"),
               [this, remap](TField* field, TDataSet* src, bool& handled) {
                 static const char* const kParents[][3] = {
                     {"ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
                     {"ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
                     {"ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
                     {"ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"},
                     {"ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"},
                     {"ID_ZARIZENI_PLATI_PRO", "ZARIZENI", "ID_ZARIZENI"},
                     {"ID_ODDELENI_PLATI_PRO", "ODDELENI", "ID_ODDELENI"},
                     {"ID_PRACOVISTE_PLATI_PRO", "PRACOVISTE", "ID_PRACOVISTE"}};
                 handled = false;
                 if (!remap) return;
                 for (const auto& p : kParents) {
                   if (!Is(field, p[0])) continue;
                   TField* s = src->FindField(p[0]);
                   if (s == nullptr || s->IsNull()) return;
                   bool found = false;
                   const Variant v = RemapForeignKey(p[1], p[2], s->AsInteger(), found);
                   if (found) field->SetAsVariant(v);
                   handled = found;
                   return;
                 }
               });
}

void TMeldrun::PlayHodnoceni() {
  // No generator: the station's keys are copied.
  // A station key the main database uses already for another rating becomes the next
  // free one, so that the new rating is not lost.
  TStepConfig c{"HODNOCENI", "Hodnocení", "select * from HODNOCENI where ST is not NULL"};
  PlayCodeList(c, "HODNOCENI", "HODNOCENI", "select HODNOCENI from HODNOCENI", Column("HODNOCENI"),
               [this](TField* field, TDataSet* src, bool& handled) {
                 handled = false;
                 TField* key = src->FindField("ID_HODNOCENI");
                 if (!Is(field, "ID_HODNOCENI") || key == nullptr || key->IsNull()) return;
                 const Variant used = dm_.SelectDst(
                     Format("select count(*) from HODNOCENI where ID_HODNOCENI = %d", {key->AsInteger()}));
                 if (used.IsNull() || used.AsInteger() == 0) return;
                 field->SetAsVariant(dm_.SelectDst("select coalesce(max(ID_HODNOCENI), 0) + 1 from HODNOCENI"));
                 handled = true;
               });
}

void TMeldrun::PlayMernaJednotka() {
  TStepConfig c{"MERNA_JEDNOTKA", "Měrná jednotka",
                "select MERNA_JEDNOTKA, MERNA_JEDNOTKA_NAZEV, ST from MERNA_JEDNOTKA where ST is not NULL",
                "GEN_MERNA_JEDNOTKA", "ID_MERNA_JEDNOTKA"};
  PlayCodeList(c, "ID_MERNA_JEDNOTKA", "MERNA_JEDNOTKA", "select MERNA_JEDNOTKA from MERNA_JEDNOTKA",
               Column("MERNA_JEDNOTKA"));
}

void TMeldrun::PlayPsc() {
  TStepConfig c{"PSC", "Psč", "select PSC, PSC_NAZEV, ST from PSC where ST is not NULL", "GEN_PSC", "ID_PSC"};
  PlayCodeList(c, "ID_PSC", "PSC", "select PSC from PSC", Column("PSC"));
}

void TMeldrun::PlayReceptar() {
  // Every level gets new keys: a station key copied into the main database could
  // collide with the main database's own rows and would leave its generator behind.
  // Parents are found by their names among the rows of the parent level only.
  TStepConfig areas{"RECEPTAR", "Receptář",
                    "select ID_RECEPTAR, OBLAST, ST from RECEPTAR where SKUPINA is null and ST is not NULL",
                    "GEN_RECEPTAR", "ID_RECEPTAR", true};
  areas.Defaults = {{"ID_PREDEK", Variant(int32_t{-1})}, {"IS_RECEPT", Variant("N")}};
  PlayCodeList(areas, "ID_RECEPTAR", "OBLAST", "select distinct OBLAST from RECEPTAR", Column("OBLAST"));

  TStepConfig groups = areas;
  groups.Source =
      "select ID_RECEPTAR, OBLAST, SKUPINA, ST from RECEPTAR where not SKUPINA is null and IS_RECEPT='N' and ST is "
      "not NULL";
  groups.Defaults = {{"IS_RECEPT", Variant("N")}};
  PlayCodeList(
      groups, "ID_RECEPTAR", "KEY_SKUPINA", "select snvl(OBLAST, '')||snvl(SKUPINA, '') as KEY_SKUPINA from RECEPTAR",
      [](TDataSet* d) { return Text(d, "OBLAST") + Text(d, "SKUPINA"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        if (Is(field, "OBLAST")) return;  // filled with the parent
        if (!Is(field, "ID_PREDEK")) {
          handled = false;
          return;
        }
        if (TargetLookup().Find(Text(src, "OBLAST"))) {
          field->SetAsVariant(TargetLookup().GetValue(1));
          ImportTable().TargetTable()->FieldByName("OBLAST")->SetAsVariant(TargetLookup().GetValue(0));
        } else {
          RefuseMissingParent("RECEPTAR", Text(src, "OBLAST"));
        }
      },
      [this] { TargetLookup().SetQuery("OBLAST", "select OBLAST, ID_RECEPTAR from RECEPTAR where SKUPINA is null"); });

  TStepConfig recipes = areas;
  recipes.Source = "select * from RECEPTAR where IS_RECEPT='A' and ST is not NULL";
  recipes.Defaults = {{"IS_RECEPT", Variant("A")}};
  recipes.MapIds = false;
  PlayCodeList(
      recipes, "ID_RECEPTAR", "KEY_RECEPTAR",
      "select snvl(OBLAST, '')||snvl(SKUPINA, '')||snvl(RECEPTAR, '') as KEY_RECEPTAR from RECEPTAR",
      [](TDataSet* d) { return Text(d, "OBLAST") + Text(d, "SKUPINA") + Text(d, "RECEPTAR"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        if (Is(field, "OBLAST") || Is(field, "SKUPINA")) return;  // filled with the parent
        if (!Is(field, "ID_PREDEK")) {
          handled = false;
          return;
        }
        if (TargetLookup().Find(Text(src, "OBLAST") + Text(src, "SKUPINA"))) {
          TDataSet* target = ImportTable().TargetTable();
          field->SetAsVariant(TargetLookup().GetValue(1));
          target->FieldByName("OBLAST")->SetAsVariant(TargetLookup().GetValue(2));
          target->FieldByName("SKUPINA")->SetAsVariant(TargetLookup().GetValue(3));
        } else {
          RefuseMissingParent("RECEPTAR", Text(src, "OBLAST") + "/" + Text(src, "SKUPINA"));
        }
      },
      [this] {
        TargetLookup().SetQuery("KEY_RECEPTAR",
                                "select snvl(OBLAST, '')||snvl(SKUPINA, '') as KEY_RECEPTAR, ID_RECEPTAR, OBLAST, "
                                "SKUPINA  from RECEPTAR where not SKUPINA is null and IS_RECEPT='N'");
      });
}

void TMeldrun::PlaySklad() {
  TStepConfig c{"SKLAD", "Sklad", "select * from SKLAD where ST is not NULL", "GEN_SKLAD", "ID_SKLAD", true};
  PlayCodeList(c, "ID_SKLAD", "SKLAD", "select SKLAD from SKLAD", Column("SKLAD"));
}

void TMeldrun::PlayPohlavi() {
  TStepConfig c{"POHLAVI", "Pohlaví", "select POHLAVI, ST from POHLAVI where ST is not NULL", "GEN_POHLAVI",
                "ID_POHLAVI"};
  c.Defaults = {{"SAMEC", Variant("A")}, {"KASTRAT", Variant("N")}};
  PlayCodeList(c, "ID_POHLAVI", "POHLAVI", "select POHLAVI from POHLAVI", Column("POHLAVI"));
}

void TMeldrun::PlayText() {
  TStepConfig c{"TEXT", "Text", "select ID_TYP_TEXTU, TEXT, TEXT_MEMO, ST from TEXT where ST is not NULL",
                "GEN_TEXT", "ID_TEXT"};
  PlayCodeList(c, "ID_TEXT", "KEY_TEXT",
               "select snvl(cast(ID_TYP_TEXTU as char(10)), '')||snvl(TEXT, '') as KEY_TEXT from TEXT",
               [](TDataSet* d) { return Text(d, "ID_TYP_TEXTU") + Text(d, "TEXT"); });
}

void TMeldrun::PlayTypUstajeni() {
  TStepConfig c{"TYP_USTAJENI", "Typ ustájení", "select * from TYP_USTAJENI where ST is not NULL",
                "GEN_TYP_USTAJENI", "ID_TYP_USTAJENI"};
  PlayCodeList(c, "ID_TYP_USTAJENI", "TYP_USTAJENI_NAZEV", "select TYP_USTAJENI_NAZEV from TYP_USTAJENI",
               Column("TYP_USTAJENI_NAZEV"));
}

void TMeldrun::PlayKatastr() {
  TStepConfig c{"KATASTR", "Katastr", "select * from KATASTR where ST is not NULL", "GEN_KATASTR", "ID_KATASTR"};
  PlayCodeList(c, "ID_KATASTR", "KATASTR", "select KATASTR from KATASTR", Column("KATASTR"));
}

void TMeldrun::PlayKategoriePacienta() {
  TStepConfig roots{"KATEGORIE_PACIENTA", "Kategorie pacienta",
                    "select KATEGORIE_PACIENTA, ST from KATEGORIE_PACIENTA where ST is not NULL and ID_PREDEK=-1",
                    "GEN_KATEGORIE_PACIENTA", "ID_KATEGORIE_PACIENTA"};
  roots.Defaults = {{"ID_PREDEK", Variant(int32_t{-1})}};
  PlayCodeList(roots, "ID_KATEGORIE_PACIENTA", "KATEGORIE_PACIENTA",
               "select KATEGORIE_PACIENTA, ID_KATEGORIE_PACIENTA from KATEGORIE_PACIENTA",
               Column("KATEGORIE_PACIENTA"));

  TStepConfig subs = roots;
  subs.Source =
      "select KATEGORIE_PACIENTA, PREDEK, ST from KATEGORIE_PACIENTA where ST is not NULL and ID_PREDEK<>-1";
  subs.Defaults.clear();
  subs.KeepKeyGenerator = true;
  PlayCodeList(
      subs, "ID_KATEGORIE_PACIENTA", "KEY_KATEGORIE_PACIENTA",
      "select snvl(KATEGORIE_PACIENTA, '')||snvl(PREDEK, '') as KEY_KATEGORIE_PACIENTA, ID_KATEGORIE_PACIENTA "
      "from KATEGORIE_PACIENTA",
      [](TDataSet* d) { return Text(d, "KATEGORIE_PACIENTA") + Text(d, "PREDEK"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        if (Is(field, "PREDEK")) return;  // filled with the parent
        if (!Is(field, "ID_PREDEK")) {
          handled = false;
          return;
        }
        if (TargetLookup().Find(Text(src, "PREDEK"))) {
          field->SetAsVariant(TargetLookup().GetValue(1));
          ImportTable().TargetTable()->FieldByName("PREDEK")->SetAsString(TargetLookup().GetValue(0).AsString());
        } else {
          RefuseMissingParent("KATEGORIE_PACIENTA", Text(src, "PREDEK"));
        }
      },
      [this] {
        TargetLookup().SetQuery("KATEGORIE_PACIENTA",
                                "select KATEGORIE_PACIENTA, ID_KATEGORIE_PACIENTA from KATEGORIE_PACIENTA where "
                                "ID_PREDEK=-1");
      });
}

}  // namespace pelvar
