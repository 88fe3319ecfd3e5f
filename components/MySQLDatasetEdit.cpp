// Editing and posting: the generated change statements, the statement
// runner, cached updates, batches and transactions of TMySQLDatasetBase
// (the rules are described in components/MySQLDataset.h).
#include <cctype>
#include <optional>

#include "components/MySQLDataset.h"
#include "components/MySQLThreads.h"
#include "host/SysUtils.h"
#include "parser/MySQLParser.h"
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

// Text with "LIMIT 1" appended when it is a single-table UPDATE or DELETE
// without a limit of its own; other statements unchanged.
std::string WithLimitOne(const std::string& Text) {
  size_t end = Text.size();
  while (end > 0 && (std::isspace(static_cast<unsigned char>(Text[end - 1])) || Text[end - 1] == ';')) {
    --end;
  }
  const std::string body = Text.substr(0, end);
  const std::string lower = Lower(body);
  const std::string word = FirstWord(body);
  size_t head_start, head_end;
  if (word == "update") {
    head_start = lower.find("update") + 6;
    head_end = lower.find(" set ", head_start);
  } else if (word == "delete") {
    head_start = lower.find(" from ");
    if (head_start == std::string::npos) return Text;
    head_end = lower.find(" where ", head_start);
  } else {
    return Text;
  }
  if (head_end == std::string::npos) return Text;
  const std::string head = lower.substr(head_start, head_end - head_start);
  // Several tables (a join or a list) take no LIMIT.
  if (head.find(',') != std::string::npos || head.find(" join ") != std::string::npos ||
      head.find(" using ") != std::string::npos) {
    return Text;
  }
  if (lower.find(" limit ", head_end) != std::string::npos) return Text;
  return body + " LIMIT 1" + Text.substr(end);
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

bool TMySQLDatasetBase::ExecSQL(const std::string& SQL, bool Expand, bool Cache,
                                const std::string& DatabaseArg, const std::string& TableArg) {
  std::string text = SQL;
  bool fallback = false;
  if (Expand) {
    ParseSQL(SQL);
    key_fallback_ = false;
    text = SQLPopulate(SQL, true, false, DatabaseArg, TableArg);
    fallback = key_fallback_;
  }
  if (text.size() < 3) return true;
  // A condition over every column may match several identical rows.
  if (fallback) text = WithLimitOne(text);
  if (Cache) {
    sql_cached_->Add(text + ";");
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
  TMySQLBase* driver = server_->GetDriver();
  MySQLResultHandle result = driver->OpenQuery(connection_handle_, text);
  ++sent_count_;
  insert_id_text_ = server_->ServerVer() > 32111 ? driver->LastInsertID(connection_handle_) : "0";
  affected_rows_text_ = driver->AffectedRows(connection_handle_);
  std::string info;
  if (check_lost_edit_) info = driver->StatementInfo(connection_handle_);
  driver->CloseQuery(result);
  if (check_lost_edit_) {
    const std::string word = FirstWord(text);
    if (word == "update") {
      std::optional<uint64_t> matched = RowsMatched(info);
      if (matched && *matched == 0) MySQLError(nullptr, nullptr, -1, kLostEdit, -1, -1);
    } else if (word == "delete" && affected_rows_text_ == "0") {
      MySQLError(nullptr, nullptr, -1, kLostEdit, -1, -1);
    }
  }
  return true;
}

bool TMySQLDatasetBase::ExecSQLBatch(const TStrings* Lines, bool Expand, bool Cache, bool /*Flag*/,
                                     const std::string& DatabaseArg, const std::string& TableArg) {
  const std::vector<std::string> statements = SplitScript(Lines->Text());
  bool ok = true;
  for (size_t i = 0; i < statements.size() && ok; ++i) {
    ok = ExecSQL(statements[i], Expand, Cache, DatabaseArg, TableArg);
  }
  return ok;
}

bool TMySQLDatasetBase::ExecSQLBatchPerColumn(const TStrings* Lines, bool Expand, bool Cache,
                                              bool Flag, bool AllTables) {
  if (options_.Contains(doRecursiveUpdates) && table_infos_.Count() >= 2) {
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
  if (sql_cached_->Count() == 0) return;
  const std::vector<std::string> statements = SplitScript(sql_cached_->Text());
  size_t done = 0;
  // Index of the "start transaction" whose bracket is open, if any.
  std::optional<size_t> open_bracket;
  try {
    for (; done < statements.size(); ++done) {
      const std::string word = FirstWord(statements[done]);
      if (word == "start" || word == "begin") open_bracket = done;
      ExecSQL(statements[done], false, false, "", "");
      if (word == "commit" || word == "rollback") open_bracket.reset();
    }
  } catch (...) {
    // Keep only what has not taken effect, so that a retry sends each
    // statement once. A failure inside a transaction undoes all of it (the
    // server rolls back on a lost connection; otherwise rollback is sent
    // here), so the retry starts again at its "start transaction".
    size_t keep_from = done;
    if (open_bracket) {
      keep_from = *open_bracket;
      try {
        if (connection_handle_ != nullptr && server_ != nullptr &&
            server_->GetDriver()->ErrorNo(connection_handle_) != CR_SERVER_LOST &&
            server_->GetDriver()->ErrorNo(connection_handle_) != CR_SERVER_GONE_ERROR) {
          ExecSQL("rollback", false, false, "", "");
        }
      } catch (...) {
      }
    }
    // The held lines stay as they were when each holds one statement.
    std::vector<std::string> kept;
    if (static_cast<size_t>(sql_cached_->Count()) == statements.size()) {
      for (size_t i = keep_from; i < statements.size(); ++i) kept.push_back(sql_cached_->Get(static_cast<int>(i)));
    } else {
      for (size_t i = keep_from; i < statements.size(); ++i) kept.push_back(statements[i] + ";");
    }
    sql_cached_->BeginUpdate();
    sql_cached_->Clear();
    for (const std::string& line : kept) sql_cached_->Add(line);
    sql_cached_->EndUpdate();
    throw;
  }
  sql_cached_->Clear();
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

bool TMySQLDatasetBase::CheckChanged() {
  const std::string keys = UpperCase(field_name_ + "," + primary_key_fields_);
  for (int i = 0; i < field_infos_.Count(); ++i) {
    if (field_infos_[i]->Modified && keys.find(UpperCase(field_infos_.Key(i))) == std::string::npos) {
      return true;
    }
  }
  return false;
}

void TMySQLDatasetBase::MakeChanged() {
  for (int i = 0; i < field_infos_.Count(); ++i) {
    field_infos_[i]->Modified = field_infos_[i]->IsServerColumn;
  }
}

void TMySQLDatasetBase::InternalInsert() {
  const std::string keys = UpperCase(field_name_ + "," + primary_key_fields_);
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (keys.find(UpperCase(info->Name)) != std::string::npos) info->Modified = info->IsServerColumn;
  }
}

namespace {
// Rolls back after a failure; the failure is the error to report.
template <class F>
void GuardedChange(TMySQLDatasetBase& Dataset, bool& InTransaction, F&& Change) {
  try {
    Change();
  } catch (...) {
    try {
      Dataset.RollbackTransaction();
    } catch (...) {
      InTransaction = false;
    }
    throw;
  }
}
}  // namespace

void TMySQLDatasetBase::InternalPost() {
  if (State() == dsEdit) {
    if (!CheckChanged()) MakeChanged();
    GuardedChange(*this, in_transaction_, [&] {
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
  if (!CheckChanged()) MakeChanged();
  GuardedChange(*this, in_transaction_, [&] {
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
    if (rows_ == nullptr) rows_ = std::make_unique<std::vector<TRowValues>>();
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
  GuardedChange(*this, in_transaction_, [&] {
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
