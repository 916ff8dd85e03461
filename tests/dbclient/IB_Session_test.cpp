// Turning a failed call into EIB_ISCError, with a scripted client library in the call
// table: which lines, codes and texts the exception gets, the events, the monitor text,
// and the exceptions' message limits. The message table is checked here too.
#include "dbclient/IB_Session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Constants.h"
#include "platform/codepage.h"

namespace pelvar {
namespace {

// The scripted library: each interpret call gives the next line and moves the read
// pointer two words on; at the end it returns 0 and leaves the buffer alone, as the real
// library does.
struct Script {
  std::vector<std::string> lines;
  size_t next = 0;
  ISC_LONG sqlcode = 0;
  std::string sql_text;
  std::vector<std::string> monitor;
};
Script* script = nullptr;

ISC_LONG FakeFbInterpret(ISC_SCHAR* buffer, unsigned int size, const ISC_STATUS** vector) {
  if (script->next >= script->lines.size()) {
    return 0;
  }
  const std::string& line = script->lines[script->next++];
  std::snprintf(buffer, size, "%s", line.c_str());
  *vector += 2;
  return static_cast<ISC_LONG>(line.size()) + 1;
}
ISC_LONG FakeIscInterprete(ISC_SCHAR* buffer, ISC_STATUS** vector) {
  const ISC_STATUS* read = *vector;
  const ISC_LONG r = FakeFbInterpret(buffer, 4096, &read);
  *vector = const_cast<ISC_STATUS*>(read);
  return r;
}
ISC_LONG FakeSqlcode(const ISC_STATUS*) { return script->sqlcode; }
void FakeSqlInterprete(short, ISC_SCHAR* buffer, short size) {
  std::snprintf(buffer, static_cast<size_t>(size), "%s", script->sql_text.c_str());
}
void Monitor(const AnsiString& text) { script->monitor.push_back(text); }

class ErrorHandling : public ::testing::Test {
 protected:
  void SetUp() override {
    script = &s;
    ClearClientTables();
    ClientCallTable.fb_interpret = &FakeFbInterpret;
    ClientCallTable.isc_interprete = &FakeIscInterprete;
    ClientCallTable.isc_sqlcode = &FakeSqlcode;
    ClientCallTable.isc_sql_interprete = &FakeSqlInterprete;
    ClientCallTable.MonitorOutputHook = &Monitor;
    for (int i = 0; i < ISC_STATUS_LENGTH; ++i) {
      session.StatusVector()[i] = 1000 + i;
    }
  }
  void TearDown() override {
    ClearClientTables();
    script = nullptr;
  }
  // Fails with code 335544321 and returns the exception raised.
  EIB_ISCError Fail(TComponent* sender = nullptr) {
    session.SetLastResult(isc_arith_except);
    try {
      session.HandleException(sender);
    } catch (const EIB_ISCError& e) {
      return e;
    }
    ADD_FAILURE() << "no EIB_ISCError";
    return EIB_ISCError(nullptr, "", 0, nullptr, nullptr, 0, nullptr, nullptr);
  }

