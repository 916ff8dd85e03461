// The play steps of the last cycle for the detail tables of patients and variants
// (coprology, attached files, vaccinations, the variants' stock attributes, prices and
// supplier codes), receivables, laboratory results, the travel log, image
// documentation, requests and sales receipts.
//
// Every rule draws new keys from its generator: a station key never becomes a main key.
// A row whose natural key the main database has is merged into the main row that the
// whole natural key finds; the merge never copies the station's own key or its
// references, the references take the parents' main keys (or keep the main row's).
// Natural keys join their parts with separators, so that two different rows never
// build the same text.
#include <algorithm>
#include <set>
#include <vector>

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

TField* Target(TMeldrun& m, const char* name) { return m.ImportTable().TargetTable()->FieldByName(name); }

const char* const kPatients = "select PACIENT, ID_PACIENT from PACIENT";
const char* const kVariants = "select VARIANTA, ID_VARIANTA from VARIANTA";

// ID_PACIENT from the station's patient code. Not found (the patient did not arrive):
// refused with the log, and the row stays marked for the run that brings the patient.
bool PatientField(TMeldrun& m, TField* field, TDataSet* src) {
  if (!Is(field, "ID_PACIENT")) return false;
  const AnsiString code = Str(src, "PACIENT");
  if (!code.empty() && m.TargetLookup().Find(code)) {
    field->SetAsVariant(m.TargetLookup().GetValue(1));
  } else {
    if (code.empty()) {
      m.ImportTable().RefuseRecord(CZ("pacient nemá kód"));
    } else {
      m.RefuseMissingParent("PACIENT", code);
    }
  }
  return true;
}

// The main key of a parent found by its code in a look-up (column), Null when unknown.
Variant MainKey(TQorLookupList& list, const AnsiString& code, int32_t column = 1) {
  return list.Find(code) ? list.GetValue(column) : Null();
}

// An owner's-account item: written in this run under the station key (Lookup2), or a
// main item with that key (Lookup3), else -1.
Variant OwnerItem(TMeldrun& m, TDataSet* src) {
  const AnsiString k = Str(src, "ID_DOKLAD_POLOZKA");
  if (m.Lookup2().Find(k)) return m.Lookup2().GetValue(1);
  if (m.Lookup3().Find(k)) return m.Lookup3().GetValue(0);
  return Variant(int32_t{-1});
}

void AddIfKnown(std::map<AnsiString, Variant>& overrides, const char* field, const Variant& value) {
  if (!value.IsNull() && !value.IsEmpty()) overrides[field] = value;
}

}  // namespace

// --- Shared rules of the last-cycle tables -----------------------------------------------

AnsiString TMeldrun::DateKey(TDataSet* d, const char* field) {
  TField* f = d->FieldByName(field);
  return f->IsNull() ? AnsiString() : FormatDateTime("dd.mm.yyyy", f->AsDateTime());
}

AnsiString TMeldrun::TimeKey(TDataSet* d, const char* field) {
  TField* f = d->FieldByName(field);
  return f->IsNull() ? AnsiString() : FormatDateTime("hh:nn:ss.zzz", f->AsDateTime()) + "0";
}

AnsiString TMeldrun::DatePart(const AnsiString& column) {
  return "snvl(DATETOSTR(" + column + ", '%d.%m.%Y'), '')";
}

AnsiString TMeldrun::WindowStart() { return FormatDateTime("dd.mm.yyyy", Date() - 700); }

bool TMeldrun::RemapParentField(TField* field, TDataSet* src, const char* source_field, const char* table,
                                const char* key_field) {
  TField* s = src->FindField(source_field);
  if (s == nullptr || s->IsNull()) return false;
  bool found = false;
  const Variant v = RemapForeignKey(table, key_field, s->AsInteger(), found);
  if (found) field->SetAsVariant(v);
  return found;
}

bool TMeldrun::RemapOrgField(TField* field, TDataSet* src, bool& handled) {
  static const char* const kOrg[][2] = {
      {"ID_ZARIZENI", "ZARIZENI"}, {"ID_ODDELENI", "ODDELENI"}, {"ID_PRACOVISTE", "PRACOVISTE"}};
  for (const auto& p : kOrg) {
    if (!Is(field, p[0])) continue;
    handled = RemapParentField(field, src, p[0], p[1], p[0]);
    return true;
  }
  return false;
}

bool TMeldrun::RemapUserField(TField* field, TDataSet* src, bool& handled) {
  static const char* const kUsers[] = {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_VLASTNI_ZASTUPCE",
                                       "ID_ORG_JEDNOTKA_PRO", "ID_ORG_JEDNOTKA_PROVEDL"};
  for (const char* u : kUsers) {
    if (!Is(field, u)) continue;
    handled = RemapParentField(field, src, u, "UZIVATEL_NEW", "ID_UZIVATEL");
    return true;
  }
  return false;
}

AnsiString TMeldrun::OrgRemapList(TDataSet* src) {
  return "ID_ZARIZENI,ZARIZENI,ID_ZARIZENI," + Str(src, "ID_ZARIZENI") + "|" + "ID_ODDELENI,ODDELENI,ID_ODDELENI," +
         Str(src, "ID_ODDELENI") + "|" + "ID_PRACOVISTE,PRACOVISTE,ID_PRACOVISTE," + Str(src, "ID_PRACOVISTE");
}

AnsiString TMeldrun::UserRemapList(TDataSet* src, std::initializer_list<const char*> fields) {
  AnsiString list;
  for (const char* f : fields) {
    if (src->FindField(f) == nullptr) continue;
    list += AnsiString(f) + ",UZIVATEL_NEW,ID_UZIVATEL," + Str(src, f) + "|";
  }
  return list;
}

