#include "host/Dialogs.h"

#include <termios.h>
#include <unistd.h>

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
      if (!ReadLine(line, false)) return unattended;  // input closed
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
    TLoginFormData d = Data;
    std::cerr << d.Caption << " (an empty answer keeps the value shown; end of input cancels)\n";
    auto ask = [](const char* label, std::string& value, bool hide) {
      std::cerr << label << (hide || value.empty() ? "" : " [" + value + "]") << ": ";
      std::string line;
      if (!ReadLine(line, hide)) return false;
      if (!line.empty() || hide) value = line;
      return true;
    };
    if (d.ShowServer && (!ask("Server", d.Server, false) || !ask("Port", d.Port, false))) return false;
    if (!ask("User Name", d.UserName, false) || !ask("Password", d.Password, true)) return false;
    Data = d;
    return true;
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

int MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int) {
  return DialogProvider().MessageDlg(Msg, DlgType, Buttons);
}

void ShowMessage(const std::string& Msg) { MessageDlg(Msg, mtCustom, TMsgDlgButtons{mbOK}); }

bool ShowLoginForm(TLoginFormData& Data) { return DialogProvider().LoginForm(Data); }

}  // namespace rowset
