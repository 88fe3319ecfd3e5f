#include "host/DB.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

#include "host/SysUtils.h"
#include "host/Variants.h"

namespace rowset {

namespace {

std::mutex& HandlerMutex() {
  static std::mutex m;
  return m;
}

TApplicationExceptionHandler& Handler() {
  static TApplicationExceptionHandler h;
  return h;
}

}  // namespace

void SetApplicationExceptionHandler(TApplicationExceptionHandler H) {
  std::lock_guard<std::mutex> lock(HandlerMutex());
  Handler() = std::move(H);
}

void ApplicationHandleException(TObject* Sender) noexcept {
  std::exception_ptr error = std::current_exception();
  if (!error) return;
  TApplicationExceptionHandler h;
  {
    std::lock_guard<std::mutex> lock(HandlerMutex());
    h = Handler();
  }
  try {
    if (h) {
      h(Sender, error);
      return;
    }
    std::rethrow_exception(error);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "unknown exception\n");
  }
}

bool IsWriteState(TDataSetState State) {
  switch (State) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

bool IsEditState(TDataSetState State) {
  return State == dsEdit || State == dsInsert || State == dsSetKey;
}

// ----------------------------------------------------------------------------
// TDataSet: construction, state

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner),
      fields_(this),
      field_defs_(std::make_unique<TFieldDefs>(this)),
      index_defs_(std::make_unique<TIndexDefs>(this)),
      constraints_(std::make_unique<TCheckConstraints>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // The concrete dataset closed in its destructor; whatever buffers are
  // left cannot be given back to hooks that no longer exist.
  state_ = dsInactive;
  buffers_.clear();
  // Handlers run while the data sources let go; none may escape.
  while (!data_sources_.empty()) {
    try {
      RemoveDataSource(data_sources_.back());
    } catch (...) {
      ApplicationHandleException(this);
    }
  }
  // Fields owned elsewhere stay alive but forget this dataset; default
  // fields go with it.
  for (TField* f : fields_.list_) f->dataset_ = nullptr;
  fields_.list_.clear();
  default_field_store_.clear();
  // Owned components may still refer to the members above.
  DestroyComponents();
}

void TDataSet::DoEvent(TDataSetNotifyEvent& Event) {
  if (Event) Event(this);
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset", const_cast<TDataSet*>(this));
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", const_cast<TDataSet*>(this));
}

void TDataSet::CheckBrowseModeOnly() {
  CheckActive();
  if (state_ != dsBrowse) DatabaseError("Dataset not in browse mode", this);
}

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
}

void TDataSet::SetState(TDataSetState Value) {
  if (state_ != Value) {
    state_ = Value;
    modified_ = false;
    DataEvent(deUpdateState, 0);
  }
}

void TDataSet::SetActive(bool Value) {
  if (ComponentState().Contains(csReading)) {
    streamed_active_ = Value;
    return;
  }
  if (Active() == Value) return;
  if (Value) {
    DoEvent(BeforeOpen);
    opening_ = true;
    try {
      OpenCursor();
    } catch (...) {
      opening_ = false;
      // Leave the dataset closed and the window released.
      state_ = dsInactive;
      try {
        CloseCursor();
      } catch (...) {
      }
      try {
        DataEvent(deUpdateState, 0);
      } catch (...) {
      }
      throw;
    }
    opening_ = false;
    SetState(dsBrowse);
    DoEvent(AfterOpen);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    bool destroying = ComponentState().Contains(csDestroying);
    if (!destroying) DoEvent(BeforeClose);
    // The cursor closes even when a handler of the state change fails;
    // the first error is raised afterwards.
    std::exception_ptr error;
    try {
      SetState(dsInactive);
    } catch (...) {
      error = std::current_exception();
      state_ = dsInactive;
    }
    try {
      CloseCursor();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
    if (error) std::rethrow_exception(error);
    if (!destroying) DoEvent(AfterClose);
  }
}

void TDataSet::CloseInDestructor() noexcept {
  Destroying();
  try {
    SetActive(false);
  } catch (...) {
    ApplicationHandleException(this);
  }
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  bool streamed = streamed_active_;
  streamed_active_ = false;
  try {
    if (streamed) SetActive(true);
  } catch (...) {
    if (ComponentState().Contains(csDesigning))
      InternalHandleException();
    else
      throw;
  }
}

void TDataSet::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
}

