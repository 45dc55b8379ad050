-- Gives a SQLite database the Oracle data dictionary xlsbridge reads, for
-- use through an ODBC driver (the embedded engine makes these views itself).
--   sqlite3 DATABASE < scripts/sql/sqlite_dictionary.sql
-- Names come out in upper case, as Oracle keeps unquoted names. DATA_TYPE is
-- the declared type without its size: declare Oracle's types (varchar2(20),
-- number(5,2), date) and the loader sees what it would see on Oracle.
-- to_date/to_char and sequences are not given: through ODBC the import of a
-- SQLite database takes text and number columns, no sequence columns.
drop view if exists dual;
drop view if exists user_tables;
drop view if exists user_tab_columns;
drop view if exists user_sequences;
create view dual as select 'X' as DUMMY;
create view user_tables as
  select upper(name) as TABLE_NAME from sqlite_master
  where type = 'table' and name not like 'sqlite\_%' escape '\' and lower(name) <> 'xlsbridge_sequences';
create view user_tab_columns as
  select upper(m.name) as TABLE_NAME, upper(p.name) as COLUMN_NAME,
         upper(trim(case when instr(p.type, '(') > 0 then substr(p.type, 1, instr(p.type, '(') - 1) else p.type end))
           as DATA_TYPE,
         p.cid + 1 as COLUMN_ID, case when p."notnull" then 'N' else 'Y' end as NULLABLE,
         -- varchar2(n), char(n): n bytes; number(p,s): p and s. The cast takes the leading digits.
         case when upper(p.type) like '%CHAR%(%' then cast(substr(p.type, instr(p.type, '(') + 1) as integer)
              when upper(p.type) like 'NUMBER%' or upper(p.type) like 'INTEGER%' then 22
              when upper(p.type) = 'DATE' then 7 end as DATA_LENGTH,
         case when upper(p.type) like 'NUMBER%(%' then cast(substr(p.type, instr(p.type, '(') + 1) as integer)
           end as DATA_PRECISION,
         case when upper(p.type) like 'NUMBER%(%,%' then cast(substr(p.type, instr(p.type, ',') + 1) as integer)
              when upper(p.type) like 'NUMBER%(%' or upper(p.type) like 'INTEGER%' then 0 end as DATA_SCALE,
         case when upper(p.type) like '%CHAR%(%' then cast(substr(p.type, instr(p.type, '(') + 1) as integer)
           end as CHAR_LENGTH,
         case when upper(p.type) like '%CHAR%(%' then 'B' end as CHAR_USED
  from sqlite_master m join pragma_table_info(m.name) p
  where m.type in ('table', 'view') and m.name not like 'sqlite\_%' escape '\'
    and lower(m.name) <> 'xlsbridge_sequences'
    and lower(m.name) not in ('dual', 'user_tables', 'user_tab_columns', 'user_sequences');
create view user_sequences as
  select null as SEQUENCE_NAME, null as MIN_VALUE, null as MAX_VALUE, null as INCREMENT_BY, null as LAST_NUMBER
  where 0;
