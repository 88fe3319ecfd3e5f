#include "host/Classes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace rowset {
namespace {

std::vector<std::string> g_log;

// A component that refers to another and must drop the pointer when the
// other goes away.
class TRefComp : public TComponent {
 public:
  using TComponent::TComponent;
  ~TRefComp() override { g_log.push_back("free " + Name()); }
  void SetRef(TComponent* c) {
    if (ref_) ref_->RemoveFreeNotification(this);
    ref_ = c;
    if (c) c->FreeNotification(this);
  }
  TComponent* Ref() const { return ref_; }
  int loaded_ = 0;
  bool was_loading_in_loaded_ = false;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == ref_) ref_ = nullptr;
  }
  void Loaded() override {
    was_loading_in_loaded_ = ComponentState().Contains(csLoading);
    TComponent::Loaded();
    ++loaded_;
  }

 private:
  TComponent* ref_ = nullptr;
};

TEST(ComponentTest, OwnerFreesOwnedComponentsLastFirst) {
  g_log.clear();
  {
    auto owner = std::make_unique<TRefComp>();
    owner->SetName("Form");
    auto* a = new TRefComp(owner.get());
    a->SetName("A");
    auto* b = new TRefComp(owner.get());
    b->SetName("B");
    new TRefComp(b);  // grandchild, unnamed
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->FindComponent("b"), b);
    EXPECT_EQ(b->ComponentIndex(), 1);
  }
  EXPECT_EQ(g_log, (std::vector<std::string>{"free Form", "free B", "free ", "free A"}));
}

TEST(ComponentTest, DeletingOwnedComponentLeavesOwner) {
  TRefComp owner;
  auto* a = new TRefComp(&owner);
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(ComponentTest, FreedReferencedComponentClearsReference) {
  TRefComp holder;
  {
    TRefComp target;  // no owner, no shared owner
    holder.SetRef(&target);
    EXPECT_EQ(holder.Ref(), &target);
  }
  EXPECT_EQ(holder.Ref(), nullptr);

  // The other direction: the holder goes first; the target must not keep
  // a link to it (the sanitizer build would catch a use after free).
  auto target = std::make_unique<TRefComp>();
  {
    TRefComp h2;
    h2.SetRef(target.get());
  }
  target.reset();
}

TEST(ComponentTest, SiblingsHearOfEachOtherThroughTheirOwner) {
  TRefComp owner;
  auto* a = new TRefComp(&owner);
  auto* b = new TRefComp(&owner);
  a->SetRef(b);
  a->RemoveFreeNotification(b);  // no direct link: the owner still tells a
  delete b;
  EXPECT_EQ(a->Ref(), nullptr);
}

TEST(ComponentTest, NamesAreIdentifiersUniqueWithinOwner) {
  TRefComp owner;
  auto* a = new TRefComp(&owner);
  auto* b = new TRefComp(&owner);
  a->SetName("Server1");
  EXPECT_THROW(b->SetName("server1"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  EXPECT_EQ(b->Name(), "");
  b->SetName("Query1");
  a->SetName("SERVER1");  // renaming itself with other case is fine
  EXPECT_EQ(owner.FindComponent("query1"), b);
}

// A component refused by its new owner (a sibling there has its name) stays
// with its old owner, which frees it.
TEST(ComponentTest, RefusedInsertKeepsTheOldOwner) {
  g_log.clear();
  {
    TRefComp from, to;
    from.SetName("From");
    to.SetName("To");
    auto* moving = new TRefComp(&from);
    moving->SetName("Same");
    auto* other = new TRefComp(&to);
    other->SetName("same");
    EXPECT_THROW(to.InsertComponent(moving), EComponentError);
    EXPECT_EQ(moving->Owner(), &from);
    EXPECT_EQ(from.ComponentCount(), 1);
    EXPECT_EQ(to.ComponentCount(), 1);
    // A move that is allowed still moves.
    other->SetName("Other");
    to.InsertComponent(moving);
    EXPECT_EQ(moving->Owner(), &to);
    EXPECT_EQ(from.ComponentCount(), 0);
  }
  EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "free Same"), 1);
  EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "free Other"), 1);
}

