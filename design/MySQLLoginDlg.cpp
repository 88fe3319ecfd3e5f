#include "design/MySQLLoginDlg.h"

namespace rowset {

namespace {

TLoginControl Control(const char* name, const char* caption, const char* text = "",
                      size_t max_length = 0) {
  TLoginControl c;
  c.Name = name;
  c.Caption = caption;
  c.Text = text;
  c.MaxLength = max_length;
  return c;
}

}  // namespace

TMySQLLoginDialog::TMySQLLoginDialog()
    : DatabaseLabel(Control("DatabaseLabel", "Server:")),
      DatabaseName(Control("DatabaseName", "", "localhost")),
      PortLabel(Control("PortLabel", "Port:")),
      Port(Control("Port", "", "3306", 5)),
      UserLabel(Control("UserLabel", "&User Name:")),
      UserName(Control("UserName", "", "", 31)),
      PasswordLabel(Control("PasswordLabel", "&Password:")),
      Password(Control("Password", "", "", 31)),
      OKButton(Control("OKButton", "&OK")),
      CancelButton(Control("CancelButton", "Cancel")) {
  Port.EditMask = "99999;0; ";
  Password.PasswordChar = '*';
  OKButton.Default = true;
  CancelButton.Cancel = true;
}

int TMySQLLoginDialog::ShowModal() {
  TLoginFormData form;
  form.Caption = Caption;
  form.ShowServer = DatabaseName.Visible;
  form.ServerLabel = DatabaseLabel.Caption;
  form.PortLabel = PortLabel.Caption;
  form.UserNameLabel = UserLabel.Caption;
  form.PasswordLabel = PasswordLabel.Caption;
  form.Server = LimitEntry(DatabaseName.Text, DatabaseName.MaxLength, false);
  form.Port = LimitEntry(Port.Text, Port.MaxLength, !Port.EditMask.empty());
  form.UserName = LimitEntry(UserName.Text, UserName.MaxLength, false);
  form.Password = LimitEntry(Password.Text, Password.MaxLength, false);
  form.PortMaxLength = Port.MaxLength;
  form.PortDigitsOnly = !Port.EditMask.empty();  // the mask "99999" takes digits only
  form.UserNameMaxLength = UserName.MaxLength;
  form.PasswordMaxLength = Password.MaxLength;
  form.PasswordChar = Password.PasswordChar ? Password.PasswordChar : '*';
  form.FocusedField = ActiveControl == &DatabaseName ? 0
                      : ActiveControl == &Port       ? 1
                      : ActiveControl == &UserName   ? 2
                                                     : 3;
  if (!ShowLoginForm(form)) return mrCancel;
  // The edits hold what they can take, whatever the provider answered.
  if (DatabaseName.Visible) {
    DatabaseName.Text = LimitEntry(form.Server, DatabaseName.MaxLength, false);
    Port.Text = LimitEntry(form.Port, Port.MaxLength, !Port.EditMask.empty());
  }
  UserName.Text = LimitEntry(form.UserName, UserName.MaxLength, false);
  Password.Text = LimitEntry(form.Password, Password.MaxLength, false);
  return mrOk;
}

bool MySQLLoginDialog(std::string& Host, std::string& Port, std::string& UserName,
                      std::string& Password) {
  TMySQLLoginDialog form;
  form.DatabaseName.Text = Host;
  form.Port.Text = Port;
  form.UserName.Text = UserName;
  form.Password.Text = Password;
  if (form.ShowModal() != mrOk) return false;
  Host = form.DatabaseName.Text;
  Port = form.Port.Text;
  UserName = form.UserName.Text;
  Password = form.Password.Text;
  return true;
}

bool LoginDialogEx(const std::string& DatabaseName, std::string& UserName, std::string& Password,
                   bool) {
  TMySQLLoginDialog form;
  form.DatabaseName.Text = DatabaseName;
  form.UserName.Text = UserName;
  if (form.ShowModal() != mrOk) return false;
  UserName = form.UserName.Text;
  Password = form.Password.Text;
  return true;
}

bool RemoteLoginDialog(std::string& UserName, std::string& Password) {
  TMySQLLoginDialog form;
  form.Caption = "Remote Login";
  form.DatabaseLabel.Visible = false;
  form.DatabaseName.Visible = false;
  form.UserName.Text = UserName;
  if (form.ShowModal() != mrOk) return false;
  UserName = form.UserName.Text;
  Password = form.Password.Text;
  return true;
}

}  // namespace rowset
