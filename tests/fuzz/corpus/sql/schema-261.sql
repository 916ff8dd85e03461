
end^

create trigger ZU_DOKLAD_POLOZKA_BV for DOKLAD_POLOZKA_BV active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('DOKLAD_POLOZKA_BV', coalesce(new.ID_DOKLAD_POLOZKA, old.ID_DOKLAD_POLOZKA),
    iif(inserting, 'I', iif(updating, 'U', 'D')));