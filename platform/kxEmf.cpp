#include "platform/kxEmf.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pw {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint64_t kMaxCount = kEmfMaxCount;

bool ReadPoints(const TkxEmfRecord& r, size_t off, uint64_t count, bool p16, std::vector<TkxEmfPointL>& out) {
  const uint64_t each = p16 ? 4 : 8;
  if (count > kMaxCount || !r.Has(off, static_cast<size_t>(count * each))) return false;
  out.resize(static_cast<size_t>(count));
  for (size_t i = 0; i < out.size(); ++i) {
    if (p16)
      out[i] = {r.I16(off + i * 4), r.I16(off + i * 4 + 2)};
    else
      out[i] = r.PointL(off + i * 8);
  }
  return true;
}

// A DIB at (offBmi, cbBmi) and (offBits, cbBits); both absent is fine, one
// outside the record is not.
bool ReadDib(const TkxEmfRecord& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
             TkxEmfDib& out) {
  out = TkxEmfDib{};
  if (cbBmi != 0) {
    if (!r.Has(offBmi, cbBmi)) return false;
    out.Bmi = r.Data() + offBmi;
    out.BmiSize = cbBmi;
  }
  if (cbBits != 0) {
    if (!r.Has(offBits, cbBits)) return false;
    out.Bits = r.Data() + offBits;
    out.BitsSize = cbBits;
  }
  return true;
}

}  // namespace

std::string EmfRecordName(uint32_t type) {
  static const char* const kNames[] = {nullptr,
                                       "HEADER",
                                       "POLYBEZIER",
                                       "POLYGON",
                                       "POLYLINE",
                                       "POLYBEZIERTO",
                                       "POLYLINETO",
                                       "POLYPOLYLINE",
                                       "POLYPOLYGON",
                                       "SETWINDOWEXTEX",
                                       "SETWINDOWORGEX",
                                       "SETVIEWPORTEXTEX",
                                       "SETVIEWPORTORGEX",
                                       "SETBRUSHORGEX",
                                       "EOF",
                                       "SETPIXELV",
                                       "SETMAPPERFLAGS",
                                       "SETMAPMODE",
                                       "SETBKMODE",
                                       "SETPOLYFILLMODE",
                                       "SETROP2",
                                       "SETSTRETCHBLTMODE",
                                       "SETTEXTALIGN",
                                       "SETCOLORADJUSTMENT",
                                       "SETTEXTCOLOR",
                                       "SETBKCOLOR",
                                       "OFFSETCLIPRGN",
                                       "MOVETOEX",
                                       "SETMETARGN",
                                       "EXCLUDECLIPRECT",
                                       "INTERSECTCLIPRECT",
                                       "SCALEVIEWPORTEXTEX",
                                       "SCALEWINDOWEXTEX",
                                       "SAVEDC",
                                       "RESTOREDC",
                                       "SETWORLDTRANSFORM",
                                       "MODIFYWORLDTRANSFORM",
                                       "SELECTOBJECT",
                                       "CREATEPEN",
                                       "CREATEBRUSHINDIRECT",
                                       "DELETEOBJECT",
                                       "ANGLEARC",
                                       "ELLIPSE",
                                       "RECTANGLE",
                                       "ROUNDRECT",
                                       "ARC",
                                       "CHORD",
                                       "PIE",
                                       "SELECTPALETTE",
                                       "CREATEPALETTE",
                                       "SETPALETTEENTRIES",
                                       "RESIZEPALETTE",
                                       "REALIZEPALETTE",
                                       "EXTFLOODFILL",
                                       "LINETO",
                                       "ARCTO",
                                       "POLYDRAW",
                                       "SETARCDIRECTION",
                                       "SETMITERLIMIT",
                                       "BEGINPATH",
                                       "ENDPATH",
                                       "CLOSEFIGURE",
                                       "FILLPATH",
                                       "STROKEANDFILLPATH",
                                       "STROKEPATH",
                                       "FLATTENPATH",
                                       "WIDENPATH",
                                       "SELECTCLIPPATH",
                                       "ABORTPATH",
                                       nullptr,
                                       "GDICOMMENT",
                                       "FILLRGN",
                                       "FRAMERGN",
                                       "INVERTRGN",
                                       "PAINTRGN",
                                       "EXTSELECTCLIPRGN",
                                       "BITBLT",
                                       "STRETCHBLT",
                                       "MASKBLT",
                                       "PLGBLT",
                                       "SETDIBITSTODEVICE",
                                       "STRETCHDIBITS",
                                       "EXTCREATEFONTINDIRECTW",
                                       "EXTTEXTOUTA",
                                       "EXTTEXTOUTW",
                                       "POLYBEZIER16",
                                       "POLYGON16",
                                       "POLYLINE16",
                                       "POLYBEZIERTO16",
                                       "POLYLINETO16",
                                       "POLYPOLYLINE16",
                                       "POLYPOLYGON16",
                                       "POLYDRAW16",
                                       "CREATEMONOBRUSH",
                                       "CREATEDIBPATTERNBRUSHPT",
                                       "EXTCREATEPEN",
                                       "POLYTEXTOUTA",
                                       "POLYTEXTOUTW",
                                       "SETICMMODE",
                                       "CREATECOLORSPACE",
                                       "SETCOLORSPACE",
                                       "DELETECOLORSPACE"};
  if (type < std::size(kNames) && kNames[type] != nullptr) return std::string("EMR_") + kNames[type];
  switch (type) {
    case EMR_ALPHABLEND: return "EMR_ALPHABLEND";
    case EMR_SETLAYOUT: return "EMR_SETLAYOUT";
    case EMR_TRANSPARENTBLT: return "EMR_TRANSPARENTBLT";
    case EMR_GRADIENTFILL: return "EMR_GRADIENTFILL";
    case EMR_CREATECOLORSPACEW: return "EMR_CREATECOLORSPACEW";
    default: return "EMR_" + std::to_string(type);
  }
}

