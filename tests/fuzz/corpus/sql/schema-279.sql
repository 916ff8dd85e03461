
end^

create trigger ZU_LABVH for LABVH active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('LABVH', coalesce(new.ID_LABVH, old.ID_LABVH),
    iif(inserting, 'I', iif(updating, 'U', 'D')));