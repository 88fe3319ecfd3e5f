// The component framework's base classes: objects, persistent objects,
// components with owner lifetime and removal notification, string lists,
// pointer and object lists, collections and streams.
//
// Ownership: a component created with an owner is freed by that owner (the
// owner's destructor frees what it owns, last created first). A component
// may also be deleted directly; it then leaves its owner's list. Components
// that keep pointers to other components ask for FreeNotification and drop
// the pointer in their Notification(component, opRemove) override.
#ifndef ROWSET_HOST_CLASSES_H_
#define ROWSET_HOST_CLASSES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Exceptions.h"
#include "host/Set.h"
#include "host/Variants.h"

namespace rowset {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // The class name without namespace, for messages.
  std::string ClassName() const;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TFiler;

class TPersistent : public TObject {
 public:
  // Copies Source into this object. The default asks Source to AssignTo
  // this object, and raises EConvertError when neither side knows how.
  virtual void Assign(TPersistent* Source);

 protected:
  virtual void AssignTo(TPersistent* Dest);
  [[noreturn]] void AssignError(TPersistent* Source);
  // Declares stored values that are not plain properties (for example
  // values older stored forms carry) through Filer->DefineProperty.
  virtual void DefineProperties(TFiler* Filer) {}

 private:
  friend class TReader;
  friend class TWriter;
};

// ----------------------------------------------------------------------------
// Components

enum TComponentStateItem {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
using TComponentState = Set<TComponentStateItem>;

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  // Inserts the new component into AOwner's list (AOwner then frees it).
  // Note: the owner's Notification(opInsert) runs while the new object is
  // still being constructed; overrides must only record the pointer.
  explicit TComponent(TComponent* AOwner = nullptr);
  // Notifies every component that asked for it, frees the owned components
  // and leaves the owner.
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Raises EComponentError for a name that is not an identifier or that a
  // sibling of the same owner already has (letter case ignored).
  virtual void SetName(const std::string& NewName);
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t Value) { tag_ = Value; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int Index) const;
  int ComponentIndex() const;
  // The owned component of that name (letter case ignored), or nullptr.
  TComponent* FindComponent(const std::string& AName) const;
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, last first. A descendant whose owned
  // components call back into it while they go away calls this at the start
  // of its own destructor, while its members are still alive.
  void DestroyComponents();
  // Marks this component and its owned ones as going away.
  void Destroying();

  // Asks AComponent to call Notification(AComponent, opRemove) on this
  // component when it goes away (and the other way round).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  TComponentState ComponentState() const { return state_; }
  void SetDesigning(bool Value, bool SetChildren = true);

  // Streaming simulation. BeginLoading marks this component and everything
  // it owns (recursively) with csLoading and csReading; EndLoading clears
  // csReading and calls Loaded on each marked component, this one first.
  // Every component's Loaded runs even when one raises; the first exception
  // is raised again afterwards.
  void BeginLoading();
  void EndLoading();

 protected:
  // Called after streaming; clears csLoading. Overrides call the base first.
  virtual void Loaded();
  // AComponent was inserted into or is being removed from this component's
  // owner list, or is going away and this component asked for notification.
  // The base removes the notification link and forwards to owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName,
                              const std::string& NewName);
  void SetComponentStateItem(TComponentStateItem Item, bool On);

 private:
  void CollectLoading(std::vector<TComponent*>& out);
  static void AddNotify(std::vector<TComponent*>& list, TComponent* c);
  static void RemoveNotify(std::vector<TComponent*>& list, TComponent* c);

  TComponent* owner_ = nullptr;
  std::string name_;
  int32_t tag_ = 0;
  TComponentState state_;
  std::vector<TComponent*> components_;    // owned, in insertion order
  uint64_t removals_ = 0;                  // bumped when one leaves components_
  std::vector<TComponent*> free_notifies_; // both directions of each link
};

// ----------------------------------------------------------------------------
// Stored values

class TReader;
class TWriter;
using TReaderProc = std::function<void(TReader& Reader)>;
using TWriterProc = std::function<void(TWriter& Writer)>;

