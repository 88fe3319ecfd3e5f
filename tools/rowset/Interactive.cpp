// The interactive client (see Commands.h): statements read with line editing
// and history (libedit; the history is kept in "history" in the program's
// data directory), run when a line ends one with ";". Backslash commands at
// the start of a statement: \edit, \help, \q. The table editor (\edit) works
// on a TMySQLDataset over "select * from TABLE [WHERE ...]" and shows each
// statement the dataset generates, through OnExecSQL, before it is sent.
#include <editline/readline.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "components/MySQLDataset.h"
#include "tools/rowset/Commands.h"
#include "tools/rowset/FieldText.h"
#include "tools/rowset/Session.h"

namespace rowset::cli {

namespace {

const char kHelp[] =
    "Statements end with \";\" and may span lines. Commands:\n"
    "  \\edit TABLE [WHERE ...]  edit rows of TABLE (the condition is SQL)\n"
    "  \\help                   this text\n"
    "  \\q                      quit (also Ctrl-D)\n";

const char kEditorHelp[] =
    "Moving:   n (or an empty line) next, p prior, f first, l last, g N record N\n"
    "Showing:  s the record, list all rows\n"
    "Changing: set COLUMN VALUE   (the rest of the line, as typed; dates YYYY-MM-DD)\n"
    "          null COLUMN        make it NULL\n"
    "          post / cancel      send the change / drop it\n"
    "          insert             a new record (then set ..., post)\n"
    "          delete             delete the record\n"
    "Cached:   \\cache on|off      hold changes back instead of sending them\n"
    "          \\apply             send the held-back changes in one transaction\n"
    "          \\cancel            drop the held-back changes\n"
    "          \\q                 leave the editor\n";

std::string Trim(const std::string& S) {
  size_t a = 0, b = S.size();
  while (a < b && std::isspace(static_cast<unsigned char>(S[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(S[b - 1]))) --b;
  return S.substr(a, b - a);
}

// Splits off the first word of S (leading blanks skipped); Rest is what
// follows the one blank after it, kept as typed.
std::string FirstWord(const std::string& S, std::string& Rest) {
  size_t a = 0;
  while (a < S.size() && std::isspace(static_cast<unsigned char>(S[a]))) ++a;
  size_t b = a;
  while (b < S.size() && !std::isspace(static_cast<unsigned char>(S[b]))) ++b;
  Rest = b < S.size() ? S.substr(b + 1) : std::string();
  return S.substr(a, b - a);
}

// Whether Text holds a statement ended by ";" outside strings, quoted names
// and comments.
bool StatementEnded(const std::string& Text) {
  char quote = 0;
  bool block = false, ended = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    char c = Text[i];
    if (block) {
      if (c == '*' && i + 1 < Text.size() && Text[i + 1] == '/') block = false, ++i;
      continue;
    }
    if (quote) {
      if (c == '\\' && quote != '`') ++i;
      else if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
      ended = false;
    } else if (c == '/' && i + 1 < Text.size() && Text[i + 1] == '*') {
      block = true;
      ++i;
    } else if (c == '#' || (c == '-' && i + 2 <= Text.size() && Text.compare(i, 2, "--") == 0 &&
                            (i + 2 == Text.size() || std::isspace(static_cast<unsigned char>(Text[i + 2]))))) {
      while (i < Text.size() && Text[i] != '\n') ++i;
    } else if (c == ';') {
      ended = true;
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      ended = false;
    }
  }
  return ended && !quote && !block;
}

// One line from the terminal; false at the end of input.
bool ReadLine(const std::string& Prompt, std::string& Line) {
  char* l = readline(Prompt.c_str());
  if (l == nullptr) return false;
  Line = l;
  std::free(l);
  if (!Trim(Line).empty()) add_history(Line.c_str());
  return true;
}

class Editor {
 public:
  Editor(TMySQLServer& Server, Printer& Out) : server_(Server), out_(Out) {}

  // Opens the dataset for "TABLE [WHERE ...]" and runs the editor's loop.
  void Run(const std::string& Args) {
    std::string where;
    std::string table = FirstWord(Args, where);
    if (table.empty()) {
      std::printf("usage: \\edit TABLE [WHERE ...]\n");
      return;
    }
    ds_ = std::make_unique<TMySQLDataset>();
    ds_->SetServer(&server_);
    ds_->OnExecSQL = [](TMySQLDatasetBase*, std::string& Sql, bool&) {
      std::printf("SQL> %s\n", Sql.c_str());
      std::fflush(stdout);
    };
    ds_->SQL()->SetText("select * from " + server_.FormatIdentifier(table) + " " + Trim(where));
    try {
      ds_->Open();
    } catch (const std::exception& e) {
      Error(e);
      return;
    }
    name_ = table;
    std::printf("editing %s: %d records (\\help lists the commands)\n", name_.c_str(), ds_->RecordCount());
    ShowRecord();
    std::string line;
    while (ReadLine(Prompt(), line)) {
      if (!Command(Trim(line))) return;
    }
    // End of input: held-back changes are dropped, not sent unasked.
    ds_->SQLCached()->Clear();
    std::printf("\n");
  }

 private:
  std::string Prompt() const {
    std::string state = ds_->State() == dsEdit ? " (editing)" : ds_->State() == dsInsert ? " (new)" : "";
    return "edit " + name_ + state + "> ";
  }

  static void Error(const std::exception& E) {
    std::printf("ERROR: %s\n", Runner::MessageText(E).c_str());
    std::fflush(stdout);
  }

  void ShowRecord() {
    if (ds_->RecordCount() == 0 && ds_->State() != dsInsert) {
      std::printf("(no records)\n");
      return;
    }
    ResultTable t;
    t.rows.emplace_back();
    for (int i = 0; i < ds_->FieldCount(); ++i) {
      TField* f = ds_->Fields()[i];
      t.columns.push_back(f->FieldName());
      t.rows[0].push_back(ds_->GetFieldText(f));
    }
    if (ds_->State() == dsInsert) std::printf("-- new record\n");
    // RecNo counts from 0.
    else std::printf("-- record %d of %d\n", ds_->RecNo() + 1, ds_->RecordCount());
    out_.Record(t, 0);
  }

  TField* Field(const std::string& Name) {
    TField* f = ds_->FindField(Name);
    if (f == nullptr) std::printf("no column %s\n", Name.c_str());
    return f;
  }

  void Change(TField* F, const std::string* Text) {
    if (ds_->State() == dsBrowse) ds_->Edit();
    if (Text) SetFieldText(F, *Text);
    else F->Clear();
  }

  void ApplyCached() {
    const int held = ds_->SQLCached()->Count();
    if (held == 0) {
      std::printf("nothing held back\n");
      return;
    }
    std::printf("SQL> start transaction\n");
    server_.ExecSQL("start transaction");
    try {
      ds_->ApplyUpdates();
      std::printf("SQL> commit\n");
      server_.ExecSQL("commit");
    } catch (...) {
      std::printf("SQL> rollback\n");
      server_.ExecSQL("rollback");
      throw;
    }
    std::printf("applied %d statements\n", held);
  }

  // Runs one editor command; false to leave the editor.
  bool Command(const std::string& Line) {
    std::string rest;
    const std::string word = FirstWord(Line, rest);
    try {
      const bool cached = ds_->CachedUpdates();
      const int held_before = ds_->SQLCached()->Count();
      if (word == "\\q" || word == "q" || word == "quit") {
        if (ds_->State() == dsEdit || ds_->State() == dsInsert) {
          std::printf("a change is in progress: post or cancel it first\n");
          return true;
        }
        if (ds_->SQLCached()->Count() > 0) {
          std::printf("%d changes are held back: \\apply or \\cancel them first\n", ds_->SQLCached()->Count());
          return true;
        }
        ds_->Close();
        return false;
      } else if (word == "\\help" || word == "help" || word == "?") {
        std::printf("%s", kEditorHelp);
      } else if (word.empty() || word == "n" || word == "next") {
        ds_->Next();
        ShowRecord();
      } else if (word == "p" || word == "prior") {
        ds_->Prior();
        ShowRecord();
      } else if (word == "f" || word == "first") {
        ds_->First();
        ShowRecord();
      } else if (word == "l" || word == "last") {
        ds_->Last();
        ShowRecord();
      } else if (word == "g" || word == "goto") {
        ds_->SetRecNo(std::atoi(rest.c_str()) - 1);  // typed from 1
        ShowRecord();
      } else if (word == "s" || word == "show") {
        ShowRecord();
      } else if (word == "list") {
        out_.Result(Runner::TableOf(*ds_));
      } else if (word == "set") {
        std::string value;
        std::string column = FirstWord(rest, value);
        if (TField* f = Field(column)) Change(f, &value);
      } else if (word == "null") {
        if (TField* f = Field(Trim(rest))) Change(f, nullptr);
      } else if (word == "post") {
        ds_->Post();
        ShowRecord();
      } else if (word == "cancel") {
        ds_->Cancel();
        ShowRecord();
      } else if (word == "insert" || word == "append") {
        ds_->Append();
        ShowRecord();
      } else if (word == "delete") {
        ds_->Delete();
        ShowRecord();
      } else if (word == "\\cache") {
        const std::string mode = Trim(rest);
        if (mode == "on" || mode == "off") {
          if (mode == "off" && ds_->SQLCached()->Count() > 0) {
            std::printf("\\apply or \\cancel the held-back changes first\n");
          } else {
            ds_->SetCachedUpdates(mode == "on");
            std::printf("cached updates %s\n", mode.c_str());
          }
        } else {
          std::printf("cached updates are %s (\\cache on|off)\n", cached ? "on" : "off");
        }
      } else if (word == "\\apply" || word == "apply") {
        ApplyCached();
      } else if (word == "\\cancel") {
        const int held = ds_->SQLCached()->Count();
        ds_->SQLCached()->Clear();
        ds_->Close();  // closing applies held-back statements: there are none now
        ds_->Open();
        std::printf("dropped %d held-back statements; rows read again\n", held);
        ShowRecord();
      } else {
        std::printf("unknown command %s (\\help lists the commands)\n", word.c_str());
      }
      for (int i = held_before; i < ds_->SQLCached()->Count(); ++i)
        std::printf("held: %s\n", ds_->SQLCached()->Get(i).c_str());
    } catch (const std::exception& e) {
      Error(e);
    }
    std::fflush(stdout);
    return true;
  }

  TMySQLServer& server_;
  Printer& out_;
  std::unique_ptr<TMySQLDataset> ds_;
  std::string name_;
};

}  // namespace

int RunInteractive(TMySQLServer& Server, const Options& Opts, Runner& Run, Printer& Out) {
  rl_readline_name = const_cast<char*>("rowset");
  using_history();
  const std::string history = DataDirectory(Opts) + "/history";
  read_history(history.c_str());
  std::printf("rowset: connected to %s (%s). \\help for help, \\q to quit.\n",
              Server.ServerVersion().c_str(), Server.ClientVersion().c_str());
  std::fflush(stdout);
  std::string buffer, line;
  while (ReadLine(buffer.empty() ? "rowset> " : "     -> ", line)) {
    if (buffer.empty()) {
      std::string rest;
      const std::string word = FirstWord(line, rest);
      if (word == "\\q" || word == "quit" || word == "exit") break;
      if (word == "\\help" || word == "help") {
        std::printf("%s", kHelp);
        continue;
      }
      if (word == "\\edit") {
        Editor(Server, Out).Run(rest);
        continue;
      }
      if (!word.empty() && word[0] == '\\') {
        std::printf("unknown command %s (\\help lists the commands)\n", word.c_str());
        continue;
      }
      if (word.empty()) continue;
    }
    buffer += buffer.empty() ? line : "\n" + line;
    if (StatementEnded(buffer)) {
      Run.Script(buffer, "", false);
      buffer.clear();
    }
    std::fflush(stdout);
  }
  std::printf("\n");
  std::error_code ignored;  // without the folder there is just no history
  std::filesystem::create_directories(DataDirectory(Opts), ignored);
  write_history(history.c_str());
  return 0;
}

}  // namespace rowset::cli
