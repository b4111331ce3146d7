#include "engine/kxMetafileTextRecords.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <utility>

#include "pdf/kxClasses.h"
#include "platform/kxFontManager.h"

namespace pw {

namespace {

constexpr size_t kEmrTextSize = 40;       // Reference, nChars, offString, Options, Rect, offDx
constexpr size_t kExtTextOutText = 36;    // where the EmrText of EMR_EXTTEXTOUT* starts
constexpr size_t kPolyTextOutTexts = 40;  // where the EmrTexts of EMR_POLYTEXTOUT* start
constexpr uint32_t kMaxTextChars = 1u << 20;

bool IsNoRect(const TkxEmfRectL& r) { return r == TkxEmfRectL{0, 0, -1, -1}; }

TkxDoubleRect Normalized(const TkxDoubleRect& r) {
  return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right), std::max(r.Top, r.Bottom)};
}

// The background of an ETO_OPAQUE run: a rectangle in the background
// colour, or a line in the brush colour when the rectangle is flat.
void DrawOpaqueBackground(TkxMetafileState& st, const TkxEmfRectL& rcl) {
  TkxDoublePoint a = st.ConvertPoint(rcl.left, rcl.top);
  TkxDoublePoint b = st.ConvertPoint(rcl.right, rcl.bottom);
  a.X += st.OffsetX, a.Y += st.OffsetY;
  b.X += st.OffsetX, b.Y += st.OffsetY;
  const TkxDoublePoint pts[] = {a, b};
  if (a.X != b.X && a.Y != b.Y) {
    auto shape = std::make_unique<TkxShapeItem>(shRectangle);
    TBrush brush = st.Brush;
    if (st.BkMode == OPAQUE)
      brush.SetColor(st.BkColor);
    else
      brush.SetStyle(bsClear);
    shape->SetBrush(brush);
    shape->Pen = st.Pen;
    shape->Pen.SetStyle(psClear);
    shape->SetPoints(pts);
    st.AppendItem(std::move(shape));
  } else {
    auto shape = std::make_unique<TkxShapeItem>(shLine);
    shape->Pen = st.Pen;
    shape->Pen.SetColor(st.Brush.Color());
    shape->SetPoints(pts);
    st.AppendItem(std::move(shape));
  }
}

}  // namespace

bool ReadTextRun(const TkxEmfRecord& r, size_t off, bool wide, int32_t fontKind, TkxMetaTextRun& out) {
  if (!r.Has(off, kEmrTextSize)) return false;
  // Field by field, so that a run read again keeps the room of its arrays.
  out.Options = 0;
  out.Text.clear();
  out.HasWideChars = false;
  out.Dx.clear();
  out.CharCount = 0;
  out.Reference = r.PointL(off);
  const uint32_t nChars = r.U32(off + 8);
  const uint32_t offString = r.U32(off + 12);
  out.Options = r.U32(off + 16);
  out.Rect = r.RectL(off + 20);
  const uint32_t offDx = r.U32(off + 36) & ~3u;  // the array starts on a 4-byte boundary
  if (nChars > kMaxTextChars) return false;
  out.CharCount = nChars;
  if (nChars == 0) return true;
  if (!r.Has(offString, static_cast<size_t>(nChars) * (wide ? 2 : 1))) return false;
  if (offDx != 0) {
    // With ETO_PDY every character has an x and a y advance.
    const size_t stride = (out.Options & ETO_PDY) ? 2 : 1;
    if (!r.Has(offDx, static_cast<size_t>(nChars) * stride * 4)) return false;
    out.Dx.resize(nChars);
    for (uint32_t i = 0; i < nChars; ++i) out.Dx[i] = r.I32(offDx + i * stride * 4);
  }
  out.Text.reserve(nChars);
  for (uint32_t i = 0; i < nChars; ++i) {
    if (!wide) {
      const uint8_t b = r.U8(offString + i);
      if (b != 0) out.Text.push_back(AnsiCharToWide(b));
      continue;
    }
    const uint16_t u = r.U16(offString + i * 2);
    if (fontKind == 1) {
      if (u == 0) continue;
      out.Text.push_back(static_cast<char16_t>(u));
      if (u > 255) out.HasWideChars = true;
    } else {
      // A symbol font, or none selected: the character codes are bytes.
      const uint8_t b = static_cast<uint8_t>(u & 0xFF);
      if (b != 0) out.Text.push_back(AnsiCharToWide(b));
    }
  }
  return true;
}

