// The binary component streaming against hand-made byte fixtures of the form-file format:
// integer widths, Boolean type bytes, defined lists, nested components, collections, enums,
// sets and strings; values equal to their defaults stay out; the class registry creates
// only registered classes of the expected base.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/filer.h"

namespace pelvar {
namespace {

class TTestChild : public TComponent {
 public:
  using TComponent::TComponent;
  int32_t Width = 0;
  void DefinePublished(TPublishedProperties& p) override { p.Integer("Width", Width, 0); }
};

class TTestComp : public TComponent {
 public:
  using TComponent::TComponent;
  int8_t Small = 0;
  int16_t Medium = 0;
  int32_t Large = 0;
  bool On = false;
  bool Off = true;
  std::vector<int32_t> Values;

  void DefinePublished(TPublishedProperties& p) override {
    p.Integer("Small", Small, int8_t{0});
    p.Integer("Medium", Medium, int16_t{0});
    p.Integer("Large", Large, 0);
    p.Boolean("On", On, false);
    p.Boolean("Off", Off, true);
  }
  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent*) override {
    for (int32_t i = 0; i < ComponentCount(); ++i) proc(Components(i));
  }

 protected:
  void DefineProperties(TFiler* filer) override {
    filer->DefineProperty(
        "Values",
        [this](TReader& r) {
          Values.clear();
          r.ReadListBegin();
          while (!r.EndOfList()) Values.push_back(r.ReadInteger());
          r.ReadListEnd();
        },
        [this](TWriter& w) {
          w.WriteListBegin();
          for (int32_t v : Values) w.WriteInteger(v);
          w.WriteListEnd();
        },
        !Values.empty());
  }
};

std::string Str(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s += static_cast<char>(x);
  return s;
}

std::string Contents(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

class FilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass<TTestComp>("TTestComp");
    RegisterClass<TTestChild>("TTestChild");
  }
  // The fixture: Small 5, Medium 300, Large 70000, On True, Off False, Values (1, -2), one
  // child "Kid" of width 7.
  static std::string Fixture() {
    return "TPF0" + Str("TTestComp") + Str("Root") + Str("Small") + Bytes({2, 5}) + Str("Medium") +
           Bytes({3, 0x2C, 0x01}) + Str("Large") + Bytes({4, 0x70, 0x11, 0x01, 0x00}) + Str("On") + Bytes({9}) +
           Str("Off") + Bytes({8}) + Str("Values") + Bytes({1, 2, 1, 2, 0xFE, 0}) + Bytes({0}) + Str("TTestChild") +
           Str("Kid") + Str("Width") + Bytes({2, 7}) + Bytes({0, 0}) + Bytes({0});
  }
};

TEST_F(FilerTest, ComponentWithChildStreamsToTheFixtureAndBack) {
  TTestComp root(nullptr);
  root.SetName("Root");
  root.Small = 5;
  root.Medium = 300;
  root.Large = 70000;
  root.On = true;
  root.Off = false;
  root.Values = {1, -2};
  auto* kid = new TTestChild(&root);
  kid->SetName("Kid");
  kid->Width = 7;

  TMemoryStream m;
  WriteComponentToStream(m, &root);
  EXPECT_EQ(Contents(m), Fixture());

  // Into a new root of the registered class, children created and owned by it.
  m.SetPosition(0);
  std::unique_ptr<TComponent> read(ReadComponentFromStream(m, nullptr));
  auto* r = dynamic_cast<TTestComp*>(read.get());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Name(), "Root");
  EXPECT_EQ(r->Small, 5);
  EXPECT_EQ(r->Medium, 300);
  EXPECT_EQ(r->Large, 70000);
  EXPECT_TRUE(r->On);
  EXPECT_FALSE(r->Off);
  EXPECT_EQ(r->Values, (std::vector<int32_t>{1, -2}));
  ASSERT_EQ(r->ComponentCount(), 1);
  auto* k = dynamic_cast<TTestChild*>(r->Components(0));
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->Name(), "Kid");
  EXPECT_EQ(k->Width, 7);
  EXPECT_EQ(m.Position(), m.Size());
}

TEST_F(FilerTest, DefaultsAreNotWrittenAndIntegerWidthsFollowTheValue) {
  TTestComp c(nullptr);
  TMemoryStream m;
  WriteComponentToStream(m, &c);
  EXPECT_EQ(Contents(m), "TPF0" + Str("TTestComp") + Str("") + Bytes({0, 0}));

  struct Case {
    int32_t value;
    std::string bytes;
  } cases[] = {{-128, Bytes({2, 0x80})},
               {127, Bytes({2, 0x7F})},
               {128, Bytes({3, 0x80, 0x00})},
               {-32769, Bytes({4, 0xFF, 0x7F, 0xFF, 0xFF})},
               {INT32_MIN, Bytes({4, 0, 0, 0, 0x80})}};
  for (const Case& cs : cases) {
    TMemoryStream s;
    TWriter w(s);
    w.WriteInteger(cs.value);
    EXPECT_EQ(Contents(s), cs.bytes) << cs.value;
    s.SetPosition(0);
    TReader r(s);
    EXPECT_EQ(r.ReadInteger(), cs.value);
  }
}

enum TShade : uint8_t { shLight, shDark, shBlack };

class TItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  AnsiString Caption;
  TShade Shade = shLight;
  void DefinePublished(TPublishedProperties& p) override {
    p.String("Caption", Caption);
    p.Enum("Shade", Shade, shLight, {"shLight", "shDark", "shBlack"});
  }
};

