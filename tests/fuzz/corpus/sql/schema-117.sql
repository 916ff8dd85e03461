
create generator GEN_DOKLAD;