// The connection pool through the server on localhost: the server's own attachment is
// taken over, and only by a connection with the very same credentials.
#include <gtest/gtest.h>

#include "connection_calls.h"

namespace pelvar::test {
namespace {

TEST(ConnectionPoolServer, TheSameAttachmentIsTakenOverOnlyWithTheSameCredentials) {
  PELVAR_REQUIRE_SERVER();
  auto fb = FbTestDb::Create(FbTestDb::Mode::Server);
  const std::string id_sql = "select current_connection from rdb$database";
  ConnectionRig rig(fb->ConnectString());
  rig.conn->Open();
  const std::string id = QueryOne(*rig.conn, id_sql);
  rig.conn->DisconnectToPool();
  ASSERT_EQ(ConnectionPool->Count(), 1);

  // A wrong password never gets the pooled attachment: the server refuses it.
  ConnectionRig wrong(fb->ConnectString());
  wrong.conn->SetPassword("wrong");
  EXPECT_THROW(wrong.conn->Open(), EIB_ISCError);
  EXPECT_EQ(ConnectionPool->Count(), 1);

  ConnectionRig again(fb->ConnectString());
  again.conn->Open();
  EXPECT_EQ(QueryOne(*again.conn, id_sql), id);
  EXPECT_EQ(ConnectionPool->Count(), 0);
  again.conn->DisconnectToPool();
  FreeConnectionPool();
  // Freed with the pool: the server no longer lists it.
  rig.conn->Open();
  EXPECT_EQ(QueryOne(*rig.conn, "select count(*) from mon$attachments where mon$attachment_id = " + id),
            "0");
  rig.conn->Close();
}

}  // namespace
}  // namespace pelvar::test
