#include "host/Classes.h"
#include "host/SysUtils.h"

#include <cxxabi.h>

#include <algorithm>
#include <unordered_set>
#include <cstdlib>
#include <cstring>
#include <new>
#include <typeinfo>

namespace rowset {

namespace {

int CompareBytes(const std::string& a, const std::string& b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsIdent(const std::string& s) {
  if (s.empty()) return false;
  auto alpha = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  };
  if (!alpha(static_cast<unsigned char>(s[0]))) return false;
  for (unsigned char c : s)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

}  // namespace

// ----------------------------------------------------------------------------
// TObject / TPersistent

std::string TObject::ClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : mangled;
  std::free(demangled);
  size_t colon = name.rfind("::");
  if (colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

void TPersistent::Assign(TPersistent* Source) {
  if (Source != nullptr)
    Source->AssignTo(this);
  else
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
  std::string source_name = Source ? Source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + source_name + " to a " + ClassName());
}

// ----------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell everyone linked to us; each call unlinks that partner.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    RemoveNotify(other->free_notifies_, this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return components_[Index];
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  auto& v = owner_->components_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : components_)
    if (CompareText(c->name_, AName) == 0) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  // Refuse a clashing name before the component leaves its present owner,
  // so that a refusal leaves it owned (and freed) as before.
  ValidateRename(AComponent, "", AComponent->name_);
  if (AComponent->owner_ != nullptr) AComponent->owner_->RemoveComponent(AComponent);
  components_.push_back(AComponent);
  AComponent->owner_ = this;
  if (state_.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->owner_ != this) return;
  Notification(AComponent, opRemove);
  // Usually the last one (components go away last first).
  auto it = std::find(components_.rbegin(), components_.rend(), AComponent);
  if (it != components_.rend()) components_.erase(std::next(it).base());
  ++removals_;
  AComponent->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    // Take it out first so that its destructor does not look for us.
    components_.pop_back();
    ++removals_;
    c->owner_ = nullptr;
    Notification(c, opRemove);
    delete c;
  }
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::AddNotify(std::vector<TComponent*>& list, TComponent* c) {
  if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
}

void TComponent::RemoveNotify(std::vector<TComponent*>& list, TComponent* c) {
  auto it = std::find(list.begin(), list.end(), c);
  if (it != list.end()) list.erase(it);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  AddNotify(free_notifies_, AComponent);
  AddNotify(AComponent->free_notifies_, this);
  state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  RemoveNotify(free_notifies_, AComponent);
  RemoveNotify(AComponent->free_notifies_, this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // Siblings hear about each other through their owner. Iterate over a copy:
  // a handler may free components. Only after a handler has taken one away
  // is each next one looked up again (the rule that keeps this linear).
  if (components_.empty()) return;
  std::vector<TComponent*> children = components_;
  const uint64_t removals = removals_;
  for (TComponent* c : children) {
    if (c == AComponent) continue;
    if (removals_ != removals && std::find(components_.begin(), components_.end(), c) == components_.end())
      continue;
    c->Notification(AComponent, Operation);
  }
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
  if (AComponent == nullptr || NewName.empty()) return;
  if (CompareText(CurName, NewName) == 0 && !CurName.empty()) return;
  TComponent* existing = FindComponent(NewName);
  if (existing != nullptr && existing != AComponent)
    throw EComponentError("A component named " + NewName + " already exists");
}

void TComponent::SetName(const std::string& NewName) {
  if (NewName == name_) return;
  if (!NewName.empty() && !IsIdent(NewName))
    throw EComponentError("'" + NewName + "' is not a valid component name");
  if (owner_ != nullptr) owner_->ValidateRename(this, name_, NewName);
  name_ = NewName;
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  SetComponentStateItem(csDesigning, Value);
  if (SetChildren)
    for (TComponent* c : components_) c->SetDesigning(Value, true);
}

void TComponent::SetComponentStateItem(TComponentStateItem Item, bool On) {
  if (On)
    state_.Include(Item);
  else
    state_.Exclude(Item);
}

void TComponent::CollectLoading(std::vector<TComponent*>& out) {
  out.push_back(this);
  for (TComponent* c : components_) c->CollectLoading(out);
}

void TComponent::BeginLoading() {
  std::vector<TComponent*> all;
  CollectLoading(all);
  for (TComponent* c : all) {
    c->state_.Include(csLoading);
    c->state_.Include(csReading);
  }
}

void TComponent::EndLoading() {
  std::vector<TComponent*> all;
  CollectLoading(all);
  for (TComponent* c : all) c->state_.Exclude(csReading);
  std::exception_ptr first;
  for (TComponent* c : all) {
    if (!c->state_.Contains(csLoading)) continue;
    try {
      c->Loaded();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    c->state_.Exclude(csLoading);
  }
  if (first) std::rethrow_exception(first);
}

void TComponent::Loaded() { state_.Exclude(csLoading); }

void DatabaseError(const std::string& Message, TComponent* Component) {
  if (Component != nullptr && !Component->Name().empty())
    throw EDatabaseError(Component->Name() + ": " + Message);
  throw EDatabaseError(Message);
}

// ----------------------------------------------------------------------------
// TReader / TWriter

std::vector<std::string> TReader::ReadProperties(TPersistent* Instance) {
  used_.assign(values_.size(), false);
  if (Instance != nullptr) Instance->DefineProperties(this);
  std::vector<std::string> unknown;
  for (size_t i = 0; i < values_.size(); ++i)
    if (!used_[i]) unknown.push_back(values_[i].first);
  return unknown;
}

void TReader::DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc&,
                             bool) {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (used_[i] || CompareText(values_[i].first, Name) != 0) continue;
    used_[i] = true;
    current_ = values_[i].second;
    if (ReadData) ReadData(*this);
    current_ = Variant();
  }
}

