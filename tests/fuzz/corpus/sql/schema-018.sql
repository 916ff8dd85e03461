

create table PRACUZIV (
  ID_PRACUZIV integer not null,
  ID_PRACOVISTE integer,
  ID_ZARIZENI integer,
  ID_UZIVATEL integer,
  ID_PRISTPRAV integer,
  ST char(1),
  primary key (ID_PRACUZIV)
);