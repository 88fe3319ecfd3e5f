// Statement and script running of the rowset program (see Runner.h).
#include "tools/rowset/Runner.h"

#include <chrono>
#include <cctype>

#include "parser/MySQLParser.h"

namespace rowset::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Statements and bytes done against the whole script, redrawn on one
// terminal line at most five times a second.
class Progress {
 public:
  Progress(FILE* Err, size_t Statements, size_t Bytes, bool Enabled)
      : err_(Err), total_(Statements), bytes_(Bytes), enabled_(Enabled), start_(Clock::now()) {}
  ~Progress() { Clear(); }
  // Takes the line off the terminal, so that what a statement prints (on
  // either stream) never shares a line with it; the next Update draws it
  // again below that output.
  void Clear() {
    if (enabled_ && drawn_) std::fputs("\r\x1b[K", err_);
    drawn_ = false;
  }
  void Update(size_t Done, size_t BytesDone) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    drawn_ = true;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double rate = secs > 0 ? BytesDone / secs : 0;
    std::string eta = "--:--";
    if (rate > 0 && secs >= 1.0) {  // a rate over less than a second says little
      long left = static_cast<long>((bytes_ - BytesDone) / rate + 0.5);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%ld:%02ld", left / 60, left % 60);
      eta = buf;
    }
    std::fprintf(err_, "\r%zu/%zu statements  %.1f MB/s  %s left   ", Done, total_,
                 rate / 1e6, eta.c_str());
  }

 private:
  FILE* err_;
  size_t total_, bytes_;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_, last_;
};

bool NumericType(uint8_t Type) {
  using namespace mysql_column;
  switch (Type) {
    case kDecimal: case kTiny: case kShort: case kLong: case kFloat: case kDouble:
    case kLongLong: case kInt24: case kYear: case kNewDecimal:
      return true;
    default:
      return false;
  }
}

std::unique_ptr<TMySQLQuery> NewQuery(TMySQLServer& Server) {
  auto q = std::make_unique<TMySQLQuery>();
  // Statements are the user's own SQL: no macros, no busy cursor.
  q->SetOptions(q->Options() - doMacrosEnabled - doMacroCheck - doUseCursor);
  q->SetServer(&Server);
  return q;
}

}  // namespace

Runner::Runner(TMySQLServer& Server, Printer& Out, FILE* Err, bool Force)
    : server_(Server), out_(Out), err_(Err), force_(Force),
      exec_(NewQuery(Server)), query_(NewQuery(Server)) {
  // The SQL list of a dataset keeps lines, not line-break bytes: the text
  // sent is the statement exactly as written.
  query_->OnExecSQL = [this](TMySQLDatasetBase*, std::string& Sql, bool&) { Sql = exact_; };
}

bool Runner::ReturnsRows(std::string_view Sql) {
  size_t i = 0;
  while (i < Sql.size() && (std::isspace(static_cast<unsigned char>(Sql[i])) || Sql[i] == '(')) {
    if (Sql[i] == '(') return true;
    ++i;
  }
  std::string word;
  while (i < Sql.size() && std::isalpha(static_cast<unsigned char>(Sql[i])))
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(Sql[i++])));
  static const char* const kWords[] = {"select", "show", "describe", "desc", "explain", "with",
                                       "values", "table", "check", "checksum", "analyze",
                                       "optimize", "repair", "help", "call", "execute"};
  for (const char* w : kWords)
    if (word == w) return true;
  return false;
}

ResultTable Runner::TableOf(const TMySQLDatasetBase& Ds) {
  ResultTable t;
  const TFieldInfoList& infos = Ds.FieldInfos();
  int columns = 0;
  for (int i = 0; i < infos.Count(); ++i) {
    if (!infos[i]->IsServerColumn) continue;
    t.columns.push_back(infos[i]->Name);
    t.numeric.push_back(NumericType(infos[i]->ColumnType));
    ++columns;
  }
  if (const auto* rows = Ds.Rows()) {
    t.rows.reserve(rows->size());
    for (const TRowValues& r : *rows) {
      std::vector<std::optional<std::string>> row(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        if (auto v = r.Get(c)) row[static_cast<size_t>(c)] = std::string(*v);
      }
      t.rows.push_back(std::move(row));
    }
  }
  return t;
}

std::string Runner::MessageText(const std::exception& E) {
  std::string s = E.what();
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    r += s[i];
  }
  return r;
}

bool Runner::FromServer(const std::exception& E) {
  const auto* m = dynamic_cast<const EMySQLError*>(&E);
  return m != nullptr && m->ServerErrorCode() != 0;
}

std::string Runner::ErrorText(const std::exception& E, const std::string& Where) {
  if (!FromServer(E)) return "ERROR" + Where + ": " + MessageText(E);
  const auto& m = dynamic_cast<const EMySQLError&>(E);
  // Without SQL states (the built-in client) the general state, as the
  // mysql client shows for errors that have none.
  const std::string state = m.SqlState().empty() ? "HY000" : m.SqlState();
  return "ERROR " + std::to_string(m.ServerErrorCode()) + " (" + state + ")" + Where + ": " +
         m.ServerMessage();
}

void Runner::Fail(const std::exception& E, const std::string& Where) {
  ++failures_;
  std::fprintf(err_, "%s\n", ErrorText(E, Where).c_str());
}

bool Runner::Statement(const std::string& Sql, const std::string& Where) {
  try {
    if (ReturnsRows(Sql)) {
      query_->Close();
      exact_ = Sql;
      query_->SQL()->SetText(Sql);
      query_->Open();
      if (query_->FieldInfos().Count() > 0) {
        out_.Result(TableOf(*query_));
      } else {
        out_.Done(query_->AffectedRowsText(), "0");
      }
      query_->Close();
    } else {
      exec_->ExecSQL(Sql, false, false, "", "");
      out_.Done(exec_->AffectedRowsText(), exec_->InsertIDText());
    }
    return true;
  } catch (const std::exception& e) {
    try {
      query_->Close();
    } catch (...) {
    }
    Fail(e, Where);
    return false;
  }
}

bool Runner::Script(const std::string& Text, const std::string& Name, bool ShowProgress) {
  std::vector<int64_t> lines;
  const std::vector<std::string> statements = SplitScript(Text, &lines);
  size_t total = 0;
  for (const std::string& s : statements) total += s.size();
  Progress progress(err_, statements.size(), total, ShowProgress);
  size_t bytes = 0;
  bool ok = true;
  for (size_t i = 0; i < statements.size(); ++i) {
    if (Interrupted && Interrupted()) {
      ok = false;
      break;
    }
    progress.Clear();
    std::string where;
    if (!Name.empty()) where = " at line " + std::to_string(lines[i]);
    if (!Name.empty() && Name != "-e" && Name != "standard input") where += " in file: '" + Name + "'";
    if (!Statement(statements[i], where)) {
      ok = false;
      if (!force_) break;
    }
    bytes += statements[i].size();
    progress.Update(i + 1, bytes);
  }
  return ok;
}

}  // namespace rowset::cli
