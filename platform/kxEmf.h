// Enhanced metafiles (MS-EMF, classic GDI records): record type numbers and
// the constants their fields use, a bounds-checked view of one record,
// decoders for the records the converter draws and reads back, and the
// metafile container with header parsing, record enumeration and file I/O.
//
// Every offset, count and size inside a metafile is treated as hostile: a
// decoder returns false for a record whose arrays or bitmap would lie outside
// it, and enumeration never reads past the end of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pdf/kxClasses.h"

namespace pw {

// Raised for data that is not an enhanced metafile, and for file errors.
class EInvalidMetafile : public Exception {
 public:
  explicit EInvalidMetafile(const std::string& msg) : Exception(msg) {}
};

// ---- Record types ---------------------------------------------------------
// Limit for the element counts read from records: no record can carry more
// elements than it has bytes, so counts are checked against the size first;
// this only keeps multiplications far from overflow.
constexpr uint64_t kEmfMaxCount = 0x10000000;

constexpr uint32_t EMR_HEADER = 1;
constexpr uint32_t EMR_POLYBEZIER = 2;
constexpr uint32_t EMR_POLYGON = 3;
constexpr uint32_t EMR_POLYLINE = 4;
constexpr uint32_t EMR_POLYBEZIERTO = 5;
constexpr uint32_t EMR_POLYLINETO = 6;
constexpr uint32_t EMR_POLYPOLYLINE = 7;
constexpr uint32_t EMR_POLYPOLYGON = 8;
constexpr uint32_t EMR_SETWINDOWEXTEX = 9;
constexpr uint32_t EMR_SETWINDOWORGEX = 10;
constexpr uint32_t EMR_SETVIEWPORTEXTEX = 11;
constexpr uint32_t EMR_SETVIEWPORTORGEX = 12;
constexpr uint32_t EMR_SETBRUSHORGEX = 13;
constexpr uint32_t EMR_EOF = 14;
constexpr uint32_t EMR_SETPIXELV = 15;
constexpr uint32_t EMR_SETMAPPERFLAGS = 16;
constexpr uint32_t EMR_SETMAPMODE = 17;
constexpr uint32_t EMR_SETBKMODE = 18;
constexpr uint32_t EMR_SETPOLYFILLMODE = 19;
constexpr uint32_t EMR_SETROP2 = 20;
constexpr uint32_t EMR_SETSTRETCHBLTMODE = 21;
constexpr uint32_t EMR_SETTEXTALIGN = 22;
constexpr uint32_t EMR_SETCOLORADJUSTMENT = 23;
constexpr uint32_t EMR_SETTEXTCOLOR = 24;
constexpr uint32_t EMR_SETBKCOLOR = 25;
constexpr uint32_t EMR_OFFSETCLIPRGN = 26;
constexpr uint32_t EMR_MOVETOEX = 27;
constexpr uint32_t EMR_SETMETARGN = 28;
constexpr uint32_t EMR_EXCLUDECLIPRECT = 29;
constexpr uint32_t EMR_INTERSECTCLIPRECT = 30;
constexpr uint32_t EMR_SCALEVIEWPORTEXTEX = 31;
constexpr uint32_t EMR_SCALEWINDOWEXTEX = 32;
constexpr uint32_t EMR_SAVEDC = 33;
constexpr uint32_t EMR_RESTOREDC = 34;
constexpr uint32_t EMR_SETWORLDTRANSFORM = 35;
constexpr uint32_t EMR_MODIFYWORLDTRANSFORM = 36;
constexpr uint32_t EMR_SELECTOBJECT = 37;
constexpr uint32_t EMR_CREATEPEN = 38;
constexpr uint32_t EMR_CREATEBRUSHINDIRECT = 39;
constexpr uint32_t EMR_DELETEOBJECT = 40;
constexpr uint32_t EMR_ANGLEARC = 41;
constexpr uint32_t EMR_ELLIPSE = 42;
constexpr uint32_t EMR_RECTANGLE = 43;
constexpr uint32_t EMR_ROUNDRECT = 44;
constexpr uint32_t EMR_ARC = 45;
constexpr uint32_t EMR_CHORD = 46;
constexpr uint32_t EMR_PIE = 47;
constexpr uint32_t EMR_SELECTPALETTE = 48;
constexpr uint32_t EMR_CREATEPALETTE = 49;
constexpr uint32_t EMR_SETPALETTEENTRIES = 50;
constexpr uint32_t EMR_RESIZEPALETTE = 51;
constexpr uint32_t EMR_REALIZEPALETTE = 52;
constexpr uint32_t EMR_EXTFLOODFILL = 53;
constexpr uint32_t EMR_LINETO = 54;
constexpr uint32_t EMR_ARCTO = 55;
constexpr uint32_t EMR_POLYDRAW = 56;
constexpr uint32_t EMR_SETARCDIRECTION = 57;
constexpr uint32_t EMR_SETMITERLIMIT = 58;
constexpr uint32_t EMR_BEGINPATH = 59;
constexpr uint32_t EMR_ENDPATH = 60;
constexpr uint32_t EMR_CLOSEFIGURE = 61;
constexpr uint32_t EMR_FILLPATH = 62;
constexpr uint32_t EMR_STROKEANDFILLPATH = 63;
constexpr uint32_t EMR_STROKEPATH = 64;
constexpr uint32_t EMR_FLATTENPATH = 65;
constexpr uint32_t EMR_WIDENPATH = 66;
constexpr uint32_t EMR_SELECTCLIPPATH = 67;
constexpr uint32_t EMR_ABORTPATH = 68;
constexpr uint32_t EMR_GDICOMMENT = 70;
constexpr uint32_t EMR_FILLRGN = 71;
constexpr uint32_t EMR_FRAMERGN = 72;
constexpr uint32_t EMR_INVERTRGN = 73;
constexpr uint32_t EMR_PAINTRGN = 74;
constexpr uint32_t EMR_EXTSELECTCLIPRGN = 75;
constexpr uint32_t EMR_BITBLT = 76;
constexpr uint32_t EMR_STRETCHBLT = 77;
constexpr uint32_t EMR_MASKBLT = 78;
constexpr uint32_t EMR_PLGBLT = 79;
constexpr uint32_t EMR_SETDIBITSTODEVICE = 80;
constexpr uint32_t EMR_STRETCHDIBITS = 81;
constexpr uint32_t EMR_EXTCREATEFONTINDIRECTW = 82;
constexpr uint32_t EMR_EXTTEXTOUTA = 83;
constexpr uint32_t EMR_EXTTEXTOUTW = 84;
constexpr uint32_t EMR_POLYBEZIER16 = 85;
constexpr uint32_t EMR_POLYGON16 = 86;
constexpr uint32_t EMR_POLYLINE16 = 87;
constexpr uint32_t EMR_POLYBEZIERTO16 = 88;
constexpr uint32_t EMR_POLYLINETO16 = 89;
constexpr uint32_t EMR_POLYPOLYLINE16 = 90;
constexpr uint32_t EMR_POLYPOLYGON16 = 91;
constexpr uint32_t EMR_POLYDRAW16 = 92;
constexpr uint32_t EMR_CREATEMONOBRUSH = 93;
constexpr uint32_t EMR_CREATEDIBPATTERNBRUSHPT = 94;
constexpr uint32_t EMR_EXTCREATEPEN = 95;
constexpr uint32_t EMR_POLYTEXTOUTA = 96;
constexpr uint32_t EMR_POLYTEXTOUTW = 97;
constexpr uint32_t EMR_SETICMMODE = 98;
constexpr uint32_t EMR_CREATECOLORSPACE = 99;
constexpr uint32_t EMR_SETCOLORSPACE = 100;
constexpr uint32_t EMR_DELETECOLORSPACE = 101;
constexpr uint32_t EMR_SMALLTEXTOUT = 108;
constexpr uint32_t EMR_ALPHABLEND = 114;
constexpr uint32_t EMR_SETLAYOUT = 115;
constexpr uint32_t EMR_TRANSPARENTBLT = 116;
constexpr uint32_t EMR_GRADIENTFILL = 118;
constexpr uint32_t EMR_CREATECOLORSPACEW = 122;

// The MS-EMF name of a record type ("EMR_POLYGON16"), or "EMR_<n>".
std::string EmfRecordName(uint32_t type);

// ---- Field constants --------------------------------------------------------
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kEmfVersion = 0x00010000;
constexpr uint32_t ENHMETA_STOCK_OBJECT = 0x80000000u;

// Stock objects (select them with ENHMETA_STOCK_OBJECT | index).
constexpr uint32_t WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4, NULL_BRUSH = 5,
                   WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8, OEM_FIXED_FONT = 10, ANSI_FIXED_FONT = 11,
                   ANSI_VAR_FONT = 12, SYSTEM_FONT = 13, DEVICE_DEFAULT_FONT = 14, DEFAULT_PALETTE = 15,
                   SYSTEM_FIXED_FONT = 16, DEFAULT_GUI_FONT = 17, DC_BRUSH = 18, DC_PEN = 19;

// Pen styles (LogPenEx.PenStyle).
constexpr uint32_t PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
                   PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_ALTERNATE = 8, PS_STYLE_MASK = 0xF;
constexpr uint32_t PS_ENDCAP_ROUND = 0x000, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00;
constexpr uint32_t PS_JOIN_ROUND = 0x0000, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000;
constexpr uint32_t PS_COSMETIC = 0x00000, PS_GEOMETRIC = 0x10000, PS_TYPE_MASK = 0xF0000;

// Brush styles.
constexpr uint32_t BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2;

// Background modes, fill modes, region modes, graphics modes, map modes.
constexpr uint32_t TRANSPARENT = 1, OPAQUE = 2;
constexpr uint32_t ALTERNATE = 1, WINDING = 2;
constexpr uint32_t RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
constexpr uint32_t GM_COMPATIBLE = 1, GM_ADVANCED = 2;
constexpr uint32_t MM_TEXT = 1, MM_LOMETRIC = 2, MM_HIMETRIC = 3, MM_LOENGLISH = 4, MM_HIENGLISH = 5, MM_TWIPS = 6,
                   MM_ISOTROPIC = 7, MM_ANISOTROPIC = 8;
constexpr uint32_t MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3, MWT_SET = 4;
constexpr uint32_t BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4;

// Text alignment and ExtTextOut options.
constexpr uint32_t TA_NOUPDATECP = 0, TA_UPDATECP = 1, TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_TOP = 0,
                   TA_BOTTOM = 8, TA_BASELINE = 24;
constexpr uint32_t ETO_OPAQUE = 0x2, ETO_CLIPPED = 0x4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000;

// Font weights (character sets: kxGraphicsObjects.h).
constexpr int32_t FW_NORMAL = 400, FW_BOLD = 700;

// Bitmaps and raster operations.
constexpr uint32_t DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1;
constexpr uint32_t SRCCOPY = 0x00CC0020, SRCPAINT = 0x00EE0086, SRCAND = 0x008800C6, SRCINVERT = 0x00660046,
                   PATCOPY = 0x00F00021, BLACKNESS = 0x00000042, WHITENESS = 0x00FF0062, DSTINVERT = 0x00550009,
                   NOTSRCCOPY = 0x00330008;

// ---- Plain field types ------------------------------------------------------
struct TkxEmfPointL {
  int32_t x = 0, y = 0;
  bool operator==(const TkxEmfPointL&) const = default;
};
struct TkxEmfSizeL {
  int32_t cx = 0, cy = 0;
  bool operator==(const TkxEmfSizeL&) const = default;
};
// Edges as stored; EMF bounds and frames are inclusive on all four sides.
struct TkxEmfRectL {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const TkxEmfRectL&) const = default;
};
// x' = x*eM11 + y*eM21 + eDx; y' = x*eM12 + y*eM22 + eDy.
struct TkxEmfXForm {
  float eM11 = 1, eM12 = 0, eM21 = 0, eM22 = 1, eDx = 0, eDy = 0;
  bool operator==(const TkxEmfXForm&) const = default;
};

