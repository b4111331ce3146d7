#include "rtf/kxRTFPictureWriter.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/kxMetafileState.h"
#include "pdf/kxFilters.h"
#include "platform/kxEmfRecorder.h"
#include "platform/kxJPEG.h"
#include "platform/kxRasterOps.h"

namespace pw {

namespace {

std::string Num(long long v) { return std::to_string(v); }

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24)), out.push_back(uint8_t(v >> 16)), out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void Chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  PutBE32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  uint32_t crc = 0xFFFFFFFFu;
  const auto& table = CrcTable();
  for (size_t i = start; i < out.size(); ++i) crc = table[(crc ^ out[i]) & 0xFF] ^ (crc >> 8);
  PutBE32(out, crc ^ 0xFFFFFFFFu);
}

void AppendHex(std::string& s, const uint8_t* data, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  const size_t at = s.size();
  s.resize(at + size * 2);
  char* p = s.data() + at;
  for (size_t i = 0; i < size; ++i) {
    *p++ = kHex[data[i] >> 4];
    *p++ = kHex[data[i] & 15];
  }
}

// Little-endian hexadecimal text of a 16- or 32-bit number.
std::string LE(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) {
    const uint8_t b = uint8_t(v >> (8 * i));
    AppendHex(s, &b, 1);
  }
  return s;
}

// The pixels of a picture, opaque, at most kMaxPicturePixels large.
TkxBitmap OpaquePixels(const TGraphic& picture) {
  TkxBitmap bitmap;
  if (const TkxBitmap* pixels = picture.Pixels()) {
    bitmap = *pixels;
  } else if (picture.Metafile()) {
    bitmap = RenderGraphic(picture);
  }
  if (bitmap.Empty()) return bitmap;
  const int64_t count = int64_t(bitmap.Width()) * bitmap.Height();
  if (count > kMaxPicturePixels) {
    const double k = std::sqrt(double(kMaxPicturePixels) / double(count));
    const int w = std::max(1, int(bitmap.Width() * k)), h = std::max(1, int(bitmap.Height() * k));
    bitmap = StretchBitmap(bitmap, 0, 0, bitmap.Width(), bitmap.Height(), w, h);
  }
  bitmap.SetHasAlpha(false);
  return bitmap;
}

// An enhanced metafile of the bitmap's size holding the bitmap.
std::vector<uint8_t> BitmapAsEMF(const TkxBitmap& bitmap) {
  TkxEmfRecorder canvas(bitmap.Width(), bitmap.Height());
  canvas.StretchDIBits(0, 0, bitmap.Width(), bitmap.Height(), 0, 0, bitmap.Width(), bitmap.Height(),
                       bitmap.ToDIBHeader(24), bitmap.ToDIBBits(24));
  return canvas.Close().Bytes();
}

}  // namespace

