// The login form's entry points: what the form shows, what OK and cancel
// give back, and the limits held whatever the provider answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "design/MySQLLoginDlg.h"
#include "tests/design/DesignTestUtil.h"

namespace rowset {
namespace {

using test::TDialogScope;

TEST(LoginDialog, ShowsTheFieldsWithTheirLabelsLimitsAndFocus) {
  TDialogScope dialogs;
  std::string host = "db.example", port = "3307", user = "alice", password = "stored";
  ASSERT_TRUE(MySQLLoginDialog(host, port, user, password));
  ASSERT_EQ(dialogs->forms.size(), 1u);
  const TLoginFormData& f = dialogs->forms[0];
  EXPECT_EQ(f.Caption, "Database Login");
  EXPECT_TRUE(f.ShowServer);
  EXPECT_EQ(f.ServerLabel, "Server:");
  EXPECT_EQ(f.PortLabel, "Port:");
  EXPECT_EQ(f.UserNameLabel, "&User Name:");
  EXPECT_EQ(f.PasswordLabel, "&Password:");
  EXPECT_EQ(f.Server, "db.example");
  EXPECT_EQ(f.Port, "3307");
  EXPECT_EQ(f.UserName, "alice");
  // The stored password is the initial text, so OK on the untouched form
  // keeps it rather than erasing it.
  EXPECT_EQ(f.Password, "stored");
  EXPECT_EQ(f.PortMaxLength, 5u);
  EXPECT_TRUE(f.PortDigitsOnly);
  EXPECT_EQ(f.UserNameMaxLength, 31u);
  EXPECT_EQ(f.PasswordMaxLength, 31u);
  EXPECT_EQ(f.PasswordChar, '*');
  EXPECT_EQ(f.FocusedField, 3);
  EXPECT_EQ(password, "stored");

  TMySQLLoginDialog form;
  EXPECT_EQ(form.DatabaseName.Text, "localhost");
  EXPECT_EQ(form.Port.Text, "3306");
  EXPECT_EQ(form.Port.EditMask, "99999;0; ");
  EXPECT_EQ(form.ActiveControl, &form.Password);
  EXPECT_TRUE(form.OKButton.Default);
  EXPECT_EQ(form.OKButton.Caption, "&OK");
  EXPECT_TRUE(form.CancelButton.Cancel);
}

TEST(LoginDialog, OkWritesBackHeldToTheLimitsAndCancelChangesNothing) {
  TDialogScope dialogs;
  dialogs->edit_login = [](TLoginFormData& d) {
    d.Server = "127.0.0.1";
    d.Port = "12a34567";  // an edit with the mask takes five digits only
    d.UserName = std::string(40, 'u');
    d.Password = std::string(31, 'p') + "\xc3\xa9";  // one character too many
  };
  std::string host = "h", port = "1", user = "u", password = "p";
  ASSERT_TRUE(MySQLLoginDialog(host, port, user, password));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, "12345");
  EXPECT_EQ(user, std::string(31, 'u'));
  EXPECT_EQ(password, std::string(31, 'p'));

  dialogs->login_ok = false;
  std::string h2 = "keep", p2 = "3306", u2 = "me", pw2 = "secret";
  EXPECT_FALSE(MySQLLoginDialog(h2, p2, u2, pw2));
  EXPECT_EQ(h2, "keep");
  EXPECT_EQ(p2, "3306");
  EXPECT_EQ(u2, "me");
  EXPECT_EQ(pw2, "secret");
}

TEST(LoginDialog, PlainUserPasswordPrompts) {
  TDialogScope dialogs;
  dialogs->edit_login = [](TLoginFormData& d) {
    d.Server = "ignored";
    d.UserName = "bob";
    d.Password = "pw";
  };
  std::string user = "alice", password = "old";
  ASSERT_TRUE(LoginDialogEx("sales", user, password, true));
  EXPECT_EQ(dialogs->forms.back().Server, "sales");
  EXPECT_EQ(dialogs->forms.back().UserName, "alice");
  EXPECT_EQ(dialogs->forms.back().Password, "");
  EXPECT_EQ(user, "bob");
  EXPECT_EQ(password, "pw");

  user = "carol";
  ASSERT_TRUE(RemoteLoginDialog(user, password));
  EXPECT_EQ(dialogs->forms.back().Caption, "Remote Login");
  EXPECT_FALSE(dialogs->forms.back().ShowServer);
  EXPECT_EQ(dialogs->forms.back().UserName, "carol");
  EXPECT_EQ(user, "bob");

  dialogs->login_ok = false;
  user = "dave";
  password = "kept";
  EXPECT_FALSE(LoginDialogEx("db", user, password, false));
  EXPECT_FALSE(RemoteLoginDialog(user, password));
  EXPECT_EQ(user, "dave");
  EXPECT_EQ(password, "kept");
}

TEST(LoginDialog, WithoutTerminalAnswersOkAtOnceWithTheValuesShown) {
  SetDialogInteractive(0);
  std::string host = "h", port = "3306", user = "u", password = "stored";
  EXPECT_TRUE(MySQLLoginDialog(host, port, user, password));
  EXPECT_EQ(host, "h");
  EXPECT_EQ(port, "3306");
  EXPECT_EQ(user, "u");
  EXPECT_EQ(password, "stored");
  SetDialogInteractive(-1);
}

TEST(LoginDialog, LineInputKeepsShownValuesOnEmptyLinesAndHoldsTheLimits) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal: the in-place form would show";
  SetDialogInteractive(1);
  std::streambuf* saved = std::cin.rdbuf();
  {
    std::istringstream in("\n12x345678\n" + std::string(40, 'u') + "\nnewpw\n");
    std::cin.rdbuf(in.rdbuf());
    std::string host = "h", port = "3306", user = "u", password = "old";
    EXPECT_TRUE(MySQLLoginDialog(host, port, user, password));
    EXPECT_EQ(host, "h");
    EXPECT_EQ(port, "12345");
    EXPECT_EQ(user, std::string(31, 'u'));
    EXPECT_EQ(password, "newpw");
  }
  {
    std::istringstream in("other\n");  // input ends before the form is done
    std::cin.rdbuf(in.rdbuf());
    std::string host = "h", port = "3306", user = "u", password = "old";
    EXPECT_FALSE(MySQLLoginDialog(host, port, user, password));
    EXPECT_EQ(host, "h");
    EXPECT_EQ(password, "old");
  }
  std::cin.rdbuf(saved);
  std::cin.clear();
  SetDialogInteractive(-1);
}

TEST(LoginDialog, EntryLimitsCountCharactersNotBytes) {
  EXPECT_EQ(LimitEntry("a1b2c3d4e5f6", 5, true), "12345");
  EXPECT_EQ(LimitEntry("", 5, true), "");
  EXPECT_EQ(LimitEntry("abc", 0, false), "abc");
  // Two-byte characters are kept whole.
  EXPECT_EQ(LimitEntry("\xc3\xa9\xc3\xa9\xc3\xa9", 2, false), "\xc3\xa9\xc3\xa9");
  EXPECT_EQ(EntryLength("\xc3\xa9x"), 2u);
  // Stray continuation bytes cannot make a text of unlimited length.
  EXPECT_EQ(LimitEntry(std::string(200, '\x80'), 31, false).size(), 31u * 4);
  EXPECT_EQ(LimitEntry(std::string("ab\0cd", 5), 4, false), std::string("ab\0c", 4));
}

}  // namespace
}  // namespace rowset
