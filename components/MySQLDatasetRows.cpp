// Row storage of the datasets: one allocation per row, the column lists.
#include <algorithm>
#include <cstring>
#include <limits>

#include "components/MySQLDataset.h"
#include "host/SysUtils.h"

namespace rowset {

namespace {

[[noreturn]] void RowTooLarge() {
  MySQLError(nullptr, nullptr, -1, "Row is too large to be held", -1, -1);
}

bool BitSet(const uint8_t* Bits, uint32_t Index) { return (Bits[Index / 8] >> (Index % 8)) & 1u; }

}  // namespace

TRowValues::TRowValues(int Columns) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  size_t size = DataStart(count);
  block_ = std::make_unique_for_overwrite<char[]>(size);
  header()->count = count;
  header()->capacity = static_cast<uint32_t>(size);
  std::memset(block_.get() + sizeof(Header), 0, 4u * count);
  std::memset(nulls(), 0xFF, (count + 7u) / 8u);
}

TRowValues TRowValues::FromRow(int Columns, const char* const* Values, const unsigned long* Lengths) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (Values[i] != nullptr) bytes += Lengths[i];
  }
  uint64_t size = DataStart(count) + bytes;
  if (size > std::numeric_limits<uint32_t>::max()) RowTooLarge();
  TRowValues row;
  row.block_ = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
  row.header()->count = count;
  row.header()->capacity = static_cast<uint32_t>(size);
  uint32_t* ends = row.ends();
  uint8_t* nulls = row.nulls();
  std::memset(nulls, 0, (count + 7u) / 8u);
  char* data = row.data();
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (Values[i] == nullptr) {
      nulls[i / 8] = static_cast<uint8_t>(nulls[i / 8] | (1u << (i % 8)));
    } else if (Lengths[i] != 0) {
      std::memcpy(data + at, Values[i], Lengths[i]);
      at += static_cast<uint32_t>(Lengths[i]);
    }
    ends[i] = at;
  }
  return row;
}

size_t TRowValues::UsedSize() const {
  uint32_t count = header()->count;
  return DataStart(count) + (count ? ends()[count - 1] : 0);
}

size_t TRowValues::AllocatedSize() const { return block_ ? header()->capacity : 0; }

TRowValues::TRowValues(const TRowValues& Other) {
  if (!Other.block_) return;
  size_t size = Other.UsedSize();
  block_ = std::make_unique_for_overwrite<char[]>(size);
  std::memcpy(block_.get(), Other.block_.get(), size);
  header()->capacity = static_cast<uint32_t>(size);
}

TRowValues& TRowValues::operator=(const TRowValues& Other) {
  if (this == &Other) return *this;
  if (!Other.block_) {
    block_.reset();
    return *this;
  }
  size_t size = Other.UsedSize();
  if (block_ && header()->capacity >= size) {
    uint32_t capacity = header()->capacity;
    std::memcpy(block_.get(), Other.block_.get(), size);
    header()->capacity = capacity;
    return *this;
  }
  TRowValues copy(Other);
  block_ = std::move(copy.block_);
  return *this;
}

int TRowValues::Count() const { return block_ ? static_cast<int>(header()->count) : 0; }

bool TRowValues::IsNull(int Index) const {
  if (Index < 0 || Index >= Count()) return true;
  return BitSet(nulls(), static_cast<uint32_t>(Index));
}

std::string_view TRowValues::Value(int Index) const {
  if (IsNull(Index)) return {};
  const uint32_t* e = ends();
  uint32_t start = Index == 0 ? 0 : e[Index - 1];
  return std::string_view(data() + start, e[Index] - start);
}

std::optional<std::string_view> TRowValues::Get(int Index) const {
  if (IsNull(Index)) return std::nullopt;
  return Value(Index);
}

void TRowValues::Set(int Index, std::optional<std::string_view> NewValue) {
  if (Index < 0 || Index >= Count()) return;
  uint32_t count = header()->count;
  const uint32_t* e = ends();
  uint32_t start = Index == 0 ? 0 : e[Index - 1];
  uint32_t old_len = e[Index] - start;
  uint64_t new_len = NewValue ? NewValue->size() : 0;
  uint64_t total = (count ? e[count - 1] : 0);
  uint64_t size = DataStart(count) + total - old_len + new_len;
  if (size > std::numeric_limits<uint32_t>::max()) RowTooLarge();
  // Build the new block completely before giving up the old one.
  auto block = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
  size_t head = DataStart(count);
  std::memcpy(block.get(), block_.get(), head);
  char* src = data();
  char* dst = block.get() + head;
  std::memcpy(dst, src, start);
  if (new_len) std::memcpy(dst + start, NewValue->data(), new_len);
  std::memcpy(dst + start + new_len, src + start + old_len, total - start - old_len);
  block_ = std::move(block);
  header()->capacity = static_cast<uint32_t>(size);
  uint32_t* ne = ends();
  int64_t delta = static_cast<int64_t>(new_len) - static_cast<int64_t>(old_len);
  for (uint32_t i = static_cast<uint32_t>(Index); i < count; ++i) {
    ne[i] = static_cast<uint32_t>(static_cast<int64_t>(ne[i]) + delta);
  }
  uint8_t* n = nulls();
  uint8_t bit = static_cast<uint8_t>(1u << (Index % 8));
  if (NewValue) {
    n[Index / 8] = static_cast<uint8_t>(n[Index / 8] & ~bit);
  } else {
    n[Index / 8] = static_cast<uint8_t>(n[Index / 8] | bit);
  }
}

void TRowValues::ClearValues() {
  if (!block_) return;
  uint32_t count = header()->count;
  std::memset(block_.get() + sizeof(Header), 0, 4u * count);
  std::memset(nulls(), 0xFF, (count + 7u) / 8u);
}

// ---------------------------------------------------------------------------

int TFieldInfoList::IndexOf(const std::string& Key) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i].key, Key)) return static_cast<int>(i);
  }
  return -1;
}

TFieldInfo* TFieldInfoList::Find(const std::string& Key) const {
  int i = IndexOf(Key);
  return i < 0 ? nullptr : Info(i);
}

int TFieldInfoList::Add(const std::string& Key, std::unique_ptr<TFieldInfo> Info) {
  items_.push_back(Item{Key, std::move(Info)});
  return Count() - 1;
}

TTableInfo* TTableInfoList::Find(const std::string& Alias) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), Alias,
                             [](const std::unique_ptr<TTableInfo>& a, const std::string& b) {
                               return CompareText(a->Table, b) < 0;
                             });
  if (it != items_.end() && CompareText((*it)->Table, Alias) == 0) return it->get();
  return nullptr;
}

TTableInfo* TTableInfoList::Obtain(const std::string& Alias) {
  auto it = std::lower_bound(items_.begin(), items_.end(), Alias,
                             [](const std::unique_ptr<TTableInfo>& a, const std::string& b) {
                               return CompareText(a->Table, b) < 0;
                             });
  if (it != items_.end() && CompareText((*it)->Table, Alias) == 0) return it->get();
  auto info = std::make_unique<TTableInfo>();
  info->Table = Alias;
  return items_.insert(it, std::move(info))->get();
}

}  // namespace rowset
