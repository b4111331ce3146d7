// A metafile target for tests: the engine parts a metafile processor needs,
// with public settings and the lists the items went to.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/kxGraphic.h"
#include "engine/kxMetafileState.h"

namespace pw::test {

class TestMetafileTarget : public TkxMetafileTarget {
 public:
  int XRes = 96, YRes = 96, Ppi = 96;
  bool Line = false;
  TkxItemsToRender Wanted = TkxItemsToRender::All();
  uint16_t Caps = ocText | ocImages | ocShapes;
  TkxItemList Items;
  TkxTextItemList LineItems;
  TkxImageTable Table;

  int InputXRes() const override { return XRes; }
  int InputYRes() const override { return YRes; }
  int PPI() const override { return Ppi; }
  bool LineMode() const override { return Line; }
  TkxItemsToRender ItemsToRender() const override { return Wanted; }
  uint16_t OutputCapabilities() const override { return Caps; }
  TkxItemList* ItemList() override { return &Items; }
  TkxTextItemList* LineTextList() override { return &LineItems; }
  TkxImageTable* ImageTable() override { return &Table; }

  // The items of the item list that are a T, in order.
  template <class T>
  std::vector<T*> All() const {
    std::vector<T*> out;
    for (const auto& i : Items)
      if (auto* t = dynamic_cast<T*>(i.get())) out.push_back(t);
    return out;
  }
  std::vector<TkxTextItem*> Texts() const { return All<TkxTextItem>(); }
  std::vector<TkxShapeItem*> Shapes() const { return All<TkxShapeItem>(); }
  std::vector<TkxImageItem*> Images() const { return All<TkxImageItem>(); }
  const TGraphic& Picture(const TkxImageItem& item) const { return *Table.at(item.ImageIndex).Picture; }
};

}  // namespace pw::test