  Script s;
  TIB_SessionBase session{nullptr};
};

TEST_F(ErrorHandling, ListsTheStatusVectorsLinesAndCodes) {
  s.lines = {"first", "second", "third"};
  const EIB_ISCError e = Fail(&session);
  const TStringList& m = *e.ErrorMessage();
  ASSERT_EQ(m.Count(), 6);
  EXPECT_EQ(m.Text(),
            "ISC ERROR CODE:335544321\r\n\r\nISC ERROR MESSAGE:\r\nfirst\r\nsecond\r\nthird\r\n");
  EXPECT_EQ(e.Message(), m.Text());
  EXPECT_EQ(e.ERRCODE(), 335544321);
  EXPECT_EQ(e.Sender(), &session);
  // One code per pass, the last (ending) pass included: words 1 to 4 of the vector.
  EXPECT_EQ(e.ErrorCodes()->CommaText(), "1001,1002,1003,1004");
  EXPECT_EQ(e.SQLMessage()->Count(), 0);
  ASSERT_EQ(s.monitor.size(), 1u);
  EXPECT_EQ(s.monitor[0],
            "//>>> ERROR <<<//\r\nISC ERROR CODE:335544321\r\n\r\nISC ERROR MESSAGE:\r\nfirst"
            "\r\nsecond\r\nthird");
}

TEST_F(ErrorHandling, RepeatedAndEmptyLinesAreListedOnceButCodesStillGrow) {
  s.lines = {"", "same", "same", "other"};
  const EIB_ISCError e = Fail();
  EXPECT_EQ(e.ErrorMessage()->CommaText(),
            "\"ISC ERROR CODE:335544321\",,\"ISC ERROR MESSAGE:\",same,other");
  EXPECT_EQ(e.ErrorCodes()->Count(), 5);
}

TEST_F(ErrorHandling, SqlMessageOnlyForARealSqlCode) {
  struct Case {
    ISC_LONG sqlcode;
    const char* text;
    bool block;
  };
  const Case cases[] = {{-902, "Unsuccessful execution", true},
                        {-999, "never shown", false},
                        {0, "never shown", false},
                        {-104, "   ", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sqlcode);
    s = Script{};
    s.lines = {"line"};
    s.sqlcode = c.sqlcode;
    s.sql_text = c.text;
    const EIB_ISCError e = Fail();
    EXPECT_EQ(e.SQLCODE(), c.sqlcode);
    EXPECT_EQ(session.SQLCODE(), c.sqlcode);
    ASSERT_EQ(s.monitor.size(), 1u);
    if (c.block) {
      EXPECT_EQ(e.SQLMessage()->Text(), "SQL ERROR CODE:-902\r\n\r\nSQL ERROR MESSAGE:\r\n"
                                        "Unsuccessful execution\r\n");
      EXPECT_NE(s.monitor[0].find("line\r\n\r\n//>>> SQL MESSAGE <<<//\r\nSQL ERROR CODE:-902"
                                  "\r\n\r\nSQL ERROR MESSAGE:\r\nUnsuccessful execution"),
                std::string::npos)
          << s.monitor[0];
    } else {
      EXPECT_EQ(e.SQLMessage()->Count(), 0);
      EXPECT_EQ(s.monitor[0].find("SQL MESSAGE"), std::string::npos);
    }
  }
}

TEST_F(ErrorHandling, UserExceptionShowsTheUsersOwnLine) {
  struct Case {
    std::vector<std::string> lines;
    const char* message;  // nullptr: the whole list
  };
  const Case cases[] = {
      {{"exception 7", "E_NAME", "Users text", "At trigger 'T'"}, "Users text"},
      {{"exception 7", "Only two"}, "Only two"},
      {{"exception 7"}, nullptr},
      {{}, nullptr},
      // An empty user line: the whole list.
      {{"exception 7", "E_NAME", " ", "At trigger 'T'"}, nullptr},
  };
  for (const Case& c : cases) {
    s = Script{};
    s.lines = c.lines;
    s.sqlcode = -836;
    s.sql_text = "exception";
    const EIB_ISCError e = Fail();
    SCOPED_TRACE(e.ErrorMessage()->Text());
    if (c.message != nullptr) {
      EXPECT_EQ(e.Message(), c.message);
    } else {
      EXPECT_EQ(e.Message(), e.ErrorMessage()->Text());
    }
  }
}

// A session whose own hook adds SQL lines, as statements do.
class DescribingSession : public TIB_SessionBase {
 public:
  using TIB_SessionBase::TIB_SessionBase;
  void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                   TStringList* SQL, bool& RaiseException) override {
    SQL->Add("select *\nfrom T");
    TIB_SessionBase::HandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage,
                                 SQL, RaiseException);
  }
};

TEST_F(ErrorHandling, EventsMayAddLinesAndSuppressTheException) {
  DescribingSession described(nullptr);
  s.lines = {"line"};
  described.SetLastResult(isc_arith_except);
  try {
    described.HandleException(nullptr);
    FAIL();
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.SQL()->Text(), "select *\nfrom T\r\n");
  }
  ASSERT_EQ(s.monitor.size(), 1u);
  // In the monitor text every line break is CR LF.
  EXPECT_EQ(s.monitor[0].substr(s.monitor[0].find("line")),
            "line\r\n\r\n//>>> SQL <<<//\r\nselect *\r\nfrom T");

  // Suppressed: no exception, but the monitor text is still written.
  s = Script{};
  s.lines = {"line"};
  described.SetOnError([](TObject*, int32_t, TStringList*, TStringList*, int32_t, TStringList*,
                          TStringList*, bool& raise) { raise = false; });
  described.SetLastResult(isc_arith_except);
  EXPECT_NO_THROW(described.HandleException(nullptr));
  EXPECT_EQ(s.monitor.size(), 1u);

  // Without a monitor installed nothing is written.
  ClientCallTable.MonitorOutputHook = &EmptyMonitorOutput;
  EXPECT_FALSE(IsMonitorHooked());
  s = Script{};
  s.lines = {"line"};
  described.SetLastResult(isc_arith_except);
  described.HandleException(nullptr);
  EXPECT_TRUE(s.monitor.empty());
}

