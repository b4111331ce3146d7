// The page canvas: an enhanced-metafile recording at screen resolution.
//
// TkxEmfRecorder writes genuine MS-EMF bytes: EMR_HEADER (bounds, frame in
// .01 mm, reference device in pixels and millimetres, handle and record
// counts), the records of the GDI-level calls below, and EMR_EOF. Logical
// units are device pixels (MM_TEXT, identity world transform); the graphics
// layer (kxGraphics) applies its transforms to the coordinates before they
// get here.
//
// The recorder elides records that would not change the device context
// (selecting the selected object, setting the current text colour, ...), and
// keeps one cached pen, brush and font object so that the handle table stays
// small: an object is deleted as soon as a different one replaces it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kxEmf.h"

namespace pw {

// Builds the bytes of one record: Begin writes type and a size placeholder,
// Finish pads to 4 bytes and stores the size.
class TkxEmfRecordWriter {
 public:
  // The bytes go into storage recycled from earlier writers of the thread,
  // so that writing a record costs no allocation.
  explicit TkxEmfRecordWriter(uint32_t type);
  ~TkxEmfRecordWriter();
  TkxEmfRecordWriter(const TkxEmfRecordWriter& o);
  TkxEmfRecordWriter(TkxEmfRecordWriter&& o) noexcept;
  TkxEmfRecordWriter& operator=(const TkxEmfRecordWriter&) = delete;
  TkxEmfRecordWriter& operator=(TkxEmfRecordWriter&&) = delete;