bool TReader::ReadBoolean() {
  if (current_.VarType() != varBoolean) throw EReadError("Invalid property value");
  return current_.AsBoolean();
}

int32_t TReader::ReadInteger() {
  if (!current_.IsNumeric() || current_.VarType() == varDouble || current_.VarType() == varCurrency)
    throw EReadError("Invalid property value");
  try {
    return current_.AsInteger();
  } catch (const Exception&) {
    throw EReadError("Invalid property value");
  }
}

double TReader::ReadFloat() {
  if (!current_.IsNumeric() && current_.VarType() != varDate) throw EReadError("Invalid property value");
  return current_.AsFloat();
}

std::string TReader::ReadString() {
  if (!current_.IsString()) throw EReadError("Invalid property value");
  return current_.AsString();
}

TStoredValues TWriter::WriteProperties(TPersistent* Instance) {
  out_.clear();
  if (Instance != nullptr) Instance->DefineProperties(this);
  return std::move(out_);
}

void TWriter::DefineProperty(const std::string& Name, const TReaderProc&, const TWriterProc& WriteData,
                             bool HasData) {
  if (!HasData || !WriteData) return;
  name_ = Name;
  WriteData(*this);
  name_.clear();
}

void TWriter::Put(const Variant& Value) {
  if (name_.empty()) throw EWriteError("Value written outside a defined property");
  out_.emplace_back(name_, Value);
}

// ----------------------------------------------------------------------------
// TStrings

void TStrings::Error(const std::string& Msg, int Data) const {
  throw EStringListError(Msg + " (" + std::to_string(Data) + ")");
}