// What DefineProperties talks to: the reader calls ReadData for a stored
// value of that name, the writer calls WriteData when HasData is true.
class TFiler : public TObject {
 public:
  virtual void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                              const TWriterProc& WriteData, bool HasData) = 0;
};

// Named stored values, as a component stream holds them.
using TStoredValues = std::vector<std::pair<std::string, Variant>>;

// Hands stored values to an object's defined properties (names compared
// ignoring letter case). The Read functions raise EReadError when the
// stored value is not of the asked kind.
class TReader : public TFiler {
 public:
  explicit TReader(const TStoredValues& Values) : values_(Values) {}
  // Calls Instance's DefineProperties and feeds every stored value whose
  // name it defines; returns the names nothing defined, in stored order.
  std::vector<std::string> ReadProperties(TPersistent* Instance);

  void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;
  bool ReadBoolean();
  int32_t ReadInteger();
  double ReadFloat();
  std::string ReadString();
  Variant ReadVariant() { return current_; }

 private:
  const TStoredValues& values_;
  std::vector<bool> used_;
  Variant current_;
};

// Collects the values an object's defined properties write.
class TWriter : public TFiler {
 public:
  // Calls Instance's DefineProperties; returns what was written.
  TStoredValues WriteProperties(TPersistent* Instance);

  void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;
  void WriteBoolean(bool Value) { Put(Variant(Value)); }
  void WriteInteger(int32_t Value) { Put(Variant(Value)); }
  void WriteFloat(double Value) { Put(Variant(Value)); }
  void WriteString(const std::string& Value) { Put(Variant(Value)); }
  void WriteVariant(const Variant& Value) { Put(Value); }

 private:
  void Put(const Variant& Value);
  std::string name_;
  TStoredValues out_;
};

// Raises EDatabaseError; with a named component the message is prefixed by
// the component's name and ": ".
[[noreturn]] void DatabaseError(const std::string& Message, TComponent* Component);

// ----------------------------------------------------------------------------
// String lists

enum TDuplicates { dupIgnore, dupAccept, dupError };

// A list of byte strings, each with an associated object pointer.
// Lines read through Text end in "\r\n" each; setting Text splits at CR, LF
// or CRLF (NUL bytes are ordinary characters). CommaText quotes items that
// hold blanks, control characters, quotes or commas, doubling quotes.
class TStrings : public TPersistent {
 public:
  TStrings() = default;

  virtual int Count() const = 0;
  virtual std::string Get(int Index) const = 0;
  virtual void Put(int Index, const std::string& S);
  virtual TObject* GetObject(int Index) const;
  virtual void PutObject(int Index, TObject* AObject);
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void InsertObject(int Index, const std::string& S, TObject* AObject);
  virtual int Add(const std::string& S);
  virtual int AddObject(const std::string& S, TObject* AObject);
  void Append(const std::string& S) { Add(S); }
  virtual void AddStrings(const TStrings& Strings);
  virtual void Exchange(int Index1, int Index2);
  virtual void Move(int CurIndex, int NewIndex);
  virtual int IndexOf(const std::string& S) const;
  virtual int IndexOfName(const std::string& Name) const;
  int IndexOfObject(const TObject* AObject) const;

  std::string Strings(int Index) const { return Get(Index); }
  void SetStrings(int Index, const std::string& S) { Put(Index, S); }
  std::string operator[](int Index) const { return Get(Index); }
  TObject* Objects(int Index) const { return GetObject(Index); }
  void SetObjects(int Index, TObject* AObject) { PutObject(Index, AObject); }

