// The adapter's parameter collection follows the SQL text: names in order, repeated and
// range names, values kept across changes, output parameters of executed statements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbadapters/REZDataset.h"
#include "dbadapters/REZDataset_params.h"

namespace pelvar::test {
namespace {

std::string Describe(const TParams& p) {
  std::string s;
  for (int32_t i = 0; i < p.Count(); ++i) {
    if (!s.empty()) s += ",";
    s += p.Items(i)->Name() + ":" + std::to_string(p.Items(i)->ParamType());
  }
  return s;
}

bool Merge(TParams& p, const std::string& sql, int32_t count, bool outputs = false,
           const std::vector<AnsiString>& fields = {}) {
  return REZMergeParams(p, REZParseParamNames(sql), count, outputs, fields);
}

TEST(REZParams, FollowTheSqlTextKeepingTheirValues) {
  TParams p;
  Merge(p, "select * from PARTNER where ID_PARTNER = :ID and ST = :ST", 2);
  EXPECT_EQ(Describe(p), "ID:1,ST:1");
  p.ParamByName("ST")->SetAsString("U");
  p.ParamByName("ID")->SetAsInteger(7);
  Merge(p, "select * from PARTNER where ST = :ST", 1);
  EXPECT_EQ(Describe(p), "ST:1");
  EXPECT_EQ(p.ParamByName("ST")->AsString(), "U");
  // Order follows the text; kept values move with their names.
  Merge(p, "select * from PARTNER where PARTNER = :P and ST = :ST", 2);
  EXPECT_EQ(Describe(p), "P:1,ST:1");
  Merge(p, "select * from PARTNER where ST = :ST and PARTNER = :P", 2);
  EXPECT_EQ(Describe(p), "ST:1,P:1");
  EXPECT_EQ(p.ParamByName("ST")->AsString(), "U");
  // Nothing named: nothing left.
  Merge(p, "select * from PARTNER", 0);
  EXPECT_EQ(p.Count(), 0);
}

TEST(REZParams, RepeatedRangeAndLinkNames) {
  TParams p;
  // The statement binds repeated names to one column: one parameter.
  Merge(p, "select * from T where A = :X or B = :X or C = :Y", 2);
  EXPECT_EQ(Describe(p), "X:1,Y:1");
  // Where the statement keeps one column per marker, the repeats stay.
  Merge(p, "select * from T where A = :X or B = :X", 2);
  EXPECT_EQ(Describe(p), "X:1,X:1");
  Merge(p, "select * from T where A >= :RBEG_A and A <= :REND_A and B = :OLNK_B and C = :C", 4);
  EXPECT_EQ(Describe(p), "C:1");
}

TEST(REZParams, ExecutedStatementsGetOutputParameters) {
  TParams p;
  EXPECT_TRUE(Merge(p, "execute procedure P(:A, :B)", 2, true, {"B", "R"}));
  EXPECT_EQ(Describe(p), "A:1,B:3,R:2");
  // Without outputs the next time, the output stays at the end, the in-out turns input.
  EXPECT_FALSE(Merge(p, "select * from T where A = :A and B = :B", 2));
  EXPECT_EQ(Describe(p), "A:1,B:1,R:2");
}

TEST(REZTableOrdering, TheOrderingLineOfIndexFields) {
  struct Case {
    std::vector<AnsiString> fields;
    const char* line;
    bool first_desc;
  };
  const Case cases[] = {
      {{"ID_PARTNER"}, "TABLE ORDER=ID_PARTNER;ID_PARTNER DESC", false},
      {{"A", " B DESC"}, "TABLE ORDER=A, B DESC;A DESC, B", false},
      {{"A DESC", "B"}, "TABLE ORDER=A, B;A DESC, B DESC", true},
  };
  for (const Case& c : cases) {
    bool first_desc = false;
    EXPECT_EQ(REZOrderingItems(c.fields, first_desc), c.line);
    EXPECT_EQ(first_desc, c.first_desc) << c.line;
  }
}

}  // namespace
}  // namespace pelvar::test
