#include "platform/kxEmfRecorder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/kxScreen.h"

namespace pw {

// ---- TkxEmfRecordWriter -----------------------------------------------------------

namespace {

// Storage of finished writers, kept for the next ones of the thread.
constexpr size_t kKeptWriterBuffers = 8;
constexpr size_t kKeptWriterCapacity = size_t(64) << 10;
constexpr size_t kFirstWriterCapacity = 256;

struct TkxKeptBuffer {
  std::unique_ptr<uint8_t[]> Data;
  size_t Capacity = 0;
};

std::vector<TkxKeptBuffer>& WriterBuffers() {
  thread_local std::vector<TkxKeptBuffer> kept;
  return kept;
}

}  // namespace

TkxEmfRecordWriter::TkxEmfRecordWriter(uint32_t type) {
  auto& kept = WriterBuffers();
  if (!kept.empty()) {
    data_ = std::move(kept.back().Data);
    capacity_ = kept.back().Capacity;
    kept.pop_back();
  } else {
    data_ = std::make_unique_for_overwrite<uint8_t[]>(kFirstWriterCapacity);
    capacity_ = kFirstWriterCapacity;
  }
  U32(type);
  U32(0);
}

TkxEmfRecordWriter::TkxEmfRecordWriter(const TkxEmfRecordWriter& o)
    : data_(std::make_unique_for_overwrite<uint8_t[]>(std::max<size_t>(o.size_, 1))),
      size_(o.size_),
      capacity_(std::max<size_t>(o.size_, 1)) {
  if (size_ > 0) std::memcpy(data_.get(), o.data_.get(), size_);
}

TkxEmfRecordWriter::TkxEmfRecordWriter(TkxEmfRecordWriter&& o) noexcept
    : data_(std::move(o.data_)), size_(o.size_), capacity_(o.capacity_) {
  o.size_ = o.capacity_ = 0;
}

TkxEmfRecordWriter::~TkxEmfRecordWriter() {
  auto& kept = WriterBuffers();
  if (data_ && capacity_ <= kKeptWriterCapacity && kept.size() < kKeptWriterBuffers)
    kept.push_back({std::move(data_), capacity_});
}

void TkxEmfRecordWriter::Grow(size_t n) {
  if (n > SIZE_MAX / 2 - size_) throw std::bad_alloc();
  const size_t capacity = std::max({capacity_ * 2, size_ + n, kFirstWriterCapacity});
  auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_ = std::move(grown);
  capacity_ = capacity;
}

TkxEmfRecordWriter& TkxEmfRecordWriter::F32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return U32(bits);
}

TkxEmfRecordWriter& TkxEmfRecordWriter::XForm(const TkxEmfXForm& x) {
  return F32(x.eM11).F32(x.eM12).F32(x.eM21).F32(x.eM22).F32(x.eDx).F32(x.eDy);
}

