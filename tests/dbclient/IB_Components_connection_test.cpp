// The connection's parameters without a server: connect strings, indexed parameters,
// password storage and scrambling, numeric parameters, the parameter block with its
// limits, the attach-time checks and fallbacks, and the connection link.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Utils.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "support/process.h"

namespace pelvar::test {
namespace {

// Sets an environment variable for the lifetime of the guard (unset with nullptr).
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = std::make_unique<std::string>(old);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::unique_ptr<std::string> old_;
};

struct Rig {
  TComponent form{nullptr};
  TIB_Session* session = new TIB_Session(&form);
  TIB_Connection* conn = new TIB_Connection(&form);
};

template <class Fn>
std::string ErrorOf(Fn fn) {
  try {
    fn();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "<none>";
}

TEST(ConnectionParams, ConnectStringsSplitByForm) {
  struct Case {
    const char* text;
    const char* server;
    const char* path;
    TIB_Protocol protocol;
    const char* connect;
  };
  const Case cases[] = {
      {"C:\\data\\main.fdb", "old", "C:\\data\\main.fdb", cpLocal, "C:\\data\\main.fdb"},
      {"srv:C:\\data\\main.fdb", "srv", "C:\\data\\main.fdb", cpTCP_IP, "srv:C:\\data\\main.fdb"},
      {"\\\\srv\\C:\\data\\main.fdb", "srv", "C:\\data\\main.fdb", cpNetBEUI,
       "\\\\srv\\C:\\data\\main.fdb"},
      {"srv@vol:data\\main.fdb", "srv", "vol:data\\main.fdb", cpNovell, "srv@vol:data\\main.fdb"},
      {"localhost:/var/db/Pelvar.fdb", "localhost", "/var/db/Pelvar.fdb", cpTCP_IP,
       "localhost:/var/db/Pelvar.fdb"},
      {"/var/db/Pelvar.fdb", "old", "/var/db/Pelvar.fdb", cpLocal, "/var/db/Pelvar.fdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Rig rig;
    rig.conn->SetServer("old");
    rig.conn->SetDatabaseName(c.text);
    EXPECT_EQ(rig.conn->Server(), c.server);  // a local result leaves Server alone
    EXPECT_EQ(rig.conn->Path(), c.path);
    EXPECT_EQ(rig.conn->Protocol(), c.protocol);
    EXPECT_EQ(rig.conn->GetConnectString(), c.connect);
    EXPECT_EQ(rig.conn->DatabaseName(), c.connect);
    EXPECT_FALSE(rig.conn->DatabaseNameIsStored());
  }
  Rig rig;
  rig.conn->SetProtocol(cpTCP_IP);
  EXPECT_EQ(rig.conn->Params()->Values("PROTOCOL"), "TCP/IP");
  rig.conn->Params()->SetValue("PROTOCOL", "netbeui");
  EXPECT_EQ(rig.conn->Protocol(), cpNetBEUI);
  rig.conn->SetProtocol(cpLocal);
  EXPECT_EQ(rig.conn->Params()->IndexOfName("PROTOCOL"), -1);
}

TEST(ConnectionParams, SymbolicNamesAreUniqueWithinTheSession) {
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* a = new TIB_Connection(&form);
  auto* b = new TIB_Connection(&form);
  auto* c = new TIB_Connection(&form);
  a->SetDatabaseName("MAIN");
  b->SetDatabaseName("MAIN");
  c->SetDatabaseName("main");
  EXPECT_EQ(a->DatabaseName(), "MAIN");
  EXPECT_EQ(b->DatabaseName(), "MAIN_1");
  EXPECT_EQ(c->DatabaseName(), "main_2");
  EXPECT_TRUE(a->DatabaseNameIsStored());
  a->SetDatabaseName("MAIN");  // unchanged
  EXPECT_EQ(a->DatabaseName(), "MAIN");

  const std::string invalid = CZ("Chybné jméno databáze");
  EXPECT_EQ(ErrorOf([&] { a->SetDatabaseName("1st"); }), invalid);
  EXPECT_EQ(ErrorOf([&] { a->SetDatabaseName(""); }), invalid);
  EXPECT_EQ(a->DatabaseName(), "MAIN");
  // A path clears the symbolic name.
  a->SetDatabaseName("/db/a.fdb");
  EXPECT_FALSE(a->DatabaseNameIsStored());
  EXPECT_EQ(a->DatabaseName(), "/db/a.fdb");
}

TEST(ConnectionParams, IndexedParametersAndTheirKeys) {
  Rig rig;
  TIB_Connection& c = *rig.conn;
  c.SetUsername("SYSDBA");
  c.SetServer("srv");
  c.SetPath("/db/x.fdb");
  c.SetLicense("L");
  c.SetSysDBA("S");
  c.SetCharSet("WIN1250");
  c.SetMessageFile("M");
  c.SetIndexedParam(8, "K");
  EXPECT_EQ(c.Params()->Text(),
            "USER NAME=SYSDBA\r\nSERVER=srv\r\nPATH=/db/x.fdb\r\nLICENSE=L\r\nSYSDBA=S\r\n"
            "CHARACTER SET=WIN1250\r\nMESSAGE FILE=M\r\nENCRYPT KEY=K\r\n");
  EXPECT_EQ(c.GetIndexedParam(0), "");
  EXPECT_EQ(c.GetIndexedParam(11), "");
  c.SetIndexedParam(11, "x");  // nothing
  c.SetCharSet("");            // an empty value removes the item
  EXPECT_EQ(c.Params()->IndexOfName("CHARACTER SET"), -1);

  // The role: older keys move under "ROLE NAME" when read; writing removes them.
  c.Params()->Add("SQL ROLE NAME=R1");
  EXPECT_EQ(c.SQLRole(), "R1");
  EXPECT_EQ(c.Params()->Values("ROLE NAME"), "R1");
  EXPECT_EQ(c.Params()->IndexOfName("SQL ROLE NAME"), -1);
  c.SetSQLRole("");
  c.Params()->Add("ROLE=R2");
  EXPECT_EQ(c.SQLRole(), "R2");
  c.Params()->Add("ROLE=R3");
  c.SetSQLRole("R4");
  EXPECT_EQ(c.Params()->IndexOfName("ROLE"), -1);
  EXPECT_EQ(c.SQLRole(), "R4");

  // The password item: "LOCAL PASSWORD" when local and present, else "PASSWORD".
  c.SetPasswordStorage(psParams);
  c.Params()->Add("LOCAL PASSWORD=lp");
  EXPECT_EQ(c.Protocol(), cpLocal);
  EXPECT_EQ(c.Password(), "lp");
  c.SetPassword("new");
  EXPECT_EQ(c.Params()->Values("LOCAL PASSWORD"), "new");
  EXPECT_EQ(c.Params()->Values("PASSWORD"), "");
  c.SetProtocol(cpTCP_IP);
  c.SetPassword("tcp");
  EXPECT_EQ(c.Params()->Values("PASSWORD"), "tcp");
  EXPECT_EQ(c.Params()->Values("LOCAL PASSWORD"), "new");
  EXPECT_EQ(c.Password(), "tcp");
}

TEST(ConnectionParams, PasswordStorageModes) {
  TempDir dir;
  EnvGuard reg("PELVAR_REGISTRY", dir.File("registry.reg").c_str());
  Rig rig;
  TIB_Connection& c = *rig.conn;

  // psNone: kept in the component, never in Params, nothing saved.
  c.SetPassword("masterkey");
  EXPECT_EQ(c.Password(), "masterkey");
  EXPECT_EQ(c.Params()->IndexOfName("PASSWORD"), -1);
  EXPECT_FALSE(c.HasSavedPassword());
  EXPECT_EQ(c.GetSavedPassword(), "");

  // psParams: the item is the saved form.
  c.SetPasswordStorage(psParams);
  c.SetPassword("inparams");
  EXPECT_EQ(c.Params()->Values("PASSWORD"), "inparams");
  EXPECT_FALSE(c.HasSavedPassword());
  EXPECT_EQ(c.GetSavedPassword(), "inparams");
  c.SetSavedPassword("other");
  EXPECT_EQ(c.Params()->Values("PASSWORD"), "other");

  // psNotSecure removes the item and scrambles with the fixed key.
  c.SetPasswordStorage(psNotSecure);
  c.SetPassword("masterkey");
  EXPECT_EQ(c.Params()->IndexOfName("PASSWORD"), -1);
  EXPECT_TRUE(c.HasSavedPassword());
  const AnsiString fixed = c.GetSavedPassword();
  EXPECT_EQ(fixed, JumblePassword("masterkey", JumbleMarker));

  // psKeyFromEnviron: REZ_PASSKEY, or the fixed key when it is unset.
  c.SetPasswordStorage(psKeyFromEnviron);
  {
    EnvGuard key("REZ_PASSKEY", nullptr);
    EXPECT_EQ(c.GetSavedPassword(), fixed);
  }
  {
    EnvGuard key("REZ_PASSKEY", "environ");
    const AnsiString saved = c.GetSavedPassword();
    EXPECT_EQ(saved, JumblePassword("masterkey", "environ"));
    c.SetPassword("");
    c.SetSavedPassword(saved);
    EXPECT_EQ(c.Password(), "masterkey");
  }

  // The registry modes: the key of the user's or the machine's settings, the root put
  // back afterwards.
  for (auto [storage, root] : {std::pair{psKeyFromUserReg, HKEY_CURRENT_USER},
                               std::pair{psKeyFromMachineReg, HKEY_LOCAL_MACHINE}}) {
    SCOPED_TRACE(static_cast<int>(storage));
    c.SetPasswordStorage(storage);
    c.SetPassword("Heslo\xE8");
    const AnsiString saved = c.GetSavedPassword();
    EXPECT_EQ(JumbleRootKey, HKEY_CURRENT_USER);
    JumbleRootKey = root;
    const AnsiString key = GetJumbleKey();
    JumbleRootKey = HKEY_CURRENT_USER;
    ASSERT_EQ(key.size(), 16u);
    EXPECT_EQ(saved, JumblePassword("Heslo\xE8", key));
    c.SetPassword("");
    c.SetSavedPassword(saved);
    EXPECT_EQ(c.Password(), "Heslo\xE8");
  }
  // A plain text given as saved password stays the password.
  c.SetSavedPassword("plain");
  EXPECT_EQ(c.Password(), "plain");
}

TEST(ConnectionParams, NumericParameters) {
  Rig rig;
  TIB_Connection& c = *rig.conn;
  EXPECT_EQ(c.PageSize(), 1024);
  c.SetPageSize(4000);
  EXPECT_EQ(c.Params()->Values("PAGE SIZE"), "3072");
  EXPECT_EQ(c.PageSize(), 3072);
  c.SetPageSize(1024);
  EXPECT_EQ(c.Params()->IndexOfName("PAGE SIZE"), -1);
  c.SetPageSize(0);
  EXPECT_EQ(c.PageSize(), 1024);
  c.Params()->SetValue("PAGE SIZE", "8191");
  EXPECT_EQ(c.PageSize(), 7168);

  EXPECT_EQ(c.SQLDialect(), 3);
  c.Params()->SetValue("SQL DIALECT", "0");
  EXPECT_EQ(c.SQLDialect(), 1);
  c.SetSQLDialect(3);
  EXPECT_EQ(c.Params()->Values("SQL DIALECT"), "3");

  EXPECT_EQ(c.SweepInterval(), 0);
  c.SetSweepInterval(20000);
  EXPECT_EQ(c.SweepInterval(), 20000);
  c.SetSweepInterval(0);
  EXPECT_EQ(c.Params()->IndexOfName("SWEEP INTERVAL"), -1);

  c.Params()->SetValue("SQL DIALECT", "three");
  EXPECT_THROW(c.SQLDialect(), EConvertError);

  // The tri-state flags are exact texts.
  c.SetForcedWrites(dpbTrue);
  c.SetDBKeyScope(dpbFalse);
  c.SetReservePageSpace(dpbTrue);
  EXPECT_EQ(c.Params()->Values("FORCED WRITES"), "TRUE");
  EXPECT_EQ(c.Params()->Values("DB_KEY SCOPE"), "TRANSACTION");
  c.Params()->SetValue("FORCED WRITES", "true");
  EXPECT_EQ(c.ForcedWrites(), dpbDefault);
  c.SetDBKeyScope(dpbDefault);
  EXPECT_EQ(c.Params()->IndexOfName("DB_KEY SCOPE"), -1);
}

// The parameter block, byte for byte.
TEST(ConnectionParams, ParameterBlock) {
  EnvGuard user("ISC_USER", nullptr);
  EnvGuard password("ISC_PASSWORD", nullptr);
  EnvGuard role("ISC_ROLE", nullptr);
  Rig rig;
  TIB_Connection& c = *rig.conn;
  c.SetDatabaseName("/db/x.fdb");
  c.SetUsername(" SYSDBA ");
  c.SetPassword("pw");
  c.SetCharSet("WIN1250");
  c.SetReservePageSpace(dpbTrue);
  c.SetForcedWrites(dpbFalse);
  c.Params()->SetValue("BUFFERS", "300");
  const std::string expected = std::string("\x01") + "\x1C\x06SYSDBA" + "\x1D\x02pw" +
                               std::string("\x05\x04\x2C\x01\x00\x00", 6) +
                               std::string("\x18\x01\x00", 3) +  // forced writes off
                               std::string("\x1B\x01\x00", 3) +  // reserve: no_reserve 0
                               "\x30\x07WIN1250";
  EXPECT_EQ(c.BuildDPB(), expected);
  EXPECT_EQ(c.AttachUsername(), "SYSDBA");

  // A handler may append; one that runs past the buffer is refused.
  c.Params()->SetValue("BUFFERS", "");
  c.OnCustomizeDPB = [](TIB_Connection* Sender, int32_t& Pos, TIB_DPBBuffer& Buffer) {
    Sender->AddDPBItem(Pos, Buffer, isc_dpb_sql_dialect, AnsiString(1, '\3'));
  };
  EXPECT_EQ(c.BuildDPB().substr(c.BuildDPB().size() - 3), std::string("\x3F\x01\x03"));
  c.OnCustomizeDPB = [](TIB_Connection*, int32_t& Pos, TIB_DPBBuffer&) { Pos = 2000; };
  const std::string too_long = CZ("Chybné DPB: Více něž 255 znaků");
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), too_long);
  c.OnCustomizeDPB = nullptr;

  // 255 characters fit an item; 256 do not.
  c.SetSQLRole(std::string(255, 'R'));
  EXPECT_NE(c.BuildDPB().find(std::string("\x3C\xFF") + std::string(255, 'R')), std::string::npos);
  c.SetSQLRole(std::string(256, 'R'));
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), too_long);
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), too_long);
  EXPECT_FALSE(c.GetConnected());

  // Items that together exceed the 1024-byte buffer are refused, never written past it.
  c.SetSQLRole(std::string(255, 'R'));
  c.SetUsername(std::string(255, 'U'));
  c.SetPassword(std::string(255, 'P'));
  c.SetLicense(std::string(255, 'L'));
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), too_long);
  c.SetLicense(std::string(200, 'L'));
  EXPECT_EQ(c.BuildDPB().size(), 1u + 3 * 257 + 3 + 3 + 9 + 202);
}

