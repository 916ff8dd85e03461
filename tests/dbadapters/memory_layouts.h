// The three field layouts of the data module's memory tables (documents, daily records,
// document items) and a helper that makes their persistent fields.
#pragma once

#include <sstream>
#include <string>

#include "platform/db.h"

namespace pelvar::testing {

// "NAME:TYPE" items: I integer, SI smallint, Sn string of n characters, F float, D date,
// T time, B memo.
inline constexpr const char* kDokladLayout =
    "ID_DOKLAD:I ID_PREDEK:I ID_TYP_DOKLADU:I ID_DRUH_DOKLADU:I ID_PARTNER:I ID_SKLAD:I "
    "ID_SKLAD_CIL:I ID_TABLE_STATUS:I ID_CENIK:I ID_VLASTNI_ZASTUPCE:I ID_ZALOZIL:I "
    "ID_MODIFIKOVAL:I TYP_DOKLADU:S10 TABLE_STATUS:S10 PARTNER:S10 PARTNER_NAZEV:S51 TITUL:S10 "
    "ULICE:S30 PSC:S6 OBEC:S30 IDENTIFIKATOR:S11 DIC:S15 BANKA:S4 PARTNER_BANKA:S20 "
    "VLASTNI_ZASTUPCE:S10 ZPUSOB_DOPRAVY:S10 FORMA_UHRADY:S10 DOKLAD:S15 DOKLAD_PUVODNI:S15 "
    "DODATEK:S30 DATUM_DOKLADU:D DATUM_VYSTAVENI:D DATUM_PLNENI:D DATUM_SPLATNOSTI:D POZNAMKA:B "
    "TEXT1:B TEXT2:B VARIABILNI_SYMBOL:S10 KONSTANTNI_SYBOL:S10 SPECIFICKY_SYMBOL:S10 ROUND:S12 "
    "CENIK:S10 SKLAD:S10 SKLAD_CIL:S10 DO_ZAPORU:S1 ZALOZENI_ZAZNAMU:D POSLEDNI_MODIFIKACE:D "
    "CENA:F ZAPLACENO:F ZE_ZALOHY:F CAS:T ID:I ST:S1 ID_ZARIZENI:I ID_ODDELENI:I "
    "ID_PRACOVISTE:I UPDATE:SI ID_DOKLAD_NEW:I ID_PARTNER_NEW:I PARTNER_NAZEV_NEW:S51 "
    "ULICE_NEW:S30 PSC_NEW:S6 OBEC_NEW:S30 ID_PREDEK_NEW:I DOKLAD_PUVODNI_NEW:S15 "
    "ID_SKLAD_NEW:I SKLAD_NEW:S10 ID_CENIK_NEW:I CENIK_NEW:S10 ID_ZARIZENI_NEW:I "
    "ID_ODDELENI_NEW:I ID_PRACOVISTE_NEW:I";

inline constexpr const char* kDenZaznamLayout =
    "ID_DENNI_ZAZNAM:I ID_PACIENT:I ID_ZALOZIL:I ID_MODIFIKOVAL:I ID_ORG_JEDNOTKA:I ID_DOKLAD:I "
    "ID_PRIPAD:I ID_SKLAD:I ID_ZADANKA:I TYP:I DEKURS:B DATUM:D PRIPAD:S50 DIAGNOZA:S10 "
    "DIAGNOZA_NAZEV:S50 DIAGNOZA_POPIS:S100 HODNOCENI:S20 ORG_JEDNOTKA_NAZEV:S51 CAS:T "
    "ZALOZENI_ZAZNAMU:D POSLEDNI_MODIFIKACE:D ID:I ST:S1 DOKLAD_PUVODNI:S15 ID_ZARIZENI:I "
    "ID_ODDELENI:I ID_PRACOVISTE:I ID_DENNI_ZAZNAM_NEW:I ID_DOKLAD_NEW:I ID_PACIENT_NEW:I "
    "ID_PRIPAD_NEW:I PRIPAD_NEW:S50 ID_ZARIZENI_NEW:I ID_ODDELENI_NEW:I ID_PRACOVISTE_NEW:I "
    "DATUM_PRIPADU:D PACIENT:S10 DOKLAD:S15 TYP_DOKLADU:S10 UPDATE:SI";

inline constexpr const char* kDokladPolozkaLayout =
    "ID_DOKLAD_POLOZKA:I ID_DOKLAD:I ID_DOKLAD_PREDEK:I ID_MERNA_JEDNOTKA:I ID_VARIANTA:I "
    "ID_KLASIFIKACE_VYROBKU:I ID_DENNI_ZAZNAM:I ID_SKUPINA:I ID_CENIK:I ID_SKLAD:I "
    "ID_DOKLAD_POLOZKA_PREDEK:I ID_ZALOZIL:I ID_MODIFIKOVAL:I VARIANTA:S10 VARIANTA_NAZEV:S50 "
    "SKUPINA:S10 MERNA_JEDNOTKA:S10 VYROBNI_CISLO:S20 DATUM_EXPIRACE:D TYP_POHYBU:S1 "
    "BEZ_CENY:S1 DO_ZAPORU:S1 CENA_NALEZENA:S1 CENA_ZMENENA:S1 DOKLAD:S15 DOKLAD_PREDEK:S20 "
    "TEXT:B CENA_MJ:F CENA:F CENA_DPH:F CENA_MJ_SMLUVNI:F CENA_MJ_NAKLADOVA:F "
    "CENA_MJ_PRODEJNI:F SAZBA_DPH:F S_DPH:S1 RABAT:F ZNAMENKO:I MNOZSTVI:F "
    "POSLEDNI_MODIFIKACE:D ZALOZENI_ZAZNAMU:D TYP:I CENIK:S10 SKLAD:S10 CAS:T ID:I ST:S1 "
    "PREVOD_JEDNOTEK:F UZAVERKA:S1 PRISTI_APLIKACE:I ID_ZARIZENI:I ID_ODDELENI:I "
    "ID_PRACOVISTE:I STAV:F ID_DOKLAD_POLOZKA_PRIJEM:I ID_DOKLAD_POLOZKA_U:I "
    "VARIANTA_NAZEV_NEW:S50 ID_DOKLAD_POLOZKA_NEW:I ID_DOKLAD_NEW:I ID_DOKLAD_PREDEK_NEW:I "
    "ID_MERNA_JEDNOTKA_NEW:I ID_VARIANTA_NEW:I ID_DENNI_ZAZNAM_NEW:I ID_CENIK_NEW:I "
    "ID_SKLAD_NEW:I ID_DOKLAD_POLOZKA_PREDEK_NEW:I ID_ZARIZENI_NEW:I ID_ODDELENI_NEW:I "
    "ID_PRACOVISTE_NEW:I ID_DOKLAD_POLOZKA_PRIJEM_NEW:I TYP_DOKLADU:S10 UPDATE:SI";

// Makes the layout's persistent fields on dataset (owned by it); returns their number.
inline int AddLayoutFields(TDataSet* dataset, const char* layout) {
  std::istringstream in(layout);
  std::string item;
  int count = 0;
  while (in >> item) {
    size_t colon = item.find(':');
    std::string name = item.substr(0, colon), type = item.substr(colon + 1);
    TField* f = nullptr;
    if (type == "I") {
      f = new TIntegerField(dataset);
    } else if (type == "SI") {
      f = new TSmallintField(dataset);
    } else if (type[0] == 'S') {
      f = new TStringField(dataset);
      f->SetSize(std::stoi(type.substr(1)));
    } else if (type == "F") {
      f = new TFloatField(dataset);
    } else if (type == "D") {
      f = new TDateField(dataset);
    } else if (type == "T") {
      f = new TTimeField(dataset);
    } else {
      f = new TMemoField(dataset);
    }
    f->SetFieldName(name);
    f->SetDataSet(dataset);
    ++count;
  }
  return count;
}

}  // namespace pelvar::testing
