

create table VYROBCE (
  ID_VYROBCE integer not null,
  VYROBCE varchar(50),
  ST char(1),
  primary key (ID_VYROBCE)
);