bool ProcessTextRecord(TkxMetafileState& st, const TkxEmfRecord& r) {
  const uint32_t type = r.Type();
  const bool wide = type == EMR_EXTTEXTOUTW || type == EMR_POLYTEXTOUTW;
  switch (type) {
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW: {
      if (!st.RenderText) return true;
      // Read into the same run each time: its advance array keeps its room.
      thread_local TkxMetaTextRun run;
      if (ReadTextRun(r, kExtTextOutText, wide, st.FontKind, run)) DrawTextRun(st, std::move(run));
      return true;
    }
    case EMR_POLYTEXTOUTA:
    case EMR_POLYTEXTOUTW: {
      if (!st.RenderText || !r.Has(0, kPolyTextOutTexts)) return true;
      const uint32_t count = r.U32(36);
      if (!r.Has(kPolyTextOutTexts, static_cast<size_t>(count) * kEmrTextSize)) return true;
      // Every string is read before any is drawn: a damaged record adds nothing.
      std::vector<TkxMetaTextRun> runs(count);
      for (uint32_t i = 0; i < count; ++i)
        if (!ReadTextRun(r, kPolyTextOutTexts + i * kEmrTextSize, wide, st.FontKind, runs[i])) return true;
      for (TkxMetaTextRun& run : runs) DrawTextRun(st, std::move(run));
      return true;
    }
    default: return false;
  }
}

void DrawTextRun(TkxMetafileState& st, TkxMetaTextRun&& run) {
  if ((run.Options & ETO_OPAQUE) && !IsNoRect(run.Rect)) DrawOpaqueBackground(st, run.Rect);
  if (run.CharCount == 0 || run.Text.empty()) return;

  auto item = std::make_unique<TkxTextItem>();
  item->FromRecording = true;
  item->HasWideChars = run.HasWideChars;

  const double advanceScale = st.XForm.eM11 * st.MapScaleX();
  item->CharAdvances.reserve(run.Dx.size());
  for (int32_t dx : run.Dx) item->CharAdvances.push_back(dx * advanceScale);

  const bool followCP = st.TextAlign.Contains(taUpdateCP) && st.TrackCurrentPosition;
  TkxDoublePoint p;
  if (followCP) {
    p = st.ConvertPoint(st.CurrentX, st.CurrentY);
    p.X += st.TextAdvance;
  } else {
    p = st.ConvertPoint(run.Reference.x, run.Reference.y);
  }
  p.X += st.OffsetX;
  p.Y += st.OffsetY;

  if (run.Options & ETO_CLIPPED) {
    TkxDoubleRect c = Normalized(st.ConvertRect(run.Rect));
    c.Left += st.OffsetX, c.Right += st.OffsetX;
    c.Top += st.OffsetY, c.Bottom += st.OffsetY;
    item->SetHasClipRect(true);
    item->SetClipRect(c);
  }

  item->Font = static_cast<const TFont&>(st.Font);
  int angle = RoundToInt(st.Font.Escapement / 10.0) % 360;
  if (angle < 0) angle += 360;
  item->Angle = angle;

  const TkxTextSize ext = MeasureTextRun(item->Font, run.Text);
  if (followCP) st.TextAdvance += st.TextAlign.Contains(taRight) ? -ext.Width : ext.Width;

  double ascent = 0;
  if (st.TextAlign.Contains(taBaseline)) ascent = GetFontMetrics(item->Font).Ascent * item->Font.PixelsPerInch() / 72.0;
  p = AnchorTextPosition(p.X, p.Y, st.TextAlign, item->Angle, ext.Width, ext.Height, ascent);
  item->X = p.X;
  item->Y = p.Y;

  item->Font.SetColor(st.TextColor);
  item->Brush.SetColor(st.BkColor);
  if (st.BkMode == TRANSPARENT) item->Brush.SetStyle(bsClear);
  if (item->Angle == 0)
    item->Backdrop = st.BackdropAt({p.X, p.Y, p.X + ext.Width, p.Y + ext.Height}, &item->BackdropRight);

  item->Lines.push_back(std::move(run.Text));
  st.AppendText(std::move(item));
  st.DecorationCountdown = 3;
}