void TDataSet::OpenCursor() { DoInternalOpen(); }

void TDataSet::DoInternalOpen() {
  default_fields_ = fields_.Count() == 0;
  internal_open_complete_ = false;
  InternalOpen();
  internal_open_complete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  internal_open_complete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  // Give the buffers back even when closing fails later on.
  std::exception_ptr error;
  try {
    SetBufListSize(0);
  } catch (...) {
    error = std::current_exception();
  }
  buffer_count_ = 0;
  try {
    InternalClose();
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  default_fields_ = false;
  if (error) std::rethrow_exception(error);
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  std::exception_ptr error;
  try {
    InternalInitFieldDefs();
  } catch (...) {
    error = std::current_exception();
  }
  try {
    InternalClose();
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  if (error) std::rethrow_exception(error);
}

// ----------------------------------------------------------------------------
// The buffer window

TRecordBuffer TDataSet::ActiveBuffer() const {
  if (active_record_ < 0 || active_record_ >= static_cast<int>(buffers_.size())) return nullptr;
  return buffers_[active_record_];
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::SetBufListSize(int Value) {
  int count = static_cast<int>(buffers_.size());
  if (count < Value) {
    buffers_.reserve(Value);
    while (static_cast<int>(buffers_.size()) < Value) buffers_.push_back(AllocRecordBuffer());
  } else {
    while (static_cast<int>(buffers_.size()) > Value) {
      TRecordBuffer b = buffers_.back();
      buffers_.pop_back();
      FreeRecordBuffer(b);
    }
  }
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  TRecordBuffer b = buffers_[CurIndex];
  if (CurIndex < NewIndex) {
    for (int i = CurIndex; i < NewIndex; ++i) buffers_[i] = buffers_[i + 1];
  } else {
    for (int i = CurIndex; i > NewIndex; --i) buffers_[i] = buffers_[i - 1];
  }
  buffers_[NewIndex] = b;
}

void TDataSet::SetCurrentRecord(int Index) {
  if (current_record_ == Index) return;
  TRecordBuffer b = buffers_[Index];
  switch (GetBookmarkFlag(b)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(b);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = Index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok = GetRecord(buffers_[record_count_], mode, true) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else if (record_count_ < buffer_count_) {
      ++record_count_;
    } else {
      MoveBuffer(0, record_count_);
    }
    current_record_ = record_count_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool ok = GetRecord(buffers_[record_count_], gmPrior, true) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(record_count_, 0);
      if (record_count_ < buffer_count_) {
        ++record_count_;
        ++active_record_;
      }
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::AdjustFirstRecords(int Delta) {
  if (Delta == 0) return;
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_)
      if (link->active_) link->first_record_ += Delta;
}

void TDataSet::SetBufferCount(int Value) {
  if (Value < 1) Value = 1;
  if (Value == buffer_count_) return;
  if (buffer_count_ > Value && record_count_ > 0) {
    // Keep the active record and the records the links start at.
    int delta = active_record_;
    for (TDataSource* ds : data_sources_)
      for (TDataLink* link : ds->links_)
        if (link->active_ && link->first_record_ < delta) delta = link->first_record_;
    if (active_record_ - delta >= Value) delta = active_record_ - Value + 1;
    for (int i = 0; i < Value && i + delta < static_cast<int>(buffers_.size()); ++i) MoveBuffer(i + delta, i);
    active_record_ -= delta;
    if (current_record_ != -1) current_record_ -= delta;
    record_count_ = std::max(0, record_count_ - delta);
    if (record_count_ > Value) record_count_ = Value;
    if (current_record_ < 0 || current_record_ >= record_count_) current_record_ = -1;
    AdjustFirstRecords(-delta);
  }
  SetBufListSize(Value + 1);
  buffer_count_ = Value;
  if (!ComponentState().Contains(csDestroying)) {
    GetNextRecords();
    if (record_count_ < buffer_count_) {
      int before = record_count_;
      GetPriorRecords();
      AdjustFirstRecords(record_count_ - before);
    }
  }
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen() && !internal_open_complete_) return;
  int count = 1;
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_)
      if (link->buffer_count_ > count) count = link->buffer_count_;
  SetBufferCount(count);
}

void TDataSet::Resync(TResyncMode Mode) {
  if (buffers_.empty()) return;
  TRecordBuffer spare = buffers_[record_count_];
  if (Mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found", this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int count = Mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

// ----------------------------------------------------------------------------
// Navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int Distance) {
  CheckBrowseMode();
  int result = 0;
  DoBeforeScroll();
  if ((Distance > 0 && !eof_) || (Distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int scroll = 0;
    auto finish = [&] {
      DataEvent(deDataSetScroll, scroll);
    };
    try {
      while (Distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else {
          // A full window drops its first record: the links' records move
          // up by one.
          int i = record_count_ < buffer_count_ ? 0 : -1;
          if (GetNextRecord()) {
            scroll += i;
          } else {
            eof_ = true;
            break;
          }
        }
        --Distance;
        ++result;
      }
      while (Distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else {
          int i = record_count_ < buffer_count_ ? 0 : 1;
          if (GetPriorRecord()) {
            scroll += i;
          } else {
            bof_ = true;
            break;
          }
        }
        ++Distance;
        --result;
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
    DoAfterScroll();
  }
  return result;
}

// ----------------------------------------------------------------------------
// Bookmarks

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable() || bookmark_size_ <= 0) return {};
  TBookmark b(static_cast<size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), b.data());
  return b;
}

void TDataSet::FreeBookmark(TBookmark& Bookmark) { TBookmark().swap(Bookmark); }

void TDataSet::GotoBookmark(const TBookmark& Bookmark) {
  if (Bookmark.empty()) return;
  CheckBrowseMode();
  if (static_cast<int>(Bookmark.size()) != bookmark_size_) DatabaseError("Invalid bookmark", this);
  DoBeforeScroll();
  InternalGotoBookmark(Bookmark.data());
  try {
    Resync(TResyncMode{rmExact, rmCenter});
  } catch (...) {
    // Put the dataset's cursor back on the record still shown.
    try {
      CursorPosChanged();
      UpdateCursorPos();
    } catch (...) {
    }
    throw;
  }
  DoAfterScroll();
}

// ----------------------------------------------------------------------------
// Editing

void TDataSet::CheckOperation(void (TDataSet::*Operation)(), TDataSetErrorEvent& ErrorEvent) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*Operation)();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (ErrorEvent) ErrorEvent(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::UpdateRecord() {
  if (!IsWriteState(state_)) DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  CheckActive();
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoEvent(BeforeEdit);
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoEvent(AfterEdit);
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
  InternalInitRecord(Buffer);
  ClearCalcFields(Buffer);
  SetBookmarkFlag(Buffer, bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoEvent(BeforeInsert);
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    if (OnNewRecord) OnNewRecord(this);
  } catch (...) {
    try {
      UpdateCursorPos();
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
    } catch (...) {
    }
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  DoEvent(AfterInsert);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark old_current = GetBookmark();
  MoveBuffer(record_count_, active_record_);
  try {
    TRecordBuffer b = ActiveBuffer();
    InitRecord(b);
    if (record_count_ == 0 || old_current.empty())
      SetBookmarkFlag(b, record_count_ == 0 ? bfBOF : bfEOF);
    else
      SetBookmarkData(b, old_current.data());
    if (record_count_ < buffer_count_) ++record_count_;
    // The window moved; position on the new record before InternalInsert.
    CursorPosChanged();
    UpdateCursorPos();
    InternalInsert();
  } catch (...) {
    try {
      CursorPosChanged();
      Resync({});
    } catch (...) {
    }
    throw;
  }
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  try {
    ClearBuffers();
    TRecordBuffer b = buffers_[0];
    InitRecord(b);
    SetBookmarkFlag(b, bfEOF);
    record_count_ = 1;
    bof_ = false;
    GetPriorRecords();
    UpdateCursorPos();
    InternalInsert();
  } catch (...) {
    try {
      CursorPosChanged();
      Last();
    } catch (...) {
    }
    throw;
  }
  EndInsertAppend();
}

void TDataSet::FreeFieldBuffers() {
  for (TField* f : fields_.list_) f->FreeBuffers();
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoEvent(BeforePost);
  CheckOperation(&TDataSet::InternalPost, OnPostError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  DoEvent(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  DoEvent(BeforeCancel);
  bool scroll_events = state_ == dsInsert;
  if (scroll_events) DoBeforeScroll();
  UpdateCursorPos();
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  DoEvent(AfterCancel);
  if (scroll_events) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
  CheckCanModify();
  DataEvent(deCheckBrowseMode, 0);
  DoEvent(BeforeDelete);
  DoBeforeScroll();
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  DoEvent(AfterDelete);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoEvent(BeforeRefresh);
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  DoEvent(AfterRefresh);
}

void TDataSet::CheckRequiredFields() {
  for (TField* f : fields_.list_) {
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
      DatabaseError("Field '" + f->DisplayName() + "' must have a value", this);
  }
}

// ----------------------------------------------------------------------------
// Controls and data events

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) {
    if (disable_state_ != state_) DataEvent(deUpdateState, 0);
    if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
  }
}

void TDataSet::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deFieldChange) {
    TField* field = reinterpret_cast<TField*>(Info);
    if (field != nullptr) {
      if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) modified_ = true;
      if (state_ != dsSetKey && state_ != dsCalcFields && field->FieldKind() == fkData &&
          auto_calc_fields_ && calc_fields_size_ > 0 && IsEditState(state_))
        GetCalcFields(ActiveBuffer());
      field->Change();
    }
  }
  if (disable_count_ == 0) {
    // Copy: a handler may add or remove data sources.
    std::vector<TDataSource*> sources = data_sources_;
    for (TDataSource* ds : sources)
      if (std::find(data_sources_.begin(), data_sources_.end(), ds) != data_sources_.end())
        ds->DataEvent(Event, Info);
  } else if ((Event == deUpdateState && state_ == dsInactive) || Event == deLayoutChange) {
    enable_event_ = deLayoutChange;
  }
}

void TDataSet::AddDataSource(TDataSource* DataSource) {
  data_sources_.push_back(DataSource);
  DataSource->dataset_ = this;
  if (Active()) UpdateBufferCount();
  DataSource->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* DataSource) {
  DataSource->dataset_ = nullptr;
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), DataSource), data_sources_.end());
  DataSource->UpdateState();
  if (Active() && !ComponentState().Contains(csDestroying)) UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(TDataSource* DataSource) const {
  // Bounded walk: a cycle elsewhere must not hang the test.
  for (int guard = 0; DataSource != nullptr && guard < 10000; ++guard) {
    TDataSet* ds = DataSource->DataSet();
    if (ds == nullptr) break;
    if (ds == this) return true;
    DataSource = ds->GetDataSource();
  }
  return false;
}

