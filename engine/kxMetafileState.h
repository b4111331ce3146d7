// The drawing state of the metafile processor: what a GDI device context
// would hold while a page recording is played (map mode, window and viewport,
// world transform, selected pen, brush, font and palette, colours, text
// alignment, current position, the object table and the saved states), the
// conversion of logical coordinates into engine pixels, and the handlers of
// the records that only change that state.
//
// The state reaches the engine through TkxMetafileTarget, the few engine
// parts a processor needs (resolutions, which kinds of content are wanted,
// the lists the items go to), so that it can run without a whole engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/kxDocumentItems.h"
#include "engine/kxFormatSettings.h"
#include "engine/kxItemsToRender.h"
#include "platform/kxEmf.h"
#include "platform/kxGraphicsObjects.h"

namespace pw {

class TkxBitmap;
struct TkxImageTableEntry;
using TkxImageTable = std::vector<TkxImageTableEntry>;
class TkxImageSettings;

// The engine as a metafile processor sees it.
class TkxMetafileTarget {
 public:
  virtual ~TkxMetafileTarget() = default;
  // Resolution of what was drawn on the page canvas (dots per inch).
  virtual int InputXRes() const = 0;
  virtual int InputYRes() const = 0;
  // Engine pixels per inch (the screen's logical resolution).
  virtual int PPI() const = 0;
  // Plain text items go to the line-text list instead of the item list.
  virtual bool LineMode() const = 0;
  // The kinds the engine was asked to render, and the engine's
  // OutputCapabilities bits (which kinds its output format can hold).
  virtual TkxItemsToRender ItemsToRender() const = 0;
  virtual uint16_t OutputCapabilities() const = 0;
  // The current lists; nullptr drops what would go there.
  virtual TkxItemList* ItemList() = 0;
  virtual TkxTextItemList* LineTextList() = 0;
  // Pictures of image items (nullptr: no picture table).
  virtual TkxImageTable* ImageTable() { return nullptr; }
  virtual const TkxImageSettings* ImageSettings() const { return nullptr; }
};

// A font of the recording: the engine's font description plus the
// escapement (tenths of a degree, counter-clockwise), which copies along.
class TkxMetafileFont : public TFont {
 public:
  int32_t Escapement = 0;
  void Assign(const TFont& source) override;
};

// Members of TextAlignSet (bit numbers).
enum TkxTextAlignMember : int { taNoUpdateCP = 0, taUpdateCP, taLeft, taRight, taCenter, taTop, taBottom, taBaseline };

// Text alignment as a set of TkxTextAlignMember bits.
class TextAlignSet {
 public:
  constexpr TextAlignSet() = default;
  // Left alone: no vertical member, which places a run as with top.
  static constexpr TextAlignSet Initial() { return TextAlignSet().With(taLeft); }
  // From an EMR_SETTEXTALIGN value (TA_* bits).
  static TextAlignSet FromValue(uint32_t value);
  constexpr bool Contains(TkxTextAlignMember m) const { return (bits_ & (1u << m)) != 0; }
  constexpr TextAlignSet With(TkxTextAlignMember m) const {
    TextAlignSet s = *this;
    s.bits_ = static_cast<uint16_t>(s.bits_ | (1u << m));
    return s;
  }
  constexpr uint16_t Bits() const { return bits_; }
  constexpr bool operator==(const TextAlignSet&) const = default;

