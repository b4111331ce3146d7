#include "render/kxImageCodecs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include <jbig2.h>
#include <openjpeg.h>
}

namespace pw {

namespace {

struct MemoryStream {
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
};

OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (s->Pos >= s->Size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t k = std::min<size_t>(n, s->Size - s->Pos);
  std::memcpy(buffer, s->Data + s->Pos, k);
  s->Pos += k;
  return k;
}
OPJ_OFF_T Skip(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  const int64_t to = std::clamp<int64_t>(int64_t(s->Pos) + n, 0, int64_t(s->Size));
  const OPJ_OFF_T moved = OPJ_OFF_T(to - int64_t(s->Pos));
  s->Pos = size_t(to);
  return moved;
}
OPJ_BOOL Seek(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<MemoryStream*>(user);
  if (n < 0 || uint64_t(n) > s->Size) return OPJ_FALSE;
  s->Pos = size_t(n);
  return OPJ_TRUE;
}
void Quiet(const char*, void*) {}

struct JpxHandles {
  opj_codec_t* Codec = nullptr;
  opj_stream_t* Stream = nullptr;
  opj_image_t* Image = nullptr;
  ~JpxHandles() {
    if (Image) opj_image_destroy(Image);
    if (Stream) opj_stream_destroy(Stream);
    if (Codec) opj_destroy_codec(Codec);
  }
};

}  // namespace

TkxDecodedImage DecodeJPX(const uint8_t* data, size_t size, int64_t maxPixels) {
  if (!data || size < 12) throw EImageCodecError("JPEG 2000 data too short");
  static const uint8_t kJ2K[] = {0xFF, 0x4F, 0xFF, 0x51};
  const bool codestream = std::memcmp(data, kJ2K, 4) == 0;
  MemoryStream mem{data, size};
  JpxHandles h;
  h.Codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  if (!h.Codec) throw EImageCodecError("JPEG 2000 decoder unavailable");
  opj_set_info_handler(h.Codec, Quiet, nullptr);
  opj_set_warning_handler(h.Codec, Quiet, nullptr);
  opj_set_error_handler(h.Codec, Quiet, nullptr);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(h.Codec, &params)) throw EImageCodecError("JPEG 2000 decoder setup failed");
  h.Stream = opj_stream_default_create(OPJ_TRUE);
  if (!h.Stream) throw EImageCodecError("JPEG 2000 stream failed");
  opj_stream_set_user_data(h.Stream, &mem, nullptr);
  opj_stream_set_user_data_length(h.Stream, size);
  opj_stream_set_read_function(h.Stream, Read);
  opj_stream_set_skip_function(h.Stream, Skip);
  opj_stream_set_seek_function(h.Stream, Seek);
  if (!opj_read_header(h.Stream, h.Codec, &h.Image) || !h.Image) throw EImageCodecError("bad JPEG 2000 header");
  const int64_t w = int64_t(h.Image->x1) - h.Image->x0, ht = int64_t(h.Image->y1) - h.Image->y0;
  if (w <= 0 || ht <= 0 || w * ht > maxPixels || h.Image->numcomps == 0 || h.Image->numcomps > 4)
    throw EImageCodecError("JPEG 2000 picture of unsupported size or components");
  if (!opj_decode(h.Codec, h.Stream, h.Image) || !opj_end_decompress(h.Codec, h.Stream))
    throw EImageCodecError("JPEG 2000 data cannot be decoded");

  TkxDecodedImage out;
  out.Width = int(w);
  out.Height = int(ht);
  const int n = int(h.Image->numcomps);
  out.Components = n;
  switch (h.Image->color_space) {
    case OPJ_CLRSPC_GRAY: out.ColorSpace = 1; break;
    case OPJ_CLRSPC_SRGB: out.ColorSpace = 2; break;
    case OPJ_CLRSPC_CMYK: out.ColorSpace = 3; break;
    case OPJ_CLRSPC_SYCC: out.ColorSpace = 4; break;
    default: out.ColorSpace = 0; break;
  }
  out.HasAlpha = h.Image->comps[n - 1].alpha != 0 && (n == 2 || n == 4);
  out.Samples.assign(size_t(w) * size_t(ht) * size_t(n), 0);
  for (int c = 0; c < n; ++c) {
    const opj_image_comp_t& comp = h.Image->comps[c];
    if (!comp.data || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0) continue;
    const int prec = int(std::clamp<OPJ_UINT32>(comp.prec, 1, 31));
    const int64_t offset = comp.sgnd ? (int64_t(1) << (prec - 1)) : 0;
    const int64_t maxv = (int64_t(1) << prec) - 1;
    for (int64_t y = 0; y < ht; ++y) {
      const int64_t cy = std::min<int64_t>(y / comp.dy, int64_t(comp.h) - 1);
      for (int64_t x = 0; x < w; ++x) {
        const int64_t cx = std::min<int64_t>(x / comp.dx, int64_t(comp.w) - 1);
        const int64_t v = std::clamp<int64_t>(int64_t(comp.data[cy * comp.w + cx]) + offset, 0, maxv);
        out.Samples[(size_t(y) * size_t(w) + size_t(x)) * size_t(n) + size_t(c)] =
            uint8_t(prec == 8 ? v : (v * 255 + maxv / 2) / maxv);
      }
    }
  }
  if (out.ColorSpace == 4 && n >= 3) {
    // YCbCr to RGB.
    for (size_t i = 0; i + 2 < out.Samples.size(); i += size_t(n)) {
      const double Y = out.Samples[i], cb = out.Samples[i + 1] - 128.0, cr = out.Samples[i + 2] - 128.0;
      out.Samples[i] = uint8_t(std::clamp(Y + 1.402 * cr, 0.0, 255.0));
      out.Samples[i + 1] = uint8_t(std::clamp(Y - 0.344136 * cb - 0.714136 * cr, 0.0, 255.0));
      out.Samples[i + 2] = uint8_t(std::clamp(Y + 1.772 * cb, 0.0, 255.0));
    }
    out.ColorSpace = 2;
  }
  return out;
}

