// The recording canvas, record decoding, enumeration and playback, read back
// through our own enumeration.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <unistd.h>

#include "platform/kxBitmap.h"
#include "platform/kxEmf.h"
#include "platform/kxEmfBitmapPlayer.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxEmfRerecorder.h"

using namespace pw;

namespace {

std::vector<TkxEmfRecord> OfType(const TkxMetafile& mf, uint32_t type) {
  std::vector<TkxEmfRecord> out;
  for (const auto& r : mf.Records())
    if (r.Type() == type) out.push_back(r);
  return out;
}

std::vector<uint32_t> Types(const TkxMetafile& mf) {
  std::vector<uint32_t> out;
  for (const auto& r : mf.Records()) out.push_back(r.Type());
  return out;
}

void Put32(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A small 2x2 24-bit DIB: top row red, green; bottom row blue, white.
TkxBitmap Quad() {
  TkxBitmap b(2, 2);
  b.SetPixel(0, 0, 0xFFFF0000);
  b.SetPixel(1, 0, 0xFF00FF00);
  b.SetPixel(0, 1, 0xFF0000FF);
  b.SetPixel(1, 1, 0xFFFFFFFF);
  return b;
}

}  // namespace

TEST(EmfRecorder, HeaderDescribesTheRecording) {
  TkxEmfRecorder rec(816, 1056, 96, std::u16string(u"Paperwright\0page 1\0", 19));
  rec.UseBrush({BS_SOLID, 0x0000FF, 0});
  rec.Rectangle({10, 20, 110, 220});
  rec.Polygon({{-5, 30}, {900, 40}, {50, 1100}});
  const TkxMetafile& mf = rec.Close();
  const TkxEmrHeader& h = mf.Header();

  EXPECT_EQ(h.Signature, kEmfSignature);
  EXPECT_EQ(h.Version, 0x10000u);
  EXPECT_EQ(h.Bytes, mf.Bytes().size());
  EXPECT_EQ(h.Records, mf.Records().size());
  EXPECT_EQ(h.Handles, 2);  // one brush, plus the reserved index 0
  // Frame: 8.5 x 11 inches in .01 mm, inclusive.
  EXPECT_EQ(h.Frame, (TkxEmfRectL{0, 0, 21589, 27939}));
  EXPECT_EQ(mf.Width(), 816);
  EXPECT_EQ(mf.Height(), 1056);
  // The reference device: the screen, its size in pixels and millimetres.
  EXPECT_EQ(h.Device, (TkxEmfSizeL{1920, 1080}));
  EXPECT_EQ(h.Millimeters, (TkxEmfSizeL{508, 286}));
  EXPECT_TRUE(h.HasExtension2);
  EXPECT_EQ(h.MicrometersX, 508000u);
  EXPECT_EQ(h.MicrometersY, 285750u);
  EXPECT_NEAR(mf.PixelsPerMMX(), 96 / 25.4, 1e-9);
  // Bounds: the union of what was drawn (the default 1-pixel pen widens nothing).
  EXPECT_EQ(h.Bounds, (TkxEmfRectL{-5, 20, 900, 1100}));
  EXPECT_EQ(h.Description, std::u16string(u"Paperwright\0page 1\0\0", 20));  // closing NUL added

  const auto types = Types(mf);
  EXPECT_EQ(types.front(), EMR_HEADER);
  EXPECT_EQ(types.back(), EMR_EOF);
  EXPECT_THROW(rec.Rectangle({0, 0, 1, 1}), EInvalidMetafile);
  EXPECT_EQ(&rec.Close(), &mf);
}

TEST(EmfRecorder, EmptyRecordingHasEmptyBounds) {
  TkxEmfRecorder rec(100, 50, 120);
  const TkxMetafile& mf = rec.Close();
  EXPECT_EQ(mf.Header().Bounds, (TkxEmfRectL{0, 0, -1, -1}));
  EXPECT_EQ(Types(mf), (std::vector<uint32_t>{EMR_HEADER, EMR_EOF}));
  EXPECT_EQ(mf.Width(), 100);
  EXPECT_EQ(mf.Height(), 50);
  EXPECT_EQ(mf.Header().Handles, 1);
}

TEST(EmfRecorder, TakenMetafileIsTheClosedRecording) {
  auto record = [](TkxEmfRecorder& rec) { rec.Rectangle({10, 10, 40, 30}); };
  TkxEmfRecorder closed(100, 50, 96), taken(100, 50, 96);
  record(closed);
  record(taken);
  const TkxMetafile mf = taken.TakeMetafile();
  EXPECT_EQ(mf.Bytes(), closed.Close().Bytes());
  EXPECT_EQ(Types(mf), (std::vector<uint32_t>{EMR_HEADER, EMR_RECTANGLE, EMR_EOF}));
  EXPECT_TRUE(taken.Close().Empty());  // handed over, not kept
}

TEST(EmfRecorder, RecordingIntoAnEarlierRecordingsRoomLeavesNothingOfIt) {
  // A larger recording first, so that its bytes lie beyond what the
  // second one writes.
  TkxEmfRecorder earlier(100, 50);
  for (int i = 0; i < 20; ++i) earlier.Rectangle({i, i, 40 + i, 30 + i});
  TkxMetafile old = earlier.TakeMetafile();
  std::vector<uint8_t> room = old.TakeBytes();
  EXPECT_TRUE(old.Empty());
  const size_t capacity = room.capacity();
  TkxEmfRecorder fresh(100, 50), reused(100, 50, std::move(room));
  fresh.Rectangle({10, 10, 40, 30});
  reused.Rectangle({10, 10, 40, 30});
  const TkxMetafile a = fresh.TakeMetafile(), b = reused.TakeMetafile();
  EXPECT_EQ(b.Bytes(), a.Bytes());
  EXPECT_EQ(b.Bytes().capacity(), capacity);  // the room itself, not a new buffer
}

TEST(EmfRecorder, ObjectsAreCachedSelectedOnceAndDeletedWhenReplaced) {
  TkxEmfRecorder rec(100, 100, 96);
  const TkxLogBrush red{BS_SOLID, 0x0000FF, 0}, blue{BS_SOLID, 0xFF0000, 0};
  rec.UseBrush(red);
  rec.UseBrush(red);  // nothing new
  rec.SetTextColor(0x123456);
  rec.SetTextColor(0x123456);  // nothing new
  rec.UseBrush(blue);          // new brush, the red one goes
  rec.SelectStockObject(NULL_BRUSH);
  rec.UseBrush(blue);  // selected again, not created again
  const TkxMetafile& mf = rec.Close();
  EXPECT_EQ(Types(mf), (std::vector<uint32_t>{EMR_HEADER, EMR_CREATEBRUSHINDIRECT, EMR_SELECTOBJECT, EMR_SETTEXTCOLOR,
                                              EMR_CREATEBRUSHINDIRECT, EMR_SELECTOBJECT, EMR_DELETEOBJECT,
                                              EMR_SELECTOBJECT, EMR_SELECTOBJECT, EMR_EOF}));
  const auto creates = OfType(mf, EMR_CREATEBRUSHINDIRECT);
  TkxEmrCreateBrush b1, b2;
  ASSERT_TRUE(DecodeCreateBrush(creates[0], b1));
  ASSERT_TRUE(DecodeCreateBrush(creates[1], b2));
  EXPECT_EQ(b1.ihBrush, 1u);
  EXPECT_EQ(b2.ihBrush, 2u);
  EXPECT_EQ(b2.LogBrush, blue);
  EXPECT_EQ(OfType(mf, EMR_DELETEOBJECT)[0].U32(8), 1u);
  EXPECT_EQ(mf.Header().Handles, 3);
}

TEST(EmfRecorder, RecordsDecodeToWhatWasRecorded) {
  TkxEmfRecorder rec(200, 200, 96);
  TkxLogFontW lf;
  lf.lfHeight = -16;
  lf.lfEscapement = lf.lfOrientation = 900;
  lf.lfWeight = FW_BOLD;
  lf.lfItalic = 1;
  lf.lfFaceName = u"Times New Roman";
  rec.UseFont(lf);
  TkxLogPenEx pen;
  pen.PenStyle = PS_GEOMETRIC | PS_DASH | PS_ENDCAP_FLAT | PS_JOIN_BEVEL;
  pen.Width = 3;
  pen.Color = 0x00FF00;
  rec.UsePen(pen);
  rec.ExtTextOutW({40, 50}, ETO_CLIPPED, {1, 2, 3, 4}, u"H\u00E9llo\U0001F600", {10, 9, 8, 8, 9, 12, 0},
                  {40, 50, 96, 70});
  rec.Polyline({{1, 2}, {40000, -3}});  // does not fit 16 bits
  rec.Polyline({{1, 2}, {300, -3}});
  rec.PolyPolygon({3, 2}, {{0, 0}, {10, 0}, {10, 10}, {20, 20}, {30, 30}});
  rec.SelectClipRegion({{0, 0, 10, 10}, {20, 0, 30, 10}}, RGN_AND);
  const TkxBitmap quad = Quad();
  rec.StretchDIBits(5, 6, 20, 30, 0, 0, 2, 2, quad.ToDIBHeader(24), quad.ToDIBBits(24));
  const TkxMetafile& mf = rec.Close();

  TkxEmrCreateFont f;
  ASSERT_TRUE(DecodeExtCreateFont(OfType(mf, EMR_EXTCREATEFONTINDIRECTW)[0], f));
  EXPECT_EQ(f.LogFont, lf);
  TkxEmrExtCreatePen p;
  ASSERT_TRUE(DecodeExtCreatePen(OfType(mf, EMR_EXTCREATEPEN)[0], p));
  EXPECT_EQ(p.LogPen, pen);

  TkxEmrExtTextOut t;
  const auto texts = OfType(mf, EMR_EXTTEXTOUTW);
  ASSERT_EQ(texts.size(), 1u);
  ASSERT_TRUE(DecodeExtTextOut(texts[0], t));
  EXPECT_EQ(t.Text, u"H\u00E9llo\U0001F600");
  EXPECT_EQ(t.Reference, (TkxEmfPointL{40, 50}));
  EXPECT_EQ(t.Options, ETO_CLIPPED);
  EXPECT_EQ(t.Rect, (TkxEmfRectL{1, 2, 3, 4}));
  EXPECT_EQ(t.Dx, (std::vector<int32_t>{10, 9, 8, 8, 9, 12, 0}));
  EXPECT_EQ(t.Bounds, (TkxEmfRectL{40, 50, 96, 70}));
  EXPECT_EQ(t.GraphicsMode, GM_COMPATIBLE);

  ASSERT_EQ(OfType(mf, EMR_POLYLINE).size(), 1u);
  ASSERT_EQ(OfType(mf, EMR_POLYLINE16).size(), 1u);
  TkxEmrPoly big, small;
  ASSERT_TRUE(DecodePoly(OfType(mf, EMR_POLYLINE)[0], big));
  ASSERT_TRUE(DecodePoly(OfType(mf, EMR_POLYLINE16)[0], small));
  EXPECT_EQ(big.Points, (std::vector<TkxEmfPointL>{{1, 2}, {40000, -3}}));
  EXPECT_EQ(small.Points, (std::vector<TkxEmfPointL>{{1, 2}, {300, -3}}));
  EXPECT_EQ(small.Bounds, (TkxEmfRectL{0, -4, 301, 3}));  // widened by half the 3-pixel pen

  TkxEmrPolyPoly pp;
  ASSERT_TRUE(DecodePolyPoly(OfType(mf, EMR_POLYPOLYGON16)[0], pp));
  EXPECT_EQ(pp.Counts, (std::vector<uint32_t>{3, 2}));
  EXPECT_EQ(pp.Points.size(), 5u);
  EXPECT_EQ(pp.Points[3], (TkxEmfPointL{20, 20}));

  TkxEmrExtSelectClipRgn c;
  ASSERT_TRUE(DecodeExtSelectClipRgn(OfType(mf, EMR_EXTSELECTCLIPRGN)[0], c));
  EXPECT_EQ(c.RegionMode, RGN_AND);
  EXPECT_EQ(c.Region.Bounds, (TkxEmfRectL{0, 0, 30, 10}));
  ASSERT_EQ(c.Region.Rects.size(), 2u);
  EXPECT_EQ(c.Region.Rects[1], (TkxEmfRectL{20, 0, 30, 10}));

  TkxEmrStretchDIBits s;
  ASSERT_TRUE(DecodeStretchDIBits(OfType(mf, EMR_STRETCHDIBITS)[0], s));
  EXPECT_EQ(s.xDest, 5);
  EXPECT_EQ(s.yDest, 6);
  EXPECT_EQ(s.cxDest, 20);
  EXPECT_EQ(s.cyDest, 30);
  EXPECT_EQ(s.cxSrc, 2);
  EXPECT_EQ(s.cySrc, 2);
  EXPECT_EQ(s.Rop, SRCCOPY);
  EXPECT_EQ(s.Bounds, (TkxEmfRectL{5, 6, 24, 35}));
  ASSERT_TRUE(s.Dib.Present());
  EXPECT_TRUE(TkxBitmap::FromDIB(s.Dib.Bmi, s.Dib.BmiSize, s.Dib.Bits, s.Dib.BitsSize) == quad);
}

TEST(EmfFile, SavedFileReadsBackTheSameRecords) {
  TkxEmfRecorder rec(300, 200, 96);
  rec.UseBrush({BS_SOLID, 0x336699, 0});
  rec.Rectangle({1, 2, 30, 40});
  rec.ExtTextOutW({5, 5}, 0, {0, 0, -1, -1}, u"abc", {7, 7, 7}, {5, 5, 26, 20});
  const TkxMetafile& mf = rec.Close();
  const std::string path =
      (std::filesystem::temp_directory_path() / ("pw_emf_" + std::to_string(::getpid()) + ".emf")).string();
  mf.SaveToFile(path);
  const TkxMetafile back = TkxMetafile::LoadFromFile(path);
  std::remove(path.c_str());
  EXPECT_EQ(back.Bytes(), mf.Bytes());
  const auto a = mf.Records(), b = back.Records();
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].Type(), b[i].Type());
    EXPECT_EQ(a[i].Size(), b[i].Size());
    EXPECT_EQ(0, std::memcmp(a[i].Data(), b[i].Data(), a[i].Size()));
  }
  EXPECT_THROW(TkxMetafile::LoadFromFile(path), EInvalidMetafile);
}

