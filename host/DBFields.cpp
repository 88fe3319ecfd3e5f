#include "host/DBFields.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "host/DB.h"
#include "host/Variants.h"

namespace rowset {

namespace {

bool IsStringFieldType(TFieldType t) { return t == ftString || t == ftFixedChar || t == ftWideString; }

// A zero-filled buffer for one value in a field's native layout: on the
// stack for the fixed-size types and short strings, else on the heap.
class ValueBuffer {
 public:
  explicit ValueBuffer(const TField* f) {
    size_t n = static_cast<size_t>(f->DataSize() > 0 ? f->DataSize() : 1);
    if (n <= sizeof local_) {
      std::memset(local_, 0, n);
      data_ = local_;
    } else {
      heap_.assign(n, 0);
      data_ = heap_.data();
    }
  }
  ValueBuffer(const ValueBuffer&) = delete;
  ValueBuffer& operator=(const ValueBuffer&) = delete;
  void* data() { return data_; }
  const char* bytes() const { return data_; }

 private:
  alignas(16) char local_[128];
  std::vector<char> heap_;
  char* data_;
};

template <typename T>
T ReadAs(const ValueBuffer& b) {
  T v;
  std::memcpy(&v, b.bytes(), sizeof(T));
  return v;
}

// Whether Text is what IntToStr gives for the value of type T it holds: a
// sign only for a negative value, no leading zeros, within T's range.
template <typename T>
bool IsIntToStrText(std::string_view Text) {
  T v;
  const char* end = Text.data() + Text.size();
  auto [ptr, ec] = std::from_chars(Text.data(), end, v);
  if (ec != std::errc() || ptr != end) return false;
  size_t first = Text[0] == '-' ? 1 : 0;
  return Text[first] != '0' || (first == 0 && Text.size() == 1);
}

// Date-time value <-> day number / milliseconds, without raising on reads.
TDateTime DateTimeFromStamp(int64_t date, int64_t time) {
  double d = static_cast<double>(date - DateDelta);
  double t = static_cast<double>(time) / MSecsPerDay;
  return d >= 0 ? d + t : d - t;
}

struct DateTimeTextParts {
  int year = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0;
};

bool TextDigits(std::string_view S, size_t At, size_t N, int& Value) {
  Value = 0;
  for (size_t i = At; i < At + N; ++i) {
    if (S[i] < '0' || S[i] > '9') return false;
    Value = Value * 10 + (S[i] - '0');
  }
  return true;
}

// "yyyy-mm-dd" naming a valid date (year 1 or later).
bool ReadDateText(std::string_view S, DateTimeTextParts& P) {
  TDateTime unused;
  return S.size() == 10 && S[4] == '-' && S[7] == '-' && TextDigits(S, 0, 4, P.year) &&
         TextDigits(S, 5, 2, P.month) && TextDigits(S, 8, 2, P.day) &&
         TryEncodeDate(P.year, P.month, P.day, unused);
}

// "yyyy-mm-dd hh:mm:ss" naming a valid date and time of day.
bool ReadDateTimeText(std::string_view S, DateTimeTextParts& P) {
  return S.size() == 19 && S[10] == ' ' && S[13] == ':' && S[16] == ':' &&
         ReadDateText(S.substr(0, 10), P) && TextDigits(S, 11, 2, P.hour) &&
         TextDigits(S, 14, 2, P.min) && TextDigits(S, 17, 2, P.sec) && P.hour < 24 && P.min < 60 &&
         P.sec < 60;
}

}  // namespace

// ----------------------------------------------------------------------------
// TField

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
  if (dataset_ != nullptr) dataset_->fields_.Remove(this);
  dataset_ = nullptr;
}

void TField::SetDataSet(TDataSet* Value) {
  if (Value == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (Value != nullptr) {
    Value->CheckInactive();
    if (!field_name_.empty() && Value->FindField(field_name_) != nullptr)
      DatabaseError("Duplicate field name '" + field_name_ + "'", Value);
  }
  if (dataset_ != nullptr) dataset_->fields_.Remove(this);
  dataset_ = nullptr;
  field_no_ = 0;
  offset_ = 0;
  if (Value != nullptr) {
    Value->fields_.Add(this);
    dataset_ = Value;
  }
}

void TField::SetFieldName(const std::string& Value) {
  if (Value == field_name_) return;
  if (dataset_ != nullptr) {
    dataset_->CheckInactive();
    TField* other = dataset_->FindField(Value);
    if (other != nullptr && other != this) DatabaseError("Duplicate field name '" + Value + "'", dataset_);
  }
  field_name_ = Value;
}

std::string TField::DisplayName() const { return display_label_.empty() ? field_name_ : display_label_; }

void TField::SetFieldKind(TFieldKind Value) {
  if (Value == field_kind_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = Value;
}

int TField::Index() const { return dataset_ != nullptr ? dataset_->fields_.IndexOf(this) : -1; }

void TField::SetSize(int Value) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  CheckTypeSize(Value);
  size_ = Value;
}

void TField::CheckTypeSize(int Value) {
  if (Value < 0) DatabaseError("Invalid field size", this);
}

bool TField::CanModify() const {
  if (read_only_ || dataset_ == nullptr) return false;
  if (field_kind_ != fkData && field_kind_ != fkInternalCalc) return false;
  return dataset_->CanModify();
}

void TField::SetLookupDataSet(TDataSet* Value) {
  if (Value == lookup_dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (Value == dataset_ && Value != nullptr) DatabaseError("Circular datalinks are not allowed", this);
  if (lookup_dataset_ != nullptr) RemoveFreeNotification(lookup_dataset_);
  lookup_dataset_ = Value;
  if (Value != nullptr) FreeNotification(Value);
}

void TField::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == lookup_dataset_) lookup_dataset_ = nullptr;
}

