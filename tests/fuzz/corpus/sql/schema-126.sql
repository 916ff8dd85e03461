
create generator GEN_LABHODN;