// ---- TkxEmfRecord -------------------------------------------------------------

float TkxEmfRecord::F32(size_t off) const {
  uint32_t bits = U32(off);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

TkxEmfXForm TkxEmfRecord::XForm(size_t off) const {
  return {F32(off), F32(off + 4), F32(off + 8), F32(off + 12), F32(off + 16), F32(off + 20)};
}

// ---- Decoders -------------------------------------------------------------------

bool IsPoly16(uint32_t type) { return type >= EMR_POLYBEZIER16 && type <= EMR_POLYDRAW16; }

bool DecodeHeader(const TkxEmfRecord& r, TkxEmrHeader& out) {
  if (r.Type() != EMR_HEADER || !r.Has(0, 88)) return false;
  out = TkxEmrHeader{};
  out.Bounds = r.RectL(8);
  out.Frame = r.RectL(24);
  out.Signature = r.U32(40);
  out.Version = r.U32(44);
  out.Bytes = r.U32(48);
  out.Records = r.U32(52);
  out.Handles = r.U16(56);
  out.nDescription = r.U32(60);
  out.offDescription = r.U32(64);
  out.nPalEntries = r.U32(68);
  out.Device = {r.I32(72), r.I32(76)};
  out.Millimeters = {r.I32(80), r.I32(84)};
  if (out.Signature != kEmfSignature) return false;
  // The extensions are present when the record is long enough and no
  // description starts inside them.
  auto extFits = [&](size_t end) { return r.Has(0, end) && (out.nDescription == 0 || out.offDescription >= end); };
  if (extFits(100)) {
    out.HasExtension1 = true;
    out.cbPixelFormat = r.U32(88);
    out.offPixelFormat = r.U32(92);
    out.bOpenGL = r.U32(96);
  }
  if (extFits(108)) {
    out.HasExtension2 = true;
    out.MicrometersX = r.U32(100);
    out.MicrometersY = r.U32(104);
  }
  if (out.nDescription != 0) {
    if (out.nDescription > kMaxCount || !r.Has(out.offDescription, out.nDescription * 2ull)) {
      out.nDescription = 0;  // a broken description does not make the file unreadable
    } else {
      out.Description.resize(out.nDescription);
      for (uint32_t i = 0; i < out.nDescription; ++i)
        out.Description[i] = static_cast<char16_t>(r.U16(out.offDescription + i * 2));
    }
  }
  return true;
}

bool DecodeExtTextOut(const TkxEmfRecord& r, TkxEmrExtTextOut& out) {
  const uint32_t type = r.Type();
  if ((type != EMR_EXTTEXTOUTW && type != EMR_EXTTEXTOUTA) || !r.Has(0, 76)) return false;
  out = TkxEmrExtTextOut{};
  out.Bounds = r.RectL(8);
  out.GraphicsMode = r.U32(24);
  out.exScale = r.F32(28);
  out.eyScale = r.F32(32);
  out.Reference = r.PointL(36);
  const uint32_t nChars = r.U32(44);
  const uint32_t offString = r.U32(48);
  out.Options = r.U32(52);
  out.Rect = r.RectL(56);
  const uint32_t offDx = r.U32(72);
  const bool wide = type == EMR_EXTTEXTOUTW;
  if (nChars > kMaxCount) return false;
  if (nChars > 0) {
    const uint64_t unit = wide ? 2 : 1;
    if (!r.Has(offString, static_cast<size_t>(nChars * unit))) return false;
    out.Text.resize(nChars);
    for (uint32_t i = 0; i < nChars; ++i)
      out.Text[i] = wide ? static_cast<char16_t>(r.U16(offString + i * 2)) : static_cast<char16_t>(r.U8(offString + i));
  }
  if (offDx != 0 && nChars > 0) {
    const uint64_t n = (out.Options & ETO_PDY) ? nChars * 2ull : nChars;
    if (!r.Has(offDx, static_cast<size_t>(n * 4))) return false;
    out.Dx.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < out.Dx.size(); ++i) out.Dx[i] = r.I32(offDx + i * 4);
  }
  return true;
}

