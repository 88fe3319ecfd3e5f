// Datasets: blob streams over blob and memo fields, and the string fields
// that know their ENUM / SET members (rules in components/MySQLDataset.h).
#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "components/MySQLDataset.h"

namespace rowset {

namespace {

constexpr const char* kNotEditing = "Dataset not in edit or insert mode";

// The largest value a stream writes (its positions are 32-bit).
constexpr int64_t kMaxBlobSize = INT32_MAX;

}  // namespace

// ---------------------------------------------------------------------------
// Dataset operations

std::unique_ptr<TStream> TMySQLDatasetBase::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  if (Field == nullptr || dynamic_cast<TBlobField*>(Field) == nullptr) throw EInvalidCast("Invalid class typecast");
  return std::make_unique<TMySQLBlobStream>(Field, Mode);
}

std::string_view TMySQLDatasetBase::BlobView(TField* Field, TRecordBuffer Buffer) {
  if (Buffer == nullptr || Buffer != ActiveBuffer()) return {};
  int column = ColumnOf(Field);
  if (column < 0) return {};
  TRecInfo* rec = RecInfo(Buffer);
  TDataSetState state = State();
  if ((state == dsBrowse || state == dsEdit) && rec->Bookmark >= 0 && rec->Bookmark < FetchedCount()) {
    const TRowValues* row = GetIndexRecord(rec->Bookmark);
    if (row != nullptr && !row->Released()) return row->Value(column);
  }
  return rec->Data.Value(column);
}

void TMySQLDatasetBase::SetBlobData(TField* Field, TRecordBuffer Buffer, std::string_view Value) {
  if (Buffer == nullptr || Buffer != ActiveBuffer()) return;
  if (State() == dsFilter) MySQLError(Driver(), connection_handle_, -1, kNotEditing, -1, -1);
  int column = ColumnOf(Field);
  if (column < 0) return;
  TRecInfo* rec = RecInfo(Buffer);
  // Both copies are built before either is replaced.
  TRowValues buffer_values = rec->Data;
  buffer_values.Set(column, Value);
  TRowValues* row = nullptr;
  TRowValues row_values;
  if (State() == dsEdit) {
    row = GetIndexRecord(rec->Bookmark);
    if (row != nullptr && !row->Released()) {
      row_values = *row;
      row_values.Set(column, Value);
    } else {
      row = nullptr;
    }
  }
  rec->Data = std::move(buffer_values);
  if (row != nullptr) *row = std::move(row_values);
  TFieldInfo* info = field_infos_[column];
  info->Modified = info->IsServerColumn;
}

void TMySQLDatasetBase::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateRecord) CommitBlobStreams();
  TDataSet::DataEvent(Event, Info);
}

void TMySQLDatasetBase::CommitBlobStreams() {
  // A commit sends the field-changed event, whose handlers may open or
  // free streams: take them one at a time from a fresh look at the list.
  for (;;) {
    TMySQLBlobStream* due = nullptr;
    for (TMySQLBlobStream* stream : blob_streams_) {
      if (stream->Pending() && stream->buffer_ == ActiveBuffer()) {
        due = stream;
        break;
      }
    }
    if (due == nullptr) return;
    due->Flush();
  }
}

void TMySQLDatasetBase::DropBlobStreams(bool Detach) {
  if (Detach) {
    std::vector<TMySQLBlobStream*> streams;
    streams.swap(blob_streams_);
    for (TMySQLBlobStream* stream : streams) stream->Detach();
    return;
  }
  for (TMySQLBlobStream* stream : blob_streams_) {
    if (stream->buffer_ == ActiveBuffer()) stream->Discard();
  }
}

// ---------------------------------------------------------------------------
// TMySQLBlobStream

TMySQLBlobStream::TMySQLBlobStream(TField* Field, TBlobStreamMode Mode)
    : field_(Field),
      dataset_(Field != nullptr ? dynamic_cast<TMySQLDatasetBase*>(Field->DataSet()) : nullptr),
      mode_(Mode),
      uncaught_(std::uncaught_exceptions()) {
  if (dataset_ == nullptr) throw EInvalidCast("Invalid class typecast");
  TRecInfo* rec = nullptr;
  if (!dataset_->GetActiveRecBuf(rec)) return;
  buffer_ = reinterpret_cast<TRecordBuffer>(rec);
  auto* blob = dynamic_cast<TBlobField*>(Field);
  bool field_modified = blob != nullptr && blob->Modified();
  TDataSetState state = dataset_->State();
  if (!field_modified && Mode != bmRead) {
    if (Field->ReadOnly()) MySQLError(nullptr, nullptr, -1, "Field is readonly", -1, -1);
    if (state != dsEdit && state != dsInsert) MySQLError(nullptr, nullptr, -1, kNotEditing, -1, -1);
    cached_ = true;
  } else {
    cached_ = buffer_ == dataset_->ActiveBuffer();
  }
  opened_ = true;
  if (Mode == bmWrite) Truncate();
  if (cached_ && Mode != bmRead) dataset_->blob_streams_.push_back(this);
}

