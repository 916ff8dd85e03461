// The play steps of the practice's clients and their animals: partners with their
// contacts, bank accounts and farms, patients with their default cases (first cycle),
// and the partners' deposits with their use for payments (every cycle). Partners and
// patients are found by their codes; children find their partner by its code.
//
// Beside the step rules, the helpers these tables share with the examination and case
// steps: organisation and user keys, partner by code, and the watch over rows whose
// play failed, whose change marks stay so that the next run plays them again.
#include <memory>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "sync/MeldrunFields.h"

namespace pelvar {

namespace {

using play::Is;

// A date as the natural keys write it ("" for Null).
using play::DayText;

// A field of the posted row as an SQL literal: numbers as they stand, dates in ISO form,
// texts quoted; NULL for Null.
AnsiString Literal(TDataSet* d, const char* name) {
  TField* f = d->FindField(name);
  if (f == nullptr || f->IsNull()) return "NULL";
  switch (f->DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
      return IntToStr(f->AsInteger());
    case ftDate:
      return QuotedStr(FormatDateTime("yyyy-mm-dd", f->AsDateTime()));
    case ftDateTime:
      return QuotedStr(FormatDateTime("yyyy-mm-dd hh:nn:ss", f->AsDateTime()));
    default:
      return QuotedStr(f->AsString());
  }
}

struct TOrgKey {
  const char* Field;
  const char* Table;
  const char* KeyField;
};
// The organisation keys, and the user keys, whose parents got new keys in this run.
constexpr TOrgKey kOrgKeys[] = {{"ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
                                {"ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
                                {"ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
                                {"ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"},
                                {"ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"}};

constexpr const char* kPartnerLookup = "select PARTNER, ID_PARTNER from PARTNER";

}  // namespace

// --- Shared helpers -------------------------------------------------------------------

void TMeldrun::RunWatchedStep(const TStepConfig& config, const std::function<void()>& prepare,
                              TImportFieldEvent handler, const std::function<void(TDataSet*)>& after_post) {
  if (!after_post) {
    RunStep(config, prepare, std::move(handler));
    return;
  }
  // after_post runs behind the step's own write-back, which RunStep sets before the
  // first row is filled.
  auto chained = std::make_shared<bool>(false);
  TImportTable& t = ImportTable();
  RunStep(config, prepare, [chained, handler, after_post, &t](TField* field, TDataSet* src, bool& handled) {
    if (!*chained) {
      TREZTable* target = t.TargetTable();
      auto own = target->AfterPost;
      target->AfterPost = [own, after_post](TDataSet* d) {
        if (own) own(d);
        after_post(d);
      };
      *chained = true;
    }
    handler(field, src, handled);
  });
}

bool TMeldrun::PlayOrgKey(TField* field, TDataSet* source, bool& handled) {
  for (const TOrgKey& k : kOrgKeys) {
    if (!Is(field, k.Field)) continue;
    TField* s = source->FindField(k.Field);
    handled = false;
    if (s == nullptr || s->IsNull()) return true;
    bool found = false;
    const Variant v = RemapForeignKey(k.Table, k.KeyField, s->AsInteger(), found);
    if (found) field->SetAsVariant(v);
    handled = found;
    return true;
  }
  return false;
}

AnsiString TMeldrun::OrgRemaps(TDataSet* source) {
  AnsiString remaps;
  for (const TOrgKey& k : kOrgKeys) {
    TField* s = source->FindField(k.Field);
    if (s == nullptr) continue;
    if (!remaps.empty()) remaps += "|";
    remaps += AnsiString(k.Field) + "," + k.Table + "," + k.KeyField + "," + (s->IsNull() ? AnsiString() : s->AsString());
  }
  return remaps;
}

void TMeldrun::PartnerByCode(TField* field, TDataSet* source, TQorLookupList& list) {
  // A partner without a code is no partner main can name; one main lacks did not arrive.
  // Either way the row is refused and stays marked.
  const AnsiString code = Text(source, "PARTNER");
  if (!code.empty() && list.Find(code)) {
    field->SetAsVariant(list.GetValue(1));
  } else {
    if (code.empty()) {
      ImportTable().RefuseRecord(CZ("partner nemá kód"));
    } else {
      RefuseMissingParent("PARTNER", code);
    }
  }
}

// --- Partners --------------------------------------------------------------------------

void TMeldrun::PlayPartner() {
  TStepConfig c{"PARTNER", "Partner", "select * from PARTNER where ST is not NULL and ID_PARTNER>0", "GEN_PARTNER",
                "ID_PARTNER", true};
  c.FieldMap = {"ID=ID_PARTNER"};
  RunWatchedStep(
      c, [this] { KeyLookup().SetQuery("PARTNER", "select PARTNER from PARTNER where ID_PARTNER>-1"); },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PARTNER")) {
          const AnsiString code = Text(src, "PARTNER");
          if (code.empty()) {
            // Partners are found by their codes: without one it would merge into any
            // main partner without a code, or come in anew with every play.
            ImportTable().RefuseRecord(CZ("partner nemá kód"));
            return;
          }
          if (!FindNatural(code)) {
            pending_natural_key_ = code;
            return;
          }
          OpenSearchByKey("select * from PARTNER where PARTNER=", Variant(code));
          StandardOutcome(MergeRow(src, SearchSet(), OrgRemaps(src), "ID_PARTNER,ID"));
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

void TMeldrun::PlayPartnerKontakt() {
  TStepConfig c{"PARTNER_KONTAKT", "Kontakt na partnera",
                "select PA.PARTNER, PAK.* from PARTNER_KONTAKT PAK, PARTNER PA where PAK.ID_PARTNER=PA.ID_PARTNER and "
                "PAK.ST is not NULL",
                "GEN_PARTNER_KONTAKT", "ID_PARTNER_KONTAKT"};
  PlayPartnerDetail(c,
                    "select snvl(PAKO.PARTNER_KONTAKT, '')||snvl(PA.PARTNER, '') as PARTNER_KONTAKT from "
                    "PARTNER_KONTAKT PAKO, PARTNER PA where PAKO.ID_PARTNER=PA.ID_PARTNER",
                    [](TDataSet* src) { return Text(src, "PARTNER_KONTAKT") + Text(src, "PARTNER"); });
}

void TMeldrun::PlayPartnerBanka() {
  TStepConfig c{"PARTNER_BANKA", "Účet partnera",
                "select PA.PARTNER, PAB.* from PARTNER_BANKA PAB, PARTNER PA where PAB.ID_PARTNER=PA.ID_PARTNER and "
                "PAB.ST is not NULL",
                "GEN_PARTNER_BANKA", "ID_PARTNER_BANKA"};
  PlayPartnerDetail(c, "select PARTNER_BANKA from PARTNER_BANKA",
                    [](TDataSet* src) { return Text(src, "PARTNER_BANKA"); });
}

void TMeldrun::PlayPartnerDetail(const TStepConfig& c, const AnsiString& lookup_sql,
                                 const std::function<AnsiString(TDataSet*)>& key_of) {
  RunWatchedStep(
      c,
      [this, c, lookup_sql] {
        KeyLookup().SetQuery(c.Table, lookup_sql);
        TargetLookup().SetQuery("PARTNER", kPartnerLookup);
      },
      [this, c, key_of](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, c.KeyField)) {
          const AnsiString key = key_of(src);
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
          }
        } else if (Is(field, "ID_PARTNER")) {
          PartnerByCode(field, src, TargetLookup());
        } else {
          handled = false;
        }
      });
}

void TMeldrun::PlayFarma() {
  // A new farm keeps its code (the copy fills it) and gets a new key.
  TStepConfig c{"FARMA", "Farma",
                "select PA.PARTNER, FA.* from FARMA FA, PARTNER PA where FA.ID_PARTNER=PA.ID_PARTNER and FA.ST is not "
                "NULL",
                "GEN_FARMA", "ID_FARMA"};
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("FARMA", "select FARMA from FARMA");
        TargetLookup().SetQuery("PARTNER", kPartnerLookup);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "FARMA")) {
          const AnsiString key = Text(src, "FARMA");
          if (FindNatural(key)) {
            ImportTable().SkipRecord(true);
          } else {
            pending_natural_key_ = key;
            handled = false;
          }
        } else if (Is(field, "ID_PARTNER")) {
          PartnerByCode(field, src, TargetLookup());
        } else if (!Is(field, "ID_FARMA")) {
          handled = false;
        }
      });
}

