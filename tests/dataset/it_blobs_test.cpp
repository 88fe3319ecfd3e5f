// Blob and memo fields through blob streams against the test server: exact
// bytes read in pieces, write / read-write / seek-past-end streams posted
// and read back as root, a 16 MB LONGBLOB, the errors at stream creation,
// and loading that grows with the value's size only; binary values sent as
// escaped literals of about their own size (40 MiB under a 64 MiB packet).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

using ::testing::HasSubstr;

// Byte i of a pattern value is i mod 251 (a prime, so a piece read from a
// wrong offset shows), NUL bytes included.
std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

// Bytes of every value, in no pattern (xorshift), so that every byte that
// needs escaping occurs many times.
std::string Noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 2463534242u;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// What the server's CRC32() gives for the bytes.
std::string Crc(const std::string& s) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size()));
  return std::to_string(crc);
}

// The same value computed by the server.
std::string PatternSql(size_t n) {
  static const char* hex = "0123456789ABCDEF";
  std::string block;
  for (int i = 0; i < 251; ++i) {
    block += hex[i >> 4];
    block += hex[i & 15];
  }
  return "LEFT(REPEAT(UNHEX('" + block + "'), " + std::to_string(n / 251 + 1) + "), " +
         std::to_string(n) + ")";
}

class BlobsTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    Sql("DROP TABLE IF EXISTS bl;"
        "CREATE TABLE bl (id INT PRIMARY KEY, b LONGBLOB, m TEXT, v VARCHAR(600)) "
        "DEFAULT CHARSET=utf8mb4;"
        "INSERT INTO bl VALUES (1, " + PatternSql(1 << 20) + ", 'memo', 'long varchar'),"
        " (2, NULL, NULL, NULL), (3, 'abcdef', '', 'x');");
  }

  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  std::unique_ptr<TMySQLDataset> Open(const std::string& where = "") {
    auto ds = NewDataset<TMySQLDataset>("select id, b, m, v from bl " + where + " order by id");
    ds->Open();
    return ds;
  }
};

TEST_F(BlobsTest, ReadsExactBytesInPieces) {
  auto ds = Open();
  EXPECT_EQ(ds->FieldByName("b")->DataType(), ftBlob);
  EXPECT_EQ(ds->FieldByName("m")->DataType(), ftMemo);
  EXPECT_EQ(ds->FieldByName("v")->DataType(), ftMemo);  // 600 characters of 4 bytes

  std::unique_ptr<TStream> s = ds->CreateBlobStream(ds->FieldByName("b"), bmRead);
  EXPECT_EQ(s->Size(), 1 << 20);
  std::string got;
  char piece[4096];
  int64_t n;
  while ((n = s->Read(piece, sizeof piece)) > 0) {
    EXPECT_EQ(n, 4096);
    got.append(piece, static_cast<size_t>(n));
  }
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(got == Pattern(1 << 20));
  EXPECT_TRUE(ds->FieldByName("b")->AsString() == got);
  // Seeking is not clamped; outside the value nothing is read.
  EXPECT_EQ(s->Seek(-10, soFromBeginning), -10);
  EXPECT_EQ(s->Read(piece, 4), 0);
  EXPECT_EQ(s->Seek(-2, soFromEnd), (1 << 20) - 2);
  EXPECT_EQ(s->Read(piece, 4), 2);
  EXPECT_EQ(ds->FieldByName("m")->AsString(), "memo");
  EXPECT_EQ(ds->FieldByName("v")->AsString(), "long varchar");

  ds->Next();  // all NULL
  std::unique_ptr<TStream> null_stream = ds->CreateBlobStream(ds->FieldByName("b"), bmRead);
  EXPECT_EQ(null_stream->Size(), 0);
  EXPECT_EQ(null_stream->Read(piece, 1), 0);
  EXPECT_TRUE(ds->FieldByName("b")->IsNull());
  EXPECT_EQ(ds->FieldByName("m")->AsString(), "");
}