// ----------------------------------------------------------------------------
// Fields

TField* TDataSet::FieldByName(const std::string& FieldName) const {
  TField* f = fields_.FindField(FieldName);
  if (f == nullptr) DatabaseError("Field '" + FieldName + "' not found", const_cast<TDataSet*>(this));
  return f;
}

void TDataSet::GetFieldList(std::vector<TField*>& List, const std::string& FieldNames) const {
  List.clear();
  size_t pos = 0;
  while (pos <= FieldNames.size()) {
    size_t end = FieldNames.find(';', pos);
    if (end == std::string::npos) end = FieldNames.size();
    std::string name = Trim(FieldNames.substr(pos, end - pos));
    if (!name.empty()) List.push_back(FieldByName(name));
    pos = end + 1;
  }
}

void TDataSet::GetFieldNames(TStrings& List) const {
  List.BeginUpdate();
  try {
    List.Clear();
    for (TField* f : fields_.list_) List.Add(f->FieldName());
  } catch (...) {
    List.EndUpdate();
    throw;
  }
  List.EndUpdate();
}

TFieldClass TDataSet::GetFieldClass(TFieldType FieldType) {
  switch (FieldType) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return &NewField<TStringField>;
    case ftSmallint:
      return &NewField<TSmallintField>;
    case ftInteger:
      return &NewField<TIntegerField>;
    case ftWord:
      return &NewField<TWordField>;
    case ftAutoInc:
      return &NewField<TAutoIncField>;
    case ftLargeint:
      return &NewField<TLargeintField>;
    case ftBoolean:
      return &NewField<TBooleanField>;
    case ftFloat:
      return &NewField<TFloatField>;
    case ftCurrency:
      return &NewField<TCurrencyField>;
    case ftDate:
      return &NewField<TDateField>;
    case ftTime:
      return &NewField<TTimeField>;
    case ftDateTime:
      return &NewField<TDateTimeField>;
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return &NewField<TBlobField>;
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return &NewField<TMemoField>;
    case ftVariant:
      return &NewField<TVariantField>;
    default:
      return nullptr;
  }
}

