// Control items in the native format and the exports: the control travels in the component
// streaming (text and binary) when its body is saved, otherwise by name through the owner;
// unknown classes warn; the owner's texts stand for the control in text, HTML and RTF;
// a hidden control paints nothing; the item owns its control and frees it.
#include <gtest/gtest.h>

#include "platform/filer.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVItem.h"

namespace pelvar {
namespace {

class TTestButton : public TComponent, public TRVControlSize {
 public:
  explicit TTestButton(TComponent* owner) : TComponent(owner) { ++Alive; }
  ~TTestButton() override { --Alive; }
  static inline int Alive = 0;
  AnsiString Caption;
  int32_t W = 75, H = 25;
  void DefinePublished(TPublishedProperties& props) override {
    props.String("Caption", Caption);
    props.Integer("Width", W, 75);
  }
  int32_t ControlWidth() const override { return W; }
  int32_t ControlHeight() const override { return H; }
  void SetControlWidth(int32_t value) override { W = value; }
};

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  std::vector<std::string> asked;
  TTestButton* supplied = nullptr;  // the last control given while reading (the item's)
  Doc() {
    data.SetRVStyle(&style);
    data.OnRVFControlNeeded = [this](const AnsiString& name, const TRVTag& tag) -> TObject* {
      asked.push_back(name + "/" + std::to_string(tag.Int));
      return supplied = new TTestButton(nullptr);
    };
  }
};

std::string Save(TCustomRVData& d, TRVFOptions options) {
  d.SetRVFOptions(options);
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

bool Load(TCustomRVData& d, const std::string& bytes, TRVFOptions options = {}) {
  d.SetRVFOptions(options);
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  TColor c = clNone;
  return d.LoadRVFFromStream(m, c, nullptr, nullptr);
}

class ControlItemTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterClass<TTestButton>("TTestButton"); }
  void TearDown() override { UnRegisterClass("TTestButton"); }
};

TEST_F(ControlItemTest, TheControlTravelsInTheComponentStreamingOrByName) {
  struct Case {
    TRVFOptions options;
    int32_t read_mode;
    bool body;
  } cases[] = {
      {TRVFOptions{rvfoSaveControlsBody}, 0, true},
      {TRVFOptions{rvfoSaveControlsBody, rvfoSaveBinary}, 2, true},
      {TRVFOptions{}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.read_mode);
    Doc a;
    auto* button = new TTestButton(nullptr);
    button->Caption = "Odeslat";
    button->W = 90;
    auto* item = new TRVControlItemInfo(&a.data);
    item->StyleNo = rvsComponent;
    item->Control = button;
    item->Visible = false;
    item->Tag = TRVTag::FromInt(9);
    a.data.AddItem("button1", item);
    std::vector<TRVControlAction> actions;
    a.data.OnControlAction = [&](TRVControlAction act, int32_t, TObject*) { actions.push_back(act); };
    const std::string saved = Save(a.data, c.options);
    a.data.OnControlAction = nullptr;
    // Header: LineCount = extras (visible=0) + name (+ class and body), the read mode.
    const std::string header = "-5 " + std::to_string(c.body ? 4 : 2) + " 0 0 " + std::to_string(c.read_mode) + " 9 0";
    EXPECT_NE(saved.find(header + "\r\nbutton1\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("visible=0"), std::string::npos);
    EXPECT_EQ(actions.size(), c.body ? 2u : 0u);

    Doc b;
    ASSERT_TRUE(Load(b.data, saved));
    ASSERT_EQ(b.data.ItemCount(), 1);
    auto* r = dynamic_cast<TRVControlItemInfo*>(b.data.GetItem(0));
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->Visible);
    EXPECT_EQ(b.data.GetItemTextRaw(0), "button1");
    if (c.body) {
      auto* rb = dynamic_cast<TTestButton*>(r->Control);
      ASSERT_NE(rb, nullptr);
      EXPECT_NE(rb, button);
      EXPECT_EQ(rb->Caption, "Odeslat");
      EXPECT_EQ(r->GetImageWidth(), 90);
      EXPECT_TRUE(b.asked.empty());
    } else {
      ASSERT_NE(b.supplied, nullptr);
      EXPECT_EQ(r->Control, b.supplied);
      EXPECT_EQ(b.asked, std::vector<std::string>{"button1/9"});
    }
  }
}

TEST_F(ControlItemTest, AnUnknownControlClassWarnsAndIsRefusedUnlessIgnored) {
  Doc a;
  auto* item = new TRVControlItemInfo(&a.data);
  item->StyleNo = rvsComponent;
  item->Control = new TTestButton(nullptr);
  a.data.AddItem("b", item);
  const std::string saved = Save(a.data, TRVFOptions{rvfoSaveControlsBody});
  UnRegisterClass("TTestButton");
  for (bool ignore : {false, true}) {
    Doc b;
    EXPECT_EQ(Load(b.data, saved, ignore ? TRVFOptions{rvfoIgnoreUnknownCtrls} : TRVFOptions{}), ignore);
    EXPECT_EQ(b.data.GetRVFWarnings() & 2, 2u);
  }
  // A damaged body is an error, whatever the option.
  RegisterClass<TTestButton>("TTestButton");
  std::string damaged = saved;
  const size_t body = damaged.find("TTestButton\r\n") + 13;
  damaged.replace(body, 4, "ZZZZ");
  Doc c;
  EXPECT_FALSE(Load(c.data, damaged, TRVFOptions{rvfoIgnoreUnknownCtrls}));
}

TEST_F(ControlItemTest, ExportsAskTheOwnerForTheControlsText) {
  auto* button = new TTestButton(nullptr);
  Doc d;
  std::vector<TRVSaveFormat> formats;
  d.data.OnSaveComponentToFile = [&](const AnsiString&, TObject* control, TRVSaveFormat f, AnsiString& out) {
    EXPECT_EQ(control, button);
    formats.push_back(f);
    out = f == rvsfText ? "[button]" : f == rvsfHTML ? "<button>OK</button>" : "{\\b OK}";
    return true;
  };
  TRVControlItemInfo item(&d.data);
  item.Control = button;
  EXPECT_EQ(item.AsText(80, &d.data, "", "", false, false), "[button]");
  TMemoryStream html, rtf;
  int32_t no = 0;
  item.SaveToHTML(html, &d.data, 0, "", "", "", no, clWhite, 0, false);
  TRVColorList colors;
  item.SaveRTF(rtf, &d.data, 0, "", 15, 0, colors);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(html.Memory()), static_cast<size_t>(html.Size())),
            "<button>OK</button>");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rtf.Memory()), static_cast<size_t>(rtf.Size())), "{\\b OK}");
  EXPECT_EQ(formats, (std::vector<TRVSaveFormat>{rvsfText, rvsfHTML, rvsfRTF}));
  // Without a handler nothing is written.
  d.data.OnSaveComponentToFile = nullptr;
  TMemoryStream none;
  item.SaveToHTML(none, &d.data, 0, "", "", "", no, clWhite, 0, false);
  EXPECT_EQ(none.Size(), 0);
}