struct TkxLogFontW {
  int32_t lfHeight = 0;  // negative: em height; positive: cell height (logical units)
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;  // tenths of a degree, counter-clockwise
  int32_t lfOrientation = 0;
  int32_t lfWeight = FW_NORMAL;
  uint8_t lfItalic = 0, lfUnderline = 0, lfStrikeOut = 0, lfCharSet = 1;  // DEFAULT_CHARSET
  uint8_t lfOutPrecision = 0, lfClipPrecision = 0, lfQuality = 0, lfPitchAndFamily = 0;
  std::u16string lfFaceName;  // at most 31 units are stored
  bool operator==(const TkxLogFontW&) const = default;
};
constexpr size_t kLogFontWSize = 92;

struct TkxLogPenEx {
  uint32_t PenStyle = PS_GEOMETRIC;
  uint32_t Width = 1;
  uint32_t BrushStyle = BS_SOLID;
  uint32_t Color = 0;  // COLORREF 0x00BBGGRR
  uint32_t BrushHatch = 0;
  std::vector<uint32_t> StyleEntries;  // PS_USERSTYLE dash and gap lengths
  bool operator==(const TkxLogPenEx&) const = default;
};

struct TkxLogBrush {
  uint32_t Style = BS_SOLID;
  uint32_t Color = 0;
  uint32_t Hatch = 0;
  bool operator==(const TkxLogBrush&) const = default;
};

