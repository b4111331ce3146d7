#include "platform/kxJPEG.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace pw {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return. It jumps back to the setjmp in
// the Run* functions below; those hold no C++ objects of their own, so no destructor is skipped, and all
// state that outlives the jump lives in the caller's frame and is reached through pointers.
struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool limit = false;  // the jump was our own scan limit
  char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt but recoverable data) are not fatal and not shown.
extern "C" void OnJpegMessage(j_common_ptr, int) {}

// No encoder writes anywhere near this many scans; crafted progressive files with thousands of tiny scans
// would otherwise keep the decoder busy for minutes.
constexpr long kMaxScans = 500;

// Every 8 x 8 block of a Huffman-coded picture costs at least a bit or two, so its data bounds its size: a
// header claiming hundreds of megapixels over a few kilobytes is a lie, and decoding it would only fill a huge
// bitmap with what libjpeg invents after the data ends. The bound leaves a wide margin over the cheapest
// real encoding (a flat page); arithmetic coding can go below a bit per block, so it gets a wider one.
constexpr double kMaxPixelsPerByte = 4096;
constexpr double kMaxPixelsPerByteArith = 65536;
constexpr double kAlwaysPlausiblePixels = 4 * 1024 * 1024;

extern "C" void OnJpegProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    auto* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    err->limit = true;
    std::snprintf(err->message, sizeof err->message, "more than %ld scans", kMaxScans);
    std::longjmp(err->jump, 1);
  }
}

void InitErrors(ErrorMgr* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = OnJpegError;
  err->pub.emit_message = OnJpegMessage;
  err->message[0] = 0;
}

TkxJPEGColorSpace MapSpace(J_COLOR_SPACE s) {
  switch (s) {
    case JCS_GRAYSCALE: return TkxJPEGColorSpace::jcsGray;
    case JCS_RGB: return TkxJPEGColorSpace::jcsRGB;
    case JCS_YCbCr: return TkxJPEGColorSpace::jcsYCbCr;
    case JCS_CMYK: return TkxJPEGColorSpace::jcsCMYK;
    case JCS_YCCK: return TkxJPEGColorSpace::jcsYCCK;
    default: return TkxJPEGColorSpace::jcsUnknown;
  }
}

// Pixel order of the bitmap's 32-bit words in memory.
constexpr J_COLOR_SPACE kNativeOut = std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;
constexpr J_COLOR_SPACE kNativeIn = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;

struct DecodeJob {
  const uint8_t* data;
  unsigned long size;
  bool headerOnly;
  TkxJPEGInfo info;
  TkxBitmap* out;
  std::vector<uint8_t>* cmykRow;
  std::string sizeError;  // set when the header names a picture beyond the limits
};

void FillInfo(j_decompress_ptr c, TkxJPEGInfo* info) {
  info->Width = static_cast<int>(c->image_width);
  info->Height = static_cast<int>(c->image_height);
  info->Components = c->num_components;
  info->ColorSpace = MapSpace(c->jpeg_color_space);
  info->AdobeMarker = c->saw_Adobe_marker;
  info->Progressive = c->progressive_mode;
}

// Returns false after a libjpeg error (message in err).
bool RunDecode(j_decompress_ptr c, ErrorMgr* err, DecodeJob* job) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(c, job->data, job->size);
  jpeg_read_header(c, TRUE);
  FillInfo(c, &job->info);
  if (job->headerOnly) return true;
  try {
    TkxBitmap::CheckSize(c->image_width, c->image_height);
  } catch (const ELimitExceeded& e) {
    job->sizeError = e.what();
    return true;
  }
  const double pixels = double(c->image_width) * double(c->image_height);
  const double perByte = c->arith_code ? kMaxPixelsPerByteArith : kMaxPixelsPerByte;
  if (pixels > kAlwaysPlausiblePixels && pixels > perByte * double(job->size)) {
    job->sizeError = "JPEG picture of " + std::to_string(c->image_width) + " x " + std::to_string(c->image_height) +
                     " pixels has only " + std::to_string(job->size) + " bytes of data";
    return true;
  }
  bool cmyk = c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK;
  c->out_color_space = cmyk ? JCS_CMYK : kNativeOut;
  c->dct_method = JDCT_ISLOW;
  jpeg_start_decompress(c);
  *job->out = TkxBitmap(static_cast<int>(c->output_width), static_cast<int>(c->output_height));
  if (cmyk) job->cmykRow->resize(static_cast<size_t>(c->output_width) * 4);
  bool inverted = c->saw_Adobe_marker;
  while (c->output_scanline < c->output_height) {
    int y = static_cast<int>(c->output_scanline);
    uint32_t* line = job->out->Scanline(y);
    JSAMPROW row = cmyk ? job->cmykRow->data() : reinterpret_cast<JSAMPROW>(line);
    if (jpeg_read_scanlines(c, &row, 1) != 1) break;
    if (cmyk) {
      const uint8_t* p = job->cmykRow->data();
      for (JDIMENSION x = 0; x < c->output_width; ++x, p += 4)
        line[x] = JPEGCMYKToARGB(p[0], p[1], p[2], p[3], inverted);
    }
  }
  jpeg_finish_decompress(c);
  return true;
}

