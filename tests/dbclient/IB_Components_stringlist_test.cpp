// The library's name=value lists: quoted names, relation-qualified link look-ups,
// attributes in values, sorted look-ups by name, blank-line handling.
#include <gtest/gtest.h>

#include "dbclient/IB_Components.h"
#include "platform/codepage.h"

namespace pelvar::test {
namespace {

TEST(IB_StringList, NamesAndValuesRespectQuotedIdentifiers) {
  TIB_StringList list;
  list.Add("\"A=B\".\"X.Y\"=REQUIRED;NOCASE");
  list.Add("PLAIN");
  list.Add("REL.FIELD=1");
  EXPECT_EQ(list.GetItemName(0), "\"A=B\".\"X.Y\"");
  EXPECT_EQ(list.GetItemValue(0), "REQUIRED;NOCASE");
  EXPECT_EQ(list.GetItemRelation(0), "\"A=B\"");
  EXPECT_EQ(list.GetItemField(0), "\"X.Y\"");
  EXPECT_EQ(list.GetItemName(1), "PLAIN");
  EXPECT_EQ(list.GetItemValue(1), "");
  EXPECT_EQ(list.GetItemRelation(1), "PLAIN");
  EXPECT_EQ(list.GetItemField(1), "PLAIN");
  EXPECT_EQ(list.GetItemRelation(7), "");
  EXPECT_EQ(list.GetItemField(-1), "");

  list.SetItemValue(1, "V");
  EXPECT_EQ(list.Strings(1), "PLAIN=V");
  list.SetItemValue(2, "2");
  EXPECT_EQ(list.Strings(2), "REL.FIELD=2");
  list.SetItemName(2, "OTHER");
  EXPECT_EQ(list.Strings(2), "OTHER=2");
  list.SetItemName(2, "");
  EXPECT_EQ(list.Count(), 2);
}

TEST(IB_StringList, LinkLookupMatchesQualifiedAndUnqualifiedNames) {
  TIB_StringList list;
  list.Add("CUSTOMERS.NAME=REQUIRED");
  list.Add("CITY=NOCASE");
  AnsiString value;

  struct Case {
    const char* name;
    int32_t index;
    const char* value;
  };
  const Case cases[] = {
      {"CUSTOMERS.NAME", 0, "REQUIRED"},
      {"NAME", 0, "REQUIRED"},          // matched against the field part
      {"name", 0, "REQUIRED"},          // case aside
      {"ORDERS.NAME", -1, ""},          // only retried without its relation
      {"ORDERS.CITY", 1, "NOCASE"},     // ... which finds the plain item
      {"CITY", 1, "NOCASE"},
      {"STREET", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(list.IndexOfLinkName(c.name), c.index);
    EXPECT_EQ(list.GetLinkValue(c.name, value), c.index >= 0);
    EXPECT_EQ(value, c.value);
  }

  // The same in a sorted list, where the look-up by name is a binary search.
  TIB_StringCache sorted;
  sorted.Assign(&list);
  for (const Case& c : cases) {
    SCOPED_TRACE(AnsiString("sorted ") + c.name);
    EXPECT_EQ(sorted.GetLinkValue(c.name, value), c.index >= 0);
    EXPECT_EQ(value, c.value);
  }
}

TEST(IB_StringList, SetLinkValueReplacesEveryQualifiedMatchOrAdds) {
  TIB_StringList list;
  list.Add("A.NAME=1");
  list.Add("B.NAME=2");
  list.Add("C.CODE");
  list.SetLinkValue("NAME", "X");
  EXPECT_EQ(list.Text(), "A.NAME=X\r\nB.NAME=X\r\nC.CODE\r\n");

  list.SetLinkValue("C.CODE", "Y");  // an item without "=" gets one
  EXPECT_EQ(list.Strings(2), "C.CODE=Y");
  list.SetLinkValue("D.NAME", "Z");  // not held and NAME alone is no item: added
  EXPECT_EQ(list.Strings(3), "D.NAME=Z");
  list.SetLinkValue("NEW", "1");
  EXPECT_EQ(list.Strings(4), "NEW=1");
  EXPECT_EQ(list.Count(), 5);
}

TEST(IB_StringList, LinkAttributes) {
  TIB_StringList list;
  list.Add("T.PRICE=CURRENCY;MAXLEN=12");
  AnsiString value;
  EXPECT_TRUE(list.GetLinkAttributeValue("PRICE", "MAXLEN", value));
  EXPECT_EQ(value, "12");
  EXPECT_TRUE(list.HasItemAttribute(0, "currency"));
  EXPECT_FALSE(list.HasLinkAttribute("T.PRICE", "REQUIRED"));

  int changes = 0;
  list.OnChange = [&changes](TObject*) { ++changes; };
  list.SetLinkAttribute("PRICE", "REQUIRED", true);
  EXPECT_TRUE(list.HasLinkAttribute("T.PRICE", "REQUIRED"));
  EXPECT_EQ(changes, 1);
  list.SetLinkAttribute("PRICE", "REQUIRED", true);  // already there: nothing written
  EXPECT_EQ(changes, 1);
  list.SetLinkAttribute("PRICE", "CURRENCY", false);
  EXPECT_FALSE(list.HasItemAttribute(0, "CURRENCY"));
  EXPECT_EQ(changes, 2);
}

TEST(IB_StringList, SortedListsFindByNameAndHandleDuplicates) {
  TIB_StringCache cache;
  cache.Add("K=1");
  cache.Add("A=0");
  EXPECT_EQ(cache.Add("K=2"), 1);  // dupIgnore replaces
  EXPECT_EQ(cache.Text(), "A=0\r\nK=2\r\n");

  int32_t index = 0;
  EXPECT_TRUE(cache.FindName("k", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(cache.FindName("A=", index));
  EXPECT_EQ(index, -1);
  AnsiString value;
  EXPECT_TRUE(cache.FindValue("A", value));
  EXPECT_EQ(value, "0");

  cache.SetDuplicates(dupError);
  try {
    cache.Add("K=3");
    FAIL() << "duplicate accepted";
  } catch (const EIB_Error&) {
    FAIL() << "a plain Exception was expected";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Duplicate String Error");
  }
  // Renaming an item onto an existing name is refused without losing the item.
  EXPECT_THROW(cache.Put(0, "K=0"), Exception);
  EXPECT_EQ(cache.Text(), "A=0\r\nK=2\r\n");
  cache.SetDuplicates(dupAccept);
  cache.Add("K=3");
  EXPECT_EQ(cache.Count(), 3);

  // Put moves an item to its sorted place and keeps its object.
  TIB_StringCache moved;
  TStringList marker;
  moved.AddObject("B=1", &marker);
  moved.Add("C=1");
  moved.Put(0, "D=1");
  EXPECT_EQ(moved.Text(), "C=1\r\nD=1\r\n");
  EXPECT_EQ(moved.Objects(1), &marker);

  TIB_StringList unsorted;
  try {
    unsorted.FindName("A", index);
    FAIL() << "no error on an unsorted list";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), CZ("Pro tuto operaci musí být StringList setříděn"));
  }
}

TEST(IB_StringList, BlankLinesAndEmptyValues) {
  TIB_StringProperty prop;
  int changes = 0;
  prop.OnChange = [&changes](TObject*) { ++changes; };
  prop.Add("A=1");
  EXPECT_EQ(changes, 1);
  prop.Add("  ");  // kept, silently
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(prop.Count(), 2);
  prop.Add("B=2");  // the next change drops it
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(prop.Text(), "A=1\r\nB=2\r\n");

  // Inside an update bracket nothing is announced until the end.
  prop.BeginUpdate();
  prop.Add("C=3");
  prop.Add("");
  prop.Add("D=4");
  EXPECT_EQ(changes, 2);
  prop.EndUpdate();
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(prop.Count(), 4);

  TIB_StringList list;  // keeps its blank lines
  list.SetText("A=\r\n\r\nA\r\nA=1\r\n \"X=\"=\r\n\"Y=\"\r\n");
  EXPECT_EQ(list.Count(), 6);
  list.RemoveEmptyValues();
  EXPECT_EQ(list.Text(), "A\r\nA=1\r\n\"Y=\"\r\n");
  list.Add(" ");
  list.RemoveBlankLines();
  EXPECT_EQ(list.Count(), 3);
}

TEST(IB_StringList, CommaListAndStream) {
  TIB_StringList list;
  list.SetCommaList(" A , \"B,C\",, D ");
  EXPECT_EQ(list.Text(), "A\r\n\"B,C\"\r\n\r\nD\r\n");
  list.SetCommaList("");
  EXPECT_EQ(list.Count(), 0);

  list.Add("X=1");
  list.SaveToStream(static_cast<TStream*>(nullptr));
  TMemoryStream stream;
  list.SaveToStream(&stream);
  EXPECT_EQ(stream.Size(), 5);
}

}  // namespace
}  // namespace pelvar::test