  virtual std::string Text() const;
  virtual void SetText(const std::string& Value);
  std::string CommaText() const;
  void SetCommaText(const std::string& Value);
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& Value);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char C) { delimiter_ = C; }
  char QuoteChar() const { return quote_char_; }
  void SetQuoteChar(char C) { quote_char_ = C; }
  char NameValueSeparator() const { return name_value_separator_; }
  void SetNameValueSeparator(char C) { name_value_separator_ = C; }

  // Name=value access. Names(i) is empty for a line without a separator.
  // SetValue with an empty value deletes the line; with a new name it adds
  // one.
  std::string Names(int Index) const;
  std::string Values(const std::string& Name) const;
  void SetValue(const std::string& Name, const std::string& Value);
  std::string ValueFromIndex(int Index) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  bool Equals(const TStrings& Other) const;
  std::vector<std::string> ToVector() const;
  void Assign(TPersistent* Source) override;

  void LoadFromStream(class TStream& Stream);
  void SaveToStream(class TStream& Stream) const;

 protected:
  // Called with true when the first BeginUpdate starts and false when the
  // last EndUpdate ends.
  virtual void SetUpdateState(bool Updating) {}
  // Compares two strings the way this list looks them up; the base ignores
  // letter case.
  virtual int CompareStrings(const std::string& S1, const std::string& S2) const;
  [[noreturn]] void Error(const std::string& Msg, int Data) const;
  // Replaces every line in one change (Text, CommaText and Assign use it).
  // On failure the old lines are back.
  using Lines = std::vector<std::pair<std::string, TObject*>>;
  virtual void ReplaceLines(Lines NewLines);

 private:
  std::string JoinDelimited(char Delimiter, char Quote) const;
  void SplitDelimited(const std::string& Value, char Delimiter, char Quote);

  int update_count_ = 0;
  char delimiter_ = ',';
  char quote_char_ = '"';
  char name_value_separator_ = '=';
};

// The concrete list. A sorted list keeps its lines in CompareStrings order,
// refuses Insert and Put at a position, and handles a line it already holds
// by Duplicates: dupIgnore drops it (Add returns the existing index),
// dupError raises EStringListError, dupAccept stores it. Comparison ignores
// letter case unless CaseSensitive is set. OnChanging/OnChange fire around
// every change, once per BeginUpdate/EndUpdate bracket.
class TStringList : public TStrings {
 public:
  TStringList() = default;
  ~TStringList() override;

  int Count() const override { return static_cast<int>(items_.size()); }
  std::string Get(int Index) const override;
  void Put(int Index, const std::string& S) override;
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  void Clear() override;
  void Delete(int Index) override;
  void Insert(int Index, const std::string& S) override;
  void InsertObject(int Index, const std::string& S, TObject* AObject) override;
  int Add(const std::string& S) override;
  int AddObject(const std::string& S, TObject* AObject) override;
  void Exchange(int Index1, int Index2) override;
  int IndexOf(const std::string& S) const override;
  void SetText(const std::string& Value) override;

  // Binary search of a sorted list: true when found; Index is the position
  // of the match or where S would go.
  virtual bool Find(const std::string& S, int& Index) const;
  virtual void Sort();
  void CustomSort(const std::function<int(TStringList&, int, int)>& Compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool Value);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool Value);
  // When set, the list deletes the objects of lines it removes or clears.
  bool OwnsObjects() const { return owns_objects_; }
  void SetOwnsObjects(bool Value) { owns_objects_ = Value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  void SetUpdateState(bool Updating) override;
  int CompareStrings(const std::string& S1, const std::string& S2) const override;
  virtual void Changed();
  virtual void Changing();
  void InsertItem(int Index, const std::string& S, TObject* AObject);
  void ReplaceLines(Lines NewLines) override;

 private:
  struct Item {
    std::string str;
    TObject* obj = nullptr;
  };
  void CheckIndex(int Index) const;
  void SortItems(const std::function<bool(const Item&, const Item&)>& less);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  bool owns_objects_ = false;
  TDuplicates duplicates_ = dupIgnore;
};

// ----------------------------------------------------------------------------
// Lists

// A list of untyped pointers it does not own.
class TList : public TObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  void* Items(int Index) const;
  void* operator[](int Index) const { return Items(Index); }
  void SetItems(int Index, void* Item);
  int Add(void* Item);
  void Insert(int Index, void* Item);
  void Delete(int Index);
  // Removes the first occurrence; returns its index or -1.
  int Remove(const void* Item);
  void* Extract(const void* Item);
  int IndexOf(const void* Item) const;
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }
  void Pack();  // drops nil entries
  void Sort(const std::function<int(void*, void*)>& Compare);
  virtual void Clear() { items_.clear(); }

 private:
  void CheckIndex(int Index) const;
  std::vector<void*> items_;
};