TEST(ConnectionParams, AttachStringsChecksAndEnvironmentDefaults) {
  Rig rig;
  TIB_Connection& c = *rig.conn;
  {
    EnvGuard db("ISC_DATABASE", nullptr);
    EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), CZ("DatabaseName nemůže být nevyplněná"));
  }
  EnvGuard db("ISC_DATABASE", "/env/db.fdb");
  EnvGuard user("ISC_USER", "envuser");
  EnvGuard password("ISC_PASSWORD", "envpw");
  EnvGuard role("ISC_ROLE", "envrole");
  c.BuildDPB();
  EXPECT_EQ(c.AttachDatabase(), "/env/db.fdb");
  EXPECT_EQ(c.AttachUsername(), "envuser");
  EXPECT_EQ(c.AttachPassword(), "envpw");
  EXPECT_EQ(c.AttachSQLRole(), "envrole");
  // Set values win; FORCED_DATABASE wins over everything.
  c.SetDatabaseName("srv:/db/x.fdb");
  c.SetUsername("me");
  c.BuildDPB();
  EXPECT_EQ(c.AttachDatabase(), "srv:/db/x.fdb");
  EXPECT_EQ(c.AttachUsername(), "me");
  c.Params()->SetValue("FORCED_DATABASE", "other:/f.fdb");
  c.BuildDPB();
  EXPECT_EQ(c.AttachDatabase(), "other:/f.fdb");
  c.Params()->SetValue("FORCED_DATABASE", "");

  // A server name inside Path is refused; drive letters and Unix paths are not.
  const std::string bad_path = CZ("Chybná cesta ke spojení");
  c.SetPath("srv:/db/x.fdb");
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), "<none>");
  c.SetPath("srv:db.fdb");
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), bad_path);
  c.SetPath("\"a:b\":x");
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), bad_path);
  c.SetPath("C:\\db.fdb");
  EXPECT_EQ(ErrorOf([&] { c.BuildDPB(); }), "<none>");

  // A "SERVER NAME" item is parsed when nothing else names the database.
  Rig other;
  other.conn->Params()->SetValue("SERVER NAME", "host:/srv/db.fdb");
  other.conn->BuildDPB();
  EXPECT_EQ(other.conn->AttachDatabase(), "host:/srv/db.fdb");
  EXPECT_EQ(other.conn->Server(), "host");
  EXPECT_EQ(other.conn->Params()->IndexOfName("SERVER NAME"), -1);
}