void TField::AccessError(const std::string& TypeName) {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + TypeName, dataset_);
}

void TField::RangeError(double Value, double Min, double Max) {
  DatabaseError(FloatToStr(Value) + " is not a valid value for field '" + DisplayName() +
                    "'. The allowed range is " + FloatToStr(Min) + " to " + FloatToStr(Max),
                dataset_);
}

void TField::CopyData(void* Dest, const void* Source) const {
  if (DataSize() > 0) std::memcpy(Dest, Source, static_cast<size_t>(DataSize()));
}

bool TField::GetData(void* Buffer) {
  if (dataset_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  if (validating_) {
    if (validate_buffer_ == nullptr) return false;
    if (Buffer != nullptr) CopyData(Buffer, validate_buffer_);
    return true;
  }
  return dataset_->GetFieldData(this, Buffer);
}

void TField::SetData(const void* Buffer) {
  if (dataset_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  TDataSetState state = dataset_->State();
  if (!IsWriteState(state)) DatabaseError("Dataset not in edit or insert mode", dataset_);
  bool calculated = field_kind_ == fkCalculated || field_kind_ == fkLookup;
  if (!calculated) {
    if (state == dsCalcFields) DatabaseError("Dataset not in edit or insert mode", dataset_);
    bool internal = field_kind_ == fkInternalCalc && state == dsInternalCalc;
    if (read_only_ && !internal && state != dsSetKey && state != dsFilter)
      DatabaseError("Field '" + DisplayName() + "' cannot be modified", dataset_);
  }
  dataset_->SetFieldData(this, Buffer);
}

void TField::Validate(const void* Buffer) {
  if (!OnValidate) return;
  bool was = validating_;
  const void* saved = validate_buffer_;
  validating_ = true;
  validate_buffer_ = Buffer;
  try {
    OnValidate(this);
  } catch (...) {
    validating_ = was;
    validate_buffer_ = saved;
    throw;
  }
  validating_ = was;
  validate_buffer_ = saved;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

bool TField::IsNull() { return !GetData(nullptr); }

bool TField::HeldText(std::string_view& Text, bool& IsNull) {
  if (dataset_ == nullptr || validating_) return false;
  return dataset_->GetHeldFieldText(this, Text, IsNull);
}

std::string TField::AsString() { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
int32_t TField::AsInteger() { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
int64_t TField::AsLargeInt() { return AsInteger(); }
void TField::SetAsLargeInt(int64_t Value) {
  if (Value < INT32_MIN || Value > INT32_MAX) RangeError(static_cast<double>(Value), INT32_MIN, INT32_MAX);
  SetAsInteger(static_cast<int32_t>(Value));
}
double TField::AsFloat() { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
Variant TField::AsVariant() { AccessError("Variant"); }

void TField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty()) {
    Clear();
    return;
  }
  switch (Value.VarType()) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
      SetAsInteger(Value.AsInteger());
      break;
    case varLongWord:
    case varInt64:
      SetAsLargeInt(Value.AsInt64());
      break;
    case varUInt64:
      SetAsString(Value.AsString());
      break;
    case varSingle:
    case varDouble:
    case varCurrency:
      SetAsFloat(Value.AsFloat());
      break;
    case varDate:
      SetAsDateTime(Value.AsDateTime());
      break;
    case varBoolean:
      SetAsBoolean(Value.AsBoolean());
      break;
    case varString:
      SetAsString(Value.AsString());
      break;
    default:
      DatabaseError("Invalid variant type conversion for field '" + DisplayName() + "'", dataset_);
  }
}

Variant TField::Value() { return AsVariant(); }
void TField::SetValue(const Variant& Value) { SetAsVariant(Value); }

std::string TField::Text() {
  std::string text;
  if (OnGetText)
    OnGetText(this, text, false);
  else
    GetText(text, false);
  return text;
}

std::string TField::DisplayText() {
  std::string text;
  if (OnGetText)
    OnGetText(this, text, true);
  else
    GetText(text, true);
  return text;
}

void TField::SetText(const std::string& Value) {
  if (OnSetText)
    OnSetText(this, Value);
  else
    SetAsString(Value);
}

// ----------------------------------------------------------------------------
// TStringField

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftString);
  SetSize(20);
}

void TStringField::CheckTypeSize(int Value) {
  if (Value < 1 || Value > 8192) DatabaseError("Invalid field size", this);
}

void TStringField::StringToBuffer(const TField* Field, void* Buffer, std::string_view Value) {
  size_t size = Field->Size() > 0 ? static_cast<size_t>(Field->Size()) : 0;
  char* text = static_cast<char*>(Buffer);
  size_t n = Value.size() < size ? Value.size() : size;
  if (n > 0) std::memcpy(text, Value.data(), n);
  text[n] = '\0';
  uint32_t length = static_cast<uint32_t>(n);
  std::memcpy(text + size + 1, &length, sizeof(length));
}

std::string TStringField::BufferToString(const TField* Field, const void* Buffer) {
  size_t size = Field->Size() > 0 ? static_cast<size_t>(Field->Size()) : 0;
  const char* text = static_cast<const char*>(Buffer);
  uint32_t length = 0;
  std::memcpy(&length, text + size + 1, sizeof(length));
  size_t n = length;
  if (n == 0) n = strnlen(text, size);
  if (n > size) n = size;
  return std::string(text, n);
}

std::string TStringField::AsString() {
  std::string_view held;
  bool null = false;
  if (DataType() == ftString && HeldText(held, null)) {
    // What the round trip through the buffer gives: at most Size bytes.
    if (null) return "";
    size_t size = Size() > 0 ? static_cast<size_t>(Size()) : 0;
    return std::string(held.substr(0, size));
  }
  ValueBuffer b(this);
  if (!GetData(b.data())) return "";
  return BufferToString(this, b.data());
}

void TStringField::SetAsString(const std::string& Value) {
  // Cutting the value would lose data silently (and could split a UTF-8
  // character); a value that does not fit is refused, the field unchanged.
  if (Size() > 0 && Value.size() > static_cast<size_t>(Size()))
    DatabaseError("Value of " + std::to_string(Value.size()) + " bytes is too long for field '" +
                      DisplayName() + "' of size " + std::to_string(Size()),
                  DataSet());
  ValueBuffer b(this);
  StringToBuffer(this, b.data(), Value);
  SetData(b.data());
}

int32_t TStringField::AsInteger() {
  std::string s = AsString();
  int32_t v = 0;
  if (!TryStrToInt(s, v))
    throw EConvertError("'" + s + "' is not a valid integer value for field '" + DisplayName() + "'");
  return v;
}

void TStringField::SetAsInteger(int32_t Value) { SetAsString(IntToStr(Value)); }

int64_t TStringField::AsLargeInt() {
  std::string s = AsString();
  int64_t v = 0;
  if (!TryStrToInt64(s, v))
    throw EConvertError("'" + s + "' is not a valid integer value for field '" + DisplayName() + "'");
  return v;
}

void TStringField::SetAsLargeInt(int64_t Value) { SetAsString(IntToStr(Value)); }

double TStringField::AsFloat() {
  std::string s = AsString();
  double v = 0;
  if (!TryStrToFloat(s, v, GetFormatSettings().DecimalSeparator))
    throw EConvertError("'" + s + "' is not a valid floating point value for field '" + DisplayName() + "'");
  return v;
}

void TStringField::SetAsFloat(double Value) { SetAsString(FloatToStr(Value)); }

bool TStringField::AsBoolean() {
  std::string s = AsString();
  return !s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == 'Y' || s[0] == 'y');
}

