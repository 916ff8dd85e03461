
create generator GEN_REVERS;