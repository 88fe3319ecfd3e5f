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

namespace {
constexpr size_t kOwnPages = size_t{1} << 20;  // lists this large get pages of their own
}  // namespace

void* row_list::Allocate(size_t Bytes) {
  if (Bytes < kOwnPages) return ::operator new(Bytes);
  void* p = ::mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}

void row_list::Free(void* P, size_t Bytes) noexcept {
  if (P == nullptr) return;
  if (Bytes < kOwnPages)
    ::operator delete(P);
  else
    ::munmap(P, Bytes);
}

void TRowArena::FreeChunk::operator()(char* P) const { std::free(P); }

char* TRowArena::Allocate(size_t Size, size_t Align) {
  // Chunks start 8-byte aligned; the padding that puts this piece on Align.
  size_t pad = static_cast<size_t>(-reinterpret_cast<uintptr_t>(at_)) & (Align - 1);
  if (Size + pad > left_) {
    pad = 0;
    size_t wanted = std::max(next_chunk_, kFirstChunk);
    next_chunk_ = std::min(wanted * 2, kHugePage);
    size_t size = std::max(wanted, Size);
    char* chunk = nullptr;
    if (size >= kHugePage) {
      size = (size + kHugePage - 1) / kHugePage * kHugePage;
      chunk = static_cast<char*>(std::aligned_alloc(kHugePage, size));
    } else {
      size = (size + 7u) & ~size_t{7};
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
  char* p = at_ + pad;
  at_ += pad + Size;
  left_ -= pad + Size;
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
  uint32_t head;
  std::memcpy(&head, P, sizeof head);
  if (!(head & kBorrowed)) std::free(P - kPrefix);
}

TRowValues::Block TRowValues::NewBlock(size_t Size) {
  char* p = static_cast<char*>(std::malloc(kPrefix + Size));
  if (p == nullptr) throw std::bad_alloc();
  uint64_t capacity = Size;
  std::memcpy(p, &capacity, sizeof capacity);
  // A head word that frees the block, should the caller fail before filling it.
  uint32_t head = 0;
  std::memcpy(p + kPrefix, &head, sizeof head);
  return Block(p + kPrefix);
}

size_t TRowValues::Capacity() const {
  if (Head() & kBorrowed) return 0;
  uint64_t capacity;
  std::memcpy(&capacity, block_.get() - kPrefix, sizeof capacity);
  return static_cast<size_t>(capacity);
}

template <typename GetValue>
void TRowValues::Fill(char* Block, uint32_t Count, uint64_t Bytes, bool Borrowed, GetValue Value) {
  uint32_t width = WidthFor(Bytes);
  uint32_t head = Count | (width << kWidthShift) | (Borrowed ? kBorrowed : 0u);
  std::memcpy(Block, &head, sizeof head);
  char* ends = Block + 4;
  uint8_t* nulls = reinterpret_cast<uint8_t*>(ends + (size_t{Count} << width));
  std::memset(nulls, 0, (Count + 7u) / 8u);
  char* data = Block + DataStart(Count, width);
  uint32_t at = 0;
  for (uint32_t i = 0; i < Count; ++i) {
    std::optional<std::string_view> v = Value(i);
    if (!v) {
      nulls[i / 8] = static_cast<uint8_t>(nulls[i / 8] | (1u << (i % 8)));
    } else if (!v->empty()) {
      std::memcpy(data + at, v->data(), v->size());
      at += static_cast<uint32_t>(v->size());
    }
    switch (width) {
      case 0:
        ends[i] = static_cast<char>(at);
        break;
      case 1: {
        uint16_t e = static_cast<uint16_t>(at);
        std::memcpy(ends + 2 * i, &e, 2);
        break;
      }
      default:
        std::memcpy(ends + 4 * i, &at, 4);
        break;
    }
  }
}

TRowValues::TRowValues(int Columns) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  if (count > kCountMask) RowTooLarge();
  block_ = NewBlock(DataStart(count, 0));
  Fill(block_.get(), count, 0, false, [](uint32_t) { return std::optional<std::string_view>(); });
}

TRowValues TRowValues::FromRow(int Columns, const char* const* Values, const unsigned long* Lengths,
                               TRowArena* Arena) {
  uint32_t count = static_cast<uint32_t>(std::max(Columns, 0));
  if (count > kCountMask) RowTooLarge();
  uint64_t bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (Values[i] != nullptr) bytes += Lengths[i];
  }
  uint64_t size = DataStart(count, WidthFor(bytes)) + bytes;
  if (bytes >= kBorrowed || size >= kBorrowed) RowTooLarge();
  TRowValues row;
  if (Arena != nullptr) {
    row.block_ = Block(Arena->Allocate(static_cast<size_t>(size), 1));
    // Marked borrowed at once, so that a failure never frees arena memory.
    std::memcpy(row.block_.get(), &kBorrowed, sizeof kBorrowed);
  } else {
    row.block_ = NewBlock(static_cast<size_t>(size));
  }
  Fill(row.block_.get(), count, bytes, Arena != nullptr, [&](uint32_t i) {
    return Values[i] == nullptr ? std::optional<std::string_view>()
                                : std::optional<std::string_view>(std::in_place, Values[i], Lengths[i]);
  });
  return row;
}

