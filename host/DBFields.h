// Fields and definitions of the dataset framework.
//
// A TField is the typed view of one column of a dataset's current record.
// It holds no value itself: reading asks the dataset to copy the value in
// the field's native layout into a buffer (TDataSet::GetFieldData), writing
// hands such a buffer to the dataset (TDataSet::SetFieldData). The native
// layouts, which every dataset must use, are:
//
//   TSmallintField, TIntegerField, TWordField, TAutoIncField
//                      32-bit signed integer (DataSize 4)
//   TLargeintField     64-bit signed integer (DataSize 8)
//   TFloatField        64-bit float (DataSize 8); TCurrencyField the same
//   TBooleanField      16-bit boolean: all bits set for true, 0 for false
//   TDateField         32-bit day number, 0001-01-01 being day 1
//   TTimeField         32-bit milliseconds since midnight
//   TDateTimeField     64-bit float: milliseconds since 0001-01-01 00:00
//                      less one day (day number * 86400000 + time)
//   TVariantField      a constructed Variant object
//   TStringField       Size + 1 bytes of text ending in a NUL, followed by a
//                      32-bit length (DataSize Size + 5, see StringToBuffer)
//   TBlobField, TMemoField
//                      no buffer: contents move through blob streams
//
// A string value keeps its exact bytes, NUL bytes included: the trailing
// length says how many bytes of the text area belong to it. A length of 0
// with a non-empty text means "up to the first NUL", so a dataset that only
// writes NUL-terminated text is still read correctly. Copies into a field
// buffer never go beyond DataSize bytes: a value longer than Size is cut.
//
// Default fields are created by the dataset from its field definitions when
// it opens without persistent fields and destroyed when it closes; the
// dataset owns them. Persistent fields are created by the application (with
// an owner that frees them, usually the dataset) and attached with
// SetDataSet; they survive close and are checked against the definitions at
// open (name, type, string size).
#ifndef ROWSET_HOST_DBFIELDS_H_
#define ROWSET_HOST_DBFIELDS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Classes.h"
#include "host/FieldTypes.h"
#include "host/SysUtils.h"

namespace rowset {

class TDataSet;
class TField;
class Variant;


enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = Set<TFieldAttribute>;

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// ----------------------------------------------------------------------------
// TField

using TFieldNotifyEvent = std::function<void(TField* Sender)>;
using TFieldGetTextEvent = std::function<void(TField* Sender, std::string& Text, bool DisplayText)>;
using TFieldSetTextEvent = std::function<void(TField* Sender, const std::string& Text)>;

class TField : public TComponent {
 public:
  explicit TField(TComponent* AOwner = nullptr);
  // Leaves the dataset's field list.
  ~TField() override;