TkxTextSize MeasureTextRun(const TFont& font, std::u16string_view text) {
  return TkxFontManager::Instance().TextExtent(font.Name(), font.Style(), font.Height(), text);
}

TkxFontInfo GetFontMetrics(const TFont& font) {
  TkxFontInfo fi;
  const double size = font.Size();
  fi.StrikeoutSize = size / 20.0;
  fi.StrikeoutPosition = std::abs(font.Height()) / 5.0;
  fi.UnderlineSize = size / 10.0;
  fi.UnderlinePosition = -1;
  TkxFontManager& fm = TkxFontManager::Instance();
  const TkxTextMetric tm = fm.TextMetrics(font.Name(), font.Style(), font.Height());
  const double pt = 72.0 / font.PixelsPerInch();  // points per pixel
  fi.Ascent = tm.tmAscent * pt;
  fi.Descent = -std::abs(tm.tmDescent) * pt;
  fi.CapHeight = tm.tmAscent * pt;
  if (tm.tmPitchAndFamily & 4) {
    const TkxOutlineTextMetric otm = fm.OutlineTextMetrics(font.Name(), font.Style(), font.Height());
    fi.StrikeoutSize = size * (otm.otmsStrikeoutSize * pt) / 1000.0;
    fi.StrikeoutPosition = size * (otm.otmsStrikeoutPosition * pt) / 1000.0;
    fi.UnderlineSize = size * (otm.otmsUnderscoreSize * pt) / 1000.0;
    fi.UnderlinePosition = size * (otm.otmsUnderscorePosition * pt) / 1000.0 - 1;
  }
  if (!(tm.tmPitchAndFamily & 1)) fi.Flags |= kFontFixedPitch;  // the bit is set for variable pitch
  if ((tm.tmPitchAndFamily & 0xF0) == 0x10) fi.Flags |= kFontSerif;
  if ((tm.tmPitchAndFamily & 0xF0) == 0x40) fi.Flags |= kFontScript;
  fi.Flags |= tm.tmCharSet == SYMBOL_CHARSET ? kFontSymbolic : kFontNonsymbolic;
  if (tm.tmItalic) fi.Flags |= kFontItalic;
  return fi;
}

TkxDoublePoint AnchorTextPosition(double x, double y, TextAlignSet align, double angle, double width, double height,
                                  double ascent) {
  // Along the run (ux, uy) and down across it (vx, vy), on a page whose
  // y axis points down.
  const double t = angle * std::numbers::pi / 180.0;
  const double ux = std::cos(t), uy = -std::sin(t);
  const double vx = std::sin(t), vy = std::cos(t);
  double along = 0;  // distance from the left end to the anchor
  if (align.Contains(taCenter))
    along = width / 2;
  else if (align.Contains(taRight))
    along = width;
  double down = 0;  // distance from the top to the anchor
  if (align.Contains(taBaseline))
    down = ascent;
  else if (align.Contains(taBottom))
    down = height;
  return {x - along * ux - down * vx, y - along * uy - down * vy};
}

}  // namespace pw
