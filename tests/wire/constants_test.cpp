#include <gtest/gtest.h>

#include "wire/uMysqlClient.h"
#include "wire/uMysqlErrors.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {
namespace {

TEST(EscapeStr, EscapesQuotesControlsAndBackslash) {
  EXPECT_EQ(EscapeStr("a\tb"), "a\\tb");
  EXPECT_EQ(EscapeStr("it's"), "it\\'s");
  EXPECT_EQ(EscapeStr(std::string("\x1a", 1)), std::string("\x1a", 1));
  EXPECT_EQ(EscapeStr(std::string("a\0b", 3)), "a\\0b");
  EXPECT_EQ(EscapeStr("\r\n\"\\"), "\\r\\n\\\"\\\\");
  EXPECT_EQ(EscapeStr(""), "");
}

TEST(FlagFunctions, CapabilitiesAndColumnFlags) {
  EXPECT_EQ(SetCOMPRESS(0xFFFFFFFF, false), 0xFFFFFFFFu & ~32u);
  EXPECT_EQ(SetCOMPRESS(0, true), 32u);
  EXPECT_TRUE(HasTRANSACTIONS(8192));
  EXPECT_FALSE(HasLONGFLAG(3));
  EXPECT_FALSE(IsPRIKEY(nullptr));
  TMysql_FieldDef field;
  for (uint32_t flags : {0u, 32768u, 32769u, 65536u}) {
    field.flags = flags;
    EXPECT_EQ(IsNUM(&field), IsGROUP(&field)) << flags;
  }
  field.flags = 2 | 65536;
  EXPECT_TRUE(IsPRIKEY(&field));
  EXPECT_TRUE(IsUNIQUE(&field));
  EXPECT_FALSE(IsNOTNULL(&field));
  EXPECT_FALSE(REF_GRANT(nullptr));
}

TEST(ClientErrors, TextsAndFormatting) {
  EXPECT_STREQ(client_errors[20], "Got packet bigger than 'max_allowed_packet'");
  EXPECT_STREQ(ClientErrorText(2014), "Commands out of sync;  You can't run this command now");
  EXPECT_STREQ(ClientErrorText(1999), "Unknown MySQL error");
  EXPECT_EQ(FormatClientError(2007, 8, 10),
            "Protocol mismatch. Server Version = 8 Client Version = 10");
  EXPECT_EQ(FormatClientError(2017, ".", "MySQL", 2u),
            "Can't open named pipe to host: .  pipe: MySQL (2)");
  std::string long_host(100, 'h');
  EXPECT_EQ(FormatClientError(2003, long_host.c_str(), 111),
            "Can't connect to MySQL server on '" + std::string(64, 'h') + "' (111)");
  EXPECT_EQ(NET_READ_TIMEOUT, 30u);
}

}  // namespace
}  // namespace rowset
