#include "host/Dialogs.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <vector>

#include "host/Immortal.h"
#include "host/SysUtils.h"

namespace rowset {

TScreen Screen;

namespace {

struct ButtonInfo {
  TMsgDlgBtn button;
  const char* caption;
  int result;
};

const ButtonInfo kButtons[] = {
    {mbYes, "Yes", mrYes},         {mbNo, "No", mrNo},
    {mbOK, "OK", mrOk},            {mbCancel, "Cancel", mrCancel},
    {mbAbort, "Abort", mrAbort},   {mbRetry, "Retry", mrRetry},
    {mbIgnore, "Ignore", mrIgnore}, {mbAll, "All", mrAll},
    {mbNoToAll, "No to All", mrNoToAll}, {mbYesToAll, "Yes to All", mrYesToAll},
    {mbHelp, "Help", mrNone},
};

const char* TypeCaption(TMsgDlgType t) {
  switch (t) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    default: return "";
  }
}

std::atomic<int> g_interactive{-1};

bool Interactive() {
  int mode = g_interactive.load();
  if (mode >= 0) return mode == 1;
  return isatty(STDIN_FILENO) == 1;
}

bool ReadLine(std::string& line, bool hide) {
  termios old{};
  bool restore = false;
  if (hide && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &old) == 0) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    restore = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  bool ok = static_cast<bool>(std::getline(std::cin, line));
  if (restore) {
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << "\n";
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return ok;
}

// ---------------------------------------------------------------------------
// The login form on a terminal

// Starts a character in the sense of LimitEntry; Run counts the continuation
// bytes seen since the last lead byte.
bool StartsChar(const std::string& s, size_t i, int& run) {
  const auto b = static_cast<unsigned char>(s[i]);
  if ((b & 0xC0) == 0x80 && i > 0 && static_cast<unsigned char>(s[i - 1]) >= 0x80 && run < 3) {
    ++run;
    return false;
  }
  run = 0;
  return true;
}

std::string StripAccelerator(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    else if (label[i] == '&') continue;
    out += label[i];
  }
  return out;
}

struct FormField {
  std::string label;
  std::string* text;
  size_t max_length;
  bool digits_only;
  bool hidden;
};

