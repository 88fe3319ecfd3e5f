// The table creation script of the datasets, as exact text, without a
// server (the component is never connected).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/MySQLDataset.h"

namespace rowset {
namespace {

class CreateScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<TMySQLServer>();
    ds_ = std::make_unique<TMySQLDataset>();
    ds_->SetServer(server_.get());
    ds_->SetTableName("t");
    ds_->SetDatabaseName("d");
  }
  void TearDown() override {
    ds_.reset();
    server_.reset();
  }
  TFieldDef* Field(const std::string& Name, TFieldType Type, int Size = 0, bool Required = false) {
    return ds_->FieldDefs()->Add(Name, Type, Size, Required);
  }
  // The column type line of one field named c.
  std::string TypeLine(TFieldType Type, int Size, bool Required = false, bool Fixed = false,
                       int Precision = 0) {
    ds_->FieldDefs()->Clear();
    TFieldDef* def = Field("c", Type, Size, Required);
    if (Fixed) def->SetAttributes(def->Attributes() + TFieldAttributes{faFixed});
    def->SetPrecision(Precision);
    Field("z", ftInteger);  // keeps c's line whole (the last line loses its comma)
    TStringList lines;
    lines.SetText(ds_->CreateTable(false));
    return lines.Get(3);
  }

  std::unique_ptr<TMySQLServer> server_;
  std::unique_ptr<TMySQLDataset> ds_;
};

TEST_F(CreateScriptTest, NoDefinitionsGiveTheIdTable) {
  EXPECT_EQ(ds_->CreateTable(false),
            "use d;\r\n"
            "create  table if not exists t (\r\n"
            "ID int not null auto_increment,primary key (ID)\r\n"
            ");\r\n");
  TMySQLDatasetOptions options = ds_->Options();
  ds_->SetOptions(options + TMySQLDatasetOptions{doCreateTemp, doDropIfExists});
  EXPECT_EQ(ds_->CreateTable(false),
            "use d;\r\n"
            "drop table if exists t;\r\n"
            "create temporary table if not exists t (\r\n"
            "ID int not null auto_increment,primary key (ID)\r\n"
            ");\r\n");
}

TEST_F(CreateScriptTest, ColumnTypeLines) {
  EXPECT_EQ(TypeLine(ftString, 50, true), " varchar(50) not null,");
  EXPECT_EQ(TypeLine(ftString, 50), " varchar(50) ,");
  EXPECT_EQ(TypeLine(ftString, 300), " text ,");
  EXPECT_EQ(TypeLine(ftString, 70000), " mediumtext ,");
  EXPECT_EQ(TypeLine(ftMemo, 16777216), " longtext ,");
  EXPECT_EQ(TypeLine(ftString, 10, false, true), " char(10) ,");
  EXPECT_EQ(TypeLine(ftFixedChar, 10), " char(10) ,");
  EXPECT_EQ(TypeLine(ftCurrency, 2, false, false, 15), " decimal(15,2) ,");
  EXPECT_EQ(TypeLine(ftAutoInc, 0, true), " int not null auto_increment,");
  EXPECT_EQ(TypeLine(ftSmallint, 0, true), " smallint not null,");
  EXPECT_EQ(TypeLine(ftWord, 0), " smallint unsigned ,");  // 16-bit unsigned, every value fits
  EXPECT_EQ(TypeLine(ftLargeint, 0), " bigint ,");
  EXPECT_EQ(TypeLine(ftFloat, 0), " double ,");  // FLOAT would keep about 7 digits
  EXPECT_EQ(TypeLine(ftDate, 0), " date ,");
  EXPECT_EQ(TypeLine(ftTime, 0), " time ,");
  EXPECT_EQ(TypeLine(ftDateTime, 0), " datetime ,");
  EXPECT_EQ(TypeLine(ftTimeStamp, 0), " timestamp ,");
  EXPECT_EQ(TypeLine(ftBoolean, 0), " tinyint(1) ,");
  EXPECT_EQ(TypeLine(ftBytes, 16), " binary(16) ,");
  EXPECT_EQ(TypeLine(ftVarBytes, 16), " varbinary(16) ,");
  EXPECT_EQ(TypeLine(ftVarBytes, 300), " blob ,");
  EXPECT_EQ(TypeLine(ftBlob, 1000), " blob ,");
  EXPECT_EQ(TypeLine(ftGraphic, 100000), " mediumblob ,");
  EXPECT_EQ(TypeLine(ftBlob, 20000000), " longblob ,");
  EXPECT_EQ(TypeLine(ftBCD, 2, false, false, 12), " decimal(12,2) ,");
  EXPECT_EQ(TypeLine(ftBCD, 8), " decimal(32,8) ,");
  // A currency without a precision is still a valid decimal.
  EXPECT_EQ(TypeLine(ftCurrency, 2), " decimal(19,2) ,");
  EXPECT_EQ(TypeLine(ftCurrency, 40, false, false, 10), " decimal(30,30) ,");
  // Wide strings hold any character.
  EXPECT_EQ(TypeLine(ftWideString, 10, true), " varchar(10) character set utf8mb4 not null,");
  EXPECT_EQ(TypeLine(ftWideString, 300), " text character set utf8mb4 ,");
  EXPECT_EQ(TypeLine(ftGuid, 38), " varchar(255) ,");
  // Size 0 means no limit for memos and blobs.
  EXPECT_EQ(TypeLine(ftMemo, 0), " text ,");
  EXPECT_EQ(TypeLine(ftFmtMemo, 0), " text ,");
  EXPECT_EQ(TypeLine(ftBlob, 0), " blob ,");
  EXPECT_EQ(TypeLine(ftGraphic, 0), " blob ,");
}