bool TMeldrun::ResolveNatural(const AnsiString& key, TDataSet* src, const TNaturalSearch& search,
                              const AnsiString& row_sql, const AnsiString& remaps, const AnsiString& excluded,
                              const std::map<AnsiString, Variant>& overrides) {
  // The main rows of the key, highest key first. A row this step wrote or merged into
  // under the same key is not one of them: two rows the station has under one natural
  // key (two results of one patient on one day) stay two rows.
  std::vector<Variant> found;
  dm_.SelectKeyedAll(false, search.read, search.parts, found);
  std::vector<int32_t> candidates;
  for (const Variant& k : found)
    if (!k.IsNull() && !k.IsEmpty()) candidates.push_back(k.AsInteger());
  std::sort(candidates.rbegin(), candidates.rend());
  if (search.highest && candidates.size() > 1) candidates.resize(1);
  std::set<int32_t>& taken = step_touched_[key];
  const bool any = !candidates.empty() || !taken.empty();
  std::erase_if(candidates, [&taken](int32_t k) { return taken.count(k) > 0; });
  search_set_->Close();
  if (candidates.empty()) {
    search_set_->SQL()->Clear();
    if (!any) {
      RefuseUnmatched();
      return true;
    }
    pending_natural_key_ = key;
    return false;
  }
  // Of several rows, the one the station row equals (a replay changes nothing), else
  // the highest key.
  int32_t chosen = candidates.front();
  if (candidates.size() > 1) {
    std::map<AnsiString, Variant> values;
    for (const auto& [name, value] : overrides) values[AnsiUpperCase(name)] = value;
    AnsiString compared = excluded;
    TStringList items;
    TDMMeldrun::SplitToList(&items, remaps, '|');
    for (int32_t i = 0; i < items.Count(); ++i) {
      AnsiString item = items.Strings(i);
      compared += "," + TDMMeldrun::CutToken(item, ',');
    }
    for (int32_t k : candidates) {
      OpenSearchByKey(row_sql, Variant(k));
      if (!SearchSet()->IsEmpty() && !CompareRows(src, SearchSet(), compared, &values)) {
        chosen = k;
        break;
      }
    }
  }
  OpenSearchByKey(row_sql, Variant(chosen));
  taken.insert(chosen);
  StandardOutcome(MergeRow(src, SearchSet(), remaps, excluded, overrides));
  return true;
}

// --- The tables ----------------------------------------------------------------------------

void TMeldrun::PlayKoprologie() {
  TStepConfig c{"KOPROLOGIE", "Vyšetření trusu",
                "select PAC.PACIENT, K.* from KOPROLOGIE K, PACIENT PAC where K.ID_PACIENT=PAC.ID_PACIENT and "
                "K.ST is not NULL",
                "GEN_KOPROLOGIE", "ID_KOPROLOGIE", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("KOPROLOGIE",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(DATETOSTR(K.ZALOZENI_ZAZNAMU, '%d.%m.%Y'), '') "
                             "as KOPROLOGIE from KOPROLOGIE K, PACIENT PAC where K.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
        Lookup2().SetQuery("ID", "select ID, ID_DOKLAD_POLOZKA from DOKLAD_POLOZKA_UM");
        Lookup3().SetQuery("ID_DOKLAD_POLOZKA", "select ID_DOKLAD_POLOZKA from DOKLAD_POLOZKA_UM");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_KOPROLOGIE")) {
          const AnsiString patient = Str(src, "PACIENT");
          const AnsiString date = DateKey(src, "ZALOZENI_ZAZNAMU");
          const AnsiString key = patient + "\\" + date;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PACIENT", MainKey(TargetLookup(), patient));
          o["ID_DOKLAD_POLOZKA"] = OwnerItem(*this, src);
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, " + DatePart("K.ZALOZENI_ZAZNAMU") +
                              ", K.ID_KOPROLOGIE from KOPROLOGIE K, PACIENT PAC where K.ID_PACIENT=PAC.ID_PACIENT",
                          {Variant(patient), Variant(date)}},
                         "select * from KOPROLOGIE where ID_KOPROLOGIE=", OrgRemapList(src),
                         "ID_KOPROLOGIE,ID_PACIENT", o);
          return;
        }
        if (PatientField(*this, field, src)) return;
        if (Is(field, "ID_DOKLAD_POLOZKA")) {
          field->SetAsVariant(OwnerItem(*this, src));
          return;
        }
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlaySoubor() {
  TStepConfig c{"SOUBOR", "Přiložené dokumenty",
                "select PAC.PACIENT, S.* from SOUBOR S, PACIENT PAC where (S.ID_PACIENT = PAC.ID_PACIENT) and "
                "(S.ST is not NULL)",
                "GEN_SOUBOR", "ID_SOUBOR"};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("SOUBOR",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(S.POPIS, '')||'\\'||snvl(DATETOSTR(S.DATUM, "
                             "'%d.%m.%Y'), '') as SOUBOR from SOUBOR S, PACIENT PAC where S.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_SOUBOR")) {
          const AnsiString patient = Str(src, "PACIENT");
          const AnsiString popis = Str(src, "POPIS");
          const AnsiString date = DateKey(src, "DATUM");
          const AnsiString key = patient + "\\" + popis + "\\" + date;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          // The description belongs to the key: two files of one patient and day are two rows.
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, snvl(S.POPIS, ''), " + DatePart("S.DATUM") +
                              ", S.ID_SOUBOR from SOUBOR S, PACIENT PAC where (S.ID_PACIENT = PAC.ID_PACIENT)",
                          {Variant(patient), Variant(popis), Variant(date)}},
                         "select * from SOUBOR where ID_SOUBOR=", OrgRemapList(src), "ID_SOUBOR,ID_PACIENT");
          return;
        }
        if (PatientField(*this, field, src)) return;
        if (Is(field, "GRAPHIC") || Is(field, "SOUBOR")) {
          field->SetAsVariant(src->FieldByName(field->FieldName())->AsVariant());
          return;
        }
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayVakcinaceOdcerveni() {
  TStepConfig c{"VAKCINACE_ODCERVENI", "Vakcinace a odčervení",
                "select PAC.PACIENT, VO.* from VAKCINACE_ODCERVENI VO, PACIENT PAC where VO.ID_PACIENT=PAC.ID_PACIENT "
                "and VO.ST is not NULL",
                "GEN_VAKCINACE_ODCERVENI", "ID_VAKCINACE_ODCERVENI", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("VAKCINACE_ODCERVENI",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(VO.VARIANTA, '')||'\\'||snvl(DATETOSTR(VO.DATUM, "
                             "'%d.%m.%Y'), '') as VAKCINACE_ODCERVENI from VAKCINACE_ODCERVENI VO, PACIENT PAC where "
                             "VO.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
        Lookup2().SetQuery("ID", "select ID, ID_DOKLAD_POLOZKA from DOKLAD_POLOZKA_UM");
        Lookup3().SetQuery("ID_DOKLAD_POLOZKA", "select ID_DOKLAD_POLOZKA from DOKLAD_POLOZKA_UM");
        Lookup4().SetQuery("VARIANTA", "select VARIANTA, VARIANTA_NAZEV, ID_VARIANTA from VARIANTA");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_VAKCINACE_ODCERVENI")) {
          const AnsiString patient = Str(src, "PACIENT");
          const AnsiString variant = Str(src, "VARIANTA");
          const AnsiString date = DateKey(src, "DATUM");
          const AnsiString key = patient + "\\" + variant + "\\" + date;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PACIENT", MainKey(TargetLookup(), patient));
          AddIfKnown(o, "ID_VARIANTA", MainKey(Lookup4(), variant, 2));
          o["ID_DOKLAD_POLOZKA"] = OwnerItem(*this, src);
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, snvl(VO.VARIANTA, ''), " + DatePart("VO.DATUM") +
                              ", VO.ID_VAKCINACE_ODCERVENI from VAKCINACE_ODCERVENI VO, PACIENT PAC where "
                              "VO.ID_PACIENT=PAC.ID_PACIENT",
                          {Variant(patient), Variant(variant), Variant(date)}},
                         "select * from VAKCINACE_ODCERVENI where ID_VAKCINACE_ODCERVENI=", OrgRemapList(src),
                         "ID_VAKCINACE_ODCERVENI,PACIENT,ID_PACIENT,ID_VARIANTA,VARIANTA,VARIANTA_NAZEV", o);
          return;
        }
        if (PatientField(*this, field, src)) return;
        if (Is(field, "ID_DOKLAD_POLOZKA")) {
          field->SetAsVariant(OwnerItem(*this, src));
          return;
        }
        if (Is(field, "VARIANTA")) {
          if (Lookup4().Find(Str(src, "VARIANTA"))) {
            field->SetAsVariant(Lookup4().GetValue(0));
            Target(*this, "VARIANTA_NAZEV")->SetAsVariant(Lookup4().GetValue(1));
            Target(*this, "ID_VARIANTA")->SetAsVariant(Lookup4().GetValue(2));
          } else if (HeldAtStation("VARIANTA", "VARIANTA", Str(src, "VARIANTA"))) {
            // The station's variant has not arrived: the row waits for it.
            RefuseMissingParent("VARIANTA", Str(src, "VARIANTA"));
          } else {
            field->SetAsString(CZ("Ručně"));
            Target(*this, "ID_VARIANTA")->SetAsInteger(-1);
            Target(*this, "VARIANTA_NAZEV")->SetAsVariant(src->FieldByName("VARIANTA_NAZEV")->AsVariant());
          }
          return;
        }
        if (Is(field, "ID_VARIANTA") || Is(field, "VARIANTA_NAZEV")) return;
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayVariantaSklad() {
  TStepConfig c{"VARIANTA_SKLAD", "Skladové atributy",
                "select VA.VARIANTA, VAS.* from VARIANTA VA, VARIANTA_SKLAD VAS where VA.ID_VARIANTA=VAS.ID_VARIANTA "
                "and VAS.ST is not NULL",
                "GEN_VARIANTA_SKLAD", "ID_VARIANTA_SKLAD", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("VARIANTA_SKLAD",
                             "select snvl(VA.VARIANTA, '')||'\\'||snvl(VAS.SKLAD, '') as VARIANTA_SKLAD from VARIANTA "
                             "VA, VARIANTA_SKLAD VAS where VA.ID_VARIANTA=VAS.ID_VARIANTA");
        TargetLookup().SetQuery("VARIANTA", kVariants);
        Lookup2().SetQuery("SKLAD", "select SKLAD, ID_SKLAD from SKLAD");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_VARIANTA_SKLAD")) {
          const AnsiString variant = Str(src, "VARIANTA");
          const AnsiString store = Str(src, "SKLAD");
          const AnsiString key = variant + "\\" + store;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_VARIANTA", MainKey(TargetLookup(), variant));
          AddIfKnown(o, "ID_SKLAD", MainKey(Lookup2(), store));
          ResolveNatural(key, src,
                         {"select VA.VARIANTA, snvl(VAS.SKLAD, ''), VAS.ID_VARIANTA_SKLAD from VARIANTA VA, "
                          "VARIANTA_SKLAD VAS where VAS.ID_VARIANTA=VA.ID_VARIANTA",
                          {Variant(variant), Variant(store)}},
                         "select * from VARIANTA_SKLAD where ID_VARIANTA_SKLAD=", "",
                         "ID_VARIANTA_SKLAD,VARIANTA,ID_VARIANTA,ID_SKLAD", o);
          return;
        }
        if (Is(field, "ID_VARIANTA")) {
          if (TargetLookup().Find(Str(src, "VARIANTA"))) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("VARIANTA", Str(src, "VARIANTA"));
          }
          return;
        }
        if (Is(field, "SKLAD")) {
          if (Lookup2().Find(Str(src, "SKLAD"))) {
            field->SetAsVariant(Lookup2().GetValue(0));
            Target(*this, "ID_SKLAD")->SetAsVariant(Lookup2().GetValue(1));
          } else {
            RefuseMissingParent("SKLAD", Str(src, "SKLAD"));
          }
          return;
        }
        if (Is(field, "ID_SKLAD")) return;
        handled = false;
      });
}

