-- Each employee's place in the presence answer's order (last name, first name, id, as people
-- read names in Serbian Latin): the collation keys of both names followed by the id, as bytes
-- that compare the same on every engine. The presence answer is then read in pages straight
-- from this index. The service writes the key with each new employee and fills in rows it
-- finds without one.
ALTER TABLE employees ADD COLUMN sort_key @BYTES@;

CREATE INDEX employees_sort_key ON employees (sort_key);
