

create table PRODEJKA (
  ID_PRODEJKA integer not null,
  PRODEJKA varchar(15),
  ID_PARTNER integer,
  PARTNER varchar(10),
  PARTNER_NAZEV varchar(51),
  ULICE varchar(30),
  PSC varchar(6),
  OBEC varchar(30),
  ID_SKLAD integer,
  SKLAD varchar(10),
  ID_CENIK integer,
  CENIK varchar(10),
  ID_VLASTNI_ZASTUPCE integer,
  VLASTNI_ZASTUPCE varchar(10),
  CENA double precision,
  ID_ZARIZENI integer,
  ID_ODDELENI integer,
  ID_PRACOVISTE integer,
  ID_ZALOZIL integer,
  ID_MODIFIKOVAL integer,
  ZALOZENI_ZAZNAMU date,
  POSLEDNI_MODIFIKACE date,
  ST char(1),
  primary key (ID_PRODEJKA)
);