// Statement and script running of the rowset program (see Runner.h).
#include "tools/rowset/Runner.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "parser/MySQLParser.h"

namespace rowset::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Statements done and bytes read, redrawn on one terminal line at most five
// times a second.
class Progress {
 public:
  Progress(FILE* Err, uint64_t Bytes, bool Enabled)
      : err_(Err), bytes_(Bytes), enabled_(Enabled), start_(Clock::now()) {}
  ~Progress() { Clear(); }
  // Takes the line off the terminal, so that what a statement prints (on
  // either stream) never shares a line with it; the next Update draws it
  // again below that output.
  void Clear() {
    if (enabled_ && drawn_) std::fputs("\r\x1b[K", err_);
    drawn_ = false;
  }
  void Update(size_t Done, uint64_t BytesDone) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    drawn_ = true;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double rate = secs > 0 ? BytesDone / secs : 0;
    if (bytes_ == 0) {
      std::fprintf(err_, "\r%zu statements  %.1f MB  %.1f MB/s   ", Done, BytesDone / 1e6, rate / 1e6);
      return;
    }
    std::string eta = "--:--";
    if (rate > 0 && secs >= 1.0 && BytesDone <= bytes_) {  // a rate over less than a second says little
      long left = static_cast<long>((bytes_ - BytesDone) / rate + 0.5);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%ld:%02ld", left / 60, left % 60);
      eta = buf;
    }
    std::fprintf(err_, "\r%zu statements  %.1f of %.1f MB  %.1f MB/s  %s left   ", Done, BytesDone / 1e6,
                 bytes_ / 1e6, rate / 1e6, eta.c_str());
  }

 private:
  FILE* err_;
  uint64_t bytes_;
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

// Whether a column holds bytes rather than text, by its type: the binary
// character set (63) where the back end tells the character set, else the
// BINARY flag of a string column; BIT and GEOMETRY values are bytes.
bool BinaryColumn(const MYSQL_FIELD& F) {
  constexpr unsigned kBinaryFlag = 128;
  constexpr unsigned kBinaryCharset = 63;
  switch (F.type) {
    case 16:   // BIT
    case 255:  // GEOMETRY
      return true;
    case 15: case 253: case 254:             // VARCHAR, VAR_STRING, STRING
    case 249: case 250: case 251: case 252:  // the BLOB types
      return F.charsetnr != 0 ? F.charsetnr == kBinaryCharset : (F.flags & kBinaryFlag) != 0;
    default:
      return false;
  }
}

// The result handle freed on every way out.
struct ResultGuard {
  TMySQLBase* driver;
  MySQLResultHandle& result;
  ~ResultGuard() {
    try {
      driver->CloseQuery(result);
    } catch (...) {
    }
  }
};

// The statement's first words, lower case, at most N of them.
std::vector<std::string> FirstWords(std::string_view Sql, size_t N) {
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < N) {
    while (i < Sql.size() && !std::isalnum(static_cast<unsigned char>(Sql[i])) && Sql[i] != '_' &&
           Sql[i] != '@')
      ++i;
    if (i >= Sql.size()) break;
    std::string w;
    while (i < Sql.size() && (std::isalnum(static_cast<unsigned char>(Sql[i])) || Sql[i] == '_' || Sql[i] == '@'))
      w += static_cast<char>(std::tolower(static_cast<unsigned char>(Sql[i++])));
    words.push_back(std::move(w));
  }
  return words;
}

bool LostConnection(int32_t Code) {
  // gone away, lost during a statement, killed, timed out while idle
  return Code == 2006 || Code == 2013 || Code == 2055 || Code == 1927 || Code == 4031;
}

}  // namespace

Runner::Runner(TMySQLServer& Server, Printer& Out, FILE* Err, bool Force)
    : server_(Server), out_(Out), err_(Err), force_(Force), database_(Server.DatabaseName()) {}

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
  // Without an SQL state (the built-in client on the old protocol) the
  // general one, as the mysql client shows for errors that have none.
  const std::string state = m.SqlState().empty() ? "HY000" : m.SqlState();
  return "ERROR " + std::to_string(m.ServerErrorCode()) + " (" + state + ")" + Where + ": " +
         m.ServerMessage();
}