// A handler that frees a later sibling while siblings are being told: the
// freed one is not told, every other one is told once.
TEST(ComponentTest, NotificationSkipsSiblingsFreedOnTheWay) {
  class TKiller : public TComponent {
   public:
    using TComponent::TComponent;
    TComponent* victim = nullptr;
    int told = 0;

   protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
      TComponent::Notification(AComponent, Operation);
      if (Operation != opInsert) return;
      ++told;
      if (victim) {
        TComponent* v = victim;
        victim = nullptr;
        delete v;
      }
    }
  };
  TComponent owner;
  auto* a = new TKiller(&owner);
  auto* b = new TKiller(&owner);
  auto* c = new TKiller(&owner);
  a->victim = b;
  new TComponent(&owner);  // tells a (which frees b), then c
  EXPECT_EQ(owner.ComponentCount(), 3);
  EXPECT_EQ(a->told, 3);  // of b, c and the last one
  EXPECT_EQ(c->told, 1);
}

TEST(ComponentTest, LoadingStateAndLoadedOrder) {
  TRefComp owner;
  auto* a = new TRefComp(&owner);
  owner.BeginLoading();
  EXPECT_TRUE(owner.ComponentState().Contains(csLoading));
  EXPECT_TRUE(a->ComponentState().Contains(csLoading));
  owner.EndLoading();
  EXPECT_EQ(owner.loaded_, 1);
  EXPECT_EQ(a->loaded_, 1);
  EXPECT_TRUE(a->was_loading_in_loaded_);
  EXPECT_FALSE(a->ComponentState().Contains(csLoading));
  EXPECT_FALSE(owner.ComponentState().Contains(csReading));
}

class TThrowingLoad : public TComponent {
 public:
  using TComponent::TComponent;

 protected:
  void Loaded() override {
    TComponent::Loaded();
    throw EDatabaseError("cannot connect");
  }
};

TEST(ComponentTest, LoadedFailureStillFinishesEveryComponent) {
  TRefComp owner;
  new TThrowingLoad(&owner);
  auto* after = new TRefComp(&owner);
  owner.BeginLoading();
  EXPECT_THROW(owner.EndLoading(), EDatabaseError);
  EXPECT_EQ(after->loaded_, 1);
  EXPECT_FALSE(owner.Components(0)->ComponentState().Contains(csLoading));
}

TEST(ComponentTest, DesigningPassesToNewChildren) {
  TRefComp owner;
  owner.SetDesigning(true);
  auto* a = new TRefComp(&owner);
  EXPECT_TRUE(a->ComponentState().Contains(csDesigning));
  owner.SetDesigning(false);
  EXPECT_FALSE(a->ComponentState().Contains(csDesigning));
}

TEST(ComponentTest, DatabaseErrorNamesComponentAndAssignErrorIsClear) {
  TRefComp c;
  c.SetName("Query1");
  try {
    DatabaseError("Field 'x' not found", &c);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Query1: Field 'x' not found");
  }
  TStringList sl;
  try {
    c.Assign(&sl);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TRefComp");
  }
}

// ---------------------------------------------------------------------------

