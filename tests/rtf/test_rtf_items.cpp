#include <gtest/gtest.h>

#include <memory>

#include "rtf/kxRTFItems.h"
#include "rtf/kxRTFPreferences.h"

using namespace pw;

TEST(RTFPreferences, DefaultsAndAssignThroughTheBase) {
  TkxRTFPreferences rtf;
  EXPECT_TRUE(rtf.ActiveHyperLinks());
  EXPECT_FALSE(rtf.GraphicDataInBinary());
  EXPECT_FALSE(rtf.MetafileAsImage());

  // The program's RTF engine settings.
  rtf.SetOpenAfterCreate(false);
  rtf.SetProcessAfterEachPage(true);
  rtf.SetShowSetupDialog(false);
  rtf.SetGraphicDataInBinary(true);
  TkxRTFPreferences other;
  TkxPreferences& asBase = other;
  asBase.Assign(rtf);
  EXPECT_TRUE(other.GraphicDataInBinary());
  EXPECT_FALSE(other.ShowSetupDialog());
  EXPECT_TRUE(other.ProcessAfterEachPage());

  TkxPlainSheetPreferences sheet;
  sheet.SetActiveHyperLinks(false);
  other.Assign(sheet);
  EXPECT_FALSE(other.ActiveHyperLinks());
  EXPECT_TRUE(other.GraphicDataInBinary());  // a plain-sheet object has none
  EXPECT_TRUE(other.OpenAfterCreate());
}

TEST(RTFItems, AreDocumentItems) {
  std::unique_ptr<TkxDocumentItem> mark = std::make_unique<TkxBookmarkItem>("intro", 5, 6);
  auto* b = dynamic_cast<TkxBookmarkItem*>(mark.get());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Name, "intro");
  EXPECT_EQ(b->X, 5);
  EXPECT_EQ(b->Y, 6);
  const TkxTabItem tab;
  EXPECT_EQ(tab.LineSpacing, 1.0);
  EXPECT_TRUE(tab.Cells.empty() && tab.TabPositions.empty());
}
