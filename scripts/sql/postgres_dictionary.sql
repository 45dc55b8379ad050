-- Gives a PostgreSQL schema the Oracle data dictionary xlsbridge reads, for
-- use through psqlODBC. Run it as the owner of the schema the import writes:
--   psql -d DATABASE -f scripts/sql/postgres_dictionary.sql
-- The views show the tables, columns and sequences of the current schema,
-- names in upper case (PostgreSQL folds unquoted names to lower case, so
-- ZORVAT in a workbook is the table zorvat). Data types are given Oracle's
-- names: date and timestamps are DATE, numeric types NUMBER, character
-- varying and text VARCHAR2. to_date and to_char are PostgreSQL's own.
create or replace view dual as select 'X'::varchar(1) as dummy;
create or replace view user_tables as
  select upper(table_name::text)::varchar(128) as table_name
  from information_schema.tables
  where table_schema = current_schema() and table_type = 'BASE TABLE';
create or replace view user_tab_columns as
  select upper(c.table_name::text)::varchar(128) as table_name,
         upper(c.column_name::text)::varchar(128) as column_name,
         (case
            when c.data_type in ('date', 'timestamp without time zone', 'timestamp with time zone') then 'DATE'
            when c.data_type in ('numeric', 'integer', 'bigint', 'smallint', 'real', 'double precision') then 'NUMBER'
            when c.data_type in ('character varying', 'text') then 'VARCHAR2'
            when c.data_type = 'character' then 'CHAR'
            else upper(c.data_type::text)
          end)::varchar(128) as data_type,
         c.ordinal_position::integer as column_id,
         (case when c.is_nullable = 'YES' then 'Y' else 'N' end)::varchar(1) as nullable,
         -- PostgreSQL counts character lengths in characters: Oracle's CHAR semantics.
         (case when c.character_maximum_length is not null then 4 * c.character_maximum_length
               when c.data_type in ('numeric', 'integer', 'bigint', 'smallint', 'real', 'double precision') then 22
               when c.data_type in ('date', 'timestamp without time zone', 'timestamp with time zone') then 7
          end)::integer as data_length,
         (case when c.data_type = 'numeric' then c.numeric_precision end)::integer as data_precision,
         (case when c.data_type = 'numeric' then c.numeric_scale
               when c.data_type in ('integer', 'bigint', 'smallint') then 0 end)::integer as data_scale,
         c.character_maximum_length::integer as char_length,
         (case when c.character_maximum_length is not null then 'C' end)::varchar(1) as char_used
  from information_schema.columns c
  where c.table_schema = current_schema();
create or replace view user_sequences as
  select upper(sequence_name::text)::varchar(128) as sequence_name,
         minimum_value::numeric as min_value, maximum_value::numeric as max_value,
         increment::numeric as increment_by, start_value::numeric as last_number
  from information_schema.sequences
  where sequence_schema = current_schema();