void TDataSet::CreateFields() {
  std::vector<std::unique_ptr<TField>> made;
  try {
    for (int i = 0; i < field_defs_->Count(); ++i) {
      TFieldDef* def = field_defs_->Items(i);
      if (def->Attributes().Contains(faHiddenCol)) continue;
      made.push_back(def->CreateField());
    }
  } catch (...) {
    for (auto& f : made) fields_.Remove(f.get());
    throw;
  }
  for (auto& f : made) default_field_store_.push_back(std::move(f));
}

void TDataSet::DestroyFields() {
  for (auto& f : default_field_store_) {
    fields_.Remove(f.get());
    f->dataset_ = nullptr;
  }
  default_field_store_.clear();
}

namespace {

bool IsStringType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }

bool TypesCompatible(TFieldType def, TFieldType field) {
  if (def == field) return true;
  if (IsStringType(def) && IsStringType(field)) return true;
  if (IsBlobType(def) && IsBlobType(field)) return true;
  if ((def == ftAutoInc && field == ftInteger) || (def == ftInteger && field == ftAutoInc)) return true;
  return false;
}

}  // namespace

void TDataSet::BindFields(bool Binding) {
  calc_fields_size_ = 0;
  internal_calc_fields_ = false;
  for (TField* f : fields_.list_) {
    if (!Binding) {
      f->Bind(false);
      f->field_no_ = 0;
      f->offset_ = 0;
      continue;
    }
    if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
      if (f->DataType() == ftVariant || f->IsBlob())
        DatabaseError("Field '" + f->DisplayName() + "' of type " + FieldTypeName(f->DataType()) +
                          " cannot be calculated",
                      this);
      f->field_no_ = -1;
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += f->DataSize() + 1;
    } else {
      int index = field_defs_->IndexOf(f->FieldName());
      if (index < 0) DatabaseError("Field '" + f->DisplayName() + "' not found", this);
      TFieldDef* def = field_defs_->Items(index);
      if (!TypesCompatible(def->DataType(), f->DataType()))
        DatabaseError("Type mismatch for field '" + f->DisplayName() + "', expecting: " +
                          FieldTypeName(f->DataType()) + " actual: " + FieldTypeName(def->DataType()),
                      this);
      if (IsStringType(f->DataType()) && f->Size() != def->Size())
        DatabaseError("Size mismatch for field '" + f->DisplayName() + "', expecting: " +
                          std::to_string(f->Size()) + " actual: " + std::to_string(def->Size()),
                      this);
      f->field_no_ = def->FieldNo();
      f->offset_ = 0;
      if (f->FieldKind() == fkInternalCalc) internal_calc_fields_ = true;
    }
    f->Bind(true);
  }
}