std::vector<uint8_t> WritePNG(const TkxBitmap& bitmap, TColor transparent) {
  std::vector<uint8_t> png = {137, 80, 78, 71, 13, 10, 26, 10};
  const int w = bitmap.Width(), h = bitmap.Height();
  std::vector<uint8_t> ihdr;
  PutBE32(ihdr, uint32_t(w));
  PutBE32(ihdr, uint32_t(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  Chunk(png, "IHDR", ihdr.data(), ihdr.size());
  const TColor rgb = ColorToRGB(transparent);
  const uint8_t trns[6] = {0, ColorRed(rgb), 0, ColorGreen(rgb), 0, ColorBlue(rgb)};
  Chunk(png, "tRNS", trns, sizeof trns);

  std::vector<uint8_t> rows;
  rows.reserve((size_t(w) * 3 + 1) * size_t(h));
  for (int y = 0; y < h; ++y) {
    rows.push_back(0);
    const uint32_t* line = bitmap.Scanline(y);
    for (int x = 0; x < w; ++x) {
      uint32_t p = line[x];
      if (bitmap.HasAlpha()) {
        // Premultiplied: over white is the colour plus the white the alpha leaves.
        const uint32_t a = p >> 24;
        const uint32_t add = 255 - a;
        p = ((((p >> 16) & 0xFF) + add) << 16) | ((((p >> 8) & 0xFF) + add) << 8) | ((p & 0xFF) + add);
      }
      rows.push_back(uint8_t(p >> 16)), rows.push_back(uint8_t(p >> 8)), rows.push_back(uint8_t(p));
    }
  }
  TkxFlateFilter flate;
  const std::vector<uint8_t> data = flate.CompressStream(rows, 3);
  rows = {};
  constexpr size_t kChunk = 10240;
  size_t at = 0;
  for (; data.size() - at >= kChunk; at += kChunk) Chunk(png, "IDAT", data.data() + at, kChunk);
  Chunk(png, "IDAT", data.data() + at, data.size() - at);
  Chunk(png, "IEND", nullptr, 0);
  return png;
}

std::string WrapBitmapInWMF(const TkxBitmap& bitmap, std::vector<uint8_t>& dib) {
  dib = bitmap.ToDIBHeader(24);
  const std::vector<uint8_t> bits = bitmap.ToDIBBits(24);
  dib.insert(dib.end(), bits.begin(), bits.end());
  const uint32_t fileSize = static_cast<uint32_t>(dib.size() + 14);
  const uint32_t r = fileSize / 2 + 7;
  const uint32_t w = uint32_t(bitmap.Width()) & 0xFFFF, h = uint32_t(bitmap.Height()) & 0xFFFF;
  std::string s = "010009000003";
  s += LE(r + 36, 4) + "0000";
  s += LE(r, 4) + "0000";
  s += "050000000b0200000000050000000c02";
  s += LE(h, 2) + LE(w, 2);
  s += "05000000090200000000050000000102ffffff000400000007010300";
  s += LE(r, 4) + "430f2000cc000000";
  s += LE(h, 2) + LE(w, 2) + "00000000";
  s += LE(h, 2) + LE(w, 2) + "00000000";
  s += "\r\n";
  return s;
}

std::string RTFPictureData(const TGraphic& picture, double width, double height, const TkxRTFPictureOptions& o) {
  if (picture.Empty()) return {};
  width = std::max(width, 1.0), height = std::max(height, 1.0);
  std::string blip;
  std::vector<uint8_t> made;  // data made here
  // The bytes written: made here, or a picture's own bytes as they are.
  const std::vector<uint8_t>* data = &made;
  std::string wmfHeader;
  int pw = 0, ph = 0;  // the picture's own size in pixels
  bool pixelsAtSourceDPI = true;

  const TkxJPEGImage* jpeg = picture.JPEG();
  if (o.Format == ifJPEG && jpeg && jpeg->Valid() && jpeg->Info().ColorSpace != TkxJPEGColorSpace::jcsCMYK &&
      jpeg->Info().ColorSpace != TkxJPEGColorSpace::jcsYCCK && o.Quality >= 100) {
    // JPEG data is written as it came: re-encoding could only lose.
    blip = "\\jpegblip";
    data = &jpeg->Data();
    pw = jpeg->Width(), ph = jpeg->Height();
  } else if (o.Format == ifMetafile && picture.Metafile()) {
    blip = "\\emfblip";
    data = &picture.Metafile()->Bytes();
    pw = picture.Width(), ph = picture.Height();
    pixelsAtSourceDPI = false;
  } else {
    TkxBitmap bitmap;
    try {
      bitmap = OpaquePixels(picture);
    } catch (const Exception&) {
      return {};
    }
    if (bitmap.Empty()) return {};
    pw = bitmap.Width(), ph = bitmap.Height();
    switch (o.Format) {
      case ifJPEG: {
        blip = "\\jpegblip";
        if (bitmap.Height() == 1) {
          TkxBitmap two(bitmap.Width(), 2);
          for (int x = 0; x < bitmap.Width(); ++x)
            two.SetPixel(x, 0, bitmap.Pixel(x, 0)), two.SetPixel(x, 1, bitmap.Pixel(x, 0));
          bitmap = std::move(two);
        }
        made = EncodeJPEG(bitmap, o.Quality);
        // The data as it came when that is the smaller of the two.
        const bool plain = jpeg && jpeg->Valid() && jpeg->Info().ColorSpace != TkxJPEGColorSpace::jcsCMYK &&
                           jpeg->Info().ColorSpace != TkxJPEGColorSpace::jcsYCCK;
        if (plain && jpeg->Data().size() <= made.size()) {
          data = &jpeg->Data();
          pw = jpeg->Width(), ph = jpeg->Height();
        }
        break;
      }
      case ifPNG:
        blip = "\\pngblip";
        made = WritePNG(bitmap, clWhite);
        break;
      case ifMetafile:
        blip = "\\emfblip";
        made = BitmapAsEMF(bitmap);
        pixelsAtSourceDPI = false;
        break;
      default:
        blip = "\\wmetafile8";
        wmfHeader = WrapBitmapInWMF(bitmap, made);
        break;
    }
  }
  if (data->empty() || pw <= 0 || ph <= 0) return {};

  double w = pw, h = ph;
  if (pixelsAtSourceDPI && o.SourceDPI > 0) {
    w = std::round(pw * double(o.PPI) / o.SourceDPI);
    h = std::round(ph * double(o.PPI) / o.SourceDPI);
  }
  w = std::max(w, 1.0), h = std::max(h, 1.0);
  auto twips = [&](double px) { return Num(RoundToInt(px * o.TwipsPerPixel)); };
  // The picture's own size, and the size it is shown at as the goal: a
  // picture kept at its own resolution is shown at exactly the box's size.
  std::string s = blip + "\\picw" + twips(w) + "\\pich" + twips(h) + "\\picwgoal" + twips(width) + "\\pichgoal" +
                  twips(height) + "\\picscalex100\\picscaley100\\picbmp\\picbpp4 ";
  if (o.Binary && o.Format != ifBMP) {
    s += "\\bin" + Num(static_cast<long long>(data->size())) + " ";
    s.append(reinterpret_cast<const char*>(data->data()), data->size());
  } else {
    s.reserve(s.size() + wmfHeader.size() + data->size() * 2 + 12);
    s += wmfHeader;
    AppendHex(s, data->data(), data->size());
    s += "030000000000";
  }
  return s;
}

}  // namespace pw
