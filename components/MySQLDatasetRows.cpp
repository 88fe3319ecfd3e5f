// Row storage of the datasets: one allocation per row, the column lists.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <limits>

#include "components/MySQLDataset.h"
#include "host/SysUtils.h"

namespace rowset {

namespace {

[[noreturn]] void RowTooLarge() {
  MySQLError(nullptr, nullptr, -1, "Row is too large to be held", -1, -1);
}

// Chunks start small (a one-row result costs 16 KiB, not a huge page) and
// double up to a huge page; only chunks of that size ask for huge pages.
constexpr size_t kFirstChunk = size_t{16} << 10;
constexpr size_t kHugePage = size_t{2} << 20;

bool BitSet(const uint8_t* Bits, uint32_t Index) { return (Bits[Index / 8] >> (Index % 8)) & 1u; }

}  // namespace

// ---------------------------------------------------------------------------

void TRowArena::FreeChunk::operator()(char* P) const { std::free(P); }

char* TRowArena::Allocate(size_t Size) {
  Size = (Size + 7u) & ~size_t{7};
  if (Size > left_) {
    size_t wanted = std::max(next_chunk_, kFirstChunk);
    next_chunk_ = std::min(wanted * 2, kHugePage);
    size_t size = std::max(wanted, Size);
    char* chunk = nullptr;
    if (size >= kHugePage) {
      size = (size + kHugePage - 1) / kHugePage * kHugePage;
      chunk = static_cast<char*>(std::aligned_alloc(kHugePage, size));
    } else {
      chunk = static_cast<char*>(std::malloc(size));
    }
    if (chunk == nullptr) throw std::bad_alloc();
    chunks_.emplace_back(chunk);
    // Fewer page faults for the large, densely used area.
    if (size >= kHugePage) madvise(chunk, size, MADV_HUGEPAGE);
    at_ = chunk;
    left_ = size;
    allocated_ += size;
  }
  char* p = at_;
  at_ += Size;
  left_ -= Size;
  return p;
}

void TRowArena::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  at_ = nullptr;
  left_ = 0;
  allocated_ = 0;
  next_chunk_ = 0;
}

// ---------------------------------------------------------------------------

void TRowValues::FreeBlock::operator()(char* P) const {
  if (!(reinterpret_cast<Header*>(P)->capacity & kBorrowed)) std::free(P);
}

TRowValues::Block TRowValues::NewBlock(size_t Size) {
  char* p = static_cast<char*>(std::malloc(Size));
  if (p == nullptr) throw std::bad_alloc();
  reinterpret_cast<Header*>(p)->capacity = static_cast<uint32_t>(Size);
  return Block(p);
}

TRowValues::TRowValues(int Columns) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  size_t size = DataStart(count);
  block_ = NewBlock(size);
  header()->count = count;
  std::memset(block_.get() + sizeof(Header), 0, 4u * count);
  std::memset(nulls(), 0xFF, (count + 7u) / 8u);
}

TRowValues TRowValues::FromRow(int Columns, const char* const* Values, const unsigned long* Lengths,
                               TRowArena* Arena) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (Values[i] != nullptr) bytes += Lengths[i];
  }
  uint64_t size = DataStart(count) + bytes;
  if (size >= kBorrowed) RowTooLarge();
  TRowValues row;
  if (Arena != nullptr) {
    row.block_ = Block(Arena->Allocate(static_cast<size_t>(size)));
    row.header()->capacity = static_cast<uint32_t>(size) | kBorrowed;
  } else {
    row.block_ = NewBlock(static_cast<size_t>(size));
  }
  row.header()->count = count;
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

size_t TRowValues::AllocatedSize() const { return block_ ? header()->capacity & ~kBorrowed : 0; }

TRowValues::TRowValues(const TRowValues& Other) {
  if (!Other.block_) return;
  size_t size = Other.UsedSize();
  block_ = NewBlock(size);
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
  if (block_ && (header()->capacity & ~kBorrowed) >= size) {
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
  if (block_ == nullptr || Index < 0 || static_cast<uint32_t>(Index) >= header()->count ||
      BitSet(nulls(), static_cast<uint32_t>(Index)))
    return std::nullopt;
  const uint32_t* e = ends();
  uint32_t start = Index == 0 ? 0 : e[Index - 1];
  return std::string_view(data() + start, e[Index] - start);
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
  if (size >= kBorrowed) RowTooLarge();
  // Build the new block completely before giving up the old one.
  Block block = NewBlock(static_cast<size_t>(size));
  size_t head = DataStart(count);
  std::memcpy(block.get() + sizeof(Header), block_.get() + sizeof(Header), head - sizeof(Header));
  char* src = data();
  char* dst = block.get() + head;
  std::memcpy(dst, src, start);
  if (new_len) std::memcpy(dst + start, NewValue->data(), new_len);
  std::memcpy(dst + start + new_len, src + start + old_len, total - start - old_len);
  reinterpret_cast<Header*>(block.get())->count = count;
  block_ = std::move(block);
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
