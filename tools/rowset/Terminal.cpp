// Questions on the controlling terminal (see Terminal.h).
#include "tools/rowset/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace rowset::cli {

namespace {

// The terminal file, closed and put back as it was at the end of the scope.
class TtyFile {
 public:
  TtyFile() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ < 0 || ::tcgetattr(fd_, &saved_) != 0) return;
    termios raw = saved_;
    // No echo, byte by byte, and Ctrl-C as a key rather than a signal.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_ = ::tcsetattr(fd_, TCSAFLUSH, &raw) == 0;
  }
  ~TtyFile() {
    if (raw_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    if (fd_ >= 0) ::close(fd_);
  }
  TtyFile(const TtyFile&) = delete;
  TtyFile& operator=(const TtyFile&) = delete;

  bool Usable() const { return fd_ >= 0 && raw_; }
  void Write(const std::string& Text) {
    size_t done = 0;
    while (done < Text.size()) {
      ssize_t n = ::write(fd_, Text.data() + done, Text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // One byte; -1 at the end of input or on an error.
  int Read() {
    unsigned char c;
    ssize_t n;
    do n = ::read(fd_, &c, 1);
    while (n < 0 && errno == EINTR);
    return n == 1 ? c : -1;
  }

 private:
  int fd_;
  termios saved_{};
  bool raw_ = false;
};

// Drops the last character (a UTF-8 lead byte and its continuation bytes).
void EraseLast(std::string& S) {
  while (!S.empty() && (static_cast<unsigned char>(S.back()) & 0xC0) == 0x80) S.pop_back();
  if (!S.empty()) S.pop_back();
}

}  // namespace

TerminalAnswer AskPasswordOnTerminal(const std::string& Prompt, std::string& Password) {
  TtyFile tty;
  if (!tty.Usable()) return TerminalAnswer::kNoTerminal;
  tty.Write(Prompt);
  std::string typed;
  while (true) {
    const int c = tty.Read();
    if (c == '\r' || c == '\n') break;
    if (c < 0 || c == 0x03 || c == 0x1b || (c == 0x04 && typed.empty())) {
      tty.Write("\r\n");
      return TerminalAnswer::kCancelled;
    }
    if (c == 0x7f || c == 0x08) EraseLast(typed);
    else if (c == 0x15) typed.clear();  // Ctrl-U
    else if (c >= 0x20 || c == '\t') typed += static_cast<char>(c);
  }
  tty.Write("\r\n");
  Password = typed;
  return TerminalAnswer::kGiven;
}

}  // namespace rowset::cli
