#pragma once
// The seed of a test that draws at random: the test's own fixed seed, or
// XB_TEST_SEED when set, to replay a run or to try others. Printed either
// way, so that the output of a failed run says how to repeat it.

#include <cstdint>

namespace xb::test {

uint32_t TestSeed(uint32_t fixed);

}  // namespace xb::test