TEST_F(BlobsTest, WriteReadWriteAndSeekPastEndArePosted) {
  auto ds = Open("where id = 3");
  TField* b = ds->FieldByName("b");
  ds->Edit();
  {
    // A write stream starts empty.
    std::unique_ptr<TStream> s = ds->CreateBlobStream(b, bmWrite);
    EXPECT_EQ(s->Size(), 0);
    s->WriteString("XY");
  }
  EXPECT_TRUE(static_cast<TBlobField*>(b)->Modified());
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(b) FROM bl WHERE id = 3"), "5859");

  ds->Edit();
  {
    // A read-write stream keeps the value and overwrites from 0; it reads
    // its own writes; past the end the gap is zero bytes.
    std::unique_ptr<TStream> s = ds->CreateBlobStream(b, bmReadWrite);
    EXPECT_EQ(s->Size(), 2);
    s->WriteString("Q");
    s->Seek(0, soFromBeginning);
    EXPECT_EQ(s->ReadString(2), "QY");
    s->Seek(2, soFromEnd);
    s->WriteString("Z");
    EXPECT_EQ(s->Size(), 5);
  }
  EXPECT_EQ(b->AsString(), std::string("QY\0\0Z", 5));
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(b) FROM bl WHERE id = 3"), "515900005A");

  // An empty value stays empty, not NULL; Cancel restores the value.
  ds->Edit();
  b->SetAsString("");
  ds->Post();
  EXPECT_EQ(Read("SELECT b IS NULL, LENGTH(b) FROM bl WHERE id = 3"), "0\t0");
  ds->Edit();
  b->SetAsString("dropped");
  ds->Cancel();
  EXPECT_EQ(b->AsString(), "");
  EXPECT_EQ(Read("SELECT LENGTH(b) FROM bl WHERE id = 3"), "0");

  // Clear and a NULL variant store NULL, on a blob and on a memo.
  ds->Edit();
  b->Clear();
  ds->FieldByName("m")->SetAsVariant(Null());
  EXPECT_TRUE(b->IsNull());
  ds->Post();
  EXPECT_EQ(Read("SELECT b IS NULL, m IS NULL FROM bl WHERE id = 3"), "1\t1");
  ds->Edit();
  b->SetAsString("");
  ds->Post();
  EXPECT_EQ(Read("SELECT b IS NULL, LENGTH(b) FROM bl WHERE id = 3"), "0\t0");

  // Memos (TEXT and a long VARCHAR) through the same path, and an insert.
  ds->Edit();
  ds->FieldByName("m")->SetAsString("it's\\ a memo");
  ds->FieldByName("v")->SetAsString(std::string(590, 'w'));
  ds->Post();
  EXPECT_EQ(Read("SELECT m, LENGTH(v) FROM bl WHERE id = 3"), "it's\\\\ a memo\t590");
  ds->Append();
  ds->FieldByName("id")->SetAsInteger(4);
  b->SetAsString(std::string("\0\xff'\\", 4));
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(b) FROM bl WHERE id = 4"), "00FF275C");
  EXPECT_EQ(b->AsString(), std::string("\0\xff'\\", 4));
}