void TStrings::Put(int Index, const std::string& S) {
  TObject* obj = GetObject(Index);
  BeginUpdate();
  try {
    Delete(Index);
    InsertObject(Index, S, obj);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TObject* TStrings::GetObject(int) const { return nullptr; }
void TStrings::PutObject(int, TObject*) {}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

int TStrings::Add(const std::string& S) {
  int n = Count();
  Insert(n, S);
  return n;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
  int n = Add(S);
  PutObject(n, AObject);
  return n;
}

void TStrings::AddStrings(const TStrings& Strings) {
  // Copy first: Strings may be this list.
  std::vector<std::pair<std::string, TObject*>> lines;
  for (int i = 0; i < Strings.Count(); ++i) lines.emplace_back(Strings.Get(i), Strings.GetObject(i));
  BeginUpdate();
  try {
    for (auto& l : lines) AddObject(l.first, l.second);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Exchange(int Index1, int Index2) {
  BeginUpdate();
  try {
    std::string s1 = Get(Index1), s2 = Get(Index2);
    TObject* o1 = GetObject(Index1);
    TObject* o2 = GetObject(Index2);
    Put(Index1, s2);
    PutObject(Index1, o2);
    Put(Index2, s1);
    PutObject(Index2, o1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  BeginUpdate();
  try {
    std::string s = Get(CurIndex);
    TObject* o = GetObject(CurIndex);
    if (NewIndex < 0 || NewIndex >= Count()) Error("List index out of bounds", NewIndex);
    Delete(CurIndex);
    InsertObject(NewIndex, s, o);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const {
  return CompareText(S1, S2);
}

int TStrings::IndexOf(const std::string& S) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), S) == 0) return i;
  return -1;
}

int TStrings::IndexOfName(const std::string& Name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    size_t p = s.find(name_value_separator_);
    if (p != std::string::npos && CompareStrings(s.substr(0, p), Name) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == AObject) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    r += Get(i);
    r += "\r\n";
  }
  return r;
}

void TStrings::SetText(const std::string& Value) {
  Lines lines;
  size_t i = 0, n = Value.size();
  while (i < n) {
    size_t start = i;
    while (i < n && Value[i] != '\r' && Value[i] != '\n') ++i;
    lines.emplace_back(Value.substr(start, i - start), nullptr);
    if (i < n && Value[i] == '\r') ++i;
    if (i < n && Value[i] == '\n') ++i;
  }
  ReplaceLines(std::move(lines));
}

void TStrings::ReplaceLines(Lines NewLines) {
  Lines old;
  for (int i = 0; i < Count(); ++i) old.emplace_back(Get(i), GetObject(i));
  BeginUpdate();
  try {
    Clear();
    for (auto& l : NewLines) AddObject(l.first, l.second);
  } catch (...) {
    // Put the old lines back; a failure while doing so is not reported over
    // the first one.
    try {
      Clear();
      for (auto& l : old) AddObject(l.first, l.second);
    } catch (...) {
    }
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const { return JoinDelimited(',', '"'); }

void TStrings::SetCommaText(const std::string& Value) { SplitDelimited(Value, ',', '"'); }

std::string TStrings::DelimitedText() const { return JoinDelimited(delimiter_, quote_char_); }

void TStrings::SetDelimitedText(const std::string& Value) { SplitDelimited(Value, delimiter_, quote_char_); }

std::string TStrings::JoinDelimited(char delimiter, char quote_char) const {
  int n = Count();
  if (n == 1 && Get(0).empty()) return std::string(2, quote_char);
  std::string r;
  for (int i = 0; i < n; ++i) {
    std::string s = Get(i);
    bool quote = false;
    for (unsigned char c : s)
      if (c <= ' ' || c == static_cast<unsigned char>(quote_char) ||
          c == static_cast<unsigned char>(delimiter)) {
        quote = true;
        break;
      }
    if (quote) {
      std::string q(1, quote_char);
      for (char c : s) {
        q += c;
        if (c == quote_char) q += c;
      }
      q += quote_char;
      s = std::move(q);
    }
    if (i > 0) r += delimiter;
    r += s;
  }
  return r;
}

void TStrings::SplitDelimited(const std::string& Value, char delimiter, char quote_char) {
  // Items are separated by the delimiter or by blanks; an item that starts
  // with the quote character runs to the closing quote, two quotes standing
  // for one. A trailing delimiter adds an empty item.
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string> items;
  size_t i = 0, n = Value.size();
  while (i < n && blank(Value[i])) ++i;
  while (i < n) {
    std::string s;
    if (Value[i] == quote_char) {
      ++i;
      while (i < n) {
        if (Value[i] == quote_char) {
          if (i + 1 < n && Value[i + 1] == quote_char) {
            s += quote_char;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        s += Value[i++];
      }
    } else {
      size_t start = i;
      while (i < n && !blank(Value[i]) && Value[i] != delimiter) ++i;
      s = Value.substr(start, i - start);
    }
    items.push_back(std::move(s));
    while (i < n && blank(Value[i])) ++i;
    if (i < n && Value[i] == delimiter) {
      if (i + 1 == n) items.emplace_back();
      do {
        ++i;
      } while (i < n && blank(Value[i]));
    }
  }
  Lines lines;
  for (auto& s : items) lines.emplace_back(std::move(s), nullptr);
  ReplaceLines(std::move(lines));
}

std::string TStrings::Names(int Index) const {
  std::string s = Get(Index);
  size_t p = s.find(name_value_separator_);
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::Values(const std::string& Name) const {
  int i = IndexOfName(Name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string TStrings::ValueFromIndex(int Index) const {
  std::string s = Get(Index);
  size_t p = s.find(name_value_separator_);
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

void TStrings::SetValue(const std::string& Name, const std::string& Value) {
  int i = IndexOfName(Name);
  std::string line = Name + name_value_separator_ + Value;
  if (!Value.empty()) {
    if (i < 0)
      Add(line);
    else
      Put(i, line);
  } else if (i >= 0) {
    Delete(i);
  }
}

void TStrings::BeginUpdate() {
  if (update_count_ == 0) SetUpdateState(true);
  ++update_count_;
}

void TStrings::EndUpdate() {
  if (update_count_ <= 0) return;
  if (--update_count_ == 0) SetUpdateState(false);
}

bool TStrings::Equals(const TStrings& Other) const {
  if (Count() != Other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != Other.Get(i)) return false;
  return true;
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> v;
  for (int i = 0; i < Count(); ++i) v.push_back(Get(i));
  return v;
}

void TStrings::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TStrings*>(Source)) {
    if (src == this) return;
    Lines lines;
    for (int i = 0; i < src->Count(); ++i) lines.emplace_back(src->Get(i), src->GetObject(i));
    ReplaceLines(std::move(lines));
    return;
  }
  TPersistent::Assign(Source);
}

void TStrings::LoadFromStream(TStream& Stream) {
  int64_t pos = Stream.Position();
  int64_t size = Stream.Size() - pos;
  SetText(size > 0 ? Stream.ReadString(size) : std::string());
}

void TStrings::SaveToStream(TStream& Stream) const { Stream.WriteString(Text()); }

// ----------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  if (owns_objects_)
    for (auto& it : items_) delete it.obj;
}

void TStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) Error("List index out of bounds", Index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool Updating) {
  if (Updating)
    Changing();
  else
    Changed();
}

std::string TStringList::Get(int Index) const {
  CheckIndex(Index);
  return items_[Index].str;
}

void TStringList::Put(int Index, const std::string& S) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(Index);
  Changing();
  items_[Index].str = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return items_[Index].obj;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  if (owns_objects_ && items_[Index].obj != AObject) delete items_[Index].obj;
  items_[Index].obj = AObject;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (owns_objects_)
    for (auto& it : old) delete it.obj;
  Changed();
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  Changing();
  TObject* obj = items_[Index].obj;
  items_.erase(items_.begin() + Index);
  if (owns_objects_) delete obj;
  Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
  Changing();
  items_.insert(items_.begin() + Index, Item{S, AObject});
  Changed();
}

void TStringList::Insert(int Index, const std::string& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index > Count()) Error("List index out of bounds", Index);
  InsertItem(Index, S, AObject);
}

int TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const std::string& S, TObject* AObject) {
  int index;
  if (!sorted_) {
    index = Count();
  } else if (Find(S, index)) {
    switch (duplicates_) {
      case dupIgnore:
        // The list keeps its line; an owned object that was not stored goes.
        if (owns_objects_ && AObject != items_[index].obj) delete AObject;
        return index;
      case dupError:
        if (owns_objects_ && AObject != items_[index].obj) delete AObject;
        throw EStringListError("String list does not allow duplicates");
      case dupAccept:
        break;
    }
  }
  InsertItem(index, S, AObject);
  return index;
}

void TStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  std::swap(items_[Index1], items_[Index2]);
  Changed();
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  return case_sensitive_ ? CompareBytes(S1, S2) : CompareText(S1, S2);
}

bool TStringList::Find(const std::string& S, int& Index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = CompareStrings(items_[mid].str, S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        // With dupAccept the first of equal lines is the one reported.
        if (duplicates_ != dupAccept) lo = mid;
      }
    }
  }
  Index = lo;
  return found;
}

int TStringList::IndexOf(const std::string& S) const {
  if (!sorted_) return TStrings::IndexOf(S);
  int i;
  return Find(S, i) ? i : -1;
}

void TStringList::SortItems(const std::function<bool(const Item&, const Item&)>& less) {
  Changing();
  std::stable_sort(items_.begin(), items_.end(), less);
  Changed();
}

void TStringList::Sort() {
  if (Count() < 2) return;
  SortItems([this](const Item& a, const Item& b) { return CompareStrings(a.str, b.str) < 0; });
}

void TStringList::CustomSort(const std::function<int(TStringList&, int, int)>& Compare) {
  if (sorted_ || Count() < 2) return;
  // Sort a permutation with the caller's index-based comparison.
  std::vector<int> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return Compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(items_[i]);
  Changing();
  items_.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (sorted_ == Value) return;
  if (Value) Sort();
  sorted_ = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (case_sensitive_ == Value) return;
  case_sensitive_ = Value;
  if (sorted_) Sort();
}

void TStringList::SetText(const std::string& Value) { TStrings::SetText(Value); }

void TStringList::ReplaceLines(Lines NewLines) {
  // Build the new contents aside so that a refused duplicate leaves the
  // list as it was.
  std::vector<Item> fresh;
  fresh.reserve(NewLines.size());
  for (auto& l : NewLines) fresh.push_back(Item{std::move(l.first), l.second});
  std::vector<TObject*> dropped;  // owned objects of refused duplicates
  if (sorted_) {
    // Sort once, then apply the duplicates rule to each run of equal lines,
    // with the result that adding the lines one by one would give: the
    // first of a run is kept (dupIgnore), or the run is kept latest first
    // (dupAccept).
    auto less = [this](const Item& a, const Item& b) { return CompareStrings(a.str, b.str) < 0; };
    std::stable_sort(fresh.begin(), fresh.end(), less);
    std::vector<Item> kept;
    kept.reserve(fresh.size());
    for (size_t i = 0; i < fresh.size();) {
      size_t j = i + 1;
      while (j < fresh.size() && CompareStrings(fresh[i].str, fresh[j].str) == 0) ++j;
      if (j - i > 1 && duplicates_ == dupError) throw EStringListError("String list does not allow duplicates");
      if (duplicates_ == dupIgnore) {
        kept.push_back(std::move(fresh[i]));
        for (size_t k = i + 1; k < j; ++k) dropped.push_back(fresh[k].obj);
      } else {
        for (size_t k = j; k > i; --k) kept.push_back(std::move(fresh[k - 1]));
      }
      i = j;
    }
    fresh.swap(kept);
  }
  Changing();
  items_.swap(fresh);
  if (owns_objects_) {
    std::unordered_set<TObject*> alive;
    alive.reserve(items_.size());
    for (const Item& i : items_) alive.insert(i.obj);
    for (auto& old : fresh)
      if (alive.insert(old.obj).second) delete old.obj;
    for (TObject* o : dropped)
      if (alive.insert(o).second) delete o;
  }
  Changed();
}

// ----------------------------------------------------------------------------
// TList

void TList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

void* TList::Items(int Index) const {
  CheckIndex(Index);
  return items_[Index];
}

void TList::SetItems(int Index, void* Item) {
  CheckIndex(Index);
  items_[Index] = Item;
}

int TList::Add(void* Item) {
  items_.push_back(Item);
  return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  items_.insert(items_.begin() + Index, Item);
}

void TList::Delete(int Index) {
  CheckIndex(Index);
  items_.erase(items_.begin() + Index);
}

int TList::Remove(const void* Item) {
  int i = IndexOf(Item);
  if (i >= 0) Delete(i);
  return i;
}

void* TList::Extract(const void* Item) {
  int i = IndexOf(Item);
  if (i < 0) return nullptr;
  void* p = items_[i];
  Delete(i);
  return p;
}

int TList::IndexOf(const void* Item) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i] == Item) return i;
  return -1;
}