// --- Patients --------------------------------------------------------------------------

void TMeldrun::PlayPacient() {
  TStepConfig c{"PACIENT", "Pacient",
                "select PA.PARTNER, PAC.* from PARTNER PA, PACIENT PAC where PAC.ID_PARTNER=PA.ID_PARTNER and PAC.ST is "
                "not NULL",
                "GEN_PACIENT", "ID_PACIENT", true};
  c.FieldMap = {"ID=ID_PACIENT"};
  c.Excluded = "ID_PARTNER";
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("PACIENT", "select PACIENT from PACIENT");
        TargetLookup().SetQuery("PARTNER", kPartnerLookup);
        Lookup2().SetQuery("KATEGORIE_PACIENTA",
                           "select KATEGORIE_PACIENTA, ID_KATEGORIE_PACIENTA from KATEGORIE_PACIENTA where "
                           "ID_PREDEK=-1");
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PACIENT")) {
          const AnsiString code = Text(src, "PACIENT");
          if (code.empty()) {
            // Patients are found by their codes: one without a code is not written (main
            // keeps no patient without a code), it is refused and stays marked.
            ImportTable().RefuseRecord(CZ("pacient nemá kód"));
            return;
          }
          if (!FindNatural(code)) {
            pending_natural_key_ = code;
            return;
          }
          OpenSearchByKey("select * from PACIENT where PACIENT=", Variant(code));
          // The main patient keeps its owner and its default case. Its species is the
          // main root category of the station's species name; a name main does not know
          // leaves main's species as it is: the station's key of a category is never
          // written into main.
          AnsiString excluded = "ID_PARTNER,ID_PACIENT,ID,ID_TABLE_STATUS";
          std::map<AnsiString, Variant> species;
          if (Lookup2().Find(Text(src, "DRUH"))) {
            species["ID_DRUH"] = Lookup2().GetValue(1);
          } else {
            excluded += ",ID_DRUH";
          }
          StandardOutcome(MergeRow(src, SearchSet(), OrgRemaps(src), excluded, species));
        } else if (Is(field, "ID_PARTNER")) {
          PartnerByCode(field, src, TargetLookup());
        } else if (Is(field, "ID_DRUH")) {
          if (Lookup2().Find(Text(src, "DRUH"))) {
            field->SetAsVariant(Lookup2().GetValue(1));
          } else {
            field->Clear();
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      },
      [this](TDataSet* d) {
        const int32_t key = d->FieldByName("ID_PACIENT")->AsInteger();
        TField* code = d->FieldByName("PACIENT");
        if (code->IsNull() || code->AsString().empty()) return;
        // The posted row's own key: a code the main database holds twice must not give
        // the case to the other patient. The case's key is drawn from its generator first
        // (as the table's trigger would draw it), so that no search for the case is needed.
        const Variant case_key = dm_.SelectDst("select gen_id(GEN_PRIPAD, 1) from rdb$database");
        dm_.ExecDst("insert into PRIPAD (ID_PRIPAD, ID_PACIENT, ID_ZALOZIL, ID_MODIFIKOVAL, PRIPAD, AKTIVNI, "
                    "HOSPITALIZACE, ZALOZENI_ZAZNAMU, POSLEDNI_MODIFIKACE, ST) values(" +
                    IntToStr(case_key.AsInteger()) + ", " + IntToStr(key) + ", " + Literal(d, "ID_ZALOZIL") + ", " +
                    Literal(d, "ID_MODIFIKOVAL") + ", " + Sql(CZ("Nezařazené návštěvy")) + ", 'O', 'N', " +
                    Literal(d, "ZALOZENI_ZAZNAMU") + ", " + Literal(d, "POSLEDNI_MODIFIKACE") + ", 'I')");
        PatientCases().Add(IntToStr(key) + "|" + IntToStr(case_key.AsInteger()));
      });
}