void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
  if (calc_fields_size_ <= 0 && !internal_calc_fields_) return;
  TDataSetState saved = state_;
  TRecordBuffer saved_buffer = calc_buffer_;
  state_ = dsCalcFields;
  calc_buffer_ = Buffer;
  try {
    CalculateFields(Buffer);
  } catch (...) {
    state_ = saved;
    calc_buffer_ = saved_buffer;
    throw;
  }
  state_ = saved;
  calc_buffer_ = saved_buffer;
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
  ClearCalcFields(Buffer);
  for (TField* f : fields_.list_) {
    if (f->FieldKind() != fkLookup) continue;
    TDataSet* lookup = f->LookupDataSet();
    if (lookup == nullptr || !lookup->Active() || f->KeyFields().empty() || f->LookupKeyFields().empty() ||
        f->LookupResultField().empty())
      continue;
    std::vector<TField*> keys;
    GetFieldList(keys, f->KeyFields());
    Variant key;
    if (keys.size() == 1) {
      key = keys[0]->AsVariant();
    } else {
      std::vector<Variant> items;
      for (TField* k : keys) items.push_back(k->AsVariant());
      key = VarArrayOf(std::move(items));
    }
    f->SetAsVariant(lookup->Lookup(f->LookupKeyFields(), key, f->LookupResultField()));
  }
  if (OnCalcFields) OnCalcFields(this);
}