void TMeldrun::PlayVariantaCenik() {
  TStepConfig c{"VARIANTA_CENIK", "Ceny",
                "select VA.VARIANTA, VAC.* from VARIANTA VA, VARIANTA_CENIK VAC where VA.ID_VARIANTA=VAC.ID_VARIANTA "
                "and VAC.ST is not NULL",
                "GEN_VARIANTA_CENIK", "ID_VARIANTA_CENIK", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("VARIANTA_CENIK",
                             "select snvl(VA.VARIANTA, '')||'\\'||snvl(VAC.SKLAD, '')||'\\'||snvl(VAC.CENIK, '') as "
                             "VARIANTA_CENIK from VARIANTA VA, VARIANTA_CENIK VAC where VA.ID_VARIANTA=VAC.ID_VARIANTA");
        TargetLookup().SetQuery("VARIANTA", kVariants);
        // Stores and price lists by their codes: a station's own store or price list has
        // another key in the main database.
        Lookup2().SetQuery("SKLAD", "select SKLAD, ID_SKLAD from SKLAD");
        Lookup3().SetQuery("CENIK", "select CENIK, ID_CENIK from CENIK");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_VARIANTA_CENIK")) {
          const AnsiString variant = Str(src, "VARIANTA");
          const AnsiString store = Str(src, "SKLAD");
          const AnsiString list = Str(src, "CENIK");
          const AnsiString key = variant + "\\" + store + "\\" + list;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_VARIANTA", MainKey(TargetLookup(), variant));
          AddIfKnown(o, "ID_SKLAD", MainKey(Lookup2(), store));
          AddIfKnown(o, "ID_CENIK", MainKey(Lookup3(), list));
          ResolveNatural(key, src,
                         {"select VA.VARIANTA, snvl(VAC.SKLAD, ''), snvl(VAC.CENIK, ''), VAC.ID_VARIANTA_CENIK from "
                          "VARIANTA VA, VARIANTA_CENIK VAC where VAC.ID_VARIANTA=VA.ID_VARIANTA",
                          {Variant(variant), Variant(store), Variant(list)}},
                         "select * from VARIANTA_CENIK where ID_VARIANTA_CENIK=", "",
                         "ID_VARIANTA_CENIK,VARIANTA,ID_VARIANTA,ID_SKLAD,ID_CENIK", o);
          return;
        }
        if (Is(field, "ID_VARIANTA")) {
          if (TargetLookup().Find(Str(src, "VARIANTA"))) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("VARIANTA", Str(src, "VARIANTA"));
          }
          return;
        }
        static const char* const kParents[][3] = {{"ID_SKLAD", "SKLAD", "2"}, {"ID_CENIK", "CENIK", "3"}};
        for (const auto& p : kParents) {
          if (!Is(field, p[0])) continue;
          TQorLookupList& list = p[2][0] == '2' ? Lookup2() : Lookup3();
          const AnsiString code = Str(src, p[1]);
          if (!code.empty() && list.Find(code)) {
            field->SetAsVariant(list.GetValue(1));
            Target(*this, p[1])->SetAsVariant(list.GetValue(0));
          } else if (code.empty() && (src->FieldByName(p[0])->IsNull() || src->FieldByName(p[0])->AsInteger() == -1)) {
            // A price for no particular store (or list) stays so.
            field->SetAsVariant(src->FieldByName(p[0])->AsVariant());
          } else {
            RefuseMissingParent(p[1], code);
          }
          return;
        }
        if (Is(field, "SKLAD") || Is(field, "CENIK")) return;
        handled = false;
      });
}