uint32_t TRowValues::End(int Index) const {
  if (Index < 0) return 0;
  const char* ends = block_.get() + 4;
  switch (Width()) {
    case 0:
      return static_cast<uint8_t>(ends[Index]);
    case 1: {
      uint16_t e;
      std::memcpy(&e, ends + 2 * static_cast<size_t>(Index), 2);
      return e;
    }
    default: {
      uint32_t e;
      std::memcpy(&e, ends + 4 * static_cast<size_t>(Index), 4);
      return e;
    }
  }
}

size_t TRowValues::UsedSize() const {
  int count = Count();
  return DataStart(static_cast<uint32_t>(count), Width()) + End(count - 1);
}

size_t TRowValues::AllocatedSize() const {
  if (!block_) return 0;
  return (Head() & kBorrowed) ? UsedSize() : Capacity();
}

TRowValues::TRowValues(const TRowValues& Other) {
  if (!Other.block_) return;
  size_t size = Other.UsedSize();
  block_ = NewBlock(size);
  std::memcpy(block_.get(), Other.block_.get(), size);
  uint32_t head = Other.Head() & ~kBorrowed;
  std::memcpy(block_.get(), &head, sizeof head);
}

TRowValues& TRowValues::operator=(const TRowValues& Other) {
  if (this == &Other) return *this;
  if (!Other.block_) {
    block_.reset();
    return *this;
  }
  size_t size = Other.UsedSize();
  if (block_ && !(Head() & kBorrowed) && Capacity() >= size) {
    std::memcpy(block_.get(), Other.block_.get(), size);
    uint32_t head = Other.Head() & ~kBorrowed;
    std::memcpy(block_.get(), &head, sizeof head);
    return *this;
  }
  TRowValues copy(Other);
  block_ = std::move(copy.block_);
  return *this;
}

bool TRowValues::IsNull(int Index) const {
  if (Index < 0 || Index >= Count()) return true;
  return BitSet(nulls(), static_cast<uint32_t>(Index));
}

std::string_view TRowValues::Value(int Index) const {
  std::optional<std::string_view> v = Get(Index);
  return v ? *v : std::string_view();
}

void TRowValues::Set(int Index, std::optional<std::string_view> NewValue) {
  if (Index < 0 || Index >= Count()) return;
  uint32_t count = static_cast<uint32_t>(Count());
  uint64_t old_len = Value(Index).size();
  uint64_t new_len = NewValue ? NewValue->size() : 0;
  uint64_t bytes = End(static_cast<int>(count) - 1) - old_len + new_len;
  uint64_t size = DataStart(count, WidthFor(bytes)) + bytes;
  if (bytes >= kBorrowed || size >= kBorrowed) RowTooLarge();
  // Build the new block completely before giving up the old one.
  Block block = NewBlock(static_cast<size_t>(size));
  Fill(block.get(), count, bytes, false, [&](uint32_t i) {
    return static_cast<int>(i) == Index ? NewValue : Get(static_cast<int>(i));
  });
  block_ = std::move(block);
}

void TRowValues::ClearValues() {
  if (!block_) return;
  uint32_t head = Head();
  uint32_t count = head & kCountMask;
  std::memset(block_.get() + 4, 0, size_t{count} << ((head >> kWidthShift) & 3u));
  std::memset(block_.get() + 4 + (size_t{count} << ((head >> kWidthShift) & 3u)), 0xFF, (count + 7u) / 8u);
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