TEST(StringListTest, TextSplitsAtCrLfOrCrlfAndJoinsWithCrlf) {
  TStringList sl;
  sl.SetText("a\r\nb\nc\rd\r\n\r\ne");
  EXPECT_EQ(sl.ToVector(), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(sl.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
  sl.SetText(sl.Text());
  EXPECT_EQ(sl.Count(), 6);
  sl.SetText("");
  EXPECT_EQ(sl.Count(), 0);
  EXPECT_EQ(sl.Text(), "");
  sl.SetText(std::string("x\0y", 3));
  EXPECT_EQ(sl[0], std::string("x\0y", 3));  // NUL bytes are kept
}

TEST(StringListTest, CommaTextQuotesAndRoundTrips) {
  TStringList sl;
  for (auto s : {"plain", "with blank", "quo\"te", "com,ma", "", "x"}) sl.Add(s);
  EXPECT_EQ(sl.CommaText(), "plain,\"with blank\",\"quo\"\"te\",\"com,ma\",,x");
  TStringList back;
  back.SetCommaText(sl.CommaText());
  EXPECT_TRUE(back.Equals(sl));

  back.SetCommaText("  a b , \"c,d\"  ,e,");
  EXPECT_EQ(back.ToVector(), (std::vector<std::string>{"a", "b", "c,d", "e", ""}));
  back.SetCommaText("\"unterminated, still");
  EXPECT_EQ(back.ToVector(), (std::vector<std::string>{"unterminated, still"}));

  TStringList one;
  one.Add("");
  EXPECT_EQ(one.CommaText(), "\"\"");
  one.SetCommaText("\"\"");
  EXPECT_EQ(one.Count(), 1);
  one.SetCommaText("");
  EXPECT_EQ(one.Count(), 0);
}

TEST(StringListTest, NameValueAccess) {
  TStringList sl;
  sl.SetText("host=localhost\r\nPort=3306\r\nnovalue\r\nempty=\r\n");
  EXPECT_EQ(sl.Values("HOST"), "localhost");
  EXPECT_EQ(sl.IndexOfName("port"), 1);
  EXPECT_EQ(sl.Names(2), "");
  EXPECT_EQ(sl.IndexOfName("novalue"), -1);
  EXPECT_EQ(sl.Values("empty"), "");
  EXPECT_EQ(sl.IndexOfName("empty"), 3);
  sl.SetValue("port", "3307");
  EXPECT_EQ(sl[1], "port=3307");
  sl.SetValue("user", "root=x");
  EXPECT_EQ(sl.ValueFromIndex(4), "root=x");
  sl.SetValue("host", "");
  EXPECT_EQ(sl.IndexOfName("host"), -1);
  sl.SetValue("missing", "");
  EXPECT_EQ(sl.Count(), 4);
}

TEST(StringListTest, SortedCaseInsensitiveDuplicateRules) {
  TStringList sl;
  sl.SetSorted(true);
  EXPECT_EQ(sl.Add("beta"), 0);
  EXPECT_EQ(sl.Add("Alpha"), 0);
  EXPECT_EQ(sl.Add("ALPHA"), 0);  // dupIgnore: the existing index
  EXPECT_EQ(sl.Count(), 2);
  EXPECT_EQ(sl.IndexOf("BETA"), 1);
  EXPECT_THROW(sl.Insert(0, "x"), EStringListError);
  EXPECT_THROW(sl.Put(0, "x"), EStringListError);

  sl.SetDuplicates(dupError);
  EXPECT_THROW(sl.Add("alpha"), EStringListError);
  EXPECT_EQ(sl.Count(), 2);
  // A text with a duplicate is refused as a whole, the list is unchanged.
  EXPECT_THROW(sl.SetText("q\r\nr\r\nQ"), EStringListError);
  EXPECT_EQ(sl.ToVector(), (std::vector<std::string>{"Alpha", "beta"}));

  sl.SetDuplicates(dupAccept);
  sl.Add("alpha");
  EXPECT_EQ(sl.Count(), 3);

  TStringList cs;
  cs.SetCaseSensitive(true);
  cs.SetSorted(true);
  cs.Add("a");
  cs.Add("A");
  EXPECT_EQ(cs.ToVector(), (std::vector<std::string>{"A", "a"}));
  EXPECT_EQ(cs.IndexOf("a"), 1);
  int idx;
  EXPECT_FALSE(cs.Find("b", idx));
  EXPECT_EQ(idx, 2);
}

TEST(StringListTest, ChangeNotificationsOncePerUpdate) {
  TStringList sl;
  int changes = 0, changing = 0;
  sl.OnChange = [&](TObject* s) {
    EXPECT_EQ(s, &sl);
    ++changes;
  };
  sl.OnChanging = [&](TObject*) { ++changing; };
  sl.Add("a");
  EXPECT_EQ(changes, 1);
  sl.SetText("x\r\ny\r\nz");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(changing, 2);
  sl.BeginUpdate();
  sl.Add("1");
  sl.Delete(0);
  EXPECT_EQ(changes, 2);
  sl.EndUpdate();
  EXPECT_EQ(changes, 3);
}

class TCounted : public TObject {
 public:
  explicit TCounted(int* alive) : alive_(alive) { ++*alive_; }
  ~TCounted() override { --*alive_; }

 private:
  int* alive_;
};

TEST(StringListTest, ObjectsAndOwnership) {
  int alive = 0;
  {
    TStringList sl;
    sl.SetOwnsObjects(true);
    sl.AddObject("a", new TCounted(&alive));
    sl.AddObject("b", new TCounted(&alive));
    EXPECT_EQ(sl.IndexOfObject(sl.Objects(1)), 1);
    sl.Delete(0);
    EXPECT_EQ(alive, 1);
    sl.SetSorted(true);
    sl.AddObject("b", new TCounted(&alive));  // ignored duplicate: freed
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
  TStringList plain;
  EXPECT_THROW(plain.Get(0), EStringListError);
  EXPECT_THROW(plain.Delete(-1), EStringListError);
}

TEST(ListTest, ObjectListOwnsAndListDoesNot) {
  int alive = 0;
  {
    TObjectList ol;
    ol.Add(new TCounted(&alive));
    TObject* two = new TCounted(&alive);
    ol.Add(two);
    ol.Add(std::make_unique<TCounted>(&alive));
    std::unique_ptr<TObject> taken(ol.Extract(two));
    EXPECT_EQ(ol.Count(), 2);
    ol.Delete(0);
    EXPECT_EQ(alive, 2);
    EXPECT_THROW(ol.Items(5), EListError);
    EXPECT_NE(ol.ItemAs<TCounted>(0), nullptr);
  }
  EXPECT_EQ(alive, 0);

  TList l;
  int x = 1, y = 2;
  l.Add(&y);
  l.Add(nullptr);
  l.Insert(0, &x);
  l.Pack();
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.First(), &x);
  EXPECT_EQ(l.Remove(&x), 0);
  EXPECT_EQ(l.IndexOf(&y), 0);
  EXPECT_THROW(l.Move(0, 3), EListError);
}

class TNamedItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  std::string name;
  void Assign(TPersistent* Source) override {
    if (auto* s = dynamic_cast<TNamedItem*>(Source)) {
      name = s->name;
      return;
    }
    TCollectionItem::Assign(Source);
  }
};

TEST(CollectionTest, OwnsItemsAndAssigns) {
  auto factory = [](TCollection* c) { return new TNamedItem(c); };
  TCollection a(factory), b(factory);
  int changes = 0;
  a.OnChange = [&](TObject*) { ++changes; };
  static_cast<TNamedItem*>(a.Add())->name = "one";
  static_cast<TNamedItem*>(a.Add())->name = "two";
  EXPECT_EQ(changes, 2);
  auto* first = a.Insert(0);
  EXPECT_EQ(first->Index(), 0);
  EXPECT_EQ(a.FindItemID(first->ID()), first);
  a.Delete(0);
  EXPECT_EQ(a.Count(), 2);
  b.Add();
  b.Assign(&a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(static_cast<TNamedItem*>(b.Items(1))->name, "two");
  delete b.Items(0);
  EXPECT_EQ(b.Count(), 1);
  b.Items(0)->SetIndex(0);
  EXPECT_THROW(b.Items(0)->SetIndex(4), EListError);
}

// Scaling: doubling the input may double the work, not quadruple it. The
// two sizes are measured in turn, seven times each, and the best time of
// each is compared, so that a busy machine slows both alike; the bound
// (3.5) leaves room for cache effects and still refuses a quadratic cost.
template <typename F>
double Seconds(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best time of Run(2n) over best time of Run(n). A burst of load from other
// processes can still spoil one measurement, so it is taken up to three
// times and the smallest ratio counts: a cost that really grows faster than
// the input shows in every attempt.
template <typename F>
double GrowthRatio(int n, F&& Run) {
  double best_ratio = 1e9;
  for (int attempt = 0; attempt < 3 && best_ratio >= 3.0; ++attempt) {
    double small = 1e9, large = 1e9;
    for (int round = 0; round < 7; ++round) {
      small = std::min(small, Run(n));
      large = std::min(large, Run(2 * n));
    }
    best_ratio = std::min(best_ratio, large / small);
  }
  return best_ratio;
}

TEST(ScalingTest, SortedTextAndAssignAreNotQuadratic) {
  auto run = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "line" + std::to_string((i * 7919) % n) + "\r\n";
    return Seconds([&] {
      TStringList l;
      l.SetSorted(true);
      l.SetText(text);
      TStringList copy;
      copy.SetSorted(true);
      copy.Assign(&l);
      ASSERT_EQ(copy.Count(), n);
    });
  };
  EXPECT_LT(GrowthRatio(40000, run), 3.5);
}

TEST(ScalingTest, OwningListsAndCollectionsClearInLinearTime) {
  // Sizes that fit the processor's caches alike, each run many times.
  auto run = [](int n) {
    TStringList src;
    for (int i = 0; i < n; ++i) src.AddObject(std::to_string(i), new TObject);
    TStringList owner;
    owner.SetOwnsObjects(true);
    double best = 1e9;
    for (int rep = 0; rep < 40; ++rep) {
      TCollection c([](TCollection* col) { return new TCollectionItem(col); });
      for (int i = 0; i < n; ++i) c.Add();
      best = std::min(best, Seconds([&] {
        owner.Assign(&src);  // the same objects again: none is freed
        c.Clear();
      }));
    }
    EXPECT_EQ(owner.Count(), n);
    return best;
  };
  const double ratio = GrowthRatio(2000, run);
  EXPECT_LT(ratio, 3.5);
}

// One insertion and removal among n owned components costs work in n;
// freeing the whole tree tells every sibling of every removal (n squared
// calls, by the notification rule) but no more.
TEST(ScalingTest, ComponentNotifications) {
  auto per_call = [](int n) {
    TComponent owner;
    for (int i = 0; i < n; ++i) new TComponent(&owner);
    return Seconds([&] {
      for (int k = 0; k < 2000; ++k) delete new TComponent(&owner);
    });
  };
  // Sizes whose components fit the processor's caches alike.
  const double call_ratio = GrowthRatio(500, per_call);
  EXPECT_LT(call_ratio, 3.5);
  auto tree = [](int n) {
    return Seconds([n] {
      for (int k = 0; k < 10; ++k) {
        TComponent owner;
        for (int i = 0; i < n; ++i) new TComponent(&owner);
      }
    });
  };
  const double tree_ratio = GrowthRatio(400, tree);
  EXPECT_LT(tree_ratio, 6.0);
}

TEST(StreamTest, PositionsNeverReachOutsideTheBuffer) {
  TMemoryStream ms;
  ms.WriteString("hello");
  EXPECT_EQ(ms.Size(), 5);
  EXPECT_EQ(ms.Position(), 5);
  char buf[8] = {};
  EXPECT_EQ(ms.Read(buf, 8), 0);
  EXPECT_EQ(ms.Seek(-2, soFromEnd), 3);
  EXPECT_EQ(ms.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "lo");
  ms.SetPosition(-3);
  EXPECT_EQ(ms.Read(buf, 1), 0);
  EXPECT_EQ(ms.Write("x", 1), 0);
  EXPECT_EQ(ms.Size(), 5);
  EXPECT_EQ(ms.Seek(10, soFromBeginning), 10);
  EXPECT_EQ(ms.Read(buf, 1), 0);
  EXPECT_EQ(ms.Write("!", 1), 1);  // grows, gap zero-filled
  EXPECT_EQ(ms.Size(), 11);
  EXPECT_EQ(ms.DataString(), std::string("hello\0\0\0\0\0!", 11));
  EXPECT_EQ(ms.Read(buf, -1), 0);
  EXPECT_THROW(ms.Seek(0, 7), EStreamError);
  EXPECT_THROW(ms.SetSize(-1), EStreamError);
  ms.SetSize(2);
  EXPECT_EQ(ms.Position(), 2);
  ms.SetPosition(0);
  EXPECT_THROW(ms.ReadBuffer(buf, 3), EReadError);

  TMemoryStream copy;
  copy.CopyFrom(ms, 0);
  EXPECT_EQ(copy.DataString(), "he");
  TStringList sl;
  sl.SetText("a\nb");
  TMemoryStream text;
  sl.SaveToStream(text);
  text.SetPosition(0);
  TStringList back;
  back.LoadFromStream(text);
  EXPECT_TRUE(back.Equals(sl));
}

}  // namespace
}  // namespace rowset

