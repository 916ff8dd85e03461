
end^

create trigger ZU_ODDELENI for ODDELENI active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('ODDELENI', coalesce(new.ID_ODDELENI, old.ID_ODDELENI),
    iif(inserting, 'I', iif(updating, 'U', 'D')));