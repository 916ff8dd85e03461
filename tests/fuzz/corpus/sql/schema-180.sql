
create generator GEN_VARIANTA_SKLAD;