// A list of objects that, with OwnsObjects (the default), deletes the
// objects it removes, clears or holds at destruction.
class TObjectList : public TObject {
 public:
  explicit TObjectList(bool AOwnsObjects = true) : owns_objects_(AOwnsObjects) {}
  ~TObjectList() override { Clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  TObject* Items(int Index) const;
  TObject* operator[](int Index) const { return Items(Index); }
  template <typename T>
  T* ItemAs(int Index) const {
    return dynamic_cast<T*>(Items(Index));
  }
  // Replaces the object at Index (the old one is deleted when owned).
  void SetItems(int Index, TObject* AObject);
  int Add(TObject* AObject);
  int Add(std::unique_ptr<TObject> AObject) { return Add(AObject.release()); }
  void Insert(int Index, TObject* AObject);
  void Delete(int Index);
  int Remove(const TObject* AObject);
  // Takes the object out of the list without deleting it.
  TObject* Extract(const TObject* AObject);
  int IndexOf(const TObject* AObject) const;
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  void Sort(const std::function<int(TObject*, TObject*)>& Compare);
  void Clear();
  bool OwnsObjects() const { return owns_objects_; }
  void SetOwnsObjects(bool Value) { owns_objects_ = Value; }

 private:
  void CheckIndex(int Index) const;
  std::vector<TObject*> items_;
  bool owns_objects_;
};

// ----------------------------------------------------------------------------
// Collections

class TCollection;

// An item of a collection. Constructing it with a collection adds it there
// (the collection then owns it); deleting it removes it.
class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;

  TCollection* Collection() const { return collection_; }
  void SetCollection(TCollection* Value);
  int ID() const { return id_; }
  int Index() const;
  void SetIndex(int Value);
  virtual std::string DisplayName() const { return ClassName(); }

 protected:
  // Tells the collection that this item changed (AllItems: the whole list).
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

// An owned, ordered list of items of one class, made by the factory given
// at construction.
class TCollection : public TPersistent {
 public:
  using TItemFactory = std::function<TCollectionItem*(TCollection*)>;

  explicit TCollection(TItemFactory Factory, TPersistent* AOwner = nullptr);
  ~TCollection() override;

  int Count() const { return static_cast<int>(items_.size()); }
  TCollectionItem* Items(int Index) const;
  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  TCollectionItem* FindItemID(int ID) const;
  TPersistent* Owner() const { return owner_; }
  void Assign(TPersistent* Source) override;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  // Called whenever an item is added, removed or changed (Item nullptr:
  // the whole collection), unless an update bracket is open.
  TNotifyEvent OnChange;

 protected:
  virtual void Update(TCollectionItem* Item);
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);
  void CheckIndex(int Index) const;

  TItemFactory factory_;
  TPersistent* owner_;
  std::vector<TCollectionItem*> items_;  // owned
  int next_id_ = 0;
  int update_count_ = 0;
};

// ----------------------------------------------------------------------------
// Streams

enum : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// A byte stream. Positions are never outside what the stream holds when
// bytes move: reading at a negative position or beyond the end reads
// nothing; writing at a negative position writes nothing.
class TStream : public TObject {
 public:
  // Returns the number of bytes moved (0 for a negative Count).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Origin is soFromBeginning, soFromCurrent or soFromEnd; returns the new
  // position. Raises EStreamError for another origin.
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t NewSize);
  // Commits writes a stream holds back (a dataset's blob stream writes its
  // value once); raises what committing raises. Streams whose writes go
  // straight through do nothing.
  virtual void Flush() {}

  // Raise EReadError / EWriteError when fewer than Count bytes moved.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);
  // Copies Count bytes from Source at its position (0: all of Source from
  // its start); returns the number copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);

  std::string ReadString(int64_t Count);
  void WriteString(const std::string& S) { WriteBuffer(S.data(), static_cast<int64_t>(S.size())); }
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* Buffer, int64_t Count) override;
  // Writing past the end grows the stream, zero-filling any gap.
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  // Raises EStreamError for a negative size; the position is kept within
  // the new size.
  void SetSize(int64_t NewSize) override;

  void Clear();
  const char* Memory() const { return data_.data(); }
  char* Memory() { return data_.data(); }
  const std::string& DataString() const { return data_; }
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream);

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace rowset

#endif  // ROWSET_HOST_CLASSES_H_
