

create table DENNI_ZAZNAM_STOMATO (
  ID_DENNI_ZAZNAM integer not null,
  ID_PACIENT integer,
  CHRUP varchar(30),
  NALEZ varchar(100),
  POZNAMKA blob sub_type text,
  ST char(1),
  primary key (ID_DENNI_ZAZNAM)
);