namespace rowset {
namespace {

// A component with a legacy stored value it reads but never writes, and
// one it both reads and writes.
class TLegacy : public TComponent {
 public:
  using TComponent::TComponent;
  bool macros = true;
  std::string note;

 protected:
  void DefineProperties(TFiler* Filer) override {
    TComponent::DefineProperties(Filer);
    Filer->DefineProperty("MacrosEnabled", [this](TReader& r) { macros = r.ReadBoolean(); }, nullptr, false);
    Filer->DefineProperty(
        "Note", [this](TReader& r) { note = r.ReadString(); }, [this](TWriter& w) { w.WriteString(note); },
        !note.empty());
  }
};

TEST(StoredValuesTest, DefinedPropertiesReadAndWrite) {
  TLegacy c;
  TStoredValues stored{{"macrosenabled", Variant(false)}, {"Note", Variant("hi")}, {"Other", Variant(1)}};
  TReader reader(stored);
  EXPECT_EQ(reader.ReadProperties(&c), std::vector<std::string>{"Other"});
  EXPECT_FALSE(c.macros);
  EXPECT_EQ(c.note, "hi");

  TWriter writer;
  TStoredValues written = writer.WriteProperties(&c);
  ASSERT_EQ(written.size(), 1u);  // never writes the legacy value
  EXPECT_EQ(written[0].first, "Note");
  EXPECT_EQ(written[0].second.AsString(), "hi");

  TStoredValues wrong{{"MacrosEnabled", Variant("yes")}};
  TReader bad(wrong);
  EXPECT_THROW(bad.ReadProperties(&c), EReadError);
}

}  // namespace
}  // namespace rowset