TkxJPEGInfo Decode(const uint8_t* data, size_t size, TkxBitmap* out) {
  if (!data || size < 4) throw EJPEGError("JPEG error: no data");
  if (size > ULONG_MAX) throw ELimitExceeded("JPEG data too large");
  jpeg_decompress_struct c;
  ErrorMgr err;
  jpeg_progress_mgr progress{};
  std::vector<uint8_t> cmykRow;
  DecodeJob job{data, static_cast<unsigned long>(size), out == nullptr, {}, out, &cmykRow, {}};
  c.err = &err.pub;
  InitErrors(&err);
  jpeg_create_decompress(&c);
  // libjpeg keeps no backing store: arrays beyond this fail with an error instead of exhausting memory.
  c.mem->max_memory_to_use = 1536L * 1024 * 1024;
  progress.progress_monitor = OnJpegProgress;
  c.progress = &progress;
  bool ok;
  try {
    ok = RunDecode(&c, &err, &job);
  } catch (...) {
    jpeg_destroy_decompress(&c);
    throw;
  }
  jpeg_destroy_decompress(&c);
  if (!ok) {
    if (err.limit) throw ELimitExceeded(std::string("JPEG picture has ") + err.message);
    throw EJPEGError(std::string("JPEG error: ") + err.message);
  }
  if (!job.sizeError.empty()) throw ELimitExceeded(job.sizeError);
  return job.info;
}

struct EncodeJob {
  const TkxBitmap* bitmap;
  int quality;
  std::vector<uint32_t>* flat;  // one row composited over white (bitmaps with alpha)
  unsigned char* buffer;
  unsigned long size;
};

bool RunEncode(j_compress_ptr c, ErrorMgr* err, EncodeJob* job) {
  if (setjmp(err->jump)) return false;
  const TkxBitmap& bmp = *job->bitmap;
  jpeg_mem_dest(c, &job->buffer, &job->size);
  c->image_width = static_cast<JDIMENSION>(bmp.Width());
  c->image_height = static_cast<JDIMENSION>(bmp.Height());
  c->input_components = 4;
  c->in_color_space = kNativeIn;
  jpeg_set_defaults(c);
  jpeg_set_quality(c, job->quality, TRUE);
  jpeg_start_compress(c, TRUE);
  while (c->next_scanline < c->image_height) {
    int y = static_cast<int>(c->next_scanline);
    const uint32_t* line = bmp.Scanline(y);
    if (bmp.HasAlpha()) {
      for (int x = 0; x < bmp.Width(); ++x) {
        uint32_t p = line[x], add = 255 - (p >> 24);
        auto ch = [&](int s) { return std::min<uint32_t>(255, ((p >> s) & 0xFF) + add) << s; };
        (*job->flat)[x] = 0xFF000000u | ch(16) | ch(8) | ch(0);
      }
      line = job->flat->data();
    }
    JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(line));
    jpeg_write_scanlines(c, &row, 1);
  }
  jpeg_finish_compress(c);
  return true;
}

}  // namespace

uint32_t JPEGCMYKToARGB(uint8_t c, uint8_t m, uint8_t y, uint8_t k, bool adobeInverted) {
  // Ink amounts 0..255; with Adobe's convention the samples hold 255 - ink.
  uint32_t ic = adobeInverted ? 255u - c : c, im = adobeInverted ? 255u - m : m, iy = adobeInverted ? 255u - y : y,
           ik = adobeInverted ? 255u - k : k;
  auto ch = [ik](uint32_t ink) { return ((255 - ink) * (255 - ik) + 127) / 255; };
  return 0xFF000000u | ch(ic) << 16 | ch(im) << 8 | ch(iy);
}

TkxJPEGInfo ReadJPEGInfo(const uint8_t* data, size_t size) { return Decode(data, size, nullptr); }

TkxBitmap DecodeJPEG(const uint8_t* data, size_t size) {
  TkxBitmap out;
  Decode(data, size, &out);
  return out;
}

std::vector<uint8_t> EncodeJPEG(const TkxBitmap& bitmap, int quality) {
  if (bitmap.Empty()) throw EJPEGError("JPEG error: cannot encode an empty picture");
  jpeg_compress_struct c;
  ErrorMgr err;
  std::vector<uint32_t> flat(bitmap.HasAlpha() ? static_cast<size_t>(bitmap.Width()) : 0);
  EncodeJob job{&bitmap, std::clamp(quality, 1, 100), &flat, nullptr, 0};
  c.err = &err.pub;
  InitErrors(&err);
  jpeg_create_compress(&c);
  bool ok;
  try {
    ok = RunEncode(&c, &err, &job);
  } catch (...) {
    jpeg_destroy_compress(&c);
    std::free(job.buffer);
    throw;
  }
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> out;
  if (ok) out.assign(job.buffer, job.buffer + job.size);
  std::free(job.buffer);
  if (!ok) throw EJPEGError(std::string("JPEG error: ") + err.message);
  return out;
}

// ---- TkxJPEGImage ----

void TkxJPEGImage::LoadFromData(std::vector<uint8_t> data) {
  data_ = std::move(data);
  bitmap_ = TkxBitmap();
  decoded_ = false;
  info_ = TkxJPEGInfo();
  valid_ = false;
  try {
    info_ = ReadJPEGInfo(data_.data(), data_.size());
    valid_ = true;
  } catch (const Exception&) {
    // Kept as it is; drawing it will find it invalid.
  }
}

void TkxJPEGImage::Assign(const TkxBitmap& bitmap, int quality) { LoadFromData(EncodeJPEG(bitmap, quality)); }

const TkxBitmap& TkxJPEGImage::Bitmap() const {
  if (!decoded_) {
    bitmap_ = DecodeJPEG(data_.data(), data_.size());
    decoded_ = true;
  }
  return bitmap_;
}

}  // namespace pw
