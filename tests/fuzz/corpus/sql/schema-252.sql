
end^

create trigger ZU_SABLONA_VYKONU for SABLONA_VYKONU active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('SABLONA_VYKONU', coalesce(new.ID_SABLONA_VYKONU, old.ID_SABLONA_VYKONU),
    iif(inserting, 'I', iif(updating, 'U', 'D')));