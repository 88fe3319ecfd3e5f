// The dialogs on a real terminal: a program shows one inside tmux, the test
// types into it as a person would and checks the screen and what the program
// received. Every wait polls the screen or the result file up to a deadline.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs a command and returns its standard output.
std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool HaveTmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// One tmux server of our own (its own socket), one window running the probe.
class TmuxSession {
 public:
  explicit TmuxSession(const std::string& mode) {
    static int counter = 0;
    socket_ = "rowset-dialogs-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    out_ = ::testing::TempDir() + socket_ + ".out";
    std::remove(out_.c_str());
    Tmux("new-session -d -s probe -x 100 -y 30 " +
         Quote(std::string(DIALOG_PROBE) + " " + mode + " " + out_));
  }
  ~TmuxSession() {
    Tmux("kill-server");
    std::remove(out_.c_str());
  }
  std::string Tmux(const std::string& args) {
    return Run("tmux -L " + socket_ + " -f /dev/null " + args + " 2>/dev/null");
  }
  std::string Screen() { return Tmux("capture-pane -p -t probe"); }
  void Keys(const std::string& keys) { Tmux("send-keys -t probe " + keys); }
  void Type(const std::string& text) { Tmux("send-keys -t probe -l " + Quote(text)); }

  // Polls until the screen shows Text; false at the deadline.
  bool WaitForScreen(const std::string& text) {
    return Poll([&] { return Screen().find(text) != std::string::npos; });
  }
  // The probe's result, once it has written it.
  std::map<std::string, std::string> Result() {
    std::map<std::string, std::string> r;
    if (!Poll([&] { return access(out_.c_str(), R_OK) == 0; })) return r;
    std::ifstream in(out_);
    std::string line;
    while (std::getline(in, line)) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) r[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return r;
  }

 private:
  template <class F>
  static bool Poll(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
  }
  std::string socket_, out_;
};

class TerminalDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTmux()) GTEST_SKIP() << "tmux is not installed: the terminal tests need it";
  }
};