TEST_F(CreateScriptTest, FieldsAndIndexes) {
  Field("id", ftAutoInc);
  Field("a", ftString, 20, true);
  Field("b", ftInteger);
  ds_->IndexDefs()->Add("", "id", {ixPrimary});
  ds_->IndexDefs()->Add("ix", "a;b", {ixUnique});
  ds_->IndexDefs()->Add("plain", "b", {});
  EXPECT_EQ(ds_->CreateTable(false),
            "use d;\r\n"
            "create  table if not exists t (\r\n"
            "id\r\n int not null auto_increment,\r\n"
            "a\r\n varchar(20) not null,\r\n"
            "b\r\n int ,\r\n"
            " primary key (\r\nid),\r\n"
            " unique index ix (\r\na,b),\r\n"
            " index plain (\r\nb)\r\n"
            ");\r\n");
}

TEST_F(CreateScriptTest, LastColumnLosesItsComma) {
  Field("a", ftString, 5, true);
  EXPECT_EQ(ds_->CreateTable(false),
            "use d;\r\ncreate  table if not exists t (\r\na\r\n varchar(5) not null\r\n);\r\n");
}

TEST_F(CreateScriptTest, NamesThatAreNotPlainIdentifiersAreBackQuoted) {
  ds_->SetTableName("select");
  ds_->SetDatabaseName("my-db");
  Field("order", ftInteger);
  Field("first name", ftString, 10);
  Field("we`ird", ftString, 10);
  Field("123", ftInteger);
  Field("a.b", ftInteger);
  Field("plain_1", ftInteger);
  ds_->IndexDefs()->Add("key", "order; first name", {});
  EXPECT_EQ(ds_->CreateTable(false),
            "use `my-db`;\r\n"
            "create  table if not exists `select` (\r\n"
            "`order`\r\n int ,\r\n"
            "`first name`\r\n varchar(10) ,\r\n"
            "`we``ird`\r\n varchar(10) ,\r\n"
            "`123`\r\n int ,\r\n"
            "`a.b`\r\n int ,\r\n"
            "plain_1\r\n int ,\r\n"
            " index `key` (\r\n`order`,`first name`)\r\n"
            ");\r\n");
  // A qualified table name keeps its dot; each part is quoted by itself.
  ds_->FieldDefs()->Clear();
  ds_->SetTableName("other-db.t-1");
  EXPECT_NE(ds_->CreateTable(false).find("\r\ncreate  table if not exists `other-db`.`t-1` (\r\n"),
            std::string::npos);
}

TEST_F(CreateScriptTest, NothingWithoutTableOrDatabase) {
  ds_->SetTableName("");
  EXPECT_EQ(ds_->CreateTable(true), "");
  ds_->SetTableName("t");
  ds_->SetDatabaseName("");
  // Neither the dataset nor the component names a database: nothing runs
  // (the component is never connected by this).
  EXPECT_EQ(ds_->CreateTable(true), "");
  EXPECT_FALSE(server_->GetConnected());
  server_->SetDatabaseName("fromserver");
  EXPECT_EQ(ds_->CreateTable(false).substr(0, 17), "use fromserver;\r\n");
}

TEST_F(CreateScriptTest, WithoutAConnectionComponent) {
  TMySQLDataset alone;
  alone.SetTableName("key");
  alone.SetDatabaseName("d");
  EXPECT_EQ(alone.CreateTable(false),
            "use d;\r\ncreate  table if not exists `key` (\r\n"
            "ID int not null auto_increment,primary key (ID)\r\n);\r\n");
}

}  // namespace
}  // namespace rowset