// --- Deposits --------------------------------------------------------------------------

// The amounts enter the natural keys as the database casts them: a cast wide enough for
// every NUMERIC(15,2), so that 100,000.00 and more are found as well.
void TMeldrun::PlayPartnerZaloha() {
  TStepConfig c{"PARTNER_ZALOHA", "Přijatá záloha",
                "select PA.PARTNER, cast(PAZ.CASTKA as varchar(20)) as CASTKA_KEY, PAZ.* from PARTNER_ZALOHA PAZ join "
                "PARTNER PA on (PAZ.ID_PARTNER = PA.ID_PARTNER) where (PAZ.ST is not NULL)",
                "GEN_PARTNER_ZALOHA", "ID_PARTNER_ZALOHA", true, "ID_PARTNER_ZALOHA_NEW"};
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("PARTNER_ZALOHA",
                             "select snvl(P.PARTNER, '') || '\\' || snvl(cast(PZ.CASTKA as varchar(20)), '') || '\\' || "
                             "DATETOSTR(PZ.DATUM, '%d.%m.%Y') as PARTNER_ZALOHA, PZ.ID_PARTNER_ZALOHA from PARTNER P, "
                             "PARTNER_ZALOHA PZ where (PZ.ID_PARTNER = P.ID_PARTNER) ");
        TargetLookup().SetQuery("PARTNER", kPartnerLookup);
      },
      [this](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PARTNER_ZALOHA")) {
          const AnsiString key =
              Text(src, "PARTNER") + "\\" + Text(src, "CASTKA_KEY") + "\\" + DayText(src, "DATUM");
          const bool in_main = KeyLookup().Find(key);
          if (!in_main && StepKey(key) == 0) {
            pending_natural_key_ = key;
            return;
          }
          // The main row the natural key matched, whatever key it has.
          const int32_t main_key = in_main ? KeyLookup().GetValue(1).AsInteger() : StepKey(key);
          if (!TargetLookup().Find(Text(src, "PARTNER"))) {
            RefuseMissingParent("PARTNER", Text(src, "PARTNER"));
            return;
          }
          const Variant partner = TargetLookup().GetValue(1);
          OpenSearchByKey("select * from PARTNER_ZALOHA where ID_PARTNER_ZALOHA = ", Variant(main_key));
          const int32_t r = MergeRow(src, SearchSet(), OrgRemaps(src), "ID_PARTNER_ZALOHA,ID_PARTNER_ZALOHA_NEW",
                                     {{"ID_PARTNER", partner}});
          StandardOutcome(r);
          if (r != 0) MapToMain("PARTNER_ZALOHA", "ID_PARTNER_ZALOHA", src, main_key, "ID_PARTNER_ZALOHA_NEW");
        } else if (Is(field, "ID_PARTNER")) {
          PartnerByCode(field, src, TargetLookup());
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

void TMeldrun::PlayPartnerZalohaCerpani() {
  TStepConfig c{"PARTNER_ZALOHA_CERPANI", "Použití záloh k platbám",
                "select PZ.CASTKA as ZALOHA, cast(PZ.CASTKA as varchar(20)) as ZALOHA_KEY, PZ.ID_PARTNER_ZALOHA_NEW, "
                "PZC.* from PARTNER_ZALOHA_CERPANI PZC join PARTNER_ZALOHA PZ on (PZC.ID_PARTNER_ZALOHA = "
                "PZ.ID_PARTNER_ZALOHA) where (PZC.ST is not NULL)",
                "GEN_PARTNER_ZALOHA_CERPANI", "ID_PARTNER_ZALOHA_CERPANI", true};
  // The deposit: its new key from this run, else its station key when a main deposit has it.
  auto deposit = [this](TDataSet* src, Variant& value) {
    const AnsiString fresh = Text(src, "ID_PARTNER_ZALOHA_NEW");
    if (!fresh.empty() && TargetLookup().Find(fresh)) {
      value = TargetLookup().GetValue(0);
      return true;
    }
    const AnsiString own = Text(src, "ID_PARTNER_ZALOHA");
    if (!own.empty() && TargetLookup().Find(own)) {
      value = TargetLookup().GetValue(0);
      return true;
    }
    return false;
  };
  RunWatchedStep(
      c,
      [this] {
        KeyLookup().SetQuery("PARTNER_ZALOHA_CERPANI",
                             "select snvl(PZC.DOKLAD, '') || '\\' || snvl(cast(PZ.CASTKA as varchar(20)), '') || '\\' "
                             "|| DATETOSTR(PZC.DATUM, '%d.%m.%Y') as PARTNER_ZALOHA_CERPANI, "
                             "PZC.ID_PARTNER_ZALOHA_CERPANI from PARTNER_ZALOHA PZ, PARTNER_ZALOHA_CERPANI PZC where "
                             "(PZ.ID_PARTNER_ZALOHA = PZC.ID_PARTNER_ZALOHA)");
        TargetLookup().SetQuery("ID_PARTNER_ZALOHA", "select ID_PARTNER_ZALOHA from PARTNER_ZALOHA");
      },
      [this, deposit](TField* field, TDataSet* src, bool& handled) {
        handled = true;
        if (Is(field, "ID_PARTNER_ZALOHA_CERPANI")) {
          const AnsiString key =
              Text(src, "DOKLAD") + "\\" + Text(src, "ZALOHA_KEY") + "\\" + DayText(src, "DATUM");
          const bool in_main = KeyLookup().Find(key);
          if (!in_main && StepKey(key) == 0) {
            pending_natural_key_ = key;
            return;
          }
          const int32_t main_key = in_main ? KeyLookup().GetValue(1).AsInteger() : StepKey(key);
          Variant parent;
          if (!deposit(src, parent)) {
            RefuseMissingParent("PARTNER_ZALOHA", Text(src, "ID_PARTNER_ZALOHA"));
            return;
          }
          OpenSearchByKey("select * from PARTNER_ZALOHA_CERPANI where ID_PARTNER_ZALOHA_CERPANI = ",
                          Variant(main_key));
          StandardOutcome(MergeRow(src, SearchSet(), OrgRemaps(src), "ID_PARTNER_ZALOHA_CERPANI,ZALOHA",
                                   {{"ID_PARTNER_ZALOHA", parent}}));
        } else if (Is(field, "ID_PARTNER_ZALOHA")) {
          Variant parent;
          if (deposit(src, parent)) {
            field->SetAsVariant(parent);
          } else {
            RefuseMissingParent("PARTNER_ZALOHA", Text(src, "ID_PARTNER_ZALOHA"));
          }
        } else if (!PlayOrgKey(field, src, handled)) {
          handled = false;
        }
      });
}

}  // namespace pelvar
