// TMemDataset: a small in-memory dataset over a vector of rows, for tests
// of the dataset framework and of code that works with any dataset (data
// sources, links, lookups, connections).
//
// Define the columns with FieldDefs()->Add before opening, fill rows with
// AddRow, then Open. Each row keeps one Variant per column (Null for NULL)
// and a stable id that serves as its bookmark, so bookmarks survive
// inserts and deletes of other rows. With a master (SetMaster) the dataset
// shows only the rows whose detail column has the master field's text, and
// refreshes when the master moves. Every hook call is logged in Log when
// LogHooks is set.
#ifndef ROWSET_TESTS_COMMON_MEMDATASET_H_
#define ROWSET_TESTS_COMMON_MEMDATASET_H_

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/DB.h"
#include "host/DBFields.h"
#include "host/SysUtils.h"
#include "host/Variants.h"

namespace rowset {
namespace test {

class TMemDataset : public TDataSet {
 public:
  struct Row {
    int64_t id;
    std::vector<Variant> values;
  };

  explicit TMemDataset(TComponent* AOwner = nullptr) : TDataSet(AOwner), master_link_(this) {
    master_link_.OnMasterChange = [this](TObject*) { MasterChanged(); };
    master_link_.OnMasterDisable = [this](TObject*) { MasterChanged(); };
  }
  ~TMemDataset() override { CloseInDestructor(); }

  // Appends a row (values in FieldDefs order; missing ones are Null).
  void AddRow(std::vector<Variant> Values) {
    Values.resize(static_cast<size_t>(FieldDefs()->Count()));
    rows_.push_back(Row{next_id_++, std::move(Values)});
  }
  const std::vector<Row>& Rows() const { return rows_; }
  std::vector<Row>& MutableRows() { return rows_; }

  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value) { read_only_ = Value; }

  // Detail of Source: shows rows whose DetailField text equals the master's
  // MasterField text.
  void SetMaster(TDataSource* Source, const std::string& DetailField, const std::string& MasterField) {
    detail_field_ = DetailField;
    master_link_.SetFieldNames(MasterField);
    master_link_.SetDataSource(Source);
  }
  TMasterDataLink& MasterLink() { return master_link_; }
  TDataSource* GetDataSource() const override { return master_link_.DataSource(); }
  int RefreshCount() const { return refresh_count_; }

  // Failure injection: the next call of the named hook raises
  // EDatabaseError("injected <hook>").
  std::string FailHook;
  bool LogHooks = false;
  std::vector<std::string> Log;

  // Visible cursor position (index into the visible rows), for tests.
  int Cursor() const { return cur_; }

  // --- framework hooks made public for tests that call them directly
  using TDataSet::CalcBuffer;
  using TDataSet::GetCalcFields;

  int GetRecNo() override {
    Rec* r = ActiveRec();
    if (r == nullptr) return -1;
    return IndexOfId(r->bookmark);
  }
  int GetRecordCount() override { return IsCursorOpen() ? static_cast<int>(view_.size()) : 0; }
  void SetRecNo(int Value) override {
    CheckBrowseMode();
    if (Value == RecNo()) return;
    if (Value < 0 || Value >= static_cast<int>(view_.size())) DatabaseError("Record number out of range", this);
    if (BeforeScroll) BeforeScroll(this);
    cur_ = Value;
    CursorPosChanged();
    Resync(TResyncMode{rmCenter});
    if (AfterScroll) AfterScroll(this);
  }

  bool BookmarkValid(const TBookmark& B) override {
    if (B.size() != 8 || !IsCursorOpen()) return false;
    return IndexOfId(ReadId(B.data())) >= 0;
  }
  int CompareBookmarks(const TBookmark& B1, const TBookmark& B2) override {
    if (!BookmarkValid(B1)) return -1;
    if (!BookmarkValid(B2)) return 1;
    int i1 = IndexOfId(ReadId(B1.data())), i2 = IndexOfId(ReadId(B2.data()));
    return i1 == i2 ? 0 : (i1 < i2 ? -1 : 1);
  }

  bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) override {
    CheckBrowseMode();
    std::vector<TField*> keys;
    GetFieldList(keys, KeyFields);
    for (size_t i = 0; i < view_.size(); ++i) {
      const Row& row = rows_[static_cast<size_t>(view_[i])];
      bool match = true;
      for (size_t k = 0; k < keys.size() && match; ++k) {
        const Variant& want = keys.size() == 1 ? (KeyValues.IsArray() ? KeyValues.ArrayItem(0) : KeyValues)
                                               : KeyValues.ArrayItem(static_cast<int>(k));
        std::string have = VarToStr(row.values[static_cast<size_t>(keys[k]->FieldNo() - 1)]);
        std::string text = VarToStr(want);
        if (Options.Contains(loCaseInsensitive)) {
          have = UpperCase(have);
          text = UpperCase(text);
        }
        match = Options.Contains(loPartialKey) ? have.compare(0, text.size(), text) == 0 : have == text;
      }
      if (match) {
        if (BeforeScroll) BeforeScroll(this);
        cur_ = static_cast<int>(i);
        CursorPosChanged();
        Resync(TResyncMode{rmExact, rmCenter});
        if (AfterScroll) AfterScroll(this);
        return true;
      }
    }
    return false;
  }
  Variant Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) override {
    // Searches without moving the cursor.
    std::vector<TField*> keys;
    GetFieldList(keys, KeyFields);
    TField* result = FieldByName(ResultFields);
    for (int pos : view_) {
      const Row& row = rows_[static_cast<size_t>(pos)];
      bool match = true;
      for (size_t k = 0; k < keys.size() && match; ++k) {
        const Variant& want = keys.size() == 1 ? (KeyValues.IsArray() ? KeyValues.ArrayItem(0) : KeyValues)
                                               : KeyValues.ArrayItem(static_cast<int>(k));
        match = VarToStr(row.values[static_cast<size_t>(keys[k]->FieldNo() - 1)]) == VarToStr(want);
      }
      if (match) return row.values[static_cast<size_t>(result->FieldNo() - 1)];
    }
    return Null();
  }

  std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;

  bool GetFieldData(TField* Field, void* Buffer) override {
    Rec* r = ActiveRec();
    if (r == nullptr) return false;
    if (Field->FieldNo() < 1) {
      if (r->calc.empty() || Field->Offset() + Field->DataSize() + 1 > static_cast<int>(r->calc.size()))
        return false;
      const char* area = r->calc.data() + Field->Offset();
      if (area[0] == 0) return false;
      if (Buffer != nullptr) std::memcpy(Buffer, area + 1, static_cast<size_t>(Field->DataSize()));
      return true;
    }
    const Variant& v = r->values[static_cast<size_t>(Field->FieldNo() - 1)];
    if (v.IsNull() || v.IsEmpty()) return false;
    if (Field->IsBlob()) return !v.AsString().empty();
    if (Buffer != nullptr) ToNative(Field, v, Buffer);
    return true;
  }

  void SetFieldData(TField* Field, const void* Buffer) override {
    Rec* r = ActiveRec();
    if (r == nullptr) return;
    Field->Validate(Buffer);
    if (Field->FieldNo() < 1) {
      char* area = r->calc.data() + Field->Offset();
      area[0] = Buffer != nullptr ? 1 : 0;
      if (Buffer != nullptr)
        std::memcpy(area + 1, Buffer, static_cast<size_t>(Field->DataSize()));
      else
        std::memset(area + 1, 0, static_cast<size_t>(Field->DataSize()));
    } else {
      r->values[static_cast<size_t>(Field->FieldNo() - 1)] = Buffer != nullptr ? FromNative(Field, Buffer) : Null();
    }
    if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
  }

  // The record behind the active buffer by the dataset's state (nullptr
  // when there is none).
  struct Rec {
    std::vector<Variant> values;
    std::vector<char> calc;
    int64_t bookmark = 0;
    TBookmarkFlag flag = bfCurrent;
  };
  Rec* ActiveRec() {
    switch (State()) {
      case dsBrowse:
      case dsBlockRead:
        return IsEmpty() ? nullptr : AsRec(ActiveBuffer());
      case dsEdit:
      case dsInsert:
      case dsFilter:
        return AsRec(ActiveBuffer());
      case dsCalcFields:
        return AsRec(CalcBuffer());
      default:
        return nullptr;
    }
  }

 protected:
  TRecordBuffer AllocRecordBuffer() override {
    Hook("AllocRecordBuffer");
    auto rec = std::make_unique<Rec>();
    rec->values.resize(static_cast<size_t>(FieldDefs()->Count()));
    rec->calc.assign(static_cast<size_t>(CalcFieldsSize()), 0);
    ++live_buffers_;
    return reinterpret_cast<TRecordBuffer>(rec.release());
  }
  void FreeRecordBuffer(TRecordBuffer& Buffer) override {
    if (Buffer == nullptr) return;
    delete AsRec(Buffer);
    --live_buffers_;
    Buffer = nullptr;
  }
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override {
    Hook(GetMode == gmNext ? "GetRecord(next)" : GetMode == gmPrior ? "GetRecord(prior)" : "GetRecord(current)");
    int n = static_cast<int>(view_.size());
    TGetResult result = grOK;
    switch (GetMode) {
      case gmNext:
        if (cur_ + 1 >= n) {
          cur_ = n;
          result = grEOF;
        } else {
          ++cur_;
        }
        break;
      case gmPrior:
        if (cur_ <= 0) {
          cur_ = -1;
          result = grBOF;
        } else {
          --cur_;
        }
        break;
      case gmCurrent:
        if (cur_ < 0 || cur_ >= n) result = grError;
        break;
    }
    if (result == grOK) {
      Rec* rec = AsRec(Buffer);
      const Row& row = rows_[static_cast<size_t>(view_[static_cast<size_t>(cur_)])];
      rec->values = row.values;
      rec->bookmark = row.id;
      rec->flag = bfCurrent;
      GetCalcFields(Buffer);
    } else if (result == grError && DoCheck) {
      DatabaseError("No Records", this);
    }
    return result;
  }
  void InternalInitRecord(TRecordBuffer Buffer) override {
    Rec* rec = AsRec(Buffer);
    for (Variant& v : rec->values) v = Null();
  }
  void ClearCalcFields(TRecordBuffer Buffer) override {
    Rec* rec = AsRec(Buffer);
    std::fill(rec->calc.begin(), rec->calc.end(), 0);
  }
  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override {
    std::memcpy(Data, &AsRec(Buffer)->bookmark, 8);
  }
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override {
    std::memcpy(&AsRec(Buffer)->bookmark, Data, 8);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override { return AsRec(Buffer)->flag; }
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override { AsRec(Buffer)->flag = Value; }
  void InternalGotoBookmark(const void* Bookmark) override {
    Hook("InternalGotoBookmark");
    cur_ = IndexOfId(ReadId(Bookmark));
  }
  void InternalSetToRecord(TRecordBuffer Buffer) override { InternalGotoBookmark(&AsRec(Buffer)->bookmark); }

  void InternalOpen() override {
    Hook("InternalOpen");
    if (FieldDefs()->Count() == 0) DatabaseError("No columns defined", this);
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(8);
    BuildView();
    cur_ = -1;
    open_ = true;
  }
  void InternalClose() override {
    Hook("InternalClose");
    open_ = false;
    view_.clear();
    BindFields(false);
    if (DefaultFields()) DestroyFields();
  }
  void InternalInitFieldDefs() override {}
  bool IsCursorOpen() override { return open_; }
  void InternalFirst() override { cur_ = -1; }
  void InternalLast() override { cur_ = static_cast<int>(view_.size()); }
  void InternalRefresh() override {
    Hook("InternalRefresh");
    ++refresh_count_;
    int64_t id = cur_ >= 0 && cur_ < static_cast<int>(view_.size()) ? rows_[static_cast<size_t>(view_[static_cast<size_t>(cur_)])].id : -1;
    BuildView();
    cur_ = id >= 0 ? IndexOfId(id) : -1;
    if (cur_ < 0 && !view_.empty()) cur_ = 0;
  }
  void InternalHandleException() override { ApplicationHandleException(this); }
  void InternalEdit() override { Hook("InternalEdit"); }
  void InternalInsert() override { Hook("InternalInsert"); }
  void InternalCancel() override { Hook("InternalCancel"); }
  void InternalPost() override {
    Hook("InternalPost");
    TDataSet::InternalPost();  // required fields
    Rec* rec = AsRec(ActiveBuffer());
    if (State() == dsEdit) {
      int i = IndexOfId(rec->bookmark);
      if (i < 0) DatabaseError("Record not found", this);
      rows_[static_cast<size_t>(view_[static_cast<size_t>(i)])].values = rec->values;
      cur_ = i;
    } else {
      InternalAddRecord(ActiveBuffer(), rec->flag == bfEOF);
    }
  }
  void InternalAddRecord(TRecordBuffer Buffer, bool Append) override {
    Rec* rec = AsRec(Buffer);
    // Insert before the cursor's row (the row that was current at Insert),
    // or at the end.
    int at = Append || cur_ < 0 || cur_ >= static_cast<int>(view_.size()) ? static_cast<int>(view_.size()) : cur_;
    int row_pos = at < static_cast<int>(view_.size()) ? view_[static_cast<size_t>(at)] : static_cast<int>(rows_.size());
    rows_.insert(rows_.begin() + row_pos, Row{next_id_++, rec->values});
    BuildView();
    cur_ = at;
  }
  void InternalDelete() override {
    Hook("InternalDelete");
    if (cur_ < 0 || cur_ >= static_cast<int>(view_.size())) DatabaseError("Record not found", this);
    rows_.erase(rows_.begin() + view_[static_cast<size_t>(cur_)]);
    BuildView();
    if (cur_ >= static_cast<int>(view_.size())) cur_ = static_cast<int>(view_.size()) - 1;
  }
  bool GetCanModify() override { return !read_only_; }

 public:
  int LiveBuffers() const { return live_buffers_; }

 private:
  static Rec* AsRec(TRecordBuffer b) { return reinterpret_cast<Rec*>(b); }
  static int64_t ReadId(const void* p) {
    int64_t id;
    std::memcpy(&id, p, 8);
    return id;
  }
  int IndexOfId(int64_t id) const {
    for (size_t i = 0; i < view_.size(); ++i)
      if (rows_[static_cast<size_t>(view_[i])].id == id) return static_cast<int>(i);
    return -1;
  }
  void Hook(const std::string& name) {
    if (LogHooks) Log.push_back(name);
    if (!FailHook.empty() && FailHook == name) {
      FailHook.clear();
      DatabaseError("injected " + name, this);
    }
  }
  void BuildView() {
    view_.clear();
    TDataSet* master = master_link_.DataSet();
    bool use_master = master_link_.Active() && !master_link_.Fields().empty();
    int detail_col = use_master ? FieldDefs()->IndexOf(detail_field_) : -1;
    std::string key;
    bool key_null = true;
    if (use_master && master != nullptr && !master->IsEmpty()) {
      key_null = master_link_.Fields()[0]->IsNull();
      key = master_link_.Fields()[0]->AsString();
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (use_master) {
        if (detail_col < 0 || key_null) continue;
        const Variant& v = rows_[i].values[static_cast<size_t>(detail_col)];
        if (v.IsNull() || VarToStr(v) != key) continue;
      }
      view_.push_back(static_cast<int>(i));
    }
  }
  void MasterChanged() {
    if (!Active()) return;
    if (master_link_.Editing()) return;
    DisableControls();
    try {
      Refresh();
    } catch (...) {
      EnableControls();
      throw;
    }
    EnableControls();
  }

  static void ToNative(TField* f, const Variant& v, void* buf) {
    switch (f->DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
        TStringField::StringToBuffer(f, buf, v.AsString());
        break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc: {
        int32_t x = v.AsInteger();
        std::memcpy(buf, &x, 4);
        break;
      }
      case ftLargeint: {
        int64_t x = v.AsInt64();
        std::memcpy(buf, &x, 8);
        break;
      }
      case ftFloat:
      case ftCurrency: {
        double x = v.AsFloat();
        std::memcpy(buf, &x, 8);
        break;
      }
      case ftBoolean: {
        int16_t x = v.AsBoolean() ? -1 : 0;
        std::memcpy(buf, &x, 2);
        break;
      }
      case ftDate: {
        int32_t x = DateTimeToTimeStamp(v.AsDateTime()).Date;
        std::memcpy(buf, &x, 4);
        break;
      }
      case ftTime: {
        int32_t x = DateTimeToTimeStamp(v.AsDateTime()).Time;
        std::memcpy(buf, &x, 4);
        break;
      }
      case ftDateTime: {
        double x = TimeStampToMSecs(DateTimeToTimeStamp(v.AsDateTime()));
        std::memcpy(buf, &x, 8);
        break;
      }
      case ftVariant:
        *static_cast<Variant*>(buf) = v;
        break;
      default:
        break;
    }
  }
  static Variant FromNative(TField* f, const void* buf) {
    switch (f->DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
        return Variant(TStringField::BufferToString(f, buf));
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc: {
        int32_t x;
        std::memcpy(&x, buf, 4);
        return Variant(x);
      }
      case ftLargeint: {
        int64_t x;
        std::memcpy(&x, buf, 8);
        return Variant(x);
      }
      case ftFloat:
      case ftCurrency: {
        double x;
        std::memcpy(&x, buf, 8);
        return Variant(x);
      }
      case ftBoolean: {
        int16_t x;
        std::memcpy(&x, buf, 2);
        return Variant(x != 0);
      }
      case ftDate: {
        int32_t x;
        std::memcpy(&x, buf, 4);
        return Variant::FromDateTime(TimeStampToDateTime(TTimeStamp{0, x}));
      }
      case ftTime: {
        int32_t x;
        std::memcpy(&x, buf, 4);
        return Variant::FromDateTime(static_cast<double>(x) / MSecsPerDay);
      }
      case ftDateTime: {
        double x;
        std::memcpy(&x, buf, 8);
        return Variant::FromDateTime(TimeStampToDateTime(MSecsToTimeStamp(x)));
      }
      case ftVariant:
        return *static_cast<const Variant*>(buf);
      default:
        return Null();
    }
  }

  friend class TMemBlobStream;
  std::vector<Row> rows_;
  std::vector<int> view_;  // positions in rows_ of the visible rows
  int64_t next_id_ = 1;
  int cur_ = -1;
  bool open_ = false;
  bool read_only_ = false;
  int refresh_count_ = 0;
  int live_buffers_ = 0;
  std::string detail_field_;
  TMasterDataLink master_link_;
};

