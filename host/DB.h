// The record-buffer dataset framework.
//
// TDataSet keeps a window of record buffers (one per record a data link
// wants to see, at least one, plus a spare) and fills them by asking the
// concrete dataset through virtual hooks: AllocRecordBuffer, GetRecord with
// the modes current/next/prior, bookmark data and flags, InternalFirst/
// InternalLast, InternalSetToRecord/InternalGotoBookmark and the editing
// hooks. The concrete dataset owns its records; the framework owns the
// window and the state machine around it (browse, edit, insert and the
// internal states), the events, the fields and the data events sent to data
// sources and their links.
//
// Cursor protocol: the framework tells the dataset where it is before asking
// for a record relative to it. Before an operation on the active record it
// calls InternalSetToRecord(active buffer) (or InternalFirst/InternalLast
// for a buffer flagged bfBOF/bfEOF); CursorPosChanged forces that to happen
// again. GetRecord(next/prior) moves the dataset's cursor and fills the
// buffer; GetRecord(current) refills the buffer from the cursor.
//
// A new record gets the bookmark of the record that was current when
// Insert ran (bfInserted), or the flag bfBOF when the dataset was empty, or
// bfEOF for Append; positioning on it before InternalPost therefore puts
// the dataset's cursor on the row before which the new one goes (InternalLast
// for Append).
//
// Field values move in the native layouts listed in host/DBFields.h; a
// string value goes through TStringField::StringToBuffer/BufferToString so
// that it keeps its exact bytes. Calculated and lookup fields have their
// areas in the calculated-fields part of a record: CalcFieldsSize bytes in
// all, DataSize + 1 bytes per field from the field's Offset (room for a
// "has a value" byte besides the value). tests/common/MemDataset.h is a
// complete small dataset written against this protocol.
//
// Destruction: a concrete dataset must call CloseInDestructor() at the start
// of its destructor, while its hooks still exist. Closing there cannot
// throw: a failure goes to the application's exception handler
// (ApplicationHandleException). Close explicitly to see such errors.
#ifndef ROWSET_HOST_DB_H_
#define ROWSET_HOST_DB_H_

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Classes.h"
#include "host/DBFields.h"
#include "host/Exceptions.h"
#include "host/FieldTypes.h"

namespace rowset {

class TDataSet;
class TDataSource;
class TDataLink;
class TParams;

// ----------------------------------------------------------------------------
// Application exception handler: where exceptions go that cannot propagate
// (a close that fails while an object is destroyed, a deferred open or
// connect at design time). The default handler writes the message to
// standard error; EAbort is ignored.

using TApplicationExceptionHandler = std::function<void(TObject* Sender, std::exception_ptr Error)>;
void SetApplicationExceptionHandler(TApplicationExceptionHandler Handler);
// Hands the exception being handled (call inside a catch block) to the
// handler. Never throws.
void ApplicationHandleException(TObject* Sender) noexcept;

// ----------------------------------------------------------------------------
// Types of the record-buffer protocol

using TRecordBuffer = char*;
// A bookmark is BookmarkSize bytes copied from a record buffer; empty means
// none.
using TBookmark = std::vector<uint8_t>;

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TResyncModeItem { rmExact, rmCenter };
using TResyncMode = Set<TResyncModeItem>;
enum TDataAction { daFail, daAbort, daRetry };
enum TUpdateKind { ukModify, ukInsert, ukDelete };
enum TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = Set<TLocateOption>;

enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange
};

// States in which field values may be written.
bool IsWriteState(TDataSetState State);
// dsEdit, dsInsert, dsSetKey.
bool IsEditState(TDataSetState State);

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;

