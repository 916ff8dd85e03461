
end^

create trigger ZU_DENNI_ZAZNAM_DROBNI_SAVCI for DENNI_ZAZNAM_DROBNI_SAVCI active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('DENNI_ZAZNAM_DROBNI_SAVCI', coalesce(new.ID_DENNI_ZAZNAM, old.ID_DENNI_ZAZNAM),
    iif(inserting, 'I', iif(updating, 'U', 'D')));