
  R = replace(R, '%y', lpad(cast(mod(extract(year from D), 100) as varchar(2)), 2, '0'));