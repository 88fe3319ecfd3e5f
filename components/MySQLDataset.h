// Datasets over a MySQL server: TMySQLDatasetBase runs the statements of its
// SQL text through its connection component's driver and presents the last
// statement's rows as the records of a host dataset (host/DB.h); the three
// published classes TMySQLDataset, TMySQLQuery and TMySQLTable differ only in
// which properties they publish and, for the table, the default options.
//
// Row model. Every column value is held as the MySQL text the server sent (or
// the text the dataset will send back), with its exact length: NUL bytes are
// kept, a NULL is an absent value, never an empty text. A row keeps all its
// values in one allocation (TRowValues). Rows holds the fetched rows; a
// row's index in Rows is its bookmark. The record buffers the host framework
// keeps are TRecInfo records holding a copy of one row.
//
// Result types: rtLocal reads every row at open and works on the component's
// shared connection; rtIncremental reads rows as navigation needs them and
// needs a connection of its own (setting it clears ShareConnection, and
// ShareConnection, set alone or through SetOptions, makes the result local);
// rtUnidirectional is incremental and holds only the newest row, a counter
// keeping the numbering (FetchedCount).
//
// Connection. A dataset with a DatabaseName of its own on the shared
// connection has that database selected only while its statements run; the
// component's is selected again afterwards, and generated names keep the
// database. A statement with no connection handle to go on (the connection
// went while opening) raises "No server connection". A server error in the
// middle of a result, or in what is drained before the next statement, is
// raised, never read as the end of the rows.
//
// Departures from the plain column mapping, each to keep values exact:
// DECIMAL columns are string fields holding the server's text (AsFloat
// converts; an assignment is never cut); BIT up to 63 bits is a large-integer
// field of the bit value (the stored value stays the column's bytes), a wider
// one a blob; GEOMETRY and any type without a field of its own are blobs,
// memos or strings by their flags instead of refusing the result; a TIME
// outside 00:00:00-23:59:59 keeps its text and reading it through the time
// field raises instead of giving another time; an auto-increment column is
// the 32-bit auto-increment field only where its values fit, otherwise it
// keeps its wider field (read-only either way); doFieldsAsString keeps each
// column's own length. After the last row (doRetrieveFieldValues,
// doRetrieveIndexDefs) learning is best effort: a statement that fails or
// answers narrower than expected is passed over; enum and set members are
// matched on the column's own table and original name; IndexDefs are
// replaced only under doRetrieveIndexDefs. Refresh raises "Columns have
// changed" when any column's name, type or flags differ, and then closes the
// dataset through the framework (state, links and fields agree).
//
// Editing. A field assignment in edit state changes the record buffer and
// the row the edited record came from (its bookmark); Cancel restores that
// row. The Modified flags name what an edit changed: they are cleared when an
// edit starts, on Cancel and when a new record is initialised (then set for
// columns with a default). SetRecNo ignores numbers off the rows.
//
// Field values are converted from and to the stored texts on each access
// (GetFieldData / SetFieldData); see the .cpp files for the type table.
//
// Errors surface as EMySQLError. The destructor never throws: a failure
// while it closes the dataset or releases its connection goes to the
// application's exception handler. Close explicitly before destroying the
// dataset to see such errors.
#ifndef ROWSET_COMPONENTS_MYSQLDATASET_H_
#define ROWSET_COMPONENTS_MYSQLDATASET_H_

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/MySQLServer.h"
#include "drivers/MySQLDrivers.h"
#include "host/Classes.h"
#include "host/DB.h"
#include "host/DBFields.h"
#include "host/Dialogs.h"
#include "host/Params.h"
#include "host/Set.h"

namespace rowset {

class TMySQLDatasetBase;
class TMySQLBlobStream;
class TLocateSearch;

// How rows are fetched.
enum TMySQLResultOptions { rtLocal, rtIncremental, rtUnidirectional };

// What LocateRecordOption searches: loFirst or loLast choose where it starts,
// loNext or loPrior its direction, loTextSearch compares the one key value
// with every key field, loMatchAll needs every key field to match (else any).
enum TMySQLLocateOption { loFirst, loNext, loPrior, loLast, loTextSearch, loMatchAll };
// A set of TMySQLLocateOption.
using TMySQLLocateOptions = Set<TMySQLLocateOption>;

// What column a string field shows (TMySQLStringField::StringType): stEnum an
// ENUM, stSet a SET, stNormal any other; stNone when the field shows no
// column of a MySQL dataset.
enum TMySQLStringTypes { stNone, stNormal, stEnum, stSet };

// Dataset options, stored as one word (bit n = member n).
enum TMySQLDatasetOption {
  doShareConnection,      // statements run on the component's main connection
  doTransactions,
  doRecursiveUpdates,
  doCachedUpdates,
  doThreadedUpdate,
  doAutoCreate,
  doCreateTemp,
  doDropIfExists,
  doFieldsAsString,       // non-blob columns become strings of their own length
  doRetrieveFieldValues,  // learn enum/set members and defaults after the last row
  doRetrieveIndexDefs,    // learn a single table's indexes after the last row
  doMacrosEnabled,
  doMacroCheck,
  do2KStrToMemo,          // strings longer than 2048 become memos
  doSmallMemoToStr,       // non-binary blobs up to 65535 become strings
  doEnumToBool,           // two-member enums become booleans
  doTinyIntToBool,        // TINYINT becomes boolean
  doSetToWord,            // SET becomes a word holding the member bit mask
  doEditCalcFields,       // expression columns stay editable
  doUseCursor             // show Cursor while statements run
};
// The options of a dataset (the Options property); bit n of the stored word
// is member n.
using TMySQLDatasetOptions = Set<TMySQLDatasetOption>;

// The default options of TMySQLDataset and TMySQLQuery (stored word
// 0x83801).
inline constexpr TMySQLDatasetOptions kDefaultDatasetOptions{
    doShareConnection, doMacrosEnabled, doMacroCheck, do2KStrToMemo, doUseCursor};
// The default options of TMySQLTable (stored word 0x83E01): the dataset
// defaults plus learning the column values and indexes after the last row.
inline constexpr TMySQLDatasetOptions kDefaultTableOptions =
    kDefaultDatasetOptions + TMySQLDatasetOptions{doRetrieveFieldValues, doRetrieveIndexDefs};

// Events. The first argument is the dataset.
using TMySQLEvent = std::function<void(TMySQLDatasetBase* Dataset, std::string& SQL, bool& Continue)>;
// OnMacro: asked for the text of macro AMacro before the dataset looks it up;
// setting ADefault false makes AValue the text (inserted as it stands),
// leaving it true keeps the dataset's own value.
using TMySQLMacroEvent = std::function<void(TMySQLDatasetBase* Dataset, const std::string& AMacro,
                                            std::string& AValue, bool& ADefault)>;
// AField is the column name, AIndex the record's row index.
using TMySQLFieldValue = std::function<void(TMySQLDatasetBase* Dataset, const std::string& AField,
                                            int64_t AIndex, std::string& AValue)>;

// Column type codes and flags of the column descriptions.
namespace mysql_column {
// Column type codes, as a column description carries them: kTiny TINYINT,
// kShort SMALLINT, kInt24 MEDIUMINT, kLong INT, kLongLong BIGINT, kDecimal
// and kNewDecimal DECIMAL (old and current form), kFloat FLOAT, kDouble
// DOUBLE, kBit BIT, kNull a NULL literal; kDate, kNewDate, kTime, kDateTime,
// kTimestamp and kYear the date and time types; kVarString VARCHAR and
// VARBINARY, kString CHAR and BINARY (ENUM and SET too, told apart by their
// flags), kVarChar the server's internal VARCHAR code; kEnum and kSet ENUM
// and SET; kTinyBlob, kBlob, kMediumBlob and kLongBlob the BLOB and TEXT
// types; kJson JSON; kGeometry the spatial types.
//@{
inline constexpr uint8_t kDecimal = 0, kTiny = 1, kShort = 2, kLong = 3, kFloat = 4, kDouble = 5,
                         kNull = 6, kTimestamp = 7, kLongLong = 8, kInt24 = 9, kDate = 10,
                         kTime = 11, kDateTime = 12, kYear = 13, kNewDate = 14, kVarChar = 15,
                         kBit = 16, kJson = 245, kNewDecimal = 246, kEnum = 247,
                         kSet = 248, kTinyBlob = 249, kMediumBlob = 250, kLongBlob = 251,
                         kBlob = 252, kVarString = 253, kString = 254, kGeometry = 255;
//@}
// Column flag bits of a column description: kNotNullFlag NOT NULL,
// kPriKeyFlag part of the primary key, kUniqueKeyFlag part of a unique key,
// kMultipleKeyFlag part of a non-unique index, kBlobFlag a BLOB or TEXT
// column, kUnsignedFlag UNSIGNED, kBinaryFlag binary data (binary
// collation), kEnumFlag an ENUM, kAutoIncrementFlag AUTO_INCREMENT,
// kSetFlag a SET.
//@{
inline constexpr uint32_t kNotNullFlag = 1, kPriKeyFlag = 2, kUniqueKeyFlag = 4,
                          kMultipleKeyFlag = 8, kBlobFlag = 16, kUnsignedFlag = 32,
                          kBinaryFlag = 128, kEnumFlag = 256, kAutoIncrementFlag = 512,
                          kSetFlag = 2048;
//@}
}  // namespace mysql_column

// ---------------------------------------------------------------------------
// The storage of a dataset's row list (TRowListAllocator).
namespace row_list {
// Bytes of a list's storage; nullptr never (std::bad_alloc instead).
void* Allocate(size_t Bytes);
// Gives back what Allocate(Bytes) returned.
void Free(void* P, size_t Bytes) noexcept;
}  // namespace row_list

// TRowListAllocator: the allocator of a dataset's row list. A list of 1 MiB
// and more gets pages of its own, given back to the system as soon as the
// list grows out of them; from the heap, the halves a growing list leaves
// behind would stay resident (the row blocks beside them seldom fit there).
template <typename T>
struct TRowListAllocator {
  // The element type.
  using value_type = T;
  // Stateless: any two compare equal.
  TRowListAllocator() = default;
  // Rebinding copy (stateless).
  template <typename U>
  TRowListAllocator(const TRowListAllocator<U>&) noexcept {}
  // Storage for N elements.
  T* allocate(size_t N) {
    if (N > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(row_list::Allocate(N * sizeof(T)));
  }
  // Gives back the storage of allocate(N).
  void deallocate(T* P, size_t N) noexcept { row_list::Free(P, N * sizeof(T)); }
  // Every allocator frees what another allocated.
  friend bool operator==(const TRowListAllocator&, const TRowListAllocator&) { return true; }
};

// ---------------------------------------------------------------------------
// TRowArena: blocks that the rows of a result are carved from, so that a
// result of many small rows costs neither one allocation per row nor the
// allocator's bookkeeping. The first block is 16 KiB and each next one twice
// the last, up to 2 MiB blocks that ask for huge pages (a row larger than
// the next block gets a block of its size). Rows carved from it are freed
// all at once by Clear (or the destructor); nothing may refer to them
// afterwards.
class TRowArena {
 public:
  // An arena holding no blocks.
  TRowArena() = default;
  // Not copyable: rows point into its blocks.
  TRowArena(const TRowArena&) = delete;
  // Not copyable.
  TRowArena& operator=(const TRowArena&) = delete;
  // Size bytes, aligned to Align (a power of two up to 8): rows read their
  // parts byte-wise and ask for 1, so that no padding sits between them.
  char* Allocate(size_t Size, size_t Align = 8);
  // Frees every block at once; nothing may refer to a row carved from them
  // afterwards. The next block is again the first size.
  void Clear();
  // Bytes of all blocks held; 0 after Clear.
  size_t AllocatedSize() const { return allocated_; }