void TStringField::SetAsBoolean(bool Value) { SetAsString(Value ? "T" : "F"); }

TDateTime TStringField::AsDateTime() { return StrToDateTime(AsString()); }

void TStringField::SetAsDateTime(TDateTime Value) { SetAsString(DateTimeToStr(Value)); }

Variant TStringField::AsVariant() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return Null();
  return Variant(BufferToString(this, b.data()));
}

void TStringField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else
    SetAsString(Value.AsString());
}

// ----------------------------------------------------------------------------
// Integer fields

TIntegerField::TIntegerField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftInteger); }

TSmallintField::TSmallintField(TComponent* AOwner) : TIntegerField(AOwner) {
  SetDataType(ftSmallint);
  SetRange(INT16_MIN, INT16_MAX);
}

TWordField::TWordField(TComponent* AOwner) : TIntegerField(AOwner) {
  SetDataType(ftWord);
  SetRange(0, UINT16_MAX);
}

TAutoIncField::TAutoIncField(TComponent* AOwner) : TIntegerField(AOwner) { SetDataType(ftAutoInc); }

int32_t TIntegerField::AsInteger() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return 0;
  return ReadAs<int32_t>(b);
}

void TIntegerField::SetAsLargeInt(int64_t Value) {
  if (Value < min_ || Value > max_)
    RangeError(static_cast<double>(Value), static_cast<double>(min_), static_cast<double>(max_));
  int32_t v = static_cast<int32_t>(Value);
  SetData(&v);
}

