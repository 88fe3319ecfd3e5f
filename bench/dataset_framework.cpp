// Cost of the dataset framework's record window: walking every record of an
// in-memory dataset and reading two fields, against reading the same values
// straight from the rows (the reference), with a window of one record and
// with a grid-sized window of 20.
#include <chrono>
#include <cstdio>
#include <memory>

#include "host/DB.h"
#include "tests/common/MemDataset.h"

using namespace rowset;

namespace {

constexpr int kRows = 200000;

class Window : public TDataLink {
 public:
  explicit Window(int n) { SetBufferCount(n); }
};

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  test::TMemDataset ds;
  ds.FieldDefs()->Add("id", ftInteger);
  ds.FieldDefs()->Add("name", ftString, 20);
  for (int i = 0; i < kRows; ++i) ds.AddRow({Variant(i), Variant("name " + std::to_string(i))});

  // Reference: the same values read directly.
  auto start = std::chrono::steady_clock::now();
  int64_t sum = 0;
  size_t len = 0;
  for (const auto& row : ds.Rows()) {
    sum += row.values[0].AsInteger();
    len += row.values[1].AsString().size();
  }
  double reference = Seconds(start);

  auto walk = [&](int window) {
    TDataSource src;
    Window link(window);
    link.SetDataSource(&src);
    src.SetDataSet(&ds);
    ds.Open();
    TField* id = ds.FieldByName("id");
    TField* name = ds.FieldByName("name");
    auto t0 = std::chrono::steady_clock::now();
    int64_t s = 0;
    size_t l = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      s += id->AsInteger();
      l += name->AsString().size();
    }
    double elapsed = Seconds(t0);
    ds.Close();
    if (s != sum || l != len) std::printf("mismatch!\n");
    return elapsed;
  };
  double w1 = walk(1);
  double w20 = walk(20);
  std::printf("rows: %d\n", kRows);
  std::printf("reference (direct row reads): %.1f ns/record\n", reference * 1e9 / kRows);
  std::printf("window 1:  %.1f ns/record, %.2fx reference\n", w1 * 1e9 / kRows, w1 / reference);
  std::printf("window 20: %.1f ns/record, %.2fx reference\n", w20 * 1e9 / kRows, w20 / reference);
  return 0;
}
