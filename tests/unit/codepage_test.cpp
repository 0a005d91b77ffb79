#include <set>
#include <vector>

#include "codepage1252.h"
#include "test_support.h"

namespace {

#include "bestfit1252.inc"

// Every UTF-16 unit converts as the best-fit table says: the units the
// table lists to their byte, every other one to '?'. The table being
// strictly ascending makes this the answer its binary search gives.
TEST(CodePage1252, EveryUnitConvertsAsTheBestFitTableSays) {
  const size_t entries = sizeof kBestFit1252 / sizeof kBestFit1252[0];
  for (size_t i = 1; i < entries; ++i)
    ASSERT_LT(kBestFit1252[i - 1].unit, kBestFit1252[i].unit) << i;
  std::vector<int> expected(0x10000, '?');
  for (const BestFitEntry &e : kBestFit1252)
    expected[e.unit] = e.byte;
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit)
    ASSERT_EQ(UnicodeToCp1252(static_cast<unsigned short>(unit)),
              expected[unit])
        << std::hex << unit;
}

// Round trip of every byte: each has a unit, and that unit comes back as
// the same byte.
TEST(CodePage1252, EveryByteSurvivesTheRoundTrip) {
  std::set<unsigned short> units;
  for (unsigned byte = 0; byte < 0x100; ++byte) {
    unsigned short unit = Cp1252ToUnicode(static_cast<unsigned char>(byte));
    units.insert(unit);
    EXPECT_EQ(UnicodeToCp1252(unit), byte) << std::hex << byte;
  }
  EXPECT_EQ(units.size(), 0x100u);
}

} // namespace
