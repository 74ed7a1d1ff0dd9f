#include <gtest/gtest.h>

#include "binding/kel_error.h"

extern "C" const int32_t kel_error_name_count;

TEST(ErrorName, NamesTheTableEnds) {
  EXPECT_STREQ(kel_error_name(0), "KEL_TK_NO_ERROR");
  EXPECT_STREQ(kel_error_name(-1), "KEL_TK_GENERAL_ERROR");
  EXPECT_STREQ(kel_error_name(-7), "KEL_TK_CONTINUE");
  EXPECT_STREQ(kel_error_name(-49), "KEL_TK_CHECKOUT_CONFLICT");
  EXPECT_EQ(kel_error_name_count, 48);
}

TEST(ErrorName, ValuesOutsideTheTableHaveTheEmptyName) {
  for (KelError v : {-40, -47, -50, -96, 1, 1000}) {
    ASSERT_NE(kel_error_name(v), nullptr);
    EXPECT_STREQ(kel_error_name(v), "") << v;
  }
}