void TIntegerField::SetAsInteger(int32_t Value) { SetAsLargeInt(Value); }

int64_t TIntegerField::AsLargeInt() { return AsInteger(); }

std::string TIntegerField::AsString() {
  std::string_view held;
  bool null = false;
  if (HeldText(held, null)) {
    if (null) return "";
    if (IsIntToStrText<int32_t>(held)) return std::string(held);
  }
  ValueBuffer b(this);
  if (!GetData(b.data())) return "";
  return IntToStr(ReadAs<int32_t>(b));
}

void TIntegerField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  int64_t v = 0;
  if (!TryStrToInt64(Value, v))
    throw EConvertError("'" + Value + "' is not a valid integer value for field '" + DisplayName() + "'");
  SetAsLargeInt(v);
}

double TIntegerField::AsFloat() { return AsInteger(); }

void TIntegerField::SetAsFloat(double Value) {
  double r = std::round(Value);
  if (!(r >= static_cast<double>(min_) && r <= static_cast<double>(max_)))
    RangeError(Value, static_cast<double>(min_), static_cast<double>(max_));
  SetAsLargeInt(static_cast<int64_t>(r));
}

bool TIntegerField::AsBoolean() { return AsInteger() != 0; }

void TIntegerField::SetAsBoolean(bool Value) { SetAsLargeInt(Value ? 1 : 0); }

Variant TIntegerField::AsVariant() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return Null();
  return Variant(ReadAs<int32_t>(b));
}

void TIntegerField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else if (Value.IsString())
    SetAsString(Value.AsString());
  else
    SetAsLargeInt(Value.AsInt64());
}

// ----------------------------------------------------------------------------
// TLargeintField

TLargeintField::TLargeintField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftLargeint); }

int64_t TLargeintField::AsLargeInt() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return 0;
  return ReadAs<int64_t>(b);
}

void TLargeintField::SetAsLargeInt(int64_t Value) { SetData(&Value); }

int32_t TLargeintField::AsInteger() {
  int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX)
    DatabaseError("Value of field '" + DisplayName() + "' does not fit a 32-bit integer: " + IntToStr(v),
                  DataSet());
  return static_cast<int32_t>(v);
}

void TLargeintField::SetAsInteger(int32_t Value) { SetAsLargeInt(Value); }

std::string TLargeintField::AsString() {
  std::string_view held;
  bool null = false;
  if (HeldText(held, null)) {
    if (null) return "";
    if (IsIntToStrText<int64_t>(held)) return std::string(held);
  }
  ValueBuffer b(this);
  if (!GetData(b.data())) return "";
  return IntToStr(ReadAs<int64_t>(b));
}

void TLargeintField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  int64_t v = 0;
  if (!TryStrToInt64(Value, v))
    throw EConvertError("'" + Value + "' is not a valid integer value for field '" + DisplayName() + "'");
  SetAsLargeInt(v);
}

double TLargeintField::AsFloat() { return static_cast<double>(AsLargeInt()); }

void TLargeintField::SetAsFloat(double Value) {
  double r = std::round(Value);
  // 2^63 is the first value beyond the range.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    RangeError(Value, -9223372036854775808.0, 9223372036854775807.0);
  SetAsLargeInt(static_cast<int64_t>(r));
}

Variant TLargeintField::AsVariant() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return Null();
  return Variant(ReadAs<int64_t>(b));
}

void TLargeintField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else if (Value.IsString())
    SetAsString(Value.AsString());
  else
    SetAsLargeInt(Value.AsInt64());
}

// ----------------------------------------------------------------------------
// TFloatField

TFloatField::TFloatField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftFloat); }

TCurrencyField::TCurrencyField(TComponent* AOwner) : TFloatField(AOwner) { SetDataType(ftCurrency); }

double TFloatField::AsFloat() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return 0;
  return ReadAs<double>(b);
}

void TFloatField::SetAsFloat(double Value) { SetData(&Value); }

std::string TFloatField::AsString() {
  std::string_view held;
  bool null = false;
  if (HeldText(held, null)) {
    if (null) return "";
    if (IsFloatToStrText(held) && CurrentDecimalSeparator() == '.') return std::string(held);
  }
  ValueBuffer b(this);
  if (!GetData(b.data())) return "";
  return FloatToStr(ReadAs<double>(b));
}

