// Driver rules that need no server: version numbers, reserved words, error
// composition, nil handles, library loading and its failures.
#include <gtest/gtest.h>

#include <string>

#include "drivers/MySQLDrivers.h"
#include "host/DynLib.h"

namespace rowset {
namespace {

TEST(VersionNumber, TextsOfTheThreeClasses) {
  EXPECT_EQ(TMySQLBase::VersionNumber("4.0.18-nt"), 40018);
  EXPECT_EQ(TMySQLBase::VersionNumber("4.1.1-alpha"), 40101);
  EXPECT_EQ(TMySQLBase::VersionNumber("3.23.38"), 32338);
}

TEST(VersionNumber, MariaDbTextsAndDefaults) {
  // What the old protocol's greeting announces, and what libmariadb reports
  // after dropping the "5.5.5-" prefix.
  EXPECT_EQ(TMySQLBase::VersionNumber("5.5.5-10.11.19-MariaDB-0+deb12u1"), 101119);
  EXPECT_EQ(TMySQLBase::VersionNumber("5.5.5-9.1.0"), 50505);  // no real version after it
  EXPECT_EQ(TMySQLBase::VersionNumber("5.5.5-x"), 50505);
  EXPECT_EQ(TMySQLBase::VersionNumber("10.11.19-MariaDB-0+deb12u1"), 101119);
  EXPECT_EQ(TMySQLBase::VersionNumber("10.11.19-MariaDB-0+deb12u1-embedded"), 101119);
  // Missing or non-numeric parts take 3, 21 and 0.
  EXPECT_EQ(TMySQLBase::VersionNumber(""), 32100);
  EXPECT_EQ(TMySQLBase::VersionNumber("x.y.z"), 32100);
  EXPECT_EQ(TMySQLBase::VersionNumber("4"), 42100);
  EXPECT_EQ(TMySQLBase::VersionNumber("4.1"), 40100);
  EXPECT_EQ(TMySQLBase::VersionNumber("4.1.22a"), 40122);
  EXPECT_EQ(TMySQLBase::VersionNumber("..4..0..18"), 40018);
}

TEST(ReservedWords, ListShape) {
  TMySQLLibrary driver;
  const std::string& words = driver.ReservedWords();
  ASSERT_GE(words.size(), 2u);
  EXPECT_EQ(words.substr(0, 8), ",ACTION,");
  EXPECT_EQ(words.substr(words.size() - 10), ",ZEROFILL,");
  size_t commas = 0;
  for (char c : words) commas += c == ',';
  EXPECT_EQ(commas, 239u);  // 238 words, each enclosed
  EXPECT_LT(words.find(",NOT,"), words.find(",NO,"));
}

TEST(ReservedWords, IsReservedWord) {
  TMySQLLibrary driver;
  EXPECT_TRUE(driver.IsReservedWord("select"));
  EXPECT_TRUE(driver.IsReservedWord("SeLeCt"));
  EXPECT_TRUE(driver.IsReservedWord("ZEROFILL"));
  EXPECT_FALSE(driver.IsReservedWord("SELEC"));
  EXPECT_FALSE(driver.IsReservedWord("ELECT"));
  EXPECT_FALSE(driver.IsReservedWord(" select"));
  EXPECT_FALSE(driver.IsReservedWord("name"));
  // A plain substring search: two adjacent words joined by a comma.
  EXPECT_TRUE(driver.IsReservedWord("select,sensitive"));
  EXPECT_FALSE(driver.IsReservedWord(""));
  EXPECT_FALSE(driver.Loaded());
}

TEST(MySQLErrorText, WithoutDriver) {
  try {
    MySQLError(nullptr, nullptr, -1, "plain message", -1, -1);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message(), "plain message");
  }
  try {
    MySQLError(nullptr, nullptr, 1045, "denied", 40018, 32338);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_EQ(e.Message(), "[1045] denied\r\nClient:32338\r\nServer:40018");
  }
  try {
    MySQLError(nullptr, nullptr, 0, "zero", -1, 32338);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.Message(), "[0] zero\r\nClient:32338");
  }
  try {
    // Client text "-1" compares not greater than "-1": no suffix.
    MySQLError(nullptr, nullptr, -5, "m", 40018, -1);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -5);
    EXPECT_EQ(e.Message(), "m");
  }
  try {
    MySQLError(nullptr, nullptr, -1, "m", -1, 0);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.Message(), "m\r\nClient:0");
  }
  try {
    // The comparison is byte-wise: "-2" sorts above "-1".
    MySQLError(nullptr, nullptr, -1, "m", -1, -2);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.Message(), "m\r\nClient:-2");
  }
}

