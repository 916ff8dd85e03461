
end^

create trigger ZU_PARTNER_ZALOHA_CERPANI for PARTNER_ZALOHA_CERPANI active after insert or update or delete position 100
as
begin
  execute procedure ZURNAL_ZAPIS('PARTNER_ZALOHA_CERPANI', coalesce(new.ID_PARTNER_ZALOHA_CERPANI, old.ID_PARTNER_ZALOHA_CERPANI),
    iif(inserting, 'I', iif(updating, 'U', 'D')));