 private:
  struct FreeChunk {
    void operator()(char* P) const;
  };
  std::vector<std::unique_ptr<char, FreeChunk>> chunks_;
  char* at_ = nullptr;
  size_t left_ = 0;
  size_t allocated_ = 0;
  size_t next_chunk_ = 0;  // size of the next chunk; 0: the first
};

// TRowValues: the values of one row in one allocation: a head word (the
// column count and the width of the offsets), the end offset of each value
// in 1, 2 or 4 bytes (the narrowest that holds the row's value bytes), one
// NULL bit per column, then the value bytes. A row of five short columns
// thus costs 10 bytes besides its values. A block of its own is preceded by
// its capacity; a row carved from a TRowArena has none. An empty object (no
// allocation, Count 0) stands for a released row. Every copy of a row and
// every changed row has a block of its own.
class TRowValues {
 public:
  // A released row: no storage, Count 0.
  TRowValues() = default;
  // Columns values, all NULL.
  explicit TRowValues(int Columns);
  // A copy in a block of its own, also of a row carved from an arena.
  TRowValues(const TRowValues& Other);
  TRowValues& operator=(const TRowValues& Other);  // reuses its own storage when it fits
  // Takes over the storage (a row in an arena stays there); the moved-from
  // row is released.
  TRowValues(TRowValues&&) noexcept = default;
  // Takes over the storage, releasing its own; the moved-from row is
  // released.
  TRowValues& operator=(TRowValues&&) noexcept = default;

  // A row of a result: Values[i] of Lengths[i] bytes, nullptr for NULL;
  // carved from Arena when one is given.
  static TRowValues FromRow(int Columns, const char* const* Values, const unsigned long* Lengths,
                            TRowArena* Arena = nullptr);

  // Whether the row has no storage (made empty, moved from, or Release).
  bool Released() const { return block_ == nullptr; }
  // The number of columns; 0 for a released row.
  int Count() const { return block_ ? static_cast<int>(Head() & kCountMask) : 0; }
  // Whether value Index is NULL; true for an index out of range.
  bool IsNull(int Index) const;
  // The value's bytes; empty for NULL or an index out of range.
  std::string_view Value(int Index) const;
  // The value's bytes; std::nullopt for NULL or an index out of range. The
  // view is valid until the row is changed, released or destroyed. Inline:
  // reading a field's value asks for it every time.
  std::optional<std::string_view> Get(int Index) const {
    if (!block_) return std::nullopt;
    const char* b = block_.get();
    uint32_t h;
    std::memcpy(&h, b, sizeof h);
    const uint32_t count = h & kCountMask;
    const uint32_t i = static_cast<uint32_t>(Index);
    if (i >= count) return std::nullopt;
    const uint32_t width = (h >> kWidthShift) & 3u;
    const char* ends = b + 4;
    const char* nulls = ends + (size_t{count} << width);
    if ((static_cast<uint8_t>(nulls[i / 8]) >> (i % 8)) & 1u) return std::nullopt;
    uint32_t start = 0, end;
    if (width == 0) {
      end = static_cast<uint8_t>(ends[i]);
      if (i) start = static_cast<uint8_t>(ends[i - 1]);
    } else if (width == 1) {
      uint16_t e[2] = {0, 0};
      if (i) std::memcpy(e, ends + 2 * (i - 1), 4); else std::memcpy(e + 1, ends, 2);
      start = e[0];
      end = e[1];
    } else {
      uint32_t e[2] = {0, 0};
      if (i) std::memcpy(e, ends + 4 * (size_t{i} - 1), 8); else std::memcpy(e + 1, ends, 4);
      start = e[0];
      end = e[1];
    }
    return std::string_view(nulls + (count + 7u) / 8u + start, end - start);
  }
  // Replaces one value (std::nullopt: NULL). The new storage is built before
  // the old one is given up, so a failure leaves the row as it was. An index
  // out of range does nothing. Each call copies the whole row: fine for
  // field assignments, but a writer that grows a value piece by piece (a
  // blob stream) buffers the pieces and calls Set once.
  void Set(int Index, std::optional<std::string_view> Value);
  // Every value NULL; the column count stays.
  void ClearValues();
  // Releases the storage (Released() afterwards).
  void Release() { block_.reset(); }
  // Bytes of this row's block (its capacity prefix left out).
  size_t AllocatedSize() const;

 private:
  // The head word: the count in the low bits, the offset width (0: 1 byte,
  // 1: 2 bytes, 2: 4 bytes) above it, the top bit set for an arena row.
  static constexpr uint32_t kCountMask = 0x1FFFFFFFu;
  static constexpr int kWidthShift = 29;
  static constexpr uint32_t kBorrowed = 0x80000000u;
  // A block of its own is preceded by this many bytes holding its capacity.
  static constexpr size_t kPrefix = 8;
  struct FreeBlock {
    void operator()(char* P) const;
  };
  using Block = std::unique_ptr<char, FreeBlock>;
  // A block of its own for Size bytes of row.
  static Block NewBlock(size_t Size);
  // The offset width code for rows of Bytes value bytes.
  static uint32_t WidthFor(uint64_t Bytes) { return Bytes <= 0xFFu ? 0u : Bytes <= 0xFFFFu ? 1u : 2u; }
  static size_t DataStart(uint32_t Count, uint32_t Width) {
    return 4u + (size_t{Count} << Width) + (Count + 7u) / 8u;
  }
  // Writes a row of Count values (Value(i): std::nullopt for NULL) of
  // Bytes value bytes into Block, which holds DataStart + Bytes bytes.
  template <typename GetValue>
  static void Fill(char* Block, uint32_t Count, uint64_t Bytes, bool Borrowed, GetValue Value);
  uint32_t Head() const {
    uint32_t h;
    std::memcpy(&h, block_.get(), sizeof h);
    return h;
  }
  uint32_t Width() const { return (Head() >> kWidthShift) & 3u; }
  // The end offset of value Index (0 for Index -1).
  uint32_t End(int Index) const;
  const uint8_t* nulls() const {
    uint32_t h = Head();
    return reinterpret_cast<const uint8_t*>(block_.get()) + 4u + (size_t{h & kCountMask} << ((h >> kWidthShift) & 3u));
  }
  size_t UsedSize() const;
  size_t Capacity() const;