// ----------------------------------------------------------------------------
// Filter, hooks with neutral defaults

void TDataSet::SetFiltered(bool Value) { filtered_ = Value; }

bool TDataSet::Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  return false;
}

Variant TDataSet::Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) {
  return Null();
}

void TDataSet::SetFilterText(const std::string& Value) { filter_text_ = Value; }

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  DatabaseError("Blob streams are not supported by this dataset", this);
}

void TDataSet::PSExecute() { DatabaseError("Provider execute not supported", this); }

int TDataSet::PSExecuteStatement(const std::string& ASQL, TParams* AParams, void* ResultSet) {
  DatabaseError("SQL statements are not supported by this dataset", this);
}

std::string TDataSet::PSGetKeyFields() { return ""; }

void TDataSet::PSSetParams(TParams* AParams) {
  if (AParams != nullptr) DatabaseError("Parameters are not supported by this dataset", this);
}

void TDataSet::PSSetCommandText(const std::string& CommandText) {
  if (!CommandText.empty()) DatabaseError("Command text is not supported by this dataset", this);
}

// ----------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
  Destroying();
  // Links hear that they lost their source; their handlers may fail, which
  // goes to the application's handler.
  while (!links_.empty()) {
    TDataLink* link = links_.back();
    links_.pop_back();
    link->source_ = nullptr;
    try {
      link->UpdateState();
    } catch (...) {
      ApplicationHandleException(this);
    }
  }
  if (dataset_ != nullptr) {
    try {
      dataset_->RemoveDataSource(this);
    } catch (...) {
      ApplicationHandleException(this);
    }
  }
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == dataset_) return;
  if (IsLinkedTo(Value)) DatabaseError("Circular datalinks are not allowed", this);
  if (dataset_ != nullptr) {
    RemoveFreeNotification(dataset_);
    dataset_->RemoveDataSource(this);
  }
  if (Value != nullptr) {
    Value->AddDataSource(this);
    FreeNotification(Value);
  }
}

void TDataSource::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == dataset_ && dataset_ != nullptr) dataset_->RemoveDataSource(this);
}

void TDataSource::SetEnabled(bool Value) {
  enabled_ = Value;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* DataSet) const {
  for (int guard = 0; DataSet != nullptr && guard < 10000; ++guard) {
    TDataSource* source = DataSet->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    DataSet = source->DataSet();
  }
  return false;
}

void TDataSource::UpdateState() {
  SetState(enabled_ && dataset_ != nullptr ? dataset_->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
  if (state_ == Value) return;
  TDataSetState prior = state_;
  state_ = Value;
  NotifyDataLinks(deUpdateState, 0);
  if (!ComponentState().Contains(csDestroying)) {
    if (OnStateChange) OnStateChange(this);
    if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
  }
}

void TDataSource::NotifyDataLinks(TDataEvent Event, intptr_t Info) {
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(Event, Info);
}

void TDataSource::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyDataLinks(Event, Info);
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::AddDataLink(TDataLink* Link) {
  links_.push_back(Link);
  Link->source_ = this;
  if (dataset_ != nullptr && dataset_->Active()) dataset_->UpdateBufferCount();
  Link->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* Link) {
  Link->source_ = nullptr;
  links_.erase(std::remove(links_.begin(), links_.end(), Link), links_.end());
  Link->UpdateState();
  if (dataset_ != nullptr && dataset_->Active() && !dataset_->ComponentState().Contains(csDestroying))
    dataset_->UpdateBufferCount();
}

// ----------------------------------------------------------------------------
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (source_ != nullptr) {
    // No virtual calls from here on: just leave the source.
    TDataSource* s = source_;
    s->links_.erase(std::remove(s->links_.begin(), s->links_.end(), this), s->links_.end());
    source_ = nullptr;
  }
}

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == source_) return;
  if (source_ != nullptr) source_->RemoveDataLink(this);
  if (Value != nullptr) Value->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const { return source_ != nullptr ? source_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool Value) {
  if (read_only_ != Value) {
    read_only_ = Value;
    UpdateState();
  }
}

