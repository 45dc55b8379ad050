-- The tables of the import test workbooks (tests/data/import) as a DBA
-- makes them in PostgreSQL's own DDL: unquoted, so stored lower-case, and
-- found by the upper-case names of the workbook headers.
create table zorvat (
  aa     varchar(10) primary key,
  bb     numeric,
  cc     date,
  seq_nn integer,
  dd     numeric
);
create sequence seq_tbxh;
create table people (
  name varchar(20),
  note varchar(20),
  born date
);
create table events (
  d date,
  v varchar(10)
);
