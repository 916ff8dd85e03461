
end^

create trigger ZU_TYP_USTAJENI for TYP_USTAJENI active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('TYP_USTAJENI', coalesce(new.ID_TYP_USTAJENI, old.ID_TYP_USTAJENI),
    iif(inserting, 'I', iif(updating, 'U', 'D')));