void TList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(items_[Index1], items_[Index2]);
}

void TList::Move(int CurIndex, int NewIndex) {
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  void* p = items_[CurIndex];
  items_.erase(items_.begin() + CurIndex);
  items_.insert(items_.begin() + NewIndex, p);
}

void TList::Pack() { items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end()); }

void TList::Sort(const std::function<int(void*, void*)>& Compare) {
  std::stable_sort(items_.begin(), items_.end(), [&](void* a, void* b) { return Compare(a, b) < 0; });
}

// ----------------------------------------------------------------------------
// TObjectList

void TObjectList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

TObject* TObjectList::Items(int Index) const {
  CheckIndex(Index);
  return items_[Index];
}

void TObjectList::SetItems(int Index, TObject* AObject) {
  CheckIndex(Index);
  TObject* old = items_[Index];
  items_[Index] = AObject;
  if (owns_objects_ && old != AObject) delete old;
}

int TObjectList::Add(TObject* AObject) {
  try {
    items_.push_back(AObject);
  } catch (...) {
    if (owns_objects_) delete AObject;
    throw;
  }
  return Count() - 1;
}

void TObjectList::Insert(int Index, TObject* AObject) {
  if (Index < 0 || Index > Count()) {
    if (owns_objects_) delete AObject;
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  }
  items_.insert(items_.begin() + Index, AObject);
}

