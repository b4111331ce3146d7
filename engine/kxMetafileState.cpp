#include "engine/kxMetafileState.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "pdf/kxClasses.h"
#include "platform/kxBitmap.h"
#include "platform/kxEmfDeviceContext.h"
#include "platform/kxFontManager.h"

namespace pw {

namespace {

// Fixed-size records: the size they need before their fields can be read.
constexpr size_t kOneValueRecord = 12;
constexpr size_t kTwoValueRecord = 16;
// Font heights beyond this many pixels are taken as this many.
constexpr double kMaxFontPixels = 32767;

bool Finite(const TkxEmfXForm& x) {
  return std::isfinite(x.eM11) && std::isfinite(x.eM12) && std::isfinite(x.eM21) && std::isfinite(x.eM22) &&
         std::isfinite(x.eDx) && std::isfinite(x.eDy);
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Scales an extent by num / denom as integers; false when that cannot give
// a usable extent.
bool ScaleExtent(int32_t& ext, int32_t num, int32_t denom) {
  if (denom == 0) return false;
  const int64_t v = static_cast<int64_t>(ext) * num / denom;
  if (v == 0) return false;
  ext = ClampToInt32(v);
  return true;
}

}  // namespace

int RoundToInt(double v) {
  if (!std::isfinite(v)) return 0;
  const double r = std::nearbyint(v);
  if (r >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (r <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

TkxEmfXForm MultiplyXForm(const TkxEmfXForm& a, const TkxEmfXForm& b) {
  TkxEmfXForm r;
  r.eM11 = a.eM11 * b.eM11 + a.eM12 * b.eM21;
  r.eM12 = a.eM11 * b.eM12 + a.eM12 * b.eM22;
  r.eM21 = a.eM21 * b.eM11 + a.eM22 * b.eM21;
  r.eM22 = a.eM21 * b.eM12 + a.eM22 * b.eM22;
  r.eDx = a.eDx * b.eM11 + a.eDy * b.eM21 + b.eDx;
  r.eDy = a.eDx * b.eM12 + a.eDy * b.eM22 + b.eDy;
  return r;
}

TFontCharset CharsetFromCodePage(const std::string& family) {
  static constexpr int kKnown[] = {0, 2, 77, 128, 129, 130, 134, 136, 161, 162, 163, 177, 178, 186, 204, 222, 238, 255};
  TkxFontManager& fm = TkxFontManager::Instance();
  if (!family.empty() && fm.IsInstalledFamily(family)) {
    std::vector<int> offered;
    for (int cs : fm.Charsets(family))
      if (std::find(std::begin(kKnown), std::end(kKnown), cs) != std::end(kKnown)) offered.push_back(cs);
    if (offered.size() == 1) return static_cast<TFontCharset>(offered[0]);
  }
  // The ANSI code page of this port is 1252, whose character set is ANSI.
  return ANSI_CHARSET;
}

bool IsSymbolFont(const std::string& family) {
  if (family.empty()) return false;
  const std::vector<int> cs = TkxFontManager::Instance().Charsets(family);
  return cs.size() == 1 && cs[0] == SYMBOL_CHARSET;
}

void TkxMetafileFont::Assign(const TFont& source) {
  TFont::Assign(source);
  if (auto* f = dynamic_cast<const TkxMetafileFont*>(&source)) Escapement = f->Escapement;
}

TextAlignSet TextAlignSet::FromValue(uint32_t v) {
  TextAlignSet s;
  s = s.With((v & TA_UPDATECP) ? taUpdateCP : taNoUpdateCP);
  if ((v & TA_BASELINE) == TA_BASELINE)
    s = s.With(taBaseline);
  else if (v & TA_BOTTOM)
    s = s.With(taBottom);
  else
    s = s.With(taTop);
  if ((v & TA_CENTER) == TA_CENTER)
    s = s.With(taCenter);
  else if (v & TA_RIGHT)
    s = s.With(taRight);
  else
    s = s.With(taLeft);
  return s;
}

TkxMetafileState::TkxMetafileState(TkxMetafileTarget& target) : target_(target) {
  using K = TkxItemsToRenderKind;
  const TkxItemsToRender wanted = target.ItemsToRender();
  const uint16_t caps = target.OutputCapabilities();
  RenderText = RendersKind(wanted, caps, K::irText);
  RenderImages = RendersKind(wanted, caps, K::irImage);
  RenderShapes = RendersKind(wanted, caps, K::irShape);
  ReadResolution();
  Font = DefaultFont();
}

TkxMetafileFont TkxMetafileState::DefaultFont() const {
  TkxMetafileFont f;
  f.SetPixelsPerInch(target_.PPI());
  f.SetSize(8);
  return f;
}

// ---- Coordinates ----------------------------------------------------------------

void TkxMetafileState::ReadResolution() {
  const int inX = target_.InputXRes(), inY = target_.InputYRes();
  rx_ = inX > 0 ? static_cast<double>(target_.PPI()) / inX : 1.0;
  ry_ = inY > 0 ? static_cast<double>(target_.PPI()) / inY : 1.0;
}

double TkxMetafileState::MapScaleX() const {
  if (MapMode == MM_ISOTROPIC || MapMode == MM_ANISOTROPIC) return ScaleX;
  const double mm = MillimetresPerUnit(MapMode);
  if (mm == 0) return 1.0;
  const double ppmm = DevicePixelsPerMMX > 0 ? DevicePixelsPerMMX : target_.InputXRes() / 25.4;
  return ppmm * mm;
}

double TkxMetafileState::MapScaleY() const {
  if (MapMode == MM_ISOTROPIC || MapMode == MM_ANISOTROPIC) return ScaleY;
  const double mm = MillimetresPerUnit(MapMode);
  if (mm == 0) return 1.0;
  const double ppmm = DevicePixelsPerMMY > 0 ? DevicePixelsPerMMY : target_.InputYRes() / 25.4;
  return -ppmm * mm;  // these modes count y upwards
}

TkxDoublePoint TkxMetafileState::ConvertVector(double x, double y) const {
  const double wx = x * XForm.eM11 + y * XForm.eM21 + XForm.eDx;
  const double wy = x * XForm.eM12 + y * XForm.eM22 + XForm.eDy;
  return {(wx - WindowOrgX) * MapScaleX() * Rx(), (wy - WindowOrgY) * MapScaleY() * Ry()};
}

TkxDoublePoint TkxMetafileState::ConvertPoint(double x, double y) const {
  // The viewport origin is in device pixels of the recording, so it takes
  // the resolution factor like everything else.
  TkxDoublePoint p = ConvertVector(x, y);
  p.X += ViewportOrgX * Rx();
  p.Y += ViewportOrgY * Ry();
  return p;
}

TkxDoubleRect TkxMetafileState::ConvertRect(const TkxEmfRectL& r) const {
  const TkxDoublePoint a = ConvertPoint(r.left, r.top);
  const TkxDoublePoint b = ConvertPoint(r.right, r.bottom);
  return {a.X, a.Y, b.X, b.Y};
}

double TkxMetafileState::ConvertWidth(double w) const {
  return std::fabs(w * MapScaleX() * std::hypot(XForm.eM11, XForm.eM12) * Rx());
}

double TkxMetafileState::FontHeightPixels(int32_t lfHeight) const {
  return lfHeight * std::fabs(MapScaleY()) * std::hypot(XForm.eM21, XForm.eM22) * Ry();
}

void TkxMetafileState::UpdateMapScale() {
  ExtentScale(MapMode, WindowExtX, WindowExtY, ViewportExtX, ViewportExtY, ScaleX, ScaleY);
}

// ---- Saved states ------------------------------------------------------------------

void TkxMetafileState::SaveState() {
  TkxMetaState s;
  s.Font = Font;
  s.FontKind = FontKind;
  s.Brush = Brush;
  s.Pen = Pen;
  s.PenLineJoin = PenLineJoin, s.PenEndCap = PenEndCap;
  s.Palette = Palette;
  s.BkMode = BkMode;
  s.MapMode = MapMode;
  s.XForm = XForm;
  s.WindowExtX = WindowExtX, s.WindowExtY = WindowExtY;
  s.ViewportExtX = ViewportExtX, s.ViewportExtY = ViewportExtY;
  s.WindowOrgX = WindowOrgX, s.WindowOrgY = WindowOrgY;
  s.ViewportOrgX = ViewportOrgX, s.ViewportOrgY = ViewportOrgY;
  s.TextAlign = TextAlign;
  s.TextColor = TextColor;
  s.BkColor = BkColor;
  s.Rop2 = Rop2, s.StretchMode = StretchMode, s.PolyFillMode = PolyFillMode, s.IcmMode = IcmMode;
  s.MiterLimit = MiterLimit;
  s.CurrentX = CurrentX, s.CurrentY = CurrentY;
  s.TextAdvance = TextAdvance;
  States.push_back(std::move(s));
}

void TkxMetafileState::RestoreState(int32_t n) {
  if (States.empty() || n == 0) return;
  const int64_t count = static_cast<int64_t>(States.size());
  int64_t index = n < 0 ? count + n : n;
  if (index < 0 || index >= count) return;
  const TkxMetaState& s = States[static_cast<size_t>(index)];
  Font = s.Font;
  FontKind = s.FontKind;
  Brush = s.Brush;
  Pen = s.Pen;
  PenLineJoin = s.PenLineJoin, PenEndCap = s.PenEndCap;
  Palette = s.Palette;
  BkMode = s.BkMode;
  MapMode = s.MapMode;
  XForm = s.XForm;
  WindowExtX = s.WindowExtX, WindowExtY = s.WindowExtY;
  ViewportExtX = s.ViewportExtX, ViewportExtY = s.ViewportExtY;
  WindowOrgX = s.WindowOrgX, WindowOrgY = s.WindowOrgY;
  ViewportOrgX = s.ViewportOrgX, ViewportOrgY = s.ViewportOrgY;
  TextAlign = s.TextAlign;
  TextColor = s.TextColor;
  BkColor = s.BkColor;
  Rop2 = s.Rop2, StretchMode = s.StretchMode, PolyFillMode = s.PolyFillMode, IcmMode = s.IcmMode;
  MiterLimit = s.MiterLimit;
  CurrentX = s.CurrentX, CurrentY = s.CurrentY;
  TextAdvance = s.TextAdvance;
  States.resize(static_cast<size_t>(index));
  UpdateMapScale();
}

// ---- Objects -------------------------------------------------------------------------

TColor TkxMetafileState::ColorFromRecord(uint32_t value) {
  return value < 0x1000000u ? static_cast<TColor>(value) : clBlack;
}

void TkxMetafileState::SelectStockObject(uint32_t index) {
  auto solid = [](TColor c) {
    TBrush b;
    b.SetColor(c);
    return b;
  };
  switch (index) {
    case WHITE_BRUSH:
    case DC_BRUSH: Brush = TBrush(); break;
    case LTGRAY_BRUSH: Brush = solid(0xC0C0C0); break;
    case GRAY_BRUSH: Brush = solid(0x808080); break;
    case DKGRAY_BRUSH: Brush = solid(0x404040); break;
    case BLACK_BRUSH: Brush = solid(0); break;
    case NULL_BRUSH:
      Brush = TBrush();
      Brush.SetStyle(bsClear);
      break;
    case WHITE_PEN:
      Pen = TPen();
      PenLineJoin = PenEndCap = 0;
      Pen.SetColor(0xFFFFFF);
      break;
    case BLACK_PEN:
    case DC_PEN: Pen = TPen(), PenLineJoin = PenEndCap = 0; break;
    case NULL_PEN:
      Pen = TPen();
      PenLineJoin = PenEndCap = 0;
      Pen.SetStyle(psClear);
      break;
    case OEM_FIXED_FONT:
    case ANSI_FIXED_FONT:
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEVICE_DEFAULT_FONT:
    case SYSTEM_FIXED_FONT:
    case DEFAULT_GUI_FONT: Font = DefaultFont(); break;
    case DEFAULT_PALETTE: Palette = TkxPalette{}; break;
    default: break;
  }
}

TkxGDIOBJ* TkxMetafileState::ObjectOf(uint32_t handle) {
  if (handle == 0 || handle > Objects.size()) return nullptr;
  return &Objects[handle - 1];
}

TkxGDIOBJ* TkxMetafileState::CreateObject(uint32_t handle) {
  if (handle == 0 || handle > kMaxMetafileHandle) return nullptr;
  if (Objects.size() < handle) Objects.resize(handle);
  Objects[handle - 1] = TkxGDIOBJ{};
  return &Objects[handle - 1];
}

void TkxMetafileState::CreatePen(const TkxEmfRecord& r) {
  TkxEmrCreatePen rec;
  if (!DecodeCreatePen(r, rec)) return;
  TkxGDIOBJ* o = CreateObject(rec.ihPen);
  if (!o) return;
  o->Kind = goPen;
  int w = RoundToInt(ConvertWidth(rec.Width.x));
  if (w == 0 || rec.Width.x == 0) w = 1;
  o->Pen.SetWidth(w);
  if (rec.Style <= PS_INSIDEFRAME) o->Pen.SetStyle(static_cast<TPenStyle>(rec.Style));
  o->Pen.SetColor(ColorFromRecord(rec.Color));
}

void TkxMetafileState::ExtCreatePen(const TkxEmfRecord& r) {
  TkxEmrExtCreatePen rec;
  if (!DecodeExtCreatePen(r, rec)) return;
  TkxGDIOBJ* o = CreateObject(rec.ihPen);
  if (!o) return;
  const TkxLogPenEx& lp = rec.LogPen;
  o->Kind = goPen;
  o->Pen.SetWidth(RoundToInt(ConvertWidth(lp.Width == 0 ? 1 : lp.Width)));
  const uint32_t style = lp.PenStyle & PS_STYLE_MASK;
  if (style <= PS_INSIDEFRAME) o->Pen.SetStyle(static_cast<TPenStyle>(style));
  o->Pen.SetColor(ColorFromRecord(lp.Color));
  if ((lp.PenStyle & PS_TYPE_MASK) == PS_GEOMETRIC) {
    switch (lp.PenStyle & PS_JOIN_MASK) {
      case PS_JOIN_ROUND: o->LineJoin = 3; break;
      case PS_JOIN_BEVEL: o->LineJoin = 1; break;
      case PS_JOIN_MITER: o->LineJoin = 2; break;
      default: break;
    }
    switch (lp.PenStyle & PS_ENDCAP_MASK) {
      case PS_ENDCAP_ROUND: o->EndCap = 1; break;
      case PS_ENDCAP_SQUARE: o->EndCap = 2; break;
      case PS_ENDCAP_FLAT: o->EndCap = 3; break;
      default: break;
    }
  }
}

void TkxMetafileState::CreateBrushIndirect(const TkxEmfRecord& r) {
  TkxEmrCreateBrush rec;
  if (!DecodeCreateBrush(r, rec)) return;
  TkxGDIOBJ* o = CreateObject(rec.ihBrush);
  if (!o) return;
  o->Kind = goBrush;
  o->Brush.SetColor(ColorFromRecord(rec.LogBrush.Color));
  if (rec.LogBrush.Style == BS_NULL) {
    o->Brush.SetStyle(bsClear);
  } else if (rec.LogBrush.Style == BS_HATCHED) {
    static constexpr TBrushStyle kHatch[] = {bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross};
    if (rec.LogBrush.Hatch < std::size(kHatch)) o->Brush.SetStyle(kHatch[rec.LogBrush.Hatch]);
  }
}

void TkxMetafileState::CreatePatternBrush(const TkxEmfRecord& r) {
  // ihBrush, iUsage, offBmi, cbBmi, offBits, cbBits
  if (!r.Has(0, 32)) return;
  const uint32_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
  if (!r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return;
  TkxGDIOBJ* o = CreateObject(r.U32(8));
  if (!o) return;
  o->Kind = goBrush;
  if (cbBmi > 0 && cbBits > 0) {
    try {
      o->Pattern =
          std::make_shared<TkxBitmap>(TkxBitmap::FromDIB(r.Data() + offBmi, cbBmi, r.Data() + offBits, cbBits));
    } catch (const std::exception&) {
      o->Pattern.reset();  // an unreadable pattern leaves a plain brush
    }
  }
}

void TkxMetafileState::ExtCreateFont(const TkxEmfRecord& r) {
  if (!RenderText) return;
  TkxEmrCreateFont rec;
  if (!DecodeExtCreateFont(r, rec)) return;
  TkxGDIOBJ* o = CreateObject(rec.ihFont);
  if (!o) return;
  const TkxLogFontW& lf = rec.LogFont;
  TkxMetafileFont f = DefaultFont();
  f.SetName(WideToUtf8(lf.lfFaceName));
  f.SetCharset(lf.lfCharSet == DEFAULT_CHARSET ? CharsetFromCodePage(f.Name()) : lf.lfCharSet);
  switch (lf.lfPitchAndFamily & 3) {
    case 1: f.SetPitch(fpFixed); break;  // FIXED_PITCH
    case 2: f.SetPitch(fpVariable); break;
    case 3: f.SetPitch(fpFixed); break;
    default: f.SetPitch(fpDefault); break;
  }
  int style = fsRegular;
  if (lf.lfItalic) style |= fsItalic;
  if (lf.lfWeight >= FW_BOLD) style |= fsBold;
  if (lf.lfUnderline) style |= fsUnderline;
  if (lf.lfStrikeOut) style |= fsStrikeout;
  f.SetStyle(style);
  if (lf.lfHeight == 0) {
    f.SetSize(12);  // what the platform gives a font asked for without a height
  } else {
    const double px = std::clamp(FontHeightPixels(lf.lfHeight), -kMaxFontPixels, kMaxFontPixels);
    if (MapMode == 0)
      f.SetSize(RoundToInt(std::fabs(px) * 72.0 / target_.PPI()));
    else
      f.SetHeight(RoundToInt(px));
  }
  f.Escapement = lf.lfEscapement;
  o->Kind = goFont;
  o->Font = f;
}

void TkxMetafileState::CreatePalette(const TkxEmfRecord& r) {
  if (!r.Has(0, 20)) return;
  TkxGDIOBJ* o = CreateObject(r.U32(8));
  if (!o) return;
  o->Kind = goPalette;
  o->Palette = {r.U32(12), r.U32(16)};
}

void TkxMetafileState::SelectObject(uint32_t handle) {
  if (handle & ENHMETA_STOCK_OBJECT) {
    SelectStockObject(handle & ~ENHMETA_STOCK_OBJECT);
    return;
  }
  if (handle == 0) {
    SelectStockObject(0);
    return;
  }
  TkxGDIOBJ* o = ObjectOf(handle);
  if (!o) return;
  switch (o->Kind) {
    case goPen:
      Pen = o->Pen;
      PenLineJoin = o->LineJoin, PenEndCap = o->EndCap;
      break;
    case goBrush: Brush = o->Brush; break;
    case goFont:
      Font = o->Font;
      if (o->FontKind == 0) o->FontKind = IsSymbolFont(Font.Name()) ? -1 : 1;
      FontKind = o->FontKind;
      break;
    default: break;
  }
}

void TkxMetafileState::SelectPalette(uint32_t handle) {
  if (handle & ENHMETA_STOCK_OBJECT) {
    if ((handle & ~ENHMETA_STOCK_OBJECT) == DEFAULT_PALETTE) Palette = TkxPalette{};
    return;
  }
  if (const TkxGDIOBJ* o = ObjectOf(handle)) Palette = o->Palette;
}

void TkxMetafileState::DeleteObject(uint32_t handle) {
  if (TkxGDIOBJ* o = ObjectOf(handle)) *o = TkxGDIOBJ{};
}

// ---- Records ---------------------------------------------------------------------------

void TkxMetafileState::ReadHeader(const TkxEmfRecord& r) {
  covers_.clear();
  ReadResolution();
  TkxEmrHeader h;
  if (!DecodeHeader(r, h)) return;
  // The table's entries are large: room for all the handles the header
  // counts spares moving them as it grows.
  if (h.Handles > Objects.capacity()) Objects.reserve(std::min<size_t>(h.Handles, kMaxMetafileHandle));
  if (h.Device.cx > 0 && h.HasExtension2 && h.MicrometersX > 0)
    DevicePixelsPerMMX = h.Device.cx * 1000.0 / h.MicrometersX;
  else if (h.Device.cx > 0 && h.Millimeters.cx > 0)
    DevicePixelsPerMMX = static_cast<double>(h.Device.cx) / h.Millimeters.cx;
  if (h.Device.cy > 0 && h.HasExtension2 && h.MicrometersY > 0)
    DevicePixelsPerMMY = h.Device.cy * 1000.0 / h.MicrometersY;
  else if (h.Device.cy > 0 && h.Millimeters.cy > 0)
    DevicePixelsPerMMY = static_cast<double>(h.Device.cy) / h.Millimeters.cy;
}

void TkxMetafileState::SetMapMode(uint32_t mode) {
  MapMode = mode;
  if (mode == MM_TEXT) {
    WindowOrgX = WindowOrgY = ViewportOrgX = ViewportOrgY = 0;
    WindowExtX = WindowExtY = ViewportExtX = ViewportExtY = 1;
    ScaleX = ScaleY = 1.0;
  }
  UpdateMapScale();
}

void TkxMetafileState::ModifyWorldTransform(const TkxEmfXForm& x, uint32_t mode) {
  switch (mode) {
    case MWT_IDENTITY: XForm = TkxEmfXForm{}; break;
    case MWT_LEFTMULTIPLY: XForm = MultiplyXForm(x, XForm); break;
    case MWT_RIGHTMULTIPLY: XForm = MultiplyXForm(XForm, x); break;
    default: XForm = x; break;
  }
}

void TkxMetafileState::AppendRemoveClip() {
  auto clip = std::make_unique<TkxClipItem>();
  clip->Mode = kClipRemove;
  AppendItem(std::move(clip));
}

bool TkxMetafileState::ProcessStateRecord(const TkxEmfRecord& r) {
  const bool one = r.Has(0, kOneValueRecord);
  const bool two = r.Has(0, kTwoValueRecord);
  switch (r.Type()) {
    case EMR_HEADER: ReadHeader(r); break;
    case EMR_SETWINDOWEXTEX:
      if (two && r.I32(8) != 0 && r.I32(12) != 0) {
        WindowExtX = r.I32(8), WindowExtY = r.I32(12);
        UpdateMapScale();
      }
      break;
    case EMR_SETWINDOWORGEX:
      if (two) WindowOrgX = r.I32(8), WindowOrgY = r.I32(12);
      break;
    case EMR_SETVIEWPORTEXTEX:
      if (two && r.I32(8) != 0 && r.I32(12) != 0) {
        ViewportExtX = r.I32(8), ViewportExtY = r.I32(12);
        UpdateMapScale();
      }
      break;
    case EMR_SETVIEWPORTORGEX:
      if (two) ViewportOrgX = r.I32(8), ViewportOrgY = r.I32(12);
      break;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      if (!r.Has(0, 24)) break;
      const bool viewport = r.Type() == EMR_SCALEVIEWPORTEXTEX;
      int32_t ex = viewport ? ViewportExtX : WindowExtX;
      int32_t ey = viewport ? ViewportExtY : WindowExtY;
      if (!ScaleExtent(ex, r.I32(8), r.I32(12)) || !ScaleExtent(ey, r.I32(16), r.I32(20))) break;
      (viewport ? ViewportExtX : WindowExtX) = ex;
      (viewport ? ViewportExtY : WindowExtY) = ey;
      UpdateMapScale();
      break;
    }
    case EMR_SETMAPMODE:
      if (one) SetMapMode(r.U32(8));
      break;
    case EMR_SETBKMODE:
      if (one) BkMode = r.U32(8);
      break;
    case EMR_SETPOLYFILLMODE:
      if (one) PolyFillMode = r.U32(8);
      break;
    case EMR_SETROP2:
      if (one) Rop2 = r.U32(8);
      break;
    case EMR_SETSTRETCHBLTMODE:
      if (one) StretchMode = r.U32(8);
      break;
    case EMR_SETTEXTALIGN:
      if (one) TextAlign = TextAlignSet::FromValue(r.U32(8));
      break;
    case EMR_SETTEXTCOLOR:
      if (one) TextColor = ColorFromRecord(r.U32(8));
      break;
    case EMR_SETBKCOLOR:
      if (one) BkColor = ColorFromRecord(r.U32(8));
      break;
    case EMR_MOVETOEX:
      if (two) {
        CurrentX = r.I32(8), CurrentY = r.I32(12);
        TextAdvance = 0;
      }
      break;
    case EMR_SETMITERLIMIT:
      if (one) MiterLimit = r.U32(8);
      break;
    case EMR_SETICMMODE:
      if (one) IcmMode = r.U32(8);
      break;
    case EMR_GDICOMMENT: {
      if (!one) break;
      const size_t n = std::min<size_t>(r.U32(8), r.Size() - 12);
      CommentTag.clear();
      for (size_t i = 0; i < n; ++i) {
        const uint8_t c = r.U8(12 + i);
        if (!std::isalnum(c)) break;
        CommentTag.push_back(static_cast<char>(c));
      }
      break;
    }
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
      TkxEmfXForm x;
      uint32_t mode = MWT_SET;
      if (DecodeWorldTransform(r, x, mode) && Finite(x)) ModifyWorldTransform(x, mode);
      break;
    }
    case EMR_SAVEDC: SaveState(); break;
    case EMR_RESTOREDC:
      if (!one) break;
      RestoreState(r.I32(8));
      ClipRect = TkxDoubleRect{};
      AppendRemoveClip();
      break;
    case EMR_INTERSECTCLIPRECT:
      if (!r.Has(0, 24)) break;
      ClipActive = true;
      ClipSeen = true;
      ClipRect = ConvertRect(r.RectL(8));
      break;
    case EMR_EOF: {
      auto eof = std::make_unique<TkxEOFItem>();
      eof->Flag = 1;
      AppendItem(std::move(eof));
      ClipActive = false;
      break;
    }
    case EMR_CREATEPEN: CreatePen(r); break;
    case EMR_EXTCREATEPEN: ExtCreatePen(r); break;
    case EMR_CREATEBRUSHINDIRECT: CreateBrushIndirect(r); break;
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: CreatePatternBrush(r); break;
    case EMR_EXTCREATEFONTINDIRECTW: ExtCreateFont(r); break;
    case EMR_CREATEPALETTE: CreatePalette(r); break;
    case EMR_SELECTOBJECT:
      if (one) SelectObject(r.U32(8));
      break;
    case EMR_SELECTPALETTE:
      if (one) SelectPalette(r.U32(8));
      break;
    case EMR_DELETEOBJECT:
      if (one) DeleteObject(r.U32(8));
      break;
    default: return false;
  }
  return true;
}

// ---- Items ---------------------------------------------------------------------------

void TkxMetafileState::AppendText(std::unique_ptr<TkxTextItem> item) {
  if (target_.LineMode()) {
    if (TkxTextItemList* list = target_.LineTextList()) list->push_back(std::move(item));
    return;
  }
  AppendItem(std::move(item));
}

void TkxMetafileState::AppendItem(std::unique_ptr<TkxDocumentItem> item) {
  if (!item) return;
  NoteCover(*item);
  if (TkxItemList* list = target_.ItemList()) list->push_back(std::move(item));
}

namespace {

// Boxes remembered per page for backdrops, and how far back a text looks:
// pages of thousands of tiles keep the lookup cheap.
constexpr size_t kMaxCovers = 4096;
constexpr size_t kMaxCoverLookback = 512;

}  // namespace

void TkxMetafileState::NoteCover(const TkxDocumentItem& item) {
  if (covers_.size() >= kMaxCovers) return;
  if (const auto* shape = dynamic_cast<const TkxShapeItem*>(&item)) {
    if (!shape->Brush || shape->Brush->Style() == bsClear || shape->Points.size() < 2) return;
    const bool box = shape->ShapeType == shRectangle && shape->Brush->Style() == bsSolid;
    const TkxDoublePoint a = shape->Points[0], b = shape->Points[1];
    TkxDoubleRect bounds{std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y)};
    if (shape->ShapeType == shPolygon) {
      for (const TkxDoublePoint& p : shape->Points) {
        bounds.Left = std::min(bounds.Left, p.X), bounds.Right = std::max(bounds.Right, p.X);
        bounds.Top = std::min(bounds.Top, p.Y), bounds.Bottom = std::max(bounds.Bottom, p.Y);
      }
    }
    covers_.push_back({bounds, box ? shape->Brush->Color() : clNone});
  } else if (const auto* image = dynamic_cast<const TkxImageItem*>(&item)) {
    covers_.push_back({image->Bounds, clNone});
  }
}

TColor TkxMetafileState::BackdropAt(const TkxDoubleRect& box, double* right) const {
  // The text may reach a pixel past the box it stands in.
  constexpr double kSlack = 1;
  const size_t stop = covers_.size() > kMaxCoverLookback ? covers_.size() - kMaxCoverLookback : 0;
  for (size_t i = covers_.size(); i-- > stop;) {
    const TkxDoubleRect& c = covers_[i].Box;
    const bool under = c.Left <= box.Left + kSlack && c.Right >= box.Right - kSlack && c.Top <= box.Top + kSlack &&
                       c.Bottom >= box.Bottom - kSlack;
    if (under) {
      if (right) *right = c.Right;
      return covers_[i].Color;
    }
    // Something drawn over part of the text hides what lies further down.
    const bool overlaps = c.Left < box.Right && box.Left < c.Right && c.Top < box.Bottom && box.Top < c.Bottom;
    if (overlaps) return clNone;
  }
  return clNone;
}

bool TkxMetafileState::HasTextItems() const {
  if (target_.LineMode()) {
    const TkxTextItemList* list = target_.LineTextList();
    return list && !list->empty();
  }
  const TkxItemList* list = target_.ItemList();
  return list && !list->empty();
}

}  // namespace pw
