
end^

create trigger ZU_DIAGNOZA for DIAGNOZA active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('DIAGNOZA', coalesce(new.ID_DIAGNOZA, old.ID_DIAGNOZA),
    iif(inserting, 'I', iif(updating, 'U', 'D')));