void TMeldrun::PlayVariantaPartner() {
  TStepConfig c{"VARIANTA_PARTNER", "Dodavatelské kódy",
                "select VA.VARIANTA, VAP.* from VARIANTA VA, VARIANTA_PARTNER VAP where VA.ID_VARIANTA=VAP.ID_VARIANTA",
                "GEN_VARIANTA_PARTNER", "ID_VARIANTA_PARTNER", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("VARIANTA_PARTNER",
                             "select snvl(VA.VARIANTA, '')||'/'||snvl(VAP.PARTNER, '')||'/'||snvl(VAP.OBJEDNACI_KOD, '') "
                             "as VARIANTA_PARTNER from VARIANTA VA, VARIANTA_PARTNER VAP where "
                             "VA.ID_VARIANTA=VAP.ID_VARIANTA");
        TargetLookup().SetQuery("VARIANTA", kVariants);
        Lookup2().SetQuery("PARTNER", "select PARTNER, ID_PARTNER from PARTNER");
        Lookup3().SetQuery("KEY_PORADI",
                           "select cast(ID_VARIANTA as varchar(10))||'/'|| cast(PORADI as varchar(10)) as KEY_PORADI "
                           "from VARIANTA_PARTNER");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_VARIANTA_PARTNER")) {
          // Every row is read: one the station has not changed changes nothing in main
          // (a price main or another station set since is not put back).
          if (Unchanged(src)) {
            ImportTable().SkipRecord(false);
            return;
          }
          const AnsiString variant = Str(src, "VARIANTA");
          const AnsiString partner = Str(src, "PARTNER");
          const AnsiString code = Str(src, "OBJEDNACI_KOD");
          const AnsiString key = variant + "/" + partner + "/" + code;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_VARIANTA", MainKey(TargetLookup(), variant));
          AddIfKnown(o, "ID_PARTNER", MainKey(Lookup2(), partner));
          ResolveNatural(key, src,
                         {"select VA.VARIANTA, snvl(VAP.PARTNER, ''), snvl(VAP.OBJEDNACI_KOD, ''), "
                          "VAP.ID_VARIANTA_PARTNER from VARIANTA VA, VARIANTA_PARTNER VAP where "
                          "VAP.ID_VARIANTA=VA.ID_VARIANTA",
                          {Variant(variant), Variant(partner), Variant(code)}},
                         "select * from VARIANTA_PARTNER where ID_VARIANTA_PARTNER=", "",
                         "ID_VARIANTA_PARTNER,VARIANTA,PORADI,ID_VARIANTA,ID_PARTNER", o);
          return;
        }
        if (Is(field, "ID_VARIANTA")) {
          // The order number is taken for the variant's main key already: skipped.
          if (!TargetLookup().Find(Str(src, "VARIANTA"))) {
            RefuseMissingParent("VARIANTA", Str(src, "VARIANTA"));
            return;
          }
          const Variant main_variant = TargetLookup().GetValue(1);
          if (Lookup3().Find(main_variant.AsString() + "/" + Str(src, "PORADI"))) {
            ImportTable().SkipRecord(true);
            return;
          }
          field->SetAsVariant(main_variant);
          return;
        }
        if (Is(field, "PARTNER")) {
          if (Lookup2().Find(Str(src, "PARTNER"))) {
            field->SetAsVariant(Lookup2().GetValue(0));
            Target(*this, "ID_PARTNER")->SetAsVariant(Lookup2().GetValue(1));
          } else {
            RefuseMissingParent("PARTNER", Str(src, "PARTNER"));
          }
          return;
        }
        if (Is(field, "ID_PARTNER")) return;
        handled = false;
      });
}

