// The services classes without a server: the server name and protocol that follow each
// other, and the misuses refused before anything reaches the client library.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dbclient/IBServices.h"

namespace pelvar::test {
namespace {

TEST(IBServices, ServerNameAndProtocolFollowEachOther) {
  TIBBackupService service(nullptr);
  EXPECT_EQ(service.Protocol(), TProtocol::Local);
  EXPECT_EQ(service.ServerName(), "");
  EXPECT_TRUE(service.LoginPrompt());

  // A server name moves a local service to TCP; the protocol set next wins.
  service.SetServerName("localhost");
  EXPECT_EQ(service.Protocol(), TProtocol::TCP);
  service.SetProtocol(TProtocol::Local);
  EXPECT_EQ(service.ServerName(), "") << "the local services manager has no server";

  // A named server keeps a non-local protocol; dropping the name goes back to local.
  service.SetServerName("server");
  service.SetProtocol(TProtocol::NamedPipe);
  EXPECT_EQ(service.ServerName(), "server");
  service.SetServerName("");
  EXPECT_EQ(service.Protocol(), TProtocol::Local);
}

// Each case leaves a fresh, otherwise attachable service in a state that Attach refuses
// on this side, before the client library is asked.
struct RefusedAttach {
  const char* name;
  std::function<void(TIBCustomService&)> setup;
  const char* text;  // part of the message
};

TEST(IBServices, AttachRefusesBadSettingsBeforeTheLibrary) {
  const RefusedAttach cases[] = {
      {"login prompt", [](TIBCustomService&) {}, "LoginPrompt"},
      {"unknown parameter",
       [](TIBCustomService& s) { s.Params()->Add("colour=blue"); }, "colour"},
      {"unsupported parameter",
       [](TIBCustomService& s) { s.Params()->Add("isc_spb_sql_role_name=ADMIN"); },
       "sql_role_name"},
      {"value too long for its length byte",
       [](TIBCustomService& s) { s.Params()->Add("password=" + std::string(256, 'x')); },
       "too long"},
      {"TCP without a server",
       [](TIBCustomService& s) { s.SetProtocol(TProtocol::TCP); }, "server name"},
  };
  for (const RefusedAttach& c : cases) {
    SCOPED_TRACE(c.name);
    TIBRestoreService service(nullptr);
    service.Params()->Add("user_name=sysdba");
    if (std::string(c.name) != "login prompt") service.SetLoginPrompt(false);
    c.setup(service);
    try {
      service.SetActive(true);
      ADD_FAILURE() << "attached";
    } catch (const EIBClientError& e) {
      EXPECT_NE(e.Message().find(c.text), std::string::npos) << e.Message();
      EXPECT_EQ(e.SQLCode(), 0);
    }
    EXPECT_FALSE(service.Active());
  }
}

TEST(IBServices, CallsThatNeedAnAttachedOrStartedServiceRaise) {
  TIBBackupService service(nullptr);
  EXPECT_THROW(service.ServiceStart(), EIBClientError);
  EXPECT_THROW(service.Detach(), EIBClientError);
  EXPECT_THROW(service.GetNextLine(), EIBClientError);
  EXPECT_THROW(service.GetNextChunk(), EIBClientError);
  EXPECT_FALSE(service.Eof());
  // The errors are database errors for the application's handlers.
  EXPECT_THROW(service.ServiceStart(), EDatabaseError);
}

}  // namespace
}  // namespace pelvar::test
