// Datasets: record buffers, navigation over Rows, bookmarks, record numbers
// and the record-level editing bookkeeping.
#include <climits>
#include <cstring>

#include "components/MySQLDataset.h"

namespace rowset {

// ---------------------------------------------------------------------------
// Record buffers

TRecordBuffer TMySQLDatasetBase::AllocRecordBuffer() {
  auto rec = std::make_unique<TRecInfo>();
  rec->Data = TRowValues(field_infos_.Count());
  if (CalcFieldsSize() > 0) {
    rec->CalcBuffer = std::make_unique<char[]>(static_cast<size_t>(CalcFieldsSize()) + 1);
  }
  return reinterpret_cast<TRecordBuffer>(rec.release());
}

void TMySQLDatasetBase::FreeRecordBuffer(TRecordBuffer& Buffer) {
  std::unique_ptr<TRecInfo> rec(RecInfo(Buffer));
  Buffer = nullptr;
}

void TMySQLDatasetBase::ClearRecordBuffer(TRecordBuffer& Buffer) {
  if (Buffer != nullptr) RecInfo(Buffer)->Data.ClearValues();
}

void TMySQLDatasetBase::ClearCalcFields(TRecordBuffer Buffer) {
  TRecInfo* rec = RecInfo(Buffer);
  if (rec != nullptr && rec->CalcBuffer) {
    std::memset(rec->CalcBuffer.get(), 0, static_cast<size_t>(CalcFieldsSize()));
  }
}

void TMySQLDatasetBase::ClearModified() {
  for (int i = 0; i < field_infos_.Count(); ++i) field_infos_[i]->Modified = false;
}

void TMySQLDatasetBase::InternalInitRecord(TRecordBuffer Buffer) {
  TRecInfo* rec = RecInfo(Buffer);
  if (rec == nullptr) return;
  TRowValues values(field_infos_.Count());
  std::vector<bool> modified(static_cast<size_t>(field_infos_.Count()), false);
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (info->Flags & mysql_column::kBlobFlag) continue;
    const std::string before = info->DefaultValue;
    if (OnDefaultValue) OnDefaultValue(this, info->Name, rec->Bookmark, info->DefaultValue);
    if (info->ServerDefault && info->DefaultValue != before) info->ServerDefault = false;
    if (!info->DefaultValue.empty()) {
      values.Set(i, info->DefaultValue);
      // The server's own default is shown but left to the server (it may be
      // an expression such as current_timestamp()); a master's value or
      // one the application gave takes part.
      modified[static_cast<size_t>(i)] = info->IsServerColumn && !info->ServerDefault;
    }
    // Without a default the column stays NULL and out of the insert, so the
    // server's default applies (never an empty text in its place).
  }
  rec->Data = std::move(values);
  // A new record: only the columns with a default take part (blob columns
  // included in the reset, so no flag of an earlier record is left).
  for (int i = 0; i < field_infos_.Count(); ++i) {
    field_infos_[i]->Modified = modified[static_cast<size_t>(i)];
  }
}

TRowValues* TMySQLDatasetBase::GetIndexRecord(int64_t Index) {
  if (rows_ == nullptr || Index < row_base_ || Index >= FetchedCount()) return nullptr;
  return &(*rows_)[static_cast<size_t>(Index - row_base_)];
}

int64_t TMySQLDatasetBase::FetchedCount() const {
  return rows_ == nullptr ? 0 : row_base_ + static_cast<int64_t>(rows_->size());
}

// ---------------------------------------------------------------------------
// Navigation

TGetResult TMySQLDatasetBase::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
  if (GetRecordCount() < 1) return grEOF;
  // Read the row after the current one before it is needed. A
  // unidirectional result keeps only the newest row's values, so it reads
  // only when moving forward (or to the end), never to show the current row.
  if (result_type_ != rtUnidirectional || GetMode == gmNext || current_rec_ >= FetchedCount()) {
    while (FetchedCount() - 1 <= current_rec_ && !all_fetched_) GetNextRow();
  }
  int64_t count = FetchedCount();
  if (current_rec_ > count) current_rec_ = count;
  TGetResult result = grOK;
  switch (GetMode) {
    case gmCurrent:
      if (current_rec_ < 0 || current_rec_ >= count) result = grError;
      break;
    case gmNext:
      if (current_rec_ >= GetRecordCount() - 1) {
        result = grEOF;
      } else {
        ++current_rec_;
      }
      break;
    case gmPrior:
      if (current_rec_ <= 0) {
        result = grBOF;
      } else if (result_type_ != rtUnidirectional) {
        --current_rec_;
      } else if (current_rec_ >= count) {
        // After Last only the newest row still has its values.
        current_rec_ = count - 1;
      }
      break;
  }
  if (result == grOK && (current_rec_ < 0 || current_rec_ >= count)) result = grError;
  if (result == grOK) {
    TRecInfo* rec = RecInfo(Buffer);
    const TRowValues* row = GetIndexRecord(current_rec_);
    if (row == nullptr || row->Released()) {
      // A row a unidirectional result no longer holds.
      if (rec->Data.Count() == field_infos_.Count()) {
        rec->Data.ClearValues();
      } else {
        rec->Data = TRowValues(field_infos_.Count());
      }
    } else {
      rec->Data = *row;
    }
    rec->BookmarkFlag = bfCurrent;
    rec->Bookmark = current_rec_;
    GetCalcFields(Buffer);
  }
  if (result == grError && DoCheck) DatabaseError("No Records");
  return result;
}

