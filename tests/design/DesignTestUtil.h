// A dialog provider for the design tests: records every box and login form
// it is shown and answers from a script.
#ifndef ROWSET_TESTS_DESIGN_DESIGNTESTUTIL_H_
#define ROWSET_TESTS_DESIGN_DESIGNTESTUTIL_H_

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "design/MySQLLinks.h"
#include "host/Dialogs.h"

namespace rowset::test {

struct TShownBox {
  std::string Msg;
  TMsgDlgType Type;
  TMsgDlgButtons Buttons;
};

class TScriptedDialogs : public TDialogProvider {
 public:
  int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons) override {
    boxes.push_back({Msg, DlgType, Buttons});
    if (answers.empty()) return Buttons.Contains(mbOK) ? mrOk : mrNo;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  bool LoginForm(TLoginFormData& Data) override {
    forms.push_back(Data);
    if (!login_ok) {
      Data.Password = "typed before cancel";  // a stray edit the caller must ignore
      return false;
    }
    if (edit_login) edit_login(Data);
    return true;
  }
  std::vector<TShownBox> boxes;
  std::deque<int> answers;
  std::vector<TLoginFormData> forms;
  bool login_ok = true;
  std::function<void(TLoginFormData&)> edit_login;
};

// Installs a scripted provider for a scope and puts the previous one back.
class TDialogScope {
 public:
  TDialogScope() {
    auto owned = std::make_unique<TScriptedDialogs>();
    dialogs_ = owned.get();
    previous_ = SetDialogProvider(std::move(owned));
  }
  ~TDialogScope() { SetDialogProvider(std::move(previous_)); }
  TScriptedDialogs& operator*() const { return *dialogs_; }
  TScriptedDialogs* operator->() const { return dialogs_; }

 private:
  TScriptedDialogs* dialogs_;
  std::unique_ptr<TDialogProvider> previous_;
};

// A link designer front end that runs a script on the form and answers.
class TScriptedLinks : public TLinkDesignerFrontEnd {
 public:
  bool Run(TLinkFields& Form) override {
    ++runs;
    if (script) script(Form);
    return ok;
  }
  std::function<void(TLinkFields&)> script;
  bool ok = true;
  int runs = 0;
};

class TLinksScope {
 public:
  TLinksScope() {
    auto owned = std::make_unique<TScriptedLinks>();
    links_ = owned.get();
    previous_ = SetLinkDesignerFrontEnd(std::move(owned));
  }
  ~TLinksScope() { SetLinkDesignerFrontEnd(std::move(previous_)); }
  TScriptedLinks* operator->() const { return links_; }

 private:
  TScriptedLinks* links_;
  std::unique_ptr<TLinkDesignerFrontEnd> previous_;
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_DESIGN_DESIGNTESTUTIL_H_
