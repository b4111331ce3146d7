#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/kxDocumentItems.h"
#include "platform/kxScreen.h"

using namespace pw;

TEST(ImageItem, FromCornersInAnyOrder) {
  struct Case {
    TkxDoublePoint a, b;
    double x, y, w, h;
  };
  const Case cases[] = {
      {{200, 300}, {100, 50}, 100, 50, 100, 250},
      {{100, 50}, {200, 300}, 100, 50, 100, 250},
      {{10, -5}, {-30, 15}, -30, -5, 40, 20},
      {{7, 7}, {7, 7}, 7, 7, 0, 0},
  };
  for (const Case& c : cases) {
    const TkxImageItem item(c.a, c.b);
    EXPECT_EQ(item.X, c.x);
    EXPECT_EQ(item.Y, c.y);
    EXPECT_EQ(item.Width, c.w);
    EXPECT_EQ(item.Height, c.h);
    EXPECT_EQ(item.Bounds, (TkxDoubleRect{c.x, c.y, c.x + c.w, c.y + c.h}));
  }
  const TkxImageStream stream({200, 300}, {100, 50});
  EXPECT_EQ(stream.Bounds, (TkxDoubleRect{100, 50, 200, 300}));
  EXPECT_EQ(TkxImageItem().ImageIndex, -1);
}

TEST(TextItem, CreatedEmptyAndClipRectReset) {
  TkxTextItem t;
  EXPECT_TRUE(t.Lines.empty());
  EXPECT_EQ(t.FirstLine(), u"");
  EXPECT_FALSE(t.HasClipRect() || t.FromRecording || t.HasWideChars);
  EXPECT_EQ(t.Font, TFont());
  EXPECT_EQ(t.Brush, TBrush());

  t.SetHasClipRect(true);
  t.SetClipRect({1, 2, 3, 4});
  EXPECT_EQ(t.ClipRect(), (TkxDoubleRect{1, 2, 3, 4}));
  t.SetHasClipRect(false);
  EXPECT_EQ(t.ClipRect(), TkxDoubleRect{});
  t.Lines = {u"first", u"second"};
  EXPECT_EQ(t.FirstLine(), u"first");
}

namespace {

int destroyedParts = 0;

class CountedShape : public TkxShapeItem {
 public:
  using TkxShapeItem::TkxShapeItem;
  ~CountedShape() override { ++destroyedParts; }
};

}  // namespace

TEST(ShapeItems, OwnershipOfPartsBrushesAndLists) {
  destroyedParts = 0;
  {
    auto group = std::make_unique<TkxPolyShapeItem>();
    for (int i = 0; i < 3; ++i) {
      auto part = std::make_unique<CountedShape>(shPolygon);
      part->SetBrush(TBrush());
      part->SetPoints(std::vector<TkxDoublePoint>{{0, 0}, {1, 0}, {1, 1}});
      group->Add(std::move(part));
    }
    EXPECT_EQ(group->Count(), 3);
    TkxBandItem band;
    band.ItemList.push_back(std::move(group));
    band.LineTextList.push_back(std::make_unique<TkxTextItem>());
  }
  EXPECT_EQ(destroyedParts, 3);

  TkxShapeItem line;
  EXPECT_EQ(line.ShapeType, shLine);
  EXPECT_EQ(line.Brush, nullptr);  // not filled
  EXPECT_EQ(line.PointCount(), 0);
  const TkxDoublePoint pts[] = {{1, 2}, {3, 4}};
  line.SetPoints(pts);
  EXPECT_EQ(line.PointCount(), 2);
  EXPECT_EQ(line.Points[1], (TkxDoublePoint{3, 4}));

  // A path item's brush and pen exist once assigned, then are reused.
  TkxPathItem path(paFillPath);
  EXPECT_EQ(path.Brush, nullptr);
  EXPECT_EQ(path.Pen, nullptr);
  TBrush red;
  red.SetColor(clRed);
  path.SetBrush(red);
  const TBrush* first = path.Brush.get();
  path.SetBrush(TBrush());
  EXPECT_EQ(path.Brush.get(), first);
  EXPECT_EQ(path.Brush->Color(), clWhite);
  path.SetPen(TPen());
  ASSERT_NE(path.Pen, nullptr);
}

TEST(ShapeItems, PolyPolygonAndPolyDrawStayConsistent) {
  TkxPolyPolygonItem pp;
  EXPECT_EQ(pp.PolygonCount(), 0);
  const TkxDoublePoint pts[] = {{0, 0}, {4, 0}, {4, 4}, {1, 1}, {2, 1}, {2, 2}, {1, 2}};
  const int counts[] = {3, 4};
  ASSERT_TRUE(pp.SetPolygons(counts, pts));
  EXPECT_EQ(pp.PolygonCount(), 2);
  EXPECT_EQ(pp.Counts, (std::vector<int>{7, 3, 4}));
  EXPECT_EQ(pp.Points.size(), 7u);

  // Counts that do not match the points are refused whole.
  const int tooMany[] = {3, 5};
  const int negative[] = {8, -1};
  EXPECT_FALSE(pp.SetPolygons(tooMany, pts));
  EXPECT_FALSE(pp.SetPolygons(negative, pts));
  EXPECT_EQ(pp.Counts, (std::vector<int>{7, 3, 4}));

  TkxPolyDrawItem pd;
  const uint8_t types[] = {6, 2, 3};
  EXPECT_FALSE(pd.SetPoints(pts, types));
  EXPECT_EQ(pd.PointCount(), 0);
  ASSERT_TRUE(pd.SetPoints(std::span(pts, 3), types));
  EXPECT_EQ(pd.PointCount(), 3);
  pd.Types.pop_back();  // a writer never reads past the shorter array
  EXPECT_EQ(pd.PointCount(), 2);

  TkxClipItem clip;
  EXPECT_EQ(clip.Mode, kClipSetRects);
  EXPECT_EQ(clip.PointCount(), 0);
}

TEST(StructureItems, TablePageAndEngineState) {
  TkxTableItem table(nullptr, 3, 10, 20);
  EXPECT_EQ(table.CurrentRow, -1);
  ASSERT_EQ(table.ColumnCount(), 3);
  for (const auto& col : table.Columns) EXPECT_EQ(col->Table, &table);
  table.Rows.emplace_back();
  table.Rows[0].push_back(std::make_unique<TkxTextItem>());

  // A page keeps its own copy of the engine's page settings, in pixels.
  TkxPageSettings enginePage;
  enginePage.SetUnitFactor(TkxScreen::PPI());  // inches
  enginePage.SetLeftMargin(1);
  TkxPageItem page(nullptr, enginePage);
  enginePage.SetLeftMargin(2);
  EXPECT_DOUBLE_EQ(page.PageSettings.UnitFactor(), 1.0);
  EXPECT_DOUBLE_EQ(page.PageSettings.LeftMargin(), TkxScreen::PPI());
  EXPECT_EQ(page.FlowPosition, 0);

  // A saved state is a set of independent copies.
  TFont font;
  font.SetName("Arial");
  TkxEngineState state;
  state.Font = font;
  state.PageSettings = enginePage;
  font.SetName("Courier New");
  EXPECT_EQ(state.Font.Name(), "Arial");
  EXPECT_DOUBLE_EQ(state.PageSettings.Stored(ppLeftMargin), 2 * TkxScreen::PPI());
}