bool DecodeExtCreateFont(const TkxEmfRecord& r, TkxEmrCreateFont& out) {
  if (r.Type() != EMR_EXTCREATEFONTINDIRECTW || !r.Has(0, 12 + kLogFontWSize)) return false;
  out = TkxEmrCreateFont{};
  out.ihFont = r.U32(8);
  TkxLogFontW& f = out.LogFont;
  f.lfHeight = r.I32(12);
  f.lfWidth = r.I32(16);
  f.lfEscapement = r.I32(20);
  f.lfOrientation = r.I32(24);
  f.lfWeight = r.I32(28);
  f.lfItalic = r.U8(32);
  f.lfUnderline = r.U8(33);
  f.lfStrikeOut = r.U8(34);
  f.lfCharSet = r.U8(35);
  f.lfOutPrecision = r.U8(36);
  f.lfClipPrecision = r.U8(37);
  f.lfQuality = r.U8(38);
  f.lfPitchAndFamily = r.U8(39);
  for (size_t i = 0; i < 32; ++i) {
    char16_t c = static_cast<char16_t>(r.U16(40 + i * 2));
    if (c == 0) break;
    f.lfFaceName.push_back(c);
  }
  return true;
}

bool DecodeExtCreatePen(const TkxEmfRecord& r, TkxEmrExtCreatePen& out) {
  if (r.Type() != EMR_EXTCREATEPEN || !r.Has(0, 52)) return false;
  out = TkxEmrExtCreatePen{};
  out.ihPen = r.U32(8);
  TkxLogPenEx& p = out.LogPen;
  p.PenStyle = r.U32(28);
  p.Width = r.U32(32);
  p.BrushStyle = r.U32(36);
  p.Color = r.U32(40);
  p.BrushHatch = r.U32(44);
  const uint32_t n = r.U32(48);
  if (n > kMaxCount || !r.Has(52, n * 4ull)) return false;
  p.StyleEntries.resize(n);
  for (uint32_t i = 0; i < n; ++i) p.StyleEntries[i] = r.U32(52 + i * 4);
  TkxEmfDib dib;
  if (!ReadDib(r, r.U32(12), r.U32(16), r.U32(20), r.U32(24), dib)) return false;
  out.Bmi = dib.Bmi;
  out.BmiSize = dib.BmiSize;
  out.Bits = dib.Bits;
  out.BitsSize = dib.BitsSize;
  return true;
}