void TObjectList::Delete(int Index) {
  CheckIndex(Index);
  TObject* old = items_[Index];
  items_.erase(items_.begin() + Index);
  if (owns_objects_) delete old;
}

int TObjectList::Remove(const TObject* AObject) {
  int i = IndexOf(AObject);
  if (i >= 0) Delete(i);
  return i;
}

TObject* TObjectList::Extract(const TObject* AObject) {
  int i = IndexOf(AObject);
  if (i < 0) return nullptr;
  TObject* p = items_[i];
  items_.erase(items_.begin() + i);
  return p;
}

int TObjectList::IndexOf(const TObject* AObject) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i] == AObject) return i;
  return -1;
}

void TObjectList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(items_[Index1], items_[Index2]);
}

void TObjectList::Move(int CurIndex, int NewIndex) {
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  TObject* p = items_[CurIndex];
  items_.erase(items_.begin() + CurIndex);
  items_.insert(items_.begin() + NewIndex, p);
}

void TObjectList::Sort(const std::function<int(TObject*, TObject*)>& Compare) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](TObject* a, TObject* b) { return Compare(a, b) < 0; });
}

void TObjectList::Clear() {
  std::vector<TObject*> old;
  old.swap(items_);
  if (owns_objects_)
    for (TObject* o : old) delete o;
}

