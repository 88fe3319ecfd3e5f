// Splitting a large dump-like script into statements.
//
// Generates a script of INSERT statements whose quoted values hold ";",
// quotes, escaped line breaks and comment markers, with line and block
// comments and statements spread over several lines, then times ParseScript
// on it at three sizes (its throughput must not fall as the script grows)
// and, as the reference, a plain byte scan (memchr for ";") over the same
// text.
//
//   bench_parse_script [megabytes]   (default 50)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/Classes.h"
#include "parser/MySQLParser.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string MakeScript(size_t bytes) {
  std::string s;
  s.reserve(bytes + 4096);
  s += "-- dump of table `t`\r\n--\r\n/*!40101 SET NAMES utf8mb4 */;\r\n";
  unsigned row = 0;
  while (s.size() < bytes) {
    if (row % 50 == 0) s += "# batch\r\n/* block\r\n comment; */\r\n";
    s += "INSERT INTO `t` (`id`, `name`, `note`) VALUES\r\n";
    for (int i = 0; i < 8; ++i, ++row) {
      s += "  (" + std::to_string(row) + ", 'name;" + std::to_string(row) +
           "', 'it\\'s a \"value\"; -- not a comment\\nsecond line # nor this'),\r\n";
    }
    s += "  (" + std::to_string(row++) + ", NULL, 0x1F2E3D) -- last\r\n;\r\n";
  }
  return s;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
  if (mb == 0) mb = 50;
  const size_t sizes[] = {mb * (1 << 20) / 10, mb * (1 << 20) / 2, mb * (1 << 20)};
  for (size_t bytes : sizes) {
    std::string script = MakeScript(bytes);
    const double megabytes = script.size() / 1048576.0;

    rowset::TStringList lines;
    lines.SetText(script);
    auto t0 = Clock::now();
    rowset::ParseScript(lines);
    auto t1 = Clock::now();
    const double parse = Seconds(t0, t1);

    // The tokenizer alone, configured as for scripts but for line breaks.
    rowset::TBasicParser tokenizer(script);
    tokenizer.Operators.SetCommaText("+,-,*,/,=,||,&&,&,<>,|,<<,>>,>,<,~,!,%");
    tokenizer.HexPrefix = "0x";
    tokenizer.LineComments.SetCommaText("\"-- \",#");
    tokenizer.CommentStarts.Add("/*");
    tokenizer.CommentEnds.Add("*/");
    tokenizer.MacroStarts.Add("[");
    tokenizer.MacroEnds.Add("]");
    size_t tokens = 0;
    auto k0 = Clock::now();
    while (tokenizer.NextToken(false) != rowset::tkEnd) ++tokens;
    auto k1 = Clock::now();
    const double tokenize = Seconds(k0, k1);

    // Reference: count the semicolons with memchr, a few rounds.
    const int rounds = 5;
    size_t count = 0;
    auto r0 = Clock::now();
    for (int r = 0; r < rounds; ++r) {
      const char* p = script.data();
      const char* e = p + script.size();
      while ((p = static_cast<const char*>(std::memchr(p, ';', e - p))) != nullptr) {
        ++count;
        ++p;
      }
    }
    auto r1 = Clock::now();
    const double scan = Seconds(r0, r1) / rounds;

    std::printf(
        "script %6.1f MB: ParseScript %6.1f MB/s (%d statements, %.3f s); "
        "tokens alone %6.1f MB/s (%zu tokens); memchr scan %7.1f MB/s (%zu ';'); "
        "ParseScript/memchr time ratio %.1f\n",
        megabytes, megabytes / parse, lines.Count(), parse, megabytes / tokenize, tokens,
        megabytes / scan, count / rounds, parse / scan);
  }
  return 0;
}