 private:
  uint16_t bits_ = 0;
};

// A logical palette; only its first two values are kept.
struct TkxPalette {
  uint32_t Value1 = 0;
  uint32_t Value2 = 0;
  bool operator==(const TkxPalette&) const = default;
};

// Kinds of object-table entries.
enum TkxGDIObjectKind : uint8_t { goPen = 0, goBrush = 1, goFont = 2, goPalette = 3, goEmpty = 4 };

// One entry of the object table. Only the member that matches Kind means
// anything.
struct TkxGDIOBJ {
  uint8_t Kind = goEmpty;
  TPen Pen;
  TBrush Brush;
  TkxMetafileFont Font;
  TkxPalette Palette;
  // Pattern bitmap of a pattern brush.
  std::shared_ptr<const TkxBitmap> Pattern;
  // Geometric pens only (EMR_EXTCREATEPEN): 0 none, 1 bevel, 2 miter, 3 round.
  uint8_t LineJoin = 0;
  // 0 none, 1 round, 2 square, 3 flat.
  uint8_t EndCap = 0;
  // Fonts: -1 a symbol font, 1 not; 0 until first selected (asking the font
  // manager once per font, not once per selection).
  int8_t FontKind = 0;
};

// Metrics of a font, in points.
struct TkxFontInfo {
  uint32_t Flags = 0;
  double Ascent = 800;
  double Descent = -200;
  double CapHeight = 700;
  double StrikeoutSize = 0;
  double StrikeoutPosition = 0;
  double UnderlineSize = 0;
  double UnderlinePosition = -1;
};

// Flags of TkxFontInfo.
constexpr uint32_t kFontFixedPitch = 1 << 0;
constexpr uint32_t kFontSerif = 1 << 1;
constexpr uint32_t kFontSymbolic = 1 << 2;
constexpr uint32_t kFontScript = 1 << 3;
constexpr uint32_t kFontNonsymbolic = 1 << 5;
constexpr uint32_t kFontItalic = 1 << 6;

// One saved drawing state (EMR_SAVEDC). A GDI device context saves all of
// its attributes, and recordings rely on that: a recorder that restores a
// state does not repeat the colour or mode it knows is back in force.
struct TkxMetaState {
  TkxMetafileFont Font;
  int32_t FontKind = -1;
  TBrush Brush;
  TPen Pen;
  uint8_t PenLineJoin = 0, PenEndCap = 0;
  TkxPalette Palette;
  uint32_t BkMode = OPAQUE;
  uint32_t MapMode = 0;
  TkxEmfXForm XForm;
  int32_t WindowExtX = 1, WindowExtY = 1, ViewportExtX = 1, ViewportExtY = 1;
  int32_t WindowOrgX = 0, WindowOrgY = 0, ViewportOrgX = 0, ViewportOrgY = 0;
  TextAlignSet TextAlign = TextAlignSet::Initial();
  TColor TextColor = 0;
  TColor BkColor = 0xFFFFFF;
  uint32_t Rop2 = 0, StretchMode = 0, PolyFillMode = 0, IcmMode = 0;
  uint32_t MiterLimit = 0;
  int32_t CurrentX = 0, CurrentY = 0;
  double TextAdvance = 0;
};

// Largest object handle a recording may use (the header counts handles in
// 16 bits); records naming a larger one are skipped.
constexpr uint32_t kMaxMetafileHandle = 0xFFFF;

class TkxMetafileState {
 public:
  explicit TkxMetafileState(TkxMetafileTarget& target);
  virtual ~TkxMetafileState() = default;
  TkxMetafileState(const TkxMetafileState&) = delete;
  TkxMetafileState& operator=(const TkxMetafileState&) = delete;

  TkxMetafileTarget& Target() const { return target_; }

  // ---- The drawing state ----
  double OffsetX = 0, OffsetY = 0;  // added to every produced x and y
  uint32_t Rop2 = 0;
  uint32_t StretchMode = 0;
  uint32_t IcmMode = 0;
  uint32_t PolyFillMode = 0;
  TColor BkColor = 0xFFFFFF;
  uint32_t MapMode = 0;              // 0: none was set
  uint32_t MiterLimit = 0x41200000;  // the bits of 10.0f
  std::string CommentTag;
  TkxMetafileFont Font;
  TBrush Brush;
  TPen Pen;
  // Line join and end cap of the selected pen (as TkxGDIOBJ keeps them).
  uint8_t PenLineJoin = 0, PenEndCap = 0;
  TkxPalette Palette;
  TextAlignSet TextAlign = TextAlignSet::Initial();
  TColor TextColor = 0;
  int32_t CurrentX = 0, CurrentY = 0;  // logical units
  // Width written since the last move while text follows the current position.
  double TextAdvance = 0;
  uint32_t BkMode = OPAQUE;
  TkxDoubleRect PendingBar;
  int32_t DecorationCountdown = 0;
  TkxDoubleRect ClipRect;  // all zero: none
  bool BarPending = false;
  // 1: an ordinary font object is selected; -1: a symbol font, or none yet.
  int32_t FontKind = -1;
  uint32_t RecordCount = 0;
  std::vector<TkxGDIOBJ> Objects;  // index = handle - 1
  bool RenderText = false, RenderImages = false, RenderShapes = false;
  bool ClipActive = false;
  bool ClipSeen = false;
  TkxEmfXForm XForm;
  std::vector<TkxMetaState> States;
  int32_t ViewportOrgX = 0, ViewportOrgY = 0;
  int32_t ViewportExtX = 1, ViewportExtY = 1;
  int32_t WindowOrgX = 0, WindowOrgY = 0;
  int32_t WindowExtX = 1, WindowExtY = 1;
  double ScaleX = 1.0, ScaleY = 1.0;  // isotropic and anisotropic modes
  // Text written with TA_UPDATECP follows the current position.
  bool TrackCurrentPosition = false;
  // Reference-device pixels per millimetre (from the recording's header),
  // for the metric and English map modes.
  double DevicePixelsPerMMX = 0, DevicePixelsPerMMY = 0;

