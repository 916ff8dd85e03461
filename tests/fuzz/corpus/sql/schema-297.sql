
end^

create trigger ZU_ZPRAVA for ZPRAVA active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('ZPRAVA', coalesce(new.ID_ZPRAVA, old.ID_ZPRAVA),
    iif(inserting, 'I', iif(updating, 'U', 'D')));