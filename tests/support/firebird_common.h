// The round trip of Czech text through a fresh database, shared by the embedded
// and the server test of the database fixture.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codepage.h"
#include "support/firebird.h"

namespace pelvar::test {

inline void CheckCzechRoundTrip(FbTestDb::Mode mode) {
  const std::string text = "Příliš žluťoučký kůň úpěl ďábelské ódy";
  std::string path;
  {
    auto db = FbTestDb::Create(mode);
    path = db->Path();
    ASSERT_TRUE(std::filesystem::exists(path));
    db->RunSql("create table T (S varchar(60));\n"
               "insert into T values ('" + text + "');\ncommit;\n");

    // Stored as WIN1250: read through a WIN1250 connection, the bytes are Windows-1250.
    const std::string out = db->RunSql(
        "set list on;\nselect S, octet_length(S) as N from T;\n"
        "select rdb$character_set_name as CS from rdb$database;\n",
        "WIN1250");
    EXPECT_NE(out.find(CZ(text)), std::string::npos) << out;
    EXPECT_NE(out.find(std::to_string(CZ(text).size())), std::string::npos) << out;
    EXPECT_NE(out.find("WIN1250"), std::string::npos) << out;

    // And through a UTF8 connection the same text comes back as UTF-8.
    EXPECT_NE(db->RunSql("select S from T;\n").find(text), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(path)) << "the database was not dropped";
}

}  // namespace pelvar::test