TEST_F(ErrorHandling, TheFailingComponentsHandlerComesFirstAndMaySilenceTheSession) {
  TIB_Session session(nullptr);
  TIB_Connection connection(nullptr);
  std::vector<std::string> order;
  bool component_raises = true;
  connection.SetOnError([&](TObject* sender, int32_t errcode, TStringList*, TStringList*,
                            int32_t, TStringList*, TStringList*, bool& raise) {
    order.push_back("component");
    EXPECT_EQ(sender, &connection);
    EXPECT_EQ(errcode, isc_arith_except);
    raise = component_raises;
  });
  TObject* session_sender = nullptr;
  session.SetOnError([&](TObject* sender, int32_t, TStringList*, TStringList*, int32_t,
                         TStringList*, TStringList*, bool&) {
    order.push_back("session");
    session_sender = sender;
  });
  s.lines = {"x"};
  session.SetLastResult(isc_arith_except);
  EXPECT_THROW(session.HandleException(&connection), EIB_ISCError);
  EXPECT_EQ(order, (std::vector<std::string>{"component", "session"}));
  EXPECT_EQ(session_sender, &connection);

  // The component clears RaiseException: neither the session's event nor the exception.
  order.clear();
  s = Script{};
  s.lines = {"x"};
  component_raises = false;
  EXPECT_NO_THROW(session.HandleException(&connection));
  EXPECT_EQ(order, (std::vector<std::string>{"component"}));

  // A sender that is no library component goes straight to the session.
  order.clear();
  s = Script{};
  s.lines = {"x"};
  EXPECT_THROW(session.HandleException(&session), EIB_ISCError);
  EXPECT_EQ(order, (std::vector<std::string>{"session"}));
  EXPECT_EQ(session_sender, &session);
}

TEST_F(ErrorHandling, NoClientLibraryRaisesBeforeAnyEvent) {
  ClientCallTable.isc_interprete = nullptr;
  bool fired = false;
  session.SetOnError([&](TObject*, int32_t, TStringList*, TStringList*, int32_t, TStringList*,
                         TStringList*, bool&) { fired = true; });
  session.SetLastResult(-1);
  try {
    session.HandleException(&session);
    FAIL();
  } catch (const EIB_ISCError&) {
    FAIL() << "an EIB_ISCError without a client library";
  } catch (const EIB_Error& e) {
    EXPECT_EQ(e.Message(), CZ("InterBase klient GDS32.DLL není nainstalován"));
    EXPECT_EQ(e.Sender(), nullptr);
  }
  EXPECT_FALSE(fired);
  EXPECT_TRUE(s.monitor.empty());
}

TEST_F(ErrorHandling, CallsThroughTheSessionStoreTheResultAndRaiseOnFailure) {
  // A scripted entry point: fails with the code it is given, after checking that it got
  // the session's status vector.
  static ISC_STATUS* seen = nullptr;
  Tisc_detach_database detach = [](ISC_STATUS* status, isc_db_handle* handle) -> ISC_STATUS {
    seen = status;
    return static_cast<ISC_STATUS>(*handle);
  };
  isc_db_handle result = 0;
  EXPECT_EQ(session.API_Call(&session, detach, &result), 0);
  EXPECT_EQ(seen, session.StatusVector());
  EXPECT_EQ(session.LastResult(), 0);
  EXPECT_TRUE(s.monitor.empty());

  s.lines = {"failed"};
  result = static_cast<isc_db_handle>(isc_arith_except);
  EXPECT_THROW(session.API_Call(&session, detach, &result), EIB_ISCError);
  EXPECT_EQ(session.LastResult(), isc_arith_except);

  detach = nullptr;
  try {
    session.API_Call(&session, detach, &result);
    FAIL();
  } catch (const EIB_ISCError&) {
    FAIL() << "an unbound entry was called";
  } catch (const EIB_Error& e) {
    EXPECT_EQ(e.Message(), IB_Message(TIB_Msg::ClientNotInstalled));
  }
}

