// The host's field data types, in the host's order (the numeric values are
// stored in forms and compared by the components).
#ifndef ROWSET_HOST_FIELDTYPES_H_
#define ROWSET_HOST_FIELDTYPES_H_

#include <string>

namespace rowset {

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd
};

constexpr int kFieldTypeCount = ftFMTBcd + 1;

// The member's name without the "ft" prefix ("String", "Integer", ...);
// "Unknown" for a value outside the enumeration.
std::string FieldTypeName(TFieldType Type);

// Blob-like types: their values are byte strings of any length.
inline bool IsBlobType(TFieldType Type) {
  switch (Type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

}  // namespace rowset

#endif  // ROWSET_HOST_FIELDTYPES_H_