  // Fields are stored a whole field at a time into room made once: a
  // record is written field by field, and every text record has its string
  // and spacing array.
  TkxEmfRecordWriter& U8(uint8_t v) {
    *Room(1) = v;
    return *this;
  }
  TkxEmfRecordWriter& U16(uint16_t v) {
    uint8_t* q = Room(2);
    q[0] = static_cast<uint8_t>(v);
    q[1] = static_cast<uint8_t>(v >> 8);
    return *this;
  }
  TkxEmfRecordWriter& I16(int16_t v) { return U16(static_cast<uint16_t>(v)); }
  TkxEmfRecordWriter& U32(uint32_t v) {
    uint8_t* q = Room(4);
    for (int i = 0; i < 4; ++i) q[i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  TkxEmfRecordWriter& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  TkxEmfRecordWriter& F32(float v);
  TkxEmfRecordWriter& Point(const TkxEmfPointL& p) { return I32(p.x).I32(p.y); }
  TkxEmfRecordWriter& Rect(const TkxEmfRectL& r) { return I32(r.left).I32(r.top).I32(r.right).I32(r.bottom); }
  TkxEmfRecordWriter& XForm(const TkxEmfXForm& x);
  TkxEmfRecordWriter& Bytes(const uint8_t* p, size_t n) {
    if (n > 0) std::memcpy(Room(n), p, n);
    return *this;
  }
  TkxEmfRecordWriter& Pad4() {
    while (size_ % 4) *Room(1) = 0;
    return *this;
  }
  size_t Size() const { return size_; }
  // Overwrites a 32-bit field already written (offsets known only later).
  void Patch32(size_t off, uint32_t v);
  std::vector<uint8_t> Finish();
  // Pads and sets the size field like Finish, leaving the bytes here.
  std::span<const uint8_t> FinishInPlace();

 private:
  // n more bytes at the end, to be written by the caller.
  uint8_t* Room(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    uint8_t* q = data_.get() + size_;
    size_ += n;
    return q;
  }
  void Grow(size_t n);

  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// A path in device pixels with GDI+-style point types: 0 starts a figure,
// 1 is a line point, 3 a Bézier point (in threes); 0x80 on a point closes
// its figure.
struct TkxEmfPath {
  std::vector<TkxEmfPointL> Points;
  std::vector<uint8_t> Types;
  bool Empty() const { return Points.empty(); }
};

// One step of a clip: the clip is intersected with a rectangle (right and
// bottom exclusive) or with a path filled by its fill mode.
struct TkxEmfClipStep {
  bool IsRect = false;
  TkxEmfRectL Rect;
  TkxEmfPath Path;
  uint32_t FillMode = ALTERNATE;
};
using TkxEmfClipStepPtr = std::shared_ptr<const TkxEmfClipStep>;
// A clip: the steps, oldest first, intersected; empty = no clip.
using TkxEmfClip = std::vector<TkxEmfClipStepPtr>;

class TkxEmfRecorder {
 public:
  // A recording of widthPx x heightPx device pixels at ppi pixels per inch,
  // the screen being the reference device. The frame covers the whole page.
  TkxEmfRecorder(int widthPx, int heightPx, int ppi = 0 /* 0: the screen's */, std::u16string description = u"");
  // The same, recording into room: an earlier recording's bytes, whose
  // content is dropped and whose capacity spares the growing again.
  TkxEmfRecorder(int widthPx, int heightPx, std::vector<uint8_t>&& room);
  TkxEmfRecorder(const TkxEmfRecorder&) = delete;
  TkxEmfRecorder& operator=(const TkxEmfRecorder&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int PPI() const { return ppi_; }

  // Ends the recording: EMR_EOF is written and the header completed. Later
  // calls return the same metafile; drawing afterwards raises EInvalidMetafile.
  const TkxMetafile& Close();
  // Closes the recording and hands its metafile over without copying it;
  // the recorder keeps an empty one.
  TkxMetafile TakeMetafile();
  bool Closed() const { return closed_; }
  uint32_t RecordCount() const { return records_; }
  size_t ByteCount() const { return buf_.size(); }
  // The largest object handle in use so far, plus one (the header's nHandles).
  uint32_t HandleCount() const { return maxHandle_ + 1; }

  // ---- Objects ----
  uint32_t CreateFont(const TkxLogFontW& font);
  uint32_t CreatePen(const TkxLogPenEx& pen);
  uint32_t CreateBrush(const TkxLogBrush& brush);
  void SelectObject(uint32_t handle);  // ENHMETA_STOCK_OBJECT | index for stock objects
  void DeleteObject(uint32_t handle);
  void SelectStockObject(uint32_t index) { SelectObject(ENHMETA_STOCK_OBJECT | index); }
  // Select an object with these values: the cached one when equal, else a new
  // one that replaces (and deletes) the cached one.
  void UsePen(const TkxLogPenEx& pen);
  void UseBrush(const TkxLogBrush& brush);
  void UseFont(const TkxLogFontW& font);

  // ---- Device-context state (recorded only when it changes) ----
  void SetTextColor(uint32_t colorRef);
  void SetBkColor(uint32_t colorRef);
  void SetBkMode(uint32_t mode);
  void SetTextAlign(uint32_t align);
  void SetPolyFillMode(uint32_t mode);
  void SetStretchBltMode(uint32_t mode);
  void SetMiterLimit(float limit);
  void SaveDC();
  void RestoreDC(int32_t relative = -1);  // relative < 0 only
  void SetWorldTransform(const TkxEmfXForm& x);
  void ModifyWorldTransform(const TkxEmfXForm& x, uint32_t mode);

  // ---- Clipping ----
  void ResetClip();                              // EMR_EXTSELECTCLIPRGN, RGN_COPY, no region
  void IntersectClipRect(const TkxEmfRectL& r);  // right/bottom exclusive
  void SelectClipRegion(const std::vector<TkxEmfRectL>& rects, uint32_t mode);
  void SelectClipPath(uint32_t mode);  // after a path bracket
  // Brings the recorded clip to `clip` with the fewest records: only the new
  // steps when the recorded clip is a prefix of it, else a reset and all steps.
  void SyncClip(const TkxEmfClip& clip);
  // The recorded clip is no longer known (after a temporary clip); the next
  // SyncClip starts with a reset.
  void InvalidateClip();

  // ---- Drawing (device pixels) ----
  void Polygon(const std::vector<TkxEmfPointL>& pts);
  void Polyline(const std::vector<TkxEmfPointL>& pts);
  void PolyBezier(const std::vector<TkxEmfPointL>& pts);
  void PolyPolygon(const std::vector<uint32_t>& counts, const std::vector<TkxEmfPointL>& pts);
  void PolyPolyline(const std::vector<uint32_t>& counts, const std::vector<TkxEmfPointL>& pts);
  void Rectangle(const TkxEmfRectL& r);
  void MoveTo(const TkxEmfPointL& p);
  void LineTo(const TkxEmfPointL& p);
  void PolylineTo(const std::vector<TkxEmfPointL>& pts);
  void PolyBezierTo(const std::vector<TkxEmfPointL>& pts);
  void BeginPath();
  void EndPath();
  void CloseFigure();
  void AbortPath();
  void FillPath(const TkxEmfRectL& bounds);
  void StrokePath(const TkxEmfRectL& bounds);
  void StrokeAndFillPath(const TkxEmfRectL& bounds);
  // MOVETOEX / POLYLINETO / POLYBEZIERTO / CLOSEFIGURE for every figure of path
  // (inside a path bracket).
  void PathGeometry(const TkxEmfPath& path);
  // EMR_EXTTEXTOUTW in GM_COMPATIBLE mode with one advance per UTF-16 unit.
  void ExtTextOutW(const TkxEmfPointL& reference, uint32_t options, const TkxEmfRectL& rect, std::u16string_view text,
                   const std::vector<int32_t>& dx, const TkxEmfRectL& bounds);
  // EMR_STRETCHDIBITS (DIB_RGB_COLORS) of a whole DIB into a destination rectangle.
  void StretchDIBits(int32_t xDest, int32_t yDest, int32_t cxDest, int32_t cyDest, int32_t xSrc, int32_t ySrc,
                     int32_t cxSrc, int32_t cySrc, const std::vector<uint8_t>& bmi, const std::vector<uint8_t>& bits,
                     uint32_t rop = SRCCOPY);

  // ---- Raw access for metafile playback ----
  uint32_t AllocateHandle();
  void ReleaseHandle(uint32_t handle);
  // Appends a complete record (type, size, fields); its drawing extent, when
  // given, joins the header bounds. Device-context caches stay as they are:
  // callers bracket raw records with SaveDC/RestoreDC.
  void AppendRecord(const std::vector<uint8_t>& record, const TkxEmfRectL* bounds = nullptr);
  void AppendRecord(const uint8_t* record, size_t size, const TkxEmfRectL* bounds = nullptr);
  // Adds an area to the header bounds.
  void AddBounds(const TkxEmfRectL& r);

 private:
  struct DcState {
    std::optional<uint32_t> textColor, bkColor, bkMode, textAlign, polyFill, stretchMode;
    std::optional<float> miter;
    uint32_t pen = ENHMETA_STOCK_OBJECT | BLACK_PEN;
    uint32_t brush = ENHMETA_STOCK_OBJECT | WHITE_BRUSH;
    uint32_t font = ENHMETA_STOCK_OBJECT | SYSTEM_FONT;
    uint32_t penWidth = 1;  // of the selected pen, for bounds
    bool nullPen = false;
    TkxEmfClip clip;
    bool clipKnown = true;
  };
  enum ObjKind : uint8_t { okFree = 0, okPen, okBrush, okFont, okOther };

  void CheckOpen() const;
  void Emit(TkxEmfRecordWriter& w, const TkxEmfRectL* bounds);
  // A record whose last field is a large block (the bits of a bitmap):
  // the block is stored once, straight into the recording.
  void EmitWithBlock(TkxEmfRecordWriter& head, const uint8_t* block, size_t size, const TkxEmfRectL* bounds);
  void EmitSimple(uint32_t type, uint32_t value);
  void Poly(uint32_t type32, const std::vector<TkxEmfPointL>& pts, bool stroked);
  void PolyPoly(uint32_t type32, const std::vector<uint32_t>& counts, const std::vector<TkxEmfPointL>& pts,
                bool stroked);
  void PathEnd(uint32_t type, const TkxEmfRectL& bounds, bool stroked);
  TkxEmfRectL PointBounds(const std::vector<TkxEmfPointL>& pts, bool stroked) const;
  void Retire(uint32_t handle);
  bool SelectedInSavedState(uint32_t handle) const;
  uint32_t NewObject(ObjKind kind);

  int width_, height_, ppi_;
  std::u16string description_;
  std::vector<uint8_t> buf_;
  uint32_t records_ = 0;
  bool closed_ = false;
  TkxMetafile metafile_;
  TkxEmfRectL bounds_{0, 0, -1, -1};
  bool hasBounds_ = false;

  std::vector<ObjKind> handles_{okFree};  // index 0 is reserved
  uint32_t maxHandle_ = 0;
  std::vector<uint32_t> pendingDelete_;
  std::vector<uint32_t> penWidths_{0};  // width per handle, for bounds
  // The one pen and brush kept selected; a new value replaces the object.
  template <typename T>
  struct Cached {
    uint32_t handle = 0;
    T value;
  };
  template <typename T, typename Create>
  void UseCached(Cached<T>& slot, const T& value, Create create);
  Cached<TkxLogPenEx> pen_;
  Cached<TkxLogBrush> brush_;
  // Fonts: text alternates between a few (roman, italic, symbols), so the
  // last ones used stay created and are selected again rather than made
  // anew for every run. Each knows when it was last used.
  static constexpr size_t kKeptFonts = 8;
  struct KeptFont {
    Cached<TkxLogFontW> font;
    uint64_t lastUse = 0;
  };
  std::vector<KeptFont> fonts_;
  uint64_t fontUses_ = 0;

  DcState dc_;
  std::vector<DcState> saved_;
};

}  // namespace pw
