#pragma once
// The data dictionary as one read of a workbook sees it. The loader asks the
// same dictionary statements again and again (the data type of a column,
// once per cell); the dictionary runs each text once through the query it
// was given and answers the repeats from memory, whatever the engine. It
// forgets everything when the read ends (forget(), or the Read scope) and
// whenever its query's connection sends a statement that may change the
// schema (one other than insert/update/delete/select) or closes, so an
// answer is never older than the read or than the last schema change made
// through that connection. Changes made elsewhere (another connection,
// another program) are seen from the next read on.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/connection.h"
#include "db/oracle/column_types.h"

namespace xb::db {

class Dictionary {
 public:
  using Row = std::vector<std::optional<std::string>>;
  struct Answer {
    std::vector<std::string> names;
    std::vector<Row> rows;
    // The first row's value i as text; empty for NULL or no row.
    std::string text(size_t i = 0) const;
  };

  explicit Dictionary(Query& query) : query_(query) {}

  // The rows of a dictionary statement (the text exactly as the loader
  // builds it); runs it when this read has not asked it yet.
  const Answer& ask(const std::string& sql);
  // The same for a caller that asks one text again and again (the loader,
  // once per cell): the slot remembers where the answer is kept, so a repeat
  // needs no look-up of the text while nothing has been forgotten.
  struct Slot {
    const Answer* answer = nullptr;
    uint64_t generation = 0;
  };
  const Answer& ask(const std::string& sql, Slot& slot);
  void forget();

  // What the dictionary declares of one column of a table: the facts a
  // value must meet before the database takes it.
  struct ColumnFacts {
    std::string name;       // COLUMN_NAME
    std::string data_type;  // DATA_TYPE, upper-cased
    long long length = 0;   // VARCHAR2/CHAR: declared length; 0 when none
    bool length_in_chars = false;
    std::optional<int> precision, scale;  // NUMBER(p,s)
    bool nullable = true;
    // The declared type as the Oracle dialect's value checks take it.
    oracle::DeclaredType declared() const;
  };
  // Every column of a table, in column order, from one query (asked once a
  // read like any other statement); empty when the table has no columns.
  std::vector<ColumnFacts> columns(const std::string& table);
  // The statement columns() sends.
  static std::string ColumnsFactsQuery(const std::string& table);

  // How many statements reached the database since the last forget (tests).
  int asked() const { return asked_; }

  // Forgets when the scope ends: one read of a workbook.
  class Read {
   public:
    explicit Read(Dictionary& dictionary) : dictionary_(dictionary) { dictionary_.forget(); }
    ~Read() { dictionary_.forget(); }
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;

   private:
    Dictionary& dictionary_;
  };

 private:
  uint64_t SchemaChanges() const { return query_.connection().schemaChanges(); }

  Query& query_;
  std::unordered_map<std::string, Answer> answers_;
  uint64_t schema_changes_ = 0;
  // Moves whenever the answers are forgotten: a slot of another generation
  // points at nothing.
  uint64_t generation_ = 1;
  int asked_ = 0;
};

}  // namespace xb::db