// ----------------------------------------------------------------------------
// TCollection

TCollectionItem::TCollectionItem(TCollection* Collection) { SetCollection(Collection); }

TCollectionItem::~TCollectionItem() {
  if (collection_ != nullptr) collection_->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (collection_ == Value) return;
  if (collection_ != nullptr) collection_->RemoveItem(this);
  if (Value != nullptr) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  auto& v = collection_->items_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

void TCollectionItem::SetIndex(int Value) {
  int cur = Index();
  if (cur < 0 || Value == cur) return;
  auto& v = collection_->items_;
  if (Value < 0 || Value >= static_cast<int>(v.size()))
    throw EListError("List index out of bounds (" + std::to_string(Value) + ")");
  v.erase(v.begin() + cur);
  v.insert(v.begin() + Value, this);
  Changed(true);
}

void TCollectionItem::Changed(bool AllItems) {
  if (collection_ != nullptr && collection_->update_count_ == 0)
    collection_->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(TItemFactory Factory, TPersistent* AOwner)
    : factory_(std::move(Factory)), owner_(AOwner) {}

TCollection::~TCollection() {
  OnChange = nullptr;
  update_count_ = 1;  // no notifications while going away
  Clear();
}

void TCollection::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

TCollectionItem* TCollection::Items(int Index) const {
  CheckIndex(Index);
  return items_[Index];
}

TCollectionItem* TCollection::Add() {
  if (!factory_) throw EInvalidOperation("Collection has no item class");
  TCollectionItem* item = factory_(this);
  if (item == nullptr) throw EInvalidOperation("Collection item was not created");
  if (item->collection_ != this) item->SetCollection(this);
  return item;
}

TCollectionItem* TCollection::Insert(int Index) {
  if (Index < 0 || Index > Count())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int Index) {
  CheckIndex(Index);
  delete items_[Index];  // the item's destructor removes it
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* i : items_)
    if (i->id_ == ID) return i;
  return nullptr;
}

void TCollection::InsertItem(TCollectionItem* Item) {
  items_.push_back(Item);
  Item->collection_ = this;
  Item->id_ = next_id_++;
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  // From the back: Clear and destruction remove the last item first.
  auto it = std::find(items_.rbegin(), items_.rend(), Item);
  if (it != items_.rend()) items_.erase(std::next(it).base());
  Item->collection_ = nullptr;
  Changed();
}

void TCollection::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TCollection*>(Source)) {
    if (src == this) return;
    BeginUpdate();
    try {
      Clear();
      for (TCollectionItem* i : src->items_) Add()->Assign(i);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

void TCollection::BeginUpdate() { ++update_count_; }

void TCollection::EndUpdate() {
  if (update_count_ <= 0) return;
  if (--update_count_ == 0) Changed();
}

void TCollection::Changed() {
  if (update_count_ == 0) Update(nullptr);
}

void TCollection::Update(TCollectionItem*) {
  if (OnChange) OnChange(this);
}

// ----------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

std::string TStream::ReadString(int64_t Count) {
  if (Count <= 0) return std::string();
  std::string s;
  int64_t avail = Size() - Position();
  s.resize(static_cast<size_t>(std::max<int64_t>(0, std::min(Count, avail))));
  if (!s.empty()) ReadBuffer(s.data(), static_cast<int64_t>(s.size()));
  if (static_cast<int64_t>(s.size()) != Count) throw EReadError("Stream read error");
  return s;
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  if (Count < 0) return 0;
  int64_t done = 0;
  char buf[65536];
  while (done < Count) {
    int64_t n = std::min<int64_t>(sizeof buf, Count - done);
    Source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    done += n;
  }
  return done;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || position_ < 0) return 0;
  int64_t size = Size();
  if (position_ >= size) return 0;
  int64_t n = std::min(Count, size - position_);
  std::memcpy(Buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || position_ < 0) return 0;
  int64_t end = position_ + Count;
  if (end < position_) return 0;  // overflow
  if (end > Size()) SetSize(end);
  std::memcpy(data_.data() + position_, Buffer, static_cast<size_t>(Count));
  position_ = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case soFromBeginning:
      position_ = Offset;
      break;
    case soFromCurrent:
      position_ += Offset;
      break;
    case soFromEnd:
      position_ = Size() + Offset;
      break;
    default:
      throw EStreamError("Invalid seek origin " + std::to_string(Origin));
  }
  return position_;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size " + std::to_string(NewSize));
  if (static_cast<uint64_t>(NewSize) > data_.max_size())
    throw EStreamError("Out of memory while expanding memory stream");
  try {
    data_.resize(static_cast<size_t>(NewSize), '\0');
  } catch (const std::bad_alloc&) {
    throw EStreamError("Out of memory while expanding memory stream");
  } catch (const std::length_error&) {
    throw EStreamError("Out of memory while expanding memory stream");
  }
  if (position_ > NewSize) position_ = NewSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  int64_t n = Stream.Size();
  std::string buf;
  buf.resize(static_cast<size_t>(std::max<int64_t>(0, n)));
  if (n > 0) Stream.ReadBuffer(buf.data(), n);
  data_.swap(buf);
  position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream) {
  if (!data_.empty()) Stream.WriteBuffer(data_.data(), Size());
}

}  // namespace rowset