void TFloatField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  double v = 0;
  if (!TryStrToFloat(Value, v, GetFormatSettings().DecimalSeparator))
    throw EConvertError("'" + Value + "' is not a valid floating point value for field '" + DisplayName() + "'");
  SetAsFloat(v);
}

int32_t TFloatField::AsInteger() {
  double r = std::round(AsFloat());
  if (!(r >= INT32_MIN && r <= INT32_MAX)) RangeError(r, INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(r);
}

void TFloatField::SetAsInteger(int32_t Value) { SetAsFloat(Value); }

int64_t TFloatField::AsLargeInt() {
  double r = std::round(AsFloat());
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    RangeError(r, -9223372036854775808.0, 9223372036854775807.0);
  return static_cast<int64_t>(r);
}

void TFloatField::SetAsLargeInt(int64_t Value) { SetAsFloat(static_cast<double>(Value)); }

Variant TFloatField::AsVariant() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return Null();
  return Variant(ReadAs<double>(b));
}

void TFloatField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else if (Value.IsString())
    SetAsString(Value.AsString());
  else
    SetAsFloat(Value.AsFloat());
}

// ----------------------------------------------------------------------------
// TBooleanField

TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBoolean); }

void TBooleanField::SetDisplayValues(const std::string& Value) {
  size_t semi = Value.find(';');
  if (semi == std::string::npos) {
    true_text_ = Value;
    false_text_.clear();
  } else {
    true_text_ = Value.substr(0, semi);
    false_text_ = Value.substr(semi + 1);
  }
  display_values_ = Value;
}

bool TBooleanField::AsBoolean() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return false;
  return ReadAs<int16_t>(b) != 0;
}

void TBooleanField::SetAsBoolean(bool Value) {
  int16_t v = Value ? static_cast<int16_t>(-1) : 0;
  SetData(&v);
}

std::string TBooleanField::AsString() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return "";
  return ReadAs<int16_t>(b) != 0 ? true_text_ : false_text_;
}

void TBooleanField::SetAsString(const std::string& Value) {
  auto prefix_of = [&](const std::string& text) {
    return text.size() >= Value.size() && SameText(text.substr(0, Value.size()), Value);
  };
  if (Value.empty()) {
    if (false_text_.empty())
      SetAsBoolean(false);
    else if (true_text_.empty())
      SetAsBoolean(true);
    else
      Clear();
  } else if (prefix_of(false_text_)) {
    SetAsBoolean(false);
  } else if (prefix_of(true_text_)) {
    SetAsBoolean(true);
  } else {
    DatabaseError("'" + Value + "' is not a valid boolean value for field '" + DisplayName() + "'", DataSet());
  }
}

int32_t TBooleanField::AsInteger() { return AsBoolean() ? 1 : 0; }

void TBooleanField::SetAsInteger(int32_t Value) { SetAsBoolean(Value != 0); }

Variant TBooleanField::AsVariant() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return Null();
  return Variant(ReadAs<int16_t>(b) != 0);
}

void TBooleanField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else if (Value.IsString())
    SetAsString(Value.AsString());
  else
    SetAsBoolean(Value.AsBoolean());
}

// ----------------------------------------------------------------------------
// Date and time fields

TDateTimeField::TDateTimeField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftDateTime); }
TDateField::TDateField(TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftDate); }
TTimeField::TTimeField(TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftTime); }

int TDateTimeField::DataSize() const { return DataType() == ftDateTime ? 8 : 4; }

TDateTime TDateTimeField::AsDateTime() {
  ValueBuffer b(this);
  if (!GetData(b.data())) return 0;
  return ToDateTime(b.bytes());
}

TDateTime TDateTimeField::ToDateTime(const void* Buffer) const {
  switch (DataType()) {
    case ftDate: {
      int32_t d;
      std::memcpy(&d, Buffer, sizeof d);
      return DateTimeFromStamp(d, 0);
    }
    case ftTime: {
      int32_t t;
      std::memcpy(&t, Buffer, sizeof t);
      return static_cast<double>(t) / MSecsPerDay;
    }
    default: {
      double ms;
      std::memcpy(&ms, Buffer, sizeof ms);
      if (!std::isfinite(ms) || std::fabs(ms) > 1e15) return 0;
      double days = std::trunc(ms / MSecsPerDay);
      return DateTimeFromStamp(static_cast<int64_t>(days), static_cast<int64_t>(ms - days * MSecsPerDay));
    }
  }
}

void TDateTimeField::SetAsDateTime(TDateTime Value) {
  TTimeStamp ts = DateTimeToTimeStamp(Value);
  switch (DataType()) {
    case ftDate: {
      int32_t d = ts.Date;
      SetData(&d);
      break;
    }
    case ftTime: {
      int32_t t = ts.Time;
      SetData(&t);
      break;
    }
    default: {
      double ms = TimeStampToMSecs(ts);
      SetData(&ms);
      break;
    }
  }
}