TEST(IBErrors, MessagesAreCutToTheirLimits) {
  const AnsiString long_text(300, 'x');
  EXPECT_EQ(EIB_Error(nullptr, long_text).Message(), AnsiString(255, 'x'));
  EXPECT_EQ(EIB_ConnectionError(long_text).Message().size(), 255u);
  const EIB_ISCError e(nullptr, long_text, 1, nullptr, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(e.Message(), AnsiString(250, 'x') + "(...)");
  EXPECT_EQ(EIB_ISCError(nullptr, AnsiString(255, 'y'), 1, nullptr, nullptr, 0, nullptr, nullptr)
                .Message(),
            AnsiString(255, 'y'));
  // Area classes are EIB_Errors; an EIB_ISCError is one too.
  EXPECT_THROW(throw EIB_StatementError("s"), EIB_Error);
  EXPECT_THROW(throw EIB_ISCError(nullptr, "m", 1, nullptr, nullptr, 0, nullptr, nullptr),
               EIB_Error);
}

TEST(IBErrors, LostConnectionCodes) {
  for (int32_t code :
       {335544528, 335544721, 335544722, 335544726, 335544727, 335544741, 335544856}) {
    EXPECT_TRUE(IsLostConnectionCode(code)) << code;
  }
  for (int32_t code : {0, 335544344, 335544720, 335544728, 335544740, 335544742}) {
    EXPECT_FALSE(IsLostConnectionCode(code)) << code;
  }
}

TEST(MessageTable, HoldsTheLibrarysTextsInWindows1250) {
  EXPECT_EQ(IB_Message(TIB_Msg::Cancel), "Storno");
  EXPECT_EQ(IB_Message(TIB_Msg::SmallintOverflow), CZ("Přetečení Smallint"));
  EXPECT_EQ(IB_Message(TIB_Msg::RecordKeyLost),
            CZ("Klíž záznamu byl ztracen") + "\r\n" + CZ("Chyba při otevření kurzoru"));
  EXPECT_EQ(IB_Message(TIB_Msg::SqlErrorMessage), "SQL ERROR MESSAGE:");
  EXPECT_EQ(static_cast<int>(TIB_Msg::SqlErrorMessage), IB_MessageCount - 1);
  // The table's doubled texts.
  EXPECT_EQ(IB_Message(TIB_Msg::RowsAffectedBuffer), IB_Message(TIB_Msg::RowsAffectedBuffer2));
  EXPECT_EQ(IB_Message(TIB_Msg::AtEndOfDataset), IB_Message(TIB_Msg::AtEndOfDataset2));
  // Every text survives the code page: nothing was lost in the conversion.
  for (int i = 0; i < IB_MessageCount; ++i) {
    const AnsiString& text = IB_Message(static_cast<TIB_Msg>(i));
    EXPECT_FALSE(text.empty()) << i;
    // A lost character would show as '?'; two texts end with a real one.
    const size_t mark = text.find('?');
    EXPECT_TRUE(mark == std::string::npos || mark == text.size() - 1) << i;
  }
  EXPECT_EQ(IB_DefaultClientLibrary1, std::string("fbclient.dll"));
  EXPECT_EQ(IB_DefaultClientLibrary2, std::string("gds32.dll"));
}

TEST(CallBracket, RestoresTheControlWordAndPassesTheResult) {
  TFpuControlWordGuard outer;
  const uint16_t before = Get8087CW();
  const int r = CallClient(
      [](int a, int b) {
        Set8087CW(static_cast<uint16_t>(Get8087CW() ^ 0x0C00));
        return a + b;
      },
      2, 3);
  EXPECT_EQ(r, 5);
  EXPECT_EQ(Get8087CW(), before);
  EXPECT_EQ((XSQLDA_LENGTH)(1), 480);
}

}  // namespace
}  // namespace pelvar