TEST(MySQLErrorText, IsADatabaseError) {
  try {
    MySQLError(nullptr, nullptr, 7, "x", -1, -1);
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "[7] x");
    return;
  }
  FAIL();
}

TEST(NilHandles, EveryOperationReturnsItsEmptyValue) {
  TMySQLLibrary driver;
  MySQLHandle nil = nullptr;
  MySQLResultHandle no_result = nullptr;
  EXPECT_EQ(driver.ErrorNo(nil), 0u);
  EXPECT_EQ(driver.ErrorMsg(nil), "");
  EXPECT_EQ(driver.HostInfo(nil), "No server connection");
  EXPECT_EQ(driver.ServerInfo(nil), "-1");
  EXPECT_EQ(driver.ProtoInfo(nil), 0u);
  EXPECT_FALSE(driver.Ping(nil));
  EXPECT_EQ(driver.ThreadID(nil), 0u);
  driver.Kill(nil, 5);
  EXPECT_FALSE(driver.CreateDatabase(nil, "x"));
  EXPECT_FALSE(driver.SelectDatabase(nil, "x"));
  EXPECT_FALSE(driver.DropDatabase(nil, "x"));
  EXPECT_EQ(driver.OpenQuery(nil, "select 1"), nullptr);
  driver.CloseQuery(no_result);
  EXPECT_EQ(no_result, nullptr);
  EXPECT_EQ(driver.RetrieveColCount(nil), 0u);
  EXPECT_EQ(driver.RetrieveRowCount(nil), 0u);
  MYSQL_FIELD field;
  char marker[] = "kept";
  field.name = marker;
  field.charsetnr = 77;
  driver.RetrieveField(nil, field);
  EXPECT_EQ(field.name, marker);
  EXPECT_EQ(field.charsetnr, 77u);
  EXPECT_EQ(driver.RetrieveRow(nil), nullptr);
  EXPECT_EQ(driver.RetrieveRowFieldLenghts(nil), nullptr);
  EXPECT_EQ(driver.LastInsertID(nil), "");
  EXPECT_EQ(driver.AffectedRows(nil), "");
  EXPECT_FALSE(driver.Refresh(nil, 4));
  driver.Close(nil);
  EXPECT_EQ(nil, nullptr);
  // None of them needed the library.
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), nullptr);
}

TEST(Options, TextAndCopy) {
  TMySQLLibrary driver("connect_timeout=5\r\nread_timeout=7");
  ASSERT_EQ(driver.Options().Count(), 2);
  EXPECT_EQ(driver.Options()[1], "read_timeout=7");
  TStringList lines;
  lines.Add("write_timeout=9");
  driver.SetOptions(lines);
  lines.Add("changed later");
  ASSERT_EQ(driver.Options().Count(), 1);
  EXPECT_EQ(driver.Options()[0], "write_timeout=9");
}

TEST(LibraryNames, Defaults) {
  TMySQLLibrary library;
  EXPECT_EQ(library.ClientDLL(), "");
  EXPECT_EQ(library.GetClientDLL(), "libmariadb.so.3");
  library.SetClientDLL("libother.so");
  EXPECT_EQ(library.GetClientDLL(), "libother.so");
  TMySQLEmbedded embedded;
  EXPECT_EQ(embedded.GetClientDLL(), "libmariadbd.so.19");
}

TEST(Embedded, ArgumentVectorAndGroups) {
  TMySQLEmbedded embedded("basedir=X\r\ndatadir=Y");
  std::vector<std::string> args = embedded.ServerArguments();
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], ExecutablePath());
  EXPECT_EQ(args[1], "--basedir=X");
  EXPECT_EQ(args[2], "--datadir=Y");
  std::vector<std::string> groups = TMySQLEmbedded::ServerGroups();
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0], ExecutablePath() + "_SERVER");
  EXPECT_EQ(groups[1], "embedded");
  EXPECT_EQ(groups[2], "server");
  EXPECT_FALSE(embedded.Loaded());
}

