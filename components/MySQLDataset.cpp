// Datasets: construction, properties, the connection, opening, fetching,
// closing and re-reading.
#include "components/MySQLDataset.h"

#include <algorithm>
#include <cstring>

#include "components/MySQLMacros.h"
#include "components/MySQLThreads.h"
#include "host/Threads.h"
#include "host/SysUtils.h"
#include "parser/MySQLParser.h"
#include "util/MySQLStrUtils.h"

namespace rowset {

namespace {

// Adds each comma-separated member of Value found in Members (position k,
// letter case ignored) as bit k of a 16-bit mask.
std::string SetMaskText(std::string_view Value, const TStringList& Members) {
  uint32_t mask = 0;
  size_t at = 0;
  while (at <= Value.size()) {
    size_t comma = Value.find(',', at);
    if (comma == std::string_view::npos) comma = Value.size();
    std::string member(Value.substr(at, comma - at));
    int k = Members.IndexOf(member);
    if (k >= 0 && k < 16) mask |= 1u << k;
    at = comma + 1;
  }
  return std::to_string(mask);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

// ---------------------------------------------------------------------------
// TSQLStringList

namespace {
// The lines a text is split into, as TStrings::SetText splits it.
std::vector<std::string> SplitLines(const std::string& Value) {
  std::vector<std::string> lines;
  size_t i = 0, n = Value.size();
  while (i < n) {
    size_t start = i;
    while (i < n && Value[i] != '\r' && Value[i] != '\n') ++i;
    lines.push_back(Value.substr(start, i - start));
    if (i < n && Value[i] == '\r') ++i;
    if (i < n && Value[i] == '\n') ++i;
  }
  return lines;
}
}  // namespace

std::string TSQLStringList::Text() const {
  bool same = static_cast<size_t>(Count()) == lines_.size();
  for (int i = 0; same && i < Count(); ++i) same = Get(i) == lines_[static_cast<size_t>(i)];
  if (!same || text_.empty()) return TStringList::Text();
  if (text_.back() == '\n' || text_.back() == '\r') return text_;
  return text_ + "\r\n";
}

void TSQLStringList::SetText(const std::string& Value) {
  // Recorded first, so that change handlers already read the new text.
  std::string old_text = std::move(text_);
  std::vector<std::string> old_lines = std::move(lines_);
  text_ = Value;
  lines_ = SplitLines(Value);
  try {
    TStringList::SetText(Value);
  } catch (...) {
    text_ = std::move(old_text);
    lines_ = std::move(old_lines);
    throw;
  }
}

void TSQLStringList::Assign(TPersistent* Source) {
  if (auto* other = dynamic_cast<TSQLStringList*>(Source)) {
    if (other != this) SetText(other->Text());
    return;
  }
  TStringList::Assign(Source);
}

// ---------------------------------------------------------------------------

TMySQLDatasetBase::TMySQLDatasetBase(TComponent* AOwner) : TDataSet(AOwner) {
  custom_field_defs_ = std::make_unique<TFieldDefs>(this);
  macros_ = std::make_unique<TParams>(this);
  master_field_pairs_ = std::make_unique<TStringList>();
  master_link_ = std::make_unique<TMasterDataLink>(this);
  // A master field the master lacks compares the detail column with NULL.
  master_link_->SkipMissingFields = true;
  databases_ = std::make_unique<TStringList>();
  databases_->SetSorted(true);
  databases_->SetDuplicates(dupIgnore);
  for (auto* list : {&sql_, &sql_update_, &sql_insert_, &sql_delete_, &sql_batch_, &sql_cached_}) {
    *list = std::make_unique<TSQLStringList>();
  }
  SetMacroDel("[,]");
  const std::string& s = macro_start_;
  const std::string& e = macro_end_;
  sql_->SetText(DefaultSelectText(s, e));
  sql_update_->SetText(DefaultUpdateText(s, e));
  sql_insert_->SetText(DefaultInsertText(s, e));
  sql_delete_->SetText(DefaultDeleteText(s, e));
  for (auto* list : {&sql_, &sql_update_, &sql_insert_, &sql_delete_, &sql_batch_}) {
    (*list)->OnChange = [this](TObject* Sender) { SQLChange(Sender); };
  }
  master_link_->OnMasterChange = [this](TObject* Sender) { MasterChanged(Sender); };
  master_link_->OnMasterDisable = [this](TObject* Sender) { MasterDisabled(Sender); };
  // The macros of the default templates (JOIN, WHERE, ORDER, ...) are
  // there to be given values.
  ParseAllSQL();
  TThreadedOpen& unused = ThreadedOpen();
  (void)unused;
  // The connection component creates its named datasets through this.
  if (!TMySQLServer::DatasetFactory()) {
    TMySQLServer::DatasetFactory() = [] { return std::make_unique<TMySQLDataset>(); };
  }
}

TMySQLDatasetBase::~TMySQLDatasetBase() {
  CloseInDestructor();
  DropBlobStreams(true);
  try {
    if (server_ != nullptr) {
      DeactivateConnection();
      if (registered_) {
        server_->UnRegisterClient(this);
        server_->RemoveFreeNotification(this);
      }
      server_ = nullptr;
    }
  } catch (...) {
    ApplicationHandleException(this);
  }
  for (auto* list : {&sql_, &sql_update_, &sql_insert_, &sql_delete_, &sql_batch_}) {
    (*list)->OnChange = nullptr;
  }
}

TMySQLTable::TMySQLTable(TComponent* AOwner) : TMySQLDatasetBase(AOwner) {
  options_ = kDefaultTableOptions;
}

// So that named datasets work even when no dataset was constructed before.
static const bool kFactoryInstalled = [] {
  if (!TMySQLServer::DatasetFactory()) {
    TMySQLServer::DatasetFactory() = [] { return std::make_unique<TMySQLDataset>(); };
  }
  return true;
}();

TMySQLDatasetBase::TThreadedOpen& TMySQLDatasetBase::ThreadedOpen() {
  static TThreadedOpen hook = [](TMySQLDatasetBase* Dataset, TNotifyEvent OnOpened, bool Wait) {
    ThreadDatasetOpen(Dataset, std::move(OnOpened), Wait);
  };
  return hook;
}

// ---------------------------------------------------------------------------
// Properties

TMySQLBase* TMySQLDatasetBase::Driver() const {
  return server_ != nullptr ? server_->GetDriver() : nullptr;
}

void TMySQLDatasetBase::SetDatabaseName(const std::string& Value) {
  if (Value == database_name_) return;
  Close();
  database_name_ = Value;
}

void TMySQLDatasetBase::SetServer(TMySQLServer* Value) {
  if (Value == server_) return;
  Close();
  if (server_ != nullptr) {
    DeactivateConnection();
    if (registered_) {
      server_->UnRegisterClient(this);
      server_->RemoveFreeNotification(this);
    }
  }
  server_ = Value;
  registered_ = false;
  if (server_ != nullptr && IsMainThread()) {
    server_->RegisterClient(this, [this](TObject* Sender, bool Connecting) {
      ConnectEvent(Sender, Connecting);
    });
    server_->FreeNotification(this);
    registered_ = true;
  }
}

void TMySQLDatasetBase::Notification(TComponent* AComponent, TOperation Operation) {
  TDataSet::Notification(AComponent, Operation);
  // A component being destroyed detaches its datasets itself; this only
  // drops the pointer should it ever not have done so.
  if (Operation == opRemove && AComponent == server_) {
    server_ = nullptr;
    connection_handle_ = nullptr;
    result_handle_ = nullptr;
  }
}

void TMySQLDatasetBase::SetCachedUpdates(bool Value) {
  if (Value == CachedUpdates()) return;
  if (!Value) {
    if (Active()) InternalRefresh();
    options_.Exclude(doCachedUpdates);
    DataEvent(deDataSetChange, 0);
  } else {
    options_.Include(doCachedUpdates);
  }
}

void TMySQLDatasetBase::SetFieldName(const std::string& Value) {
  if (!SameText(Value, field_name_)) field_name_ = Value;
}

void TMySQLDatasetBase::SetOptions(TMySQLDatasetOptions Value) {
  Close();
  options_ = Value;
  // As SetShareConnection: the shared connection carries only local results
  // (an incremental one would leave it busy for the component).
  if (options_.Contains(doShareConnection)) result_type_ = rtLocal;
}

void TMySQLDatasetBase::SetParamCheck(bool Value) {
  if (Value) {
    options_.Include(doMacroCheck);
  } else {
    options_.Exclude(doMacroCheck);
  }
}

void TMySQLDatasetBase::SetRawData(bool Value) {
  Close();
  FieldDefs()->Clear();
  DestroyFields();
  if (Value) {
    options_.Include(doFieldsAsString);
  } else {
    options_.Exclude(doFieldsAsString);
  }
}

void TMySQLDatasetBase::SetReadOnly(bool Value) {
  if (Value == read_only_) return;
  read_only_ = Value;
  DataEvent(deDataSetChange, 0);
}

void TMySQLDatasetBase::SetResultType(TMySQLResultOptions Value) {
  if (Value == result_type_) return;
  Close();
  result_type_ = Value;
  if (Value != rtLocal) SetShareConnection(false);
}

void TMySQLDatasetBase::SetShareConnection(bool Value) {
  if (Value == ShareConnection()) return;
  Close();
  if (Value) {
    options_.Include(doShareConnection);
    result_type_ = rtLocal;
  } else {
    options_.Exclude(doShareConnection);
  }
}

void TMySQLDatasetBase::SetTableName(const std::string& Value) {
  if (Value == table_name_) return;
  Close();
  table_name_ = Value;
}

void TMySQLDatasetBase::SetUseCursor(bool Value) {
  if (Value) {
    options_.Include(doUseCursor);
  } else {
    options_.Exclude(doUseCursor);
  }
}

void TMySQLDatasetBase::ExcludeRetrieveOptions() {
  options_.Exclude(doRetrieveFieldValues);
  options_.Exclude(doRetrieveIndexDefs);
}

TDataSource* TMySQLDatasetBase::GetDataSource() const { return master_link_->DataSource(); }

bool TMySQLDatasetBase::ConstraintsStored() { return Constraints()->Count() > 0; }

bool TMySQLDatasetBase::CustomFieldDefsStored() const { return custom_field_defs_->Count() > 0; }

bool TMySQLDatasetBase::FieldDefsStored() {
  return options_.Contains(doAutoCreate) && !table_name_.empty() && FieldDefs()->Count() > 0;
}

bool TMySQLDatasetBase::IndexDefsStored() {
  return options_.Contains(doAutoCreate) && !table_name_.empty() && IndexDefs()->Count() > 0;
}

void TMySQLDatasetBase::DefineProperties(TFiler* Filer) {
  TDataSet::DefineProperties(Filer);
  auto option = [this](TMySQLDatasetOption Option) {
    return [this, Option](TReader& Reader) {
      if (Reader.ReadBoolean()) {
        options_.Include(Option);
      } else {
        options_.Exclude(Option);
      }
    };
  };
  Filer->DefineProperty("AllFieldValues", option(doRetrieveFieldValues), nullptr, false);
  Filer->DefineProperty("MacrosEnabled", option(doMacrosEnabled), nullptr, false);
}

void TMySQLDatasetBase::SQLChange(TObject* Sender) {
  if (Sender == sql_.get() && Active()) Close();
  ParseAllSQL();
}

// ---------------------------------------------------------------------------
// Connection

void TMySQLDatasetBase::ActivateConnection() {
  if (Active()) return;
  if (server_ == nullptr) {
    MySQLError(nullptr, nullptr, -1, "No dataset server selected for open", -1, -1);
  }
  if (!server_->GetConnected()) {
    // Only the main thread connects the component.
    if (IsMainThread()) server_->SetConnected(true);
    if (!server_->GetConnected()) {
      MySQLError(server_->GetDriver(), nullptr, -1, "Dataset server could not connect", -1, -1);
    }
  }
  if (ShareConnection()) {
    connection_handle_ = server_->GetDriver()->GetConnection();
  } else if (connection_handle_ == nullptr) {
    // A read-only dataset reads from a replica under hmReplication.
    connection_handle_ = server_->AllocConnection(read_only_);
  }
  if (connection_handle_ == nullptr) {
    MySQLError(server_->GetDriver(), nullptr, -1, "No server connection", -1, -1);
  }
  // A shared connection has the dataset's database selected only while its
  // statements run (InternalOpenResultBlock).
  if (!IsCursorOpen() && !ShareConnection()) {
    server_->SelectDatabase(database_name_, connection_handle_);
  }
}

bool TMySQLDatasetBase::UsesForeignDatabase() const {
  return ShareConnection() && server_ != nullptr && !database_name_.empty() &&
         !SameText(database_name_, server_->DatabaseName());
}

void TMySQLDatasetBase::CheckConnectionHandle() {
  // The connection can go while the dataset opens (a service called from
  // OnExecSQL, a disconnect): a statement never sent is an error, not an
  // empty result.
  if (connection_handle_ == nullptr) {
    MySQLError(server_ != nullptr ? server_->GetDriver() : nullptr, nullptr, -1,
               "No server connection", -1, -1);
  }
}

void TMySQLDatasetBase::DeactivateConnection() {
  if (server_ == nullptr || connection_handle_ == nullptr) return;
  std::exception_ptr error;
  try {
    ClearRest();
  } catch (...) {
    error = std::current_exception();
    // The result cannot be read to its end; give it up with the connection.
    result_handle_ = nullptr;
    all_fetched_ = true;
  }
  server_->FreeConnection(connection_handle_);
  connection_handle_ = nullptr;
  if (error) std::rethrow_exception(error);
}

void TMySQLDatasetBase::ConnectEvent(TObject* Sender, bool Connecting) {
  if (!Connecting && Active()) Close();
  if (!Connecting && !Active() && connection_handle_ != nullptr) {
    // A handle left over by reading field definitions.
    DeactivateConnection();
  }
}

void TMySQLDatasetBase::Execute(bool Wait) {
  if (options_.Contains(doThreadedUpdate) && ThreadedOpen()) {
    ThreadedOpen()(this, OnThreadOpened, Wait);
    return;
  }
  Open();
  if (OnThreadOpened) OnThreadOpened(this);
}

// ---------------------------------------------------------------------------
// Opening

void TMySQLDatasetBase::InternalOpen() {
  ActivateConnection();
  if (options_.Contains(doAutoCreate) && !table_name_.empty()) CreateTable(true);
  InternalOpenResult();
  current_rec_ = -1;
  InternalInitFieldDefs();
  if (DefaultFields()) CreateFields();
  for (TField* field : Fields()) {
    TFieldInfo* info = field_infos_.Find(field->FieldName());
    field->SetOrigin(info != nullptr ? info->FullName : field->FieldName());
  }
  BindFields(true);
  SetBookmarkSize(8);
}

void TMySQLDatasetBase::InternalOpenResult() {
  std::optional<TCursorScope> cursor;
  if (UseCursor()) cursor.emplace(cursor_);
  if (rows_ == nullptr) {
    if (sql_->Count() == 0) MySQLError(nullptr, nullptr, -1, "Must have SQL", -1, -1);
    InternalOpenResultBlock();
  }
}

void TMySQLDatasetBase::InternalOpenResultBlock() {
  // On the shared connection the dataset's own database is selected for its
  // statements and the component's selected again afterwards, so that the
  // component and the other datasets keep working in theirs.
  bool switch_database = UsesForeignDatabase();
  if (switch_database) {
    CheckConnectionHandle();
    server_->SelectDatabase(database_name_, connection_handle_);
  }
  try {
    RunStatements();
  } catch (...) {
    if (switch_database && connection_handle_ != nullptr) {
      try {
        server_->SelectDatabase(server_->DatabaseName(), connection_handle_);
      } catch (...) {
        // The statement's error is the one to report.
      }
    }
    throw;
  }
  if (switch_database && connection_handle_ != nullptr) {
    server_->SelectDatabase(server_->DatabaseName(), connection_handle_);
  }
}

void TMySQLDatasetBase::RunStatements() {
  TMySQLBase* driver = server_->GetDriver();
  const std::vector<std::string> statements = SplitScript(sql_->Text(), nullptr, BackslashEscapes());
  for (size_t i = 0; i < statements.size(); ++i) {
    bool go_on = true;
    std::string text = statements[i];
    if (options_.Contains(doMacrosEnabled)) {
      text = SQLPopulate(text, true, false, "", "");
    }
    statement_text_ = text;
    if (OnExecSQL) {
      OnExecSQL(this, statement_text_, go_on);
      if (!go_on) Abort();
    }
    last_statement_ = statement_text_;
    if (server_->ServerVer() < 32200 && !statement_text_.empty() && statement_text_.back() == ';') {
      statement_text_.pop_back();
    }
    ClearRest();
    CheckConnectionHandle();
    result_handle_ = driver->OpenQuery(connection_handle_, statement_text_);
    affected_rows_text_ = driver->AffectedRows(connection_handle_);
  }
  record_size_ = 0;
  RecInfoClear();
  rows_.reset();
  row_base_ = 0;
  databases_->Clear();
  TableInfoClear();
  FieldInfoClear();
  rows_ = std::make_unique<TRowList>();
  if (result_handle_ == nullptr) {
    all_fetched_ = true;
    return;
  }
  ReadColumns();
  all_fetched_ = false;
  if (result_type_ == rtLocal) GetRest();
}

// ---------------------------------------------------------------------------
// Fetching

void TMySQLDatasetBase::GetNextRow() {
  if (result_handle_ == nullptr) {
    all_fetched_ = true;
    return;
  }
  TMySQLBase* driver = server_->GetDriver();
  MySQLRow row = nullptr;
  MySQLLengths lengths = nullptr;
  try {
    row = driver->RetrieveRowWithLengths(result_handle_, lengths);
  } catch (...) {
    // The driver raised the server's error: the result is over, the rows read
    // so far stay.
    DropResult();
    throw;
  }
  all_fetched_ = row == nullptr;
  if (row != nullptr) {
    int columns = field_infos_.Count();
    int64_t bookmark = FetchedCount();
    // A unidirectional result frees each row on its own as the next arrives.
    TRowArena* arena = result_type_ == rtUnidirectional ? nullptr : &arena_;
    // The fast path: every column is a server column and no NULL needs a
    // value from OnCustomValue.
    bool plain = server_columns_ == columns;
    if (plain && OnCustomValue) {
      for (int i = 0; i < columns && plain; ++i) plain = row[i] != nullptr;
    }
    TRowValues values;
    if (plain) {
      values = TRowValues::FromRow(columns, row, lengths, arena);
    } else {
      std::vector<const char*> texts(static_cast<size_t>(columns), nullptr);
      std::vector<unsigned long> sizes(static_cast<size_t>(columns), 0);
      std::vector<std::string> custom(static_cast<size_t>(columns));
      for (int i = 0; i < columns; ++i) {
        TFieldInfo* info = field_infos_[i];
        if (info->IsServerColumn && i < server_columns_ && row[i] != nullptr) {
          texts[i] = row[i];
          sizes[i] = lengths[i];
          continue;
        }
        if (OnCustomValue) {
          OnCustomValue(this, info->Name, bookmark, custom[i]);
          if (!custom[i].empty()) {
            texts[i] = custom[i].data();
            sizes[i] = custom[i].size();
          }
        }
      }
      values = TRowValues::FromRow(columns, texts.data(), sizes.data(), arena);
    }
    if (result_type_ == rtUnidirectional && !rows_->empty()) {
      // Only the newest row is kept; the counter keeps the numbering.
      row_base_ += static_cast<int64_t>(rows_->size());
      rows_->clear();
    }
    rows_->push_back(std::move(values));
    return;
  }

  // No more rows, or the connection failed: a failure is not the end of the
  // rows, it is raised (the rows read so far stay).
  std::exception_ptr failure;
  if (driver->ErrorNo(connection_handle_) != 0) {
    // Composed while the connection still holds the error.
    try {
      MySQLError(driver, connection_handle_, -1, "", -1, -1);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  driver->CloseQuery(result_handle_);
  result_handle_ = nullptr;
  if (failure) std::rethrow_exception(failure);
  // The result is done; learn what the server can tell about the columns.
  if (options_.Contains(doRetrieveFieldValues)) {
    for (int t = 0; t < table_infos_.Count(); ++t) RetrieveFieldValues(table_infos_[t]);
  }
  if (options_.Contains(doRetrieveIndexDefs)) RetrieveIndexDefs();
}

std::optional<std::vector<std::vector<std::optional<std::string>>>>
TMySQLDatasetBase::MetadataRows(const std::string& SQL, uint32_t Columns) {
  TMySQLBase* driver = server_->GetDriver();
  if (connection_handle_ == nullptr) return std::nullopt;
  std::vector<std::vector<std::optional<std::string>>> rows;
  MySQLResultHandle result = nullptr;
  try {
    result = driver->OpenQuery(connection_handle_, SQL);
    if (result == nullptr) return std::nullopt;
    // An answer narrower than expected is not what was asked for: its rows
    // are not indexed beyond their width.
    bool wide_enough = driver->RetrieveColCount(result) >= Columns;
    while (MySQLRow r = driver->RetrieveRow(result)) {
      if (!wide_enough) continue;
      MySQLLengths l = driver->RetrieveRowFieldLenghts(result);
      std::vector<std::optional<std::string>> values(Columns);
      for (uint32_t c = 0; c < Columns; ++c) {
        if (r[c] != nullptr) values[c] = std::string(r[c], l != nullptr ? l[c] : std::strlen(r[c]));
      }
      rows.push_back(std::move(values));
    }
    bool failed = driver->ErrorNo(connection_handle_) != 0;
    driver->CloseQuery(result);
    if (failed || !wide_enough) return std::nullopt;
  } catch (const EMySQLError&) {
    // Best effort: a table the server cannot describe (a derived table, a
    // CTE, a view without rights) is skipped.
    if (result != nullptr) {
      try {
        driver->CloseQuery(result);
      } catch (...) {
      }
    }
    return std::nullopt;
  }
  return rows;
}

void TMySQLDatasetBase::RetrieveFieldValues(TTableInfo* Table) {
  // Field, Type, Null, Key, Default, ...
  auto answer = MetadataRows("show columns from " + Table->QualifiedName, 5);
  if (!answer) return;
  for (const auto& r : *answer) {
    if (!r[0]) continue;
    const std::string& field = *r[0];
    // The column's own table (alias) and original name: a column of the same
    // name in another table of a join is a different column.
    for (int index = 0; index < server_columns_; ++index) {
      TFieldInfo* info = field_infos_[index];
      if (!SameText(info->Table, Table->Table) || !SameText(info->OrgName, field)) continue;
      bool has_default = r[4].has_value();
      std::string def = has_default ? *r[4] : std::string();
      if ((info->ColumnType == mysql_column::kEnum || info->ColumnType == mysql_column::kSet) && r[1]) {
        std::string members = WordInStr(2, *r[1], "()");
        std::replace(members.begin(), members.end(), '\'', '"');
        info->Values = members;
        if (info->ColumnType == mysql_column::kSet && options_.Contains(doSetToWord)) {
          TStringList list;
          list.SetCommaText(info->Values);
          for (size_t k = rows_->size(); k-- > 0;) {
            TRowValues& values = (*rows_)[k];
            if (values.IsNull(index)) continue;
            values.Set(index, SetMaskText(values.Value(index), list));
          }
          info->DefaultValue = has_default ? SetMaskText(def, list) : "0";
          info->ServerDefault = true;
        }
      } else if (has_default && info->DefaultValue.empty()) {
        info->DefaultValue = def;
        info->ServerDefault = true;
      }
    }
  }
}

void TMySQLDatasetBase::RetrieveIndexDefs() {
  TIndexDefs* index_defs = IndexDefs();
  // The definitions are the server's while this option is set: they are
  // replaced for a single table and cleared for anything else. Without the
  // option they are the application's and stay untouched.
  std::optional<std::vector<std::vector<std::optional<std::string>>>> answer;
  if (field_infos_.Count() > 0 && table_infos_.Count() == 1) {
    // Table, Non_unique, Key_name, Seq_in_index, Column_name, ...
    answer = MetadataRows("show index from " + table_infos_[0]->QualifiedName, 5);
    if (!answer) return;  // not described: the definitions stay as they were
  }
  index_defs->BeginUpdate();
  try {
    index_defs->Clear();
    if (answer) {
      for (const auto& r : *answer) {
        if (!r[1] || !r[2] || !r[4]) continue;
        const std::string& non_unique = *r[1];
        const std::string& key_name = *r[2];
        const std::string& column = *r[4];
        int at = index_defs->IndexOf(key_name);
        TIndexDef* def = at >= 0 ? index_defs->Items(at) : index_defs->Add(key_name, "", {});
        std::string fields = def->Fields();
        if (!fields.empty()) fields += ";";
        def->SetFields(fields + column);
        TIndexOptions options = def->Options();
        if (SameText(key_name, "PRIMARY")) options.Include(ixPrimary);
        if (non_unique == "0") options.Include(ixUnique);
        def->SetOptions(options);
      }
    }
  } catch (...) {
    index_defs->EndUpdate();
    throw;
  }
  index_defs->EndUpdate();
}

void TMySQLDatasetBase::GetRest() {
  while (!all_fetched_) GetNextRow();
}

void TMySQLDatasetBase::DropResult() noexcept {
  all_fetched_ = true;
  if (result_handle_ == nullptr) return;
  try {
    server_->GetDriver()->CloseQuery(result_handle_);
  } catch (...) {
  }
  result_handle_ = nullptr;
}

void TMySQLDatasetBase::ClearRest() {
  if (result_handle_ == nullptr) return;
  TMySQLBase* driver = server_->GetDriver();
  // A server error in what is drained is raised, not taken for the end.
  std::exception_ptr failure;
  try {
    while (driver->RetrieveRow(result_handle_) != nullptr) {
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure && driver->ErrorNo(connection_handle_) != 0) {
    try {
      MySQLError(driver, connection_handle_, -1, "", -1, -1);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  driver->CloseQuery(result_handle_);
  result_handle_ = nullptr;
  all_fetched_ = true;
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// Closing and re-reading

void TMySQLDatasetBase::RecInfoClear() {
  if (rows_ != nullptr) {
    while (!rows_->empty()) rows_->pop_back();
    rows_->shrink_to_fit();
  }
  // No row refers to the arena any more.
  arena_.Clear();
}

void TMySQLDatasetBase::InternalClose() {
  DropBlobStreams(true);
  std::exception_ptr error;
  try {
    ApplyUpdates();
  } catch (...) {
    error = std::current_exception();
  }
  try {
    ClearRest();
  } catch (...) {
    if (!error) error = std::current_exception();
    if (server_ != nullptr && result_handle_ != nullptr) {
      try {
        server_->GetDriver()->CloseQuery(result_handle_);
      } catch (...) {
      }
    }
    result_handle_ = nullptr;
    all_fetched_ = true;
  }
  RecInfoClear();
  rows_.reset();
  row_base_ = 0;
  current_rec_ = -1;
  old_values_.reset();
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FieldInfoClear();
  TableInfoClear();
  server_columns_ = 0;
  try {
    DeactivateConnection();
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  if (error) std::rethrow_exception(error);
}

void TMySQLDatasetBase::InternalRefresh() {
  ApplyUpdates();
  if (server_ != nullptr) ResyncResult();
}

std::vector<std::string> TMySQLDatasetBase::ColumnSignature() const {
  std::vector<std::string> signature;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    const TFieldInfo* info = field_infos_[i];
    signature.push_back(field_infos_.Key(i) + '\0' + std::to_string(info->ColumnType) + '\0' +
                        std::to_string(info->Flags));
  }
  return signature;
}

void TMySQLDatasetBase::ResyncResult() {
  std::optional<TCursorScope> cursor;
  if (UseCursor()) cursor.emplace(cursor_);
  // The fields stay bound to the columns: any change of name, type or flags
  // (not only of their number) would show values under the wrong fields.
  std::vector<std::string> before = ColumnSignature();
  bool changed = false;
  DisableControls();
  try {
    InternalOpenResultBlock();
    changed = ColumnSignature() != before;
  } catch (...) {
    changed = ColumnSignature() != before;
    EnableControls();
    // Columns already replaced: close through the framework, so that state,
    // links and fields agree.
    if (changed) CloseAfterFailedRefresh();
    throw;
  }
  EnableControls();
  if (changed) {
    CloseAfterFailedRefresh();
    MySQLError(nullptr, nullptr, -1, "Columns have changed. Please close and reopen.", -1, -1);
  }
}

void TMySQLDatasetBase::CloseAfterFailedRefresh() {
  try {
    Close();
  } catch (...) {
    // The refresh's error is the one to report.
  }
}

void TMySQLDatasetBase::InternalHandleException() { ApplicationHandleException(this); }

}  // namespace rowset
