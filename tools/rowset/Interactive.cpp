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
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "components/MySQLDataset.h"
#include "parser/MySQLParser.h"
#include "tools/rowset/Commands.h"
#include "tools/rowset/FieldText.h"
#include "tools/rowset/Interrupt.h"
#include "tools/rowset/Session.h"

namespace rowset::cli {

namespace {

const char kHelp[] =
    "Statements end with \";\" (or the DELIMITER set) and may span lines. Commands:\n"
    "  \\edit TABLE [WHERE ...]  edit rows of TABLE (the condition is SQL)\n"
    "  DELIMITER TEXT          end statements with TEXT instead of \";\"\n"
    "  \\c                      drop the statement typed so far (also Ctrl-C)\n"
    "  \\help                   this text\n"
    "  \\q                      quit (also Ctrl-D, or Ctrl-C twice)\n"
    "Ctrl-C while a statement runs stops it (KILL QUERY).\n";

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

// What a scan of typed text found outside strings, quoted names and
// comments: the end of the last complete statement (just past its
// delimiter), and the first backslash command \c or \q. A backslash in a
// string escapes the next byte only when the session lets it
// (BackslashEscapes false under NO_BACKSLASH_ESCAPES).
struct Scanned {
  size_t end = std::string::npos;
  char command = 0;
};

Scanned Scan(const std::string& Text, const std::string& Delimiter, bool BackslashEscapes) {
  Scanned r;
  char quote = 0;
  bool block = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    char c = Text[i];
    if (block) {
      if (c == '*' && i + 1 < Text.size() && Text[i + 1] == '/') block = false, ++i;
      continue;
    }
    if (quote) {
      if (c == '\\' && quote != '`' && BackslashEscapes) ++i;
      else if (c == quote) quote = 0;
      continue;
    }
    if (c == '\\' && i + 1 < Text.size() && (Text[i + 1] == 'c' || Text[i + 1] == 'q') &&
        (i + 2 == Text.size() || !std::isalnum(static_cast<unsigned char>(Text[i + 2])))) {
      r.command = Text[i + 1];
      return r;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == '/' && i + 1 < Text.size() && Text[i + 1] == '*') {
      block = true;
      ++i;
    } else if (c == '#' || (c == '-' && i + 2 <= Text.size() && Text.compare(i, 2, "--") == 0 &&
                            (i + 2 == Text.size() || std::isspace(static_cast<unsigned char>(Text[i + 2]))))) {
      while (i < Text.size() && Text[i] != '\n') ++i;
    } else if (Text.compare(i, Delimiter.size(), Delimiter) == 0) {
      i += Delimiter.size() - 1;
      r.end = i + 1;
    }
  }
  return r;
}

// How a read of one line ended.
enum class Read { kLine, kEnd, kInterrupted };

// One line from the terminal. Ctrl-C ends the read (kInterrupted; the line
// typed so far is dropped).
Read ReadLine(Interrupts& Intr, const std::string& Prompt, std::string& Line) {
  if (Intr.QuitRequested()) return Read::kEnd;
  char* l = nullptr;
  {
    Interrupts::PromptWindow window;
    if (!Intr.TakePromptInterrupt()) l = readline(Prompt.c_str());
  }
  const bool interrupted = Intr.TakePromptInterrupt();
  if (l == nullptr) {
    if (!interrupted) return Read::kEnd;
    std::printf("^C\n");
    std::fflush(stdout);
    return Intr.QuitRequested() ? Read::kEnd : Read::kInterrupted;
  }
  Line = l;
  std::free(l);
  if (!Trim(Line).empty()) add_history(Line.c_str());
  return Read::kLine;
}

// Whether the connection has a transaction open (MariaDB and MySQL 5.7 and
// later report it; false where the server cannot say).
bool InTransaction(TMySQLServer& Server) {
  try {
    TMySQLBase* driver = Server.GetDriver();
    MySQLResultHandle result = driver->OpenQuery(Server.Connection(), "select @@in_transaction");
    bool open = false;
    if (MySQLRow row = driver->RetrieveRow(result)) open = row[0] != nullptr && std::string(row[0]) == "1";
    while (driver->RetrieveRow(result) != nullptr) {
    }
    driver->CloseQuery(result);
    return open;
  } catch (const std::exception&) {
    return false;
  }
}

class Editor {
 public:
  Editor(TMySQLServer& Server, Printer& Out, Interrupts& Intr) : server_(Server), out_(Out), intr_(Intr) {}

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
      Interrupts::Running running(intr_, ConnectionId(server_));
      ds_->Open();
    } catch (const std::exception& e) {
      Error(e);
      return;
    }
    name_ = table;
    std::printf("editing %s: %d records (\\help lists the commands)\n", name_.c_str(), ds_->RecordCount());
    ShowRecord();
    std::string line;
    for (Read r; (r = ReadLine(intr_, Prompt(), line)) != Read::kEnd;) {
      if (r == Read::kInterrupted) continue;
      Interrupts::Running running(intr_, ConnectionId(server_));
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
    std::printf("%s\n", Runner::ErrorText(E, "").c_str());
    std::fflush(stdout);
  }