  Block block_;
};

// The rows a dataset holds, in bookmark order.
using TRowList = std::vector<TRowValues, TRowListAllocator<TRowValues>>;

// The record buffer: what the host's record buffer pointer points to. Data
// holds every column's value (blob columns included; an empty blob value
// stays empty, distinct from NULL, though both read as null through the
// field). CalcBuffer is the calculated-fields area (the host's size + 1
// bytes, zero-filled), absent without calculated fields: each calculated or
// lookup field has DataSize + 1 bytes at its offset, a byte that is non-zero
// when the field has a value, then the value in the field's native layout.
struct TRecInfo {
  // Every column's value, in FieldInfos order.
  TRowValues Data;
  // The calculated-fields area described above; nullptr without calculated
  // fields.
  std::unique_ptr<char[]> CalcBuffer;
  // The index of the row the record shows (its bookmark).
  int64_t Bookmark = 0;
  uint8_t BookmarkFlag = 0;  // a TBookmarkFlag
};

// One result column (or custom field).
class TFieldInfo : public TObject {
 public:
  std::string Name;          // the column's name as sent (its alias)
  std::string OrgName;       // its name in its table
  std::string Table;         // table alias; empty for a computed column
  std::string OrgTable;      // the table's own name
  std::string Database;      // the table's database
  std::string DefaultValue;  // the text a new record starts with
  std::string FullName;      // identifier used in generated SQL
  std::string DisplayName;   // database.table.name, parts present only when known
  std::string Values;        // enum/set members as comma text of quoted items
  uint8_t ColumnType = 0;    // the server's column type code
  uint8_t ServerType = 0;    // the type as the server sent it (ColumnType before the options)
  uint32_t Length = 0;       // the column's display width
  uint32_t Flags = 0;        // the column flag bits
  bool Modified = false;     // takes part in the next generated insert or update
  bool IsServerColumn = true;  // false for a custom field (not in the result)
  // DefaultValue is the server's own column default: a new record shows it,
  // but an insert leaves the column to the server unless it was changed.
  bool ServerDefault = false;
};

// One table alias of the result.
class TTableInfo : public TObject {
 public:
  // The alias the select gives the table (its name when it has none).
  std::string Table;
  // The table's own name; Table when the server sends none.
  std::string OrgTable;
  // Quoted Database "." quoted OrgTable, as generated SQL names the table;
  // the database is left out when it is the result's only one and the
  // dataset works in it.
  std::string QualifiedName;
  // The table's database; empty when the server sends none.
  std::string Database;
  // Comma list of the names of this table's columns with the primary-key
  // flag.
  std::string PrimaryKeyFields;
  // The same with the unique-key flag.
  std::string UniqueKeyFields;
  // The same with the multiple-key (non-unique index) flag.
  std::string IndexKeyFields;
  // Whether KeyColumns has been learnt: the server is asked at the first
  // generated change that needs it (TMySQLDatasetBase::TableKeyColumns).
  bool KeysLearnt = false;
  // The FieldInfos indexes of the columns of this table occurrence that
  // make up its primary key, else a unique key of NOT NULL columns, when
  // every column of that key is in the result; empty when none is complete.
  std::vector<int> KeyColumns;
};

// A generated UPDATE or DELETE found its row changed or gone on the server:
// "Record not found or changed by another user" (error number -1). Both
// versions of the row travel with it, so that an application can show them
// and let the user choose. Columns are the field names of the columns of the
// edited table in the result; HeldValues the values the edit started from
// (as read from the server), PostedValues what the post tried to write (the
// held value where it changed nothing); ServerValues the row as the server
// holds it now, re-read by its key. ServerRowFound is false when no row
// holds that key any more (deleted, or its key changed) and when the row
// cannot be re-read (the result holds no complete key). NULL is
// std::nullopt. Nothing was changed on the server by the refused statement.
class EMySQLRecordChanged : public EMySQLError {
 public:
  // The error (number -1, the message above) with no rows yet.
  EMySQLRecordChanged();
  // The field names of the edited table's columns in the result.
  std::vector<std::string> Columns;
  // Per column: the value the edit started from, as read from the server.
  std::vector<std::optional<std::string>> HeldValues;
  // Per column: what the post tried to write (the held value where it
  // changed nothing).
  std::vector<std::optional<std::string>> PostedValues;
  // Whether a row still holds the key; false also when it cannot be re-read.
  bool ServerRowFound = false;
  // Per column: the row as the server holds it now; every value
  // std::nullopt unless ServerRowFound.
  std::vector<std::optional<std::string>> ServerValues;
};

// What a generated change must find on the server: one row of Table that
// meets Condition. Made while a change statement's macros are expanded.
struct TRowCheck {
  std::string Table;         // the table expression (qualified name)
  std::string Condition;     // this table's part of the generated condition
  std::string KeyCondition;  // its complete-key part alone; empty: none
  bool Verified = false;     // Condition holds a complete unique key
  // For the conflict report: the field names of the columns,
  std::vector<std::string> Columns;
  // their names in the generated SQL,
  std::vector<std::string> SqlNames;
  // the values the edit started from
  std::vector<std::optional<std::string>> Held;
  // and the values the post writes.
  std::vector<std::optional<std::string>> Posted;
};

// FieldInfos: (key, TFieldInfo) in column order; keys compare ignoring case.
class TFieldInfoList {
 public:
  // The number of columns.
  int Count() const { return static_cast<int>(items_.size()); }
  // The key of column Index. REQUIRES: 0 <= Index < Count().
  const std::string& Key(int Index) const { return items_[static_cast<size_t>(Index)].key; }
  // Renames column Index. REQUIRES: 0 <= Index < Count().
  void SetKey(int Index, const std::string& Key) { items_[static_cast<size_t>(Index)].key = Key; }
  // Column Index, owned by the list. REQUIRES: 0 <= Index < Count().
  TFieldInfo* Info(int Index) const { return items_[static_cast<size_t>(Index)].info.get(); }
  // Info(Index).
  TFieldInfo* operator[](int Index) const { return Info(Index); }
  int IndexOf(const std::string& Key) const;  // -1 when none
  // The column of that key; nullptr when none.
  TFieldInfo* Find(const std::string& Key) const;
  // Appends a column and takes it over; its index.
  int Add(const std::string& Key, std::unique_ptr<TFieldInfo> Info);
  // Frees every column.
  void Clear() { items_.clear(); }

 private:
  struct Item {
    std::string key;
    std::unique_ptr<TFieldInfo> info;
  };
  std::vector<Item> items_;
};

// TableInfos: sorted by alias, ignoring case; adding a known alias is ignored.
class TTableInfoList {
 public:
  // The number of tables.
  int Count() const { return static_cast<int>(items_.size()); }
  // Table Index in alias order, owned by the list.
  // REQUIRES: 0 <= Index < Count().
  TTableInfo* Info(int Index) const { return items_[static_cast<size_t>(Index)].get(); }
  // Info(Index).
  TTableInfo* operator[](int Index) const { return Info(Index); }
  // The entry of that alias (letter case ignored); nullptr when none.
  TTableInfo* Find(const std::string& Alias) const;
  // The entry of that alias, created when missing.
  TTableInfo* Obtain(const std::string& Alias);
  // Frees every entry.
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TTableInfo>> items_;
};

// String fields of MySQL datasets (every string field a dataset makes):
// whether the column is an ENUM or SET and its members.
class TMySQLStringField : public TStringField {
 public:
  // A string field of type stNormal with no members.
  explicit TMySQLStringField(TComponent* AOwner = nullptr);
  // Frees the member list.
  ~TMySQLStringField() override;

  // stEnum / stSet / stNormal as the dataset's column says (the stored
  // value once the field belongs to none).
  TMySQLStringTypes StringType();
  // The type StringType gives while the field shows no column of a MySQL
  // dataset.
  void SetStringType(TMySQLStringTypes Value) { string_type_ = Value; }
  // The members (filled from the column once the dataset learned them,
  // doRetrieveFieldValues); owned by the field, valid as long as it.
  TStrings* StringValues();
  // Copies Value's members into the field's list (nullptr: nothing); the
  // column's members replace them once the dataset has learnt them.
  void SetStringValues(TStrings* Value);
  // True when Value occurs anywhere in the field's text, letters a to z
  // compared ignoring case. A substring test by design: a member that is
  // part of another member's text (A in ABC) counts as found.
  bool StrInValue(const std::string& Value);

 protected:
  // Every size is accepted (0, or more than a string field's usual limit).
  void CheckTypeSize(int Value) override {}

 private:
  TMySQLStringTypes string_type_ = stNormal;
  std::unique_ptr<TStringList> string_values_;
};

// ---------------------------------------------------------------------------

// The string list of a dataset's SQL texts (SQL, SQLUpdate, SQLInsert,
// SQLDelete, SQLBatch, SQLCached). A string list joins its lines with
// "\r\n", which would turn a line feed inside a quoted literal into CR LF
// on its way to the server; this one keeps the text it was given: while its
// lines are still the ones that text was split into, Text gives that text
// back (with "\r\n" added when it did not end in a line break). Assigned
// from another such list it takes that list's text.
class TSQLStringList : public TStringList {
 public:
  // The text last given to SetText while the lines are still the ones it was
  // split into ("\r\n" added when it did not end in a line break); otherwise
  // the lines joined with "\r\n".
  std::string Text() const override;
  // Splits Value into lines and keeps Value for Text; when splitting fails
  // the kept text stays as it was.
  void SetText(const std::string& Value) override;
  void Assign(TPersistent* Source) override;

 private:
  std::string text_;
  std::vector<std::string> lines_;  // the lines text_ was split into
};

// What the three dataset classes share: statements through the connection
// component's driver, the last one's rows as records, described at the top
// of this header. The classes below publish its properties.
class TMySQLDatasetBase : public TDataSet, public TMySQLServerClient {
  // Worker threads open a dataset on a connection of its own.
  friend class TMySQLThreadedOpen;

 public:
  // Closed, with the options kDefaultDatasetOptions, result type rtLocal,
  // macro delimiters "[" and "]" and the default SQL, SQLUpdate, SQLInsert
  // and SQLDelete templates, whose macros are already in Macros.
  explicit TMySQLDatasetBase(TComponent* AOwner = nullptr);
  // Closes, unregisters from Server and releases the connection; never
  // throws (see the top of this header).
  ~TMySQLDatasetBase() override;

  // --- published by every class

  // The database the statements run in; empty (the default): the component's.
  const std::string& DatabaseName() const { return database_name_; }
  // Closes an open dataset when Value differs (letter case counts), then
  // assigns.
  void SetDatabaseName(const std::string& Value);
  // The connection component the statements run through; nullptr without one.
  TMySQLServer* Server() const { return server_; }
  // Binds the dataset and registers it with the component. Bound on a
  // worker thread (the background threads' own datasets) it is not
  // registered: the component's connect events and dataset list belong to
  // the main thread. Such a dataset never connects the component either
  // (ActivateConnection then raises "Dataset server could not connect").
  void SetServer(TMySQLServer* Value) override;

  // --- state shared with the statement, editing and thread code

  // The connection the statements run on; nullptr while the dataset has none.
  MySQLHandle ConnectionHandle() const { return connection_handle_; }
  // The result of the last statement while rows are still to be read from it;
  // nullptr when none is open.
  MySQLResultHandle ResultHandle() const { return result_handle_; }
  // The fetched rows; nullptr while closed. A unidirectional result holds
  // only its newest row here (its bookmark is FetchedCount() - 1).
  const TRowList* Rows() const { return rows_.get(); }
  // Rows read so far, including those a unidirectional result let go.
  int64_t FetchedCount() const;
  // The result's columns, then the custom columns (CustomFieldDefs); filled
  // at open and emptied at close.
  const TFieldInfoList& FieldInfos() const { return field_infos_; }
  // The tables of the result's columns, by alias (a table whose name holds
  // "#" is left out).
  const TTableInfoList& TableInfos() const { return table_infos_; }
  // The databases of the result's columns, sorted, each once.
  const TStringList& Databases() const { return *databases_; }
  // The bookmark (row index) of the cursor's row; -1 before the first row.
  int64_t CurrentRec() const { return current_rec_; }
  // Whether the result has no more rows to read (true when there was none).
  bool AllFetched() const { return all_fetched_; }
  // The statement of SQL that opening sends now or sent last, after macro
  // expansion and OnExecSQL.
  const std::string& StatementText() const { return statement_text_; }
  // The last statement sent, by an open or by ExecSQL (held statements and
  // skipped ones are not).
  const std::string& LastStatement() const { return last_statement_; }
  // Comma list of the result's columns with the primary-key flag, each by
  // its name when that is unique in the result, else by its DisplayName.
  const std::string& PrimaryKeyFields() const { return primary_key_fields_; }
  // The same for the unique-key flag.
  const std::string& UniqueKeyFields() const { return unique_key_fields_; }
  // The same for the multiple-key (non-unique index) flag.
  const std::string& IndexKeyFields() const { return index_key_fields_; }
  // Decimal text of the rows the last statement sent affected; "0" at
  // creation.
  const std::string& AffectedRowsText() const { return affected_rows_text_; }
  // Decimal text of the insert id after the last statement ExecSQL sent (an
  // insert of a new record sets it too); "0" at creation.
  const std::string& InsertIDText() const { return insert_id_text_; }