bool DecodeCreatePen(const TkxEmfRecord& r, TkxEmrCreatePen& out) {
  if (r.Type() != EMR_CREATEPEN || !r.Has(0, 28)) return false;
  out.ihPen = r.U32(8);
  out.Style = r.U32(12);
  out.Width = r.PointL(16);
  out.Color = r.U32(24);
  return true;
}

bool DecodeCreateBrush(const TkxEmfRecord& r, TkxEmrCreateBrush& out) {
  if (r.Type() != EMR_CREATEBRUSHINDIRECT || !r.Has(0, 24)) return false;
  out.ihBrush = r.U32(8);
  out.LogBrush = {r.U32(12), r.U32(16), r.U32(20)};
  return true;
}

bool DecodePoly(const TkxEmfRecord& r, TkxEmrPoly& out) {
  switch (r.Type()) {
    case EMR_POLYBEZIER:
    case EMR_POLYGON:
    case EMR_POLYLINE:
    case EMR_POLYBEZIERTO:
    case EMR_POLYLINETO:
    case EMR_POLYBEZIER16:
    case EMR_POLYGON16:
    case EMR_POLYLINE16:
    case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16: break;
    default: return false;
  }
  if (!r.Has(0, 28)) return false;
  out.Bounds = r.RectL(8);
  return ReadPoints(r, 28, r.U32(24), IsPoly16(r.Type()), out.Points);
}

bool DecodePolyPoly(const TkxEmfRecord& r, TkxEmrPolyPoly& out) {
  const uint32_t type = r.Type();
  if (type != EMR_POLYPOLYGON && type != EMR_POLYPOLYLINE && type != EMR_POLYPOLYGON16 && type != EMR_POLYPOLYLINE16)
    return false;
  if (!r.Has(0, 32)) return false;
  out.Bounds = r.RectL(8);
  const uint32_t nPolys = r.U32(24);
  const uint32_t total = r.U32(28);
  if (nPolys > kMaxCount || !r.Has(32, nPolys * 4ull)) return false;
  out.Counts.resize(nPolys);
  uint64_t sum = 0;
  for (uint32_t i = 0; i < nPolys; ++i) {
    out.Counts[i] = r.U32(32 + i * 4);
    sum += out.Counts[i];
  }
  if (sum != total) return false;
  return ReadPoints(r, 32 + nPolys * 4ull, total, IsPoly16(type), out.Points);
}

bool DecodePolyDraw(const TkxEmfRecord& r, TkxEmrPolyDraw& out) {
  const uint32_t type = r.Type();
  if ((type != EMR_POLYDRAW && type != EMR_POLYDRAW16) || !r.Has(0, 28)) return false;
  out.Bounds = r.RectL(8);
  const uint32_t n = r.U32(24);
  const bool p16 = type == EMR_POLYDRAW16;
  if (!ReadPoints(r, 28, n, p16, out.Points)) return false;
  const size_t typesOff = 28 + static_cast<size_t>(n) * (p16 ? 4 : 8);
  if (!r.Has(typesOff, n)) return false;
  out.Types.assign(r.Data() + typesOff, r.Data() + typesOff + n);
  return true;
}

bool DecodeStretchDIBits(const TkxEmfRecord& r, TkxEmrStretchDIBits& out) {
  if (r.Type() != EMR_STRETCHDIBITS || !r.Has(0, 80)) return false;
  out.Bounds = r.RectL(8);
  out.xDest = r.I32(24);
  out.yDest = r.I32(28);
  out.xSrc = r.I32(32);
  out.ySrc = r.I32(36);
  out.cxSrc = r.I32(40);
  out.cySrc = r.I32(44);
  out.UsageSrc = r.U32(64);
  out.Rop = r.U32(68);
  out.cxDest = r.I32(72);
  out.cyDest = r.I32(76);
  return ReadDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60), out.Dib);
}