class TFrame : public TPersistent {
 public:
  uint8_t Sides = 0;
  double Ratio = 0;
  void DefinePublished(TPublishedProperties& p) override {
    p.Set("Sides", Sides, uint8_t{0}, {"sdLeft", "sdTop", "sdRight"});
    p.Float("Ratio", Ratio, 0);
  }
};

class THolder : public TComponent {
 public:
  explicit THolder(TComponent* owner) : TComponent(owner), Items(TCollection::ItemClass<TItem>()) {}
  TCollection Items;
  TFrame Frame;
  AnsiString Title = "x";
  void DefinePublished(TPublishedProperties& p) override {
    p.Collection("Items", &Items);
    p.Object("Frame", &Frame);
    p.String("TitleOfTheHolderWindow", Title, "x");  // a name longer than any type byte
  }
};

TEST_F(FilerTest, CollectionsSubObjectsEnumsSetsAndStrings) {
  THolder h(nullptr);
  static_cast<TItem*>(h.Items.Add())->Caption = CZ("první");
  static_cast<TItem*>(h.Items.Add())->Shade = shBlack;
  h.Frame.Sides = 0b101;
  h.Frame.Ratio = 0.5;
  h.Title = std::string(300, 'a');

  TMemoryStream m;
  TWriter w(m);
  w.WriteProperties(&h);
  w.WriteListEnd();
  std::string expected = Str("Items") + Bytes({14, 1}) + Str("Caption") + Bytes({6}) + Str(CZ("první")) + Bytes({0, 1}) +
                         Str("Shade") + Bytes({7}) + Str("shBlack") + Bytes({0, 0}) + Str("Frame.Sides") +
                         Bytes({11}) + Str("sdLeft") + Str("sdRight") + Bytes({0}) + Str("Frame.Ratio") + Bytes({5});
  std::string all = Contents(m);
  ASSERT_GE(all.size(), expected.size() + 10);
  EXPECT_EQ(all.substr(0, expected.size()), expected);
  // The 10-byte extended 0.5, then the long string as vaLString.
  EXPECT_EQ(all.substr(expected.size(), 10), Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x3F}));
  const std::string title = Str("TitleOfTheHolderWindow") + Bytes({12, 0x2C, 0x01, 0, 0});
  EXPECT_EQ(all.substr(expected.size() + 10, title.size()), title);

  THolder back(nullptr);
  m.SetPosition(0);
  TReader r(m);
  r.ReadProperties(&back);
  ASSERT_EQ(back.Items.Count(), 2);
  EXPECT_EQ(static_cast<TItem*>(back.Items.Items(0))->Caption, CZ("první"));
  EXPECT_EQ(static_cast<TItem*>(back.Items.Items(1))->Shade, shBlack);
  EXPECT_EQ(back.Frame.Sides, 0b101);
  EXPECT_EQ(back.Frame.Ratio, 0.5);
  EXPECT_EQ(back.Title, std::string(300, 'a'));
}

TEST_F(FilerTest, UnknownClassesPropertiesAndWrongBasesAreRefused) {
  // Not registered.
  TMemoryStream a;
  std::string s = "TPF0" + Str("TNoSuchClass") + Str("") + Bytes({0, 0});
  a.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  a.SetPosition(0);
  EXPECT_THROW(ReadComponentFromStream(a, nullptr), EClassNotFound);

  // Registered, but no component: never created as one.
  RegisterClass<TFrame>("TFrame");
  TMemoryStream b;
  s = "TPF0" + Str("TFrame") + Str("") + Bytes({0, 0});
  b.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  b.SetPosition(0);
  EXPECT_THROW(ReadComponentFromStream(b, nullptr), EClassNotFound);
  EXPECT_EQ(CreateRegistered<TComponent>("TFrame"), nullptr);
  EXPECT_NE(CreateRegistered<TPersistent>("TFrame"), nullptr);
  UnRegisterClass("TFrame");

  // A property the class does not have, a bad signature, a value of the wrong type.
  struct Case {
    std::string bytes;
  } cases[] = {{"TPF0" + Str("TTestComp") + Str("") + Str("Nope") + Bytes({2, 1, 0, 0})},
               {"TPF1" + Str("TTestComp") + Str("") + Bytes({0, 0})},
               {"TPF0" + Str("TTestComp") + Str("") + Str("On") + Bytes({2, 1, 0, 0})},
               {"TPF0" + Str("TTestComp") + Str("") + Str("Large") + Bytes({4, 1})},
               // 300 does not fit the 8-bit field
               {"TPF0" + Str("TTestComp") + Str("") + Str("Small") + Bytes({3, 0x2C, 0x01, 0, 0})}};
  for (const Case& c : cases) {
    TMemoryStream m;
    m.WriteBuffer(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    m.SetPosition(0);
    TTestComp into(nullptr);
    EXPECT_THROW(ReadComponentFromStream(m, &into), EStreamError);
  }

  // Components nested deeper than any writer makes are refused, not followed down the stack.
  std::string deep = "TPF0" + Str("TTestComp") + Str("") + Bytes({0});
  for (int i = 0; i < 100000; ++i) deep += Str("TTestChild") + Str("") + Bytes({0});
  TMemoryStream m;
  m.WriteBuffer(deep.data(), static_cast<int64_t>(deep.size()));
  m.SetPosition(0);
  TTestComp into(nullptr);
  EXPECT_THROW(ReadComponentFromStream(m, &into), EReadError);
  EXPECT_LE(into.ComponentCount(), 1);
}

}  // namespace
}  // namespace pelvar