TEST(ConnectionParams, StreamedParamsAndPendingConnect) {
  TempDir dir;
  Rig rig;
  TIB_Connection& c = *rig.conn;
  TStringList streamed;
  streamed.Add("SERVER NAME=" + dir.File("none.fdb"));
  streamed.Add("PASSWORD=secret");
  streamed.Add("USER NAME=SYSDBA");
  c.BeginLoading();
  c.SetParams(&streamed);
  EXPECT_EQ(c.Path(), dir.File("none.fdb"));
  EXPECT_EQ(c.Params()->IndexOfName("PASSWORD"), -1);
  EXPECT_EQ(c.Params()->IndexOfName("SERVER NAME"), -1);
  c.SetConnected(true);  // waits for Loaded
  EXPECT_EQ(c.Status(), cstConnectPending);
  EXPECT_FALSE(c.GetConnected());
  int before = 0;
  c.BeforeConnect = [&before](TIB_Connection*) { ++before; };
  c.EndLoading();  // the attach fails on the missing file: swallowed
  EXPECT_EQ(before, 1);
  EXPECT_FALSE(c.GetConnected());

  // Outside loading Params is copied as it is.
  c.SetParams(&streamed);
  EXPECT_EQ(c.Params()->Values("PASSWORD"), "secret");
}

