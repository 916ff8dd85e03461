

create table VARIANTA_CENIK (
  ID_VARIANTA_CENIK integer not null,
  ID_VARIANTA integer,
  ID_SKLAD integer,
  SKLAD varchar(10),
  ID_CENIK integer,
  CENIK varchar(10),
  CENA double precision,
  CENA_DPH double precision,
  ST char(1),
  primary key (ID_VARIANTA_CENIK)
);