// A stream still open when its record is posted has its writes in the
// post (edit and insert); Cancel drops them; a stream may outlive its
// dataset. None of this reaches the application's exception handler.
TEST_F(BlobsTest, StreamsOpenAtPostArePosted) {
  int handled = 0;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr) { ++handled; });
  struct Reset {
    ~Reset() { SetApplicationExceptionHandler(nullptr); }
  } reset;
  auto ds = Open("where id = 3");
  TField* b = ds->FieldByName("b");
  ds->Edit();
  std::unique_ptr<TStream> s = ds->CreateBlobStream(b, bmWrite);
  s->WriteString("open at post");
  ds->Post();
  EXPECT_EQ(Read("SELECT b FROM bl WHERE id = 3"), "open at post");
  EXPECT_EQ(b->AsString(), "open at post");
  s.reset();

  ds->Append();
  ds->FieldByName("id")->SetAsInteger(5);
  s = ds->CreateBlobStream(b, bmWrite);
  s->WriteString(std::string("new\0row", 7));
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(b) FROM bl WHERE id = 5"), "6E657700726F77");
  s.reset();

  // CheckBrowseMode (as navigation does) posts a record changed only
  // through an open stream.
  ds->First();
  ds->Edit();
  s = ds->CreateBlobStream(b, bmReadWrite);
  s->WriteString("O");
  ds->CheckBrowseMode();
  EXPECT_EQ(Read("SELECT b FROM bl WHERE id = 3"), "Open at post");
  s.reset();

  ds->Edit();
  s = ds->CreateBlobStream(b, bmWrite);
  s->WriteString("dropped");
  ds->Cancel();
  s.reset();
  EXPECT_EQ(b->AsString(), "Open at post");
  EXPECT_EQ(Read("SELECT b FROM bl WHERE id = 3"), "Open at post");

  ds->Edit();
  s = ds->CreateBlobStream(b, bmWrite);
  s->WriteString("gone");
  ds.reset();
  char c;
  EXPECT_EQ(s->Read(&c, 1), 0);
  s.reset();
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(Read("SELECT b FROM bl WHERE id = 3"), "Open at post");
}

TEST_F(BlobsTest, WritingNeedsAnEditableField) {
  auto ds = Open();
  TField* b = ds->FieldByName("b");
  try {
    ds->CreateBlobStream(b, bmWrite);
    ADD_FAILURE() << "no error in browse state";
  } catch (const EMySQLError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Dataset not in edit or insert mode"));
  }
  ds->Edit();
  b->SetReadOnly(true);
  try {
    ds->CreateBlobStream(b, bmReadWrite);
    ADD_FAILURE() << "no error for a read-only field";
  } catch (const EMySQLError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Field is readonly"));
  }
  // A read stream writes nothing: WriteBuffer reports it.
  std::unique_ptr<TStream> r = ds->CreateBlobStream(b, bmRead);
  EXPECT_THROW(r->WriteString("no"), EWriteError);
  r.reset();
  ds->Cancel();
  EXPECT_TRUE(b->AsString() == Pattern(1 << 20));
  EXPECT_THROW(ds->CreateBlobStream(ds->FieldByName("id"), bmRead), EInvalidCast);
}

TEST_F(BlobsTest, FailedLoadLeavesTheValue) {
  // A source that fails after the first piece.
  class Failing : public TStream {
   public:
    int64_t Read(void* Buffer, int64_t Count) override {
      if (calls_++ > 0) throw EReadError("source failed");
      std::memset(Buffer, 'x', static_cast<size_t>(Count));
      return Count;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, uint16_t) override { return 0; }

   private:
    int calls_ = 0;
  } failing;
  auto ds = Open("where id = 3");
  ds->Edit();
  EXPECT_THROW(static_cast<TBlobField*>(ds->FieldByName("b"))->LoadFromStream(failing), EReadError);
  EXPECT_EQ(ds->FieldByName("b")->AsString(), "abcdef");
}

TEST_F(BlobsTest, LongBlobOf16MBRoundTrips) {
  // The statement and the row travel as several packets.
  const size_t size = 16u << 20;
  const std::string value = Pattern(size);
  {
    auto ds = Open();
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(16);
    TMemoryStream source;
    source.WriteString(value);
    source.SetPosition(0);
    static_cast<TBlobField*>(ds->FieldByName("b"))->LoadFromStream(source);
    ds->Post();
  }
  EXPECT_EQ(Read("SELECT LENGTH(b), b = " + PatternSql(size) + " FROM bl WHERE id = 16"),
            std::to_string(size) + "\t1");
  auto ds = Open("where id = 16");
  TMemoryStream out;
  static_cast<TBlobField*>(ds->FieldByName("b"))->SaveToStream(out);
  EXPECT_EQ(out.Size(), static_cast<int64_t>(size));
  EXPECT_TRUE(out.DataString() == value);
}