void TDataLink::SetBufferCount(int Value) {
  if (Value < 1) Value = 1;
  if (buffer_count_ == Value) return;
  buffer_count_ = Value;
  if (active_) {
    UpdateRange();
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return 0;
  return ds->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int Value) {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return;
  int index = Value + first_record_;
  if (index < 0 || index >= ds->record_count_) return;
  ds->active_record_ = index;
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return 0;
  return std::min(ds->record_count_, buffer_count_);
}

bool TDataLink::Edit() {
  if (!read_only_ && source_ != nullptr) source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateState() {
  SetActive(source_ != nullptr && source_->State() != dsInactive);
  SetEditing(source_ != nullptr && IsEditState(source_->State()) && !read_only_);
}

void TDataLink::SetActive(bool Value) {
  if (active_ == Value) return;
  active_ = Value;
  if (Value)
    UpdateRange();
  else
    first_record_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
  if (editing_ == Value) return;
  editing_ = Value;
  EditingChanged();
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) return;
  int min = std::max(0, ds->active_record_ - buffer_count_ + 1);
  int max = std::max(0, ds->buffer_count_ - buffer_count_);
  if (max > ds->active_record_) max = ds->active_record_;
  if (first_record_ < min) first_record_ = min;
  if (first_record_ > max) first_record_ = max;
  if (first_record_ != 0 && ds->active_record_ - first_record_ < buffer_count_ - 1) --first_record_;
}

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (Event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(Info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int count = 0;
      TDataSet* ds = DataSet();
      if (source_->State() != dsSetKey && ds != nullptr) {
        int active = ds->active_record_;
        int first = first_record_ + static_cast<int>(Info);
        int last = first + buffer_count_ - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        first_record_ = first + count;
      }
      if (Event == deDataSetChange)
        DataSetChanged();
      else if (Event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField*>(Info));
      break;
    default:
      break;
  }
}

// ----------------------------------------------------------------------------
// TMasterDataLink

TMasterDataLink::TMasterDataLink(TDataSet* DataSet) : detail_(DataSet) {}

void TMasterDataLink::SetFieldNames(const std::string& Value) {
  if (field_names_ == Value) return;
  field_names_ = Value;
  ActiveChanged();
}

bool TMasterDataLink::IsLinkedTo(TDataSource* DataSource) const {
  return detail_ != nullptr && detail_->IsLinkedTo(DataSource);
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active() && SkipMissingFields) {
    size_t at = 0;
    while (at <= field_names_.size()) {
      size_t end = field_names_.find(';', at);
      if (end == std::string::npos) end = field_names_.size();
      std::string name = Trim(field_names_.substr(at, end - at));
      if (TField* field = name.empty() ? nullptr : DataSet()->FindField(name)) fields_.push_back(field);
      at = end + 1;
    }
  } else if (Active()) {
    try {
      DataSet()->GetFieldList(fields_, field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (detail_ != nullptr && detail_->Active() && !detail_->ComponentState().Contains(csDestroying)) {
    if (Active() && !fields_.empty()) {
      if (OnMasterChange) OnMasterChange(this);
    } else if (OnMasterDisable) {
      OnMasterDisable(this);
    }
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ != nullptr && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* Field) {
  if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (detail_ == nullptr || !detail_->Active() || fields_.empty()) return;
  if (Field != nullptr && std::find(fields_.begin(), fields_.end(), Field) == fields_.end()) return;
  if (OnMasterChange) OnMasterChange(this);
}

}  // namespace rowset
