
end^

create trigger ZU_DODATEK for DODATEK active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('DODATEK', coalesce(new.ID_DODATEK, old.ID_DODATEK),
    iif(inserting, 'I', iif(updating, 'U', 'D')));