TEST(ConnectionParams, LoginNamesWithPrefixes) {
  Rig rig;
  TIB_Connection& c = *rig.conn;
  c.SetLoginUsernamePrefix("ORG_");
  c.SetLoginSQLRolePrefix("R_");
  c.SetLoginUsername("novak");
  EXPECT_EQ(c.Username(), "ORG_novak");
  EXPECT_EQ(c.GetLoginUsername(), "novak");
  c.SetLoginUsername("SYSDBA");
  EXPECT_EQ(c.Username(), "SYSDBA");
  EXPECT_EQ(c.GetLoginUsername(), "SYSDBA");
  c.SetLoginSQLRole("admin");
  EXPECT_EQ(c.SQLRole(), "R_admin");
  EXPECT_EQ(c.GetLoginSQLRole(), "admin");
  c.SetLoginSQLRole("");
  EXPECT_EQ(c.SQLRole(), "");
  c.SetMacroBegin("  ");
  EXPECT_EQ(c.MacroBegin(), "<");
}

// Script statements set the connection through its statement-target interface.
TEST(ConnectionParams, DatabaseStatementOfAScript) {
  Rig rig;
  AnsiString verb;
  ASSERT_TRUE(ApplyDatabaseStatement(
      *rig.conn, "CONNECT 'srv:/db/main.fdb' USER 'novak' PASSWORD 'tajne' ROLE 'R'", verb));
  EXPECT_EQ(verb, "CONNECT");
  EXPECT_EQ(rig.conn->Server(), "srv");
  EXPECT_EQ(rig.conn->Path(), "/db/main.fdb");
  EXPECT_EQ(rig.conn->Username(), "novak");
  EXPECT_EQ(rig.conn->Password(), "tajne");
  EXPECT_EQ(rig.conn->SQLRole(), "R");
}