// COLORREF from 0xAARRGGBB (alpha dropped) and back (opaque).
constexpr uint32_t ColorRefFromARGB(uint32_t argb) {
  return ((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16);
}
constexpr uint32_t ARGBFromColorRef(uint32_t cr) {
  return 0xFF000000u | ((cr & 0xFF) << 16) | (cr & 0xFF00) | ((cr >> 16) & 0xFF);
}

// ---- One record -------------------------------------------------------------
// A view of one record inside a metafile's bytes (the bytes must outlive it).
// Readers return 0 for fields that lie outside the record.
class TkxEmfRecord {
 public:
  TkxEmfRecord() = default;
  TkxEmfRecord(const uint8_t* data, uint32_t size, size_t offset) : data_(data), size_(size), offset_(offset) {}

  uint32_t Type() const { return U32(0); }
  uint32_t Size() const { return size_; }
  const uint8_t* Data() const { return data_; }
  size_t Offset() const { return offset_; }  // of the record within the metafile

  bool Has(size_t off, size_t len) const { return off <= size_ && len <= size_ - off; }
  uint8_t U8(size_t off) const { return Has(off, 1) ? data_[off] : 0; }
  // (Inline: the readers of every record field call these.)
  uint16_t U16(size_t off) const {
    if (!Has(off, 2)) return 0;
    return static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
  uint32_t U32(size_t off) const {
    if (!Has(off, 4)) return 0;
    return static_cast<uint32_t>(data_[off]) | (static_cast<uint32_t>(data_[off + 1]) << 8) |
           (static_cast<uint32_t>(data_[off + 2]) << 16) | (static_cast<uint32_t>(data_[off + 3]) << 24);
  }
  int32_t I32(size_t off) const { return static_cast<int32_t>(U32(off)); }
  float F32(size_t off) const;
  TkxEmfPointL PointL(size_t off) const { return {I32(off), I32(off + 4)}; }
  TkxEmfRectL RectL(size_t off) const { return {I32(off), I32(off + 4), I32(off + 8), I32(off + 12)}; }
  TkxEmfXForm XForm(size_t off) const;
  // The record's rclBounds, for the drawing records that start with one.
  TkxEmfRectL Bounds() const { return RectL(8); }

 private:
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  size_t offset_ = 0;
};

// ---- Decoded records ----------------------------------------------------------
struct TkxEmrHeader {
  TkxEmfRectL Bounds;  // device units, inclusive
  TkxEmfRectL Frame;   // .01 millimetres, inclusive
  uint32_t Signature = 0;
  uint32_t Version = 0;
  uint32_t Bytes = 0;
  uint32_t Records = 0;
  uint16_t Handles = 0;
  uint32_t nDescription = 0, offDescription = 0, nPalEntries = 0;
  TkxEmfSizeL Device;       // reference device, pixels
  TkxEmfSizeL Millimeters;  // reference device, millimetres
  bool HasExtension1 = false;
  uint32_t cbPixelFormat = 0, offPixelFormat = 0, bOpenGL = 0;
  bool HasExtension2 = false;
  uint32_t MicrometersX = 0, MicrometersY = 0;
  std::u16string Description;
};

struct TkxEmrExtTextOut {
  TkxEmfRectL Bounds;
  uint32_t GraphicsMode = GM_COMPATIBLE;
  float exScale = 0, eyScale = 0;
  TkxEmfPointL Reference;
  uint32_t Options = 0;
  TkxEmfRectL Rect;
  // UTF-16 units for EMR_EXTTEXTOUTW; for EMR_EXTTEXTOUTA one unit per byte, unconverted.
  std::u16string Text;
  // One advance per character (two per character, x then y, with ETO_PDY); empty when offDx is 0.
  std::vector<int32_t> Dx;
};

struct TkxEmrCreateFont {
  uint32_t ihFont = 0;
  TkxLogFontW LogFont;
};

struct TkxEmrExtCreatePen {
  uint32_t ihPen = 0;
  TkxLogPenEx LogPen;
  const uint8_t* Bmi = nullptr;  // pattern bitmap of a DIB-pattern pen, if any
  size_t BmiSize = 0;
  const uint8_t* Bits = nullptr;
  size_t BitsSize = 0;
};

struct TkxEmrCreatePen {
  uint32_t ihPen = 0;
  uint32_t Style = PS_SOLID;
  TkxEmfPointL Width;
  uint32_t Color = 0;
};

struct TkxEmrCreateBrush {
  uint32_t ihBrush = 0;
  TkxLogBrush LogBrush;
};

// EMR_POLYGON/POLYLINE/POLYBEZIER/POLYBEZIERTO/POLYLINETO and their 16-bit forms.
struct TkxEmrPoly {
  TkxEmfRectL Bounds;
  std::vector<TkxEmfPointL> Points;
};

// EMR_POLYPOLYGON/POLYPOLYLINE and their 16-bit forms.
struct TkxEmrPolyPoly {
  TkxEmfRectL Bounds;
  std::vector<uint32_t> Counts;
  std::vector<TkxEmfPointL> Points;  // all polygons, one after the other
};

// EMR_POLYDRAW and EMR_POLYDRAW16.
struct TkxEmrPolyDraw {
  TkxEmfRectL Bounds;
  std::vector<TkxEmfPointL> Points;
  std::vector<uint8_t> Types;
};

// A device-independent bitmap carried inside a record (pointers into the record).
struct TkxEmfDib {
  const uint8_t* Bmi = nullptr;
  size_t BmiSize = 0;
  const uint8_t* Bits = nullptr;
  size_t BitsSize = 0;
  bool Present() const { return Bmi != nullptr && BmiSize > 0 && Bits != nullptr && BitsSize > 0; }
};

struct TkxEmrStretchDIBits {
  TkxEmfRectL Bounds;
  int32_t xDest = 0, yDest = 0, xSrc = 0, ySrc = 0, cxSrc = 0, cySrc = 0;
  uint32_t UsageSrc = DIB_RGB_COLORS, Rop = SRCCOPY;
  int32_t cxDest = 0, cyDest = 0;
  TkxEmfDib Dib;
};

// EMR_BITBLT and EMR_STRETCHBLT (for EMR_BITBLT cxSrc/cySrc equal cxDest/cyDest).
struct TkxEmrBitBlt {
  TkxEmfRectL Bounds;
  int32_t xDest = 0, yDest = 0, cxDest = 0, cyDest = 0;
  uint32_t Rop = SRCCOPY;
  int32_t xSrc = 0, ySrc = 0;
  TkxEmfXForm XformSrc;
  uint32_t BkColorSrc = 0, UsageSrc = DIB_RGB_COLORS;
  int32_t cxSrc = 0, cySrc = 0;
  TkxEmfDib Dib;  // absent for pattern-only blits
};

struct TkxEmrSetDIBitsToDevice {
  TkxEmfRectL Bounds;
  int32_t xDest = 0, yDest = 0, xSrc = 0, ySrc = 0, cxSrc = 0, cySrc = 0;
  uint32_t UsageSrc = DIB_RGB_COLORS, iStartScan = 0, cScans = 0;
  TkxEmfDib Dib;
};

// EMR_EXTSELECTCLIPRGN; also the region part of EMR_FILLRGN/PAINTRGN/FRAMERGN/INVERTRGN.
struct TkxEmfRegion {
  TkxEmfRectL Bounds;
  std::vector<TkxEmfRectL> Rects;  // right and bottom exclusive
};
struct TkxEmrExtSelectClipRgn {
  uint32_t RegionMode = RGN_COPY;
  bool HasRegion = false;  // false: cbRgnData was 0
  TkxEmfRegion Region;
};

// Each returns false, leaving out partly filled, when the record is not of the
// expected type or its fields point outside it.
bool DecodeHeader(const TkxEmfRecord& r, TkxEmrHeader& out);
bool DecodeExtTextOut(const TkxEmfRecord& r, TkxEmrExtTextOut& out);  // A and W
bool DecodeExtCreateFont(const TkxEmfRecord& r, TkxEmrCreateFont& out);
bool DecodeExtCreatePen(const TkxEmfRecord& r, TkxEmrExtCreatePen& out);
bool DecodeCreatePen(const TkxEmfRecord& r, TkxEmrCreatePen& out);
bool DecodeCreateBrush(const TkxEmfRecord& r, TkxEmrCreateBrush& out);
bool DecodePoly(const TkxEmfRecord& r, TkxEmrPoly& out);
bool DecodePolyPoly(const TkxEmfRecord& r, TkxEmrPolyPoly& out);
bool DecodePolyDraw(const TkxEmfRecord& r, TkxEmrPolyDraw& out);
bool DecodeStretchDIBits(const TkxEmfRecord& r, TkxEmrStretchDIBits& out);
bool DecodeBitBlt(const TkxEmfRecord& r, TkxEmrBitBlt& out);  // BITBLT and STRETCHBLT
bool DecodeSetDIBitsToDevice(const TkxEmfRecord& r, TkxEmrSetDIBitsToDevice& out);
bool DecodeExtSelectClipRgn(const TkxEmfRecord& r, TkxEmrExtSelectClipRgn& out);
// Region data (RegionDataHeader + rectangles) of size bytes at offset off of the record.
bool DecodeRegion(const TkxEmfRecord& r, size_t off, size_t size, TkxEmfRegion& out);
// EMR_SETWORLDTRANSFORM (mode MWT_SET) and EMR_MODIFYWORLDTRANSFORM.
bool DecodeWorldTransform(const TkxEmfRecord& r, TkxEmfXForm& xform, uint32_t& mode);

// Points of the poly records are 16-bit for these types.
bool IsPoly16(uint32_t type);

// ---- The metafile -------------------------------------------------------------
class TkxMetafile {
 public:
  TkxMetafile() = default;
  // Takes the bytes of an enhanced metafile; throws EInvalidMetafile when they
  // do not start with a valid EMR_HEADER.
  explicit TkxMetafile(std::vector<uint8_t> bytes);

  static TkxMetafile LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  bool Empty() const { return bytes_.empty(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Hands the bytes over, leaving this metafile empty.
  std::vector<uint8_t> TakeBytes();
  const TkxEmrHeader& Header() const { return header_; }

  // Reference-device pixels per millimetre (from the header's micrometres when
  // present, else its millimetres).
  double PixelsPerMMX() const;
  double PixelsPerMMY() const;
  // The picture frame in reference-device pixels (left, top, right, bottom;
  // the inclusive frame's far edges are turned into exclusive ones; edges
  // within 1/20 pixel of a whole pixel are snapped to it), and its size
  // rounded to whole pixels.
  void FramePixels(double& left, double& top, double& right, double& bottom) const;
  int Width() const;
  int Height() const;

  // Calls fn for each record in file order, the header first, up to and
  // including EMR_EOF; stops early when fn returns false. A record whose size
  // is below 8 or runs past the end of the data ends the enumeration (no
  // further record can be located); a size that is not a multiple of 4 is
  // skipped over. Returns the number of records passed to fn.
  size_t EnumerateRecords(const std::function<bool(const TkxEmfRecord&)>& fn) const;
  // All records, as EnumerateRecords visits them.
  std::vector<TkxEmfRecord> Records() const;

 private:
  std::vector<uint8_t> bytes_;
  TkxEmrHeader header_;
};

// Enumerates raw bytes without requiring a valid header (the same checks as
// TkxMetafile::EnumerateRecords; the header's nBytes limits the walk when it is
// smaller than the data).
size_t EnumerateEmfRecords(const uint8_t* data, size_t size, const std::function<bool(const TkxEmfRecord&)>& fn);

}  // namespace pw
