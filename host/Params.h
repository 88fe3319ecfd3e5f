// Typed parameters: a TParams collection of named TParam values, each with a
// data type, a parameter direction and a variant value. Datasets keep their
// user macros this way and hand values between one another by name.
#ifndef ROWSET_HOST_PARAMS_H_
#define ROWSET_HOST_PARAMS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/Classes.h"
#include "host/FieldTypes.h"
#include "host/Variants.h"

namespace rowset {

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParams;

class TParam : public TCollectionItem {
 public:
  // With a collection the parameter belongs to it (and is freed by it).
  explicit TParam(TCollection* ACollection = nullptr);
  TParam(TParams* AParams, TParamType AParamType);

  const std::string& Name() const { return name_; }
  void SetName(const std::string& Value) { name_ = Value; }
  TFieldType DataType() const { return data_type_; }
  // Converts a value that is not null to the new type; a value that does
  // not convert is cleared (null).
  void SetDataType(TFieldType Value);
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType Value) { param_type_ = Value; }
  bool Bound() const { return bound_; }
  void SetBound(bool Value) { bound_ = Value; }

  // Setting a value binds the parameter; with DataType ftUnknown the type
  // follows the value's kind.
  const Variant& Value() const { return value_; }
  void SetValue(const Variant& Value);
  bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }
  void Clear() { value_ = Variant::Null(); }

  // The getters give "", 0, 0.0, false or 0 for a null value; each setter
  // also sets DataType.
  std::string AsString() const;
  void SetAsString(const std::string& Value);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t Value);
  int16_t AsSmallInt() const { return static_cast<int16_t>(AsInteger()); }
  void SetAsSmallInt(int16_t Value);
  uint16_t AsWord() const { return static_cast<uint16_t>(AsInteger()); }
  void SetAsWord(uint16_t Value);
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t Value);
  double AsFloat() const;
  void SetAsFloat(double Value);
  double AsCurrency() const { return AsFloat(); }
  void SetAsCurrency(double Value);
  bool AsBoolean() const;
  void SetAsBoolean(bool Value);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime Value);
  TDateTime AsDate() const { return AsDateTime(); }
  void SetAsDate(TDateTime Value);
  TDateTime AsTime() const { return AsDateTime(); }
  void SetAsTime(TDateTime Value);
  std::string AsMemo() const { return AsString(); }
  void SetAsMemo(const std::string& Value);
  std::string AsBlob() const { return AsString(); }
  void SetAsBlob(const std::string& Value);

  // Bytes the value takes in the type's native form: texts count a closing
  // NUL, blobs their length. Raises EDatabaseError for ftUnknown.
  int GetDataSize() const;

  // From another TParam: name, types, value and bound flag.
  void Assign(TPersistent* Source) override;
  void AssignValue(const Variant& Value) { SetValue(Value); }
  std::string DisplayName() const override;

 private:
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  TParamType param_type_ = ptUnknown;
  bool bound_ = false;
  Variant value_;
};

class TParams : public TCollection {
 public:
  explicit TParams(TPersistent* AOwner = nullptr);

  TParam* Items(int Index) const { return static_cast<TParam*>(TCollection::Items(Index)); }
  TParam* operator[](int Index) const { return Items(Index); }
  TParam* Add() { return static_cast<TParam*>(TCollection::Add()); }
  // Takes the parameter into this collection (which then owns it).
  void AddParam(TParam* Value);
  // Takes the parameter out; the caller owns it afterwards.
  void RemoveParam(TParam* Value);
  TParam* CreateParam(TFieldType FldType, const std::string& ParamName, TParamType ParamType);

  // Looks up by name ignoring letter case; nullptr when missing.
  TParam* FindParam(const std::string& Value) const;
  // As FindParam; raises EDatabaseError "Parameter '<name>' not found".
  TParam* ParamByName(const std::string& Value) const;
  // Copies each parameter of Value into the parameter of the same name here
  // (names missing here are skipped).
  void AssignValues(const TParams& Value);
  bool IsEqual(const TParams& Value) const;
  // The parameters named in a ";"-separated list; raises for a missing one.
  void GetParamList(std::vector<TParam*>& List, const std::string& ParamNames) const;
  // One name: that value; several ";"-separated names: an array of values.
  Variant ParamValues(const std::string& ParamName) const;
  void SetParamValues(const std::string& ParamName, const Variant& Value);
};

}  // namespace rowset

#endif  // ROWSET_HOST_PARAMS_H_
