
create generator GEN_TEPLOTA_MISTO;