namespace {

// An allocator that refuses to hand out more than a budget, so that a page
// size or symbol count out of bounds fails instead of exhausting memory.
struct CappedAllocator {
  Jbig2Allocator Base;
  size_t Used = 0;
  size_t Limit = 0;
};
constexpr size_t kHeader = 16;  // the size of each block, kept before it

void* CappedAlloc(Jbig2Allocator* a, size_t size) {
  auto* c = reinterpret_cast<CappedAllocator*>(a);
  if (size > c->Limit - c->Used || size > SIZE_MAX - kHeader) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  c->Used += size;
  return block + kHeader;
}
void CappedFree(Jbig2Allocator* a, void* p) {
  if (!p) return;
  auto* c = reinterpret_cast<CappedAllocator*>(a);
  uint8_t* block = static_cast<uint8_t*>(p) - kHeader;
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  c->Used -= size;
  std::free(block);
}
void* CappedRealloc(Jbig2Allocator* a, void* p, size_t size) {
  if (!p) return CappedAlloc(a, size);
  size_t old = 0;
  std::memcpy(&old, static_cast<uint8_t*>(p) - kHeader, sizeof old);
  void* fresh = CappedAlloc(a, size);
  if (!fresh) return nullptr;
  std::memcpy(fresh, p, std::min(old, size));
  CappedFree(a, p);
  return fresh;
}

struct Jbig2Errors {
  std::string Fatal;
};
void OnJbig2Error(void* data, const char* msg, Jbig2Severity severity, uint32_t) {
  auto* e = static_cast<Jbig2Errors*>(data);
  if (severity == JBIG2_SEVERITY_FATAL && e->Fatal.empty() && msg) e->Fatal = msg;
}

}  // namespace

TkxDecodedImage DecodeJBIG2(const uint8_t* data, size_t size, const std::vector<uint8_t>& globals, int64_t maxPixels) {
  Jbig2Errors errors;
  // The page's bits, and as much again for the segments that build it.
  auto allocator = std::make_unique<CappedAllocator>();
  allocator->Base = {CappedAlloc, CappedFree, CappedRealloc};
  allocator->Limit = size_t(std::max<int64_t>(maxPixels, 0)) / 4 + (size_t(64) << 20);
  Jbig2Allocator* alloc = &allocator->Base;
  Jbig2GlobalCtx* global = nullptr;
  if (!globals.empty()) {
    Jbig2Ctx* g = jbig2_ctx_new(alloc, JBIG2_OPTIONS_EMBEDDED, nullptr, OnJbig2Error, &errors);
    if (!g) throw EImageCodecError("JBIG2 decoder unavailable");
    jbig2_data_in(g, globals.data(), globals.size());
    global = jbig2_make_global_ctx(g);
  }
  Jbig2Ctx* ctx = jbig2_ctx_new(alloc, JBIG2_OPTIONS_EMBEDDED, global, OnJbig2Error, &errors);
  if (!ctx) {
    if (global) jbig2_global_ctx_free(global);
    throw EImageCodecError("JBIG2 decoder unavailable");
  }
  struct Free {
    Jbig2Ctx* Ctx;
    Jbig2GlobalCtx* Global;
    ~Free() {
      jbig2_ctx_free(Ctx);
      if (Global) jbig2_global_ctx_free(Global);
    }
  } release{ctx, global};
  if (size > 0) jbig2_data_in(ctx, data, size);
  jbig2_complete_page(ctx);
  Jbig2Image* page = jbig2_page_out(ctx);
  if (!page) throw EImageCodecError(errors.Fatal.empty() ? "JBIG2 data holds no page" : "JBIG2: " + errors.Fatal);
  TkxDecodedImage out;
  const int64_t w = page->width, h = page->height;
  if (w <= 0 || h <= 0 || w * h > maxPixels) {
    jbig2_release_page(ctx, page);
    throw EImageCodecError("JBIG2 page of unsupported size");
  }
  out.Width = int(w), out.Height = int(h), out.Components = 1;
  out.Samples.resize(size_t(w) * size_t(h));
  for (int64_t y = 0; y < h; ++y) {
    const uint8_t* row = page->data + size_t(y) * page->stride;
    for (int64_t x = 0; x < w; ++x) out.Samples[size_t(y) * size_t(w) + size_t(x)] = (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
  jbig2_release_page(ctx, page);
  return out;
}

}  // namespace pw