  // The driver of Server; nullptr without one.
  TMySQLBase* Driver() const;

  // Opens on the calling thread, then calls OnThreadOpened. With
  // doThreadedUpdate the open runs on a worker thread on a connection of the
  // dataset's own (ThreadDatasetOpen, components/MySQLThreads.h) and
  // OnThreadOpened, with the dataset as sender, runs on the main thread when
  // it is done, also when the open failed; with Wait the call returns then,
  // raising the open's failure, and without Wait the failure goes to the
  // application's exception handler.
  void Execute(bool Wait = true);
  // Installed by the thread unit: opens Dataset on a worker thread, calls
  // OnOpened when done; returns when it is done if Wait is set.
  using TThreadedOpen = std::function<void(TMySQLDatasetBase* Dataset, TNotifyEvent OnOpened, bool Wait)>;
  // The hook Execute uses under doThreadedUpdate (ThreadDatasetOpen unless
  // replaced).
  static TThreadedOpen& ThreadedOpen();

  // As GetFieldData without conversion: the stored text, as a string field
  // would receive it (Buffer of the field's DataSize bytes).
  bool GetRawFieldData(TField* Field, void* Buffer);
  // The same into a buffer of BufferSize bytes: the text (cut to fit) and a
  // NUL; for calculated, lookup and blob fields the native value, cut to
  // BufferSize. Nothing is ever written past BufferSize bytes (0: nothing).
  bool GetRawFieldData(TField* Field, void* Buffer, size_t BufferSize);
  // The stored text of a data field in the active record; std::nullopt for
  // NULL or without an active record.
  std::optional<std::string> GetFieldText(TField* Field);

  // Whether the collections are written with the component: Constraints
  // and CustomFieldDefs when not empty; FieldDefs and IndexDefs only when
  // the dataset creates its table (doAutoCreate, a TableName) and they are
  // not empty.
  bool ConstraintsStored();
  // CustomFieldDefs when not empty.
  bool CustomFieldDefsStored() const;
  // FieldDefs with doAutoCreate, a TableName and at least one definition.
  bool FieldDefsStored();
  // IndexDefs with doAutoCreate, a TableName and at least one definition.
  bool IndexDefsStored();
  // Reads the Boolean properties of older stored forms: "AllFieldValues"
  // (doRetrieveFieldValues) and "MacrosEnabled" (doMacrosEnabled); writes
  // nothing.
  void DefineProperties(TFiler* Filer) override;

  // stEnum or stSet for a field showing an ENUM or SET column, stNormal for
  // another column; stNone when Field shows no column of this dataset.
  TMySQLStringTypes GetStringType(TField* Field);
  // The members of Field's ENUM or SET column as comma text of quoted items;
  // empty until learnt (doRetrieveFieldValues) or when Field shows no column.
  std::string GetStringValues(TField* Field);

  // --- Blob streams (MySQLDatasetBlobs.cpp)
  //
  // A blob or memo field's value is its column's exact bytes in the record
  // buffer (and, browsing or editing a held row, in that row). An empty
  // value stays an empty value, distinct from NULL.
  //
  // A new TMySQLBlobStream over Field (raises EInvalidCast for a field
  // that is not a blob field; see TMySQLBlobStream for the other errors).
  std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  // The column's bytes: from the held row when Buffer's bookmark indexes one
  // and the dataset is browsing or editing, else from Buffer; empty when
  // Buffer is not the active buffer. The view is valid until the value or
  // the row changes.
  std::string_view BlobView(TField* Field, TRecordBuffer Buffer);
  // BlobView as a copy.
  std::string GetBlobData(TField* Field, TRecordBuffer Buffer) { return std::string(BlobView(Field, Buffer)); }
  // Stores Value as the column's value in Buffer and, editing a held row,
  // in that row (the row of Buffer's bookmark, as field assignments do);
  // marks the column for the next generated change. Nothing unless Buffer
  // is the active buffer; raises "Dataset not in edit or insert mode" in
  // the filter state.
  void SetBlobData(TField* Field, TRecordBuffer Buffer, std::string_view Value);
  // Posting (and every other record update of the host, deUpdateRecord)
  // first commits the held writes of the blob streams still open on the
  // edited record, so a post never sends the value as it was before them;
  // a commit that fails fails the post. Cancel drops the held writes of
  // those streams; closing or destroying the dataset leaves every open
  // stream unopened (it then reads and writes nothing).
  void DataEvent(TDataEvent Event, intptr_t Info) override;

  // --- Locate and lookup (MySQLDatasetLocate.cpp)
  //
  // Searches walk the records through the navigation, so an incremental
  // result is read only as far as the search goes, and compare each field's
  // AsString with the key value's text (Null: empty, so a Null key matches
  // a NULL or empty field). Letter case is ignored for a to z only; other
  // bytes compare as they are. A search that finds nothing goes back to the
  // record it started on; Locate starts at the first record, so a failing
  // Locate leaves the first record current. Departures from the plain
  // rules: LocateRecordOption with both loNext and loPrior walks forward
  // only (as loNext alone), since the pair would otherwise step back and
  // forth forever; a failing LocateRecordOption leaves Field nullptr (never
  // a field of a record that did not match); every key value is read before
  // the search moves, so a missing element raises with the cursor in place.
  bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
  // The ResultFields values (an array for several) at the record found,
  // which stays current; Null when none matches.
  Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                 const std::string& ResultFields) override;
  // From the current record on (it matches first), else from the first
  // record: each key field equals its key value (partial key: begins with
  // it). SyncCursor has no effect.
  bool LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                    bool SyncCursor);
  // loFirst / loLast choose the start, loNext / loPrior the direction (with
  // neither no record is tested); partial key means "contains";
  // loTextSearch compares the one key value with every key field,
  // loMatchAll needs every key field to match (else any). Field receives
  // the first key field after which the record matched.
  bool LocateRecordOption(const std::string& KeyFields, const Variant& KeyValues,
                          TLocateOptions Options, bool SyncCursor, TMySQLLocateOptions MySQLOptions,
                          TField*& Field);


  // --- SQL templates and macros (MySQLMacros.cpp; the rules are described
  // in components/MySQLMacros.h)
  //
  // The lists SQL, SQLUpdate, SQLInsert, SQLDelete and SQLBatch take a new
  // text only when it differs from the current one, letter case included
  // (a changed string literal or a lower-case macro name is a change).
  // Assigning SQL closes an open dataset first.
  void SetSQL(const TStrings* Value);
  // The update template; nullptr empties it.
  void SetSQLUpdate(const TStrings* Value);
  // The insert template; nullptr empties it.
  void SetSQLInsert(const TStrings* Value);
  // The delete template; nullptr empties it.
  void SetSQLDelete(const TStrings* Value);
  // The statements ExecBatch runs; nullptr empties them.
  void SetSQLBatch(const TStrings* Value);
  // The held statements of cached updates; nullptr empties them. Their macros
  // are not collected.
  void SetSQLCached(const TStrings* Value);
  // Copies the values of Value into the macros of the same names.
  void SetMacros(const TParams& Value);
  // The macro of that name (letter case ignored); raises the parameter
  // not-found error when there is none.
  TParam* MacroByName(const std::string& Name) const;
  // The number of macros.
  int GetMacroCount() const;
  // Every macro's value becomes the empty text; the names stay.
  void ClearMacros();
  // With doMacrosEnabled: adds the macro names of Text to Macros.
  void ParseSQL(const std::string& Text);
  // With doMacrosEnabled: collects the names of the filter text and the
  // templates (Macros emptied first with doMacroCheck).
  virtual void ParseAllSQL();
  // Adds (when Add is set) every macro name of Text not yet in Macros.
  void ParseMacros(const std::string& Text, const std::string& StartDelimiter,
                   const std::string& EndDelimiter, bool Add);
  // Expands the macros of Text and, unless FirstPass or NoFilter, inserts
  // the master/filter condition into a select.
  virtual std::string SQLPopulate(const std::string& Text, bool FirstPass, bool NoFilter,
                                  const std::string& DatabaseArg, const std::string& TableArg);
  // The text one macro stands for; never raises for an unknown name.
  std::string GetMacroValue(const std::string& Name, const std::string& DatabaseArg,
                            const std::string& TableArg);
  // The connection's identifier quoting; S unchanged without a server.
  std::string FormatIdentifier(const std::string& S) const;
  // The value of the MacroDel property: rewrites the macro delimiters of the
  // four templates (outside strings, quoted names and comments).
  void SetMacroString(const std::string& Value);
  // Whether each property is written with the component.
  bool SQLStored() const;
  // SQLUpdate when it is not the default template.
  bool SQLUpdateStored() const;
  // SQLInsert when it is not the default template.
  bool SQLInsertStored() const;
  // SQLDelete when it is not the default template.
  bool SQLDeleteStored() const;
  // SQLBatch when not empty.
  bool SQLBatchStored() const { return sql_batch_->Count() > 0; }
  // SQLCached always.
  bool SQLCachedStored() const { return true; }
  // MacroDel when it is not "[,]" (letter case ignored).
  bool MacroDelStored() const;
  // Macros when not empty, with doMacrosEnabled and without doMacroCheck
  // (which collects them again from the texts).
  bool MacrosStored() const;