  // Another user changed or deleted the record being posted: nothing was
  // written. Shows the value the edit started from, the value being posted
  // and the server's value now, column by column; the edit stays open.
  void ShowConflict(const EMySQLRecordChanged& E) {
    std::printf("%s: nothing was written\n", E.what());
    ResultTable t;
    t.numeric.assign(4, false);
    t.columns = {"column", "when read", "yours", E.ServerRowFound ? "server now" : "server now (row gone)"};
    auto at = [](const std::vector<std::optional<std::string>>& v, size_t i) {
      return i < v.size() ? v[i] : std::nullopt;
    };
    for (size_t i = 0; i < E.Columns.size(); ++i) {
      t.rows.push_back({E.Columns[i], at(E.HeldValues, i), at(E.PostedValues, i),
                        E.ServerRowFound ? at(E.ServerValues, i) : std::nullopt});
    }
    out_.Result(t);
    std::printf("cancel drops your change and reads the record again\n");
    stale_ = true;
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
        // A change posted inside the user's own transaction lasts only if
        // that transaction is committed: say so before it is sent.
        if (!cached && (ds_->State() == dsEdit || ds_->State() == dsInsert) && InTransaction(server_))
          std::printf("note: a transaction is open on this connection: the change is made inside it, "
                      "and a ROLLBACK undoes it (COMMIT keeps it)\n");
        try {
          ds_->Post();
        } catch (const EMySQLRecordChanged& conflict) {
          ShowConflict(conflict);
          return true;
        }
        ShowRecord();
      } else if (word == "cancel") {
        ds_->Cancel();
        if (stale_) {
          // The held row is older than the server's: read the rows again,
          // staying on the same record number.
          const int at = ds_->RecNo();
          ds_->Close();
          ds_->Open();
          if (at > 0 && at < ds_->RecordCount()) ds_->SetRecNo(at);
          stale_ = false;
        }
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
  Interrupts& intr_;
  std::unique_ptr<TMySQLDataset> ds_;
  std::string name_;
  bool stale_ = false;  // a conflict showed the held rows to be out of date
};

}  // namespace

int RunInteractive(TMySQLServer& Server, const Options& Opts, Runner& Run, Printer& Out, Interrupts& Intr) {
  rl_readline_name = const_cast<char*>("rowset");
  // Ctrl-C is the program's own (Interrupt.h): libedit must not catch it and
  // send it again to the whole process group.
  rl_catch_signals = 0;
  using_history();
  const std::string history = DataDirectory(Opts) + "/history";
  read_history(history.c_str());
  // The history is saved however the program ends: here on every return,
  // and by the Ctrl-C watcher when it ends the program while a statement
  // runs. Both may try at once (a second Ctrl-C while the main thread
  // leaves): the second waits for the first to finish, since the watcher
  // ends the process as soon as its call returns. The state is shared with
  // the watcher's callback, which outlives this function.
  struct HistoryFile {
    std::mutex lock;
    bool saved = false;
    std::string folder, path;
    void Save() {
      std::lock_guard<std::mutex> hold(lock);
      if (saved) return;
      saved = true;
      std::error_code ignored;  // without the folder there is just no history
      std::filesystem::create_directories(folder, ignored);
      write_history(path.c_str());
    }
  };
  auto file = std::make_shared<HistoryFile>();
  file->folder = DataDirectory(Opts);
  file->path = history;
  struct SaveAtExit {
    std::shared_ptr<HistoryFile> file;
    ~SaveAtExit() { file->Save(); }
  } save_at_exit{file};
  Intr.OnExit = [file] { file->Save(); };
  Run.Interrupted = [&Intr] { return Intr.StatementInterrupted(); };

  std::printf("rowset: connected to %s (%s). \\help for help, \\q to quit.\n",
              Server.ServerVersion().c_str(), Server.ClientVersion().c_str());
  std::fflush(stdout);
  std::string buffer, line;
  std::string delimiter = ";";
  // Runs the complete statements of Text (the splitter also takes the
  // delimiter in force).
  auto run = [&](const std::string& Text) {
    Interrupts::Running running(Intr, ConnectionId(Server));
    Run.Script(delimiter == ";" ? Text : "DELIMITER " + delimiter + "\n" + Text, "", false);
  };
  for (Read r; (r = ReadLine(Intr, buffer.empty() ? "rowset> " : "     -> ", line)) != Read::kEnd;) {
    if (r == Read::kInterrupted) {  // the statement typed so far is dropped
      buffer.clear();
      continue;
    }
    if (Trim(buffer).empty()) {
      buffer.clear();
      std::string rest;
      const std::string word = FirstWord(line, rest);
      std::string lower = word;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (word == "\\q" || lower == "quit" || lower == "exit") break;
      if (word == "\\help" || lower == "help") {
        std::printf("%s", kHelp);
        continue;
      }
      if (word == "\\edit") {
        Editor(Server, Out, Intr).Run(rest);
        if (Intr.QuitRequested()) break;
        continue;
      }
      if (lower == "delimiter" || word == "\\d") {
        const std::string d = Trim(rest);
        if (d.empty() || d.find('\\') != std::string::npos)
          std::printf("DELIMITER needs a delimiter that holds no backslash (DELIMITER ; goes back)\n");
        else
          delimiter = d;
        continue;
      }
      if (word != "\\c" && word != "\\q" && !word.empty() && word[0] == '\\') {
        std::printf("unknown command %s (\\help lists the commands)\n", word.c_str());
        continue;
      }
      if (word.empty()) continue;
    }
    const std::string text = buffer.empty() ? line : buffer + "\n" + line;
    const bool escapes = Server.EscapeStr("\\") != "\\";
    const Scanned scan = Scan(text, delimiter, escapes);
    if (scan.command == 'q') break;
    if (scan.command == 'c') {  // the statement typed so far is dropped
      buffer.clear();
      continue;
    }
    if (scan.end == std::string::npos) {
      buffer = text;
      continue;
    }
    run(text.substr(0, scan.end));
    // What follows the last delimiter starts the next statement, unless it
    // is only blanks and comments.
    const std::string rest = text.substr(scan.end);
    buffer = SplitScript(rest, nullptr, escapes).empty() ? std::string() : rest;
    std::fflush(stdout);
    if (Intr.QuitRequested()) break;
  }
  std::printf("\n");
  return 0;
}

}  // namespace rowset::cli
