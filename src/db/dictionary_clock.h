#pragma once
// The clock the sqlite engine's dictionary cache reads. The cache looks at
// the database files on disk (for another program's commit) no more than
// once a millisecond of this clock; a change made by this process is seen
// at once whatever the clock says. Tests step their own clock by hand.

#include <chrono>

namespace xb::db {

using DictionaryClock = std::chrono::steady_clock::time_point (*)();

// nullptr: the steady clock again.
void SetDictionaryClock(DictionaryClock clock);

}  // namespace xb::db