  // The dataset this field belongs to; changing it needs both datasets
  // closed.
  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* Value);

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& Value);
  // DisplayLabel when set, else FieldName.
  std::string DisplayName() const;
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(const std::string& Value) { display_label_ = Value; }
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind Value);
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }
  // The definition's field number (1-based) while bound; -1 for calculated
  // and lookup fields; 0 while unbound.
  int FieldNo() const { return field_no_; }
  // Position of a calculated or lookup field's area in the calculated-fields
  // part of a record (each area is DataSize + 1 bytes).
  int Offset() const { return offset_; }
  int Index() const;
  int Size() const { return size_; }
  // Raises when the dataset is open or the size does not suit the type.
  void SetSize(int Value);
  // Bytes of the native layout (see the header comment).
  virtual int DataSize() const { return 0; }
  const std::string& Origin() const { return origin_; }
  void SetOrigin(const std::string& Value) { origin_ = Value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value) { read_only_ = Value; }
  bool Required() const { return required_; }
  void SetRequired(bool Value) { required_ = Value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool Value) { visible_ = Value; }
  virtual bool IsBlob() const { return false; }
  // Not read-only, bound, and the dataset can modify.
  bool CanModify() const;

  // Lookup fields: the value of LookupResultField in LookupDataSet at the
  // record whose LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookupDataSet(TDataSet* Value);
  const std::string& KeyFields() const { return key_fields_; }
  void SetKeyFields(const std::string& Value) { key_fields_ = Value; }
  const std::string& LookupKeyFields() const { return lookup_key_fields_; }
  void SetLookupKeyFields(const std::string& Value) { lookup_key_fields_ = Value; }
  const std::string& LookupResultField() const { return lookup_result_field_; }
  void SetLookupResultField(const std::string& Value) { lookup_result_field_ = Value; }

  // Values. Reading a NULL gives the type's empty value (0, false, "").
  // Conversions that cannot be made raise EDatabaseError naming the field.
  virtual std::string AsString();
  virtual void SetAsString(const std::string& Value);
  virtual int32_t AsInteger();
  virtual void SetAsInteger(int32_t Value);
  virtual int64_t AsLargeInt();
  virtual void SetAsLargeInt(int64_t Value);
  virtual double AsFloat();
  virtual void SetAsFloat(double Value);
  virtual bool AsBoolean();
  virtual void SetAsBoolean(bool Value);
  virtual TDateTime AsDateTime();
  virtual void SetAsDateTime(TDateTime Value);
  double AsCurrency() { return AsFloat(); }
  void SetAsCurrency(double Value) { SetAsFloat(Value); }
  // Null for a NULL value.
  virtual Variant AsVariant();
  virtual void SetAsVariant(const Variant& Value);
  Variant Value();
  void SetValue(const Variant& Value);
  // The text shown and edited; OnGetText / OnSetText may replace it.
  std::string Text();
  void SetText(const std::string& Value);
  std::string DisplayText();

  bool IsNull();
  // Stores NULL (blob fields: empties the value).
  virtual void Clear() { SetData(nullptr); }

  // Raw access in the native layout. GetData returns false for NULL;
  // Buffer may be nullptr to test for a value only. SetData with nullptr
  // stores NULL. SetData checks that the dataset is in a state that allows
  // writing this field and that the field is not read-only.
  bool GetData(void* Buffer);
  void SetData(const void* Buffer);
  // Runs OnValidate for a value about to be stored. While it runs, reading
  // this field gives the new value (Buffer; nullptr: NULL).
  void Validate(const void* Buffer);
  // Fires OnChange (the dataset does this after each stored change).
  void Change();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  // Descendants set their type in their constructor.
  void SetDataType(TFieldType Value) { data_type_ = Value; }
  virtual void CheckTypeSize(int Value);
  // Called when the dataset binds (true) or unbinds (false) the field.
  virtual void Bind(bool Binding) {}
  // Resets per-record state (blob modified flags) when a record is left.
  virtual void FreeBuffers() {}
  virtual void GetText(std::string& Text, bool DisplayText) { Text = AsString(); }
  // Copies a value in the native layout (for the value being validated).
  virtual void CopyData(void* Dest, const void* Source) const;
  // The dataset's held text for this field (TDataSet::GetHeldFieldText);
  // false when there is none to go by, also while OnValidate runs.
  bool HeldText(std::string_view& Text, bool& IsNull);
  [[noreturn]] void AccessError(const std::string& TypeName);
  [[noreturn]] void RangeError(double Value, double Min, double Max);
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TDataSet;
  friend class TFields;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  std::string display_label_;
  std::string origin_;
  TFieldType data_type_ = ftUnknown;
  TFieldKind field_kind_ = fkData;
  int field_no_ = 0;
  int offset_ = 0;
  int size_ = 0;
  bool read_only_ = false;
  bool required_ = false;
  bool visible_ = true;
  TDataSet* lookup_dataset_ = nullptr;
  std::string key_fields_;
  std::string lookup_key_fields_;
  std::string lookup_result_field_;
  // While OnValidate runs: the value being validated.
  bool validating_ = false;
  const void* validate_buffer_ = nullptr;
};

// A field class: makes a new field of that class without owner.
using TFieldClass = std::unique_ptr<TField> (*)();
template <typename T>
std::unique_ptr<TField> NewField() {
  return std::make_unique<T>();
}

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* AOwner = nullptr);
  int DataSize() const override { return (Size() > 0 ? Size() : 0) + 5; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;

  // SetAsString (and every setter through it) refuses a value longer than
  // Size with EDatabaseError and leaves the field as it was: cutting it
  // would lose data. Reading stays bounded by Size.
  //
  // The native layout of a string field of size Size: a text area of
  // Size + 1 bytes, then a 32-bit length. StringToBuffer writes at most Size
  // bytes of Value (cutting a longer one, for readers that fill a buffer), a
  // NUL and the length; BufferToString reads them back (see the header
  // comment for a length 0).
  static void StringToBuffer(const TField* Field, void* Buffer, std::string_view Value);
  static std::string BufferToString(const TField* Field, const void* Buffer);

 protected:
  // Sizes 1 to 8192.
  void CheckTypeSize(int Value) override;
};

// Common base of the integer fields: range and conversions.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TComponent* AOwner = nullptr);
  int DataSize() const override { return 4; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;

 protected:
  void SetRange(int64_t Min, int64_t Max) {
    min_ = Min;
    max_ = Max;
  }

 private:
  int64_t min_ = INT32_MIN;
  int64_t max_ = INT32_MAX;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* AOwner = nullptr);
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* AOwner = nullptr);
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* AOwner = nullptr);
};