bool DecodeBitBlt(const TkxEmfRecord& r, TkxEmrBitBlt& out) {
  const uint32_t type = r.Type();
  const bool stretch = type == EMR_STRETCHBLT;
  if ((type != EMR_BITBLT && !stretch) || !r.Has(0, stretch ? 108 : 100)) return false;
  out.Bounds = r.RectL(8);
  out.xDest = r.I32(24);
  out.yDest = r.I32(28);
  out.cxDest = r.I32(32);
  out.cyDest = r.I32(36);
  out.Rop = r.U32(40);
  out.xSrc = r.I32(44);
  out.ySrc = r.I32(48);
  out.XformSrc = r.XForm(52);
  out.BkColorSrc = r.U32(76);
  out.UsageSrc = r.U32(80);
  out.cxSrc = stretch ? r.I32(100) : out.cxDest;
  out.cySrc = stretch ? r.I32(104) : out.cyDest;
  return ReadDib(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), out.Dib);
}

bool DecodeSetDIBitsToDevice(const TkxEmfRecord& r, TkxEmrSetDIBitsToDevice& out) {
  if (r.Type() != EMR_SETDIBITSTODEVICE || !r.Has(0, 76)) return false;
  out.Bounds = r.RectL(8);
  out.xDest = r.I32(24);
  out.yDest = r.I32(28);
  out.xSrc = r.I32(32);
  out.ySrc = r.I32(36);
  out.cxSrc = r.I32(40);
  out.cySrc = r.I32(44);
  out.UsageSrc = r.U32(64);
  out.iStartScan = r.U32(68);
  out.cScans = r.U32(72);
  return ReadDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60), out.Dib);
}

bool DecodeRegion(const TkxEmfRecord& r, size_t off, size_t size, TkxEmfRegion& out) {
  out = TkxEmfRegion{};
  if (size < 32 || !r.Has(off, size)) return false;
  const uint32_t hdrSize = r.U32(off);
  const uint32_t count = r.U32(off + 8);
  if (hdrSize < 32 || hdrSize > size) return false;
  out.Bounds = r.RectL(off + 16);
  if (count > kMaxCount || count * 16ull > size - hdrSize) return false;
  out.Rects.resize(count);
  for (uint32_t i = 0; i < count; ++i) out.Rects[i] = r.RectL(off + hdrSize + i * 16);
  return true;
}

bool DecodeExtSelectClipRgn(const TkxEmfRecord& r, TkxEmrExtSelectClipRgn& out) {
  if (r.Type() != EMR_EXTSELECTCLIPRGN || !r.Has(0, 16)) return false;
  out = TkxEmrExtSelectClipRgn{};
  const uint32_t cb = r.U32(8);
  out.RegionMode = r.U32(12);
  if (cb == 0) return true;
  out.HasRegion = true;
  return DecodeRegion(r, 16, cb, out.Region);
}

bool DecodeWorldTransform(const TkxEmfRecord& r, TkxEmfXForm& xform, uint32_t& mode) {
  if (r.Type() == EMR_SETWORLDTRANSFORM && r.Has(0, 32)) {
    xform = r.XForm(8);
    mode = MWT_SET;
    return true;
  }
  if (r.Type() == EMR_MODIFYWORLDTRANSFORM && r.Has(0, 36)) {
    xform = r.XForm(8);
    mode = r.U32(32);
    return true;
  }
  return false;
}

// ---- Enumeration ------------------------------------------------------------------

size_t EnumerateEmfRecords(const uint8_t* data, size_t size, const std::function<bool(const TkxEmfRecord&)>& fn) {
  if (data == nullptr) return 0;
  // The header's own byte count bounds the walk when it is smaller than the data.
  if (size >= 52 && Le32(data) == EMR_HEADER) {
    const uint32_t nBytes = Le32(data + 48);
    if (nBytes >= 8 && nBytes < size) size = nBytes;
  }
  size_t pos = 0;
  size_t count = 0;
  while (size - pos >= 8) {
    const uint32_t type = Le32(data + pos);
    const uint32_t recSize = Le32(data + pos + 4);
    if (recSize < 8 || recSize > size - pos) break;
    if (recSize % 4 == 0) {
      ++count;
      if (!fn(TkxEmfRecord(data + pos, recSize, pos))) break;
    }
    pos += recSize;
    if (type == EMR_EOF) break;
  }
  return count;
}