void TMeldrun::PlayPohledavka() {
  TStepConfig c{"POHLEDAVKA", "Pohledávka",
                "select PA.PARTNER, D.DOKLAD, D.TYP_DOKLADU, P.* from PARTNER PA, DOKLAD D, POHLEDAVKA P where "
                "P.ID_PARTNER=PA.ID_PARTNER and P.ID_DOKLAD=D.ID_DOKLAD and P.ST is not NULL",
                "GEN_POHLEDAVKA", "ID_POHLEDAVKA", true};
  RunStep(
      c,
      [this] {
        // A document is known by its number and type: numbers repeat across types.
        KeyLookup().SetQuery("KEY_POHLEDAVKA",
                             "select snvl(PA.PARTNER, '')||'\\'||snvl(D.DOKLAD, '')||'\\'||snvl(D.TYP_DOKLADU, '')||'\\'||"
                             "snvl(P.POHLEDAVKA, '') as KEY_POHLEDAVKA from PARTNER PA, DOKLAD D, POHLEDAVKA P where "
                             "P.ID_PARTNER=PA.ID_PARTNER and P.ID_DOKLAD=D.ID_DOKLAD");
        TargetLookup().SetQuery("PARTNER", "select PARTNER, ID_PARTNER from PARTNER");
        Lookup2().SetQuery("DOKLAD",
                           "select snvl(DOKLAD, '')||'\\'||snvl(TYP_DOKLADU, '') as DOKLAD, ID_DOKLAD from DOKLAD");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString document = Str(src, "DOKLAD") + "\\" + Str(src, "TYP_DOKLADU");
        if (Is(field, "ID_POHLEDAVKA")) {
          const AnsiString partner = Str(src, "PARTNER");
          const AnsiString receivable = Str(src, "POHLEDAVKA");
          const AnsiString key = partner + "\\" + document + "\\" + receivable;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PARTNER", MainKey(TargetLookup(), partner));
          AddIfKnown(o, "ID_DOKLAD", MainKey(Lookup2(), document));
          ResolveNatural(key, src,
                         {"select PA.PARTNER, D.DOKLAD, snvl(D.TYP_DOKLADU, ''), snvl(P.POHLEDAVKA, ''), "
                          "P.ID_POHLEDAVKA from PARTNER PA, DOKLAD D, POHLEDAVKA P where "
                          "P.ID_PARTNER=PA.ID_PARTNER and P.ID_DOKLAD=D.ID_DOKLAD",
                          {Variant(partner), Variant(Str(src, "DOKLAD")), Variant(Str(src, "TYP_DOKLADU")),
                           Variant(receivable)}},
                         "select * from POHLEDAVKA where ID_POHLEDAVKA=", OrgRemapList(src),
                         "ID_POHLEDAVKA,ID_PARTNER,ID_DOKLAD", o);
          return;
        }
        if (Is(field, "ID_PARTNER")) {
          if (TargetLookup().Find(Str(src, "PARTNER"))) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("PARTNER", Str(src, "PARTNER"));
          }
          return;
        }
        if (Is(field, "ID_DOKLAD")) {
          if (Lookup2().Find(document)) {
            field->SetAsVariant(Lookup2().GetValue(1));
          } else {
            RefuseMissingParent("DOKLAD", document);
          }
          return;
        }
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayLab() {
  // The time is cast to a varying text: a fixed-length cast would pad it with blanks
  // the station's text does not have.
  const AnsiString head_key =
      "snvl(PAC.PACIENT, '')||'\\'||snvl(LVH.NAZEV, '')||'\\'||snvl(DATETOSTR(LVH.DATUM, '%d.%m.%Y'), '')||'\\'||"
      "snvl(cast(LVH.CAS as varchar(13)), '')";
  TStepConfig heads{"LABVH", "Laboratorní výsledky",
                    "select PAC.PACIENT, LVH.* from PACIENT PAC, LABVH LVH where PAC.ID_PACIENT=LVH.ID_PACIENT and "
                    "LVH.ST is not NULL",
                    "GEN_LABVH", "ID_LABVH"};
  RunStep(
      heads,
      [this, head_key] {
        KeyLookup().SetQuery("LABVH", "select " + head_key +
                                          " as LABVH from LABVH LVH, PACIENT PAC where LVH.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_LABVH")) {
          const AnsiString patient = Str(src, "PACIENT");
          const AnsiString name = Str(src, "NAZEV");
          const AnsiString date = DateKey(src, "DATUM");
          const AnsiString time = TimeKey(src, "CAS");
          const AnsiString key = patient + "\\" + name + "\\" + date + "\\" + time;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PACIENT", MainKey(TargetLookup(), patient));
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, " + DatePart("LVH.DATUM") +
                              ", snvl(LVH.NAZEV, ''), snvl(cast(LVH.CAS as varchar(13)), ''), LVH.ID_LABVH from "
                              "PACIENT PAC, LABVH LVH where LVH.ID_PACIENT = PAC.ID_PACIENT",
                          {Variant(patient), Variant(date), Variant(name), Variant(time)}},
                         "select * from LABVH where ID_LABVH=", "", "ID_LABVH,PACIENT,ID_PACIENT", o);
          return;
        }
        if (PatientField(*this, field, src)) return;
        handled = false;
      });

  // Items are numbered 1, 2, ... within their head.
  TStepConfig items{"LABVD", "Položky laboratorních výsledků",
                    "select lvd.id_labvh, pac.pacient, lvh.nazev, lvh.datum as datum, lvh.cas, lvd.id_labvd, lvd.kod, "
                    "lvd.typ, lvd.vysledek, lvd.hodnoceni, lvd.trend, lvd.jednotka, lvd.text, lvd.st, lvd.jednkonv, "
                    "lvd.indikator, lvd.zkratka, lvd.metoda, lvd.min_reference, lvd.max_reference from  labvd lvd "
                    "join labvh lvh on (lvd.id_labvh = lvh.id_labvh) join pacient pac on (lvh.id_pacient = "
                    "pac.id_pacient) where (lvd.st is not null) ",
                    "GEN_LABVD", "ID_LABVD"};
  std::map<int32_t, int32_t> numbers;  // head -> the highest item number given in this step
  RunStep(
      items,
      [this, head_key] {
        KeyLookup().SetQuery("LABVD",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(LVH.NAZEV, '')||'\\'||snvl(DATETOSTR(LVH.DATUM, "
                             "'%d.%m.%Y'), '')||'\\'||snvl(cast(LVH.CAS as varchar(13)), '')||'\\'||snvl(LVD.KOD, '') as "
                             "LABVD from LABVH LVH, LABVD LVD, PACIENT PAC where (LVD.ID_LABVH = LVH.ID_LABVH) and "
                             "(LVH.ID_PACIENT = PAC.ID_PACIENT)");
        TargetLookup().SetQuery("LABVH", "select " + head_key +
                                             " as LABVH, LVH.ID_LABVH from LABVH LVH, PACIENT PAC where "
                                             "LVH.ID_PACIENT = PAC.ID_PACIENT");
      },
      [this, &numbers](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString head = Str(src, "PACIENT") + "\\" + Str(src, "NAZEV") + "\\" + DateKey(src, "DATUM") + "\\" +
                                TimeKey(src, "CAS");
        if (Is(field, "ID_LABVH")) {
          if (TargetLookup().Find(head)) {
            field->SetAsVariant(TargetLookup().GetValue(1));
          } else {
            RefuseMissingParent("LABVH", head);
          }
          return;
        }
        if (!Is(field, "ID_LABVD")) {
          handled = false;
          return;
        }
        TField* head_field = Target(*this, "ID_LABVH");
        const int32_t main_head = head_field->IsNull() ? 0 : head_field->AsInteger();
        const AnsiString code = Str(src, "KOD");
        // The head belongs to the item's key: the same code under another head is another item.
        const AnsiString key = head + "\\" + code;
        if (FindNatural(key) &&
            ResolveNatural(key, src,
                           {"select ID_LABVH, snvl(KOD, ''), ID_LABVD from LABVD",
                            {Variant(main_head), Variant(code)}},
                           Format("select * from LABVD where ID_LABVH = %d and ID_LABVD = ", {main_head}), "",
                           "ID_LABVD,ID_LABVH,PACIENT,NAZEV,DATUM"))
          return;
        const Variant max = dm_.SelectDst(
            Format("select max(lvd.id_labvd) from labvd lvd where (lvd.id_labvh = %d)", {main_head}));
        int32_t next = max.IsNull() || max.IsEmpty() ? 1 : max.AsInteger() + 1;
        auto given = numbers.find(main_head);
        if (given != numbers.end() && given->second >= next) next = given->second + 1;
        numbers[main_head] = next;
        field->SetAsInteger(next);
        pending_natural_key_ = key;
      });
}

void TMeldrun::PlayCesta() {
  const AnsiString w = WindowStart();
  TStepConfig c{"CESTA", "Kniha jízd",
                // A journey without a variant (-1) is played too.
                "select C.*, VA.VARIANTA, DP.ZALOZENI_ZAZNAMU as ZALOZENI_DP, DP.CAS from CESTA C left join "
                "DOKLAD_POLOZKA_UM DP on (C.ID_DOKLAD_POLOZKA=DP.ID_DOKLAD_POLOZKA) left join VARIANTA VA on "
                "(VA.ID_VARIANTA=C.ID_VARIANTA) where C.ST is not NULL",
                "GEN_CESTA", "ID_CESTA", true};
  RunStep(
      c,
      [this, w] {
        KeyLookup().SetQuery(
            "CESTA",
            "select snvl(DATETOSTR(C.DATUM, '%d.%m.%Y'), '')||'\\'||snvl(cast(C.HODINA_ODJEZDU as varchar(13)), '')||'\\'||"
            "snvl(cast(C.HODINA_PRIJEZDU as varchar(13)), '')||'\\'||snvl(VA.VARIANTA, '') as CESTA from CESTA C left "
            "join VARIANTA VA on C.ID_VARIANTA=VA.ID_VARIANTA  WHERE C.DATUM > '" + w + "'");
        TargetLookup().SetQuery("VARIANTA", "select VARIANTA, ID_VARIANTA from VARIANTA where ID_VARIANTA>0");
        Lookup2().SetQuery("DOKLAD_POLOZKA",
                           "select snvl(DATETOSTR(DP.ZALOZENI_ZAZNAMU, '%d.%m.%Y'), '')||'\\'||snvl(cast(DP.CAS as "
                           "varchar(13)), '')||'\\'||snvl(DP.VARIANTA, '') as DOKLAD_POLOZKA, DP.ID_DOKLAD_POLOZKA from "
                           "DOKLAD_POLOZKA_UM DP  WHERE DP.ZALOZENI_ZAZNAMU > '" + w + "'");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString variant = Str(src, "VARIANTA");
        auto item = [&]() -> Variant {
          TField* s = src->FieldByName("ID_DOKLAD_POLOZKA");
          if (!s->IsNull() && s->AsInteger() == -1) return Variant(int32_t{-1});
          const AnsiString k = DateKey(src, "ZALOZENI_DP") + "\\" + TimeKey(src, "CAS") + "\\" + variant;
          return Lookup2().Find(k) ? Lookup2().GetValue(1) : Variant(int32_t{-1});
        };
        auto main_variant = [&]() -> Variant {
          if (variant.empty()) return Variant(int32_t{-1});
          return MainKey(TargetLookup(), variant);
        };
        if (Is(field, "ID_CESTA")) {
          const AnsiString date = DateKey(src, "DATUM");
          const AnsiString out = TimeKey(src, "HODINA_ODJEZDU");
          const AnsiString in = TimeKey(src, "HODINA_PRIJEZDU");
          const AnsiString key = date + "\\" + out + "\\" + in + "\\" + variant;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_VARIANTA", main_variant());
          o["ID_DOKLAD_POLOZKA"] = item();
          ResolveNatural(key, src,
                         {"select " + DatePart("C.DATUM") +
                              ", snvl(cast(C.HODINA_ODJEZDU as varchar(13)), ''), snvl(cast(C.HODINA_PRIJEZDU as "
                              "varchar(13)), ''), snvl(VA.VARIANTA, ''), C.ID_CESTA from CESTA C left join VARIANTA "
                              "VA on C.ID_VARIANTA=VA.ID_VARIANTA",
                          {Variant(date), Variant(out), Variant(in), Variant(variant)}},
                         "select * from CESTA where ID_CESTA=", OrgRemapList(src),
                         "ID_CESTA,ID_VARIANTA,ID_DOKLAD_POLOZKA", o);
          return;
        }
        if (Is(field, "ID_VARIANTA")) {
          const Variant v = main_variant();
          if (!v.IsNull()) field->SetAsVariant(v);
          return;
        }
        if (Is(field, "ID_DOKLAD_POLOZKA")) {
          field->SetAsVariant(item());
          return;
        }
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlaySkupinaObrazoveDokumentace() {
  TStepConfig c{"SKUPINA_OBRAZOVE_DOKUMENTACE", "Skupina obrazové dokumentace",
                "select * from SKUPINA_OBRAZOVE_DOKUMENTACE", "GEN_SKUPINA_OBR_DOK", "ID_SKUPINA"};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("SKUPINA_OBRAZOVE_DOKUMENTACE",
                             "select snvl(NAZEV, '')||'/'||cast(TYP as varchar(10)) as SKUPINA_OBRAZOVE_DOKUMENTACE "
                             "from SKUPINA_OBRAZOVE_DOKUMENTACE");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!Is(field, "ID_SKUPINA")) {
          handled = false;
          return;
        }
        const AnsiString key = Str(src, "NAZEV") + "/" + Str(src, "TYP");
        if (FindNatural(key)) {
          ImportTable().SkipRecord(false);
        } else {
          pending_natural_key_ = key;
        }
      });
}

void TMeldrun::PlayObrazovaDokumentace() {
  TStepConfig c{"OBRAZOVA_DOKUMENTACE", "Obrazová dokumentace",
                "select PAC.PACIENT, SOD.NAZEV as SKUPINA, SOD.TYP as SKUPINA_TYP, O.* from OBRAZOVA_DOKUMENTACE O "
                "join PACIENT PAC on O.ID_PACIENT=PAC.ID_PACIENT join SKUPINA_OBRAZOVE_DOKUMENTACE SOD on O.ID_SKUPINA "
                "= SOD.ID_SKUPINA where O.ST is not NULL",
                "GEN_OBRAZOVA_DOKUMENTACE", "ID_OBRAZOVA_DOKUMENTACE", true};
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("OBRAZOVA_DOKUMENTACE",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(O.NAZEV, '')||'\\'||snvl(upper(O.TYP_SOUBORU), "
                             "'')||'\\'||snvl(datetostr(O.ZALOZENI_ZAZNAMU, '%d.%m.%Y'), '') as OBRAZOVA_DOKUMENTACE from "
                             "OBRAZOVA_DOKUMENTACE O, PACIENT PAC where O.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
        // A group is known by its name and type.
        Lookup2().SetQuery("NAZEV",
                           "select snvl(NAZEV, '')||'/'||cast(TYP as varchar(10)) as NAZEV, ID_SKUPINA, TYP from "
                           "SKUPINA_OBRAZOVE_DOKUMENTACE");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString group = Str(src, "SKUPINA") + "/" + Str(src, "SKUPINA_TYP");
        if (Is(field, "ID_OBRAZOVA_DOKUMENTACE")) {
          const AnsiString patient = Str(src, "PACIENT");
          const AnsiString name = Str(src, "NAZEV");
          const AnsiString type = AnsiUpperCase(Str(src, "TYP_SOUBORU"));
          const AnsiString date = DateKey(src, "ZALOZENI_ZAZNAMU");
          const AnsiString key = patient + "\\" + name + "\\" + type + "\\" + date;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PACIENT", MainKey(TargetLookup(), patient));
          if (Lookup2().Find(group)) {
            o["ID_SKUPINA"] = Lookup2().GetValue(1);
            o["TYP_ZAZNAMU"] = Lookup2().GetValue(2);
          }
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, snvl(O.NAZEV, ''), snvl(upper(O.TYP_SOUBORU), ''), " +
                              DatePart("O.ZALOZENI_ZAZNAMU") +
                              ", O.ID_OBRAZOVA_DOKUMENTACE from OBRAZOVA_DOKUMENTACE O, PACIENT PAC where "
                              "O.ID_PACIENT=PAC.ID_PACIENT",
                          {Variant(patient), Variant(name), Variant(type), Variant(date)}},
                         "select * from OBRAZOVA_DOKUMENTACE where ID_OBRAZOVA_DOKUMENTACE=",
                         UserRemapList(src, {"ID_ZALOZIL", "ID_MODIFIKOVAL"}) + OrgRemapList(src),
                         "ID_OBRAZOVA_DOKUMENTACE,PACIENT,SKUPINA,SKUPINA_TYP,ID_PACIENT,ID_SKUPINA,TYP_ZAZNAMU", o);
          return;
        }
        if (PatientField(*this, field, src)) return;
        if (Is(field, "ID_SKUPINA")) {
          if (Lookup2().Find(group)) {
            field->SetAsVariant(Lookup2().GetValue(1));
            Target(*this, "TYP_ZAZNAMU")->SetAsVariant(Lookup2().GetValue(2));
          } else {
            // The group is not in the main database: no group, rather than a station key.
            field->SetAsInteger(-1);
            Target(*this, "TYP_ZAZNAMU")->SetAsVariant(src->FieldByName("TYP_ZAZNAMU")->AsVariant());
          }
          return;
        }
        if (Is(field, "TYP_ZAZNAMU")) return;
        if (RemapUserField(field, src, handled)) return;
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayZadanka() {
  TStepConfig c{"ZADANKA", "Žádanka",
                "select PAC.PACIENT, Z.* from ZADANKA Z join PACIENT PAC on Z.ID_PACIENT=PAC.ID_PACIENT where Z.ST is "
                "not NULL",
                "GEN_ZADANKA", "ID_ZADANKA", true};
  static const char* const kOrgFor[][3] = {
      {"ID_ZARIZENI_PRO", "ZARIZENI", "ID_ZARIZENI"},       {"ID_ODDELENI_PRO", "ODDELENI", "ID_ODDELENI"},
      {"ID_PRACOVISTE_PRO", "PRACOVISTE", "ID_PRACOVISTE"}, {"ID_ZARIZENI_PROVEDL", "ZARIZENI", "ID_ZARIZENI"},
      {"ID_ODDELENI_PROVEDL", "ODDELENI", "ID_ODDELENI"},   {"ID_PRACOVISTE_PROVEDL", "PRACOVISTE", "ID_PRACOVISTE"}};
  bool back_link = false;
  // The daily record a request belongs to points back to it: after a new request is
  // written, and after a station's request found its main row (a replay of a request
  // whose daily record the station still has without the link).
  const auto link_back = [this](TDataSet* d) {
    TField* record = d->FieldByName("ID_DENNI_ZAZNAM");
    TField* request = d->FieldByName("ID_ZADANKA");
    if (record->IsNull() || request->IsNull()) return;
    dm_.ExecDst(Format("update DENNI_ZAZNAM set ID_ZADANKA = %d where ID_DENNI_ZAZNAM = %d and ID_ZADANKA is distinct "
                       "from %d",
                       {request->AsInteger(), record->AsInteger(), request->AsInteger()}));
  };
  RunStep(
      c,
      [this] {
        KeyLookup().SetQuery("KEY_ZADANKA",
                             "select snvl(PAC.PACIENT, '')||'\\'||snvl(Z.ZADANKA, '') as KEY_ZADANKA from ZADANKA Z, "
                             "PACIENT PAC where Z.ID_PACIENT=PAC.ID_PACIENT");
        TargetLookup().SetQuery("PACIENT", kPatients);
        Lookup2().SetQuery("IDENTPRIPAD",
                           "select P.PRIPAD, P.ID_PRIPAD, snvl(P.PRIPAD, '')|| '\\' ||snvl(PAC.PACIENT, '') as "
                           "IDENTPRIPAD from PRIPAD P JOIN PACIENT PAC ON P.ID_PACIENT = PAC.ID_PACIENT");
        Lookup3().SetQuery("ID", "select ID, ID_DENNI_ZAZNAM from DENNI_ZAZNAM");
        Lookup4().SetQuery("ID_DENNI_ZAZNAM", "select ID_DENNI_ZAZNAM from DENNI_ZAZNAM");
      },
      [this, &back_link, link_back](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (!back_link) {
          TREZTable* target = ImportTable().TargetTable();
          auto inner = target->AfterPost;
          target->AfterPost = [inner, link_back](TDataSet* d) {
            if (inner) inner(d);
            link_back(d);
          };
          back_link = true;
        }
        const AnsiString patient = Str(src, "PACIENT");
        auto main_record = [&](bool& found) -> Variant {
          const AnsiString k = Str(src, "ID_DENNI_ZAZNAM");
          found = true;
          if (Lookup3().Find(k)) return Lookup3().GetValue(1);
          if (Lookup4().Find(k)) return Lookup4().GetValue(0);
          found = false;
          return Null();
        };
        if (Is(field, "ID_ZADANKA")) {
          const AnsiString request = Str(src, "ZADANKA");
          const AnsiString key = patient + "\\" + request;
          if (!FindNatural(key)) {
            pending_natural_key_ = key;
            return;
          }
          std::map<AnsiString, Variant> o;
          AddIfKnown(o, "ID_PACIENT", MainKey(TargetLookup(), patient));
          if (Lookup2().Find(Str(src, "PRIPAD") + "\\" + patient)) {
            o["ID_PRIPAD"] = Lookup2().GetValue(1);
            o["PRIPAD"] = Lookup2().GetValue(0);
          }
          bool found = false;
          const Variant record = main_record(found);
          if (found) o["ID_DENNI_ZAZNAM"] = record;
          AnsiString remaps = UserRemapList(src, {"ID_ZALOZIL", "ID_MODIFIKOVAL"});
          for (int32_t i = 0; i < 6; ++i) {
            remaps += AnsiString(kOrgFor[i][0]) + "," + kOrgFor[i][1] + "," + kOrgFor[i][2] + "," +
                      Str(src, kOrgFor[i][0]) + "|";
            if (i == 2) remaps += UserRemapList(src, {"ID_ORG_JEDNOTKA_PRO"});
          }
          remaps += UserRemapList(src, {"ID_ORG_JEDNOTKA_PROVEDL"});
          ResolveNatural(key, src,
                         {"select PAC.PACIENT, snvl(Z.ZADANKA, ''), Z.ID_ZADANKA from ZADANKA Z, PACIENT PAC where "
                          "Z.ID_PACIENT=PAC.ID_PACIENT",
                          {Variant(patient), Variant(request)}},
                         "select * from ZADANKA where ID_ZADANKA=", remaps,
                         "ID_ZADANKA,PACIENT,ID_PACIENT,ID_PRIPAD,PRIPAD,ID_DENNI_ZAZNAM", o);
          TDataSet* main_row = SearchSet();
          if (main_row->Active() && !main_row->IsEmpty() && main_row->State() == dsBrowse) link_back(main_row);
          return;
        }
        if (PatientField(*this, field, src)) return;
        if (Is(field, "ID_PRIPAD")) {
          if (Lookup2().Find(Str(src, "PRIPAD") + "\\" + patient)) {
            field->SetAsVariant(Lookup2().GetValue(1));
            Target(*this, "PRIPAD")->SetAsVariant(Lookup2().GetValue(0));
          } else {
            handled = false;
          }
          return;
        }
        if (Is(field, "ID_DENNI_ZAZNAM")) {
          bool found = false;
          const Variant record = main_record(found);
          if (found) {
            field->SetAsVariant(record);
          } else {
            handled = false;
          }
          return;
        }
        for (const auto& p : kOrgFor) {
          if (!Is(field, p[0])) continue;
          handled = RemapParentField(field, src, p[0], p[1], p[2]);
          return;
        }
        if (RemapUserField(field, src, handled)) return;
        handled = false;
      });
}

void TMeldrun::PlayProdejka() {
  const AnsiString w = WindowStart();
  TStepConfig c{"PRODEJKA", "Prodejka", "select * from PRODEJKA where ST is not NULL", "GEN_PRODEJKA", "ID_PRODEJKA",
                true};
  RunStep(
      c,
      [this, w] {
        KeyLookup().SetQuery("KEY_PRODEJKA", "select snvl(PRODEJKA, '') as KEY_PRODEJKA from PRODEJKA WHERE "
                                             "ZALOZENI_ZAZNAMU > '" + w + "'");
        TargetLookup().SetQuery("PARTNER", "select PARTNER, ID_PARTNER, PARTNER_NAZEV, ULICE, PSC, OBEC from PARTNER");
        Lookup2().SetQuery("SKLAD", "select SKLAD, ID_SKLAD from SKLAD");
        Lookup3().SetQuery("CENIK", "select CENIK, ID_CENIK from CENIK");
      },
      [this, w](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        const AnsiString partner = Str(src, "PARTNER");
        if (Is(field, "ID_PRODEJKA")) {
          const AnsiString number = Str(src, "PRODEJKA");
          if (!FindNatural(number)) {
            pending_natural_key_ = number;
            return;
          }
          std::map<AnsiString, Variant> o;
          if (!partner.empty()) AddIfKnown(o, "ID_PARTNER", MainKey(TargetLookup(), partner));
          AddIfKnown(o, "ID_SKLAD", MainKey(Lookup2(), Str(src, "SKLAD")));
          AddIfKnown(o, "ID_CENIK", MainKey(Lookup3(), Str(src, "CENIK")));
          // The receipt the key found: the same number within the same window.
          ResolveNatural(number, src,
                         {"select snvl(PRODEJKA, ''), ID_PRODEJKA from PRODEJKA where ZALOZENI_ZAZNAMU > '" + w + "'",
                          {Variant(number)}},
                         "select * from PRODEJKA where ID_PRODEJKA=",
                         UserRemapList(src, {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_VLASTNI_ZASTUPCE"}) +
                             OrgRemapList(src),
                         "ID_PRODEJKA,ID_PARTNER,ID_SKLAD,ID_CENIK", o);
          return;
        }
        if (Is(field, "ID_PARTNER")) {
          if (!partner.empty() && TargetLookup().Find(partner)) {
            field->SetAsVariant(TargetLookup().GetValue(1));
            static const std::pair<const char*, int32_t> kColumns[] = {
                {"PARTNER", 0}, {"PARTNER_NAZEV", 2}, {"ULICE", 3}, {"PSC", 4}, {"OBEC", 5}};
            for (const auto& [name, column] : kColumns) Target(*this, name)->SetAsVariant(TargetLookup().GetValue(column));
          } else if (HeldAtStation("PARTNER", "PARTNER", partner)) {
            RefuseMissingParent("PARTNER", partner);
          } else {
            const AnsiString ellipsis(1, '\x85');
            field->SetAsInteger(-1);
            Target(*this, "PARTNER")->SetAsString(ellipsis);
            Target(*this, "PARTNER_NAZEV")->SetAsString(ellipsis);
          }
          return;
        }
        static const char* const kCodes[][3] = {{"SKLAD", "ID_SKLAD", "2"}, {"CENIK", "ID_CENIK", "3"}};
        for (const auto& p : kCodes) {
          if (!Is(field, p[0])) continue;
          TQorLookupList& list = p[2][0] == '2' ? Lookup2() : Lookup3();
          if (list.Find(Str(src, p[0]))) {
            field->SetAsVariant(list.GetValue(0));
            Target(*this, p[1])->SetAsVariant(list.GetValue(1));
          } else if (HeldAtStation(p[0], p[0], Str(src, p[0]))) {
            RefuseMissingParent(p[0], Str(src, p[0]));
          } else {
            // A code main does not know keeps its text; the station's key would name
            // another row of main, or none: the receipt refers to no row (-1).
            field->SetAsVariant(src->FieldByName(p[0])->AsVariant());
            TField* key = src->FieldByName(p[1]);
            if (key->IsNull()) {
              Target(*this, p[1])->Clear();
            } else {
              Target(*this, p[1])->SetAsInteger(-1);
            }
          }
          return;
        }
        for (const char* name : {"PARTNER", "ID_SKLAD", "ID_CENIK", "PARTNER_NAZEV", "OBEC", "ULICE", "PSC"})
          if (Is(field, name)) return;
        if (RemapUserField(field, src, handled)) return;
        if (RemapOrgField(field, src, handled)) return;
        handled = false;
      });
}

}  // namespace pelvar
