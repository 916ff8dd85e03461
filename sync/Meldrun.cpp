#include "sync/Meldrun.h"

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"

namespace pelvar {

namespace {

TDMMeldrun& DataModule() {
  TDMMeldrun* dm = DMMeldrun();
  if (dm == nullptr) throw Exception(CZ("Datový modul sehrávání neexistuje."));
  return *dm;
}

constexpr uint8_t kZC = pfZaklad | pfCiselniky;
constexpr uint8_t kKC = pfKarty | pfCiselniky;
constexpr uint8_t kEC = pfExPartner | pfCiselniky;
using C = TPlayCycle;
using V = TVersionRule;
constexpr const char* kOrg = "organisation";
constexpr const char* kCodes = "code lists";
constexpr const char* kCases = "examinations, variants, templates, cases";
constexpr const char* kPartners = "partners and patients";
constexpr const char* kDocs = "documents and daily records";
constexpr const char* kDetails = "details, laboratory, images, sales";
constexpr const char* kCodes2 = "code lists II, reports, closing items";

bool InNameList(const TStringList& list, const AnsiString& name) {
  for (int32_t i = 0; i < list.Count(); ++i)
    if (AnsiSameText(Trim(list.Strings(i)), name)) return true;
  return false;
}

bool IsTextType(TFieldType t) {
  return t == ftString || t == ftFixedChar || t == ftWideString || t == ftMemo || t == ftFmtMemo;
}

}  // namespace

// --- The sequence -----------------------------------------------------------------------

std::span<const TPlayStepDef> TMeldrun::PlaySteps() {
  static const TPlayStepDef steps[] = {
      {1, "ZARIZENI", "Zařízení", pfOrgStruktura, C::First, V::Any, 0, "", false, kOrg,
       "ZARIZENI", "ID_ZARIZENI_NEW", &TMeldrun::PlayZarizeni},
      {2, "ZARIZENI_BANKA", "Banka zařízení", pfOrgStruktura, C::First, V::Any, 0, "ZARIZENI_BANKA",
       true, kOrg, "", "", &TMeldrun::PlayZarizeniBanka},
      {3, "CENIK", "Ceník", kKC, C::First, V::Any, 0, "CENIK", false, kCodes, "CENIK", "ID_CENIK_NEW",
       &TMeldrun::PlayCenik},
      {4, "ODDELENI", "Oddělení", pfOrgStruktura, C::First, V::Any, 0, "", false, kOrg, "ODDELENI",
       "ID_ODDELENI_NEW", &TMeldrun::PlayOddeleni},
      {5, "PRACOVISTE", "Pracoviště", pfOrgStruktura, C::First, V::Any, 0, "", false, kOrg,
       "PRACOVISTE", "ID_PRACOVISTE_NEW", &TMeldrun::PlayPracoviste},
      {6, "PRISTUPOVA_PRAVA", "Přístupová práva", pfOrgStruktura, C::First, V::Any, 0,
       "PRISTUPOVA_PRAVA", true, kOrg, "PRISTUPOVA_PRAVA", "ID_PRISTUPOVA_PRAVA_NEW",
       &TMeldrun::PlayPristupovaPrava},
      {7, "PRISTUP", "Úroveň práv k modulům", pfOrgStruktura, C::First, V::Any, 0, "PRISTUP", true,
       kOrg, "PRISTUP", "ID_PRISTUP_NEW", &TMeldrun::PlayPristup},
      {8, "UZIVATEL_NEW", "Uživatel", pfOrgStruktura, C::First, V::Any, 0, "", false, kOrg,
       "UZIVATEL_NEW", "ID_UZIVATEL_NEW", &TMeldrun::PlayUzivatel},
      {9, "PRACUZIV", "Uživatelé pracoviště", pfOrgStruktura, C::First, V::Any, 0, "", false, kOrg,
       "PRACUZIV", "ID_PRACUZIV_NEW", &TMeldrun::PlayPracUziv},
      {10, "PRISTUP_ORG_JEDNOTKA", "Práva k organizačním jednotkám ", pfOrgStruktura, C::First,
       V::Any, 0, "PRISTUP_ORG_JEDNOTKA", true, kOrg, "PRISTUP_ORG_JEDNOTKA",
       "ID_PRISTUP_ORG_JEDNOTKA_NEW", &TMeldrun::PlayPristupOrgJednotka},
      {11, "BANKA", "Banka", kEC, C::First, V::Any, 0, "BANKA", false, kCodes, "", "",
       &TMeldrun::PlayBanka},
      {12, "DIAGNOZA", "Diagnóza", kZC, C::First, V::Any, 0, "DIAGNOZA", false, kCodes, "", "",
       &TMeldrun::PlayDiagnoza},
      {13, "FRAZE", "Fráze", pfCiselniky, C::First, V::Any, 0, "FRAZE", false, kCodes, "", "",
       &TMeldrun::PlayFraze},
      {14, "HODNOCENI", "Hodnocení", kZC, C::First, V::Any, 0, "HODNOCENI", false, kCodes, "", "",
       &TMeldrun::PlayHodnoceni},
      {15, "MERNA_JEDNOTKA", "Měrná jednotka", kKC, C::First, V::Any, 0, "MERNA_JEDNOTKA", false,
       kCodes, "", "", &TMeldrun::PlayMernaJednotka},
      {16, "PSC", "Psč", kZC, C::First, V::Any, 0, "PSC", false, kCodes, "", "", &TMeldrun::PlayPsc},
      {17, "RECEPTAR", "Receptář", pfCiselniky, C::First, V::Any, 0, "RECEPTAR", false, kCodes, "",
       "", &TMeldrun::PlayReceptar},
      {18, "SKLAD", "Sklad", kKC, C::First, V::Any, 0, "SKLAD", false, kCodes, "", "",
       &TMeldrun::PlaySklad},
      {19, "POHLAVI", "Pohlaví", kZC, C::First, V::Any, 0, "POHLAVI", false, kCodes, "", "",
       &TMeldrun::PlayPohlavi},
      {20, "TEXT", "Text", pfCiselniky, C::First, V::Any, 0, "TEXT", false, kCodes, "", "",
       &TMeldrun::PlayText},
      {21, "TYP_USTAJENI", "Typ ustájení", kZC, C::First, V::Any, 0, "TYP_USTAJENI", false, kCodes,
       "", "", &TMeldrun::PlayTypUstajeni},
      {22, "PARTNER", "Partner", kZC, C::First, V::Any, 0, "PARTNER", false, kPartners, "", "", &TMeldrun::PlayPartner},
      {23, "PARTNER_KONTAKT", "Kontakt na partnera", pfExPartner, C::First, V::Any, 0,
       "PARTNER_KONTAKT", false, kPartners, "", "", &TMeldrun::PlayPartnerKontakt},
      {24, "PARTNER_BANKA", "Účet partnera", pfExPartner, C::First, V::Any, 0, "PARTNER_BANKA", false,
       kPartners, "", "", &TMeldrun::PlayPartnerBanka},
      {25, "FARMA", "Farma", kZC, C::First, V::Any, 0, "FARMA", false, kPartners, "", "", &TMeldrun::PlayFarma},
      {26, "KATASTR", "Katastr", kZC, C::First, V::Any, 0, "KATASTR", false, kCodes, "", "",
       &TMeldrun::PlayKatastr},
      {27, "KATEGORIE_PACIENTA", "Kategorie pacienta", kZC, C::First, V::Any, 0,
       "KATEGORIE_PACIENTA", false, kCodes, "", "", &TMeldrun::PlayKategoriePacienta},
      {28, "PACIENT", "Pacient", pfZaklad, C::First, V::Any, 0, "PACIENT", false, kPartners, "", "",
       &TMeldrun::PlayPacient},
      {29, "VYSETRENI_NA_VZTEKLINU", "Vyšetření na vzteklinu", pfExPacient, C::First, V::Any, 0,
       "VYSETRENI_NA_VZTEKLINU", false, kCases, "", "", &TMeldrun::PlayVysetreniVzteklina},
      {30, "VYSETRENI_NOVOTVARU_MZ", "VYSETRENI_NOVOTVARU_MZ", pfExPacient, C::First, V::Any, 0,
       "VYSETRENI_NOVOTVARU_MZ", false, kCases, "", "", &TMeldrun::PlayVysetreniNovotvar},
      {31, "VYSETRENI_HISTOLOGIE", "VYSETRENI_HISTOLOGIE", pfExPacient, C::First, V::Any, 0,
       "VYSETRENI_HISTOLOGIE", false, kCases, "", "", &TMeldrun::PlayVysetreniHistologie},
      {32, "REVERS", "REVERS", pfExPacient, C::First, V::Any, 0, "REVERS", false, kCases, "", "",
       &TMeldrun::PlayRevers},
      {33, "MEZINARODNI_OSVEDCENI", "MEZINARODNI_OSVEDCENI", pfExPacient, C::First, V::Any, 0,
       "MEZINARODNI_OSVEDCENI", false, kCases, "", "", &TMeldrun::PlayMezinarodniOsvedceni},
      {34, "PREMISTENI_ZVIRETE, PREMISTENI_ZVIRETE_ZVI", "PREMISTENI_ZVIRETE", pfExPacient, C::First,
       V::Any, 0, "PREMISTENI_ZVIRETE,PREMISTENI_ZVIRETE_ZVI", false, kCases, "", "", &TMeldrun::PlayPremisteni},
      {35, "VARIANTA", "Varianta", pfKarty, C::First, V::Any, 0, "VARIANTA", false, kCases, "", "",
       &TMeldrun::PlayVarianta},
      {36, "SABLONA_VYKONU", "Šablona výkonu", pfCiselniky, C::First, V::Any, 0, "SABLONA_VYKONU",
       false, kCases, "", "", &TMeldrun::PlaySablonaVykonu},
      {37, "SABLONA_VYKONU_POLOZKA", "Položka šablony výkonu", pfCiselniky, C::First, V::Any, 0,
       "SABLONA_VYKONU_POLOZKA", false, kCases, "", "", &TMeldrun::PlaySablonaVykonuPolozka},
      {38, "PRIPAD", "Případ", pfZaklad, C::First, V::Any, 0, "PRIPAD", false, kCases, "", "", &TMeldrun::PlayPripad},
      {39, "DOKLAD", "Doklad", pfDoklady, C::Every, V::Any, 0, "DOKLAD", false, kDocs, "", "", &TMeldrun::PlayDoklad},
      {40, "PARTNER_ZALOHA", "Přijatá záloha", pfExPartner, C::Every, V::Any, 0, "PARTNER_ZALOHA",
       false, kPartners, "", "", &TMeldrun::PlayPartnerZaloha},
      {41, "PARTNER_ZALOHA_CERPANI", "Použití záloh k platbám", pfExPartner, C::Every, V::Any, 0,
       "PARTNER_ZALOHA_CERPANI", false, kPartners, "", "", &TMeldrun::PlayPartnerZalohaCerpani},
      {42, "DENNI_ZAZNAM", "Denní záznam", pfZaklad, C::Every, V::Any, 0, "DENNI_ZAZNAM", false, kDocs,
       "", "", &TMeldrun::PlayDenniZaznam},
      {43, "DOKLAD_POLOZKA_FA, _PD, _SK, _UM, _BV", "DOKLAD_POLOZKA", pfDoklady, C::Every, V::Any, 0,
       "DOKLAD_POLOZKA_FA,DOKLAD_POLOZKA_PD,DOKLAD_POLOZKA_SK,DOKLAD_POLOZKA_UM,DOKLAD_POLOZKA_BV",
       false, kDocs, "", "", &TMeldrun::PlayDokladPolozka},
      {44, "DENNI_ZAZNAM_HODNOTA", "Trias", pfExPacient, C::Last, V::Any, 0, "DENNI_ZAZNAM_HODNOTA",
       false, kDocs, "", "", &TMeldrun::PlayDenniZaznamHodnota},
      {45, "DENNI_ZAZNAM_RECEPT", "Vydané recepty", pfExPacient, C::Last, V::Any, 0,
       "DENNI_ZAZNAM_RECEPT", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamRecept},
      {46, "DENNI_ZAZNAM_OFTALMO", "DENNI_ZAZNAM_OFTALMO", pfZaklad, C::Last, V::Any, 0,
       "DENNI_ZAZNAM_OFTALMO", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamOftalmo},
      {47, "DENNI_ZAZNAM_ORTOPED", "DENNI_ZAZNAM_ORTOPED", pfZaklad, C::Last, V::AtLeast, 200625,
       "DENNI_ZAZNAM_ORTOPED", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamOrtoped},
      {48, "DENNI_ZAZNAM_STOMATO", "DENNI_ZAZNAM_STOMATO", pfZaklad, C::Last, V::Any, 0,
       "DENNI_ZAZNAM_STOMATO", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamStomato},
      {49, "DENNI_ZAZNAM_MEKKE_TKANE", "DENNI_ZAZNAM_MEKKE_TKANE", pfZaklad, C::Last, V::Any, 0,
       "DENNI_ZAZNAM_MEKKE_TKANE", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamMekkeTkane},
      {50, "DZS_ZUB", "Denní záznam zuby", pfZaklad, C::Last, V::Any, 0, "DZS_ZUB", false, kDocs, "",
       "", &TMeldrun::PlayDzsZub},
      {51, "DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_PLAZI", pfZaklad, C::Last, V::AtLeast, 200701,
       "DENNI_ZAZNAM_PLAZI", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamPlazi},
      {52, "DENNI_ZAZNAM_DROBNI_SAVCI", "DENNI_ZAZNAM_DROBNI_SAVCI", pfZaklad, C::Last, V::AtLeast,
       200701, "DENNI_ZAZNAM_DROBNI_SAVCI", false, kDocs, "", "", &TMeldrun::PlayDenniZaznamDrobniSavci},
      {53, "KOPROLOGIE", "Vyšetření trusu", pfZaklad, C::Last, V::Any, 0, "KOPROLOGIE", false,
       kDetails, "", "", &TMeldrun::PlayKoprologie},
      {54, "SOUBOR", "Přiložené dokumenty", pfExPacient, C::Last, V::Any, 0, "SOUBOR", false,
       kDetails, "", "", &TMeldrun::PlaySoubor},
      {55, "VAKCINACE_ODCERVENI", "Vakcinace a odčervení", pfZaklad, C::Last, V::Any, 0,
       "VAKCINACE_ODCERVENI", false, kDetails, "", "", &TMeldrun::PlayVakcinaceOdcerveni},
      {56, "VARIANTA_SKLAD", "Skladové atributy", pfKarty, C::Last, V::Any, 0, "VARIANTA_SKLAD",
       false, kDetails, "", "", &TMeldrun::PlayVariantaSklad},
      {57, "VARIANTA_CENIK", "Ceny", pfKarty, C::Last, V::Any, 0, "VARIANTA_CENIK", false, kDetails,
       "", "", &TMeldrun::PlayVariantaCenik},
      {58, "VARIANTA_PARTNER", "Dodavatelské kódy", pfKarty, C::Last, V::Any, 0, "", false, kDetails,
       "", "", &TMeldrun::PlayVariantaPartner},
      {59, "POHLEDAVKA", "Pohledávka", pfDoklady, C::Last, V::Any, 0, "POHLEDAVKA", false, kDetails,
       "", "", &TMeldrun::PlayPohledavka},
      {60, "LABVH, LABVD", "LABVH", pfExPacient, C::Last, V::Any, 0, "LABVH,LABVD", false, kDetails,
       "", "", &TMeldrun::PlayLab},
      {61, "CESTA", "Kniha jízd", pfDoklady, C::Last, V::Any, 0, "CESTA", false, kDetails, "", "",
       &TMeldrun::PlayCesta},
      {62, "SKUPINA_OBRAZOVE_DOKUMENTACE", "Skupina obrazové dokumentace", pfExPacient, C::Last,
       V::Any, 0, "", false, kDetails, "", "", &TMeldrun::PlaySkupinaObrazoveDokumentace},
      {63, "OBRAZOVA_DOKUMENTACE", "Obrazová dokumentace", pfExPacient, C::Last, V::Any, 0,
       "OBRAZOVA_DOKUMENTACE", false, kDetails, "", "", &TMeldrun::PlayObrazovaDokumentace},
      {64, "ZADANKA", "Žádanka", pfExPacient, C::Last, V::Any, 0, "ZADANKA", false, kDetails, "", "",
       &TMeldrun::PlayZadanka},
      {65, "PRODEJKA", "Prodejka", pfKarty, C::Last, V::Any, 0, "PRODEJKA", false, kDetails, "", "",
       &TMeldrun::PlayProdejka},
      {66, "ORD_CINNOST", "ORD_CINNOST", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "", "",
       &TMeldrun::PlayOrdCinnost},
      {67, "CIL_CESTY", "CIL_CESTY", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "", "",
       &TMeldrun::PlayCilCesty},
      {68, "DODATEK", "Dodatek", pfExPacient, C::Last, V::Any, 0, "", false, kCodes2, "", "", &TMeldrun::PlayDodatek},
      {69, "FORMA_UHRADY", "FORMA_UHRADY", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "",
       "", &TMeldrun::PlayFormaUhrady},
      {70, "LABHODN", "LabHodn", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "", "", &TMeldrun::PlayLabHodn},
      {71, "LAB_VAZBY", "LabVazby", pfCiselniky, C::Last, V::Above, 200628, "LAB_VAZBY", false,
       kCodes2, "", "", &TMeldrun::PlayLabVazby},
      {72, "RTG_PROJEKCE", "RTG_PROJEKCE", pfCiselniky, C::Last, V::Any, 0, "RTG_PROJEKCE", false,
       kCodes2, "", "", &TMeldrun::PlayRtgProjekce},
      {73, "RTG_OBLAST", "RTG_OBLAST", pfCiselniky, C::Last, V::Any, 0, "RTG_OBLAST", false, kCodes2,
       "", "", &TMeldrun::PlayRtgOblast},
      {74, "VYROBCE", "VYROBCE", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "", "", &TMeldrun::PlayVyrobce},
      {75, "UMISTENI", "Umístění", pfCiselniky, C::Last, V::Any, 0, "", false, kCodes2, "", "",
       &TMeldrun::PlayUmisteni},
      {76, "OZNACENI_ZAZNAMU", "Označení záznamu", pfCiselniky, C::Last, V::Any, 0, "", false,
       kCodes2, "", "", &TMeldrun::PlayOznaceniZaznamu},
      {77, "ZPRAVA", "Zpráva", pfZaklad, C::Last, V::Any, 0, "ZPRAVA", false, kCodes2, "", "",
       &TMeldrun::PlayZprava},
      {78, "DOKLAD_POLOZKA_UZ", "Položka uzávěrky", pfDoklady, C::Last, V::AtLeast, 200701,
       "DOKLAD_POLOZKA_UZ", false, kCodes2, "", "", &TMeldrun::PlayDokladPolozkaUz},
  };
  return steps;
}

bool TPlayGate::CycleAllows(const TPlayStepDef& step) const {
  switch (step.Cycle) {
    case TPlayCycle::First: return CycleIndex == 0;
    case TPlayCycle::Every: return true;
    case TPlayCycle::Last: return IsLastCycle;
  }
  return false;
}

bool TPlayGate::VersionAllows(const TPlayStepDef& step) const {
  switch (step.Rule) {
    case TVersionRule::Any: return true;
    case TVersionRule::AtLeast: return LowestVersion >= step.Version;
    case TVersionRule::Above: return LowestVersion > step.Version;
  }
  return false;
}

bool TPlayGate::Plays(const TPlayStepDef& step) const {
  return (Flags & step.Flags) != 0 && CycleAllows(step) && VersionAllows(step);
}

bool TPlayGate::ClearsMarks(const TPlayStepDef& step) const {
  if (step.Play == nullptr || step.ClearedMarks[0] == '\0') return false;
  if (!CycleAllows(step) || !VersionAllows(step)) return false;
  return (Flags & step.Flags) != 0 || step.ClearAlways;
}

// --- The engine -------------------------------------------------------------------------

TMeldrun::TMeldrun()
    : TImport(DataModule().Src(), DataModule().Dst()),
      dm_(DataModule()),
      key_lookup_(std::make_unique<TQorLookupList>(dm_.Dst())),
      search_set_(dm_.IBDataSetDSearch()),
      patient_cases_(std::make_unique<TStringList>()),
      document_statuses_(std::make_unique<TStringList>()) {
  ImportTable().Options = 2;
  for (auto& l : lookups_) l = std::make_unique<TQorLookupList>(dm_.Dst());
  // Read now, while no step holds a statement of the station open.
  if (dm_.KeepsMappings()) dm_.JournalKeyColumn("ZURNAL");
}

TMeldrun::~TMeldrun() {
  // A run that ended in an exception left its step's statements prepared.
  dm_.ReleasePrepared();
  ImportTable().TargetTable()->AfterPost = nullptr;
  ImportTable().OnField = nullptr;
}

uint8_t TMeldrun::Flags() const {
  uint8_t f = 0;
  if (OrgStruktura) f |= pfOrgStruktura;
  if (Zaklad) f |= pfZaklad;
  if (ExPartner) f |= pfExPartner;
  if (ExPacient) f |= pfExPacient;
  if (Karty) f |= pfKarty;
  if (Doklady) f |= pfDoklady;
  if (Ciselniky) f |= pfCiselniky;
  return f;
}

TPlayGate TMeldrun::Gate() const {
  return TPlayGate{Flags(), dm_.CycleIndex, dm_.IsLastCycle, dm_.LowestVersion};
}

void TMeldrun::Execute() {
  played_steps_.clear();
  not_played_steps_.clear();
  const TPlayGate gate = Gate();
  if (gate.CycleIndex == 0) PlayNewKeyColumns();
  for (const TPlayStepDef& step : PlaySteps()) {
    if (gate.Plays(step)) {
      if (step.Play != nullptr) {
        (this->*step.Play)();
        played_steps_.push_back(step.Number);
      } else {
        not_played_steps_.push_back(step.Number);
      }
    }
    if (gate.ClearsMarks(step)) {
      // The rows that did not arrive keep their marks (ClearChangeMarks leaves them out).
      TStringList tables;
      TDMMeldrun::SplitToList(&tables, step.ClearedMarks, ',');
      for (int32_t i = 0; i < tables.Count(); ++i) ClearChangeMarks(Trim(tables.Strings(i)));
    }
  }
  if (gate.IsLastCycle) {
    for (const char* table : {"PARTNER", "PACIENT", "VARIANTA", "PRIPAD", "DENNI_ZAZNAM", "DOKLAD",
                              "DOKLAD_POLOZKA_BV", "DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD",
                              "DOKLAD_POLOZKA_SK", "DOKLAD_POLOZKA_UM"})
      ClearSourceIds(table);
    dm_.CommitBoth();
  }
  if (patient_cases_->Count() > 0) {
    dm_.FixActiveCases(patient_cases_.get());
    patient_cases_->Clear();
  }
  if (document_statuses_->Count() > 0) ApplyDocumentStatuses();
}

bool TMeldrun::TableExists(const AnsiString& table) {
  const Variant n = dm_.SelectSrc("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = " +
                                  Sql(AnsiUpperCase(table)));
  return !n.IsNull() && n.AsInteger() > 0;
}

void TMeldrun::PlayNewKeyColumns() {
  // Whatever the options: the joins of later steps and finishing read these columns.
  for (const TPlayStepDef& step : PlaySteps()) {
    if (step.NewKeyTable[0] == '\0' || !Gate().VersionAllows(step)) continue;
    if (!TableExists(step.NewKeyTable)) continue;
    AddNewKeyColumns(step.NewKeyTable, step.NewKeyColumns);
  }
}

// --- Routines ----------------------------------------------------------------------------

bool TMeldrun::CompareRows(TDataSet* source, TDataSet* target, const AnsiString& excluded,
                           const std::map<AnsiString, Variant>* overrides) {
  TStringList names;
  TDMMeldrun::SplitToList(&names, excluded, ',');
  for (int32_t i = 0; i < target->FieldCount(); ++i) {
    TField* t = target->Fields(i);
    const AnsiString name = t->FieldName();
    if (AnsiSameText(name, "ST") || InNameList(names, name)) continue;
    if (t->DataType() == ftAutoInc) continue;
    Variant sv;
    const auto o = overrides ? overrides->find(AnsiUpperCase(name)) : std::map<AnsiString, Variant>::const_iterator();
    if (overrides && o != overrides->end()) {
      sv = o->second;
    } else {
      TField* s = source->FindField(name);
      if (s == nullptr) continue;
      sv = s->AsVariant();
    }
    const Variant tv = t->AsVariant();
    const bool sn = sv.IsNull() || sv.IsEmpty();
    const bool tn = tv.IsNull() || tv.IsEmpty();
    if (sn != tn) return true;
    if (sn) continue;
    try {
      if (t->DataType() == ftFloat) {
        if (FormatFloat("0.0000", sv.AsDouble()) != FormatFloat("0.0000", tv.AsDouble())) return true;
      } else if (IsTextType(t->DataType())) {
        if (Trim(sv.AsString()) != Trim(tv.AsString())) return true;
      } else if (!Variant::Equal(sv, tv)) {
        return true;
      }
    } catch (const std::exception&) {
      return true;
    }
  }
  return false;
}

bool TMeldrun::CopyRowAndPost(TDataSet* source, TDataSet* target, const AnsiString& excluded,
                              const std::map<AnsiString, Variant>* overrides) {
  TStringList names;
  TDMMeldrun::SplitToList(&names, excluded, ',');
  target->Edit();
  try {
    for (int32_t i = 0; i < target->FieldCount(); ++i) {
      TField* t = target->Fields(i);
      const AnsiString name = t->FieldName();
      // The change mark stays the main row's own.
      if (AnsiSameText(name, "ST") || InNameList(names, name)) continue;
      if (overrides) {
        const auto o = overrides->find(AnsiUpperCase(name));
        if (o != overrides->end()) {
          t->SetAsVariant(o->second);
          continue;
        }
      }
      TField* s = source->FindField(name);
      if (s != nullptr) t->SetAsVariant(s->AsVariant());
    }
    target->Post();
  } catch (...) {
    if (target->State() != dsBrowse) target->Cancel();
    throw;
  }
  return true;
}

int32_t TMeldrun::MergeRow(TDataSet* source, TDataSet* target, const AnsiString& remaps,
                           const AnsiString& excluded,
                           const std::map<AnsiString, Variant>& overrides) {
  if (!source->Active() || !target->Active() || target->IsEmpty()) return 0;
  std::map<AnsiString, Variant> values;
  for (const auto& [name, value] : overrides) values[AnsiUpperCase(name)] = value;
  AnsiString kept = excluded;
  if (!remaps.empty()) {
    TStringList items;
    TDMMeldrun::SplitToList(&items, remaps, '|');
    for (int32_t i = 0; i < items.Count(); ++i) {
      AnsiString item = items.Strings(i);
      const AnsiString field = TDMMeldrun::CutToken(item, ',');
      const AnsiString table = TDMMeldrun::CutToken(item, ',');
      const AnsiString key_field = TDMMeldrun::CutToken(item, ',');
      const AnsiString old_key = Trim(TDMMeldrun::CutToken(item, ','));
      const AnsiString column = TDMMeldrun::CutToken(item, ',');
      bool found = false;
      Variant value;
      if (!old_key.empty()) value = RemapForeignKey(table, key_field, StrToInt(old_key), found, column);
      if (found && target->FindField(field) != nullptr) {
        values[AnsiUpperCase(field)] = value;
      } else {
        // No main key for the parent: the main row keeps its own reference.
        kept += "," + field;
      }
    }
  }
  // The station row is main's row now, whether or not a value differs.
  NoteMainRow(ImportTable().TargetTable()->TableName(), source, target);
  if (!CompareRows(source, target, kept, &values)) return 2;
  CopyRowAndPost(source, target, kept, &values);
  return 1;
}

void TMeldrun::NoteMainRow(const AnsiString& table, TDataSet* source, TDataSet* main_row) {
  if (!dm_.KeepsMappings()) return;
  const AnsiString column = dm_.JournalKeyColumn(table);
  if (column.empty()) return;
  TField* from = source->FindField(column);
  TField* to = main_row->FindField(column);
  if (from == nullptr || to == nullptr || from->IsNull() || to->IsNull()) return;
  dm_.AddIdMapping(AnsiUpperCase(table), IntToStr(from->AsInteger()), IntToStr(to->AsInteger()));
}

void TMeldrun::NoteMainKey(const AnsiString& table, const AnsiString& key_field, int32_t station_key,
                           int32_t main_key) {
  if (!dm_.KeepsMappings() || !AnsiSameText(dm_.JournalKeyColumn(table), key_field)) return;
  dm_.AddIdMapping(AnsiUpperCase(table), IntToStr(station_key), IntToStr(main_key));
}

void TMeldrun::AddNewKeyColumns(const AnsiString& table, const AnsiString& column_names) {
  remapped_.clear();
  TStringList columns;
  TDMMeldrun::SplitToList(&columns, column_names, ',');
  for (int32_t i = 0; i < columns.Count(); ++i) {
    const AnsiString column = Trim(columns.Strings(i));
    if (column.empty()) continue;
    const Variant n = dm_.SelectSrc(
        "select count(*) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = " +
        Sql(AnsiUpperCase(table)) + " and RDB$FIELD_NAME = " + Sql(AnsiUpperCase(column)));
    if (!n.IsNull() && n.AsInteger() > 0) continue;
    dm_.ExecSrc(Format("alter table %s add %s integer", {table, column}));
  }
}

void TMeldrun::WriteBackNewKey(const AnsiString& table, const AnsiString& key_field,
                               const std::vector<int32_t>& new_keys, int32_t old_key,
                               const AnsiString& new_key_columns) {
  if (new_keys.size() == 1) NoteMainKey(table, key_field, old_key, new_keys[0]);
  remapped_.erase(AnsiUpperCase(table));
  AnsiString columns = new_key_columns;
  for (int32_t key : new_keys) {
    const AnsiString column = TDMMeldrun::CutToken(columns, ',');
    dm_.ExecPrepared(true, Format("update %s set %s = :P0 where %s = :P1 ", {table, column, key_field}),
                     {Variant(key), Variant(old_key)});
  }
}

bool TMeldrun::SetFieldIfNotNull(TField* field, const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return false;
  field->SetAsVariant(value);
  return true;
}

Variant TMeldrun::RemapForeignKey(const AnsiString& table, const AnsiString& key_field,
                                  int32_t old_key, bool& found, const AnsiString& column) {
  const AnsiString read = column.empty() ? key_field + "_NEW" : column;
  auto& known = remapped_[AnsiUpperCase(table)];
  const std::pair<AnsiString, int32_t> at{AnsiUpperCase(read) + "|" + AnsiUpperCase(key_field), old_key};
  auto it = known.find(at);
  if (it == known.end()) {
    const AnsiString sql = Format("select %s from %s where %s = :P0", {read, table, key_field});
    it = known.emplace(at, dm_.SelectPrepared(true, sql, {Variant(old_key)})).first;
  }
  found = !(it->second.IsNull() || it->second.IsEmpty());
  return it->second;
}

namespace {
void ExecCommitted(TREZQuery* q, const AnsiString& sql) {
  TIB_Transaction* transaction = q->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  if (q->Active()) q->Close();
  q->SQL()->SetText(sql);
  q->ExecSQL();
  transaction->CommitRetaining();
  q->Close();
}
}  // namespace

void TMeldrun::ClearChangeMarks(const AnsiString& table, const AnsiString& condition) {
  remapped_.clear();
  AnsiString sql = "update " + table + " set ST=NULL where (ST is not NULL) ";
  if (!condition.empty()) sql += "and (" + condition + ") ";
  const AnsiString kept = KeptMarksCondition(table);
  if (!kept.empty()) sql += "and (" + kept + ") ";
  ExecCommitted(dm_.IBQuerySSearch(), sql);
  ExecCommitted(dm_.IBQueryDSearch(), "update " + table + " set ST=NULL where not ST is NULL");
}

void TMeldrun::ClearSourceIds(const AnsiString& table) {
  ExecCommitted(dm_.IBQueryDSearch(), "update " + table + " set ID=NULL where not ID is NULL");
}

void TMeldrun::FinishTable() {
  remapped_.clear();
  dm_.ReleasePrepared();
  dm_.CommitBoth();
  key_lookup_->EndTransaction();
  TargetLookup().EndTransaction();
  for (auto& l : lookups_) l->EndTransaction();
}

void TMeldrun::ApplyDocumentStatuses() {
  for (int32_t i = 0; i < document_statuses_->Count(); ++i) {
    AnsiString line = document_statuses_->Strings(i);
    const AnsiString id = TDMMeldrun::CutToken(line, '|');
    const AnsiString status_id = TDMMeldrun::CutToken(line, '|');
    const AnsiString status = TDMMeldrun::CutToken(line, '|');
    // Numbers only where the statement takes numbers; the text quoted.
    dm_.ExecDst(Format("update doklad set id_table_status = %d, table_status = %s where (id_doklad = %d)",
                       {StrToInt(status_id), Sql(status), StrToInt(id)}));
  }
}

// --- The pattern of a play step ----------------------------------------------------------

void TMeldrun::RunStep(const TStepConfig& config, const std::function<void()>& prepare,
                       TImportFieldEvent handler) {
  TImportTable& t = ImportTable();
  StartStep(CZ(config.Caption), 0);
  t.SetTargetTable(config.Table);
  t.ResetMapping();
  step_keys_.clear();
  step_touched_.clear();
  pending_natural_key_.clear();
  auto cleanup = [this, &t] {
    key_lookup_->Close();
    TargetLookup().Close();
    for (auto& l : lookups_) l->Close();
    t.TargetTable()->AfterPost = nullptr;
    t.OnField = nullptr;
    t.OnRowFailed = nullptr;
  };
  try {
    if (prepare) prepare();
    for (const AnsiString& line : config.FieldMap) t.FieldMap().Add(line);
    for (const auto& [name, value] : config.Defaults) t.Defaults().Add(name, value);
    if (!config.NewKeyColumn.empty()) AddNewKeyColumns(config.Table, config.NewKeyColumn);
    t.SetSource(config.Source);
    TREZTable* target = t.TargetTable();
    t.OnField = [this, handler, target](TField* field, TDataSet* source, bool& handled) {
      if (field == target->Fields(0)) pending_natural_key_.clear();
      handler(field, source, handled);
    };
    // Every row that does not arrive keeps its change mark at the station.
    t.OnRowFailed = [this, table = config.Table](TDataSet* source) { HoldRow(table, source); };
    t.SetRange(0, 0);
    const AnsiString key_field = config.KeyField;
    const AnsiString new_key_column = config.NewKeyColumn;
    const AnsiString table = config.Table;
    target->AfterPost = [this, key_field, new_key_column, table, &t](TDataSet* d) {
      TField* key = key_field.empty() ? nullptr : d->FindField(key_field);
      const int32_t new_key = key != nullptr ? key->AsInteger() : 0;
      if (!pending_natural_key_.empty()) {
        step_keys_[pending_natural_key_] = new_key;
        step_touched_[pending_natural_key_].insert(new_key);
      }
      pending_natural_key_.clear();
      // Every written row: its station key and the key it has in main.
      NoteMainRow(table, t.ActiveSource(), d);
      if (!new_key_column.empty())
        WriteBackNewKey(table, key_field, {new_key}, KeyOf(t.ActiveSource(), key_field), new_key_column);
    };
    if (!config.KeepKeyGenerator) t.SetKeyGenerator(config.Generator, config.KeyField, config.MapIds);
    // A new main row never takes the station's change mark: main would hand it back to
    // every station with the delivery.
    t.Execute(config.Excluded.empty() ? AnsiString("ST") : config.Excluded + ",ST");
    HoldOrphans(config.Table);
  } catch (...) {
    cleanup();
    throw;
  }
  cleanup();
  FinishTable();
}

bool TMeldrun::FindNatural(const AnsiString& key) {
  return key_lookup_->Find(key) || step_keys_.count(key) > 0;
}

int32_t TMeldrun::StepKey(const AnsiString& key) const {
  const auto it = step_keys_.find(key);
  return it == step_keys_.end() ? 0 : it->second;
}

bool TMeldrun::Unchanged(TDataSet* source) {
  TField* st = source->FindField("ST");
  return st != nullptr && st->IsNull();
}

bool TMeldrun::WrittenByStep(int32_t key) const {
  for (const auto& [natural, written] : step_keys_)
    if (written == key) return true;
  return false;
}

void TMeldrun::OpenSearch(const AnsiString& sql) {
  search_set_->Close();
  search_set_->SQL()->SetText(sql);
  search_set_->Prepare();
  search_set_->Open();
}

void TMeldrun::OpenSearchByKey(const AnsiString& row_sql, const Variant& key) {
  static const AnsiString kKeyParam = "SEARCH_KEY_";
  const AnsiString sql = row_sql + ":" + kKeyParam;
  search_set_->Close();
  if (Trim(search_set_->SQL()->Text()) != sql || !search_set_->Prepared()) {
    search_set_->SQL()->SetText(sql);
    search_set_->Prepare();
  }
  search_set_->ParamByName(kKeyParam)->SetValue(key);
  search_set_->Open();
}

void TMeldrun::StandardOutcome(int32_t merge_result) {
  switch (merge_result) {
    case 2: ImportTable().SkipRecord(false); break;
    case 1: ImportTable().MarkChanged(); break;
    default: RefuseUnmatched(); break;
  }
}

int32_t TMeldrun::KeyOf(TDataSet* source, const AnsiString& field) {
  TField* f = source->FieldByName(field);
  return f->IsNull() ? 0 : f->AsInteger();
}

void TMeldrun::MapToMain(const AnsiString& table, const AnsiString& key_field, TDataSet* source,
                         int32_t main_key, const AnsiString& new_key_column) {
  if (source->FieldByName(key_field)->IsNull()) return;
  if (new_key_column.empty()) {
    NoteMainKey(table, key_field, KeyOf(source, key_field), main_key);
    return;
  }
  WriteBackNewKey(table, key_field, {main_key}, KeyOf(source, key_field), new_key_column);
}

AnsiString TMeldrun::Text(TDataSet* d, const AnsiString& field) {
  TField* f = d->FieldByName(field);
  return f->IsNull() ? AnsiString() : f->AsString();
}

AnsiString TMeldrun::NewOrOld(TDataSet* d, const AnsiString& new_field, const AnsiString& old_field) {
  const AnsiString n = Text(d, new_field);
  return n.empty() ? Text(d, old_field) : n;
}

}  // namespace pelvar
