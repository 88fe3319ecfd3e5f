#include "util/MySQLIniText.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

namespace rowset {
namespace {

const char* const kParams =
    "; connection settings\r\n"
    "orphan=dropped\r\n"
    "[client]\r\n"
    "host=db.example.com\r\n"
    "\r\n"
    "; port follows\r\n"
    "Port=3307\r\n"
    "empty=\r\n"
    "a=b=c\r\n"
    "[direct]\n"
    "connect_timeout=5\n"
    "[Client]\r\n"
    "host=shadowed\r\n";

TEST(ReadIniStringTest, SectionsAndKeysIgnoreCase) {
  EXPECT_EQ(ReadIniString(kParams, "Client", "HOST", "x"), "db.example.com");
  EXPECT_EQ(ReadIniString(kParams, "client", "port", "x"), "3307");
  EXPECT_EQ(ReadIniString(kParams, "DIRECT", "connect_timeout", "x"), "5");
  EXPECT_EQ(ReadIniString(kParams, "client", "a", "x"), "b=c");
}

TEST(ReadIniStringTest, MissingAndEmptyValues) {
  EXPECT_EQ(ReadIniString(kParams, "client", "empty", "dflt"), "");
  EXPECT_EQ(ReadIniString(kParams, "client", "user", "dflt"), "dflt");
  EXPECT_EQ(ReadIniString(kParams, "embedded", "host", "dflt"), "dflt");
  EXPECT_EQ(ReadIniString(kParams, "", "orphan", "dflt"), "dflt");
  EXPECT_EQ(ReadIniString("", "client", "host", "dflt"), "dflt");
  EXPECT_EQ(ReadIniString("[client]\r\nhost\r\n", "client", "host", "d"), "d");
}

TEST(ReadIniStringTest, HeaderMustMatchExactly) {
  EXPECT_EQ(ReadIniString("[client] \r\nhost=h\r\n", "client", "host", "d"), "d");
  EXPECT_EQ(ReadIniString(" [client]\r\nhost=h\r\n", "client", "host", "d"), "d");
  EXPECT_EQ(ReadIniString("[client]\r\n host=h\r\n", "client", "host", "d"), "d");
  EXPECT_EQ(ReadIniString("[client]\r\n host=h\r\n", "client", " host", "d"), "h");
}

TEST(ReadIniStringTest, LineBreaksOfEveryKind) {
  EXPECT_EQ(ReadIniString("[s]\rk=1\r", "s", "k", "d"), "1");
  EXPECT_EQ(ReadIniString("[s]\nk=1", "s", "k", "d"), "1");
  EXPECT_EQ(ReadIniString("[s]\n\rk=1\n\r", "s", "k", "d"), "1");
}

TEST(ReadIniSectionTest, BodyWithoutCommentsOrEmptyLines) {
  EXPECT_EQ(ReadIniSection("[x]\r\na=1\r\n;note\r\n\r\n", "x", "d"), "a=1\r\n");
  EXPECT_EQ(ReadIniSection(kParams, "client", "d"),
            "host=db.example.com\r\nPort=3307\r\nempty=\r\na=b=c\r\n");
  EXPECT_EQ(ReadIniSection(kParams, "direct", "d"), "connect_timeout=5\r\n");
  EXPECT_EQ(ReadIniSection("[x]\r\n[y]\r\n", "x", "d"), "");
  EXPECT_EQ(ReadIniSection(kParams, "nope", "d"), "d");
}

TEST(WriteIniStringTest, RebuildDropsCommentsAndOrphans) {
  std::string t = WriteIniString(kParams, "client", "user", "bob");
  EXPECT_EQ(t,
            "[client]\r\nhost=db.example.com\r\nPort=3307\r\nempty=\r\na=b=c\r\nuser=bob\r\n"
            "[direct]\r\nconnect_timeout=5\r\n"
            "[Client]\r\nhost=shadowed\r\n");
}

TEST(WriteIniStringTest, ReplaceDeleteAppend) {
  std::string t = "[s]\r\nk=1\r\nK2=2\r\n";
  EXPECT_EQ(WriteIniString(t, "S", "K", "9"), "[s]\r\nK=9\r\nK2=2\r\n");  // key as written
  EXPECT_EQ(WriteIniString(t, "s", "k2", ""), "[s]\r\nk=1\r\n");
  EXPECT_EQ(WriteIniString(t, "s", "k3", ""), "[s]\r\nk=1\r\nK2=2\r\n");
  EXPECT_EQ(WriteIniString(t, "new", "a", "b"), "[s]\r\nk=1\r\nK2=2\r\n[new]\r\na=b\r\n");
  EXPECT_EQ(WriteIniString("", "s", "k", "v"), "[s]\r\nk=v\r\n");
  EXPECT_EQ(WriteIniString("", "s", "k", ""), "[s]\r\n");
}

TEST(WriteIniStringTest, OnlyFirstOfDuplicateSectionsChanges) {
  std::string t = "[s]\r\nk=1\r\n[S]\r\nk=2\r\n";
  EXPECT_EQ(WriteIniString(t, "s", "k", "3"), "[s]\r\nk=3\r\n[S]\r\nk=2\r\n");
}

TEST(WriteIniStringTest, RejectsTextsThatWouldCorruptTheIni) {
  EXPECT_THROW(WriteIniString("", "s", "k", "a\r\n[evil]"), EIniError);
  EXPECT_THROW(WriteIniString("", "s", "k", "a\nb"), EIniError);
  EXPECT_THROW(WriteIniString("", "s\r", "k", "v"), EIniError);
  EXPECT_THROW(WriteIniString("", "s", "k=x", "v"), EIniError);
  EXPECT_THROW(WriteIniString("", "s", ";k", "v"), EIniError);
  EXPECT_THROW(WriteIniString("", "s", "[k", "v"), EIniError);
  EXPECT_THROW(WriteIniInteger("", "s", "a\nb", 1), EIniError);
}

TEST(EraseIniSectionTest, RemovesFirstMatchOrLeavesTextAlone) {
  std::string t = "; c\r\n[a]\r\nx=1\r\n[b]\r\ny=2\r\n";
  EXPECT_EQ(EraseIniSection(t, "A"), "[b]\r\ny=2\r\n");
  EXPECT_EQ(EraseIniSection(t, "b"), "[a]\r\nx=1\r\n");
  EXPECT_EQ(EraseIniSection(t, "c"), t);
  EXPECT_EQ(EraseIniSection("", "c"), "");
}

TEST(TypedIniTest, IntegerValues) {
  std::string t = "[n]\r\na=42\r\nb=-7\r\nc=x1\r\nd=$1F\r\ne=99999999999\r\nf= 5\r\n";
  EXPECT_EQ(ReadIniInteger(t, "n", "a", 0), 42);
  EXPECT_EQ(ReadIniInteger(t, "n", "b", 0), -7);
  EXPECT_EQ(ReadIniInteger(t, "n", "c", 3), 3);
  EXPECT_EQ(ReadIniInteger(t, "n", "d", 0), 31);
  EXPECT_EQ(ReadIniInteger(t, "n", "e", 3), 3);
  EXPECT_EQ(ReadIniInteger(t, "n", "f", 0), 5);
  EXPECT_EQ(ReadIniInteger(t, "n", "missing", -12), -12);
  for (int32_t v : {0, 1, -1, INT32_MAX, INT32_MIN, 30000})
    EXPECT_EQ(ReadIniInteger(WriteIniInteger(t, "n", "a", v), "n", "a", 5), v);
}

TEST(TypedIniTest, BooleanValues) {
  std::string t = "[Main]\r\nA=TRUE\r\nB=1\r\nC=yes\r\nD=false\r\nE=true\r\n";
  EXPECT_TRUE(ReadIniBoolean(t, "main", "a", false));
  EXPECT_FALSE(ReadIniBoolean(t, "main", "b", true));
  EXPECT_FALSE(ReadIniBoolean(t, "main", "c", true));
  EXPECT_FALSE(ReadIniBoolean(t, "main", "d", true));
  EXPECT_TRUE(ReadIniBoolean(t, "main", "e", false));
  EXPECT_TRUE(ReadIniBoolean(t, "main", "missing", true));
  EXPECT_FALSE(ReadIniBoolean(t, "main", "missing", false));
  EXPECT_EQ(WriteIniBoolean("", "Main", "SilentStatus", false), "[Main]\r\nSilentStatus=False\r\n");
  for (bool v : {true, false})
    EXPECT_EQ(ReadIniBoolean(WriteIniBoolean(t, "main", "b", v), "main", "b", !v), v);
}

// Whatever key and value are written (within what the text can hold), reading
// it back gives the value, and every other key keeps its value.
TEST(IniPropertyTest, WriteThenReadRoundTrips) {
  std::mt19937 rng(2024);
  const std::string chars = std::string("ab=;[] \t\"x", 10) + std::string("\0\xff", 2);
  auto random_text = [&](int max) {
    std::string s;
    int len = rng() % (max + 1);
    for (int i = 0; i < len; ++i) s += chars[rng() % chars.size()];
    return s;
  };
  std::string text = "[s]\r\nfixed=1\r\n";
  for (int iter = 0; iter < 3000; ++iter) {
    std::string section = random_text(4);
    std::string key = random_text(5);
    std::string value = random_text(6);
    bool writable = key.find('=') == std::string::npos &&
                    (key.empty() || (key[0] != ';' && key[0] != '['));
    if (!writable) {
      EXPECT_THROW(WriteIniString(text, section, key, value), EIniError);
      continue;
    }
    std::string before_fixed = ReadIniString(text, "s", "fixed", "gone");
    std::string next = WriteIniString(text, section, key, value);
    EXPECT_EQ(ReadIniString(next, section, key, ""), value)
        << "section [" << section << "] key [" << key << "]";
    bool same_key = (section.size() == 1 && (section[0] == 's' || section[0] == 'S')) &&
                    key == "fixed";
    if (!same_key) {
      EXPECT_EQ(ReadIniString(next, "s", "fixed", "gone"), before_fixed);
    }
    // A rebuilt text rebuilds to itself.
    EXPECT_EQ(WriteIniString(next, section, key, value), next);
    if (iter % 7 == 0) text = next;
  }
}

// Found by the INI fuzz target: a key written twice by hand is deleted
// whole, not uncovered to its second line.
TEST(WriteIniStringTest, DeletingARepeatedKeyRemovesEveryLineOfIt) {
  const std::string text = "[client]\r\nport=1\r\nhost=h\r\nPORT=2\r\n[direct]\r\nport=3\r\n";
  const std::string out = WriteIniString(text, "client", "port", "");
  EXPECT_EQ(out, "[client]\r\nhost=h\r\n[direct]\r\nport=3\r\n");
  EXPECT_EQ(ReadIniString(out, "client", "port", "none"), "none");
}

}  // namespace
}  // namespace rowset
