// The login form: asks for the server, port, user name and password before a
// connection is opened. TMySQLServer shows it from its connect sequence when
// LoginPrompt is set; LoginDialogEx and RemoteLoginDialog reuse the form for a
// plain user name / password prompt.
//
// The form is a description of its controls (names, labels, initial texts,
// limits) shown modally through the host's dialog provider (host/Dialogs.h),
// which on a terminal edits the fields in place and without one answers OK at
// once. Whatever the provider gives back is held to the controls' limits, as
// an edit holds its text: the port keeps digits only and at most five, the
// user name and the password at most 31 characters.
//
// Departure from the plain rule: MySQLLoginDialog fills the password edit
// with the Password it is given, instead of leaving it empty, so that OK on a
// form the user did not touch keeps the stored password instead of erasing
// it.
//
// Needs only the host layer; not thread-safe (dialogs belong to the main
// thread).
#ifndef ROWSET_DESIGN_MYSQLLOGINDLG_H_
#define ROWSET_DESIGN_MYSQLLOGINDLG_H_

#include <cstddef>
#include <string>

#include "host/Dialogs.h"

namespace rowset {

// One control of the form. Label "&" marks the accelerator key.
struct TLoginControl {
  std::string Name;
  std::string Caption;  // the label's text, or a button's caption
  std::string Text;     // an edit's text
  size_t MaxLength = 0;  // 0: no limit
  std::string EditMask;  // empty: none
  char PasswordChar = '\0';
  bool Visible = true;
  bool Default = false;  // the button Enter presses
  bool Cancel = false;   // the button Escape presses
};

class TMySQLLoginDialog {
 public:
  // Caption "Database Login"; the controls with their labels, initial texts
  // and limits; the password edit has the focus.
  TMySQLLoginDialog();
  // ActiveControl points into the form.
  TMySQLLoginDialog(const TMySQLLoginDialog&) = delete;
  TMySQLLoginDialog& operator=(const TMySQLLoginDialog&) = delete;

  std::string Caption = "Database Login";
  TLoginControl DatabaseLabel;  // "Server:"
  TLoginControl DatabaseName;   // the server's host name, "localhost"
  TLoginControl PortLabel;      // "Port:"
  TLoginControl Port;           // "3306", mask "99999;0; ", at most 5
  TLoginControl UserLabel;      // "&User Name:"
  TLoginControl UserName;       // at most 31
  TLoginControl PasswordLabel;  // "&Password:"
  TLoginControl Password;       // at most 31, shown as "*"
  TLoginControl OKButton;       // "&OK", default
  TLoginControl CancelButton;   // "Cancel", cancel
  // The edit that has the focus when the form opens.
  const TLoginControl* ActiveControl = &Password;

  // Shows the form modally: mrOk, the edits then holding the entries (held
  // to their limits), or mrCancel, the edits unchanged.
  int ShowModal();
};

// Fills the form with Host, Port and UserName, and Password (see the top of
// this header); on OK writes back all four and returns true; on cancel
// returns false and leaves every argument as it was.
bool MySQLLoginDialog(std::string& Host, std::string& Port, std::string& UserName,
                      std::string& Password);
// Fills the server edit with DatabaseName and the user edit with UserName;
// on OK writes back user name and password and returns true. NameReadOnly
// has no effect.
bool LoginDialogEx(const std::string& DatabaseName, std::string& UserName, std::string& Password,
                   bool NameReadOnly);
// Caption "Remote Login", no server label or edit; fills the user edit; on
// OK writes back user name and password and returns true.
bool RemoteLoginDialog(std::string& UserName, std::string& Password);

}  // namespace rowset

#endif  // ROWSET_DESIGN_MYSQLLOGINDLG_H_