// A binary value travels as an escaped literal, so an edit's statement is
// about as long as the value (hexadecimal would double it); in a session
// with NO_BACKSLASH_ESCAPES only quotes are doubled and NUL, backslash and
// line breaks go as they are. The server holds the exact bytes either way.
TEST_F(BlobsTest, BinaryValuesGoAsEscapedLiteralsOfTheirOwnSize) {
  const std::string value = Noise(1u << 20) + std::string("\0'\\\"\r\n\x1a\xff", 8);
  for (bool no_backslash : {false, true}) {
    SCOPED_TRACE(no_backslash ? "NO_BACKSLASH_ESCAPES" : "default sql_mode");
    auto ds = Open("where id = 3");
    ds->ExecSQL(no_backslash ? "set session sql_mode = concat(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"
                             : "set session sql_mode = replace(@@sql_mode, 'NO_BACKSLASH_ESCAPES', '')",
                false, false, "", "");
    std::string sent;
    ds->OnExecSQL = [&](TMySQLDatasetBase*, std::string& sql, bool&) { sent = sql; };
    ds->Edit();
    const std::string stored = value + (no_backslash ? "n" : "b");
    ds->FieldByName("b")->SetAsString(stored);
    ds->Post();
    EXPECT_LT(sent.size(), stored.size() * 21 / 20);
    EXPECT_THAT(sent, HasSubstr("_binary'"));
    EXPECT_EQ(Read("SELECT LENGTH(b), CRC32(b) FROM bl WHERE id = 3"),
              std::to_string(stored.size()) + "\t" + Crc(stored));
    // The held value is used as the old value of the next change.
    ds->Edit();
    ds->FieldByName("m")->SetAsString("after");
    ds->Post();
    EXPECT_EQ(Read("SELECT m, CRC32(b) FROM bl WHERE id = 3"), "after\t" + Crc(stored));
    ds->Close();
    auto again = Open("where id = 3");
    EXPECT_TRUE(again->FieldByName("b")->AsString() == stored);
  }
}

// 40 MiB of binary data fit into one statement under a 64 MiB
// max_allowed_packet (in hexadecimal they would need 80 MiB).
TEST_F(BlobsTest, Blob40MiBFitsA64MiBPacket) {
  const std::string before = Read("SELECT @@global.max_allowed_packet");
  RootSql("SET GLOBAL max_allowed_packet = 64 * 1024 * 1024;");
  struct Restore {
    std::string value;
    ~Restore() { RootSql("SET GLOBAL max_allowed_packet = " + value + ";"); }
  } restore{before};
  const std::string value = Noise(40u << 20);
  {
    auto ds = Open("where id = 2");
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(40);
    TMemoryStream source;
    source.WriteString(value);
    source.SetPosition(0);
    static_cast<TBlobField*>(ds->FieldByName("b"))->LoadFromStream(source);
    ds->Post();
  }
  EXPECT_EQ(Read("SELECT LENGTH(b), CRC32(b) FROM bl WHERE id = 40"),
            std::to_string(value.size()) + "\t" + Crc(value));
  auto ds = Open("where id = 40");
  EXPECT_TRUE(ds->FieldByName("b")->AsString() == value);
}

