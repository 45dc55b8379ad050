#include "db/oracle/sequence.h"

#include <cctype>
#include <limits>
#include <vector>

#include "db/errors.h"
#include "text/ascii.h"

namespace xb::db::oracle {
namespace {

// Oracle's own limits are 28 digits; a value here is a 64-bit integer.
constexpr long long kLargest = std::numeric_limits<long long>::max() - 1;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += text::LowerAscii(c);
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

long long Integer(const std::vector<std::string>& words, size_t at) {
  if (at >= words.size()) throw DbError("ORA-01722: invalid number");
  const std::string& w = words[at];
  size_t i = w[0] == '-' ? 1 : 0;
  if (i == w.size()) throw DbError("ORA-01722: invalid number");
  for (size_t k = i; k < w.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(w[k]))) throw DbError("ORA-01722: invalid number");
  try {
    return std::stoll(w);
  } catch (...) {
    throw DbError("ORA-01722: invalid number");
  }
}

}  // namespace

SequenceOptions ParseSequenceOptions(const std::string& text) {
  const auto words = Words(text);
  std::optional<long long> start, increment, min_value, max_value, cache;
  bool cycle = false, nocache = false;
  auto once = [](std::optional<long long>& slot, long long value, const char* what) {
    if (slot) throw DbError(std::string("ORA-02000: duplicate ") + what + " specifications");
    slot = value;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "start" && i + 1 < words.size() && words[i + 1] == "with") {
      once(start, Integer(words, i + 2), "START WITH");
      i += 2;
    } else if (w == "increment" && i + 1 < words.size() && words[i + 1] == "by") {
      once(increment, Integer(words, i + 2), "INCREMENT BY");
      i += 2;
    } else if (w == "minvalue") {
      once(min_value, Integer(words, ++i), "MINVALUE");
    } else if (w == "maxvalue") {
      once(max_value, Integer(words, ++i), "MAXVALUE");
    } else if (w == "cache") {
      once(cache, Integer(words, ++i), "CACHE");
    } else if (w == "cycle") {
      cycle = true;
    } else if (w == "nocache") {
      nocache = true;
    } else if (w != "nocycle" && w != "order" && w != "noorder" && w != "nominvalue" &&
               w != "nomaxvalue") {
      throw DbError("ORA-00933: SQL command not properly ended (CREATE SEQUENCE: '" + w + "')");
    }
  }
  SequenceOptions o;
  o.increment = increment.value_or(1);
  if (o.increment == 0) throw DbError("ORA-04002: INCREMENT must be a non-zero integer");
  const bool ascending = o.increment > 0;
  o.min_value = min_value.value_or(ascending ? 1 : -kLargest);
  o.max_value = max_value.value_or(ascending ? kLargest : -1);
  if (o.min_value >= o.max_value) throw DbError("ORA-04004: MINVALUE must be less than MAXVALUE");
  o.start = start.value_or(ascending ? o.min_value : o.max_value);
  if (o.start < o.min_value) throw DbError("ORA-04006: START WITH cannot be less than MINVALUE");
  if (o.start > o.max_value) throw DbError("ORA-04008: START WITH cannot be more than MAXVALUE");
  o.cycle = cycle;
  o.cache = nocache ? 0 : cache.value_or(20);
  if (!nocache && cache && *cache <= 1)
    throw DbError("ORA-04010: the number of values to CACHE must be greater than 1");
  if (o.cycle && o.cache > 0) {
    // One cycle must hold more values than the cache.
    const long double span =
        (static_cast<long double>(o.max_value) - o.min_value) /
        (o.increment > 0 ? o.increment : -static_cast<long double>(o.increment));
    if (static_cast<long double>(o.cache) > span + 1)
      throw DbError("ORA-04013: number to CACHE must be less than one cycle");
  }
  return o;
}

long long SequenceValue(const std::string& name, long long next, const SequenceOptions& options) {
  if (next >= options.min_value && next <= options.max_value) return next;
  const bool ascending = options.increment > 0;
  if (options.cycle) return ascending ? options.min_value : options.max_value;
  throw DbError("ORA-08004: sequence " + name + ".NEXTVAL " +
                (ascending ? "exceeds MAXVALUE" : "goes below MINVALUE") +
                " and cannot be instantiated");
}

long long SequenceAfter(long long value, const SequenceOptions& options) {
  long long after = 0;
  if (__builtin_add_overflow(value, options.increment, &after))
    return options.increment > 0 ? std::numeric_limits<long long>::max()
                                 : std::numeric_limits<long long>::min();
  return after;
}

SequenceOptions KeptSequenceOptions(long long increment, std::optional<long long> min_value,
                                    std::optional<long long> max_value, std::optional<bool> cycle) {
  SequenceOptions o;
  o.increment = increment == 0 ? 1 : increment;
  const bool ascending = o.increment > 0;
  o.min_value = ascending ? 1 : -kLargest;
  o.max_value = ascending ? kLargest : -1;
  if (cycle) {
    if (min_value) o.min_value = *min_value;
    if (max_value) o.max_value = *max_value;
    o.cycle = *cycle;
  }
  return o;
}

}  // namespace xb::db::oracle