// ----------------------------------------------------------------------------
// TDataSet

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* AOwner = nullptr);
  // Detaches fields, data sources and links. The concrete dataset has
  // closed already (CloseInDestructor).
  ~TDataSet() override;

  // --- state
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  // True while Open runs (before the dataset is Active): a connection the
  // open is using must not be given up as if the dataset were closed.
  bool Opening() const { return opening_; }
  // While streaming in, a true value is only recorded for Loaded.
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  bool DefaultFields() const { return default_fields_; }

  // --- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Returns the number of records moved (negative backwards).
  int MoveBy(int Distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecNo() { return GetRecNo(); }
  virtual void SetRecNo(int Value) {}
  int RecordCount() { return GetRecordCount(); }
  int RecordSize() { return static_cast<int>(GetRecordSize()); }

  // --- bookmarks
  TBookmark GetBookmark();
  // Moves to the record; an empty bookmark does nothing; one of the wrong
  // size raises.
  void GotoBookmark(const TBookmark& Bookmark);
  void FreeBookmark(TBookmark& Bookmark);
  virtual bool BookmarkValid(const TBookmark& Bookmark) { return false; }
  virtual int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) { return 0; }
  bool BookmarkAvailable();
  int BookmarkSize() const { return bookmark_size_; }

  // --- editing
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Posts a modified record or cancels an unmodified one.
  void CheckBrowseMode();
  void Refresh();
  // Lets the data links write pending control values into the fields.
  void UpdateRecord();

  // --- controls and events
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  // Sends a data event to the data sources (and so to their links).
  // Field events carry the field as Info.
  virtual void DataEvent(TDataEvent Event, intptr_t Info);

  // --- buffers and cursor
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  // The index of the active buffer in the window and the number of filled
  // buffers (data links use these).
  int ActiveRecord() const { return active_record_; }
  int BufferRecordCount() const { return record_count_; }
  int BufferCount() const { return buffer_count_; }
  // Forgets which record the dataset's cursor is on, so the next operation
  // positions it again.
  void CursorPosChanged() { current_record_ = -1; }
  // Rebuilds the window around the dataset's current record. rmExact: the
  // record must exist ("Record not found"); rmCenter: centre it.
  virtual void Resync(TResyncMode Mode);

  // --- fields
  TFields& Fields() { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const std::string& FieldName) const { return fields_.FindField(FieldName); }
  TField* FieldByName(const std::string& FieldName) const;
  TField* FieldByNumber(int FieldNo) const { return fields_.FieldByNumber(FieldNo); }
  // Resolves a ";"-separated list of field names (raises for a missing
  // one).
  void GetFieldList(std::vector<TField*>& List, const std::string& FieldNames) const;
  void GetFieldNames(TStrings& List) const;
  TFieldDefs* FieldDefs() { return field_defs_.get(); }
  TIndexDefs* IndexDefs() { return index_defs_.get(); }
  TCheckConstraints* Constraints() { return constraints_.get(); }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool Value) { auto_calc_fields_ = Value; }
  // Reads the field definitions: from the open cursor, or by opening and
  // closing it.
  void InitFieldDefs();

  // --- filter
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& Value) { SetFilterText(Value); }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool Value);
  virtual void SetFilterText(const std::string& Value);

  // --- search and blobs (hooks with neutral defaults)
  virtual bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options);
  virtual Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                         const std::string& ResultFields);
  // The default raises: a dataset with blob fields overrides it.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode);
  virtual void CloseBlob(TField* Field) {}

  // --- field values (hooks)
  // True when the field has a value in the active record; fills Buffer
  // (DataSize bytes, native layout) when it is not nullptr.
  virtual bool GetFieldData(TField* Field, void* Buffer) { return false; }
  // For a dataset that holds values as text: the text GetFieldData would
  // convert for Field in the active record, so that a field can give it back
  // without the round trip through its native layout. Returns false when the
  // dataset cannot say (GetFieldData is then the way). Otherwise IsNull is
  // true where GetFieldData with a buffer would return false; else Text
  // holds the exact bytes of a string field's value or, for other types,
  // the text with blanks removed. Text is valid until the record or its
  // value changes.
  virtual bool GetHeldFieldText(TField* Field, std::string_view& Text, bool& IsNull) { return false; }
  // Stores the value at Buffer (nullptr: NULL). The dataset validates
  // (Field->Validate) and sends DataEvent(deFieldChange, Field).
  virtual void SetFieldData(TField* Field, const void* Buffer) {}

  // --- master/detail
  // The data source this dataset takes its master values from.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // True when DataSource (through its dataset's own data source, and so
  // on) leads back to this dataset.
  bool IsLinkedTo(TDataSource* DataSource) const;

  // --- provider hooks
  virtual void PSEndTransaction(bool Commit) {}
  virtual void PSExecute();
  virtual int PSExecuteStatement(const std::string& ASQL, TParams* AParams, void* ResultSet = nullptr);
  virtual TIndexDef* PSGetDefaultOrder() { return nullptr; }
  virtual std::string PSGetKeyFields();
  virtual TParams* PSGetParams() { return nullptr; }
  virtual std::string PSGetQuoteChar() { return "\""; }
  virtual std::string PSGetTableName() { return ""; }
  virtual TIndexDefs* PSGetIndexDefs(TIndexOptions IndexTypes) { return index_defs_.get(); }
  virtual bool PSInTransaction() { return false; }
  virtual bool PSIsSQLBased() { return false; }
  virtual bool PSIsSQLSupported() { return false; }
  virtual void PSReset() {}
  virtual void PSSetParams(TParams* AParams);
  virtual void PSSetCommandText(const std::string& CommandText);
  virtual void PSStartTransaction() {}
  virtual bool PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) { return false; }

  // --- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;
  TFilterRecordEvent OnFilterRecord;

 protected:
  // --- record buffers
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& Buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) = 0;
  virtual uint16_t GetRecordSize() { return 0; }
  virtual void InternalInitRecord(TRecordBuffer Buffer) = 0;
  virtual void ClearCalcFields(TRecordBuffer Buffer) {}

  // --- bookmarks: Data points to BookmarkSize bytes
  virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data) = 0;
  virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) = 0;
  virtual void InternalGotoBookmark(const void* Bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer Buffer) = 0;
  void SetBookmarkSize(int Value) { bookmark_size_ = Value; }

  // --- cursor
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalRefresh() {}
  // Called with the exception being handled (inside a catch block) where a
  // failure cannot propagate, e.g. a deferred open at design time.
  virtual void InternalHandleException() = 0;

  // --- editing
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalCancel() {}
  // The default checks required fields.
  virtual void InternalPost() { CheckRequiredFields(); }
  virtual void InternalDelete() = 0;
  virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) = 0;

  // --- record number and count (defaults: unknown)
  virtual int GetRecNo() { return -1; }
  virtual int GetRecordCount() { return -1; }
  virtual bool GetCanModify() { return true; }

  // --- fields
  // The class made for a field definition of this type; nullptr when the
  // type has none.
  virtual TFieldClass GetFieldClass(TFieldType FieldType);
  virtual bool GetIsIndexField(TField* Field) { return false; }
  // Creates the default fields from FieldDefs (the dataset owns them).
  void CreateFields();
  void DestroyFields();
  // Binding: assigns field numbers from the definitions, checks types and
  // string sizes, and lays out the calculated fields (each DataSize + 1
  // bytes from offset 0, CalcFieldsSize in total).
  void BindFields(bool Binding);
  // Runs the lookups and OnCalcFields for Buffer in the calc-fields state.
  void GetCalcFields(TRecordBuffer Buffer);
  void CheckRequiredFields();

  // --- helpers for the concrete dataset
  void CheckActive() const;
  void CheckInactive() const;
  void CheckBrowseModeOnly();  // raises unless browsing
  void CheckCanModify();
  void SetState(TDataSetState Value);
  void SetModified(bool Value) { modified_ = Value; }
  void UpdateCursorPos();
  // Closes without throwing; for the destructor of a concrete dataset.
  void CloseInDestructor() noexcept;
  bool StreamedActive() const { return streamed_active_; }

  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Buffer window (concrete datasets rarely need these).
  // nullptr for an index outside the window.
  TRecordBuffer Buffers(int Index) const {
    return Index >= 0 && Index < static_cast<int>(buffers_.size()) ? buffers_[static_cast<size_t>(Index)] : nullptr;
  }
  int CurrentRecord() const { return current_record_; }

 private:
  friend class TField;
  friend class TFieldDefs;
  friend class TFieldDef;
  friend class TDataSource;
  friend class TDataLink;

  void OpenCursor();
  void CloseCursor();
  void DoInternalOpen();
  void ClearBuffers();
  void ActivateBuffers();
  void SetBufListSize(int Value);
  void SetBufferCount(int Value);
  void UpdateBufferCount();
  void MoveBuffer(int CurIndex, int NewIndex);
  void SetCurrentRecord(int Index);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void InitRecord(TRecordBuffer Buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void FreeFieldBuffers();
  void CalculateFields(TRecordBuffer Buffer);
  void CheckOperation(void (TDataSet::*Operation)(), TDataSetErrorEvent& ErrorEvent);
  void AddDataSource(TDataSource* DataSource);
  void RemoveDataSource(TDataSource* DataSource);
  void AdjustFirstRecords(int Delta);
  void DoEvent(TDataSetNotifyEvent& Event);
  void DoBeforeScroll() { DoEvent(BeforeScroll); }
  void DoAfterScroll() { DoEvent(AfterScroll); }

  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool default_fields_ = false;
  bool internal_open_complete_ = false;
  bool internal_calc_fields_ = false;
  bool auto_calc_fields_ = true;
  bool streamed_active_ = false;
  bool opening_ = false;
  bool filtered_ = false;
  std::string filter_text_;
  int bookmark_size_ = 0;

  // The window: buffers_ holds buffer_count_ + 1 buffers while open (the
  // last one is the spare that GetRecord fills before it is moved into
  // place); record_count_ of them hold records.
  std::vector<TRecordBuffer> buffers_;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  TRecordBuffer calc_buffer_ = nullptr;
  int calc_fields_size_ = 0;

  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;

  TFields fields_;
  std::vector<std::unique_ptr<TField>> default_field_store_;
  std::unique_ptr<TFieldDefs> field_defs_;
  std::unique_ptr<TIndexDefs> index_defs_;
  std::unique_ptr<TCheckConstraints> constraints_;
  std::vector<TDataSource*> data_sources_;
};