void WriteAll(const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(STDERR_FILENO, s.data() + done, s.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

// Puts the terminal back as it was, whatever way the form ends.
class TRawMode {
 public:
  TRawMode() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~TRawMode() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  TRawMode(const TRawMode&) = delete;
  TRawMode& operator=(const TRawMode&) = delete;
  bool Active() const { return active_; }

 private:
  termios saved_{};
  bool active_ = false;
};

// One byte of input; -1 at the end of input. With a timeout in
// milliseconds, -2 when nothing came in time.
int ReadByte(int timeout_ms = -1) {
  if (timeout_ms >= 0) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    do r = ::poll(&p, 1, timeout_ms);
    while (r < 0 && errno == EINTR);
    if (r == 0) return -2;
  }
  unsigned char c;
  ssize_t n;
  do n = ::read(STDIN_FILENO, &c, 1);
  while (n < 0 && errno == EINTR);
  return n == 1 ? c : -1;
}

enum class FormKey { Char, Erase, Clear, Next, Prior, Confirm, Cancel, Ignore };

// Reads one key press. Escape sequences of the arrow keys and Shift-Tab are
// read whole; an Escape that no sequence follows cancels.
FormKey ReadKey(char& ch) {
  int c = ReadByte();
  if (c < 0) return FormKey::Cancel;
  switch (c) {
    case '\r': case '\n': return FormKey::Confirm;
    case '\t': return FormKey::Next;
    case 0x03: case 0x04: return FormKey::Cancel;  // Ctrl-C, Ctrl-D
    case 0x7f: case 0x08: return FormKey::Erase;
    case 0x15: return FormKey::Clear;  // Ctrl-U
    case 0x1b: {
      int c2 = ReadByte(50);
      if (c2 == -2 || c2 == 0x1b) return FormKey::Cancel;
      if (c2 < 0) return FormKey::Cancel;
      if (c2 != '[' && c2 != 'O') return FormKey::Ignore;
      int c3 = ReadByte(50);
      // Parameters of longer sequences (ESC [ 1 ; 5 A, ESC [ 3 ~) are skipped.
      while (c3 >= '0' && c3 <= '9') c3 = ReadByte(50);
      if (c3 == ';') {
        do c3 = ReadByte(50);
        while (c3 >= '0' && c3 <= '9');
      }
      if (c3 == 'A' || c3 == 'Z') return FormKey::Prior;
      if (c3 == 'B') return FormKey::Next;
      return FormKey::Ignore;
    }
    default:
      if (c < 0x20) return FormKey::Ignore;
      ch = static_cast<char>(c);
      return FormKey::Char;
  }
}

void EraseLastChar(std::string& s) {
  size_t start = 0;
  int run = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (StartsChar(s, i, run)) start = i;
  if (!s.empty()) s.erase(start);
}

// One answer typed on the terminal in raw mode, echoed as typed: Ctrl-C is
// a key here (cancel), not a signal that ends the process.
bool TerminalAnswerLine(std::string& Line) {
  TRawMode raw;
  if (!raw.Active()) return ReadLine(Line, false);
  std::string typed;
  while (true) {
    char ch = 0;
    switch (ReadKey(ch)) {
      case FormKey::Char:
        typed += ch;
        WriteAll(std::string(1, ch));
        break;
      case FormKey::Erase:
        if (!typed.empty()) {
          EraseLastChar(typed);
          WriteAll("\b \b");
        }
        break;
      case FormKey::Clear:
        WriteAll(std::string(EntryLength(typed), '\b') + "\x1b[K");
        typed.clear();
        break;
      case FormKey::Confirm:
        WriteAll("\r\n");
        Line = typed;
        return true;
      case FormKey::Cancel:
        WriteAll("\r\n");
        return false;
      default:
        break;
    }
  }
}

bool TerminalLoginForm(TLoginFormData& Data) {
  TLoginFormData d = Data;
  std::vector<FormField> fields;
  int focus_index = 0;
  auto add = [&](int id, const std::string& label, std::string* text, size_t max, bool digits,
                 bool hidden) {
    if (id == d.FocusedField) focus_index = static_cast<int>(fields.size());
    fields.push_back({StripAccelerator(label), text, max, digits, hidden});
  };
  if (d.ShowServer) {
    add(0, d.ServerLabel, &d.Server, 0, false, false);
    add(1, d.PortLabel, &d.Port, d.PortMaxLength, d.PortDigitsOnly, false);
  }
  add(2, d.UserNameLabel, &d.UserName, d.UserNameMaxLength, false, false);
  add(3, d.PasswordLabel, &d.Password, d.PasswordMaxLength, false, true);
  // The initial texts are what the edits would hold.
  for (FormField& f : fields) *f.text = LimitEntry(*f.text, f.max_length, f.digits_only);

  size_t width = 0;
  for (const FormField& f : fields) width = std::max(width, f.label.size());
  const int rows = static_cast<int>(fields.size());
  int current = focus_index;

  TRawMode raw;
  WriteAll(d.Caption + "\r\n");
  bool drawn = false;
  // The field line the cursor was left on by the last drawing; `current`
  // may have moved since (Tab, the arrows), the cursor has not.
  int cursor_row = 0;
  auto draw = [&] {
    std::string out;
    // Back to the first field line, then every line again.
    if (drawn) {
      out += "\r";
      if (cursor_row > 0) out += "\x1b[" + std::to_string(cursor_row) + "A";
      out += "\x1b[J";
    }
    for (int i = 0; i < rows; ++i) {
      const FormField& f = fields[static_cast<size_t>(i)];
      out += "  " + f.label + std::string(width - f.label.size() + 1, ' ');
      out += f.hidden ? std::string(EntryLength(*f.text), d.PasswordChar) : *f.text;
      out += "\r\n";
    }
    out += "[Enter] OK  [Esc] Cancel  [Tab] next field";
    // The cursor goes to the end of the current field.
    out += "\r\x1b[" + std::to_string(rows - current) + "A";
    const FormField& f = fields[static_cast<size_t>(current)];
    size_t column = 2 + width + 1 + (f.hidden ? EntryLength(*f.text) : EntryLength(*f.text));
    out += "\x1b[" + std::to_string(column) + "C";
    WriteAll(out);
    drawn = true;
    cursor_row = current;
  };
  auto finish = [&] {
    // Below the form, so later output does not overwrite it.
    WriteAll("\r\x1b[" + std::to_string(rows - cursor_row) + "B\r\n");
  };
  draw();
  while (true) {
    char ch = 0;
    FormField& f = fields[static_cast<size_t>(current)];
    switch (ReadKey(ch)) {
      case FormKey::Char: {
        std::string longer = *f.text + ch;
        // A character that the limits refuse is not taken; a UTF-8 sequence
        // in progress is always taken and checked once complete.
        if (LimitEntry(longer, f.max_length, f.digits_only) == longer) *f.text = longer;
        break;
      }
      case FormKey::Erase: EraseLastChar(*f.text); break;
      case FormKey::Clear: f.text->clear(); break;
      case FormKey::Next: current = (current + 1) % rows; break;
      case FormKey::Prior: current = (current + rows - 1) % rows; break;
      case FormKey::Confirm:
        finish();
        for (FormField& g : fields) *g.text = LimitEntry(*g.text, g.max_length, g.digits_only);
        Data = d;
        return true;
      case FormKey::Cancel:
        finish();
        WriteAll("Cancelled\r\n");
        return false;
      case FormKey::Ignore: break;
    }
    draw();
  }
}

// Standard input is not a terminal: one line per field.
bool LineLoginForm(TLoginFormData& Data) {
  TLoginFormData d = Data;
  std::cerr << d.Caption << " (an empty answer keeps the value shown; end of input cancels)\n";
  auto ask = [](const std::string& label, std::string& value, size_t max, bool digits,
                bool hidden) {
    std::string shown = hidden ? std::string(EntryLength(value), '*') : value;
    std::cerr << StripAccelerator(label) << (shown.empty() ? "" : " [" + shown + "]") << " ";
    std::string line;
    if (!ReadLine(line, hidden)) return false;
    if (!line.empty()) value = line;
    value = LimitEntry(value, max, digits);
    return true;
  };
  if (d.ShowServer && (!ask(d.ServerLabel, d.Server, 0, false, false) ||
                       !ask(d.PortLabel, d.Port, d.PortMaxLength, d.PortDigitsOnly, false)))
    return false;
  if (!ask(d.UserNameLabel, d.UserName, d.UserNameMaxLength, false, false) ||
      !ask(d.PasswordLabel, d.Password, d.PasswordMaxLength, false, true))
    return false;
  Data = d;
  return true;
}

class TDefaultDialogProvider : public TDialogProvider {
 public:
  int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons) override {
    if (Buttons.Empty()) Buttons = TMsgDlgButtons{mbOK};
    const int fallback = ModalResultOf(DefaultButtonOf(Buttons));
    // With no one to ask, the answer that changes nothing.
    const int unattended = ModalResultOf(SafeButtonOf(Buttons));
    if (!Interactive()) return unattended;
    std::vector<const ButtonInfo*> offered;
    for (const ButtonInfo& b : kButtons)
      if (Buttons.Contains(b.button) && b.button != mbHelp) offered.push_back(&b);
    while (true) {
      std::cerr << TypeCaption(DlgType) << (DlgType == mtCustom ? "" : ": ") << Msg << "\n[";
      for (size_t i = 0; i < offered.size(); ++i)
        std::cerr << (i ? "/" : "") << offered[i]->caption;
      std::cerr << "] ";
      std::string line;
      // The end of input, Ctrl-C and Escape answer as no one could be asked.
      if (!ReadAnswerLine(line)) return unattended;
      line = Trim(line);
      if (line.empty()) return fallback;
      for (const ButtonInfo* b : offered)
        if (SameText(line, b->caption)) return b->result;
      // A unique first letter will do.
      const ButtonInfo* match = nullptr;
      int matches = 0;
      for (const ButtonInfo* b : offered)
        if (Lower(b->caption[0]) == Lower(line[0])) {
          match = b;
          ++matches;
        }
      if (matches == 1) return match->result;
    }
  }

  bool LoginForm(TLoginFormData& Data) override {
    if (!Interactive()) return true;  // OK is the default button
    if (isatty(STDIN_FILENO) == 1) return TerminalLoginForm(Data);
    return LineLoginForm(Data);
  }

 private:
  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
};

