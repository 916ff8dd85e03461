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

// Answers of the services manager to a query for a line of output: a line, the end, a
// service that has produced nothing yet, a truncated line, and answers that are damaged.
TEST(IBServices, OutputAnswersAreReadWithEveryMarkerTheManagerSends) {
  constexpr char kLine = 62, kEnd = 1, kTruncated = 2, kNotReady = 4, kTimeout = 64;
  auto answer = [](std::initializer_list<char> head, const std::string& text,
                   std::initializer_list<char> tail) {
    std::string out(head);
    out.push_back(static_cast<char>(text.size() & 0xFF));
    out.push_back(static_cast<char>(text.size() >> 8));
    out += text;
    out.append(tail);
    out.resize(64, '\0');
    return out;
  };
  struct Case {
    const char* what;
    std::string out;
    const char* text;
    bool end, truncated, not_ready;
  } cases[] = {
      {"a line", answer({kLine}, "gbak: ok", {kEnd}), "gbak: ok", true, false, false},
      {"the end", answer({kLine}, "", {kEnd}), "", true, false, false},
      {"nothing yet", answer({kLine}, "", {kNotReady, kEnd}), "", true, false, true},
      {"time-out", answer({kLine}, "", {kTimeout, kEnd}), "", true, false, true},
      {"truncated", answer({kLine}, "abc", {kTruncated, kEnd}), "abc", true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TServiceOutputAnswer a = ParseServiceOutput(c.out, kLine);
    EXPECT_EQ(std::string(a.text), c.text);
    EXPECT_EQ(a.end, c.end);
    EXPECT_EQ(a.truncated, c.truncated);
    EXPECT_EQ(a.not_ready, c.not_ready);
  }
  // Another item first, an unknown marker, a length beyond the buffer.
  EXPECT_THROW(ParseServiceOutput(answer({63}, "x", {kEnd}), kLine), EIBClientError);
  EXPECT_THROW(ParseServiceOutput(answer({kLine}, "x", {99}), kLine), EIBClientError);
  std::string cut = answer({kLine}, "x", {kEnd});
  cut[1] = 100;
  EXPECT_THROW(ParseServiceOutput(cut, kLine), EIBClientError);
}

TEST(ServiceOutput, LinesGivenInPartsAreGatheredWhole) {
  // A busy service answers with the first part of a line and a time-out; the line is one.
  // A part may also come bare, as a whole answer without the blank of the line break.
  const std::vector<std::vector<TServiceOutputAnswer>> parts_of = {
      {{"writing privilege for use", true, false, true}, {"", true, false, true}, {"r SYSDBA ", true, false, false}},
      {{"abc", true, true, false}, {"def ", true, false, false}},
      {{"writing privilege for use", true, false, false}, {"r SYSDBA ", true, false, false}},
      {{"last line without a break", true, false, false}, {"", true, false, false}},
      {{"gbak: ok ", true, false, false}},
  };
  const char* wholes[] = {"writing privilege for user SYSDBA ", "abcdef ", "writing privilege for user SYSDBA ",
                          "last line without a break", "gbak: ok "};
  for (size_t i = 0; i < parts_of.size(); ++i) {
    std::string line;
    size_t n = 0;
    while (!GatherServiceLine(line, parts_of[i][n])) ++n;
    EXPECT_EQ(n + 1, parts_of[i].size());
    EXPECT_EQ(line, wholes[i]);
  }
  // A whole empty line is the end of the output.
  std::string line;
  EXPECT_TRUE(GatherServiceLine(line, {"", true, false, false}));
  EXPECT_TRUE(line.empty());
}

}  // namespace
}  // namespace pelvar::test