TMySQLBlobStream::~TMySQLBlobStream() {
  if (dataset_ == nullptr) return;
  auto& streams = dataset_->blob_streams_;
  streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
  // Unwinding from a failed write or load: the old value stays.
  if (std::uncaught_exceptions() > uncaught_) return;
  try {
    Flush();
  } catch (...) {
    ApplicationHandleException(dataset_);
  }
}

void TMySQLBlobStream::Discard() {
  pending_.reset();
  notify_ = false;
}

void TMySQLBlobStream::Detach() {
  Discard();
  opened_ = false;
  dataset_ = nullptr;
}

std::string_view TMySQLBlobStream::Value() {
  if (!opened_) return {};
  if (pending_) return *pending_;
  if (cached_) return dataset_->BlobView(field_, buffer_);
  // Not the active record (calculated fields): the record at the dataset's
  // record number, brought within the records.
  int64_t r = dataset_->RecNo();
  int64_t count = dataset_->RecordCount();
  if (r < 0 && count > 0) r = 0;
  if (r >= count) r = count - 1;
  int column = dataset_->ColumnOf(field_);
  if (r < 0 || column < 0) return {};
  const TRowValues* row = dataset_->GetIndexRecord(r);
  if (row == nullptr || row->Released()) return {};
  return row->Value(column);
}

std::string& TMySQLBlobStream::PendingValue() {
  if (!pending_) pending_.emplace(Value());
  return *pending_;
}

int64_t TMySQLBlobStream::Read(void* Buffer, int64_t Count) {
  if (!opened_ || position_ < 0) return 0;
  std::string_view value = Value();
  int64_t n = std::min<int64_t>(Count, static_cast<int64_t>(value.size()) - position_);
  if (n <= 0) return 0;
  std::memcpy(Buffer, value.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMySQLBlobStream::Write(const void* Buffer, int64_t Count) {
  if (!opened_ || !cached_ || mode_ == bmRead) return 0;
  if (Count <= 0 || position_ < 0 || Count > kMaxBlobSize - position_) return 0;
  std::string& value = PendingValue();
  size_t end = static_cast<size_t>(position_ + Count);
  if (value.size() < end) value.resize(end, '\0');
  std::memcpy(value.data() + position_, Buffer, static_cast<size_t>(Count));
  position_ += Count;
  modified_ = true;
  notify_ = true;
  return Count;
}

int64_t TMySQLBlobStream::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case soFromBeginning:
      position_ = Offset;
      break;
    case soFromCurrent:
      position_ += Offset;
      break;
    case soFromEnd:
      position_ = static_cast<int64_t>(Value().size()) + Offset;
      break;
    default:
      throw EStreamError("Invalid stream origin");
  }
  return position_;
}

void TMySQLBlobStream::Truncate() {
  if (!opened_ || !cached_ || mode_ == bmRead) return;
  pending_.emplace();
  modified_ = true;
  notify_ = true;
}

void TMySQLBlobStream::Flush() {
  if (!notify_) return;
  if (pending_) {
    TDataSetState state = dataset_->State();
    if (buffer_ != dataset_->ActiveBuffer() || (state != dsEdit && state != dsInsert && state != dsFilter)) {
      // The edit this stream was made for has ended.
      pending_.reset();
      notify_ = false;
      MySQLError(nullptr, nullptr, -1, kNotEditing, -1, -1);
    }
    dataset_->SetBlobData(field_, buffer_, *pending_);
    pending_.reset();
  }
  notify_ = false;
  if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
  dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
}

// ---------------------------------------------------------------------------
// TMySQLStringField

TMySQLStringField::TMySQLStringField(TComponent* AOwner)
    : TStringField(AOwner), string_values_(std::make_unique<TStringList>()) {}

TMySQLStringField::~TMySQLStringField() = default;

TMySQLStringTypes TMySQLStringField::StringType() {
  if (auto* dataset = dynamic_cast<TMySQLDatasetBase*>(DataSet())) {
    TMySQLStringTypes type = dataset->GetStringType(this);
    if (type != stNone) string_type_ = type;
  }
  return string_type_;
}

TStrings* TMySQLStringField::StringValues() {
  if (auto* dataset = dynamic_cast<TMySQLDatasetBase*>(DataSet())) {
    std::string values = dataset->GetStringValues(this);
    if (!values.empty()) {
      string_values_->Clear();
      string_values_->SetCommaText(values);
    }
  }
  return string_values_.get();
}

void TMySQLStringField::SetStringValues(TStrings* Value) {
  if (Value != nullptr && Value->Text() != string_values_->Text()) string_values_->Assign(Value);
}

bool TMySQLStringField::StrInValue(const std::string& Value) {
  auto upper = [](std::string S) {
    for (char& c : S)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return S;
  };
  return upper(Text()).find(upper(Value)) != std::string::npos;
}

}  // namespace rowset
