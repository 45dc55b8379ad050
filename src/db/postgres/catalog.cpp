#include "db/postgres/catalog.h"

namespace xb::db::postgres {
namespace {

// Objects of the user's search path, as the dictionary lists them.
constexpr const char* kVisible =
    "left(n.nspname, 3) <> 'pg_' and n.nspname <> 'information_schema' "
    "and pg_catalog.pg_table_is_visible(c.oid)";

std::string OracleSpelling(const std::string& column) {
  return "(case when " + column + " = pg_catalog.lower(" + column + ") then pg_catalog.upper(" +
         column + ") else " + column + "::text end)::varchar(128)";
}

}  // namespace

std::string DictionarySubquery(const std::string& upper_name) {
  if (upper_name == "DUAL") return "(select 'X'::varchar(1) as dummy)";
  if (upper_name == "USER_TABLES")
    return "(select " + OracleSpelling("c.relname") +
           " as table_name from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = "
           "c.relnamespace where c.relkind in ('r', 'p') and " +
           kVisible + ")";
  if (upper_name == "USER_TAB_COLUMNS")
    return "(select " + OracleSpelling("c.relname") + " as table_name, " +
           OracleSpelling("a.attname") +
           " as column_name, (case when t.typname = 'bpchar' then 'CHAR' "
           "when t.typcategory = 'S' then 'VARCHAR2' when t.typcategory = 'N' then 'NUMBER' "
           "when t.typname in ('date', 'timestamp', 'timestamptz') then 'DATE' "
           "else pg_catalog.upper(pg_catalog.format_type(t.oid, null)) end)::varchar(128) as "
           "data_type, a.attnum::numeric as column_id, "
           "(case when a.attnotnull then 'N' else 'Y' end)::varchar(1) as nullable, "
           // Declared sizes as Oracle lists them: lengths in bytes (up to
           // four a character in UTF-8) and in characters as declared.
           "(case when t.typname in ('varchar', 'bpchar') and a.atttypmod > 4 then 4 * "
           "(a.atttypmod - 4) when t.typcategory = 'N' then 22 "
           "when t.typname in ('date', 'timestamp', 'timestamptz') then 7 end)::numeric as "
           "data_length, "
           "(case when t.typname = 'numeric' and a.atttypmod > 4 then ((a.atttypmod - 4) >> 16) & "
           "65535 end)::numeric as data_precision, "
           "(case when t.typname = 'numeric' and a.atttypmod > 4 then (a.atttypmod - 4) & 65535 "
           "when t.typname in ('int2', 'int4', 'int8') then 0 end)::numeric as data_scale, "
           "(case when t.typname in ('varchar', 'bpchar') and a.atttypmod > 4 then a.atttypmod - 4 "
           "end)::numeric as char_length, "
           "(case when t.typname in ('varchar', 'bpchar') and a.atttypmod > 4 then 'C' "
           "end)::varchar(1) as char_used "
           "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
           "join pg_catalog.pg_attribute a on a.attrelid = c.oid and a.attnum > 0 and not "
           "a.attisdropped join pg_catalog.pg_type d on d.oid = a.atttypid "
           "join pg_catalog.pg_type t on t.oid = (case when d.typtype = 'd' then d.typbasetype "
           "else d.oid end) where c.relkind in ('r', 'p', 'v', 'm', 'f') and " +
           kVisible + ")";
  if (upper_name == "USER_SEQUENCES")
    return "(select " + OracleSpelling("c.relname") +
           " as sequence_name, s.seqmin::numeric as min_value, s.seqmax::numeric as max_value, "
           "s.seqincrement::numeric as increment_by, s.seqcache::numeric as cache_size "
           "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
           "join pg_catalog.pg_sequence s on s.seqrelid = c.oid where c.relkind = 'S' and " +
           kVisible + ")";
  return {};
}

// Keywords come from the server itself, so a newer server's list holds.
// Catcode R: reserved; T: reserved but allowed as a function or type name;
// neither may name a column unquoted.
const char* const kNameRulesQuery = R"SQL(
with n as (
  select c.relname::text as name from pg_catalog.pg_class c
    join pg_catalog.pg_namespace s on s.oid = c.relnamespace
    where c.relkind in ('r', 'p', 'v', 'm', 'f', 'S') and left(s.nspname, 3) <> 'pg_'
      and s.nspname <> 'information_schema' and pg_catalog.pg_table_is_visible(c.oid)
  union
  select a.attname::text from pg_catalog.pg_attribute a
    join pg_catalog.pg_class c on c.oid = a.attrelid
    join pg_catalog.pg_namespace s on s.oid = c.relnamespace
    where a.attnum > 0 and not a.attisdropped and c.relkind in ('r', 'p', 'v', 'm', 'f')
      and left(s.nspname, 3) <> 'pg_' and s.nspname <> 'information_schema'
      and pg_catalog.pg_table_is_visible(c.oid)),
k as (select word, catcode from pg_catalog.pg_get_keywords())
select name, name = pg_catalog.lower(name) from n
where (name = pg_catalog.upper(name) and name <> pg_catalog.lower(name)
       and pg_catalog.lower(name) not in (select name from n)
       and pg_catalog.lower(name) not in (select word from k))
   or (name = pg_catalog.lower(name) and name in (select word from k where catcode in ('R', 'T'))
       and pg_catalog.upper(name) not in ('ALL', 'AND', 'ANY', 'AS', 'ASC', 'BETWEEN', 'BY',
         'CHECK', 'COLUMN', 'CREATE', 'CURRENT', 'DEFAULT', 'DESC', 'DISTINCT', 'ELSE', 'FOR',
         'FROM', 'GRANT', 'GROUP', 'HAVING', 'IN', 'INTERSECT', 'INTO', 'IS', 'LIKE', 'NOT',
         'NULL', 'OF', 'ON', 'OR', 'ORDER', 'SELECT', 'TABLE', 'THEN', 'TO', 'UNION', 'UNIQUE',
         'USER', 'WHERE', 'WITH'))
)SQL";

}  // namespace xb::db::postgres