void Runner::Fail(const std::exception& E, const std::string& Where) {
  ++failures_;
  std::string text = ErrorText(E, Where);
  const auto* my = dynamic_cast<const EMySQLError*>(&E);
  if (my != nullptr && my->ServerErrorCode() == 1312 && dynamic_cast<TViVURIzodor*>(server_.GetDriver()) != nullptr)
    text += "\n(the built-in client cannot read the results of a procedure yet: use --driver library or the "
            "embedded server for such a CALL)";
  std::fprintf(err_, "%s\n", text.c_str());
}

// Where an error happened, after "ERROR n (state)": " at line N" for a
// script, with " in file: 'NAME'" for a file; nothing for typed statements.
std::string Runner::Where(const std::string& Name, int64_t Line) {
  if (Name.empty()) return "";
  std::string where = " at line " + std::to_string(Line);
  if (Name != "-e" && Name != "standard input") where += " in file: '" + Name + "'";
  return where;
}

void Runner::Print(MySQLResultHandle& Result) {
  TMySQLBase* d = server_.GetDriver();
  const uint32_t n = d->RetrieveColCount(Result);
  std::vector<OutColumn> cols(n);
  for (uint32_t i = 0; i < n; ++i) {
    const MYSQL_FIELD f = d->RetrieveField(Result);
    cols[i].name = f.name != nullptr ? f.name : "";
    cols[i].numeric = NumericType(f.type);
    cols[i].binary = BinaryColumn(f);
    cols[i].length = f.length;
  }
  out_.Begin(std::move(cols));
  try {
    while (MySQLRow row = d->RetrieveRow(Result)) out_.Row(row, d->RetrieveRowFieldLenghts(Result));
  } catch (...) {
    out_.Abort();
    throw;
  }
  out_.End();
}

void Runner::Run(const std::string& Sql) {
  TMySQLBase* d = server_.GetDriver();
  if (!server_.Connected()) server_.Connect();
  MySQLHandle h = server_.Connection();
  MySQLResultHandle result = d->OpenQuery(h, Sql);
  for (;;) {
    {
      ResultGuard guard{d, result};
      if (result != nullptr) Print(result);
      else out_.Done(d->AffectedRows(h), d->LastInsertID(h));
    }
    if (!d->MoreResults(h)) break;
    result = d->NextResult(h);
  }
}

void Runner::Track(std::string_view Sql) {
  const std::vector<std::string> w = FirstWords(Sql, 3);
  if (w.empty()) return;
  const std::string& a = w[0];
  const std::string b = w.size() > 1 ? w[1] : "";
  if (a == "begin" || (a == "start" && b == "transaction") || (a == "xa" && (b == "start" || b == "begin"))) {
    in_transaction_ = true;
  } else if (((a == "commit" || a == "rollback") && b != "to") ||
             (a == "xa" && (b == "commit" || b == "rollback")) || a == "create" || a == "alter" ||
             a == "drop" || a == "rename" || a == "truncate") {
    in_transaction_ = false;  // ended, or ended by the implicit commit
  } else if (a == "set" && Sql.find("autocommit") != std::string_view::npos) {
    for (const char* s : {"autocommit", "AUTOCOMMIT"}) {
      size_t at = Sql.find(s);
      if (at == std::string_view::npos) continue;
      size_t i = Sql.find('=', at);
      if (i == std::string_view::npos) break;
      ++i;
      while (i < Sql.size() && std::isspace(static_cast<unsigned char>(Sql[i]))) ++i;
      const char c = i < Sql.size() ? static_cast<char>(std::tolower(static_cast<unsigned char>(Sql[i]))) : '1';
      autocommit_off_ = c == '0' || Sql.substr(i, 3) == "off" || Sql.substr(i, 3) == "OFF" ||
                        c == 'f';  // false
      break;
    }
  } else if (a == "use") {
    // The server knows best what the name it was given means.
    TMySQLBase* d = server_.GetDriver();
    MySQLHandle h = server_.Connection();
    MySQLResultHandle r = d->OpenQuery(h, "select database()");
    ResultGuard guard{d, r};
    if (MySQLRow row = d->RetrieveRow(r)) {
      MySQLLengths l = d->RetrieveRowFieldLenghts(r);
      database_ = row[0] != nullptr ? std::string(row[0], l[0]) : std::string();
      while (d->RetrieveRow(r)) {
      }
    }
  }
}

