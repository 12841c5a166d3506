#include "model/zef_exception.h"

#include <gtest/gtest.h>

TEST(ZEFExceptionTest, CarriesMessageAndCode)
{
    zef::ZEFException e("Invalid file", 2);
    EXPECT_STREQ(e.message(), "Invalid file");
    EXPECT_EQ(e.code(), 2);
    EXPECT_TRUE(e.hasMessage());
    EXPECT_FALSE(zef::ZEFException("").hasMessage());
}