void TkxEmfRecordWriter::Patch32(size_t off, uint32_t v) {
  for (size_t i = 0; i < 4 && off + i < size_; ++i) data_[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> TkxEmfRecordWriter::Finish() {
  const std::span<const uint8_t> bytes = FinishInPlace();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::span<const uint8_t> TkxEmfRecordWriter::FinishInPlace() {
  Pad4();
  Patch32(4, static_cast<uint32_t>(size_));
  return {data_.get(), size_};
}

// ---- TkxEmfRecorder -----------------------------------------------------------------

namespace {

constexpr size_t kHeaderSize = 108;

void Put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

TkxEmfRectL Union(const TkxEmfRectL& a, const TkxEmfRectL& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

bool Fits16(const std::vector<TkxEmfPointL>& pts) {
  for (const auto& p : pts)
    if (p.x < INT16_MIN || p.x > INT16_MAX || p.y < INT16_MIN || p.y > INT16_MAX) return false;
  return true;
}

uint32_t Type16(uint32_t type32) {
  switch (type32) {
    case EMR_POLYBEZIER: return EMR_POLYBEZIER16;
    case EMR_POLYGON: return EMR_POLYGON16;
    case EMR_POLYLINE: return EMR_POLYLINE16;
    case EMR_POLYBEZIERTO: return EMR_POLYBEZIERTO16;
    case EMR_POLYLINETO: return EMR_POLYLINETO16;
    case EMR_POLYPOLYLINE: return EMR_POLYPOLYLINE16;
    case EMR_POLYPOLYGON: return EMR_POLYPOLYGON16;
    default: return type32;
  }
}

}  // namespace

TkxEmfRecorder::TkxEmfRecorder(int widthPx, int heightPx, int ppi, std::u16string description)
    : width_(std::max(widthPx, 0)),
      height_(std::max(heightPx, 0)),
      ppi_(ppi > 0 ? ppi : TkxScreen::PPI()),
      description_(std::move(description)) {
  // The header is completed by Close; reserve it (and the description) now.
  size_t descBytes = description_.empty() ? 0 : (description_.size() + 1) * 2;
  buf_.assign(kHeaderSize + ((descBytes + 3) & ~size_t{3}), 0);
  records_ = 1;
}

TkxEmfRecorder::TkxEmfRecorder(int widthPx, int heightPx, std::vector<uint8_t>&& room)
    : width_(std::max(widthPx, 0)), height_(std::max(heightPx, 0)), ppi_(TkxScreen::PPI()) {
  buf_ = std::move(room);
  buf_.assign(kHeaderSize, 0);
  records_ = 1;
}

void TkxEmfRecorder::CheckOpen() const {
  if (closed_) throw EInvalidMetafile("The recording is closed");
}

const TkxMetafile& TkxEmfRecorder::Close() {
  if (closed_) return metafile_;
  TkxEmfRecordWriter eof(EMR_EOF);
  eof.U32(0).U32(16).U32(20);  // no palette; nSizeLast = the record's size
  Emit(eof, nullptr);
  closed_ = true;

  // The header: the reference device is the screen.
  const int devW = TkxScreen::kWidthPx, devH = TkxScreen::kHeightPx;
  const double umX = devW * 25400.0 / ppi_, umY = devH * 25400.0 / ppi_;
  std::vector<uint8_t>& b = buf_;
  Put32(b, 0, EMR_HEADER);
  const size_t descBytes = description_.empty() ? 0 : (description_.size() + 1) * 2;
  Put32(b, 4, static_cast<uint32_t>(kHeaderSize + ((descBytes + 3) & ~size_t{3})));
  const TkxEmfRectL bounds = hasBounds_ ? bounds_ : TkxEmfRectL{0, 0, -1, -1};
  Put32(b, 8, bounds.left);
  Put32(b, 12, bounds.top);
  Put32(b, 16, bounds.right);
  Put32(b, 20, bounds.bottom);
  // Frame in .01 mm, inclusive: the page's far edges are one unit inside.
  const int32_t frameR = static_cast<int32_t>(std::lrint(width_ * 2540.0 / ppi_)) - 1;
  const int32_t frameB = static_cast<int32_t>(std::lrint(height_ * 2540.0 / ppi_)) - 1;
  Put32(b, 24, 0);
  Put32(b, 28, 0);
  Put32(b, 32, static_cast<uint32_t>(std::max(frameR, 0)));
  Put32(b, 36, static_cast<uint32_t>(std::max(frameB, 0)));
  Put32(b, 40, kEmfSignature);
  Put32(b, 44, kEmfVersion);
  Put32(b, 48, static_cast<uint32_t>(b.size()));
  Put32(b, 52, records_);
  b[56] = static_cast<uint8_t>(HandleCount());
  b[57] = static_cast<uint8_t>(HandleCount() >> 8);
  b[58] = b[59] = 0;
  Put32(b, 60, static_cast<uint32_t>(description_.empty() ? 0 : description_.size() + 1));
  Put32(b, 64, static_cast<uint32_t>(description_.empty() ? 0 : kHeaderSize));
  Put32(b, 68, 0);
  Put32(b, 72, devW);
  Put32(b, 76, devH);
  Put32(b, 80, static_cast<uint32_t>(std::lrint(umX / 1000)));
  Put32(b, 84, static_cast<uint32_t>(std::lrint(umY / 1000)));
  Put32(b, 88, 0);
  Put32(b, 92, 0);
  Put32(b, 96, 0);
  Put32(b, 100, static_cast<uint32_t>(std::lrint(umX)));
  Put32(b, 104, static_cast<uint32_t>(std::lrint(umY)));
  for (size_t i = 0; i < description_.size(); ++i) {
    b[kHeaderSize + i * 2] = static_cast<uint8_t>(description_[i]);
    b[kHeaderSize + i * 2 + 1] = static_cast<uint8_t>(description_[i] >> 8);
  }
  metafile_ = TkxMetafile(std::move(buf_));
  buf_.clear();
  return metafile_;
}

TkxMetafile TkxEmfRecorder::TakeMetafile() {
  Close();
  TkxMetafile taken = std::move(metafile_);
  metafile_ = TkxMetafile();
  return taken;
}

void TkxEmfRecorder::AddBounds(const TkxEmfRectL& r) {
  if (r.right < r.left || r.bottom < r.top) return;
  bounds_ = hasBounds_ ? Union(bounds_, r) : r;
  hasBounds_ = true;
}

void TkxEmfRecorder::Emit(TkxEmfRecordWriter& w, const TkxEmfRectL* bounds) {
  CheckOpen();
  const std::span<const uint8_t> rec = w.FinishInPlace();
  buf_.insert(buf_.end(), rec.begin(), rec.end());
  ++records_;
  if (bounds) AddBounds(*bounds);
}

void TkxEmfRecorder::EmitWithBlock(TkxEmfRecordWriter& head, const uint8_t* block, size_t size,
                                   const TkxEmfRectL* bounds) {
  CheckOpen();
  const size_t padded = (size + 3) & ~size_t{3};
  const std::span<const uint8_t> rec = head.FinishInPlace();
  if (rec.size() + padded > UINT32_MAX) throw std::bad_alloc();
  const size_t at = buf_.size();
  buf_.insert(buf_.end(), rec.begin(), rec.end());
  if (size > 0) buf_.insert(buf_.end(), block, block + size);
  buf_.resize(at + rec.size() + padded, 0);
  Put32(buf_, at + 4, static_cast<uint32_t>(rec.size() + padded));
  ++records_;
  if (bounds) AddBounds(*bounds);
}

void TkxEmfRecorder::AppendRecord(const std::vector<uint8_t>& record, const TkxEmfRectL* bounds) {
  AppendRecord(record.data(), record.size(), bounds);
}

void TkxEmfRecorder::AppendRecord(const uint8_t* record, size_t size, const TkxEmfRectL* bounds) {
  CheckOpen();
  if (size < 8 || size % 4 != 0) return;
  buf_.insert(buf_.end(), record, record + size);
  Put32(buf_, buf_.size() - size + 4, static_cast<uint32_t>(size));
  ++records_;
  if (bounds) AddBounds(*bounds);
}

void TkxEmfRecorder::EmitSimple(uint32_t type, uint32_t value) {
  TkxEmfRecordWriter w(type);
  w.U32(value);
  Emit(w, nullptr);
}

// ---- Objects ----

uint32_t TkxEmfRecorder::AllocateHandle() { return NewObject(okOther); }

uint32_t TkxEmfRecorder::NewObject(ObjKind kind) {
  uint32_t h = 1;
  while (h < handles_.size() && handles_[h] != okFree) ++h;
  if (h == handles_.size()) {
    handles_.push_back(okFree);
    penWidths_.push_back(0);
  }
  handles_[h] = kind;
  maxHandle_ = std::max(maxHandle_, h);
  return h;
}

void TkxEmfRecorder::ReleaseHandle(uint32_t handle) {
  if (handle > 0 && handle < handles_.size()) handles_[handle] = okFree;
}

uint32_t TkxEmfRecorder::CreateFont(const TkxLogFontW& f) {
  CheckOpen();
  const uint32_t h = NewObject(okFont);
  TkxEmfRecordWriter w(EMR_EXTCREATEFONTINDIRECTW);
  w.U32(h).I32(f.lfHeight).I32(f.lfWidth).I32(f.lfEscapement).I32(f.lfOrientation).I32(f.lfWeight);
  w.U8(f.lfItalic).U8(f.lfUnderline).U8(f.lfStrikeOut).U8(f.lfCharSet);
  w.U8(f.lfOutPrecision).U8(f.lfClipPrecision).U8(f.lfQuality).U8(f.lfPitchAndFamily);
  for (size_t i = 0; i < 32; ++i) w.U16(i < 31 && i < f.lfFaceName.size() ? f.lfFaceName[i] : 0);
  Emit(w, nullptr);
  return h;
}

uint32_t TkxEmfRecorder::CreatePen(const TkxLogPenEx& p) {
  CheckOpen();
  const uint32_t h = NewObject(okPen);
  penWidths_[h] = (p.PenStyle & PS_STYLE_MASK) == PS_NULL ? 0 : std::max<uint32_t>(p.Width, 1);
  TkxEmfRecordWriter w(EMR_EXTCREATEPEN);
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(p.StyleEntries.size(), 16));
  const uint32_t end = 52 + n * 4;
  w.U32(h).U32(end).U32(0).U32(end).U32(0);  // no pattern bitmap
  w.U32(p.PenStyle).U32(p.Width).U32(p.BrushStyle).U32(p.Color).U32(p.BrushHatch).U32(n);
  for (uint32_t i = 0; i < n; ++i) w.U32(p.StyleEntries[i]);
  Emit(w, nullptr);
  return h;
}

uint32_t TkxEmfRecorder::CreateBrush(const TkxLogBrush& b) {
  CheckOpen();
  const uint32_t h = NewObject(okBrush);
  TkxEmfRecordWriter w(EMR_CREATEBRUSHINDIRECT);
  w.U32(h).U32(b.Style).U32(b.Color).U32(b.Hatch);
  Emit(w, nullptr);
  return h;
}

void TkxEmfRecorder::SelectObject(uint32_t handle) {
  CheckOpen();
  ObjKind kind;
  if (handle & ENHMETA_STOCK_OBJECT) {
    const uint32_t idx = handle & ~ENHMETA_STOCK_OBJECT;
    if (idx <= NULL_BRUSH || idx == DC_BRUSH)
      kind = okBrush;
    else if ((idx >= WHITE_PEN && idx <= NULL_PEN) || idx == DC_PEN)
      kind = okPen;
    else if (idx >= OEM_FIXED_FONT && idx <= DEFAULT_GUI_FONT && idx != DEFAULT_PALETTE)
      kind = okFont;
    else
      kind = okOther;
  } else {
    kind = handle < handles_.size() ? handles_[handle] : okFree;
    if (kind == okFree) return;  // nothing to select
  }
  uint32_t* slot = kind == okPen ? &dc_.pen : kind == okBrush ? &dc_.brush : kind == okFont ? &dc_.font : nullptr;
  if (slot && *slot == handle) return;
  EmitSimple(EMR_SELECTOBJECT, handle);
  if (slot) *slot = handle;
  if (kind == okPen) {
    const uint32_t idx = handle & ~ENHMETA_STOCK_OBJECT;
    dc_.nullPen = (handle & ENHMETA_STOCK_OBJECT) ? idx == NULL_PEN : penWidths_[handle] == 0;
    dc_.penWidth = (handle & ENHMETA_STOCK_OBJECT) ? 1 : std::max<uint32_t>(penWidths_[handle], 1);
  }
}

bool TkxEmfRecorder::SelectedInSavedState(uint32_t handle) const {
  for (const DcState& s : saved_)
    if (s.pen == handle || s.brush == handle || s.font == handle) return true;
  return false;
}

void TkxEmfRecorder::DeleteObject(uint32_t handle) {
  CheckOpen();
  if ((handle & ENHMETA_STOCK_OBJECT) || handle == 0 || handle >= handles_.size() || handles_[handle] == okFree) return;
  EmitSimple(EMR_DELETEOBJECT, handle);
  handles_[handle] = okFree;
  std::erase_if(fonts_, [handle](const KeptFont& f) { return f.font.handle == handle; });
  // A deleted object no longer counts as selected.
  if (dc_.pen == handle) dc_.pen = 0;
  if (dc_.brush == handle) dc_.brush = 0;
  if (dc_.font == handle) dc_.font = 0;
}

// An object replaced in the cache is deleted once no device-context state,
// current or saved, has it selected.
void TkxEmfRecorder::Retire(uint32_t handle) {
  if (handle == 0) return;
  if (dc_.pen == handle || dc_.brush == handle || dc_.font == handle || SelectedInSavedState(handle))
    pendingDelete_.push_back(handle);
  else
    DeleteObject(handle);
}

template <typename T, typename Create>
void TkxEmfRecorder::UseCached(Cached<T>& slot, const T& value, Create create) {
  if (slot.handle == 0 || !(slot.value == value)) {
    const uint32_t old = slot.handle;
    slot.handle = create(value);
    slot.value = value;
    SelectObject(slot.handle);
    Retire(old);
  } else {
    SelectObject(slot.handle);
  }
}

void TkxEmfRecorder::UsePen(const TkxLogPenEx& pen) {
  UseCached(pen_, pen, [this](const TkxLogPenEx& v) { return CreatePen(v); });
}

void TkxEmfRecorder::UseBrush(const TkxLogBrush& brush) {
  UseCached(brush_, brush, [this](const TkxLogBrush& v) { return CreateBrush(v); });
}

void TkxEmfRecorder::UseFont(const TkxLogFontW& font) {
  ++fontUses_;
  for (KeptFont& kept : fonts_) {
    if (kept.font.value == font) {
      kept.lastUse = fontUses_;
      SelectObject(kept.font.handle);
      return;
    }
  }
  const uint32_t h = CreateFont(font);
  if (fonts_.size() < kKeptFonts) {
    fonts_.push_back({{h, font}, fontUses_});
    SelectObject(h);
    return;
  }
  // The least recently used one makes room, after the new one is selected.
  KeptFont& oldest = *std::min_element(fonts_.begin(), fonts_.end(),
                                       [](const KeptFont& a, const KeptFont& b) { return a.lastUse < b.lastUse; });
  const uint32_t retired = oldest.font.handle;
  oldest = {{h, font}, fontUses_};
  SelectObject(h);
  Retire(retired);
}

// ---- State ----

#define PW_EMF_STATE(Name, Field, Type)       \
  void TkxEmfRecorder::Name(uint32_t v) {     \
    if (dc_.Field && *dc_.Field == v) return; \
    EmitSimple(Type, v);                      \
    dc_.Field = v;                            \
  }
PW_EMF_STATE(SetTextColor, textColor, EMR_SETTEXTCOLOR)
PW_EMF_STATE(SetBkColor, bkColor, EMR_SETBKCOLOR)
PW_EMF_STATE(SetBkMode, bkMode, EMR_SETBKMODE)
PW_EMF_STATE(SetTextAlign, textAlign, EMR_SETTEXTALIGN)
PW_EMF_STATE(SetPolyFillMode, polyFill, EMR_SETPOLYFILLMODE)
PW_EMF_STATE(SetStretchBltMode, stretchMode, EMR_SETSTRETCHBLTMODE)
#undef PW_EMF_STATE

void TkxEmfRecorder::SetMiterLimit(float limit) {
  if (dc_.miter && *dc_.miter == limit) return;
  TkxEmfRecordWriter w(EMR_SETMITERLIMIT);
  w.F32(limit);
  Emit(w, nullptr);
  dc_.miter = limit;
}

void TkxEmfRecorder::SaveDC() {
  TkxEmfRecordWriter w(EMR_SAVEDC);
  Emit(w, nullptr);
  saved_.push_back(dc_);
}

void TkxEmfRecorder::RestoreDC(int32_t relative) {
  if (relative >= 0 || static_cast<size_t>(-static_cast<int64_t>(relative)) > saved_.size()) return;
  EmitSimple(EMR_RESTOREDC, static_cast<uint32_t>(relative));
  const size_t keep = saved_.size() - static_cast<size_t>(-static_cast<int64_t>(relative));
  dc_ = saved_[keep];
  saved_.resize(keep);
  // Objects whose deletion waited for this state to go.
  std::vector<uint32_t> pending;
  pending.swap(pendingDelete_);
  for (uint32_t h : pending) Retire(h);
}

void TkxEmfRecorder::SetWorldTransform(const TkxEmfXForm& x) {
  TkxEmfRecordWriter w(EMR_SETWORLDTRANSFORM);
  w.XForm(x);
  Emit(w, nullptr);
}

void TkxEmfRecorder::ModifyWorldTransform(const TkxEmfXForm& x, uint32_t mode) {
  TkxEmfRecordWriter w(EMR_MODIFYWORLDTRANSFORM);
  w.XForm(x).U32(mode);
  Emit(w, nullptr);
}

// ---- Clipping ----

void TkxEmfRecorder::ResetClip() {
  TkxEmfRecordWriter w(EMR_EXTSELECTCLIPRGN);
  w.U32(0).U32(RGN_COPY);
  Emit(w, nullptr);
  dc_.clip.clear();
  dc_.clipKnown = true;
}

void TkxEmfRecorder::IntersectClipRect(const TkxEmfRectL& r) {
  TkxEmfRecordWriter w(EMR_INTERSECTCLIPRECT);
  w.Rect(r);
  Emit(w, nullptr);
  dc_.clipKnown = false;
}

void TkxEmfRecorder::SelectClipRegion(const std::vector<TkxEmfRectL>& rects, uint32_t mode) {
  TkxEmfRecordWriter w(EMR_EXTSELECTCLIPRGN);
  const uint32_t n = static_cast<uint32_t>(rects.size());
  w.U32(32 + n * 16).U32(mode);
  TkxEmfRectL bound{0, 0, 0, 0};
  for (size_t i = 0; i < rects.size(); ++i) bound = i == 0 ? rects[i] : Union(bound, rects[i]);
  w.U32(32).U32(1).U32(n).U32(n * 16).Rect(bound);
  for (const auto& r : rects) w.Rect(r);
  Emit(w, nullptr);
  dc_.clipKnown = false;
}

void TkxEmfRecorder::SelectClipPath(uint32_t mode) {
  EmitSimple(EMR_SELECTCLIPPATH, mode);
  dc_.clipKnown = false;
}

void TkxEmfRecorder::InvalidateClip() { dc_.clipKnown = false; }

void TkxEmfRecorder::SyncClip(const TkxEmfClip& clip) {
  CheckOpen();
  size_t common = 0;
  if (dc_.clipKnown) {
    while (common < dc_.clip.size() && common < clip.size() && dc_.clip[common] == clip[common]) ++common;
    if (common == clip.size() && common == dc_.clip.size()) return;
  }
  if (!dc_.clipKnown || common < dc_.clip.size()) {
    ResetClip();
    common = 0;
  }
  for (size_t i = common; i < clip.size(); ++i) {
    const TkxEmfClipStep& s = *clip[i];
    if (s.IsRect) {
      IntersectClipRect(s.Rect);
    } else {
      // A clip outline is no drawing: whoever reads the bracket's segments as
      // shapes sees them without pen and brush.
      SelectStockObject(NULL_PEN);
      SelectStockObject(NULL_BRUSH);
      SetPolyFillMode(s.FillMode);
      BeginPath();
      PathGeometry(s.Path);
      EndPath();
      SelectClipPath(RGN_AND);
    }
  }
  dc_.clip = clip;
  dc_.clipKnown = true;
}

// ---- Drawing ----

TkxEmfRectL TkxEmfRecorder::PointBounds(const std::vector<TkxEmfPointL>& pts, bool stroked) const {
  if (pts.empty()) return {0, 0, -1, -1};
  TkxEmfRectL r{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
  for (const auto& p : pts) {
    r.left = std::min(r.left, p.x);
    r.top = std::min(r.top, p.y);
    r.right = std::max(r.right, p.x);
    r.bottom = std::max(r.bottom, p.y);
  }
  if (stroked && !dc_.nullPen) {
    const int64_t h = std::min<uint32_t>(dc_.penWidth, 1u << 20) / 2;
    auto sat = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    r = {sat(r.left - h), sat(r.top - h), sat(r.right + h), sat(r.bottom + h)};
  }
  return r;
}

void TkxEmfRecorder::Poly(uint32_t type32, const std::vector<TkxEmfPointL>& pts, bool stroked) {
  if (pts.empty()) return;
  const bool p16 = Fits16(pts);
  TkxEmfRecordWriter w(p16 ? Type16(type32) : type32);
  const TkxEmfRectL b = PointBounds(pts, stroked);
  w.Rect(b).U32(static_cast<uint32_t>(pts.size()));
  for (const auto& p : pts) {
    if (p16)
      w.I16(static_cast<int16_t>(p.x)).I16(static_cast<int16_t>(p.y));
    else
      w.Point(p);
  }
  Emit(w, &b);
}

void TkxEmfRecorder::PolyPoly(uint32_t type32, const std::vector<uint32_t>& counts,
                              const std::vector<TkxEmfPointL>& pts, bool stroked) {
  uint64_t total = 0;
  for (uint32_t c : counts) total += c;
  if (counts.empty() || total != pts.size()) return;
  const bool p16 = Fits16(pts);
  TkxEmfRecordWriter w(p16 ? Type16(type32) : type32);
  const TkxEmfRectL b = PointBounds(pts, stroked);
  w.Rect(b).U32(static_cast<uint32_t>(counts.size())).U32(static_cast<uint32_t>(pts.size()));
  for (uint32_t c : counts) w.U32(c);
  for (const auto& p : pts) {
    if (p16)
      w.I16(static_cast<int16_t>(p.x)).I16(static_cast<int16_t>(p.y));
    else
      w.Point(p);
  }
  Emit(w, &b);
}

void TkxEmfRecorder::Polygon(const std::vector<TkxEmfPointL>& pts) { Poly(EMR_POLYGON, pts, true); }
void TkxEmfRecorder::Polyline(const std::vector<TkxEmfPointL>& pts) { Poly(EMR_POLYLINE, pts, true); }
void TkxEmfRecorder::PolyBezier(const std::vector<TkxEmfPointL>& pts) { Poly(EMR_POLYBEZIER, pts, true); }
void TkxEmfRecorder::PolylineTo(const std::vector<TkxEmfPointL>& pts) { Poly(EMR_POLYLINETO, pts, true); }
void TkxEmfRecorder::PolyBezierTo(const std::vector<TkxEmfPointL>& pts) { Poly(EMR_POLYBEZIERTO, pts, true); }
void TkxEmfRecorder::PolyPolygon(const std::vector<uint32_t>& counts, const std::vector<TkxEmfPointL>& pts) {
  PolyPoly(EMR_POLYPOLYGON, counts, pts, true);
}
void TkxEmfRecorder::PolyPolyline(const std::vector<uint32_t>& counts, const std::vector<TkxEmfPointL>& pts) {
  PolyPoly(EMR_POLYPOLYLINE, counts, pts, true);
}

void TkxEmfRecorder::Rectangle(const TkxEmfRectL& r) {
  TkxEmfRecordWriter w(EMR_RECTANGLE);
  w.Rect(r);
  const TkxEmfRectL b = PointBounds({{r.left, r.top}, {r.right, r.bottom}}, true);
  Emit(w, &b);
}

void TkxEmfRecorder::MoveTo(const TkxEmfPointL& p) {
  TkxEmfRecordWriter w(EMR_MOVETOEX);
  w.Point(p);
  Emit(w, nullptr);
}

void TkxEmfRecorder::LineTo(const TkxEmfPointL& p) {
  TkxEmfRecordWriter w(EMR_LINETO);
  w.Point(p);
  const TkxEmfRectL b = PointBounds({p}, true);
  Emit(w, &b);
}

void TkxEmfRecorder::BeginPath() {
  TkxEmfRecordWriter w(EMR_BEGINPATH);
  Emit(w, nullptr);
}
void TkxEmfRecorder::EndPath() {
  TkxEmfRecordWriter w(EMR_ENDPATH);
  Emit(w, nullptr);
}
void TkxEmfRecorder::CloseFigure() {
  TkxEmfRecordWriter w(EMR_CLOSEFIGURE);
  Emit(w, nullptr);
}
void TkxEmfRecorder::AbortPath() {
  TkxEmfRecordWriter w(EMR_ABORTPATH);
  Emit(w, nullptr);
}

void TkxEmfRecorder::PathEnd(uint32_t type, const TkxEmfRectL& bounds, bool stroked) {
  TkxEmfRecordWriter w(type);
  TkxEmfRectL b = bounds;
  if (stroked && !dc_.nullPen) {
    const int64_t h = std::min<uint32_t>(dc_.penWidth, 1u << 20) / 2;
    auto sat = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    b = {sat(b.left - h), sat(b.top - h), sat(b.right + h), sat(b.bottom + h)};
  }
  w.Rect(b);
  Emit(w, &b);
}
void TkxEmfRecorder::FillPath(const TkxEmfRectL& bounds) { PathEnd(EMR_FILLPATH, bounds, false); }
void TkxEmfRecorder::StrokePath(const TkxEmfRectL& bounds) { PathEnd(EMR_STROKEPATH, bounds, true); }
void TkxEmfRecorder::StrokeAndFillPath(const TkxEmfRectL& bounds) { PathEnd(EMR_STROKEANDFILLPATH, bounds, true); }

void TkxEmfRecorder::PathGeometry(const TkxEmfPath& path) {
  const size_t n = std::min(path.Points.size(), path.Types.size());
  size_t i = 0;
  while (i < n) {
    // One figure: a start point, then runs of line or Bézier points.
    MoveTo(path.Points[i]);
    bool closed = (path.Types[i] & 0x80) != 0;
    ++i;
    while (i < n && (path.Types[i] & 0x7F) != 0 && !closed) {
      const uint8_t kind = path.Types[i] & 0x7F;
      std::vector<TkxEmfPointL> run;
      while (i < n && (path.Types[i] & 0x7F) == kind && !closed) {
        run.push_back(path.Points[i]);
        closed = (path.Types[i] & 0x80) != 0;
        ++i;
      }
      if (kind == 3) {
        run.resize(run.size() / 3 * 3);  // a broken Bézier tail is dropped
        if (!run.empty()) PolyBezierTo(run);
      } else {
        PolylineTo(run);
      }
    }
    if (closed) CloseFigure();
  }
}

void TkxEmfRecorder::ExtTextOutW(const TkxEmfPointL& reference, uint32_t options, const TkxEmfRectL& rect,
                                 std::u16string_view text, const std::vector<int32_t>& dx, const TkxEmfRectL& bounds) {
  CheckOpen();
  const uint32_t n = static_cast<uint32_t>(text.size());
  const uint32_t offString = 76;
  const uint32_t offDx = offString + ((n * 2 + 3) & ~3u);
  TkxEmfRecordWriter w(EMR_EXTTEXTOUTW);
  w.Rect(bounds).U32(GM_COMPATIBLE).F32(0).F32(0);
  w.Point(reference).U32(n).U32(offString).U32(options).Rect(rect).U32(dx.empty() ? 0 : offDx);
  for (char16_t c : text) w.U16(c);
  w.Pad4();
  if (!dx.empty())
    for (uint32_t i = 0; i < n; ++i) w.I32(i < dx.size() ? dx[i] : 0);
  Emit(w, &bounds);
}

void TkxEmfRecorder::StretchDIBits(int32_t xDest, int32_t yDest, int32_t cxDest, int32_t cyDest, int32_t xSrc,
                                   int32_t ySrc, int32_t cxSrc, int32_t cySrc, const std::vector<uint8_t>& bmi,
                                   const std::vector<uint8_t>& bits, uint32_t rop) {
  CheckOpen();
  const uint32_t offBmi = 80;
  const uint32_t cbBmi = static_cast<uint32_t>(bmi.size());
  const uint32_t offBits = offBmi + ((cbBmi + 3) & ~3u);
  auto sat = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  const int64_t x1 = int64_t{xDest} + cxDest, y1 = int64_t{yDest} + cyDest;
  const TkxEmfRectL b{sat(std::min<int64_t>(xDest, x1)), sat(std::min<int64_t>(yDest, y1)),
                      sat(std::max<int64_t>(xDest, x1) - 1), sat(std::max<int64_t>(yDest, y1) - 1)};
  TkxEmfRecordWriter w(EMR_STRETCHDIBITS);
  w.Rect(b).I32(xDest).I32(yDest).I32(xSrc).I32(ySrc).I32(cxSrc).I32(cySrc);
  w.U32(offBmi).U32(cbBmi).U32(offBits).U32(static_cast<uint32_t>(bits.size()));
  w.U32(DIB_RGB_COLORS).U32(rop).I32(cxDest).I32(cyDest);
  w.Bytes(bmi.data(), bmi.size()).Pad4();
  EmitWithBlock(w, bits.data(), bits.size(), &b);
}

}  // namespace pw
