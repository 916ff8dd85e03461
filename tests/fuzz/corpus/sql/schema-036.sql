

create table PARTNER_BANKA (
  ID_PARTNER_BANKA integer not null,
  ID_PARTNER integer,
  PARTNER_BANKA varchar(20),
  BANKA varchar(4),
  ST char(1),
  primary key (ID_PARTNER_BANKA)
);