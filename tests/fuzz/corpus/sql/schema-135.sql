
create generator GEN_ODDELENI;