std::string TDateTimeField::AsString() {
  std::string_view held;
  bool null = false;
  if (DataType() != ftTime && HeldText(held, null) && !null) {
    // The server's own forms of a valid date ("yyyy-mm-dd") and date and
    // time ("yyyy-mm-dd hh:mm:ss") are formatted from their parts; any
    // other text goes the general way through the value.
    DateTimeTextParts p;
    if (DataType() == ftDate ? ReadDateText(held, p) : ReadDateTimeText(held, p)) {
      return DataType() == ftDate ? FormatDateTimeParts("ddddd", p.year, p.month, p.day, 0, 0, 0, 0)
                                  : FormatDateTimeParts("c", p.year, p.month, p.day, p.hour, p.min,
                                                        p.sec, 0);
    }
  }
  ValueBuffer b(this);
  TDateTime v = 0;
  if (GetData(b.data()))
    v = ToDateTime(b.bytes());
  else if (IsNull())  // a value without a date in it reads as 0
    return "";
  switch (DataType()) {
    case ftDate:
      return DateToStr(v);
    case ftTime:
      return TimeToStr(v);
    default:
      return DateTimeToStr(v);
  }
}

void TDateTimeField::SetAsString(const std::string& Value) {
  if (Value.empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(Value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(Value));
      break;
    default:
      SetAsDateTime(StrToDateTime(Value));
      break;
  }
}

Variant TDateTimeField::AsVariant() {
  if (IsNull()) return Null();
  return Variant::FromDateTime(AsDateTime());
}

void TDateTimeField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else if (Value.IsString())
    SetAsString(Value.AsString());
  else
    SetAsDateTime(Value.AsDateTime());
}

// ----------------------------------------------------------------------------
// Blob fields

TBlobField::TBlobField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBlob); }
TMemoField::TMemoField(TComponent* AOwner) : TBlobField(AOwner) { SetDataType(ftMemo); }

void TBlobField::CheckTypeSize(int Value) {
  if (Value < 0) DatabaseError("Invalid field size", this);
}

void TBlobField::SetBlobType(TFieldType Value) {
  if (!IsBlobType(Value)) DatabaseError("Invalid blob type for field '" + DisplayName() + "'", DataSet());
  SetDataType(Value);
}

std::string TBlobField::AsString() {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmRead);
  std::string result;
  char chunk[8192];
  for (;;) {
    int64_t n = s->Read(chunk, sizeof(chunk));
    if (n <= 0) break;
    result.append(chunk, static_cast<size_t>(n));
  }
  return result;
}

void TBlobField::SetAsString(const std::string& Value) {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
  if (!Value.empty()) s->WriteBuffer(Value.data(), static_cast<int64_t>(Value.size()));
  s->Flush();
}

// Clearing stores NULL; an empty value is written as an empty string.
void TBlobField::Clear() {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  SetData(nullptr);
  SetModified(true);
}

void TBlobField::LoadFromStream(TStream& Stream) {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  std::unique_ptr<TStream> s = DataSet()->CreateBlobStream(this, bmWrite);
  char chunk[8192];
  for (;;) {
    int64_t n = Stream.Read(chunk, sizeof(chunk));
    if (n <= 0) break;
    s->WriteBuffer(chunk, n);
  }
  s->Flush();
}

void TBlobField::SaveToStream(TStream& Stream) {
  std::string v = AsString();
  if (!v.empty()) Stream.WriteBuffer(v.data(), static_cast<int64_t>(v.size()));
}

Variant TBlobField::AsVariant() {
  if (IsNull()) return Null();
  return Variant(AsString());
}

void TBlobField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else
    SetAsString(Value.AsString());
}

// ----------------------------------------------------------------------------
// TVariantField: the buffer is a constructed Variant.

TVariantField::TVariantField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftVariant); }

int TVariantField::DataSize() const { return static_cast<int>(sizeof(Variant)); }

void TVariantField::CopyData(void* Dest, const void* Source) const {
  *static_cast<Variant*>(Dest) = *static_cast<const Variant*>(Source);
}

Variant TVariantField::AsVariant() {
  Variant v;
  if (!GetData(&v)) return Null();
  return v;
}

void TVariantField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty()) {
    Clear();
    return;
  }
  SetData(&Value);
}

std::string TVariantField::AsString() { return VarToStr(AsVariant()); }
void TVariantField::SetAsString(const std::string& Value) { SetAsVariant(Variant(Value)); }

int32_t TVariantField::AsInteger() {
  Variant v = AsVariant();
  return v.IsNull() ? 0 : v.AsInteger();
}
void TVariantField::SetAsInteger(int32_t Value) { SetAsVariant(Variant(Value)); }