// ---- TkxMetafile ------------------------------------------------------------------

TkxMetafile::TkxMetafile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
  if (bytes_.size() < 88) throw EInvalidMetafile("Not an enhanced metafile");
  const uint32_t headerSize = Le32(bytes_.data() + 4);
  if (headerSize < 88 || headerSize > bytes_.size() || headerSize % 4 != 0)
    throw EInvalidMetafile("Not an enhanced metafile");
  if (!DecodeHeader(TkxEmfRecord(bytes_.data(), headerSize, 0), header_))
    throw EInvalidMetafile("Not an enhanced metafile");
}

std::vector<uint8_t> TkxMetafile::TakeBytes() {
  std::vector<uint8_t> taken = std::move(bytes_);
  bytes_.clear();
  header_ = TkxEmrHeader();
  return taken;
}

TkxMetafile TkxMetafile::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInvalidMetafile("Cannot open " + fileName);
  in.seekg(0, std::ios::end);
  const std::streamoff len = in.tellg();
  // A page recording is a few megabytes; 1 GiB keeps a broken path from eating memory.
  if (len < 0 || len > (std::streamoff{1} << 30)) throw EInvalidMetafile("Cannot read " + fileName);
  in.seekg(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(len));
  if (len > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), len))
    throw EInvalidMetafile("Cannot read " + fileName);
  return TkxMetafile(std::move(bytes));
}

void TkxMetafile::SaveToFile(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) throw EInvalidMetafile("Cannot create " + fileName);
  out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  if (!out) throw EInvalidMetafile("Cannot write " + fileName);
}

double TkxMetafile::PixelsPerMMX() const {
  const TkxEmrHeader& h = header_;
  if (h.Device.cx > 0 && h.HasExtension2 && h.MicrometersX > 0) return h.Device.cx * 1000.0 / h.MicrometersX;
  if (h.Device.cx > 0 && h.Millimeters.cx > 0) return static_cast<double>(h.Device.cx) / h.Millimeters.cx;
  return 96 / 25.4;
}

double TkxMetafile::PixelsPerMMY() const {
  const TkxEmrHeader& h = header_;
  if (h.Device.cy > 0 && h.HasExtension2 && h.MicrometersY > 0) return h.Device.cy * 1000.0 / h.MicrometersY;
  if (h.Device.cy > 0 && h.Millimeters.cy > 0) return static_cast<double>(h.Device.cy) / h.Millimeters.cy;
  return 96 / 25.4;
}

void TkxMetafile::FramePixels(double& left, double& top, double& right, double& bottom) const {
  const double kx = PixelsPerMMX() / 100.0;
  const double ky = PixelsPerMMY() / 100.0;
  const TkxEmfRectL& f = header_.Frame;
  // Edges within 1/20 pixel of a whole pixel are taken as that pixel: that
  // undoes the rounding to .01 mm of a frame recorded in whole pixels.
  auto snap = [](double v) {
    const double r = std::round(v);
    return std::abs(v - r) < 0.05 ? r : v;
  };
  left = snap(f.left * kx);
  top = snap(f.top * ky);
  right = snap((static_cast<double>(f.right) + 1) * kx);
  bottom = snap((static_cast<double>(f.bottom) + 1) * ky);
}

int TkxMetafile::Width() const {
  double l, t, r, b;
  FramePixels(l, t, r, b);
  return static_cast<int>(std::lrint(r - l));
}

int TkxMetafile::Height() const {
  double l, t, r, b;
  FramePixels(l, t, r, b);
  return static_cast<int>(std::lrint(b - t));
}

size_t TkxMetafile::EnumerateRecords(const std::function<bool(const TkxEmfRecord&)>& fn) const {
  return EnumerateEmfRecords(bytes_.data(), bytes_.size(), fn);
}

std::vector<TkxEmfRecord> TkxMetafile::Records() const {
  std::vector<TkxEmfRecord> out;
  EnumerateRecords([&](const TkxEmfRecord& r) {
    out.push_back(r);
    return true;
  });
  return out;
}

}  // namespace pw