bool Runner::Recover(const EMySQLError& E) {
  if (!LostConnection(E.ErrorCode())) return false;
  if (in_transaction_ || autocommit_off_) {
    if (!lost_in_transaction_)
      std::fprintf(err_,
                   "rowset: the connection was lost inside a transaction; its changes are gone and the "
                   "connection is not made again\n");
    lost_in_transaction_ = true;
    return false;
  }
  try {
    try {
      server_.Disconnect();
    } catch (...) {
      // the old connection is gone either way
    }
    server_.Connect();
    if (server_.ServerVer() >= 50503) server_.ExecSQL("set names utf8mb4");
    if (!database_.empty()) server_.GetDriver()->SelectDatabase(server_.Connection(), database_);
  } catch (const std::exception& e) {
    std::fprintf(err_, "rowset: the connection was lost and could not be made again: %s\n",
                 MessageText(e).c_str());
    return false;
  }
  std::fprintf(err_, "rowset: the connection was lost; connected again (connection id %u%s%s)\n",
               server_.GetDriver()->ThreadID(server_.Connection()), database_.empty() ? "" : ", database ",
               database_.c_str());
  // Gone away: the statement never reached the server, so it runs again.
  return E.ErrorCode() == 2006;
}

bool Runner::Statement(const std::string& Sql, const std::string& Where) {
  for (int attempt = 0;; ++attempt) {
    try {
      Run(Sql);
      Track(Sql);
      return true;
    } catch (const EMySQLError& e) {
      if (attempt == 0 && Recover(e)) continue;
      Fail(e, Where);
      return false;
    } catch (const std::exception& e) {
      Fail(e, Where);
      return false;
    }
  }
}

bool Runner::Script(std::string_view Text, const std::string& Name, bool ShowProgress) {
  TScriptSplitter splitter;
  std::vector<TScriptStatement> statements;
  splitter.Feed(Text, statements);
  splitter.Finish(statements);
  Progress progress(err_, Text.size(), ShowProgress);
  bool ok = true;
  for (size_t i = 0; i < statements.size(); ++i) {
    if (Interrupted && Interrupted()) return false;
    progress.Clear();
    if (!Statement(statements[i].Text, Where(Name, statements[i].Line))) {
      ok = false;
      if (!force_) break;
    }
    progress.Update(i + 1, Text.size() * (i + 1) / statements.size());
  }
  return ok;
}

bool Runner::Stream(int Fd, const std::string& Name, bool ShowProgress, uint64_t Size) {
  TScriptSplitter splitter;
  std::vector<TScriptStatement> statements;
  Progress progress(err_, Size, ShowProgress);
  std::vector<char> block(1 << 18);
  uint64_t read_bytes = 0;
  size_t done = 0;
  bool ok = true, end = false;
  while (!end) {
    const ssize_t n = ::read(Fd, block.data(), block.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ++failures_;
      std::fprintf(err_, "rowset: cannot read %s: %s\n", Name.empty() ? "standard input" : Name.c_str(),
                   std::strerror(errno));
      return false;
    }
    if (n == 0) {
      end = true;
      splitter.Finish(statements);
    } else {
      read_bytes += static_cast<uint64_t>(n);
      splitter.Feed(std::string_view(block.data(), static_cast<size_t>(n)), statements);
    }
    for (const TScriptStatement& s : statements) {
      if (Interrupted && Interrupted()) return false;
      ++done;
      progress.Clear();
      if (!Statement(s.Text, Where(Name, s.Line))) {
        ok = false;
        if (!force_) return false;
      }
      progress.Update(done, read_bytes);
    }
    statements.clear();
  }
  return ok;
}

}  // namespace rowset::cli
