#pragma once
// Sequences as Oracle keeps them: the options of CREATE SEQUENCE and the
// value NEXTVAL hands out, with Oracle's errors.

#include <optional>
#include <string>

namespace xb::db::oracle {

struct SequenceOptions {
  long long start = 1;
  long long increment = 1;
  long long min_value = 1;
  long long max_value = 0;  // set by ParseSequenceOptions
  bool cycle = false;
  long long cache = 20;  // 0: nocache
};

// The options text after "create sequence NAME" ("start with 5 maxvalue 9
// cycle nocache", any order); DbError with Oracle's message when an option
// is malformed or the values do not fit together. Defaults as in Oracle:
// ascending 1 .. (the largest value kept), descending -(largest) .. -1,
// starting at the low end when ascending and the high end when descending.
SequenceOptions ParseSequenceOptions(const std::string& text);

// The value NEXTVAL hands out when the sequence stands at next (the value
// it would give without limits): next itself, or after the limit the other
// end when it cycles; DbError ORA-08004 when exhausted.
long long SequenceValue(const std::string& name, long long next, const SequenceOptions& options);

// The value the sequence stands at after handing out value. A step past
// what a value can hold stands beyond the limit, where the next NEXTVAL
// cycles or fails.
long long SequenceAfter(long long value, const SequenceOptions& options);

// The options of a sequence as kept: the defaults for its increment, with
// the limits and cycle flag kept when there are any (sequences made before
// the limits were kept have none).
SequenceOptions KeptSequenceOptions(long long increment, std::optional<long long> min_value,
                                    std::optional<long long> max_value, std::optional<bool> cycle);

}  // namespace xb::db::oracle