  // ---- Coordinates ----
  // Engine pixels per input pixel (read from the target when the state is
  // made and at every recording's header).
  double Rx() const { return rx_; }
  double Ry() const { return ry_; }
  // Device pixels per logical unit of the current map mode (negative where
  // the mode's y axis points up).
  double MapScaleX() const;
  double MapScaleY() const;
  // Logical point to engine pixels: world transform, window to viewport,
  // input to engine resolution. Offsets are not added.
  TkxDoublePoint ConvertPoint(double x, double y) const;
  // The same without the viewport origin.
  TkxDoublePoint ConvertVector(double x, double y) const;
  // Both corners through ConvertPoint.
  TkxDoubleRect ConvertRect(const TkxEmfRectL& r) const;
  // A logical pen width in engine pixels.
  double ConvertWidth(double w) const;
  // Recomputes ScaleX/ScaleY from the extents (isotropic and anisotropic
  // modes only; isotropic keeps the smaller scale in both directions).
  void UpdateMapScale();
  // Em height (negative) or cell height (positive) in engine pixels of a
  // logical font height, through the transform and the map mode.
  double FontHeightPixels(int32_t lfHeight) const;

  // ---- State ----
  void SaveState();
  // n < 0: |n| levels back; n > 0: the n-th saved state from the oldest,
  // counted from 0; anything out of range, or n = 0, does nothing.
  void RestoreState(int32_t n);
  void SelectStockObject(uint32_t index);
  // Record colours: RGB values below 0x1000000, anything else black.
  static TColor ColorFromRecord(uint32_t value);
  // The engine's default font at the engine resolution.
  TkxMetafileFont DefaultFont() const;

  // Handles the state and object records; false for other record types.
  bool ProcessStateRecord(const TkxEmfRecord& record);

  // ---- Items ----
  // Text items go to the line-text list in line mode, else to the item list.
  void AppendText(std::unique_ptr<TkxTextItem> item);
  void AppendItem(std::unique_ptr<TkxDocumentItem> item);
  // The list text items go to is not empty.
  bool HasTextItems() const;
  // Colour of what was last drawn under the whole of box, when that is a
  // solid box of one colour; clNone otherwise (the paper, a picture, a
  // figure that is not a box).
  // right: the right edge of that box.
  TColor BackdropAt(const TkxDoubleRect& box, double* right = nullptr) const;

 protected:
  // The object-table entry of a handle, or nullptr.
  TkxGDIOBJ* ObjectOf(uint32_t handle);
  // A new entry at handle - 1 (the table grows with empty slots); nullptr
  // for handle 0 or beyond kMaxMetafileHandle.
  TkxGDIOBJ* CreateObject(uint32_t handle);

 private:
  void SetMapMode(uint32_t mode);
  void ModifyWorldTransform(const TkxEmfXForm& x, uint32_t mode);
  void CreatePen(const TkxEmfRecord& r);
  void ExtCreatePen(const TkxEmfRecord& r);
  void CreateBrushIndirect(const TkxEmfRecord& r);
  void CreatePatternBrush(const TkxEmfRecord& r);
  void ExtCreateFont(const TkxEmfRecord& r);
  void CreatePalette(const TkxEmfRecord& r);
  void SelectObject(uint32_t handle);
  void SelectPalette(uint32_t handle);
  void DeleteObject(uint32_t handle);
  void ReadHeader(const TkxEmfRecord& r);
  void AppendRemoveClip();
  // Remembers what a drawn item covers, for BackdropAt.
  void NoteCover(const TkxDocumentItem& item);

  void ReadResolution();

  TkxMetafileTarget& target_;
  double rx_ = 1, ry_ = 1;
  struct Cover {
    TkxDoubleRect Box;
    TColor Color;
  };
  std::vector<Cover> covers_;
};

// Whole number nearest to v, halves to the even neighbour, clamped to int.
int RoundToInt(double v);

// Character set of a font asked for with DEFAULT_CHARSET: the only one the
// installed family offers, else that of the ANSI code page.
TFontCharset CharsetFromCodePage(const std::string& family);
// The family offers the symbol character set and nothing else.
bool IsSymbolFont(const std::string& family);

// Multiplies two transforms: a then b.
TkxEmfXForm MultiplyXForm(const TkxEmfXForm& a, const TkxEmfXForm& b);

}  // namespace pw
