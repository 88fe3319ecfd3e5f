// Editing and posting: the generated change statements, the statement
// runner, cached updates, batches and transactions of TMySQLDatasetBase
// (the rules are described in components/MySQLDataset.h).
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "components/MySQLDataset.h"
#include "components/MySQLThreads.h"
#include "host/SysUtils.h"
#include "parser/MySQLParser.h"
#include "util/MySQLStrUtils.h"
#include "wire/uMysqlCT.h"

namespace rowset {

namespace {

constexpr const char* kLostEdit = "Record not found or changed by another user";

std::string Lower(std::string_view S) {
  std::string out(S);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The first word of a statement, lower-cased.
std::string FirstWord(const std::string& Text) {
  size_t i = 0;
  while (i < Text.size() && std::isspace(static_cast<unsigned char>(Text[i]))) ++i;
  size_t j = i;
  while (j < Text.size() && std::isalpha(static_cast<unsigned char>(Text[j]))) ++j;
  return Lower(std::string_view(Text).substr(i, j - i));
}

// Whether a held statement is a transaction bracket (ApplyUpdates runs the
// whole list in one transaction of its own).
bool IsTransactionControl(const std::string& Text) {
  const std::string word = FirstWord(Text);
  return word == "start" || word == "begin" || word == "commit" || word == "rollback";
}

// A held line without the ";" (and blanks) that end it.
std::string HeldStatement(const std::string& Line) {
  size_t end = Line.size();
  while (end > 0 && (std::isspace(static_cast<unsigned char>(Line[end - 1])) || Line[end - 1] == ';')) {
    --end;
  }
  return Line.substr(0, end);
}

// The matched-rows count of an UPDATE's info text; nullopt without one.
std::optional<uint64_t> RowsMatched(const std::string& Info) {
  const std::string key = "Rows matched:";
  size_t at = Info.find(key);
  if (at == std::string::npos) return std::nullopt;
  at += key.size();
  while (at < Info.size() && Info[at] == ' ') ++at;
  if (at >= Info.size() || !std::isdigit(static_cast<unsigned char>(Info[at]))) return std::nullopt;
  uint64_t n = 0;
  while (at < Info.size() && std::isdigit(static_cast<unsigned char>(Info[at]))) {
    n = n * 10 + static_cast<uint64_t>(Info[at] - '0');
    ++at;
  }
  return n;
}

// Sets a flag for the lifetime of the scope.
class TFlagScope {
 public:
  explicit TFlagScope(bool& Flag) : flag_(Flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The statement runner

EMySQLRecordChanged::EMySQLRecordChanged() : EMySQLError(-1, kLostEdit) {}

bool TMySQLDatasetBase::ExecSQL(const std::string& SQL, bool Expand, bool Cache,
                                const std::string& DatabaseArg, const std::string& TableArg) {
  std::string text = SQL;
  std::vector<TRowCheck> checks;
  if (Expand) {
    ParseSQL(SQL);
    row_checks_.clear();
    text = SQLPopulate(SQL, true, false, DatabaseArg, TableArg);
    checks = std::move(row_checks_);
    row_checks_.clear();
  } else if (apply_checks_ != nullptr) {
    checks = std::move(*apply_checks_);
  }
  if (text.size() < 3) return true;
  const std::string word = FirstWord(text);
  // Only a post's or delete's own UPDATE or DELETE is checked.
  if (!check_lost_edit_ || (word != "update" && word != "delete")) checks.clear();
  if (Cache) {
    sql_cached_->Add(text + ";");
    if (!checks.empty()) held_checks_.emplace_back(text + ";", std::move(checks));
    return true;
  }
  std::optional<TCursorScope> cursor;
  if (UseCursor()) cursor.emplace(cursor_);
  ActivateConnection();
  bool go_on = true;
  if (OnExecSQL) OnExecSQL(this, text, go_on);
  if (!go_on) return true;
  last_statement_ = text;
  if (server_->ServerVer() < 32200 && !text.empty() && text.back() == ';') text.pop_back();
  if (options_.Contains(doThreadedUpdate)) {
    // A worker sends it on a connection of its own; the statements of this
    // dataset reach the server in the order given here.
    HandToWorker(text);
    return true;
  }
  ClearRest();
  CheckConnectionHandle();
  if (!checks.empty()) CheckRowsBefore(checks);
  TMySQLBase* driver = server_->GetDriver();
  MySQLResultHandle result = driver->OpenQuery(connection_handle_, text);
  ++sent_count_;
  insert_id_text_ = server_->ServerVer() > 32111 ? driver->LastInsertID(connection_handle_) : "0";
  affected_rows_text_ = driver->AffectedRows(connection_handle_);
  std::string info;
  if (!checks.empty()) info = driver->StatementInfo(connection_handle_);
  driver->CloseQuery(result);
  if (!checks.empty()) CheckRowsAfter(checks, text, info);
  return true;
}

std::vector<std::vector<std::optional<std::string>>> TMySQLDatasetBase::QueryRows(
    const std::string& SQL) {
  TMySQLBase* driver = server_->GetDriver();
  CheckConnectionHandle();
  std::vector<std::vector<std::optional<std::string>>> rows;
  MySQLResultHandle result = driver->OpenQuery(connection_handle_, SQL);
  if (result == nullptr) return rows;
  try {
    const uint32_t columns = driver->RetrieveColCount(result);
    while (MySQLRow r = driver->RetrieveRow(result)) {
      MySQLLengths l = driver->RetrieveRowFieldLenghts(result);
      std::vector<std::optional<std::string>> values(columns);
      for (uint32_t c = 0; c < columns; ++c) {
        if (r[c] != nullptr) values[c] = std::string(r[c], l != nullptr ? l[c] : std::strlen(r[c]));
      }
      rows.push_back(std::move(values));
    }
    // A server error in place of a row is raised, never read as the end.
    if (driver->ErrorNo(connection_handle_) != 0) {
      MySQLError(driver, connection_handle_, -1, "", -1, -1);
    }
  } catch (...) {
    driver->CloseQuery(result);
    throw;
  }
  driver->CloseQuery(result);
  return rows;
}

void TMySQLDatasetBase::CheckRowsBefore(const std::vector<TRowCheck>& Checks) {
  for (const TRowCheck& check : Checks) {
    if (check.Verified) continue;
    // No complete key: the values held must still single out one row.
    auto rows = QueryRows("SELECT COUNT(*) FROM " + check.Table + " WHERE " + check.Condition);
    uint64_t count = 0;
    if (!rows.empty() && !rows[0].empty() && rows[0][0]) count = std::strtoull(rows[0][0]->c_str(), nullptr, 10);
    if (count == 0) RaiseRecordChanged(check);
    if (count > 1) {
      throw EMySQLError(-1, "Record cannot be identified: " + std::to_string(count) +
                                " rows hold its values (the result has no complete primary or "
                                "unique key)");
    }
  }
}

void TMySQLDatasetBase::CheckRowsAfter(const std::vector<TRowCheck>& Checks, const std::string& Text,
                                       const std::string& Info) {
  std::optional<uint64_t> found;
  if (FirstWord(Text) == "update") {
    // Rows matched, changed or not: writing the value a row already holds is
    // no conflict.
    found = RowsMatched(Info);
  } else {
    found = std::strtoull(affected_rows_text_.c_str(), nullptr, 10);
  }
  if (!found) return;
  if (*found == 0) RaiseRecordChanged(Checks.front());
  if (*found > Checks.size()) {
    throw EMySQLError(-1, "Record cannot be identified: the change found " + std::to_string(*found) +
                              " rows");
  }
}

void TMySQLDatasetBase::RaiseRecordChanged(const TRowCheck& Check) {
  EMySQLRecordChanged error;
  error.Columns = Check.Columns;
  error.HeldValues = Check.Held;
  error.PostedValues = Check.Posted;
  error.ServerValues.assign(Check.Columns.size(), std::nullopt);
  if (!Check.KeyCondition.empty() && !Check.SqlNames.empty()) {
    std::string names;
    for (const std::string& name : Check.SqlNames) names += (names.empty() ? "" : ",") + name;
    try {
      auto rows = QueryRows("SELECT " + names + " FROM " + Check.Table + " WHERE " + Check.KeyCondition);
      if (rows.size() == 1 && rows[0].size() == Check.SqlNames.size()) {
        error.ServerRowFound = true;
        error.ServerValues = std::move(rows[0]);
      }
    } catch (const EMySQLError&) {
      // The conflict is the error to report; the other version stays unknown.
    }
  }
  throw error;
}

bool TMySQLDatasetBase::ExecSQLBatch(const TStrings* Lines, bool Expand, bool Cache, bool /*Flag*/,
                                     const std::string& DatabaseArg, const std::string& TableArg) {
  // The change templates are split once (the split does not depend on the
  // macro markers: the entry is the text's alone).
  const std::string text = Lines->Text();
  TReadTemplate* read = ReadTemplate(text, std::string(), std::string());
  std::shared_ptr<const std::vector<std::string>> statements = read ? read->Statements : nullptr;
  if (!statements) {
    statements =
        std::make_shared<const std::vector<std::string>>(SplitScript(text, nullptr, BackslashEscapes()));
    if (read != nullptr) read->Statements = statements;
  }
  bool ok = true;
  for (size_t i = 0; i < statements->size() && ok; ++i) {
    ok = ExecSQL((*statements)[i], Expand, Cache, DatabaseArg, TableArg);
  }
  return ok;
}

bool TMySQLDatasetBase::ExecSQLBatchPerColumn(const TStrings* Lines, bool Expand, bool Cache,
                                              bool Flag, bool AllTables) {
  if (options_.Contains(doRecursiveUpdates) && table_infos_.Count() >= 2) {
    if (AllTables) {
      // A delete removes the record from the table the dataset edits only:
      // the joined rows (an order line's customer) belong to other records.
      TTableInfo* table = EditTable();
      if (table == nullptr) return ExecSQLBatch(Lines, Expand, Cache, Flag, "", "");
      return ExecSQLBatch(Lines, Expand, Cache, Flag, table->Database, table->QualifiedName);
    }
    bool ok = true;
    for (int t = 0; t < table_infos_.Count() && ok; ++t) {
      TTableInfo* table = table_infos_[t];
      for (int i = 0; i < field_infos_.Count(); ++i) {
        TFieldInfo* info = field_infos_[i];
        if (!SameText(info->Table, table->Table) || !(AllTables || info->Modified)) continue;
        ok = ExecSQLBatch(Lines, Expand, Cache, Flag, info->Database, table->QualifiedName);
        break;
      }
    }
    return ok;
  }
  return ExecSQLBatch(Lines, Expand, Cache, Flag, "", "");
}

bool TMySQLDatasetBase::ExecBatch() {
  return ExecSQLBatch(sql_batch_.get(), options_.Contains(doMacrosEnabled), CachedUpdates(), false,
                      "", "");
}

void TMySQLDatasetBase::ApplyUpdates() {
  // A transaction of its own that the server rolled back as a deadlock or a
  // Galera certification failure (or a node not ready) is run again as a
  // whole, up to the component's TransactionRetries times; the list is
  // kept intact by a failed run.
  const int32_t retries = server_ != nullptr ? server_->TransactionRetries() : 0;
  for (int32_t attempt = 0;; ++attempt) {
    try {
      ApplyHeldOnce();
      return;
    } catch (const EMySQLError& e) {
      if (!e.Retryable() || !apply_own_transaction_ || attempt >= retries) throw;
    }
  }
}

void TMySQLDatasetBase::ApplyHeldOnce() {
  apply_own_transaction_ = false;
  if (sql_cached_->Count() == 0) return;
  // One held statement per line, run as it stands: never cut again by a
  // tokenizer, whose reading of quotes and backslashes need not be the
  // session's.
  struct Held {
    std::string text;
    std::vector<TRowCheck> checks;
  };
  std::vector<Held> held;
  std::vector<bool> taken(held_checks_.size(), false);
  for (int i = 0; i < sql_cached_->Count(); ++i) {
    const std::string line = sql_cached_->Get(i);
    Held h{HeldStatement(line), {}};
    if (h.text.size() < 3 || IsTransactionControl(h.text)) continue;
    for (size_t k = 0; k < held_checks_.size(); ++k) {
      if (taken[k] || held_checks_[k].first != line) continue;
      taken[k] = true;
      h.checks = held_checks_[k].second;
      break;
    }
    held.push_back(std::move(h));
  }
  // The whole list in one transaction of its own (its held brackets are
  // dropped: one transaction holds them all): a failure, a lost edit
  // included, undoes all of it and the list stays for a retry.
  ActivateConnection();
  // Inside a transaction already open on the connection (the dataset's or
  // the application's own) a "start transaction" would commit that work
  // first: the list then runs under a savepoint of it instead.
  bool outer = in_transaction_;
  const bool transactions = server_ != nullptr && server_->ServerVer() >= 40011;
  if (transactions && !outer) {
    try {
      auto rows = QueryRows("select @@in_transaction, @@autocommit");
      if (rows.size() == 1 && rows[0].size() == 2)
        outer = (rows[0][0] && *rows[0][0] != "0") || (rows[0][1] && *rows[0][1] == "0");
    } catch (const EMySQLError&) {
      // A server without @@in_transaction: none is known to be open.
    }
  }
  const bool own = transactions && !outer;
  const bool savepoint = transactions && outer;
  apply_own_transaction_ = own;
  size_t done = 0;
  try {
    if (own) ExecSQL("start transaction", false, false, "", "");
    if (savepoint) ExecSQL("savepoint rowset_apply", false, false, "", "");
    for (; done < held.size(); ++done) {
      TFlagScope check(check_lost_edit_);
      apply_checks_ = &held[done].checks;
      try {
        ExecSQL(held[done].text, false, false, "", "");
      } catch (...) {
        apply_checks_ = nullptr;
        throw;
      }
      apply_checks_ = nullptr;
    }
    if (own) ExecSQL("commit", false, false, "", "");
    if (savepoint) ExecSQL("release savepoint rowset_apply", false, false, "", "");
  } catch (...) {
    if (own || savepoint) {
      bool lost = false;
      try {
        const uint32_t code = connection_handle_ != nullptr
                                  ? server_->GetDriver()->ErrorNo(connection_handle_)
                                  : 0;
        lost = code == CR_SERVER_LOST || code == CR_SERVER_GONE_ERROR || code == 2055;
        if (connection_handle_ != nullptr && !lost) {
          ExecSQL(own ? "rollback" : "rollback to savepoint rowset_apply", false, false, "", "");
        }
      } catch (...) {
      }
      if (lost) {
        // The transaction went with the session; the list stays for the
        // application to run again on a new connection, never replayed here.
        std::string reason;
        int32_t code = -1;
        try {
          throw;
        } catch (const EMySQLError& e) {
          reason = e.what();
          code = e.ErrorCode();
        } catch (const std::exception& e) {
          reason = e.what();
        } catch (...) {
        }
        throw EMySQLTransactionLost(reason, code);
      }
    } else {
      // Without a transaction what was sent stays sent: keep the rest only,
      // so that a retry sends each statement once.
      std::vector<std::string> kept;
      for (size_t i = done; i < held.size(); ++i) kept.push_back(held[i].text + ";");
      sql_cached_->BeginUpdate();
      sql_cached_->Clear();
      for (const std::string& line : kept) sql_cached_->Add(line);
      sql_cached_->EndUpdate();
    }
    throw;
  }
  sql_cached_->Clear();
  held_checks_.clear();
}

// ---------------------------------------------------------------------------
// Transactions

bool TMySQLDatasetBase::TransactionsActive() {
  if (!options_.Contains(doTransactions) || server_ == nullptr) return false;
  // The server's version decides, and it is known only once connected: a
  // change must not run outside its transaction because nothing was read
  // yet (a failing connect raises).
  if (server_->ServerVer() == 0) ActivateConnection();
  return server_->ServerVer() >= 40011;
}

void TMySQLDatasetBase::StartTransaction() {
  if (!TransactionsActive()) return;
  if (in_transaction_) CommitTransaction();
  ExecSQL("start transaction;", options_.Contains(doMacrosEnabled), CachedUpdates(), "", "");
  in_transaction_ = true;
}

void TMySQLDatasetBase::CommitTransaction() {
  if (!TransactionsActive()) return;
  if (!in_transaction_) StartTransaction();
  ExecSQL("commit;", options_.Contains(doMacrosEnabled), CachedUpdates(), "", "");
  in_transaction_ = false;
}

void TMySQLDatasetBase::RollbackTransaction() {
  if (!TransactionsActive()) return;
  if (!in_transaction_) StartTransaction();
  ExecSQL("rollback;", options_.Contains(doMacrosEnabled), CachedUpdates(), "", "");
  in_transaction_ = false;
}

// ---------------------------------------------------------------------------
// Record-level changes

namespace {
// Whether a comma (or semicolon) list holds Name as a whole entry.
bool HasEntry(const std::string& List, const std::string& Name) {
  for (uint8_t n = 1; n < 255; ++n) {
    std::string word = WordInStr(n, List, ",;");
    if (word.empty()) return false;
    if (SameText(word, Name)) return true;
  }
  return false;
}
}  // namespace

bool TMySQLDatasetBase::CheckChanged() {
  const std::string keys = field_name_ + "," + primary_key_fields_;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    if (field_infos_[i]->Modified && !HasEntry(keys, field_infos_.Key(i))) return true;
  }
  return false;
}

void TMySQLDatasetBase::MakeChanged() {
  for (int i = 0; i < field_infos_.Count(); ++i) {
    field_infos_[i]->Modified = field_infos_[i]->IsServerColumn;
  }
}

void TMySQLDatasetBase::InternalInsert() {
  // A new record's columns take part once they are given a value (or a
  // default, InternalInitRecord); a key left unset is left to the server
  // (an auto-increment id, a default), never written as NULL.
}

namespace {
// Rolls back after a failure; the failure is the error to report.
template <class F>
void GuardedChange(TMySQLDatasetBase& Dataset, bool& InTransaction, TStrings& Cached,
                   std::vector<std::pair<std::string, std::vector<TRowCheck>>>& HeldChecks,
                   bool Caching, F&& Change) {
  const int held = Cached.Count();
  const size_t checks = HeldChecks.size();
  try {
    Change();
  } catch (...) {
    if (Caching) {
      // Held back, nothing reached the server: the change's own lines go
      // (a held rollback would leave its statements to be applied).
      while (Cached.Count() > held) Cached.Delete(Cached.Count() - 1);
      if (HeldChecks.size() > checks) HeldChecks.resize(checks);
      InTransaction = false;
      throw;
    }
    try {
      Dataset.RollbackTransaction();
    } catch (...) {
      InTransaction = false;
    }
    throw;
  }
}
}  // namespace

void TMySQLDatasetBase::DropUnchanged() {
  TRecInfo* rec = nullptr;
  if (!old_values_ || !GetActiveRecBuf(rec)) return;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (info->Modified && rec->Data.Get(i) == old_values_->Data.Get(i)) info->Modified = false;
  }
}

void TMySQLDatasetBase::InternalPost() {
  if (State() == dsEdit) {
    DropUnchanged();
    // Only what changed is written; nothing changed sends nothing.
    bool changed = false;
    for (int i = 0; i < field_infos_.Count(); ++i) changed = changed || field_infos_[i]->Modified;
    if (changed) GuardedChange(*this, in_transaction_, *sql_cached_, held_checks_, CachedUpdates(), [&] {
      StartTransaction();
      {
        TFlagScope check(check_lost_edit_);
        ExecSQLBatchPerColumn(sql_update_.get(), options_.Contains(doMacrosEnabled), CachedUpdates(),
                              false, false);
      }
      CommitTransaction();
    });
    if (result_type_ != rtLocal) ResyncResult();
  } else if (State() == dsInsert) {
    InternalAddRecord(ActiveBuffer(), false);
  }
  old_values_.reset();
  ClearModified();
}

void TMySQLDatasetBase::InternalAddRecord(TRecordBuffer Buffer, bool /*Append*/) {
  // Only the columns given a value are written: the others take the
  // server's defaults.
  GuardedChange(*this, in_transaction_, *sql_cached_, held_checks_, CachedUpdates(), [&] {
    StartTransaction();
    const uint64_t sent_before = sent_count_;
    bool ok = ExecSQLBatchPerColumn(sql_insert_.get(), options_.Contains(doMacrosEnabled),
                                    CachedUpdates(), false, false);
    if (!ok) {
      RollbackTransaction();
      return;
    }
    if (result_type_ != rtLocal) {
      ResyncResult();
      CommitTransaction();
      return;
    }
    // The insert id only when this insert really reached the server.
    std::string insert_id = "0";
    if (sent_count_ != sent_before && server_ != nullptr && connection_handle_ != nullptr &&
        server_->ServerVer() > 32111) {
      insert_id = server_->GetDriver()->LastInsertID(connection_handle_);
    }
    TRecInfo* source = RecInfo(Buffer);
    TRowValues row(field_infos_.Count());
    for (int i = 0; i < field_infos_.Count(); ++i) {
      TFieldInfo* info = field_infos_[i];
      std::optional<std::string_view> value = source->Data.Get(i);
      const bool has_value = value.has_value() && !((info->Flags & BLOB_FLAG) && value->empty());
      if ((info->Flags & AUTO_INCREMENT_FLAG) && insert_id != "0") {
        // The server's id, also when the record held none for the column.
        insert_id_text_ = insert_id;
        row.Set(i, insert_id);
      } else if (has_value && info->Modified) {
        row.Set(i, value);
      }
    }
    // Committed before the local rows change: a failing commit leaves them
    // as they were.
    CommitTransaction();
    if (rows_ == nullptr) rows_ = std::make_unique<TRowList>();
    const int64_t count = FetchedCount();
    if (current_rec_ >= 0) {
      if (current_rec_ > count) current_rec_ = count;
      if (current_rec_ < row_base_) current_rec_ = row_base_;
      rows_->insert(rows_->begin() + (current_rec_ - row_base_), std::move(row));
    } else {
      current_rec_ = 0;
      rows_->push_back(std::move(row));
    }
    // A row's bookmark is its index, so the rows after it are renumbered
    // by the insertion itself.
    ClearModified();
  });
}

void TMySQLDatasetBase::InternalDelete() {
  GuardedChange(*this, in_transaction_, *sql_cached_, held_checks_, CachedUpdates(), [&] {
    StartTransaction();
    bool ok;
    {
      TFlagScope check(check_lost_edit_);
      ok = ExecSQLBatchPerColumn(sql_delete_.get(), options_.Contains(doMacrosEnabled),
                                 CachedUpdates(), false, true);
    }
    if (ok && result_type_ != rtLocal) ResyncResult();
    // Committed before the local rows change: a failing commit leaves them
    // as they were.
    CommitTransaction();
    if (ok && result_type_ == rtLocal && rows_ != nullptr) {
      if (current_rec_ >= row_base_ && current_rec_ < FetchedCount()) {
        rows_->erase(rows_->begin() + (current_rec_ - row_base_));
      }
      if (current_rec_ >= FetchedCount()) current_rec_ = FetchedCount() - 1;
      if (current_rec_ < 0) current_rec_ = 0;
    }
  });
}

}  // namespace rowset