TEST(LibraryLoading, MissingFileRaisesAndStaysUnloaded) {
  TMySQLLibrary driver;
  driver.SetClientDLL("/nonexistent/libnothing.so.1");
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      driver.ClientInfo();
      FAIL() << "loaded a missing library";
    } catch (const EMySQLError&) {
      FAIL() << "the load failure is a plain exception";
    } catch (const Exception& e) {
      const std::string& m = e.Message();
      EXPECT_EQ(m.rfind("Could not load MySQL library /nonexistent/libnothing.so.1 (", 0), 0u) << m;
      const std::string tail =
          ". Please place /nonexistent/libnothing.so.1 in your program's directory or "
          "alternatively in your system32 folder or a system folder (included in your PATH).";
      ASSERT_GE(m.size(), tail.size());
      EXPECT_EQ(m.substr(m.size() - tail.size()), tail);
    }
    EXPECT_FALSE(driver.Loaded());
  }
  // The default name of the package is named in the message.
  TMySQLEmbedded embedded;
  embedded.SetClientDLL("libmariadbd-missing.so");
  EXPECT_THROW(embedded.Load(), Exception);
  EXPECT_FALSE(embedded.Loaded());
  // The next call tries again, and a good name now loads.
  driver.SetClientDLL("");
  EXPECT_NE(driver.ClientInfo(), "");
  EXPECT_TRUE(driver.Loaded());
}

TEST(LibraryUnconnected, IdentifiersAndEscaping) {
  TMySQLLibrary driver;
  // Without a main connection names are never quoted.
  EXPECT_EQ(driver.FormatIdentifier("select"), "select");
  EXPECT_EQ(driver.FormatIdentifier("my col"), "my col");
  EXPECT_TRUE(driver.Loaded());
  EXPECT_EQ(driver.ServerVer(), 0);
  // Escaping without a connection must not hand a nil handle to the
  // library; the built-in rule applies.
  std::string value("a'b\"c\\d\0e\tf\ng\rh\x1a", 16);
  EXPECT_EQ(driver.EscapeStr(value), std::string("a\\'b\\\"c\\\\d\\0e\\tf\\ng\\rh\x1a"));
  EXPECT_EQ(driver.EscapeStr(""), "");
}

TEST(LibraryUnconnected, ClientVersionOfTheLoadedLibrary) {
  TMySQLLibrary driver;
  EXPECT_EQ(driver.Info(), driver.ClientInfo());
  EXPECT_EQ(driver.ClientVer(), 0);  // computed by the first Open
  // MariaDB Connector/C numbers its own releases (3.x).
  EXPECT_EQ(driver.ClientInfo().substr(0, 2), "3.");
  // Unloading clears the numbers; the next operation loads again.
  driver.UnLoad();
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.ServerInfo(reinterpret_cast<MySQLHandle>(1)), "-1");
  EXPECT_FALSE(driver.Loaded());
}

TEST(DirectUnconnected, BuiltInClientNeedsNoLibrary) {
  TViVURIzodor driver;
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.HostInfo(nullptr), "No server connection");
  EXPECT_EQ(driver.ServerInfo(nullptr), "-1");
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.ClientInfo(), "3.23.38");
  EXPECT_TRUE(driver.Loaded());
  EXPECT_EQ(driver.FormatIdentifier("select"), "select");
  std::string value("a'\0b", 4);
  EXPECT_EQ(driver.EscapeStr(value), std::string("a\\'\\0b"));
  try {
    MySQLError(&driver, nullptr, -1, "no connection", -1, -1);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.Message(), "no connection\r\nClient:3.23.38");
  }
  // A closed port: the connect message, the client line, no number.
  try {
    driver.Open("127.0.0.1", "nobody", "", 1, 0, "");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message().rfind("Could not connect to mysql server using:\r\nUser: nobody\r\n", 0), 0u);
  }
  EXPECT_EQ(driver.GetConnection(), nullptr);
}

TEST(DynLib, LoadsLooksUpAndFails) {
  TDynLib lib;
  EXPECT_FALSE(lib.Open("/nonexistent/libz.so"));
  EXPECT_FALSE(lib.IsOpen());
  EXPECT_NE(lib.LastError(), "");
  EXPECT_FALSE(lib.Open(""));
  EXPECT_EQ(lib.Symbol("compress"), nullptr);
  ASSERT_TRUE(lib.Open("libz.so.1")) << lib.LastError();
  EXPECT_NE(lib.Symbol("compress"), nullptr);
  EXPECT_EQ(lib.Symbol("no_such_function_here"), nullptr);
  TDynLib moved(std::move(lib));
  EXPECT_FALSE(lib.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_NE(ExecutablePath().find("test_drivers_drivers_test"), std::string::npos);
}

}  // namespace
}  // namespace rowset
