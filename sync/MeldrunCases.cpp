// The last play steps of the first cycle: the patients' examinations and certificates,
// the animal transfers with their animals, the stock-card variants, the service
// templates with their items and the patients' cases. They find their patients and
// partners in the main database by code, after the partner and patient steps.
#include <memory>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

using play::DayText;

constexpr const char* kPatientLookup = "select PACIENT, ID_PACIENT from PACIENT";
constexpr const char* kPartnerLookup = "select PARTNER, ID_PARTNER from PARTNER";

// Partner of an examination: none, Null when not found, or -1 when not found.
enum { kNoPartner = 0, kPartnerOrNull = 1, kPartnerOrNone = 2 };

}  // namespace

// --- Examinations and certificates -----------------------------------------------------

void TMeldrun::PlayExamination(const char* table, const char* caption, const char* alias,
                               const char* natural_key, bool map_ids, int32_t partner_mode) {
  const AnsiString t = table;
  const AnsiString a = alias;
  TStepConfig c{t, caption,
                "select PAC.PACIENT, " + a + ".* from PACIENT PAC, " + t + " " + a + " where " + a +
                    ".ID_PACIENT=PAC.ID_PACIENT and " + a + ".ST is not NULL",
                "GEN_" + t, "ID_" + t, map_ids};
  const AnsiString key_sql = "select snvl(PAC.PACIENT, '')||snvl(DATETOSTR(" + a +
                             ".ZALOZENI_ZAZNAMU, '%d.%m.%Y'), '') as " + natural_key + " from PACIENT PAC, " + t +
                             " " + a + " where " + a + ".ID_PACIENT=PAC.ID_PACIENT";
  // With a partner the patients are looked up in Lookup1 and the partners in TargetLookup.
  TQorLookupList& patients = partner_mode == kNoPartner ? TargetLookup() : Lookup1();
  const AnsiString key_field = c.KeyField;
  RunWatchedStep(
      c,
      [this, key_sql, natural_key, partner_mode, &patients] {
        KeyLookup().SetQuery(natural_key, key_sql);
        patients.SetQuery("PACIENT", kPatientLookup);
        if (partner_mode != kNoPartner) TargetLookup().SetQuery("PARTNER", kPartnerLookup);
      },
      [this, key_field, partner_mode, &patients](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, key_field.c_str())) {
          const AnsiString key = Text(src, "PACIENT") + DayText(src, "ZALOZENI_ZAZNAMU");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_PACIENT")) {
          if (patients.Find(Text(src, "PACIENT"))) {
            field->SetAsVariant(patients.GetValue(1));
          } else {
            RefuseMissingParent("PACIENT", Text(src, "PACIENT"));
          }
        } else if (partner_mode != kNoPartner && Is(field, "ID_PARTNER")) {
          const AnsiString code = Text(src, "PARTNER");
          if (!code.empty() && TargetLookup().Find(code)) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else if (HeldAtStation("PARTNER", "PARTNER", code)) {
            RefuseMissingParent("PARTNER", code);
          } else if (partner_mode == kPartnerOrNone) {
            field->SetAsInteger(-1);
          } else {
            field->Clear();
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

void TMeldrun::PlayVysetreniVzteklina() {
  PlayExamination("VYSETRENI_NA_VZTEKLINU", "Vyšetření na vzteklinu", "V", "VYSETRENI", true, kNoPartner);
}

void TMeldrun::PlayVysetreniNovotvar() {
  PlayExamination("VYSETRENI_NOVOTVARU_MZ", "Vyšetření novotvaru mléčné žlázy", "V", "VYSETRENI", true,
                  kPartnerOrNull);
}

void TMeldrun::PlayVysetreniHistologie() {
  PlayExamination("VYSETRENI_HISTOLOGIE", "Vyšetření histologie", "V", "VYSETRENI", true, kPartnerOrNone);
}

void TMeldrun::PlayRevers() { PlayExamination("REVERS", "Revers", "R", "REVERS", false, kNoPartner); }

void TMeldrun::PlayMezinarodniOsvedceni() {
  PlayExamination("MEZINARODNI_OSVEDCENI", "Mezinárodní osvědčení", "MZ", "MEZINARODNI_OSVEDCENI", true,
                  kNoPartner);
}

// --- Animal transfers ------------------------------------------------------------------

void TMeldrun::PlayPremisteni() {
  TStepConfig transfers{"PREMISTENI_ZVIRETE", "Přemístění zvířete",
                        "select PA.PARTNER, PZ.* from PARTNER PA, PREMISTENI_ZVIRETE PZ where "
                        "PZ.ID_PARTNER=PA.ID_PARTNER and PZ.ST is not NULL",
                        "GEN_PREMISTENI_ZVIRETE", "ID_PREMISTENI_ZVIRETE", true};
  RunWatchedStep(
      transfers,
      [this] {
        KeyLookup().SetQuery("PREMISTENI_ZVIRETE",
                             "select snvl(PA.PARTNER, '')||snvl(PZ.PORADOVE_CISLO, '')||snvl(DATETOSTR(PZ.DATUM, "
                             "'%d.%m.%Y'), '') as PREMISTENI_ZVIRETE from PARTNER PA, PREMISTENI_ZVIRETE PZ where "
                             "PZ.ID_PARTNER=PA.ID_PARTNER");
        TargetLookup().SetQuery("PARTNER", kPartnerLookup);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PREMISTENI_ZVIRETE")) {
          const AnsiString key = Text(src, "PARTNER") + Text(src, "PORADOVE_CISLO") + DayText(src, "DATUM");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_PARTNER")) {
          PartnerByCode(field, src, TargetLookup());
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });

  TStepConfig animals{"PREMISTENI_ZVIRETE_ZVI", "Přemístění zvířete - zvíře",
                      "select PA.PARTNER, PZ.PORADOVE_CISLO, PZZ.* from PREMISTENI_ZVIRETE_ZVI PZZ, PARTNER PA, "
                      "PREMISTENI_ZVIRETE PZ where PZZ.ID_PREMISTENI_ZVIRETE=PZ.ID_PREMISTENI_ZVIRETE and "
                      "PZ.ID_PARTNER=PA.ID_PARTNER and PZZ.ST is not NULL",
                      "GEN_PREMISTENI_ZVIRETE_ZVI", "ID_PREMISTENI_ZVIRETE_ZVI", true};
  RunWatchedStep(
      animals,
      [this] {
        KeyLookup().SetQuery("PREMISTENI_ZVIRETE_ZVI_KEY",
                             "select snvl(PA.PARTNER, '')||snvl(PZ.PORADOVE_CISLO, '')||snvl(PZZ.IDENTIFIKACNI_CISLO, "
                             "'') as PREMISTENI_ZVIRETE_ZVI_KEY from PARTNER PA, PREMISTENI_ZVIRETE PZ, "
                             "PREMISTENI_ZVIRETE_ZVI PZZ where PZ.ID_PARTNER=PA.ID_PARTNER and "
                             "PZ.ID_PREMISTENI_ZVIRETE=PZZ.ID_PREMISTENI_ZVIRETE");
        TargetLookup().SetQuery("PREMISTENI_ZVIRETE",
                                "select snvl(PA.PARTNER, '')||snvl(PZ.PORADOVE_CISLO, '') as PREMISTENI_ZVIRETE, "
                                "PZ.ID_PREMISTENI_ZVIRETE from PARTNER PA, PREMISTENI_ZVIRETE PZ where "
                                "PZ.ID_PARTNER=PA.ID_PARTNER");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString transfer = Text(src, "PARTNER") + Text(src, "PORADOVE_CISLO");
        if (Is(field, "ID_PREMISTENI_ZVIRETE_ZVI")) {
          const AnsiString key = transfer + Text(src, "IDENTIFIKACNI_CISLO");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_PREMISTENI_ZVIRETE")) {
          if (TargetLookup().Find(transfer)) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("PREMISTENI_ZVIRETE", transfer);
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

// --- Variants ----------------------------------------------------------------------------

void TMeldrun::PlayVarianta() {
  TStepConfig c{"VARIANTA", "Varianta", "select * from VARIANTA where ST is not NULL", "GEN_VARIANTA", "ID_VARIANTA",
                true};
  c.FieldMap = {"ID=ID_VARIANTA"};
  // A unit by its code: its main key and code, or -1 when the main database lacks it.
  auto unit = [this](TDataSet* src, const char* code_field, std::map<AnsiString, Variant>& values) {
    const AnsiString suffix = AnsiString(code_field).substr(AnsiString(code_field).size() - 3);
    const AnsiString code = Text(src, code_field);
    if (!code.empty() && TargetLookup().Find(code)) {
      values["ID_MERNA_JEDNOTKA" + suffix] = TargetLookup().GetValue(1);
      values[code_field] = TargetLookup().GetValue(0);
    } else {
      values["ID_MERNA_JEDNOTKA" + suffix] = Variant(int32_t{-1});
    }
  };
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("VARIANTA", "select VARIANTA from VARIANTA");
        TargetLookup().SetQuery("MERNA_JEDNOTKA", "select MERNA_JEDNOTKA, ID_MERNA_JEDNOTKA from MERNA_JEDNOTKA ");
      },
      [this, unit](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_VARIANTA")) {
          const AnsiString code = Text(src, "VARIANTA");
          if (!FindNatural(code)) {
            pending_natural_key_ = code;
            return;
          }
          // The main variant keeps main units: the station's unit keys are not copied.
          std::map<AnsiString, Variant> units;
          unit(src, "MERNA_JEDNOTKA_SK", units);
          unit(src, "MERNA_JEDNOTKA_VY", units);
          OpenSearchByKey("select * from VARIANTA where VARIANTA=", Variant(code));
          StandardOutcome(MergeRow(src, SearchSet(), OrgRemaps(src), "ID_VARIANTA,ID", units));
        } else if (Is(field, "ID_MERNA_JEDNOTKA_SK") || Is(field, "ID_MERNA_JEDNOTKA_VY")) {
          std::map<AnsiString, Variant> units;
          const bool sk = Is(field, "ID_MERNA_JEDNOTKA_SK");
          const char* code_field = sk ? "MERNA_JEDNOTKA_SK" : "MERNA_JEDNOTKA_VY";
          unit(src, code_field, units);
          for (const auto& [name, value] : units) ImportTable().TargetTable()->FieldByName(name)->SetAsVariant(value);
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

// --- Service templates -------------------------------------------------------------------

void TMeldrun::PlaySablonaVykonu() {
  TStepConfig c{"SABLONA_VYKONU", "Šablona výkonu", "select * from SABLONA_VYKONU where ST is not NULL",
                "GEN_SABLONA_VYKONU", "ID_SABLONA_VYKONU"};
  RunWatchedStep(
      c, [this] { KeyLookup().SetQuery("SABLONA_VYKONU_NAZEV", "select SABLONA_VYKONU_NAZEV from SABLONA_VYKONU"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_SABLONA_VYKONU")) {
          const AnsiString key = Text(src, "SABLONA_VYKONU_NAZEV");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

void TMeldrun::PlaySablonaVykonuPolozka() {
  TStepConfig c{"SABLONA_VYKONU_POLOZKA", "Položka šablony výkonu",
                "select SV.SABLONA_VYKONU_NAZEV as NAZEV_ORIG, SVP.* from SABLONA_VYKONU_POLOZKA SVP join "
                "SABLONA_VYKONU SV on SVP.ID_SABLONA_VYKONU = SV.ID_SABLONA_VYKONU where SVP.ST is not NULL",
                "GEN_SABLONA_VYKONU_POLOZKA", "ID_SABLONA_VYKONU_POLOZKA"};
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("KEY_VARIANTA",
                             "select snvl(SABLONA_VYKONU_NAZEV, '')||snvl(VARIANTA, '') as KEY_VARIANTA from "
                             "SABLONA_VYKONU_POLOZKA");
        TargetLookup().SetQuery("SABLONA_VYKONU_NAZEV",
                                "select SABLONA_VYKONU_NAZEV, ID_SABLONA_VYKONU from SABLONA_VYKONU");
        Lookup1().SetQuery("VARIANTA", "select VARIANTA, ID_VARIANTA from VARIANTA");
        Lookup2().SetQuery("MERNA_JEDNOTKA", "select MERNA_JEDNOTKA, ID_MERNA_JEDNOTKA from MERNA_JEDNOTKA");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        auto by_code = [&](TQorLookupList& list, const char* code_field, const char* parent) {
          if (list.Find(Text(src, code_field))) {
            field->SetAsVariant(list.GetValue(1));
          } else {
            RefuseMissingParent(parent, Text(src, code_field));
          }
        };
        if (Is(field, "ID_SABLONA_VYKONU_POLOZKA")) {
          const AnsiString key = Text(src, "SABLONA_VYKONU_NAZEV") + Text(src, "VARIANTA");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_VARIANTA")) {
          by_code(Lookup1(), "VARIANTA", "VARIANTA");
        } else if (Is(field, "ID_MERNA_JEDNOTKA")) {
          by_code(Lookup2(), "MERNA_JEDNOTKA", "MERNA_JEDNOTKA");
        } else if (Is(field, "ID_SABLONA_VYKONU")) {
          by_code(TargetLookup(), "NAZEV_ORIG", "SABLONA_VYKONU");
        } else {
          handled = false;
        }
      });
}

// --- Cases -------------------------------------------------------------------------------

void TMeldrun::ActivateCase(int32_t patient, int32_t case_key) {
  dm_.ExecDst(Format("update PRIPAD set AKTIVNI='N' where ID_PACIENT=%d and ID_PRIPAD<>%d and AKTIVNI<>'O'",
                     {patient, case_key}));
}

void TMeldrun::PlayPripad() {
  TStepConfig c{"PRIPAD", "Případ",
                "select PAC.PACIENT, P.* from PACIENT PAC, PRIPAD P where P.ID_PACIENT=PAC.ID_PACIENT and "
                "P.AKTIVNI<>'O' and P.ST is not NULL",
                "GEN_PRIPAD", "ID_PRIPAD", true};
  c.FieldMap = {"ID=ID_PRIPAD"};
  c.Excluded = "ID_PACIENT";
  // Active cases (patient, case) in the order they were written; the other cases of
  // their patients are made inactive once the step has committed its rows, so that a
  // case written earlier in the step is seen as well.
  auto active = std::make_shared<std::vector<std::pair<int32_t, int32_t>>>();
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("KEY_PRIPAD",
                             "select snvl(PAC.PACIENT, '')||snvl(P.PRIPAD, '') as KEY_PRIPAD from PACIENT PAC, PRIPAD P "
                             "where P.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatientLookup);
      },
      [this, active](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PRIPAD")) {
          const AnsiString patient = Text(src, "PACIENT");
          const AnsiString name = Text(src, "PRIPAD");
          if (!FindNatural(patient + name)) {
            pending_natural_key_ = patient + name;
            return;
          }
          // The case name is shared by every patient's default case: the patient leads.
          const Variant key = dm_.SelectDst(
              "select P.ID_PRIPAD from PACIENT PAC, PRIPAD P where P.ID_PACIENT=PAC.ID_PACIENT and PAC.PACIENT=" +
              Sql(patient) + " and P.PRIPAD || ''=" + Sql(name));
          if (key.IsNull() || key.IsEmpty()) {
            RefuseUnmatched();
            return;
          }
          OpenSearchByKey("select * from PRIPAD where ID_PRIPAD=", Variant(key.AsInteger()));
          // The main case stays with its patient.
          const int32_t r = MergeRow(src, SearchSet(), OrgRemaps(src), "ID_PRIPAD,ID_PACIENT,ID");
          StandardOutcome(r);
          if (r == 1 && SearchSet()->FieldByName("AKTIVNI")->AsString() == "A")
            active->emplace_back(SearchSet()->FieldByName("ID_PACIENT")->AsInteger(), key.AsInteger());
        } else if (Is(field, "ID_PACIENT")) {
          if (TargetLookup().Find(Text(src, "PACIENT"))) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("PACIENT", Text(src, "PACIENT"));
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      },
      [active](TDataSet* d) {
        if (d->FieldByName("AKTIVNI")->AsString() == "A")
          active->emplace_back(d->FieldByName("ID_PACIENT")->AsInteger(), d->FieldByName("ID_PRIPAD")->AsInteger());
      });
  for (const auto& [patient, case_key] : *active) ActivateCase(patient, case_key);
}

}  // namespace pelvar
