-- The table and the sequence of the help document's two sample workbooks
-- (sample1.xls, sample2.xls) in PostgreSQL's own DDL. Unquoted names are
-- stored lower-case; the workbooks' upper-case headers find them.
--   psql "postgresql://scott@dbhost/sales" -f examples/postgres_schema.sql
create table zorvat (
  aa     varchar(10) primary key,
  bb     numeric,
  cc     date,
  seq_nn integer,
  dd     numeric
);

create sequence seq_tbxh;
