

-- Whether the journal triggers write (1) or not (0);