class TLargeintField : public TField {
 public:
  explicit TLargeintField(TComponent* AOwner = nullptr);
  int DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;
};

class TFloatField : public TField {
 public:
  explicit TFloatField(TComponent* AOwner = nullptr);
  int DataSize() const override { return 8; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;
  int Precision() const { return precision_; }
  void SetPrecision(int Value) { precision_ = Value; }

 private:
  int precision_ = 15;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* AOwner = nullptr);
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* AOwner = nullptr);
  int DataSize() const override { return 2; }
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;
  // "True;False" by default: the texts for true and false.
  const std::string& DisplayValues() const { return display_values_; }
  void SetDisplayValues(const std::string& Value);

 private:
  std::string display_values_ = "True;False";
  std::string true_text_ = "True";
  std::string false_text_ = "False";
};

// Date, time and date-time fields share the conversions; the layout
// differs by type (see the header comment).
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* AOwner = nullptr);
  int DataSize() const override;
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  TDateTime AsDateTime() override;
  void SetAsDateTime(TDateTime Value) override;
  double AsFloat() override { return AsDateTime(); }
  void SetAsFloat(double Value) override { SetAsDateTime(Value); }
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;

 private:
  // The value of a buffer in the native layout of this field's type.
  TDateTime ToDateTime(const void* Buffer) const;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* AOwner = nullptr);
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* AOwner = nullptr);
};

// Blob and memo fields read and write through the dataset's blob streams.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* AOwner = nullptr);
  bool IsBlob() const override { return true; }
  // Empties the value through a write stream. Clear, SetAsString and
  // LoadFromStream flush their stream (TStream::Flush) before letting it
  // go, so a failure to commit the value reaches the caller.
  void Clear() override;
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;
  // The field's contents changed in the current record (set by the
  // dataset's blob streams, cleared when the record is posted or left).
  bool Modified() const { return modified_; }
  void SetModified(bool Value) { modified_ = Value; }
  TFieldType BlobType() const { return DataType(); }
  void SetBlobType(TFieldType Value);
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream);

 protected:
  void CheckTypeSize(int Value) override;
  void FreeBuffers() override { modified_ = false; }

 private:
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* AOwner = nullptr);
};

class TVariantField : public TField {
 public:
  explicit TVariantField(TComponent* AOwner = nullptr);
  int DataSize() const override;
  std::string AsString() override;
  void SetAsString(const std::string& Value) override;
  int32_t AsInteger() override;
  void SetAsInteger(int32_t Value) override;
  int64_t AsLargeInt() override;
  void SetAsLargeInt(int64_t Value) override;
  double AsFloat() override;
  void SetAsFloat(double Value) override;
  bool AsBoolean() override;
  void SetAsBoolean(bool Value) override;
  Variant AsVariant() override;
  void SetAsVariant(const Variant& Value) override;

 protected:
  void CopyData(void* Dest, const void* Source) const override;
};

// ----------------------------------------------------------------------------
// TFields: a dataset's fields in order. Does not own them.

class TFields {
 public:
  explicit TFields(TDataSet* DataSet) : dataset_(DataSet) {}
  int Count() const { return static_cast<int>(list_.size()); }
  TField* Fields(int Index) const;
  TField* operator[](int Index) const { return Fields(Index); }
  // Name lookup ignores letter case.
  TField* FindField(const std::string& FieldName) const;
  TField* FieldByName(const std::string& FieldName) const;
  TField* FieldByNumber(int FieldNo) const;
  int IndexOf(const TField* Field) const;
  TDataSet* DataSet() const { return dataset_; }
  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  friend class TDataSet;
  friend class TField;
  void Add(TField* Field);
  void Remove(TField* Field);
  TDataSet* dataset_;
  std::vector<TField*> list_;
};

// ----------------------------------------------------------------------------
// Field definitions

class TFieldDefs;