int64_t TVariantField::AsLargeInt() {
  Variant v = AsVariant();
  return v.IsNull() ? 0 : v.AsInt64();
}
void TVariantField::SetAsLargeInt(int64_t Value) { SetAsVariant(Variant(Value)); }

double TVariantField::AsFloat() {
  Variant v = AsVariant();
  return v.IsNull() ? 0 : v.AsFloat();
}
void TVariantField::SetAsFloat(double Value) { SetAsVariant(Variant(Value)); }

bool TVariantField::AsBoolean() {
  Variant v = AsVariant();
  return v.IsNull() ? false : v.AsBoolean();
}
void TVariantField::SetAsBoolean(bool Value) { SetAsVariant(Variant(Value)); }

// ----------------------------------------------------------------------------
// TFields

TField* TFields::Fields(int Index) const {
  if (Index < 0 || Index >= Count()) DatabaseError("Field index out of range");
  return list_[static_cast<size_t>(Index)];
}

TField* TFields::FindField(const std::string& FieldName) const {
  for (TField* f : list_)
    if (SameText(f->FieldName(), FieldName)) return f;
  return nullptr;
}

TField* TFields::FieldByName(const std::string& FieldName) const {
  TField* f = FindField(FieldName);
  if (f == nullptr) DatabaseError("Field '" + FieldName + "' not found", dataset_);
  return f;
}

TField* TFields::FieldByNumber(int FieldNo) const {
  for (TField* f : list_)
    if (f->FieldNo() == FieldNo) return f;
  return nullptr;
}

int TFields::IndexOf(const TField* Field) const {
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == Field) return static_cast<int>(i);
  return -1;
}

void TFields::Add(TField* Field) { list_.push_back(Field); }

void TFields::Remove(TField* Field) {
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == Field) {
      list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

// ----------------------------------------------------------------------------
// Field definitions

TFieldDef::TFieldDef(TCollection* Owner) : TCollectionItem(Owner) {}

TFieldDefs* TFieldDef::FieldDefs() const { return dynamic_cast<TFieldDefs*>(Collection()); }

void TFieldDef::SetName(const std::string& Value) {
  if (Value == name_) return;
  TFieldDefs* defs = FieldDefs();
  if (defs != nullptr && !Value.empty()) {
    int i = defs->IndexOf(Value);
    if (i >= 0 && defs->Items(i) != this) DatabaseError("Duplicate field name '" + Value + "'", defs->DataSet());
  }
  name_ = Value;
  Changed(false);
}

void TFieldDef::SetDataType(TFieldType Value) {
  data_type_ = Value;
  Changed(false);
}

void TFieldDef::SetSize(int Value) {
  if (Value < 0) DatabaseError("Invalid field size");
  size_ = Value;
  Changed(false);
}

void TFieldDef::SetPrecision(int Value) {
  precision_ = Value;
  Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
  if (Value)
    attributes_.Include(faRequired);
  else
    attributes_.Exclude(faRequired);
  Changed(false);
}

void TFieldDef::SetAttributes(TFieldAttributes Value) {
  attributes_ = Value;
  Changed(false);
}

void TFieldDef::SetInternalCalcField(bool Value) {
  internal_calc_ = Value;
  Changed(false);
}

int TFieldDef::FieldNo() const { return field_no_ > 0 ? field_no_ : Index() + 1; }

TFieldClass TFieldDef::FieldClass() const {
  TFieldDefs* defs = FieldDefs();
  if (defs == nullptr || defs->DataSet() == nullptr) return nullptr;
  return defs->DataSet()->GetFieldClass(data_type_);
}

std::unique_ptr<TField> TFieldDef::CreateField() const {
  TFieldDefs* defs = FieldDefs();
  TDataSet* ds = defs != nullptr ? defs->DataSet() : nullptr;
  if (ds == nullptr) DatabaseError("Field definition '" + name_ + "' has no dataset");
  TFieldClass cls = ds->GetFieldClass(data_type_);
  if (cls == nullptr) DatabaseError("Field '" + name_ + "' is of an unknown type", ds);
  std::unique_ptr<TField> f = cls();
  if (IsStringFieldType(f->DataType()) || f->IsBlob()) f->SetSize(size_);
  if (f->IsBlob()) static_cast<TBlobField*>(f.get())->SetBlobType(data_type_);
  if (auto* ff = dynamic_cast<TFloatField*>(f.get()); ff != nullptr && precision_ > 0) ff->SetPrecision(precision_);
  f->SetFieldName(name_);
  f->SetRequired(Required());
  f->SetReadOnly(attributes_.Contains(faReadonly));
  if (internal_calc_) f->SetFieldKind(fkInternalCalc);
  f->SetDataSet(ds);
  return f;
}

void TFieldDef::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TFieldDef*>(Source);
  if (src == nullptr) {
    TCollectionItem::Assign(Source);
    return;
  }
  name_ = src->name_;
  data_type_ = src->data_type_;
  size_ = src->size_;
  precision_ = src->precision_;
  attributes_ = src->attributes_;
  field_no_ = src->field_no_;
  internal_calc_ = src->internal_calc_;
  Changed(false);
}

