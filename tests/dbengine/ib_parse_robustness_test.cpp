// Randomized robustness: many random and mutated inputs through the scanners, the clause
// search and the parameter parser. Under AddressSanitizer any out-of-bounds read, leak or
// endless loop shows here; the seed is fixed so that a failure repeats.
#include <gtest/gtest.h>

#include <random>

#include "ib_parse_fuzz_driver.h"

namespace pelvar {
namespace {

const char* const kSeeds[] = {
    "SELECT A, B FROM T WHERE B = :B AND C = ? ORDER BY A",
    "SELECT FIRST 10 SKIP :S DISTINCT A, 'x,y' AS \"q;r\" FROM T /* c */ WHERE X = 'it''s' -- n\n ROWS 5",
    "EXECUTE BLOCK (X INT = :X) RETURNS (Y INT) AS BEGIN Y = :X; SUSPEND; END",
    "SELECT * FROM A LEFT JOIN B ON A.X = B.X, PROC(1, 'a)') P, (SELECT 1 FROM R) D",
    "CONNECT 'localhost:/x.fdb' USER 'SYSDBA' PASSWORD 'masterkey' ROLE 'R'",
    "REQUIRED;NOCASE=UPPER\\;X#37;DEFAULT=#",
    "T.NAME=VARCHAR(40) NOT NULL",
    "SELECT <<COLS>> FROM <<TAB>> FOR UPDATE OF A, \"B\" WITH LOCK",
    "SELECT A FROM T UNION SELECT B FROM U WHERE [x] GROUP BY 1 HAVING COUNT(*) > 1 PLAN (T NATURAL)",
};

const char* const kTokens[] = {
    "SELECT", "FROM", "WHERE", "ORDER", "BY", "GROUP", "FOR", "UPDATE", "UNION", "ROWS", "FIRST",
    "SKIP", "DISTINCT", "EXECUTE", "BLOCK", "BEGIN", "END", "CASE", "JOIN", "ON", "AS", "OF",
    "'", "\"", "''", "--", "//", "/*", "*/", "(", ")", "[", "]", ",", ";", ":", "?", "*", "=",
    "<<", ">>", "\\", "#", "#3", "\r\n", "\n", "\r", " ", "\t", "A", "x1", "1", "%", "-", "||",
    "\x00", "\xE8", "\xFF",
};

std::string RandomBytes(std::mt19937& rng) {
  std::uniform_int_distribution<int> len_d(0, 80), byte_d(0, 255);
  std::string s(static_cast<size_t>(len_d(rng)), '\0');
  for (char& c : s) c = static_cast<char>(byte_d(rng));
  return s;
}

std::string RandomTokens(std::mt19937& rng) {
  const size_t n_tokens = sizeof(kTokens) / sizeof(kTokens[0]);
  std::uniform_int_distribution<size_t> count_d(0, 40), tok_d(0, n_tokens - 1);
  std::string s;
  for (size_t i = count_d(rng); i > 0; --i) {
    const size_t t = tok_d(rng);
    s += t == n_tokens - 3 ? std::string(1, '\0') : std::string(kTokens[t]);
    if (rng() % 3 == 0) s += ' ';
  }
  return s;
}

std::string Mutate(std::string s, std::mt19937& rng) {
  const size_t n_tokens = sizeof(kTokens) / sizeof(kTokens[0]);
  for (int k = static_cast<int>(rng() % 6); k >= 0; --k) {
    const size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 4) {
      case 0:  // insert a token
        s.insert(pos, kTokens[rng() % n_tokens]);
        break;
      case 1:  // delete a stretch
        if (!s.empty()) s.erase(pos, rng() % 8);
        break;
      case 2:  // flip a byte
        if (pos < s.size()) s[pos] = static_cast<char>(rng() % 256);
        break;
      default:  // cut the text
        s.resize(pos);
    }
  }
  return s;
}

TEST(IBParseRobustness, RandomAndMutatedInputs) {
  std::mt19937 rng(20081224);
  std::string last;
  for (int i = 0; i < 1200; ++i) {
    std::string input;
    switch (i % 3) {
      case 0:
        input = RandomBytes(rng);
        break;
      case 1:
        input = RandomTokens(rng);
        break;
      default:
        input = Mutate(kSeeds[rng() % (sizeof(kSeeds) / sizeof(kSeeds[0]))], rng);
    }
    last = input;
    fuzz::RunSqlToolkit(input, [&](const char* what) {
      ADD_FAILURE() << what << " for input of " << last.size() << " bytes: " << ::testing::PrintToString(last);
    });
    if (HasFailure()) break;
  }
}

TEST(IBParseRobustness, EdgeInputs) {
  auto fail = [](const char* what) { ADD_FAILURE() << what; };
  for (const char* s : {"", "'", "\"", "-", "--", "/", "/*", "*/", "?", ":", "(", ")", "[", "]", "#",
                        "\\", "<<", "SELECT", "SELECT FIRST", "EXECUTE BLOCK", "FROM (", "X=NUMERIC(",
                        "CONNECT '", "SELECT * FROM T WHERE A=:", "SELECT :\"", "a--\r", "?\"x\"."}) {
    fuzz::RunSqlToolkit(s, fail);
  }
  fuzz::RunSqlToolkit(std::string(5000, '('), fail);
  fuzz::RunSqlToolkit(std::string(5000, '\''), fail);
  std::string long_sql = "SELECT ";
  for (int i = 0; i < 500; ++i) long_sql += "A" + std::to_string(i) + " /* c */, :P" + std::to_string(i) + ", ";
  long_sql += "B FROM T";
  fuzz::RunSqlToolkit(long_sql, fail);
}

}  // namespace
}  // namespace pelvar
