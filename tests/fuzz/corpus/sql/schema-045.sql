

create table MEZINARODNI_OSVEDCENI (
  ID_MEZINARODNI_OSVEDCENI integer not null,
  ID_PACIENT integer,
  CISLO varchar(20),
  ZEME varchar(30),
  ID_ZARIZENI integer,
  ID_ODDELENI integer,
  ID_PRACOVISTE integer,
  ID_ZALOZIL integer,
  ID_MODIFIKOVAL integer,
  ZALOZENI_ZAZNAMU date,
  POSLEDNI_MODIFIKACE date,
  ST char(1),
  primary key (ID_MEZINARODNI_OSVEDCENI)
);