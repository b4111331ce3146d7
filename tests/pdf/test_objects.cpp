#include <gtest/gtest.h>

#include "pdf/kxPDFObjects.h"

using namespace pw;

TEST(PDFObjects, DictionaryDuplicateKeysActOnFirst) {
  TkxPDFDictObject d;
  d.AddInteger("/A", 1);
  d.AddInteger("/A", 2);
  EXPECT_EQ(d.Count(), 2);
  EXPECT_EQ(IntValue(d.Lookup("/A")), 1);
  d.SetValue("/A", std::make_unique<TkxPDFIntegerObject>(5));
  EXPECT_EQ(IntValue(d.ValueAt(0)), 5);
  EXPECT_EQ(IntValue(d.ValueAt(1)), 2);
  d.Remove("/A");
  ASSERT_EQ(d.Count(), 1);
  EXPECT_EQ(IntValue(d.Lookup("/A")), 2);
  EXPECT_EQ(d.Lookup("/a"), nullptr);  // case matters
  d.AddName("/N", "");
  EXPECT_EQ(d.Count(), 1);
  EXPECT_THROW(d.PutValueAt(3, nullptr), EInvalidIndex);
}

TEST(PDFObjects, StringTexts) {
  TkxPDFStringObject lit("(Hello)");
  EXPECT_EQ(lit.GetText(), "Hello");
  TkxPDFStringObject hex("<48656C6C6F>", true);
  EXPECT_EQ(hex.GetText(), "48656C6C6F");
  EXPECT_EQ(hex.GetBytes(), "Hello");
  TkxPDFStringObject utf16("<FEFF00480069>", true);
  EXPECT_EQ(utf16.GetWideText(), u"Hi");
  TkxPDFStringObject ansi("(\x80)");
  EXPECT_EQ(ansi.GetWideText(), u"\u20AC");
}

TEST(PDFObjects, ObjectListInsertAndErrors) {
  TkxObjectList l;
  TkxPDFNullObject a, b, c, d;
  l.Add(1, &a);
  l.Add(2, &b);
  l.Add(3, &c);
  l.Insert(0, 9, &d);
  EXPECT_EQ(l.Get(0), &d);
  EXPECT_EQ(l.Get(1), &a);
  EXPECT_EQ(l.IndexOfKey(3), 3);
  try {
    l.Add(-7, &a);
    FAIL();
  } catch (const EInvalidID& e) {
    EXPECT_STREQ(e.what(), "Invalid unique ID (-7)");
  }
  EXPECT_THROW(l.Get(4), Exception);
}

TEST(PDFObjects, CloneIsDeep) {
  auto dict = std::make_unique<TkxPDFDictObject>();
  dict->AddInteger("/Length", 3);
  auto s = std::make_unique<TkxPDFStreamObject>(std::move(dict), std::vector<uint8_t>{1, 2, 3});
  PDFObjectPtr clone = s->Clone();
  s.reset();
  auto* cs = AsStream(clone.get());
  ASSERT_NE(cs, nullptr);
  EXPECT_EQ(cs->Data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(IntValue(cs->Dict->Lookup("Length")), 3);
}

TEST(PDFObjects, ExtMemStreamBigEndianAndAlign) {
  TkxExtMemStream m;
  m.WriteWord(0x1234);
  m.WriteDWord(0xA1B2C3D4);
  m.WriteByte(7);
  m.Align4();
  EXPECT_EQ(m.Size(), 8u);
  EXPECT_EQ(m.AlignPadCount(), 1u);
  m.SetPosition(0);
  EXPECT_EQ(m.ReadWord(), 0x1234);
  EXPECT_EQ(m.ReadDWord(), 0xA1B2C3D4u);
  EXPECT_EQ(m.Skip(-100), -6);
  EXPECT_EQ(m.Skip(100), 8);
}
