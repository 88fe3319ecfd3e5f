// Message dialogs, the modal login form and the busy cursor.
//
// Every dialog goes through one replaceable provider. The default provider
// asks on the terminal when standard input is one (an empty answer takes
// the default button: OK, else Yes, else Retry; Ctrl-C or Escape answer as
// below, as if no one could be asked). When no one can be asked
// (no terminal, or its input is closed) it answers at once with the safe
// button, No, else Cancel, else Abort, and only a dialog without any of
// these gets its default button; so an unattended run never waits and never
// confirms a destructive step. The login form is answered OK. Tests install
// a scripted provider.
//
// The login form on a terminal shows every field at once and edits them in
// place: typing edits the field under the cursor (within its limits),
// Backspace deletes, Ctrl-U clears the field, Tab / Down and Shift-Tab / Up
// move between fields, Enter confirms (OK), and Escape, Ctrl-C or the end of
// input cancel. Ctrl-C cancels the form rather than ending the process, so
// the terminal is always put back as it was. When standard input is not a
// terminal but asking is forced, each field is read as one line (an empty
// line keeps the text shown), with the same limits.
#ifndef ROWSET_HOST_DIALOGS_H_
#define ROWSET_HOST_DIALOGS_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "host/Set.h"

namespace rowset {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};
using TMsgDlgButtons = Set<TMsgDlgBtn>;

// Modal results.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;
constexpr int mrAll = 8;
constexpr int mrNoToAll = 9;
constexpr int mrYesToAll = 10;

// The modal result a button gives, and the button a dialog with these
// buttons has as its default.
int ModalResultOf(TMsgDlgBtn Button);
TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons);
// The button that declines: No, else Cancel, else Abort, else the default.
TMsgDlgBtn SafeButtonOf(TMsgDlgButtons Buttons);

// What the login form shows and, on OK, gives back.
struct TLoginFormData {
  std::string Caption = "Database Login";
  bool ShowServer = true;  // the server label and edit
  std::string Server;
  std::string Port;
  std::string UserName;
  std::string Password;
  // Labels ("&" marks the accelerator key and is not shown).
  std::string ServerLabel = "Server:";
  std::string PortLabel = "Port:";
  std::string UserNameLabel = "User Name:";
  std::string PasswordLabel = "Password:";
  // Entry limits: at most this many characters (0: no limit); the port takes
  // digits only when PortDigitsOnly is set. The password is echoed as
  // PasswordChar.
  size_t PortMaxLength = 0;
  bool PortDigitsOnly = false;
  size_t UserNameMaxLength = 0;
  size_t PasswordMaxLength = 0;
  char PasswordChar = '*';
  // The field the cursor starts in: 0 server, 1 port, 2 user name, 3 password.
  int FocusedField = 3;
};

// Text as an edit with these limits holds it: characters an edit would not
// take (non-digits when DigitsOnly is set) are dropped, and the text ends
// after MaxLength characters (0: no limit). A character is a lead byte with
// up to three UTF-8 continuation bytes after it; any other byte counts one.
std::string LimitEntry(const std::string& Text, size_t MaxLength, bool DigitsOnly);
// The number of characters of Text in the sense of LimitEntry.
size_t EntryLength(const std::string& Text);

class TDialogProvider {
 public:
  virtual ~TDialogProvider() = default;
  // Returns a modal result (mrOk, mrYes, ...).
  virtual int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons) = 0;
  // Shows the login form modally; true for OK (Data holds the entries),
  // false for Cancel (Data is as it was).
  virtual bool LoginForm(TLoginFormData& Data) = 0;
};

// Installs a provider and returns the previous one; nullptr restores the
// default provider. Not for use while a dialog is showing.
std::unique_ptr<TDialogProvider> SetDialogProvider(std::unique_ptr<TDialogProvider> Provider);
TDialogProvider& DialogProvider();
// The default provider reads from this terminal decision; tests and tools
// may force it (-1: decide by standard input, 0: never ask, 1: always ask).
void SetDialogInteractive(int Mode);
// Whether the default provider asks (the decision SetDialogInteractive sets).
bool DialogInteractive();

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);
void ShowMessage(const std::string& Msg);
bool ShowLoginForm(TLoginFormData& Data);
// Reads the answer to a question a dialog asked. On a terminal it is typed
// with echo in raw mode (Backspace, Ctrl-U); Enter ends it, and Ctrl-C,
// Escape or Ctrl-D cancel: false, as at the end of input, so that Ctrl-C
// cancels the dialog instead of ending the process. Otherwise one line of
// standard input (false at its end).
bool ReadAnswerLine(std::string& Line);

// ---------------------------------------------------------------------------
// Cursor

using TCursor = int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;

// The screen: its cursor is a process-wide busy indicator that a tool may
// show; setting it has no other effect.
class TScreen {
 public:
  TCursor Cursor() const { return cursor_.load(); }
  void SetCursor(TCursor Value) { cursor_.store(Value); }

 private:
  std::atomic<TCursor> cursor_{crDefault};
};

extern TScreen Screen;

// Sets the screen cursor for a scope and puts the previous one back.
class TCursorScope {
 public:
  explicit TCursorScope(TCursor Cursor) : saved_(Screen.Cursor()) { Screen.SetCursor(Cursor); }
  ~TCursorScope() { Screen.SetCursor(saved_); }
  TCursorScope(const TCursorScope&) = delete;
  TCursorScope& operator=(const TCursorScope&) = delete;

 private:
  TCursor saved_;
};

}  // namespace rowset

#endif  // ROWSET_HOST_DIALOGS_H_