void TMySQLDatasetBase::InternalLast() {
  if (result_type_ != rtLocal && !all_fetched_) {
    current_rec_ = INT32_MAX;
  } else {
    current_rec_ = FetchedCount();
  }
}

int TMySQLDatasetBase::GetRecordCount() {
  if (!IsCursorOpen()) return 0;
  int64_t count = FetchedCount();
  if (result_type_ != rtLocal && !all_fetched_) ++count;
  return static_cast<int>(std::min<int64_t>(count, INT_MAX));
}

int TMySQLDatasetBase::GetRecNo() {
  TRecInfo* rec = nullptr;
  if (!GetActiveRecBuf(rec)) return -1;
  return static_cast<int32_t>(static_cast<uint32_t>(rec->Bookmark & 0xFFFFFFFF));
}

void TMySQLDatasetBase::SetRecNo(int Value) {
  CheckBrowseMode();
  if (Value == GetRecNo() || Value < 0) return;
  // A number past the rows (after reading as far as needed) is ignored: the
  // record window never moves off the rows.
  while (FetchedCount() <= Value && !all_fetched_) GetNextRow();
  if (Value >= FetchedCount()) return;
  if (BeforeScroll) BeforeScroll(this);
  current_rec_ = Value;
  CursorPosChanged();
  Resync({});
  if (AfterScroll) AfterScroll(this);
}

// ---------------------------------------------------------------------------
// Bookmarks

void TMySQLDatasetBase::GetBookmarkData(TRecordBuffer Buffer, void* Data) {
  std::memcpy(Data, &RecInfo(Buffer)->Bookmark, sizeof(int64_t));
}

void TMySQLDatasetBase::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
  std::memcpy(&RecInfo(Buffer)->Bookmark, Data, sizeof(int64_t));
}

TBookmarkFlag TMySQLDatasetBase::GetBookmarkFlag(TRecordBuffer Buffer) {
  return static_cast<TBookmarkFlag>(RecInfo(Buffer)->BookmarkFlag);
}

void TMySQLDatasetBase::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
  RecInfo(Buffer)->BookmarkFlag = static_cast<uint8_t>(Value);
}

void TMySQLDatasetBase::InternalGotoBookmark(const void* Bookmark) {
  std::memcpy(&current_rec_, Bookmark, sizeof(int64_t));
}

void TMySQLDatasetBase::InternalSetToRecord(TRecordBuffer Buffer) {
  InternalGotoBookmark(&RecInfo(Buffer)->Bookmark);
}

bool TMySQLDatasetBase::BookmarkValid(const TBookmark& Bookmark) {
  if (Bookmark.size() != sizeof(int64_t) || rows_ == nullptr || GetRecordCount() < 1) return false;
  int64_t value;
  std::memcpy(&value, Bookmark.data(), sizeof value);
  return value >= 0 && value < FetchedCount();
}

int TMySQLDatasetBase::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
  if (!BookmarkValid(Bookmark1)) return -1;
  if (!BookmarkValid(Bookmark2)) return 1;
  int64_t a, b;
  std::memcpy(&a, Bookmark1.data(), sizeof a);
  std::memcpy(&b, Bookmark2.data(), sizeof b);
  return a == b ? 0 : a < b ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Record-level editing bookkeeping

void TMySQLDatasetBase::InternalEdit() {
  // Only what this edit changes takes part in the update.
  ClearModified();
  auto old_values = std::make_unique<TRecInfo>();
  if (TRecInfo* rec = RecInfo(ActiveBuffer())) {
    old_values->Data = rec->Data;
    old_values->Bookmark = rec->Bookmark;
  }
  old_values_ = std::move(old_values);
}

void TMySQLDatasetBase::InternalCancel() {
  DropBlobStreams(false);
  // The row the edited record came from (its bookmark), not the current
  // index, which follows every fetch of the record window.
  TRowValues* row = old_values_ ? GetIndexRecord(old_values_->Bookmark) : nullptr;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (info->Modified && row != nullptr && !row->Released()) row->Set(i, old_values_->Data.Get(i));
    info->Modified = false;
  }
  old_values_.reset();
}

}  // namespace rowset