  // --- Editing, posting, cached updates and transactions
  // (MySQLDatasetEdit.cpp)
  //
  // Post, insert and delete run the SQLUpdate, SQLInsert and SQLDelete
  // templates through ExecSQLBatchPerColumn, each inside StartTransaction /
  // CommitTransaction (RollbackTransaction on any failure, then the error is
  // raised again with rows, Modified flags and old values as they were).
  // A local result keeps its rows in step without re-reading them.
  //
  // Which row a change hits, and never losing another user's work (sound
  // behaviour over the plain rules):
  // - The row is identified by a complete key only: the table's primary key,
  //   else a unique key of NOT NULL columns, learnt from the server ("show
  //   index") at the first change, counts only when every one of its
  //   columns is in the result as a column of that table occurrence. Part
  //   of a composite key is no key (PSGetKeyFields does not report it).
  //   Without a complete key, the FieldName columns, else every column of
  //   the table, form "$PRIMARYFIELDS&VALUES"; before such a statement runs
  //   a "select count(*)" with the same condition must find exactly one row,
  //   else nothing is sent: none is a lost edit (below), several raise
  //   "Record cannot be identified: N rows hold its values ...". The other
  //   key-list macros ($OLD$FIELDS&VALUES, $UNIQUEFIELDS&VALUES, ...) are
  //   checked the same way. No LIMIT is ever added.
  // - Conditions compare every type: NULL as "IS NULL", FLOAT and DOUBLE as
  //   the server's text of the stored number (CONCAT(col)='text', which is
  //   what the held text is), BIT as a bit literal b'...'.
  // - A post writes only the columns whose value changed (a column set to
  //   the value it held is not written); a post that changed nothing sends
  //   nothing. While editing, "$PRIMARYFIELDS&VALUES" adds the held values
  //   of the changed columns to the key, so a column another user changed
  //   meanwhile is not overwritten.
  // - A checked UPDATE must match exactly one row (the server's "Rows
  //   matched", so writing a value a row already holds is no conflict), a
  //   DELETE must delete one; none raises EMySQLRecordChanged ("Record not
  //   found or changed by another user") carrying both versions of the row,
  //   and the post's transaction (doTransactions) is rolled back.
  // - "$TABLENAME" and per-table statements name a table by its own name
  //   and database, never by its alias in the select; without TableName the
  //   edited table is the table of the result's first column (EditTable).
  //   With doRecursiveUpdates a delete removes the record from that table
  //   only, never the joined rows of other tables.
  // - A new record leaves the columns it was not given to the server: they
  //   are NULL in the record and not written, so server defaults apply (the
  //   server's own defaults learnt by doRetrieveFieldValues are shown but
  //   not written either); with nothing set it inserts "first column =
  //   DEFAULT". Key columns are no longer forced into the insert; names in
  //   key lists are matched as whole names.
  // - SQLCached holds one statement per line. ApplyUpdates runs the lines
  //   one by one as they stand (never cut again by the tokenizer), inside
  //   one transaction of its own (held transaction brackets are dropped):
  //   a failure, a lost edit included (held UPDATEs and DELETEs are checked
  //   as a direct post is), rolls all of it back and leaves SQLCached as it
  //   was. Inside a transaction already open on the connection (the
  //   dataset's, or the application's as @@in_transaction or autocommit off
  //   tell) it runs under a savepoint of that transaction instead, so the
  //   open work is neither committed nor lost. On a server without
  //   transactions what was sent stays sent and only the rest is kept.
  //   Tables without transactions (MyISAM) cannot be rolled back.
  // - A cached post or delete that fails leaves no held lines behind.
  // - An auto-increment column of an inserted row takes the server's insert
  //   id also when the record held no value for it (the usual case).
  // - Insert and delete commit before the local rows change, so a failing
  //   commit leaves the rows as they were.
  //
  // Runs one statement (macros expanded when Expand; held back in
  // SQLCached when Cache). Server errors are raised. Returns true.
  // With doThreadedUpdate the statement is handed to a worker thread and the
  // call returns at once: the dataset's statements reach the server in the
  // order given, OnThreadPosted runs on the main thread after each worker,
  // and the lost-edit check, InsertIDText and AffectedRowsText do not
  // apply. A transaction bracket (a post with doTransactions) is held until
  // its commit and then runs as a whole on one worker connection (one
  // OnThreadPosted for it); a bracket ending in rollback is not sent. A
  // failure on a worker goes to the application's exception handler (see
  // components/MySQLThreads.h).
  bool ExecSQL(const std::string& SQL, bool Expand, bool Cache, const std::string& DatabaseArg,
               const std::string& TableArg);
  // Runs each statement of Lines in order; the first error ends the batch.
  bool ExecSQLBatch(const TStrings* Lines, bool Expand, bool Cache, bool Flag,
                    const std::string& DatabaseArg, const std::string& TableArg);
  // With doRecursiveUpdates and a result of two or more tables: Lines once
  // per table with changed columns (every table when AllTables); else once.
  bool ExecSQLBatchPerColumn(const TStrings* Lines, bool Expand, bool Cache, bool Flag,
                             bool AllTables);
  // Runs SQLBatch.
  bool ExecBatch();
  // Sends the held-back statements (cached updates), see above.
  // A run in a transaction of its own that fails with a retryable error
  // (EMySQLError::Retryable) is run again up to the component's
  // TransactionRetries times. A connection lost inside the transaction
  // raises EMySQLTransactionLost; the statements stay held.
  virtual void ApplyUpdates();
  // With doTransactions on a server of 4.0.11 or later; otherwise nothing.
  // The version is that of the connected server: without a connection yet
  // the dataset connects first (a failing connect raises), rather than let
  // the change run outside a transaction.
  void StartTransaction();
  // Sends "commit" (held in SQLCached under cached updates), starting a
  // transaction first when none is open; nothing unless transactions apply
  // (as StartTransaction).
  void CommitTransaction();
  // As CommitTransaction, with "rollback".
  void RollbackTransaction();
  // Whether a transaction begun by StartTransaction is open.
  bool InTransaction() const { return in_transaction_; }
  // Whether a column outside FieldName and the primary key was changed.
  bool CheckChanged();
  // Every server column takes part in the next generated change.
  void MakeChanged();

  // --- Master/detail, select list and server-side filter
  // (MySQLDatasetMaster.cpp)
  //
  // The $FIELDS select list: "*" for a table, default fields or no fields;
  // else the data fields' quoted names.
  std::string GetSelectFields();
  // The condition the select is narrowed by: one "(detail=value)" per
  // master field pair joined by " AND ", then the "(" Filter ")" when
  // Filtered. Master values are escaped; a closed or empty master, or a
  // NULL master value, gives "(detail=NULL)" so that no row matches.
  std::string GetMasterAndFilter();
  // The master's record changed: re-reads an open dataset with its controls
  // disabled, unless the master is being edited.
  void MasterChanged(TObject* Sender);
  // The master link went inactive: re-reads an open dataset.
  void MasterDisabled(TObject* Sender);
  // Filter is an SQL condition; a change re-runs the select when open (and,
  // for the text, Filtered). When that re-run fails the property keeps its
  // old value.
  void SetFiltered(bool Value) override;
  // Collects the macro names of the new text (doMacrosEnabled), then as
  // SetFiltered says.
  void SetFilterText(const std::string& Value) override;

  // --- Table auto-creation (MySQLDatasetCreate.cpp)
  //
  // CreateTable(Execute) builds the script that creates TableName from the
  // field and index definitions ("use", optionally "drop table if exists",
  // "create [temporary] table if not exists" with one line per name and per
  // column type), runs it when Execute is set and returns its text; without
  // a TableName or any database name (the dataset's, else the component's)
  // it is empty and nothing runs. Open runs it first with doAutoCreate.
  //
  // Sound behaviour kept over the plain rules:
  // - Names are back-quoted wherever they are not plain identifiers
  //   (reserved words, "-" and other characters, digits only; back-quotes
  //   inside doubled), also while there is no connection to ask. Column and
  //   index names are always one identifier; only the table and database
  //   names are split at dots as the connection does.
  // - A memo of size 0 becomes " text ", a blob or graphic of size 0
  //   " blob " (the plain rule gives varchar(0) and tinyblob).
  // - Blanks around index field names are dropped, empty ones skipped.
  // - The field definitions an open derives from the result replace
  //   FieldDefs, but the table keeps being created from the application's:
  //   they are kept aside when an open replaces them, and used while
  //   FieldDefs still hold what that open derived (so doDropIfExists
  //   recreates the same table at every open). IndexDefs are the
  //   application's unless doRetrieveIndexDefs replaces them.
  // - On the shared connection, running the script selects the component's
  //   database again afterwards.
  //
  // Name as a script identifier; Dotted: each part of a qualified name.
  std::string ScriptIdentifier(const std::string& Name, bool Dotted) const;
  // The definitions the table is created from.
  TFieldDefs* CreationFieldDefs();

  // --- Provider hooks (MySQLDatasetProvider.cpp)
  //
  // What the host's provider layer calls: PSExecute opens through Execute
  // (not waiting); PSExecuteStatement turns each "?" into the numbered macro
  // 1, 2, ... in the current delimiters (naming the parameters after them),
  // copies the parameters into those macros, opens and returns the affected
  // row count (0 when it is not a number); PSGetKeyFields gives the complete
  // key columns (see the editing notes) each followed by ";"; PSGetTableName
  // TableName, else the own name of the edited table (with its database
  // when that is not the dataset's), else "PleaseSpecifyATableNameProperty";
  // the transaction hooks are StartTransaction, CommitTransaction and
  // RollbackTransaction; PSUpdateRecord leaves applying to the provider.
  //
  // Sound behaviour kept over the plain rules:
  // - A "?" inside a string literal, a quoted name or a comment is text, not
  //   a parameter (a backslash escapes inside literals, as the macro pass
  //   reads them); the text is read once, so delimiters holding "?" cannot
  //   make it loop.
  // - A parameter of a text type (or none) becomes a value macro: it is
  //   written as a literal escaped for the session, never as raw SQL.
  // - PSExecuteStatement closes the dataset first, so the statement runs
  //   also when its text equals the one already open; a transaction on the
  //   dataset's own connection keeps that connection through the close.
  // - PSStartTransaction connects first with doTransactions, so that the
  //   server's version is known and the transaction is not skipped.
  // - PSGetQuoteChar is the back-quote: in MySQL's default mode a double
  //   quote makes a string, so a name in double quotes would compare as a
  //   text instead of naming a column.
  // - GetIsIndexField compares whole names of IndexKeyFields (letter case
  //   ignored), not substrings: "ID" is not an index field because of
  //   "USERID".
  void PSEndTransaction(bool Commit) override;
  // Opens through Execute, not waiting.
  void PSExecute() override;
  // Runs ASQL with AParams as its "?" parameters and returns the affected row
  // count (0 when that is not a number); ResultSet is not used.
  int PSExecuteStatement(const std::string& ASQL, TParams* AParams, void* ResultSet = nullptr) override;
  // The first of IndexDefs; nullptr when there is none.
  TIndexDef* PSGetDefaultOrder() override;
  // The complete key columns of the result's tables (see the editing notes),
  // each followed by ";".
  std::string PSGetKeyFields() override;
  // Macros.
  TParams* PSGetParams() override;
  // The back-quote.
  std::string PSGetQuoteChar() override;
  // TableName, else the edited table's own name (with its database when that
  // is not the dataset's), else "PleaseSpecifyATableNameProperty".
  std::string PSGetTableName() override;
  // IndexDefs, whatever IndexTypes asks for.
  TIndexDefs* PSGetIndexDefs(TIndexOptions IndexTypes) override;
  // InTransaction().
  bool PSInTransaction() override;
  // True: the dataset works with SQL.
  bool PSIsSQLBased() override { return true; }
  // True: the provider may send SQL.
  bool PSIsSQLSupported() override { return true; }
  // The host's reset, then Refresh when open.
  void PSReset() override;
  // Replaces Macros by AParams when it holds any.
  void PSSetParams(TParams* AParams) override;
  // Makes CommandText the SQL text; an empty text is ignored.
  void PSSetCommandText(const std::string& CommandText) override;
  // StartTransaction, connecting first under doTransactions.
  void PSStartTransaction() override;
  // False: the provider applies the change itself.
  bool PSUpdateRecord(TUpdateKind UpdateKind, TDataSet* Delta) override { return false; }
  // Whether Field's name is a whole entry of IndexKeyFields (letter case
  // ignored).
  bool GetIsIndexField(TField* Field) override;
  // ASQL with each parameter "?" replaced by its numbered macro.
  std::string PositionalToMacros(const std::string& ASQL, TParams* AParams);