// A blob stream over the value of a blob field in the active record:
// reads and writes go straight to the record buffer; closing a stream that
// wrote marks the field modified and reports the change.
class TMemBlobStream : public TStream {
 public:
  TMemBlobStream(TMemDataset* DataSet, TField* Field, TBlobStreamMode Mode)
      : dataset_(DataSet), field_(Field), mode_(Mode), rec_(DataSet->ActiveRec()) {
    if (mode_ != bmRead) {
      if (Field->ReadOnly()) DatabaseError("Field '" + Field->DisplayName() + "' cannot be modified", DataSet);
      if (!IsEditState(DataSet->State())) DatabaseError("Dataset not in edit or insert mode", DataSet);
    }
    if (mode_ == bmWrite && rec_ != nullptr) {
      Value() = Variant(std::string());
      modified_ = true;
    }
  }
  ~TMemBlobStream() override {
    if (!modified_) return;
    try {
      if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
      dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
    } catch (...) {
      ApplicationHandleException(dataset_);
    }
  }
  int64_t Read(void* Buffer, int64_t Count) override {
    if (rec_ == nullptr || Count <= 0) return 0;
    std::string v = Text();
    if (pos_ < 0 || pos_ >= static_cast<int64_t>(v.size())) return 0;
    int64_t n = std::min<int64_t>(Count, static_cast<int64_t>(v.size()) - pos_);
    std::memcpy(Buffer, v.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void* Buffer, int64_t Count) override {
    if (rec_ == nullptr || mode_ == bmRead || Count <= 0 || pos_ < 0) return 0;
    std::string v = Text();
    if (static_cast<int64_t>(v.size()) < pos_ + Count) v.resize(static_cast<size_t>(pos_ + Count));
    std::memcpy(v.data() + pos_, Buffer, static_cast<size_t>(Count));
    Value() = Variant(std::move(v));
    pos_ += Count;
    modified_ = true;
    return Count;
  }
  int64_t Seek(int64_t Offset, uint16_t Origin) override {
    switch (Origin) {
      case soFromBeginning:
        pos_ = Offset;
        break;
      case soFromCurrent:
        pos_ += Offset;
        break;
      case soFromEnd:
        pos_ = static_cast<int64_t>(Text().size()) + Offset;
        break;
      default:
        throw EStreamError("Invalid stream origin");
    }
    return pos_;
  }

 private:
  Variant& Value() { return rec_->values[static_cast<size_t>(field_->FieldNo() - 1)]; }
  std::string Text() {
    if (rec_ == nullptr) return "";
    const Variant& v = Value();
    return v.IsNull() || v.IsEmpty() ? std::string() : v.AsString();
  }

  TMemDataset* dataset_;
  TField* field_;
  TBlobStreamMode mode_;
  TMemDataset::Rec* rec_;
  int64_t pos_ = 0;
  bool modified_ = false;
};

inline std::unique_ptr<TStream> TMemDataset::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  if (Field == nullptr || !Field->IsBlob() || Field->DataSet() != this)
    DatabaseError("Invalid blob field", this);
  return std::make_unique<TMemBlobStream>(this, Field, Mode);
}

}  // namespace test
}  // namespace rowset

#endif  // ROWSET_TESTS_COMMON_MEMDATASET_H_