// Loading keeps the pieces in the stream and commits once, so a load costs
// in proportion to the value's size. Each size's time is taken relative to
// a plain build of the same value in 8 KB pieces plus the two copies a
// commit makes, which meets the same caches: linear loading keeps that
// relative cost the same for 4 MB and 16 MB; committing each piece would
// make it four times higher at 16 MB.
double RelativeLoadCost(TMySQLDataset& ds, const std::string& value) {
  TMemoryStream source;
  source.WriteString(value);
  double load = 1e9, plain = 1e9;
  for (int run = 0; run < 3; ++run) {
    source.SetPosition(0);
    ds.Edit();
    auto start = std::chrono::steady_clock::now();
    static_cast<TBlobField*>(ds.FieldByName("b"))->LoadFromStream(source);
    load = std::min(load, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(ds.FieldByName("b")->AsString().size(), value.size());
    ds.Cancel();

    source.SetPosition(0);
    start = std::chrono::steady_clock::now();
    std::string built;
    char piece[8192];
    int64_t n;
    while ((n = source.Read(piece, sizeof piece)) > 0) built.append(piece, static_cast<size_t>(n));
    std::string copy1 = built, copy2 = copy1;
    plain = std::min(plain, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(copy2.size(), value.size());
  }
  return load / plain;
}

TEST_F(BlobsTest, LoadScalesWithSize) {
  auto ds = Open("where id = 2");
  const std::string small = Pattern(4u << 20), large = Pattern(16u << 20);
  double ratio = 1e9;
  for (int attempt = 0; attempt < 3 && ratio >= 2.5; ++attempt) {
    ratio = std::min(ratio, RelativeLoadCost(*ds, large) / RelativeLoadCost(*ds, small));
  }
  EXPECT_LT(ratio, 2.5);
}

// Four-byte characters in a utf8mb4 TEXT, on every client without any
// "SET NAMES" of the application.
TEST_F(BlobsTest, Utf8mb4TextKeepsFourByteCharacters) {
  Sql("UPDATE bl SET m = _utf8mb4 X'F09F98804142' WHERE id = 1;");
  auto ds = Open("where id = 1");
  EXPECT_EQ(ds->FieldByName("m")->AsString(), "\xF0\x9F\x98\x80" "AB");
  ds->Edit();
  ds->FieldByName("m")->SetAsString("\xC3\xA9\xF0\x9D\x84\x9E");
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(m), CHAR_LENGTH(m) FROM bl WHERE id = 1"), "C3A9F09D849E\t2");
}

TEST_F(BlobsTest, EnumAndSetStringFields) {
  Sql("DROP TABLE IF EXISTS es;"
      "CREATE TABLE es (id INT PRIMARY KEY, e ENUM('S','M','XL'), s SET('A','ABC','B'), n VARCHAR(5));"
      "INSERT INTO es VALUES (1, 'XL', 'ABC,B', 'x');");
  for (bool retrieve : {false, true}) {
    auto ds = NewDataset<TMySQLDataset>("select e, s, n from es");
    if (retrieve) ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doRetrieveFieldValues});
    ds->Open();
    auto* e = dynamic_cast<TMySQLStringField*>(ds->FieldByName("e"));
    auto* set = dynamic_cast<TMySQLStringField*>(ds->FieldByName("s"));
    auto* n = dynamic_cast<TMySQLStringField*>(ds->FieldByName("n"));
    ASSERT_TRUE(e != nullptr && set != nullptr && n != nullptr);
    EXPECT_EQ(e->StringType(), stEnum);
    EXPECT_EQ(set->StringType(), stSet);
    EXPECT_EQ(n->StringType(), stNormal);
    if (retrieve) {
      EXPECT_EQ(e->StringValues()->CommaText(), "S,M,XL");
      EXPECT_EQ(set->StringValues()->Count(), 3);
      EXPECT_EQ(set->StringValues()->Get(1), "ABC");
    } else {
      EXPECT_EQ(e->StringValues()->Count(), 0);
    }
    EXPECT_EQ(n->StringValues()->Count(), 0);
    // A substring test: A is found inside ABC although A is not in the set.
    EXPECT_TRUE(set->StrInValue("a"));
    EXPECT_TRUE(set->StrInValue("c,b"));
    EXPECT_FALSE(set->StrInValue("M"));
    EXPECT_TRUE(e->StrInValue("xl"));
  }
  // A field of no dataset keeps what it was given.
  TMySQLStringField loose;
  loose.SetStringType(stSet);
  EXPECT_EQ(loose.StringType(), stSet);
  TStringList members;
  members.SetCommaText("one,two");
  loose.SetStringValues(&members);
  EXPECT_EQ(loose.StringValues()->CommaText(), "one,two");
}

}  // namespace
}  // namespace rowset::test