TEST(ConnectionLink, AssignmentEventsAndLists) {
  std::vector<std::string> log;  // first: the link logs while the form goes
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* a = new TIB_Connection(&form);
  auto* b = new TIB_Connection(&form);
  auto* link = new TIB_ConnectionLink(&form);
  link->OnProcessEvent = [&log](TIB_ConnectionLink* l, TIB_ConnectionEventType e) {
    log.push_back(std::to_string(static_cast<int>(e)) + ":" +
                  (l->IB_Connection() == nullptr ? "-" : l->IB_Connection()->Name()));
  };
  a->SetName("A");
  b->SetName("B");
  link->SetIB_Connection(a);
  link->SetIB_Connection(a);  // unchanged: nothing
  EXPECT_EQ(log, (std::vector<std::string>{"0:-", "1:A"}));
  EXPECT_EQ(a->ConnectionLinkCount(), 1);
  log.clear();
  link->SetIB_Connection(b);
  EXPECT_EQ(log, (std::vector<std::string>{"0:A", "1:B"}));
  EXPECT_EQ(a->ConnectionLinkCount(), 0);
  EXPECT_EQ(b->ConnectionLinkCount(), 1);
  EXPECT_FALSE(link->GetConnected());

  // Following the focus (of connections that announce it) only when asked to.
  a->SetAnnounceFocus(true);
  b->SetAnnounceFocus(true);
  a->SetFocus();
  EXPECT_EQ(link->IB_Connection(), b);
  link->SetReceiveFocus(true);  // takes the focused one at once
  EXPECT_EQ(link->IB_Connection(), a);
  b->SetFocus();
  EXPECT_EQ(link->IB_Connection(), b);
  a->SetFocus();
  EXPECT_EQ(link->IB_Connection(), a);

  // A connection that goes leaves its links pointing to nothing.
  log.clear();
  delete a;
  EXPECT_EQ(link->IB_Connection(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"0:A", "1:-"}));
}

}  // namespace
}  // namespace pelvar::test
