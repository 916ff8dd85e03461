// What a data provider asks of an adapter dataset: transactions, statements run on its
// connection, parameters, keys, indexes and the provider's form of a failed update.
#include <exception>
#include <memory>

#include "dbadapters/REZDataset.h"
#include "dbclient/IB_Session.h"
#include "dbengine/IB_Parse.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

TIB_Transaction* RequiredTransaction(TREZInternalDataset* Internal) {
  TIB_Transaction* tr = Internal->IB_Transaction();
  if (tr == nullptr) throw Exception(CZ("Musí být přiřazena IB_Transaction"));
  Internal->CheckTransaction(false);
  return tr;
}

// The fields of Def (";"-separated) all exist in Dataset.
bool FieldsExist(TDataSet* Dataset, const AnsiString& Fields) {
  for (const AnsiString& f : SplitToStrings(Fields)) {
    if (!Trim(f).empty() && Dataset->FindField(Trim(f)) == nullptr) return false;
  }
  return true;
}

std::unique_ptr<TIndexDef> CopyOf(const TIndexDef* Def) {
  if (Def == nullptr) return nullptr;
  auto copy = std::make_unique<TIndexDef>(nullptr, Def->Name(), Def->Fields(), Def->Options());
  copy->Assign(*Def);
  return copy;
}

}  // namespace

void TREZDataset::PSEndTransaction(bool Commit) {
  TIB_Transaction* tr = RequiredTransaction(internal_.get());
  if (Commit) {
    tr->Commit();
  } else {
    tr->Rollback();
  }
}

bool TREZDataset::PSInTransaction() {
  // Started on the server, or explicitly by the caller (the server side follows with the
  // first statement).
  TIB_Transaction* tr = RequiredTransaction(internal_.get());
  return tr->GetStarted() || tr->InTransaction();
}

void TREZDataset::PSStartTransaction() { RequiredTransaction(internal_.get())->StartTransaction(); }

int32_t TREZDataset::PSExecuteStatement(const AnsiString& SQL, TParams* Params, TREZQuery** ResultSet) {
  if (ResultSet != nullptr) *ResultSet = nullptr;
  auto query = std::make_unique<TREZQuery>(internal_->GetIB_Session());
  query->SetIB_Connection(IB_Connection());
  query->SetIB_Transaction(IB_Transaction());
  query->SQL()->SetText(SQL);
  query->Prepare();
  if (Params != nullptr) {
    // Parameters given by position take the statement's names.
    if (Params->Count() == query->Params().Count()) {
      for (int32_t i = 0; i < Params->Count(); ++i) {
        Params->Items(i)->SetName(query->Params().Items(i)->Name());
        Params->Items(i)->SetParamType(ptInput);
      }
    }
    query->Params().AssignValues(*Params);
  }
  if (ResultSet != nullptr) {
    query->Open();
    *ResultSet = query.release();
    return (*ResultSet)->GetRowsAffected();
  }
  query->ExecSQL();
  return query->GetRowsAffected();
}

std::vector<const TIndexDef*> TREZDataset::PSGetIndexDefs(TIndexOptions Required, TIndexOptions Excluded) {
  if (!index_defs_->Updated()) UpdateIndexDefs();
  std::vector<const TIndexDef*> defs;
  for (int32_t i = 0; i < index_defs_->Count(); ++i) {
    const TIndexDef* d = index_defs_->Items(i);
    if ((d->Options().Bits() & Required.Bits()) != Required.Bits()) continue;
    if ((d->Options().Bits() & Excluded.Bits()) != 0) continue;
    defs.push_back(d);
  }
  return defs;
}

AnsiString TREZDataset::PSGetKeyFields() {
  AnsiString keys;
  for (TField* f : FieldList()) {
    if (!f->ProviderFlags().Contains(pfInKey)) continue;
    if (!keys.empty()) keys += ";";
    keys += f->FieldName();
  }
  return keys;
}

AnsiString TREZDataset::PSGetQuoteChar() {
  internal_->CheckConnection(false);
  TIB_Connection* c = internal_->IB_Connection();
  return c != nullptr && c->SQLDialect() > 2 ? AnsiString("\"") : AnsiString();
}

AnsiString TREZDataset::PSGetTableName() {
  const AnsiString key = internal_->KeyRelation();
  for (const AnsiString& line : ParseRelationAliases(internal_->SQL()->Text())) {
    const size_t eq = line.find('=');
    if (eq == AnsiString::npos) continue;
    if (AnsiSameText(StripQuotes(Trim(line.substr(0, eq))), StripQuotes(key))) return Trim(line.substr(eq + 1));
  }
  return key;
}

std::unique_ptr<EREZ_UpdateError> TREZDataset::PSGetUpdateException(const std::exception_ptr& E,
                                                                const EREZ_UpdateError* Previous) {
  const int32_t previous = Previous != nullptr ? Previous->ErrorCode() : 0;
  try {
    std::rethrow_exception(E);
  } catch (const EREZ_ISCError& e) {
    return std::make_unique<EREZ_UpdateError>(e.Message(), e.ErrorMessage()->Text(), e.ERRCODE(), previous, E,
                                          e.SQLCODE());
  } catch (const EIB_ISCError& e) {
    return std::make_unique<EREZ_UpdateError>(e.Message(), e.ErrorMessage()->Text(), e.ERRCODE(), previous, E,
                                          e.SQLCODE());
  } catch (const Exception& e) {
    return std::make_unique<EREZ_UpdateError>(e.Message(), AnsiString(), 0, previous, E);
  } catch (const std::exception& e) {
    return std::make_unique<EREZ_UpdateError>(AnsiString(e.what()), AnsiString(), 0, previous, E);
  }
}

void TREZDataset::PSReset() {
  if (!Active()) return;
  Close();
  Open();
}

void TREZDataset::PSSetCommandText(const AnsiString& Text) {
  if (Trim(Text) != Trim(internal_->SQL()->Text())) internal_->SQL()->SetText(Text);
}

void TREZDataset::PSSetParams(TParams* Params) {
  Prepare();
  if (Params == nullptr) return;
  TIB_Row* row = internal_->Params();
  row->BeginUpdate();
  try {
    AssignParams(*Params);
  } catch (...) {
    row->EndUpdate(false);
    throw;
  }
  row->EndUpdate(true);
}

std::unique_ptr<TIndexDef> TREZBaseTable::PSGetDefaultOrder() {
  TIndexDefs& defs = IndexDefs();
  if (!IndexName().empty()) {
    const int32_t i = defs.IndexOf(IndexName());
    if (i >= 0) return CopyOf(defs.Items(i));
  } else if (!IndexFieldNames().empty() && FieldsExist(this, IndexFieldNames())) {
    if (const TIndexDef* d = defs.FindIndexForFields(IndexFieldNames())) return CopyOf(d);
  }
  for (int32_t i = 0; i < defs.Count(); ++i) {
    if (defs.Items(i)->Options().Contains(ixPrimary)) return CopyOf(defs.Items(i));
  }
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TIndexDef* d = defs.Items(i);
    if (d->Options().Contains(ixUnique) && FieldsExist(this, d->Fields())) return CopyOf(d);
  }
  return nullptr;
}

}  // namespace pelvar