struct ProviderSlot {
  std::mutex mu;
  std::unique_ptr<TDialogProvider> custom;
  TDefaultDialogProvider fallback;
};

ProviderSlot& Slot() { return Immortal<ProviderSlot>(); }

}  // namespace

int ModalResultOf(TMsgDlgBtn Button) {
  for (const ButtonInfo& b : kButtons)
    if (b.button == Button) return b.result;
  return mrNone;
}

TMsgDlgBtn SafeButtonOf(TMsgDlgButtons Buttons) {
  for (TMsgDlgBtn b : {mbNo, mbCancel, mbAbort})
    if (Buttons.Contains(b)) return b;
  return DefaultButtonOf(Buttons);
}

TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons) {
  if (Buttons.Contains(mbOK)) return mbOK;
  if (Buttons.Contains(mbYes)) return mbYes;
  return mbRetry;
}

std::unique_ptr<TDialogProvider> SetDialogProvider(std::unique_ptr<TDialogProvider> Provider) {
  std::lock_guard<std::mutex> lock(Slot().mu);
  std::unique_ptr<TDialogProvider> old = std::move(Slot().custom);
  Slot().custom = std::move(Provider);
  return old;
}

TDialogProvider& DialogProvider() {
  std::lock_guard<std::mutex> lock(Slot().mu);
  if (Slot().custom) return *Slot().custom;
  return Slot().fallback;
}

