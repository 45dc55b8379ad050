#include "support/seed.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace xb::test {

uint32_t TestSeed(uint32_t fixed) {
  uint32_t seed = fixed;
  if (const char* given = std::getenv("XB_TEST_SEED"); given && *given) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(given, &end, 10);
    if (*end == '\0' && value <= UINT32_MAX)
      seed = static_cast<uint32_t>(value);
    else
      std::cerr << "XB_TEST_SEED=" << given << " is not a number; the fixed seed is used\n";
  }
  std::cout << "seed " << seed << " (XB_TEST_SEED=" << seed << " repeats this run)" << std::endl;
  return seed;
}

}  // namespace xb::test
