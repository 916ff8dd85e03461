// The connection component through the server on localhost, the password checked.
#include <gtest/gtest.h>

#include "connection_calls.h"

namespace pelvar::test {
namespace {

TEST(ConnectionServer, OpenAndCloseSendTheEventsInOrder) {
  PELVAR_REQUIRE_SERVER();
  CheckOpenAndClose(FbTestDb::Mode::Server);
}

TEST(ConnectionServer, WrongPasswordRaisesTheServerErrorAndStaysDisconnected) {
  PELVAR_REQUIRE_SERVER();
  auto fb = FbTestDb::Create(FbTestDb::Mode::Server);
  ConnectionRig rig(fb->ConnectString());
  rig.conn->SetPassword("wrong");
  try {
    rig.conn->Open();
    ADD_FAILURE() << "the server accepted a wrong password";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), 335544472);
    EXPECT_EQ(e.Sender(), rig.conn);
  }
  EXPECT_FALSE(rig.conn->GetConnected());
  EXPECT_EQ(rig.log, (std::vector<std::string>{"BeforeConnect-", "cet7"}));

  // The right password from the environment when none is set.
  rig.conn->SetPassword("");
  setenv("ISC_PASSWORD", kSysdbaPassword, 1);
  rig.conn->Open();
  unsetenv("ISC_PASSWORD");
  EXPECT_TRUE(rig.conn->GetConnected());
  EXPECT_EQ(rig.conn->AttachPassword(), kSysdbaPassword);
  rig.conn->Close();
}

TEST(ConnectionServer, RefusedDetachIsReported) {
  PELVAR_REQUIRE_SERVER();
  CheckRefusedDetachIsReported(FbTestDb::Mode::Server);
}

TEST(ConnectionServer, CreateAndDropDatabase) {
  PELVAR_REQUIRE_SERVER();
  CheckCreateAndDrop(FbTestDb::Mode::Server);
}


}  // namespace
}  // namespace pelvar::test
