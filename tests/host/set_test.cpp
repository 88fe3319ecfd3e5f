#include "host/Set.h"

#include <gtest/gtest.h>

#include "host/Exceptions.h"

namespace rowset {
namespace {

enum TColor { clRed, clGreen, clBlue, clBit31 = 31 };

TEST(SetTest, WordHoldsOneBitPerMember) {
  Set<TColor> s{clRed, clBlue};
  EXPECT_EQ(s.Word(), 0b101u);
  EXPECT_TRUE(s.Contains(clBlue));
  EXPECT_FALSE(s.Contains(clGreen));
  s.Exclude(clRed).Include(clBit31);
  EXPECT_EQ(s.Word(), (1u << 31) | 0b100u);
  EXPECT_EQ(Set<TColor>::FromWord(s.Word()), s);
}

TEST(SetTest, UnionDifferenceIntersection) {
  Set<TColor> a{clRed, clGreen}, b{clGreen, clBlue};
  EXPECT_EQ((a + b).Word(), 0b111u);
  EXPECT_EQ((a - b).Word(), 0b001u);
  EXPECT_EQ((a * b).Word(), 0b010u);
  EXPECT_TRUE((a - a).Empty());
}

TEST(ExceptionsTest, AbortIsSilentAndDatabaseErrorCarriesText) {
  EXPECT_THROW(Abort(), EAbort);
  try {
    DatabaseError("boom");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "boom");
    EXPECT_NE(dynamic_cast<const EDatabaseError*>(&e), nullptr);
  }
}

}  // namespace
}  // namespace rowset