TEST_F(ControlItemTest, AHiddenControlPaintsNothingAndASelectedOneIsOutlined) {
  TRVStyle style(nullptr);
  style.InactiveSelColor = clRed;
  TRVControlItemInfo item(nullptr);
  item.Control = new TTestButton(nullptr);
  TRecordingCanvas canvas(200, 100);
  item.Paint(10, 10, canvas, ipsSelected, &style, nullptr);
  auto rects = canvas.Calls("Rectangle");
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0].Args, (std::vector<int32_t>{10, 10, 10 + 75 + 2, 10 + 25 + 2}));
  EXPECT_EQ(rects[0].Pen.Color, clRed);
  item.Visible = false;
  TRecordingCanvas hidden(200, 100);
  item.Paint(10, 10, hidden, ipsSelected, &style, nullptr);
  EXPECT_TRUE(hidden.Calls("Rectangle").empty());
}

// Every control an item holds is freed with it: one the application gives, one the owner
// supplies while reading, one read from a body, one from a stream that fails after it.
TEST_F(ControlItemTest, TheItemFreesItsControl) {
  const int before = TTestButton::Alive;
  std::string by_name, with_body;
  {
    Doc a;
    auto* item = new TRVControlItemInfo(&a.data);
    item->StyleNo = rvsComponent;
    item->Control = new TTestButton(nullptr);
    a.data.AddItem("b", item);
    by_name = Save(a.data, TRVFOptions{});
    with_body = Save(a.data, TRVFOptions{rvfoSaveControlsBody});
    ASSERT_EQ(TTestButton::Alive, before + 1);
    a.data.Clear();
    EXPECT_EQ(TTestButton::Alive, before);
  }
  // A body that cannot be read, after a control that was read.
  std::string damaged = with_body + with_body;
  const size_t body = damaged.rfind("TTestButton\r\n") + 13;
  damaged.replace(body, 4, "ZZZZ");
  for (const std::string* p : {&by_name, &with_body, &damaged}) {
    const std::string& bytes = *p;
    {
      Doc b;
      const bool read = Load(b.data, bytes);
      EXPECT_EQ(read, &bytes != &damaged);
      if (read) EXPECT_EQ(TTestButton::Alive, before + 1);
    }
    EXPECT_EQ(TTestButton::Alive, before);
  }
  // An item freed on its own, outside any document.
  auto* item = new TRVControlItemInfo(nullptr);
  item->Control = new TTestButton(nullptr);
  delete item;
  EXPECT_EQ(TTestButton::Alive, before);
}

}  // namespace
}  // namespace pelvar