TEST_F(TerminalDialogs, TypingEditsEachFieldWithinItsLimitsAndMasksThePassword) {
  TmuxSession s("login");
  ASSERT_TRUE(s.WaitForScreen("Password:")) << s.Screen();
  std::string screen = s.Screen();
  EXPECT_NE(screen.find("Database Login"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Server:"), std::string::npos);
  EXPECT_NE(screen.find("db.example"), std::string::npos);
  EXPECT_NE(screen.find("User Name:"), std::string::npos);
  EXPECT_NE(screen.find("alice"), std::string::npos);
  // The stored password is there, shown as stars only.
  EXPECT_NE(screen.find("******"), std::string::npos);
  EXPECT_EQ(screen.find("secret"), std::string::npos);

  // The cursor starts in the password: replace it.
  s.Keys("C-u");
  s.Type("hunter2");
  ASSERT_TRUE(s.WaitForScreen("*******\n")) << s.Screen();
  EXPECT_EQ(s.Screen().find("hunter2"), std::string::npos);
  // Up to the user name: 40 characters typed, 31 kept.
  s.Keys("Up C-u");
  s.Type(std::string(40, 'u'));
  ASSERT_TRUE(s.WaitForScreen(std::string(31, 'u') + "\n")) << s.Screen();
  // Up to the port: letters are refused, and a sixth digit.
  s.Keys("Up");
  s.Type("x9y99");
  ASSERT_TRUE(s.WaitForScreen("33069\n")) << s.Screen();
  // Shift-Tab to the server; Backspace erases.
  s.Keys("BTab BSpace BSpace BSpace BSpace BSpace BSpace BSpace");
  s.Type("test.org");
  ASSERT_TRUE(s.WaitForScreen("db.test.org")) << s.Screen();
  s.Keys("Enter");
  auto r = s.Result();
  EXPECT_EQ(r["result"], "OK");
  EXPECT_EQ(r["host"], "db.test.org");
  EXPECT_EQ(r["port"], "33069");
  EXPECT_EQ(r["user"], std::string(31, 'u'));
  EXPECT_EQ(r["password"], "hunter2");
  EXPECT_EQ(r["restored"], "1");
}

TEST_F(TerminalDialogs, EnterOnTheUntouchedFormKeepsEveryValue) {
  TmuxSession s("login");
  ASSERT_TRUE(s.WaitForScreen("Password:")) << s.Screen();
  s.Keys("Enter");
  auto r = s.Result();
  EXPECT_EQ(r["result"], "OK");
  EXPECT_EQ(r["host"], "db.example");
  EXPECT_EQ(r["port"], "3306");
  EXPECT_EQ(r["user"], "alice");
  EXPECT_EQ(r["password"], "secret");
}

TEST_F(TerminalDialogs, EscapeAndCtrlCCancelAndLeaveEverythingAsItWas) {
  for (const char* key : {"Escape", "C-c"}) {
    SCOPED_TRACE(key);
    TmuxSession s("login");
    ASSERT_TRUE(s.WaitForScreen("Password:")) << s.Screen();
    s.Type("typed");
    s.Keys(std::string("Up C-u ") + "x");
    ASSERT_TRUE(s.WaitForScreen("User Name: x\n")) << s.Screen();
    s.Keys(key);
    auto r = s.Result();
    EXPECT_EQ(r["result"], "CANCEL");
    EXPECT_EQ(r["host"], "db.example");
    EXPECT_EQ(r["user"], "alice");
    EXPECT_EQ(r["password"], "secret");
    EXPECT_EQ(r["restored"], "1");
    // The program is still running: Ctrl-C cancelled the form only.
    EXPECT_TRUE(s.WaitForScreen("PROBE DONE")) << s.Screen();
  }
}

// Counts the lines of Screen that start (after blanks) with Text.
int LinesStartingWith(const std::string& Screen, const std::string& Text) {
  std::istringstream in(Screen);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    size_t a = line.find_first_not_of(' ');
    if (a != std::string::npos && line.compare(a, Text.size(), Text) == 0) ++n;
  }
  return n;
}

TEST_F(TerminalDialogs, MovingBetweenFieldsRedrawsTheFormInPlace) {
  TmuxSession s("login");
  ASSERT_TRUE(s.WaitForScreen("Password:")) << s.Screen();
  // Up to the server, down again, and Tab round the whole form, typing on
  // the way: each redraw replaces the form, it never adds lines.
  for (const char* keys : {"Up", "Up", "Up", "Down", "Tab", "Tab", "BTab", "Up"}) {
    s.Keys(keys);
    s.Type("z");
  }
  ASSERT_TRUE(s.WaitForScreen("alicezzz")) << s.Screen();
  const std::string screen = s.Screen();
  EXPECT_EQ(LinesStartingWith(screen, "Server:"), 1) << screen;
  EXPECT_EQ(LinesStartingWith(screen, "Port:"), 1) << screen;
  EXPECT_EQ(LinesStartingWith(screen, "User Name:"), 1) << screen;
  EXPECT_EQ(LinesStartingWith(screen, "Password:"), 1) << screen;
  EXPECT_EQ(LinesStartingWith(screen, "Database Login"), 1) << screen;
  s.Keys("Enter");
  auto r = s.Result();
  EXPECT_EQ(r["result"], "OK");
  EXPECT_EQ(r["host"], "db.examplez");
  EXPECT_EQ(r["port"], "3306");  // digits only: the letters were refused
  EXPECT_EQ(r["user"], "alicezzz");
  EXPECT_EQ(r["password"], "secretz");
}

TEST_F(TerminalDialogs, CtrlCInTheConfirmationAnswersNoAndTheProgramGoesOn) {
  TmuxSession s("confirm");
  ASSERT_TRUE(s.WaitForScreen("[Yes/No]")) << s.Screen();
  s.Type("Ye");
  s.Keys("C-c");
  auto r = s.Result();
  EXPECT_EQ(r["connected"], "0");
  EXPECT_EQ(r["restored"], "1");
  EXPECT_TRUE(s.WaitForScreen("PROBE DONE")) << s.Screen();
}

TEST_F(TerminalDialogs, CtrlCInTheLinkDesignerCancelsIt) {
  TmuxSession s("links");
  ASSERT_TRUE(s.WaitForScreen("Joined Fields")) << s.Screen();
  for (const char* command : {"c", "d 1", "m 1", "a"}) {
    s.Type(command);
    s.Keys("Enter");
  }
  s.Keys("C-c");
  auto r = s.Result();
  EXPECT_EQ(r["result"], "CANCEL");
  EXPECT_EQ(r["masterfields"], "old=id");
  EXPECT_EQ(r["restored"], "1");
  EXPECT_TRUE(s.WaitForScreen("PROBE DONE")) << s.Screen();
}

TEST_F(TerminalDialogs, RemoteLoginAsksOnlyUserAndPassword) {
  TmuxSession s("remote");
  ASSERT_TRUE(s.WaitForScreen("Password:")) << s.Screen();
  std::string screen = s.Screen();
  EXPECT_NE(screen.find("Remote Login"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Server:"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Port:"), std::string::npos) << screen;
  s.Type("pw");
  s.Keys("Enter");
  auto r = s.Result();
  EXPECT_EQ(r["result"], "OK");
  EXPECT_EQ(r["user"], "alice");
  // The remote form starts with an empty password.
  EXPECT_EQ(r["password"], "pw");
}

TEST_F(TerminalDialogs, DestructiveConfirmationAnsweredNoLeavesTheServerDisconnected) {
  TmuxSession s("confirm");
  ASSERT_TRUE(s.WaitForScreen("[Yes/No]")) << s.Screen();
  EXPECT_NE(s.Screen().find("You have chosen to AutoCreate this database"), std::string::npos);
  s.Type("No");
  s.Keys("Enter");
  auto r = s.Result();
  EXPECT_EQ(r["connected"], "0");
}

TEST_F(TerminalDialogs, LinkDesignerTakesCommandsTypedAtThePrompt) {
  TmuxSession s("links");
  ASSERT_TRUE(s.WaitForScreen("Joined Fields")) << s.Screen();
  for (const char* command : {"c", "d 3", "a", "d 2", "m 1", "a", "ok"}) {
    s.Type(command);
    s.Keys("Enter");
  }
  auto r = s.Result();
  EXPECT_EQ(r["result"], "OK");
  EXPECT_EQ(r["masterfields"], "name=name,cust_id=id");
}

}  // namespace
