
create generator GEN_ZURNAL;