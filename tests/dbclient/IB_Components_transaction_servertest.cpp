// Transactions and connection checks through the server on localhost: the server's
// facts, and an attachment that dies under a started transaction (its network path
// cut, or the attachment deleted by another one) without stopping the shared server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "transaction_calls.h"

namespace pelvar::test {
namespace {

// A TCP relay from an ephemeral local port to the server's port. Stop cuts every
// relayed connection, which for the client is the server going away.
class TcpRelay {
 public:
  explicit TcpRelay(int TargetPort) : target_(TargetPort) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 8) != 0) {
      ADD_FAILURE() << "cannot listen";
      return;
    }
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (pipe(wake_) != 0) {
      ADD_FAILURE() << "no pipe";
      return;
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~TcpRelay() {
    Stop();
    close(listen_);
    close(wake_[0]);
    close(wake_[1]);
  }
  int Port() const { return port_; }
  void Stop() {
    if (thread_.joinable()) {
      const char c = 'x';
      (void)!write(wake_[1], &c, 1);
      thread_.join();
    }
  }

 private:
  static bool Pump(int From, int To) {
    char buf[16384];
    const ssize_t n = read(From, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(To, buf + done, static_cast<size_t>(n - done));
      if (w <= 0) return false;
      done += w;
    }
    return true;
  }
  void Run() {
    std::vector<std::pair<int, int>> pairs;
    for (;;) {
      std::vector<pollfd> fds{{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      for (const auto& p : pairs) {
        fds.push_back({p.first, POLLIN, 0});
        fds.push_back({p.second, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[1].revents != 0) break;
      const size_t polled = pairs.size();
      std::vector<std::pair<int, int>> kept;
      if (fds[0].revents & POLLIN) {
        const int client = accept(listen_, nullptr, nullptr);
        const int server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(target_));
        if (client >= 0 && connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
          kept.emplace_back(client, server);
        } else {
          close(client);
          close(server);
        }
      }
      for (size_t i = 0; i < polled; ++i) {
        const pollfd& c = fds[2 + 2 * i];
        const pollfd& s = fds[3 + 2 * i];
        bool alive = true;
        if (c.revents != 0) alive = Pump(pairs[i].first, pairs[i].second);
        if (alive && s.revents != 0) alive = Pump(pairs[i].second, pairs[i].first);
        if (alive) {
          kept.push_back(pairs[i]);
        } else {
          close(pairs[i].first);
          close(pairs[i].second);
        }
      }
      pairs = std::move(kept);
    }
    for (const auto& p : pairs) {
      shutdown(p.first, SHUT_RDWR);
      shutdown(p.second, SHUT_RDWR);
      close(p.first);
      close(p.second);
    }
  }

  int target_;
  int listen_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

std::unique_ptr<FbTestDb> MakeServerDb() {
  auto fb = FbTestDb::Create(FbTestDb::Mode::Server);
  fb->RunSql("create table T (N integer);\ncommit;\n");
  return fb;
}

TEST(TransactionServer, ServerFactsOfFirebird3) {
  PELVAR_REQUIRE_SERVER();
  auto fb = MakeServerDb();
  DbRig rig(fb->ConnectString());
  rig.db->Open();
  const TIB_ConnectCharacteristics c = rig.db->Characteristics();
  EXPECT_EQ(c.dbODS_Version, 12);
  EXPECT_EQ(c.dbSQL_Dialect, 3);
  EXPECT_EQ(c.dbServer_Major, 3);
  EXPECT_EQ(c.dbServer_Minor, 0);
  EXPECT_EQ(c.dbServer_Version.rfind("LI-V3.0", 0), 0u) << c.dbServer_Version;
  EXPECT_EQ(c.dbRead_Only, 0);
  EXPECT_EQ(c.dbPage_Size, 8192);
  EXPECT_FALSE(rig.db->OldParameterOrder());
  ASSERT_TRUE(rig.tr().EnsureStarted());
  Exec(rig.tr(), *rig.db, "insert into T values (1)");
  rig.tr().Commit();
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "1");
  rig.db->Close();
}

// The server going away under a localhost: connection, played by cutting the relay
// the connection runs through.
TEST(TransactionServer, CutConnectionIsMarkedLostAndDisconnectDoesNotDetach) {
  PELVAR_REQUIRE_SERVER();
  auto fb = MakeServerDb();
  TcpRelay relay(3050);
  ClientSpy spy;
  DbRig rig("localhost/" + std::to_string(relay.Port()) + ":" + fb->Path());
  std::vector<std::string> conn_log;
  rig.db->BeforeDisconnect = [&conn_log](TIB_Connection*) { conn_log.push_back("Before"); };
  rig.db->AfterDisconnect = [&conn_log](TIB_Connection*) { conn_log.push_back("After"); };
  rig.db->Open();
  TIB_Transaction& tr = rig.tr();
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (1)");
  EXPECT_TRUE(rig.db->CheckConnection());
  EXPECT_FALSE(rig.db->ConnectionLost());

  relay.Stop();
  EXPECT_FALSE(rig.db->CheckConnection());
  EXPECT_TRUE(IsLostConnectionCode(static_cast<int32_t>(rig.session->StatusVector()[1])))
      << rig.session->StatusVector()[1];
  EXPECT_NE(rig.session->LastResult(), 0);
  EXPECT_TRUE(rig.db->ConnectionLost());
  EXPECT_TRUE(tr.ConnectionLost()) << "the connection's transactions are marked too";

  rig.log().clear();
  spy.log = &rig.log();
  rig.db->Close();
  spy.log = nullptr;
  EXPECT_FALSE(rig.db->GetConnected());
  EXPECT_EQ(spy.detach_calls, 0);
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(conn_log, (std::vector<std::string>{"Before", "After"}));
  // The implicit AutoCommit transaction was not committed (there is nobody to commit
  // to) but ended without a server call.
  const auto& log = rig.log();
  EXPECT_NE(std::find(log.begin(), log.end(), "AfterRollback"), log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), "isc_commit_transaction"), log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), "isc_rollback_transaction"), log.end());
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "0");
  spy.detach_calls = 0;

  // The next attach clears the mark, and the next disconnect detaches again.
  rig.db->SetDatabaseName(CZ(fb->ConnectString()));
  rig.db->Open();
  EXPECT_FALSE(rig.db->ConnectionLost());
  rig.db->Close();
  EXPECT_EQ(spy.detach_calls, 1);
}

