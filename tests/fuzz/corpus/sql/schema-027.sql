

create table RECEPTAR (
  ID_RECEPTAR integer not null,
  ID_PREDEK integer,
  OBLAST varchar(50),
  SKUPINA varchar(50),
  RECEPTAR varchar(50),
  IS_RECEPT char(1),
  TEXT blob sub_type text,
  ST char(1),
  primary key (ID_RECEPTAR)
);