void SetDialogInteractive(int Mode) { g_interactive = Mode; }

bool DialogInteractive() { return Interactive(); }

std::string LimitEntry(const std::string& Text, size_t MaxLength, bool DigitsOnly) {
  std::string out;
  size_t chars = 0;
  int run = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (DigitsOnly && (c < '0' || c > '9')) continue;
    if (StartsChar(Text, i, run)) {
      if (MaxLength != 0 && chars == MaxLength) break;
      ++chars;
    }
    out += c;
  }
  return out;
}

size_t EntryLength(const std::string& Text) {
  size_t chars = 0;
  int run = 0;
  for (size_t i = 0; i < Text.size(); ++i)
    if (StartsChar(Text, i, run)) ++chars;
  return chars;
}

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
  return DialogProvider().MessageDlg(Msg, DlgType, Buttons);
}

void ShowMessage(const std::string& Msg) { MessageDlg(Msg, mtCustom, TMsgDlgButtons{mbOK}); }

bool ShowLoginForm(TLoginFormData& Data) { return DialogProvider().LoginForm(Data); }

bool ReadAnswerLine(std::string& Line) {
  std::cerr.flush();
  if (isatty(STDIN_FILENO) == 1) return TerminalAnswerLine(Line);
  return ReadLine(Line, false);
}

}  // namespace rowset