// An attachment deleted through the monitoring tables by another attachment.
TEST(TransactionServer, DeletedAttachmentIsMarkedLost) {
  PELVAR_REQUIRE_SERVER();
  auto fb = MakeServerDb();
  ClientSpy spy;
  DbRig rig(fb->ConnectString());
  rig.db->Open();
  TIB_Transaction& tr = rig.tr();
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (1)");
  const std::string id = QueryOne(*rig.db, "select current_connection from rdb$database");
  {
    TComponent form(nullptr);
    auto* killer = new TIB_Connection(&form);
    PrepareConnection(killer, fb->ConnectString());
    killer->Open();
    TIB_Transaction ktr(nullptr);
    ktr.SetIB_Connection(killer);
    ASSERT_TRUE(ktr.EnsureStarted());
    Exec(ktr, *killer, "delete from mon$attachments where mon$attachment_id = " + id);
    ktr.Commit();
    killer->Close();
  }
  spy.detach_calls = 0;
  EXPECT_FALSE(rig.db->CheckConnection());
  EXPECT_TRUE(rig.db->ConnectionLost()) << "code " << rig.session->StatusVector()[1];
  EXPECT_TRUE(tr.ConnectionLost());
  rig.db->Close();
  EXPECT_EQ(spy.detach_calls, 0);
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "0");
}

}  // namespace
}  // namespace pelvar::test