TFieldDefs::TFieldDefs(TDataSet* DataSet)
    : TCollection([](TCollection* c) -> TCollectionItem* { return new TFieldDef(c); }, DataSet),
      dataset_(DataSet) {}

TFieldDef* TFieldDefs::Items(int Index) const { return static_cast<TFieldDef*>(TCollection::Items(Index)); }

TFieldDef* TFieldDefs::AddFieldDef() { return static_cast<TFieldDef*>(TCollection::Add()); }

TFieldDef* TFieldDefs::Add(const std::string& Name, TFieldType DataType, int Size, bool Required) {
  if (Name.empty()) DatabaseError("Field name missing", dataset_);
  if (IndexOf(Name) >= 0) DatabaseError("Duplicate field name '" + Name + "'", dataset_);
  if (Size < 0) DatabaseError("Invalid field size", dataset_);
  BeginUpdate();
  TFieldDef* def = nullptr;
  try {
    def = AddFieldDef();
    def->SetName(Name);
    def->SetDataType(DataType);
    def->SetSize(Size);
    def->SetRequired(Required);
  } catch (...) {
    delete def;
    EndUpdate();
    throw;
  }
  EndUpdate();
  return def;
}

int TFieldDefs::IndexOf(const std::string& Name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), Name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::Find(const std::string& Name) const {
  int i = IndexOf(Name);
  if (i < 0) DatabaseError("Field '" + Name + "' not found", dataset_);
  return Items(i);
}

void TFieldDefs::Update() {
  if (updated_ || dataset_ == nullptr) return;
  dataset_->InitFieldDefs();
  updated_ = true;
}

// ----------------------------------------------------------------------------
// Index definitions

TIndexDef::TIndexDef(TCollection* Owner) : TCollectionItem(Owner) {}

void TIndexDef::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TIndexDef*>(Source);
  if (src == nullptr) {
    TCollectionItem::Assign(Source);
    return;
  }
  name_ = src->name_;
  fields_ = src->fields_;
  options_ = src->options_;
  desc_fields_ = src->desc_fields_;
  case_ins_fields_ = src->case_ins_fields_;
  expression_ = src->expression_;
  Changed(false);
}

TIndexDefs::TIndexDefs(TDataSet* DataSet)
    : TCollection([](TCollection* c) -> TCollectionItem* { return new TIndexDef(c); }, DataSet),
      dataset_(DataSet) {}

TIndexDef* TIndexDefs::Items(int Index) const { return static_cast<TIndexDef*>(TCollection::Items(Index)); }

TIndexDef* TIndexDefs::AddIndexDef() { return static_cast<TIndexDef*>(TCollection::Add()); }

TIndexDef* TIndexDefs::Add(const std::string& Name, const std::string& Fields, TIndexOptions Options) {
  if (IndexOf(Name) >= 0) DatabaseError("Duplicate index name '" + Name + "'", dataset_);
  TIndexDef* def = AddIndexDef();
  def->SetName(Name);
  def->SetFields(Fields);
  def->SetOptions(Options);
  return def;
}

int TIndexDefs::IndexOf(const std::string& Name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), Name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::Find(const std::string& Name) const {
  int i = IndexOf(Name);
  if (i < 0) DatabaseError("Index '" + Name + "' not found", dataset_);
  return Items(i);
}

TIndexDef* TIndexDefs::FindIndexForFields(const std::string& Fields) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& f = Items(i)->Fields();
    if (f.size() < Fields.size() || !SameText(f.substr(0, Fields.size()), Fields)) continue;
    if (f.size() == Fields.size() || f[Fields.size()] == ';') return Items(i);
  }
  return nullptr;
}

// ----------------------------------------------------------------------------
// Check constraints

void TCheckConstraint::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TCheckConstraint*>(Source);
  if (src == nullptr) {
    TCollectionItem::Assign(Source);
    return;
  }
  custom_constraint_ = src->custom_constraint_;
  error_message_ = src->error_message_;
  from_dictionary_ = src->from_dictionary_;
  imported_constraint_ = src->imported_constraint_;
  Changed(false);
}

TCheckConstraints::TCheckConstraints(TPersistent* Owner)
    : TCollection([](TCollection* c) -> TCollectionItem* { return new TCheckConstraint(c); }, Owner) {}

TCheckConstraint* TCheckConstraints::Items(int Index) const {
  return static_cast<TCheckConstraint*>(TCollection::Items(Index));
}

TCheckConstraint* TCheckConstraints::Add() { return static_cast<TCheckConstraint*>(TCollection::Add()); }

}  // namespace rowset