  // --- host hooks
  bool GetFieldData(TField* Field, void* Buffer) override;
  bool GetHeldFieldText(TField* Field, std::string_view& Text, bool& IsNull) override;
  void SetFieldData(TField* Field, const void* Buffer) override;
  // Whether Bookmark is 8 bytes naming a row read so far of an open dataset
  // that has records.
  bool BookmarkValid(const TBookmark& Bookmark) override;
  // -1, 0 or 1 as the rows compare; -1 when Bookmark1 is not valid, else 1
  // when Bookmark2 is not.
  int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;
  // Makes the row of index Value current (record numbers count from 0, as
  // bookmarks), reading an incremental result as far as needed; leaves edit
  // or insert state first (CheckBrowseMode). A number off the rows is
  // ignored.
  void SetRecNo(int Value) override;
  TDataSource* GetDataSource() const override;

  // --- TMySQLServerClient
  bool AutoCreatesTable() const override { return options_.Contains(doAutoCreate); }
  std::string CreateTable(bool Execute) override;
  void ExcludeRetrieveOptions() override;
  void SetTableName(const std::string& Value) override;
  TStrings* SQL() override { return sql_.get(); }
  std::string MasterFields() const override;
  void SetMasterFields(const std::string& Value) override;
  TDataSource* MasterSource() const override;
  void SetMasterSource(TDataSource* Value) override;

 protected:
  // Blob streams and searches work on the record buffers and rows directly.
  friend class TMySQLBlobStream;
  // doTransactions applies (see StartTransaction); connects when the
  // server's version is not known yet.
  bool TransactionsActive();
  // doThreadedUpdate: the statement goes to a worker thread; statements of
  // a transaction bracket are held in threaded_script_ until its end.
  void HandToWorker(const std::string& Text);
  std::vector<std::string> threaded_script_;
  // Whether Name is a persistent boolean field of the dataset.
  bool PersistentBoolean(const std::string& Name) const;
  // Open blob streams that may write, registered by each stream.
  std::vector<TMySQLBlobStream*> blob_streams_;
  // Commits the held writes of the streams on the active buffer.
  void CommitBlobStreams();
  // Drops the held writes of the streams on the active buffer, or (Detach)
  // leaves every stream unopened and forgets it.
  void DropBlobStreams(bool Detach);
  friend class TLocateSearch;

  // --- searching (MySQLDatasetLocate.cpp)
  // The row of bookmark Index, reading an incremental result as far as it;
  // nullptr past the last row or for a row no longer held.
  const TRowValues* LocateRow(int64_t Index);
  // The bookmark of the active record; -1 without one.
  int64_t ActiveRow();
  // Makes the row of bookmark Index current (scroll events, one resync).
  void GotoRow(int64_t Index);

  // --- properties the published classes publish (see each class)

  // doCachedUpdates: the statements of posts and deletes are held in
  // SQLCached until ApplyUpdates instead of being sent; default false.
  bool CachedUpdates() const { return options_.Contains(doCachedUpdates); }
  // Turning it off while open first re-reads the dataset, which applies the
  // held statements, then notifies the controls.
  void SetCachedUpdates(bool Value);
  // The screen cursor shown while statements run, with UseCursor; default
  // crSQLWait.
  TCursor Cursor() const { return cursor_; }
  // Used from the next statement on.
  void SetCursor(TCursor Value) { cursor_ = Value; }
  // Extra columns after the result's: each definition adds a column whose
  // values OnCustomValue supplies. Owned by the dataset.
  TFieldDefs* CustomFieldDefs() const { return custom_field_defs_.get(); }
  // A comma list of key columns the application names: the "$FIELDNAME..."
  // macros use it, and a generated change identifies its row by these columns
  // when the result holds no complete key. Empty by default.
  const std::string& FieldName() const { return field_name_; }
  // Assigns when Value differs ignoring letter case; an open dataset stays
  // open.
  void SetFieldName(const std::string& Value);
  // The macro delimiters as "start,end"; default "[,]".
  std::string MacroDel() const { return macro_start_ + "," + macro_end_; }
  // SetMacroString: the templates are rewritten to the new delimiters.
  void SetMacroDel(const std::string& Value) { SetMacroString(Value); }
  // The user macros. A macro of a string type (ftString, ftFixedChar,
  // ftWideString, or one never given a value) is inserted as raw SQL text,
  // by design: it carries fragments such as a whole where clause, so never
  // put an application user's input into one. For a value, give the macro
  // a type and it is written as a literal, escaped for the connection:
  //   Macros()->ParamByName("WHERE")->SetAsString("where name=[NAME]");
  //   Macros()->ParamByName("NAME")->SetDataType(ftVariant);
  //   Macros()->ParamByName("NAME")->SetValue(Variant(user_text));  // 'escaped'
  // (or SetAsInteger, SetAsFloat, SetAsDateTime, SetAsBlob for numbers,
  // dates and bytes).
  TParams* Macros() const { return macros_.get(); }
  // The options; default kDefaultDatasetOptions (TMySQLTable:
  // kDefaultTableOptions).
  TMySQLDatasetOptions Options() const { return options_; }
  // Closes an open dataset, then assigns; with doShareConnection the result
  // type becomes rtLocal.
  void SetOptions(TMySQLDatasetOptions Value);
  // doMacroCheck: Macros is emptied before the macro names of the texts are
  // collected again (ParseAllSQL); default true.
  bool ParamCheck() const { return options_.Contains(doMacroCheck); }
  // Sets or clears doMacroCheck; an open dataset stays open.
  void SetParamCheck(bool Value);
  // doFieldsAsString: every column but blobs is a string field of its own
  // length, and auto-increment columns are plain fields; default false.
  bool RawData() const { return options_.Contains(doFieldsAsString); }
  // Even when unchanged: closes an open dataset, clears FieldDefs and the
  // fields, then sets or clears doFieldsAsString.
  void SetRawData(bool Value);
  // Whether records cannot be edited, inserted or deleted; default false.
  bool ReadOnly() const { return read_only_; }
  // A change notifies the controls; an open dataset stays open.
  void SetReadOnly(bool Value);
  // How rows are fetched (see the top of this header); default rtLocal.
  TMySQLResultOptions ResultType() const { return result_type_; }
  // A change closes an open dataset; any type but rtLocal clears
  // ShareConnection.
  void SetResultType(TMySQLResultOptions Value);
  // doShareConnection: statements run on the component's main connection
  // instead of a connection of the dataset's own; default true.
  bool ShareConnection() const { return options_.Contains(doShareConnection); }
  // A change closes an open dataset; true makes the result type rtLocal.
  void SetShareConnection(bool Value);
  // The template of a post's UPDATE; default "update [$TABLENAME] set
  // [$MODIFIED$FIELDS&VALUES] where [$PRIMARYFIELDS&VALUES]".
  TStrings* SQLUpdate() const { return sql_update_.get(); }
  // The template of a post's INSERT; default "insert into [$TABLENAME] set
  // [$MODIFIED$FIELDS&VALUES]".
  TStrings* SQLInsert() const { return sql_insert_.get(); }
  // The template of a delete; default "delete from [$TABLENAME] where
  // [$PRIMARYFIELDS&VALUES]".
  TStrings* SQLDelete() const { return sql_delete_.get(); }
  // Statements ExecBatch runs; empty by default.
  TStrings* SQLBatch() const { return sql_batch_.get(); }
  // The statements cached updates hold back, one a line, until ApplyUpdates
  // sends them.
  TStrings* SQLCached() const { return sql_cached_.get(); }
  // The table generated statements work on ("$TABLENAME") and that
  // doAutoCreate creates; empty by default: the table of the result's first
  // column is edited. Setting another name (letter case counts) closes an
  // open dataset.
  const std::string& TableName() const { return table_name_; }
  // doUseCursor: Cursor is shown while statements run; default true.
  bool UseCursor() const { return options_.Contains(doUseCursor); }
  // Sets or clears doUseCursor; an open dataset stays open.
  void SetUseCursor(bool Value);

  // Called before each statement is sent, with its text after macro
  // expansion: it may change SQL; Continue false skips the statement (while
  // opening: ends the open with a silent abort).
  TMySQLEvent OnExecSQL;
  // Asked for each macro's text first; see TMySQLMacroEvent.
  TMySQLMacroEvent OnMacro;
  // Called for each non-blob column when a new record is initialised, with
  // AValue the column's default text: a non-empty AValue becomes the new
  // record's value, and a change is kept as the column's default.
  TMySQLFieldValue OnDefaultValue;
  // Called as a row is read, for each custom column and each NULL server
  // column: a non-empty AValue becomes the value (empty leaves it NULL).
  TMySQLFieldValue OnCustomValue;
  // Called on the main thread with the dataset as sender when Execute's open
  // is done; under doThreadedUpdate also when the worker's open failed.
  TNotifyEvent OnThreadOpened;
  // Under doThreadedUpdate: called on the main thread, with the worker thread
  // as sender, when a worker has run what ExecSQL handed it (one statement,
  // or a whole transaction bracket), also when that failed.
  TNotifyEvent OnThreadPosted;

