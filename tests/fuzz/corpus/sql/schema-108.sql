 none for
-- HODNOCENI, the daily-record detail tables keyed by their daily record, DZS_ZUB,
-- VERZE and TYP_ZADANKY.

create generator GEN_BANKA;