class TFieldDef : public TCollectionItem {
 public:
  explicit TFieldDef(TCollection* Owner);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value);
  std::string DisplayName() const override { return name_; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType Value);
  int Size() const { return size_; }
  void SetSize(int Value);
  int Precision() const { return precision_; }
  void SetPrecision(int Value);
  // Required and the faRequired attribute are one setting.
  bool Required() const { return attributes_.Contains(faRequired); }
  void SetRequired(bool Value);
  TFieldAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFieldAttributes Value);
  // The explicitly set number, else the position + 1.
  int FieldNo() const;
  void SetFieldNo(int Value) { field_no_ = Value; }
  bool InternalCalcField() const { return internal_calc_; }
  void SetInternalCalcField(bool Value);
  // The field class of this definition's type in its dataset
  // (TDataSet::GetFieldClass); nullptr when none.
  TFieldClass FieldClass() const;
  // Makes a field of FieldClass from this definition, attached to the
  // definitions' dataset; the caller owns it.
  std::unique_ptr<TField> CreateField() const;
  TFieldDefs* FieldDefs() const;
  void Assign(TPersistent* Source) override;

 private:
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  int size_ = 0;
  int precision_ = 0;
  TFieldAttributes attributes_;
  int field_no_ = 0;
  bool internal_calc_ = false;
};

class TFieldDefs : public TCollection {
 public:
  explicit TFieldDefs(TDataSet* DataSet);

  TDataSet* DataSet() const { return dataset_; }
  TFieldDef* Items(int Index) const;
  TFieldDef* operator[](int Index) const { return Items(Index); }
  TFieldDef* AddFieldDef();
  // Adds a definition; raises for an empty or duplicate name.
  TFieldDef* Add(const std::string& Name, TFieldType DataType, int Size = 0, bool Required = false);
  // Name lookup ignores letter case.
  int IndexOf(const std::string& Name) const;
  TFieldDef* Find(const std::string& Name) const;  // raises when missing
  // Asks the dataset to (re)read its definitions when not Updated.
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool Value) { updated_ = Value; }

 private:
  TDataSet* dataset_;
  bool updated_ = false;
};

// ----------------------------------------------------------------------------
// Index definitions

enum TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = Set<TIndexOption>;

class TIndexDef : public TCollectionItem {
 public:
  explicit TIndexDef(TCollection* Owner);
  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value) { name_ = Value; }
  std::string DisplayName() const override { return name_; }
  // Field names separated by ";".
  const std::string& Fields() const { return fields_; }
  void SetFields(const std::string& Value) { fields_ = Value; }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions Value) { options_ = Value; }
  const std::string& DescFields() const { return desc_fields_; }
  void SetDescFields(const std::string& Value) { desc_fields_ = Value; }
  const std::string& CaseInsFields() const { return case_ins_fields_; }
  void SetCaseInsFields(const std::string& Value) { case_ins_fields_ = Value; }
  const std::string& Expression() const { return expression_; }
  void SetExpression(const std::string& Value) { expression_ = Value; }
  void Assign(TPersistent* Source) override;

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
  std::string desc_fields_;
  std::string case_ins_fields_;
  std::string expression_;
};

class TIndexDefs : public TCollection {
 public:
  explicit TIndexDefs(TDataSet* DataSet);
  TDataSet* DataSet() const { return dataset_; }
  TIndexDef* Items(int Index) const;
  TIndexDef* operator[](int Index) const { return Items(Index); }
  TIndexDef* AddIndexDef();
  TIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options);
  int IndexOf(const std::string& Name) const;  // letter case ignored
  TIndexDef* Find(const std::string& Name) const;  // raises when missing
  // The first index whose fields begin with (CaseInsensitive: ignoring
  // letter case) the given ";" list; nullptr when none.
  TIndexDef* FindIndexForFields(const std::string& Fields) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool Value) { updated_ = Value; }

 private:
  TDataSet* dataset_;
  bool updated_ = false;
};

// ----------------------------------------------------------------------------
// Record-level check constraints (kept for the application and providers).

class TCheckConstraint : public TCollectionItem {
 public:
  explicit TCheckConstraint(TCollection* Owner) : TCollectionItem(Owner) {}
  const std::string& CustomConstraint() const { return custom_constraint_; }
  void SetCustomConstraint(const std::string& Value) { custom_constraint_ = Value; }
  const std::string& ErrorMessage() const { return error_message_; }
  void SetErrorMessage(const std::string& Value) { error_message_ = Value; }
  bool FromDictionary() const { return from_dictionary_; }
  void SetFromDictionary(bool Value) { from_dictionary_ = Value; }
  const std::string& ImportedConstraint() const { return imported_constraint_; }
  void SetImportedConstraint(const std::string& Value) { imported_constraint_ = Value; }
  void Assign(TPersistent* Source) override;

 private:
  std::string custom_constraint_;
  std::string error_message_;
  bool from_dictionary_ = true;
  std::string imported_constraint_;
};

class TCheckConstraints : public TCollection {
 public:
  explicit TCheckConstraints(TPersistent* Owner = nullptr);
  TCheckConstraint* Items(int Index) const;
  TCheckConstraint* Add();
};

}  // namespace rowset

#endif  // ROWSET_HOST_DBFIELDS_H_