  // --- connection and result (opening, fetching)
  void ActivateConnection();
  void DeactivateConnection();
  void ConnectEvent(TObject* Sender, bool Connecting);
  void InternalOpenResult();
  void InternalOpenResultBlock();
  void GetNextRow();
  void GetRest();
  // Reads what is left of the result and releases it; a server error in it
  // is raised (the result is released all the same).
  void ClearRest();
  // Closes the result after a failed fetch; the rows read so far stay.
  void DropResult() noexcept;
  // Runs the statements of SQL and reads the last one's columns (and, for a
  // local result, its rows).
  void RunStatements();
  // Raises "No server connection" when there is no handle to send on.
  void CheckConnectionHandle();
  // The dataset shares the component's connection but names another
  // database than the component's.
  bool UsesForeignDatabase() const;
  // What the server tells about the result's tables after the last row (best
  // effort: a table it cannot describe is skipped). Enum and set members and
  // defaults are matched on the column's own table and original name.
  void RetrieveFieldValues(TTableInfo* Table);
  void RetrieveIndexDefs();
  // The rows of a metadata statement, each exactly Columns values;
  // std::nullopt when the statement fails, fails midway or answers with
  // fewer columns.
  std::optional<std::vector<std::vector<std::optional<std::string>>>> MetadataRows(
      const std::string& SQL, uint32_t Columns);
  // Key, type and flags of every column, to tell a changed result.
  std::vector<std::string> ColumnSignature() const;
  void CloseAfterFailedRefresh();
  // Clears the Modified flag of every column.
  void ClearModified();
  // Clears the Modified flag of every column whose value is the one held
  // when the edit began (set to what it already was).
  void DropUnchanged();
  void ResyncResult();
  void RecInfoClear();
  void FieldInfoClear() { field_infos_.Clear(); }
  void TableInfoClear() { table_infos_.Clear(); }
  // Reads the column descriptions of ResultHandle into FieldInfos,
  // TableInfos, Databases and the key lists, adds the custom columns and
  // gives every column its key.
  void ReadColumns();
  // For back ends that send no original table names (FromDriver false):
  // takes each alias's table and database from the select's FROM clause.
  void ResolveTableNames(bool FromDriver);
  // Change notification of the SQL list: closes an open dataset.
  void SQLChange(TObject* Sender);

  // --- host hooks
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& Buffer) override;
  virtual void ClearRecordBuffer(TRecordBuffer& Buffer);
  // The buffer field access works on in the current state; false when none.
  virtual bool GetActiveRecBuf(TRecInfo*& RecBuf);
  TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
  uint16_t GetRecordSize() override { return static_cast<uint16_t>(record_size_ & 0xFFFF); }
  void InternalInitRecord(TRecordBuffer Buffer) override;
  void ClearCalcFields(TRecordBuffer Buffer) override;
  void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
  void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
  void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
  void InternalGotoBookmark(const void* Bookmark) override;
  void InternalSetToRecord(TRecordBuffer Buffer) override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() override { return rows_ != nullptr; }
  void InternalFirst() override { current_rec_ = -1; }
  void InternalLast() override;
  void InternalRefresh() override;
  void InternalHandleException() override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
  int GetRecNo() override;
  int GetRecordCount() override;
  bool GetCanModify() override { return !read_only_; }
  TFieldClass GetFieldClass(TFieldType FieldType) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // --- value literals of generated SQL (MySQLMacros.cpp)
  // The connection's escaping (the built-in rule without a server).
  std::string EscapeText(const std::string& S) const;
  // Whether a backslash escapes inside string literals of the connection's
  // session (false with NO_BACKSLASH_ESCAPES; true without a connection).
  // The macro pass and the "?" scanner read literals this way.
  bool BackslashEscapes() const;
  // A text as a quoted, escaped literal; a text holding a NUL byte as a
  // hexadecimal literal, which no escaping mode can cut or misread.
  std::string StringLiteral(const std::string& S) const;
  // Bytes as a binary literal: "''" when empty; _binary'...' escaped for
  // the session (NO_BACKSLASH_ESCAPES followed), or hexadecimal where the
  // connection's character set cannot carry arbitrary bytes in an escaped
  // literal (big5, cp932, gbk, gb18030, sjis) or is not known (no
  // connection).
  std::string BinaryLiteral(std::string_view Bytes) const;
  // A value of Field: BinaryLiteral for a binary blob field, "''" when
  // empty, else StringLiteral.
  std::string BlobOrStringLiteral(const TField* Field, const std::string& Text) const;
  // Column Column of the active record (Old: of the record as it was when
  // editing began, while that is kept): "NULL" for NULL, "''" for an empty
  // value, BinaryLiteral for a non-empty binary blob, else StringLiteral (memos
  // included: the server converts their character set back as it did when
  // they were read).
  std::string ColumnLiteral(int Column, bool Old);
  // The data field showing column Column; nullptr when none does.
  TField* FieldOfColumn(int Column) const;
  // The text of Field's value as this dataset's server reads it (raw text
  // for a field of a MySQL dataset; "." decimals and ISO dates otherwise);
  // false for NULL.
  static bool FieldValueText(TField* Field, std::string& Text);
  std::string MacroParamLiteral(TParam* Param) const;
  // Steps after the built-in names: a "$OLD$" prefix, a field of this
  // dataset, a field of the master dataset, a user macro; else empty.
  std::string ValueByName(std::string Name, const std::string& TableArg);
  // The built-in macro Name; false when Name is none.
  bool BuiltInMacro(const std::string& Name, const std::string& DatabaseArg,
                    const std::string& TableArg, std::string& Value);
  // The "(name=old value) AND ..." condition over a key list (empty list:
  // every column but the excluded types; AllTypes: no type excluded).
  std::string KeyCondition(const std::string& KeyList, bool AllTypes, const std::string& TableArg);
  // The name=value, name or value list of the columns whose Modified flag
  // equals Modified.
  std::string ModifiedList(bool Modified, int What, const std::string& TableArg);
  // Whether column Column belongs to TableArg (always, when it is empty).
  bool InTable(int Column, const std::string& TableArg) const;
  // The column's name in generated SQL: its field's Origin, else FullName.
  std::string ColumnSQLName(int Column) const;
  // The condition "$PRIMARYFIELDS&VALUES" stands for (see the editing
  // notes above ExecSQL); records a TRowCheck per table.
  std::string RowCondition(const std::string& TableArg);
  // "(name=value)" for a column's value held before the edit (the record's,
  // when no edit is under way), "(name IS NULL)" for NULL; FLOAT and DOUBLE
  // compared as the server's text, so the held text matches exactly.
  std::string ColumnMatch(int Column);
  // Records the check of a condition over Columns of one table.
  void AddRowCheck(const std::string& Table, const std::string& Condition,
                   const std::string& KeyCondition, bool Verified, const std::vector<int>& Columns);
  // See TTableInfo::KeyColumns; asked of the server on first use.
  const std::vector<int>& TableKeyColumns(TTableInfo* Table);
  // The table the dataset edits: the one TableName names, else the table of
  // the first column that has one; nullptr when the result has none.
  TTableInfo* EditTable() const;
  // Runs a statement and returns its rows; errors are raised.
  std::vector<std::vector<std::optional<std::string>>> QueryRows(const std::string& SQL);
  // Before a checked statement: each check without a complete key must
  // match exactly one row; after it: the rows it found.
  void CheckRowsBefore(const std::vector<TRowCheck>& Checks);
  void CheckRowsAfter(const std::vector<TRowCheck>& Checks, const std::string& Text,
                      const std::string& Info);
  [[noreturn]] void RaiseRecordChanged(const TRowCheck& Check);

  // The row of bookmark Index; nullptr when it is not held.
  TRowValues* GetIndexRecord(int64_t Index);
  static TRecInfo* RecInfo(TRecordBuffer Buffer) { return reinterpret_cast<TRecInfo*>(Buffer); }
  // FieldInfos index of a data field; -1 for calculated fields or none.
  int ColumnOf(TField* Field) const;
  // TableInfos and Databases hold one entry, so FullNames drop that part.
  void ShortenNames();
  // The database.table text of the table (quoted) for "show ... from".
  std::string Quote(const std::string& Name) const;

  // --- state (names as the statement, editing and thread code use them)
  TMySQLServer* server_ = nullptr;
  bool registered_ = false;  // with server_ (bound on the main thread)
  std::string database_name_;
  MySQLHandle connection_handle_ = nullptr;
  MySQLResultHandle result_handle_ = nullptr;
  // Holds the rows of the result (declared before rows_, which refers to it).
  TRowArena arena_;
  std::unique_ptr<TRowList> rows_;
  // Bookmark of rows_[0]: the rows a unidirectional result has let go.
  int64_t row_base_ = 0;
  TFieldInfoList field_infos_;
  TTableInfoList table_infos_;
  std::unique_ptr<TStringList> databases_;
  int64_t current_rec_ = -1;
  bool all_fetched_ = true;
  std::string statement_text_;
  std::string last_statement_;
  std::string primary_key_fields_;
  std::string unique_key_fields_;
  std::string index_key_fields_;
  std::string affected_rows_text_ = "0";
  std::string insert_id_text_ = "0";
  std::unique_ptr<TRecInfo> old_values_;
  TMySQLDatasetOptions options_ = kDefaultDatasetOptions;
  TMySQLResultOptions result_type_ = rtLocal;
  TCursor cursor_ = crSQLWait;
  bool read_only_ = false;
  bool in_transaction_ = false;
  // Set while a post or delete sends its generated statements: a change
  // that matches no row is then a lost edit.
  bool check_lost_edit_ = false;
  // The checks the macro expansion of the statement being run recorded.
  std::vector<TRowCheck> row_checks_;
  // The checks of held-back statements (by their SQLCached line), applied
  // with them by ApplyUpdates.
  std::vector<std::pair<std::string, std::vector<TRowCheck>>> held_checks_;
  // One run of ApplyUpdates over the held statements.
  void ApplyHeldOnce();
  // Whether the last run of ApplyHeldOnce opened a transaction of its own.
  bool apply_own_transaction_ = false;
  // Set by ApplyUpdates for the held statement it runs.
  std::vector<TRowCheck>* apply_checks_ = nullptr;
  // Counts the statements really sent (not held back or suppressed).
  uint64_t sent_count_ = 0;
  // Statement templates read once: every Post expands the same templates,
  // so the last few are kept with what reading them gave (the tokens of an
  // expansion, the macro names, the statements of a batch) and the markers
  // they were read with. Shared pointers, so that an entry replaced during
  // a nested expansion stays alive for the one using it.
  struct TTemplateToken {
    uint8_t Kind;  // a TTokenKind
    bool BlankAfter;
    std::string Text;
  };
  struct TReadTemplate {
    std::string Text, Start, End;
    bool BackslashEscapes = true;
    std::shared_ptr<const std::vector<TTemplateToken>> Tokens;
    std::shared_ptr<const std::vector<std::string>> MacroNames;
    std::shared_ptr<const std::vector<std::string>> Statements;
  };
  // The entry for Text read with Start/End and the session's backslash
  // rule; nullptr for a text too long to keep.
  TReadTemplate* ReadTemplate(const std::string& Text, const std::string& Start,
                              const std::string& End);
  std::vector<TReadTemplate> read_templates_;
  size_t next_read_template_ = 0;
  std::string field_name_;
  std::string table_name_;
  std::string macro_start_;
  std::string macro_end_;
  uint32_t record_size_ = 0;
  // The columns of the result; custom columns follow them in FieldInfos.
  int server_columns_ = 0;
  std::unique_ptr<TFieldDefs> custom_field_defs_;
  std::unique_ptr<TParams> macros_;
  std::unique_ptr<TStringList> master_field_pairs_;
  std::unique_ptr<TMasterDataLink> master_link_;
  std::unique_ptr<TStringList> sql_, sql_update_, sql_insert_, sql_delete_, sql_batch_, sql_cached_;

  // --- table auto-creation state (MySQLDatasetCreate.cpp)
  // Called by InternalInitFieldDefs before and after it replaces FieldDefs.
  void KeepCreationFieldDefs();
  void NoteDerivedFieldDefs();
  std::unique_ptr<TFieldDefs> creation_field_defs_;
  std::optional<std::string> derived_defs_signature_;
};