TEST(EmfFile, NonMetafilesAreRefused) {
  EXPECT_THROW(TkxMetafile(std::vector<uint8_t>{}), EInvalidMetafile);
  EXPECT_THROW(TkxMetafile(std::vector<uint8_t>(200, 0)), EInvalidMetafile);
  std::vector<uint8_t> bytes = TkxEmfRecorder(10, 10, 96).Close().Bytes();
  std::vector<uint8_t> badSig = bytes;
  Put32(badSig, 40, 0x12345678);
  EXPECT_THROW(TkxMetafile{badSig}, EInvalidMetafile);
  std::vector<uint8_t> hugeHeader = bytes;
  Put32(hugeHeader, 4, 1u << 30);
  EXPECT_THROW(TkxMetafile{hugeHeader}, EInvalidMetafile);
  std::vector<uint8_t> truncated(bytes.begin(), bytes.begin() + 80);
  EXPECT_THROW(TkxMetafile{truncated}, EInvalidMetafile);
}

// Enumeration of damaged record streams: header, one 12-byte SETBKMODE at
// offset 108, one 12-byte SETTEXTCOLOR at 120, EOF at 132.
TEST(EmfEnumeration, DamagedRecordSizesNeverReadOutside) {
  TkxEmfRecorder rec(10, 10, 96);
  rec.SetBkMode(TRANSPARENT);
  rec.SetTextColor(0x10);
  const std::vector<uint8_t> good = rec.Close().Bytes();
  ASSERT_EQ(good.size(), 152u);
  struct Case {
    const char* name;
    size_t off;
    uint32_t size;
    std::vector<uint32_t> types;
  } cases[] = {
      {"size 0 ends the walk", 108, 0, {EMR_HEADER}},
      {"size below 8 ends the walk", 120, 4, {EMR_HEADER, EMR_SETBKMODE}},
      {"size past the end ends the walk", 120, 1000, {EMR_HEADER, EMR_SETBKMODE}},
      {"intact", 0, 0, {EMR_HEADER, EMR_SETBKMODE, EMR_SETTEXTCOLOR, EMR_EOF}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    if (c.off) Put32(b, c.off + 4, c.size);
    std::vector<uint32_t> seen;
    EnumerateEmfRecords(b.data(), b.size(), [&](const TkxEmfRecord& r) {
      seen.push_back(r.Type());
      EXPECT_LE(r.Offset() + r.Size(), b.size());
      return true;
    });
    EXPECT_EQ(seen, c.types) << c.name;
  }
  // A record whose size is no multiple of 4 is skipped over; the next one is found.
  std::vector<uint8_t> odd = good;
  odd.insert(odd.begin() + 120, {0, 0});
  Put32(odd, 108 + 4, 14);
  Put32(odd, 48, static_cast<uint32_t>(odd.size()));
  std::vector<uint32_t> seen;
  EnumerateEmfRecords(odd.data(), odd.size(), [&](const TkxEmfRecord& r) {
    seen.push_back(r.Type());
    return true;
  });
  EXPECT_EQ(seen, (std::vector<uint32_t>{EMR_HEADER, EMR_SETTEXTCOLOR, EMR_EOF}));
  // The header's byte count limits the walk.
  std::vector<uint8_t> shortened = good;
  Put32(shortened, 48, 120);
  size_t n = EnumerateEmfRecords(shortened.data(), shortened.size(), [](const TkxEmfRecord&) { return true; });
  EXPECT_EQ(n, 2u);
  // Stopping early.
  n = EnumerateEmfRecords(good.data(), good.size(), [](const TkxEmfRecord& r) { return r.Type() != EMR_SETBKMODE; });
  EXPECT_EQ(n, 2u);
}

// Records whose counts or offsets point outside them are refused by the
// decoders; playback skips them.
TEST(EmfEnumeration, DecodersRefuseFieldsOutsideTheRecord) {
  auto build = [](TkxEmfRecordWriter w) {
    std::vector<uint8_t> rec = w.Finish();
    return rec;
  };
  std::vector<std::pair<const char*, std::vector<uint8_t>>> bad;
  // POLYGON16 claiming 1000 points but carrying 2.
  bad.push_back(
      {"poly count", build(TkxEmfRecordWriter(EMR_POLYGON16).Rect({}).U32(1000).I16(1).I16(2).I16(3).I16(4))});
  // POLYPOLYGON whose counts do not add up to the total.
  bad.push_back({"polypoly sum", build(TkxEmfRecordWriter(EMR_POLYPOLYGON)
                                           .Rect({})
                                           .U32(2)
                                           .U32(3)
                                           .U32(2)
                                           .U32(2)
                                           .Point({0, 0})
                                           .Point({1, 1})
                                           .Point({2, 2}))});
  // POLYPOLYGON with a huge polygon count.
  bad.push_back({"polypoly n", build(TkxEmfRecordWriter(EMR_POLYPOLYGON).Rect({}).U32(0x40000000).U32(0))});
  // EXTTEXTOUTW with nChars past the end.
  bad.push_back({"text chars", build(TkxEmfRecordWriter(EMR_EXTTEXTOUTW)
                                         .Rect({})
                                         .U32(1)
                                         .F32(0)
                                         .F32(0)
                                         .Point({})
                                         .U32(50)
                                         .U32(76)
                                         .U32(0)
                                         .Rect({})
                                         .U32(0)
                                         .U16('a')
                                         .U16('b'))});
  // EXTTEXTOUTW with offDx past the end.
  bad.push_back({"text dx", build(TkxEmfRecordWriter(EMR_EXTTEXTOUTW)
                                      .Rect({})
                                      .U32(1)
                                      .F32(0)
                                      .F32(0)
                                      .Point({})
                                      .U32(2)
                                      .U32(76)
                                      .U32(0)
                                      .Rect({})
                                      .U32(4000)
                                      .U16('a')
                                      .U16('b'))});
  // EXTTEXTOUTW with offString wrapping around.
  bad.push_back({"text offset", build(TkxEmfRecordWriter(EMR_EXTTEXTOUTW)
                                          .Rect({})
                                          .U32(1)
                                          .F32(0)
                                          .F32(0)
                                          .Point({})
                                          .U32(2)
                                          .U32(0xFFFFFFFE)
                                          .U32(0)
                                          .Rect({})
                                          .U32(0)
                                          .U16('a')
                                          .U16('b'))});
  // STRETCHDIBITS whose bits lie past the end.
  bad.push_back({"dib bits", build(TkxEmfRecordWriter(EMR_STRETCHDIBITS)
                                       .Rect({})
                                       .I32(0)
                                       .I32(0)
                                       .I32(0)
                                       .I32(0)
                                       .I32(1)
                                       .I32(1)
                                       .U32(80)
                                       .U32(40)
                                       .U32(120)
                                       .U32(1 << 20)
                                       .U32(0)
                                       .U32(SRCCOPY)
                                       .I32(1)
                                       .I32(1))});
  // EXTSELECTCLIPRGN claiming more rectangles than it carries.
  bad.push_back({"region", build(TkxEmfRecordWriter(EMR_EXTSELECTCLIPRGN)
                                     .U32(48)
                                     .U32(RGN_AND)
                                     .U32(32)
                                     .U32(1)
                                     .U32(100)
                                     .U32(1600)
                                     .Rect({})
                                     .Rect({0, 0, 1, 1}))});
  // EXTCREATEPEN with too many style entries.
  bad.push_back({"pen", build(TkxEmfRecordWriter(EMR_EXTCREATEPEN)
                                  .U32(1)
                                  .U32(0)
                                  .U32(0)
                                  .U32(0)
                                  .U32(0)
                                  .U32(PS_USERSTYLE)
                                  .U32(1)
                                  .U32(0)
                                  .U32(0)
                                  .U32(0)
                                  .U32(0x7FFFFFFF))});
  // A font record too short for its LOGFONTW.
  bad.push_back({"font", build(TkxEmfRecordWriter(EMR_EXTCREATEFONTINDIRECTW).U32(1).I32(-12))});

  for (const auto& [name, bytes] : bad) {
    const TkxEmfRecord r(bytes.data(), static_cast<uint32_t>(bytes.size()), 0);
    TkxEmrPoly p;
    TkxEmrPolyPoly pp;
    TkxEmrExtTextOut t;
    TkxEmrStretchDIBits s;
    TkxEmrExtSelectClipRgn c;
    TkxEmrExtCreatePen pen;
    TkxEmrCreateFont f;
    const bool ok = DecodePoly(r, p) || DecodePolyPoly(r, pp) || DecodeExtTextOut(r, t) || DecodeStretchDIBits(r, s) ||
                    DecodeExtSelectClipRgn(r, c) || DecodeExtCreatePen(r, pen) || DecodeExtCreateFont(r, f);
    EXPECT_FALSE(ok) << name;
  }

  // The same records inside a metafile: both playbacks skip them and draw the rest.
  TkxEmfRecorder rec(50, 50, 96);
  for (const auto& [name, bytes] : bad) rec.AppendRecord(bytes);
  // Shapes spanning the whole 32-bit range (their extents overflow 32 bits), drawn invisibly.
  rec.SelectStockObject(NULL_PEN);
  rec.SelectStockObject(NULL_BRUSH);
  rec.AppendRecord(
      TkxEmfRecordWriter(EMR_ROUNDRECT).Rect({INT32_MIN, 0, INT32_MAX, 10}).I32(INT32_MIN).I32(5).Finish());
  rec.AppendRecord(TkxEmfRecordWriter(EMR_ARC)
                       .Rect({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX})
                       .Point({0, 0})
                       .Point({1, 1})
                       .Finish());
  rec.UseBrush({BS_SOLID, 0x0000FF, 0});
  rec.SelectStockObject(NULL_PEN);
  rec.Rectangle({10, 10, 40, 40});
  const TkxMetafile& mf = rec.Close();
  TkxBitmap bmp(50, 50);
  PlayMetafile(mf, bmp, {0, 0, 50, 50});
  EXPECT_EQ(bmp.Pixel(25, 25), 0xFFFF0000u);
  EXPECT_EQ(bmp.Pixel(5, 5), 0xFFFFFFFFu);
  TkxEmfRecorder again(50, 50, 96);
  PlayMetafile(mf, again, {0, 0, 50, 50});
  EXPECT_EQ(OfType(again.Close(), EMR_RECTANGLE).size(), 1u);
}

TEST(EmfPlayback, RerecordingMovesCoordinatesIntoTheDestination) {
  TkxEmfRecorder src(100, 50, 96);
  TkxLogFontW lf;
  lf.lfHeight = -10;
  lf.lfFaceName = u"Arial";
  src.UseFont(lf);
  TkxLogPenEx pen;
  pen.Width = 2;
  src.UsePen(pen);
  src.Polyline({{0, 0}, {100, 50}});
  src.ExtTextOutW({10, 20}, 0, {0, 0, -1, -1}, u"ab", {6, 7}, {10, 20, 23, 32});
  const TkxBitmap quad = Quad();
  src.StretchDIBits(50, 10, 20, 20, 0, 0, 2, 2, quad.ToDIBHeader(24), quad.ToDIBBits(24));
  src.IntersectClipRect({5, 5, 95, 45});
  const TkxMetafile& mf = src.Close();

  TkxEmfRecorder dst(400, 400, 96);
  dst.UseBrush({BS_SOLID, 0, 0});               // an object of the destination's own: handle 1
  PlayMetafile(mf, dst, {100, 200, 200, 100});  // 2x horizontally, 2x vertically, moved
  const TkxMetafile& out = dst.Close();

  // Bracketed, objects renumbered and deleted afterwards.
  const auto types = Types(out);
  EXPECT_EQ(types[3], EMR_SAVEDC);
  EXPECT_EQ(types[types.size() - 4], EMR_RESTOREDC);
  TkxEmrCreateFont f;
  ASSERT_TRUE(DecodeExtCreateFont(OfType(out, EMR_EXTCREATEFONTINDIRECTW)[0], f));
  EXPECT_EQ(f.ihFont, 2u);
  EXPECT_EQ(f.LogFont.lfHeight, -20);
  TkxEmrExtCreatePen p;
  ASSERT_TRUE(DecodeExtCreatePen(OfType(out, EMR_EXTCREATEPEN)[0], p));
  EXPECT_EQ(p.ihPen, 3u);
  EXPECT_EQ(p.LogPen.Width, 4u);
  const auto deletes = OfType(out, EMR_DELETEOBJECT);
  ASSERT_EQ(deletes.size(), 2u);
  EXPECT_EQ(deletes[0].U32(8) + deletes[1].U32(8), 5u);

  TkxEmrPoly line;
  ASSERT_TRUE(DecodePoly(OfType(out, EMR_POLYLINE)[0], line));
  EXPECT_EQ(line.Points, (std::vector<TkxEmfPointL>{{100, 200}, {300, 300}}));
  TkxEmrExtTextOut t;
  ASSERT_TRUE(DecodeExtTextOut(OfType(out, EMR_EXTTEXTOUTW)[0], t));
  EXPECT_EQ(t.Reference, (TkxEmfPointL{120, 240}));
  EXPECT_EQ(t.Dx, (std::vector<int32_t>{12, 14}));
  EXPECT_EQ(t.Text, u"ab");
  TkxEmrStretchDIBits s;
  ASSERT_TRUE(DecodeStretchDIBits(OfType(out, EMR_STRETCHDIBITS)[0], s));
  EXPECT_EQ((std::vector<int32_t>{s.xDest, s.yDest, s.cxDest, s.cyDest, s.cxSrc, s.cySrc}),
            (std::vector<int32_t>{200, 220, 40, 40, 2, 2}));
  EXPECT_EQ(OfType(out, EMR_INTERSECTCLIPRECT)[0].RectL(8), (TkxEmfRectL{110, 210, 290, 290}));
  // No transform records: the coordinates carry the mapping.
  EXPECT_TRUE(OfType(out, EMR_SETWORLDTRANSFORM).empty());
}

TEST(EmfPlayback, ForeignTransformsAreCombinedWithTheDestinationMapping) {
  TkxEmfRecorder src(100, 100, 96);
  src.SetWorldTransform({2, 0, 0, 2, 5, 0});
  src.Polyline({{0, 0}, {10, 10}});
  const TkxMetafile& mf = src.Close();
  TkxEmfRecorder dst(100, 100, 96);
  PlayMetafile(mf, dst, {10, 0, 50, 50});  // half size, moved right by 10
  const TkxMetafile& out = dst.Close();
  const auto xf = OfType(out, EMR_SETWORLDTRANSFORM);
  ASSERT_EQ(xf.size(), 1u);
  EXPECT_EQ(xf[0].XForm(8), (TkxEmfXForm{1, 0, 0, 1, 12.5f, 0}));
  TkxEmrPoly line;
  ASSERT_TRUE(DecodePoly(OfType(out, EMR_POLYLINE16)[0], line));
  EXPECT_EQ(line.Points, (std::vector<TkxEmfPointL>{{0, 0}, {10, 10}}));
}

namespace {

// An EMR_EXTTEXTOUTW of "ab" at (10, 20), its advances given.
std::vector<uint8_t> TextRecord(int32_t dx0, uint32_t offString = 76) {
  return TkxEmfRecordWriter(EMR_EXTTEXTOUTW)
      .Rect({10, 8, 30, 24})
      .U32(GM_COMPATIBLE)
      .F32(0)
      .F32(0)
      .Point({10, 20})
      .U32(2)
      .U32(offString)
      .U32(0)
      .Rect({0, 0, -1, -1})
      .U32(80)
      .U16('a')
      .U16('b')
      .I32(dx0)
      .I32(7)
      .Finish();
}

}  // namespace

// Fitting a recording onto a rectangle of its own size: records already in
// their destination form come through byte for byte, the rest are still
// rewritten (clamped, widened to 32 bits) or dropped when damaged.
TEST(EmfPlayback, PlaybackAtTheSameSizeKeepsWhatNeedsNoRewriting) {
  enum Expect { Same, Changed, Dropped };
  const int32_t far = 1 << 29;  // beyond the coordinate range rewriting clamps to
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    Expect expect;
    std::vector<uint8_t> rewritten = {};  // what a changed record becomes, where it matters
  } cases[] = {
      {"polyline", TkxEmfRecordWriter(EMR_POLYLINE).Rect({0, 0, 10, 10}).U32(2).Point({0, 0}).Point({10, 10}).Finish(),
       Same},
      {"polyline far out",
       TkxEmfRecordWriter(EMR_POLYLINE).Rect({0, 0, far, 10}).U32(2).Point({0, 0}).Point({far, 10}).Finish(), Changed},
      {"polyline with spare bytes",
       TkxEmfRecordWriter(EMR_POLYLINE).Rect({0, 0, 10, 10}).U32(1).Point({0, 0}).Point({10, 10}).Finish(), Changed},
      {"polyline missing points", TkxEmfRecordWriter(EMR_POLYLINE).Rect({0, 0, 10, 10}).U32(3).Point({0, 0}).Finish(),
       Dropped},
      {"16-bit polyline",
       TkxEmfRecordWriter(EMR_POLYLINE16).Rect({0, 0, 10, 10}).U32(2).I16(3).I16(-4).I16(5).I16(6).Finish(), Changed,
       TkxEmfRecordWriter(EMR_POLYLINE).Rect({0, 0, 10, 10}).U32(2).Point({3, -4}).Point({5, 6}).Finish()},
      {"16-bit polyline missing points",
       TkxEmfRecordWriter(EMR_POLYLINE16).Rect({0, 0, 10, 10}).U32(3).I16(3).I16(4).Finish(), Dropped},
      {"text", TextRecord(6), Same},
      {"text advance far out", TextRecord(far), Changed},
      {"text outside its record", TextRecord(6, 4000), Dropped},
      {"rectangle", TkxEmfRecordWriter(EMR_RECTANGLE).Rect({1, 2, 30, 40}).Finish(), Same},
      {"rectangle far out", TkxEmfRecordWriter(EMR_RECTANGLE).Rect({1, 2, 30, -far}).Finish(), Changed},
      {"short rectangle", TkxEmfRecordWriter(EMR_RECTANGLE).I32(1).I32(2).Finish(), Dropped},
      {"line", TkxEmfRecordWriter(EMR_LINETO).Point({5, 6}).Finish(), Same},
      {"text colour", TkxEmfRecordWriter(EMR_SETTEXTCOLOR).U32(0x123456).Finish(), Same},
  };
  for (const auto& c : cases) {
    TkxEmfRecorder src(100, 50, 96);
    src.AppendRecord(c.bytes);
    const TkxMetafile& mf = src.Close();
    double l, t, r, b;
    mf.FramePixels(l, t, r, b);
    TkxEmfRecorder dst(100, 50, 96);
    PlayMetafile(mf, dst, {l, t, r - l, b - t});
    std::vector<TkxEmfRecord> played;  // what came between the playback's EMR_SAVEDC and EMR_RESTOREDC
    bool inside = false;
    for (const auto& rec : dst.Close().Records()) {
      if (rec.Type() == EMR_SAVEDC || rec.Type() == EMR_RESTOREDC) {
        inside = rec.Type() == EMR_SAVEDC;
        continue;
      }
      if (inside) played.push_back(rec);
    }
    if (c.expect == Dropped) {
      EXPECT_TRUE(played.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(played.size(), 1u) << c.name;
    const std::vector<uint8_t> out(played[0].Data(), played[0].Data() + played[0].Size());
    EXPECT_EQ(out == c.bytes, c.expect == Same) << c.name;
    if (!c.rewritten.empty()) {
      EXPECT_EQ(out, c.rewritten) << c.name;
    }
  }
}

TEST(EmfPlayback, BitmapPlaybackFillsClipsAndPlacesPictures) {
  TkxEmfRecorder rec(40, 20, 96);
  rec.SelectStockObject(NULL_PEN);
  rec.UseBrush({BS_SOLID, 0x00FF00, 0});  // green
  rec.Rectangle({0, 0, 10, 10});
  rec.SaveDC();
  rec.IntersectClipRect({20, 0, 25, 20});
  rec.Rectangle({15, 0, 40, 20});  // only 20..25 shows
  rec.RestoreDC(-1);
  const TkxBitmap quad = Quad();
  rec.StretchDIBits(30, 10, 10, 10, 0, 0, 2, 2, quad.ToDIBHeader(24), quad.ToDIBBits(24));
  const TkxMetafile& mf = rec.Close();

  TkxBitmap bmp(80, 40);  // twice the frame
  PlayMetafile(mf, bmp, {0, 0, 80, 40});
  EXPECT_EQ(bmp.Pixel(10, 10), 0xFF00FF00u);
  EXPECT_EQ(bmp.Pixel(25, 10), 0xFFFFFFFFu);  // x 12.5: outside the first box
  EXPECT_EQ(bmp.Pixel(42, 5), 0xFF00FF00u);   // inside the clip
  EXPECT_EQ(bmp.Pixel(36, 5), 0xFFFFFFFFu);   // left of the clip
  EXPECT_EQ(bmp.Pixel(52, 5), 0xFFFFFFFFu);   // right of the clip
  // The picture's top row at the top: red top-left, white bottom-right.
  EXPECT_EQ(bmp.Pixel(62, 22), 0xFFFF0000u);
  EXPECT_EQ(bmp.Pixel(77, 37), 0xFFFFFFFFu);
  EXPECT_EQ(bmp.Pixel(62, 37), 0xFF0000FFu);
}