// ----------------------------------------------------------------------------
// TDataSource: connects a dataset to data links and reports its events.

using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // Raises "Circular datalinks are not allowed" when the dataset is linked
  // back to this data source.
  void SetDataSet(TDataSet* Value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool Value);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool Value) { auto_edit_ = Value; }
  // The dataset's state; dsInactive without a dataset or when disabled.
  TDataSetState State() const { return state_; }
  // Puts the dataset into edit mode when AutoEdit allows it.
  void Edit();
  bool IsLinkedTo(TDataSet* DataSet) const;
  int DataLinkCount() const { return static_cast<int>(links_.size()); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void NotifyDataLinks(TDataEvent Event, intptr_t Info);
  void UpdateState();
  void SetState(TDataSetState Value);
  void AddDataLink(TDataLink* Link);
  void RemoveDataLink(TDataLink* Link);

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

// ----------------------------------------------------------------------------
// TDataLink: a client of a data source (a control, a detail dataset).

class TDataLink : public TPersistent {
 public:
  TDataLink();
  ~TDataLink() override;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* Value);
  TDataSet* DataSet() const;
  // The data source's dataset is open.
  bool Active() const { return active_; }
  // The dataset is in edit, insert or set-key state and the link is not
  // read-only.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value);
  // Number of records this link wants to see at once (at least 1).
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int Value);
  // The active record's index within this link's records.
  int ActiveRecord() const;
  void SetActiveRecord(int Value);
  int RecordCount() const;
  // Puts the dataset into edit mode; true when editing.
  bool Edit();
  // Lets the link write its pending value (UpdateData).
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int Distance) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* Field) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* Field) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void UpdateState();
  void SetActive(bool Value);
  void SetEditing(bool Value);
  void UpdateRange();

  TDataSource* source_ = nullptr;
  int first_record_ = 0;
  int buffer_count_ = 1;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
};

// ----------------------------------------------------------------------------
// TMasterDataLink: the link of a detail dataset to its master's data
// source. OnMasterChange fires when the master scrolls or one of the linked
// master fields changes (or the link becomes active with fields);
// OnMasterDisable when the master closes or the link loses its fields.

class TMasterDataLink : public TDataLink {
 public:
  // DataSet is the detail dataset that owns this link.
  explicit TMasterDataLink(TDataSet* DataSet);

  TDataSet* DetailDataSet() const { return detail_; }
  // Master field names separated by ";".
  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& Value);
  // The master fields, resolved while active.
  const std::vector<TField*>& Fields() const { return fields_; }
  // When set, a name the master does not have is left out of Fields
  // instead of raising "Field '...' not found" (for a detail that gives
  // such a master field the value NULL).
  bool SkipMissingFields = false;
  // The detail dataset is linked to DataSource (see TDataSet::IsLinkedTo).
  bool IsLinkedTo(TDataSource* DataSource) const;

  TNotifyEvent OnMasterChange;
  TNotifyEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* Field) override;

 private:
  TDataSet* detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

}  // namespace rowset

#endif  // ROWSET_HOST_DB_H_