// ---------------------------------------------------------------------------
// TMySQLBlobStream: reads and writes one blob or memo field of the record
// buffer that was active when it was made.
//
// Flow: CreateBlobStream (or the constructor) -> Read / Write / Seek ->
// Flush (optional) -> destruction.
//
// Writes are held in the stream and committed to the record (SetBlobData)
// once, by Flush, at destruction or when the dataset posts the record
// (a stream still open at Post has its writes posted): the record's storage copies the whole
// row on every change, so committing each piece would make loading a large
// value quadratic. Reads through the same stream see its writes; another
// stream sees them once they are committed. A bmWrite stream empties the
// value (committed the same way). A commit marks the host field modified
// and sends the field-changed data event.
//
// Sound behaviour over the plain rules:
// - The destructor never throws: a failing commit goes to the
//   application's exception handler; call Flush to see it. A stream
//   destroyed while an exception unwinds (a load that failed midway)
//   commits nothing, so the value stays as it was.
// - A read at a negative position reads nothing; a write at a negative
//   position, or one that would take the value past 2 GiB, writes nothing
//   (returns 0, so WriteBuffer raises).
// - A commit finding the dataset no longer in edit or insert state on that
//   buffer (posted meanwhile and written again) raises "Dataset not in
//   edit or insert mode" instead of changing a record that is not edited.
//   Cancel drops the held writes; a closed or destroyed dataset leaves the
//   stream unopened.
//
// Errors at creation (error number -1): a write or read-write stream on a
// field not yet modified raises "Field is readonly" for a read-only field
// and "Dataset not in edit or insert mode" outside edit and insert. Without
// an active record buffer the stream stays unopened: reads give 0, writes
// do nothing. A stream is used on one thread, as its dataset is.
class TMySQLBlobStream : public TStream {
 public:
  // A stream over the value of Field (a blob or memo field of a
  // TMySQLDatasetBase), for reading or writing as Mode says.
  TMySQLBlobStream(TField* Field, TBlobStreamMode Mode);
  // Commits held writes (see above); never throws.
  ~TMySQLBlobStream() override;
  // Not copyable.
  TMySQLBlobStream(const TMySQLBlobStream&) = delete;
  // Not copyable.
  TMySQLBlobStream& operator=(const TMySQLBlobStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  // Writes Count bytes at the position (the value grows as needed); the
  // count written, 0 when the stream cannot write.
  int64_t Write(const void* Buffer, int64_t Count) override;
  // No clamping: the position may lie before the start or past the end.
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  void Flush() override;
  // Empties the value (a bmWrite stream does this when made).
  void Truncate();
  // Forgets writes not yet committed.
  void Discard();
  // Whether writes are held, not yet committed.
  bool Pending() const { return notify_; }

  // Whether the stream has a value to work on.
  bool Opened() const { return opened_; }
  // Whether it wrote to the value.
  bool Modified() const { return modified_; }
  // Works on the active record buffer (else on the record at the
  // dataset's record number, read only).
  bool Cached() const { return cached_; }

 private:
  // The value as this stream sees it.
  std::string_view Value();
  // The writable copy of the value, made on the first write.
  std::string& PendingValue();
  // The dataset closed or went away: the stream reads and writes nothing.
  void Detach();
  friend class TMySQLDatasetBase;

  TField* field_;
  TMySQLDatasetBase* dataset_;
  TRecordBuffer buffer_ = nullptr;
  TBlobStreamMode mode_;
  bool opened_ = false;
  bool modified_ = false;
  int64_t position_ = 0;
  bool cached_ = false;
  // Writes not yet committed, and whether the field-changed event is due.
  std::optional<std::string> pending_;
  bool notify_ = false;
  int uncaught_ = 0;
};

// The published classes.

// The members every published class publishes from TMySQLDatasetBase:
// CachedUpdates, Options, ReadOnly and TableName with their setters and the
// events OnExecSQL, OnMacro, OnDefaultValue, OnThreadOpened and
// OnThreadPosted. Undefined again after the three classes below.
#define ROWSET_PUBLISH_COMMON_                                                        \
  using TMySQLDatasetBase::CachedUpdates;                                             \
  using TMySQLDatasetBase::SetCachedUpdates;                                          \
  using TMySQLDatasetBase::Options;                                                   \
  using TMySQLDatasetBase::SetOptions;                                                \
  using TMySQLDatasetBase::ReadOnly;                                                  \
  using TMySQLDatasetBase::SetReadOnly;                                               \
  using TMySQLDatasetBase::TableName;                                                 \
  using TMySQLDatasetBase::SetTableName;                                              \
  using TMySQLDatasetBase::OnExecSQL;                                                 \
  using TMySQLDatasetBase::OnMacro;                                                   \
  using TMySQLDatasetBase::OnDefaultValue;                                            \
  using TMySQLDatasetBase::OnThreadOpened;                                            \
  using TMySQLDatasetBase::OnThreadPosted

// The dataset with every property published: SQL text with macros, cursor,
// result type, connection sharing and the statement templates.
class TMySQLDataset : public TMySQLDatasetBase {
 public:
  // Closed, with the default options kDefaultDatasetOptions.
  explicit TMySQLDataset(TComponent* AOwner = nullptr) : TMySQLDatasetBase(AOwner) {}
  ROWSET_PUBLISH_COMMON_;
  using TMySQLDatasetBase::Cursor;
  using TMySQLDatasetBase::SetCursor;
  using TMySQLDatasetBase::CustomFieldDefs;
  using TMySQLDatasetBase::FieldName;
  using TMySQLDatasetBase::SetFieldName;
  using TMySQLDatasetBase::MacroDel;
  using TMySQLDatasetBase::SetMacroDel;
  using TMySQLDatasetBase::Macros;
  using TMySQLDatasetBase::ParamCheck;
  using TMySQLDatasetBase::SetParamCheck;
  using TMySQLDatasetBase::RawData;
  using TMySQLDatasetBase::SetRawData;
  using TMySQLDatasetBase::ResultType;
  using TMySQLDatasetBase::SetResultType;
  using TMySQLDatasetBase::ShareConnection;
  using TMySQLDatasetBase::SetShareConnection;
  using TMySQLDatasetBase::SQLUpdate;
  using TMySQLDatasetBase::SQLInsert;
  using TMySQLDatasetBase::SQLDelete;
  using TMySQLDatasetBase::SQLBatch;
  using TMySQLDatasetBase::SQLCached;
  using TMySQLDatasetBase::UseCursor;
  using TMySQLDatasetBase::SetUseCursor;
  using TMySQLDatasetBase::OnCustomValue;
};

// A query: its SQL text with parameters (the macros under their query
// names) and a master source for a detail query.
class TMySQLQuery : public TMySQLDatasetBase {
 public:
  // Closed, with the default options kDefaultDatasetOptions.
  explicit TMySQLQuery(TComponent* AOwner = nullptr) : TMySQLDatasetBase(AOwner) {}
  ROWSET_PUBLISH_COMMON_;
  // MacroDel: the parameter delimiters as "start,end"; default "[,]".
  std::string ParamDelimiters() const { return MacroDel(); }
  // SetMacroDel.
  void SetParamDelimiters(const std::string& Value) { SetMacroDel(Value); }
  // Macros: the parameters of the query's text.
  TParams* Params() const { return Macros(); }
  using TMySQLDatasetBase::ParamCheck;
  using TMySQLDatasetBase::SetParamCheck;
  using TMySQLDatasetBase::ResultType;
  using TMySQLDatasetBase::SetResultType;
  using TMySQLDatasetBase::SQLUpdate;
  using TMySQLDatasetBase::SQLInsert;
  using TMySQLDatasetBase::SQLDelete;
  // MasterSource: the source of the master of a detail query.
  TDataSource* DataSource() const { return MasterSource(); }
  // SetMasterSource.
  void SetDataSource(TDataSource* Value) { SetMasterSource(Value); }
};

// One table by name: it publishes no SQL texts and works with the default
// statement templates built around TableName; by default it also learns the
// table's column values and indexes.
class TMySQLTable : public TMySQLDatasetBase {
 public:
  // The default options also learn column values and indexes.
  explicit TMySQLTable(TComponent* AOwner = nullptr);
  ROWSET_PUBLISH_COMMON_;
  // FieldName: the key columns the application names for the table.
  const std::string& IndexFieldNames() const { return FieldName(); }
  // SetFieldName.
  void SetIndexFieldNames(const std::string& Value) { SetFieldName(Value); }
};

#undef ROWSET_PUBLISH_COMMON_

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLDATASET_H_
