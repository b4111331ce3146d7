#include "render/kxImageDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "pdf/kxCstPDFDoc.h"
#include "pdf/kxFilters.h"
#include "platform/kxJPEG.h"
#include "render/kxFaxDecoder.h"
#include "render/kxImageCodecs.h"
#include "render/kxGraphicsState.h"

namespace pw {

namespace {

constexpr int kMaxSide = 1 << 24;

std::vector<double> NumberArray(TkxCustomPDFDocument& doc, TkxPDFObject* obj) {
  std::vector<double> out;
  if (const TkxPDFArrayObject* a = AsArray(doc.Resolve(obj)))
    for (int i = 0; i < a->Count() && i < 64; ++i) {
      const double v = NumberValue(doc.Resolve(a->Get(i)), 0);
      out.push_back(std::isfinite(v) ? v : 0);
    }
  return out;
}

// ---- Samples ---------------------------------------------------------------------------------

// Decoded image data: rows of Width samples of Components components at
// Bpc bits, each row padded to whole bytes (as PDF image data is laid out).
struct Samples {
  int Width = 0, Height = 0, Components = 1, Bpc = 8;
  std::vector<uint8_t> Data;
  size_t RowBytes() const { return (size_t(Width) * size_t(Components) * size_t(Bpc) + 7) / 8; }
  // Rows the data holds completely.
  int RowsPresent() const {
    const size_t rb = RowBytes();
    return rb ? int(std::min<size_t>(Data.size() / rb, size_t(Height))) : 0;
  }
  uint32_t Raw(const uint8_t* row, int x, int c) const {
    const size_t index = size_t(x) * size_t(Components) + size_t(c);
    switch (Bpc) {
      case 8: return row[index];
      case 16: return (uint32_t(row[2 * index]) << 8) | row[2 * index + 1];
      case 1: return (row[index >> 3] >> (7 - (index & 7))) & 1;
      case 2: return (row[index >> 2] >> (6 - 2 * (index & 3))) & 3;
      case 4: return (row[index >> 1] >> ((index & 1) ? 0 : 4)) & 15;
      default: return 0;
    }
  }
};

bool ValidBpc(int bpc) { return bpc == 1 || bpc == 2 || bpc == 4 || bpc == 8 || bpc == 16; }

// Every n-th sample of a picture larger than kMaxImagePixels.
int SampleStep(int64_t w, int64_t h) {
  int step = 1;
  while ((w / step) * (h / step) > kMaxImagePixels) ++step;
  return step;
}

// Filter names written out in full.
std::string FullFilterName(const std::string& n) {
  if (n == "AHx") return "ASCIIHexDecode";
  if (n == "A85") return "ASCII85Decode";
  if (n == "LZW") return "LZWDecode";
  if (n == "Fl") return "FlateDecode";
  if (n == "RL") return "RunLengthDecode";
  if (n == "CCF") return "CCITTFaxDecode";
  if (n == "DCT") return "DCTDecode";
  return n;
}

struct FilterChain {
  std::vector<std::string> Names;
  std::vector<TkxPDFObject*> Parms;  // resolved, may be null
};

FilterChain ReadFilters(TkxCustomPDFDocument& doc, const TkxPDFDictObject& dict) {
  FilterChain chain;
  TkxPDFObject* f = doc.Resolve(dict.Lookup("/Filter"));
  TkxPDFObject* p = doc.Resolve(dict.Lookup("/DecodeParms"));
  if (!p) p = doc.Resolve(dict.Lookup("/DP"));
  if (IsName(f)) {
    chain.Names.push_back(FullFilterName(NameValue(f)));
    chain.Parms.push_back(AsArray(p) ? doc.Resolve(AsArray(p)->Get(0)) : p);
  } else if (const TkxPDFArrayObject* a = AsArray(f)) {
    const TkxPDFArrayObject* pa = AsArray(p);
    for (int i = 0; i < a->Count() && i < 32; ++i) {
      chain.Names.push_back(FullFilterName(NameValue(doc.Resolve(a->Get(i)))));
      chain.Parms.push_back(pa ? doc.Resolve(pa->Get(i)) : (i == 0 ? p : nullptr));
    }
  }
  return chain;
}

// Applies the first n filters of the chain.
std::vector<uint8_t> ApplyFirst(TkxCustomPDFDocument& doc, const FilterChain& chain, size_t n,
                                const std::vector<uint8_t>& raw) {
  if (n == 0) return raw;
  auto filters = std::make_unique<TkxPDFArrayObject>();
  auto parms = std::make_unique<TkxPDFArrayObject>();
  for (size_t i = 0; i < n; ++i) {
    filters->Add(std::make_unique<TkxPDFNameObject>("/" + chain.Names[i]));
    if (chain.Parms[i] && IsDict(chain.Parms[i]))
      parms->Add(doc.DeepResolve(chain.Parms[i], 1000));
    else
      parms->Add(std::make_unique<TkxPDFNullObject>());
  }
  return ApplyDecodeFilters(raw, filters.get(), parms.get());
}

// Converts samples into an opaque RGB bitmap (and alpha, for colour keys,
// into the bitmap's alpha). step: every step-th sample.
TkxBitmap BuildBitmap(const Samples& s, const TkxColorSpace& space, const std::vector<double>& decode,
                      const std::vector<int64_t>& colorKey, int step) {
  const int ow = (s.Width + step - 1) / step, oh = (s.Height + step - 1) / step;
  const bool keyed = !colorKey.empty();
  TkxBitmap out(ow, oh, keyed || s.RowsPresent() < s.Height);
  const int n = s.Components;
  const uint32_t maxRaw = (s.Bpc == 16) ? 65535u : (1u << s.Bpc) - 1;
  // The component value of every raw sample, per component.
  std::vector<std::vector<double>> value(static_cast<size_t>(n));
  const bool small = s.Bpc <= 8;
  for (int c = 0; c < n; ++c) {
    const double lo = decode[2 * size_t(c)], hi = decode[2 * size_t(c) + 1];
    if (small)
      for (uint32_t v = 0; v <= maxRaw; ++v) value[size_t(c)].push_back(lo + v * (hi - lo) / maxRaw);
  }
  auto comp = [&](uint32_t raw, int c) {
    if (small) return value[size_t(c)][raw];
    const double lo = decode[2 * size_t(c)], hi = decode[2 * size_t(c) + 1];
    return lo + raw * (hi - lo) / maxRaw;
  };
  // One-component spaces: a table from raw sample to colour.
  std::vector<uint32_t> table;
  if (n == 1 && small) {
    for (uint32_t v = 0; v <= maxRaw; ++v) {
      const double c = comp(v, 0);
      uint32_t rgb = 0;
      space.ToRGB(&c, 1, rgb);
      table.push_back(rgb);
    }
  }
  std::unordered_map<uint64_t, uint32_t> cache;
  const bool plainRGB = space.Kind == csDeviceRGB && s.Bpc == 8 && decode == std::vector<double>{0, 1, 0, 1, 0, 1};
  const int rows = s.RowsPresent();
  const size_t rb = s.RowBytes();
  double comps[32];
  uint32_t raw[32];
  for (int oy = 0; oy < oh; ++oy) {
    const int y = oy * step;
    uint32_t* line = out.Scanline(oy);
    if (y >= rows) {
      for (int ox = 0; ox < ow; ++ox) line[ox] = 0;  // data that is not there stays transparent
      continue;
    }
    const uint8_t* row = s.Data.data() + size_t(y) * rb;
    for (int ox = 0; ox < ow; ++ox) {
      const int x = ox * step;
      uint32_t rgb = 0;
      if (plainRGB) {
        const uint8_t* p = row + size_t(x) * 3;
        rgb = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
      } else if (!table.empty()) {
        raw[0] = s.Raw(row, x, 0);
        rgb = table[raw[0]];
      } else {
        uint64_t key = 0;
        for (int c = 0; c < n && c < 32; ++c) {
          raw[c] = s.Raw(row, x, c);
          key = key * (uint64_t(maxRaw) + 1) + raw[c];
        }
        const bool cacheable = n * s.Bpc <= 48;
        auto hit = cacheable ? cache.find(key) : cache.end();
        if (hit != cache.end()) {
          rgb = hit->second;
        } else {
          for (int c = 0; c < n && c < 32; ++c) comps[c] = comp(raw[c], c);
          space.ToRGB(comps, size_t(std::min(n, 32)), rgb);
          if (cacheable && cache.size() < 65536) cache.emplace(key, rgb);
        }
      }
      bool masked = false;
      if (keyed) {
        masked = true;
        for (int c = 0; c < n && masked; ++c) {
          const int64_t v = s.Raw(row, x, c);
          if (2 * size_t(c) + 1 >= colorKey.size() || v < colorKey[2 * size_t(c)] || v > colorKey[2 * size_t(c) + 1])
            masked = false;
        }
      }
      line[ox] = masked ? 0 : 0xFF000000u | rgb;
    }
  }
  return out;
}

// Alpha of every pixel of a picture w x h from a mask of another size
// (nearest sample); mask values 0..255.
void ApplyAlpha(TkxBitmap& picture, const std::vector<uint8_t>& alpha, int aw, int ah) {
  if (aw <= 0 || ah <= 0 || alpha.size() < size_t(aw) * size_t(ah)) return;
  picture.SetHasAlpha(true);
  const int w = picture.Width(), h = picture.Height();
  // The mask column of each picture column, worked out once for all rows.
  std::vector<int> column(static_cast<size_t>(std::max(w, 0)));
  for (int x = 0; x < w; ++x) column[size_t(x)] = int(int64_t(x) * aw / w);
  for (int y = 0; y < h; ++y) {
    const int my = int(int64_t(y) * ah / h);
    uint32_t* line = picture.Scanline(y);
    const uint8_t* maskRow = alpha.data() + size_t(my) * size_t(aw);
    for (int x = 0; x < w; ++x) {
      const uint32_t a = maskRow[column[size_t(x)]];
      if (a == 255) continue;  // the pixel as it is
      const uint32_t p = line[x];
      const uint32_t pa = p >> 24;
      if (a == 0) {  // nothing of it
        if (pa != 0) line[x] = 0;
        continue;
      }
      const uint32_t na = pa * a / 255;
      if (na == pa) continue;
      if (pa == 0) continue;
      // Premultiplied: scale every channel by the new alpha's share.
      auto ch = [&](int shift) { return (((p >> shift) & 0xFF) * a / 255) << shift; };
      line[x] = (na << 24) | ch(16) | ch(8) | ch(0);
    }
  }
}

}  // namespace

// ---- Inline images ------------------------------------------------------------------------------

namespace {

PDFObjectPtr OperandToObject(const TkxOperand& o, bool isValueOfFilterOrSpace) {
  switch (o.Kind) {
    case okNumberOperand:
      if (o.IsInteger && std::abs(o.Number) < 2e9) return std::make_unique<TkxPDFIntegerObject>(int32_t(o.Number));
      return std::make_unique<TkxPDFRealObject>(o.Number);
    case okBoolOperand: return std::make_unique<TkxPDFBooleanObject>(o.Bool);
    case okNameOperand: {
      std::string n(o.Name());
      if (isValueOfFilterOrSpace) {
        n = FullFilterName(n);
        if (n == "G")
          n = "DeviceGray";
        else if (n == "RGB")
          n = "DeviceRGB";
        else if (n == "CMYK")
          n = "DeviceCMYK";
        else if (n == "I")
          n = "Indexed";
      }
      return std::make_unique<TkxPDFNameObject>("/" + n);
    }
    case okStringOperand: return std::make_unique<TkxPDFStringObject>("(" + o.Text + ")");
    case okArrayOperand: {
      auto a = std::make_unique<TkxPDFArrayObject>();
      for (const TkxOperand& item : o.Items) a->Add(OperandToObject(item, isValueOfFilterOrSpace));
      return a;
    }
    case okDictOperand: {
      auto d = std::make_unique<TkxPDFDictObject>();
      for (size_t i = 0; i + 1 < o.Items.size(); i += 2)
        if (o.Items[i].IsName()) d->AddObject(o.Items[i].Text, OperandToObject(o.Items[i + 1], false));
      return d;
    }
    default: return std::make_unique<TkxPDFNullObject>();
  }
}

}  // namespace

std::unique_ptr<TkxPDFDictObject> ExpandInlineImageDict(const TkxOperand& dict) {
  static const std::pair<const char*, const char*> kKeys[] = {{"BPC", "BitsPerComponent"},
                                                              {"CS", "ColorSpace"},
                                                              {"D", "Decode"},
                                                              {"DP", "DecodeParms"},
                                                              {"F", "Filter"},
                                                              {"H", "Height"},
                                                              {"IM", "ImageMask"},
                                                              {"I", "Interpolate"},
                                                              {"W", "Width"},
                                                              {"L", "Length"}};
  auto out = std::make_unique<TkxPDFDictObject>();
  for (size_t i = 0; i + 1 < dict.Items.size(); i += 2) {
    if (!dict.Items[i].IsName()) continue;
    std::string key(dict.Items[i].Name());
    for (const auto& [shortKey, longKey] : kKeys)
      if (key == shortKey) key = longKey;
    const bool names = key == "Filter" || key == "ColorSpace";
    if (out->Lookup("/" + key)) continue;
    out->AddObject("/" + key, OperandToObject(dict.Items[i + 1], names));
  }
  return out;
}

// ---- Loading ----------------------------------------------------------------------------------------

TkxPDFImageItem TkxImageLoader::LoadXObject(const TkxPDFStreamObject& image, const std::string& name, uint32_t fillRGB,
                                            bool keepJPEG) {
  TkxPDFImageItem item = Load(*image.Dict, image.Data, fillRGB, keepJPEG, false);
  if (item.PictureKind) item.Name = name;
  return item;
}

TkxPDFImageItem TkxImageLoader::LoadInline(const TkxOperand& dict, std::string_view data, uint32_t fillRGB,
                                           bool keepJPEG) {
  const std::unique_ptr<TkxPDFDictObject> full = ExpandInlineImageDict(dict);
  const std::vector<uint8_t> raw(data.begin(), data.end());
  return Load(*full, raw, fillRGB, keepJPEG, true);
}

TkxPDFImageItem TkxImageLoader::Load(const TkxPDFDictObject& dict, const std::vector<uint8_t>& raw, uint32_t fillRGB,
                                     bool keepJPEG, bool isInline) {
  TkxPDFImageItem item;
  TkxCustomPDFDocument& doc = doc_;
  auto get = [&](const char* key) { return doc.Resolve(dict.Lookup(key)); };
  const int64_t w = IntValue(get("/Width"), 0), h = IntValue(get("/Height"), 0);
  item.Width = int(std::clamp<int64_t>(w, 0, kMaxSide));
  item.Height = int(std::clamp<int64_t>(h, 0, kMaxSide));
  const bool imageMask = [&] {
    TkxPDFObject* m = get("/ImageMask");
    return m && m->Kind == okBoolean && static_cast<TkxPDFBooleanObject*>(m)->Value;
  }();
  const FilterChain chain = ReadFilters(doc, dict);
  const std::string last = chain.Names.empty() ? std::string() : chain.Names.back();
  // Codecs that carry their own size: JPEG, JPEG 2000, JBIG2 (size from the dictionary).
  const bool dct = last == "DCTDecode", jpx = last == "JPXDecode", jbig2 = last == "JBIG2Decode",
             fax = last == "CCITTFaxDecode";
  if ((w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) && !dct && !jpx) {
    item.Problem = "picture left out: a width or height that cannot be drawn";
    return item;
  }
  int bpc = imageMask ? 1 : int(IntValue(get("/BitsPerComponent"), (dct || jpx) ? 8 : 0));
  if (jbig2 || fax) bpc = 1;

  TkxColorSpace space = TkxColorSpace::Device(csDeviceGray);
  TkxPDFObject* csObj = dict.Lookup("/ColorSpace");
  if (!imageMask) {
    if (csObj) {
      space = ResolveColorSpaceObject(doc, csObj, 0, resources_);
    } else if (!jpx && !dct) {
      space.Kind = csUnsupported;
    }
    if (space.NoneColorant) return item;  // paints nothing
    // A picture cannot be painted in a pattern.
    if (space.Kind == csPattern) space.Kind = csUnsupported;
    if (space.Kind == csUnsupported && !jpx && !dct) {
      item.Problem = "picture left out: a colour space that cannot be read";
      return item;
    }
  }
  std::vector<double> decode = NumberArray(doc, dict.Lookup("/Decode"));

  // Masks: colour key ranges, a stencil mask stream, a soft mask.
  std::vector<int64_t> colorKey;
  const TkxPDFStreamObject* stencil = nullptr;
  if (!imageMask) {
    TkxPDFObject* mask = get("/Mask");
    if (const TkxPDFArrayObject* ranges = AsArray(mask)) {
      for (int i = 0; i < ranges->Count() && i < 64; ++i) colorKey.push_back(IntValue(doc.Resolve(ranges->Get(i)), 0));
    } else {
      stencil = AsStream(mask);
    }
  }
  const TkxPDFStreamObject* smask = isInline ? nullptr : AsStream(get("/SMask"));

  try {
    // ---- JPEG ----
    if (dct) {
      std::vector<uint8_t> data = ApplyFirst(doc, chain, chain.Names.size() - 1, raw);
      TkxJPEGInfo info;
      try {
        info = ReadJPEGInfo(data.data(), data.size());
      } catch (const Exception& e) {
        item.Problem = std::string("picture left out: JPEG data that cannot be read: ") + e.what();
        return item;
      }
      const bool inverted = decode.size() >= 2 && decode[0] > decode[1];
      const bool plain = info.ColorSpace != TkxJPEGColorSpace::jcsCMYK &&
                         info.ColorSpace != TkxJPEGColorSpace::jcsYCCK && !info.Progressive;
      if (keepJPEG && plain && !inverted && !imageMask && !smask && !stencil && colorKey.empty() &&
          (space.Kind == csDeviceGray || space.Kind == csDeviceRGB)) {
        item.JPEGData = std::move(data);
        item.Width = info.Width, item.Height = info.Height;
        item.PictureKind = 2;
        return item;
      }
      TkxBitmap bitmap;
      try {
        bitmap = DecodeJPEG(data);
      } catch (const EJPEGError& e) {
        item.Problem = std::string("picture left out: JPEG data that cannot be decoded: ") + e.what();
        return item;
      }
      if (inverted && info.ColorSpace != TkxJPEGColorSpace::jcsCMYK && info.ColorSpace != TkxJPEGColorSpace::jcsYCCK)
        for (int y = 0; y < bitmap.Height(); ++y)
          for (uint32_t *p = bitmap.Scanline(y), *e = p + bitmap.Width(); p < e; ++p) *p = ~*p | 0xFF000000u;
      item.Picture = std::move(bitmap);
      item.Width = info.Width, item.Height = info.Height;
      item.PictureKind = 1;
    } else if (jpx) {
      const std::vector<uint8_t> data = ApplyFirst(doc, chain, chain.Names.size() - 1, raw);
      TkxDecodedImage d;
      try {
        d = DecodeJPX(data.data(), data.size(), kMaxImagePixels);
      } catch (const EImageCodecError& e) {
        item.Problem = std::string("picture left out: ") + e.what();
        return item;
      }
      Samples s;
      s.Width = d.Width, s.Height = d.Height, s.Bpc = 8;
      const int colour = d.HasAlpha ? d.Components - 1 : d.Components;
      s.Components = colour;
      if (!csObj || space.Kind == csUnsupported || space.Components != colour)
        space = TkxColorSpace::Device(colour == 1 ? csDeviceGray : colour == 4 ? csDeviceCMYK : csDeviceRGB);
      std::vector<uint8_t> alpha;
      if (d.HasAlpha) {
        s.Data.reserve(size_t(d.Width) * d.Height * colour);
        alpha.reserve(size_t(d.Width) * d.Height);
        for (size_t i = 0; i < d.Samples.size(); i += size_t(d.Components)) {
          s.Data.insert(s.Data.end(), d.Samples.begin() + long(i), d.Samples.begin() + long(i) + colour);
          alpha.push_back(d.Samples[i + size_t(colour)]);
        }
      } else {
        s.Data = std::move(d.Samples);
      }
      item.Picture = BuildBitmap(s, space, space.DefaultDecode(8), {}, 1);
      if (!alpha.empty()) ApplyAlpha(item.Picture, alpha, d.Width, d.Height);
      item.Width = d.Width, item.Height = d.Height;
      item.PictureKind = 1;
    } else {
      // ---- Sample data ----
      if (!ValidBpc(bpc)) {
        item.Problem = "picture left out: " + std::to_string(bpc) + " bits per component";
        return item;
      }
      Samples s;
      s.Width = int(w), s.Height = int(h), s.Bpc = bpc, s.Components = imageMask ? 1 : space.Components;
      // Hostile sizes are refused before anything is allocated for them.
      const uint64_t rowBytes = s.RowBytes();
      if (rowBytes * uint64_t(h) > kDefaultMaxDecodedSize) {
        item.Problem = "picture left out: too large to be drawn";
        return item;
      }
      if (jbig2) {
        std::vector<uint8_t> globals;
        TkxPDFObject* parms = chain.Parms.empty() ? nullptr : chain.Parms.back();
        if (const TkxPDFDictObject* pd = AsDict(parms)) {
          if (const TkxPDFStreamObject* g = AsStream(doc.Resolve(pd->Lookup("/JBIG2Globals"))))
            globals = doc.DecodeStream(*g);
        }
        const std::vector<uint8_t> data = ApplyFirst(doc, chain, chain.Names.size() - 1, raw);
        TkxDecodedImage d;
        try {
          d = DecodeJBIG2(data.data(), data.size(), globals, kMaxImagePixels);
        } catch (const EImageCodecError& e) {
          item.Problem = std::string("picture left out: ") + e.what();
          return item;
        }
        // JBIG2 marks black with 1; PDF samples mark it with 0.
        s.Data.assign(rowBytes * size_t(h), 0);
        for (int y = 0; y < std::min(d.Height, s.Height); ++y)
          for (int x = 0; x < std::min(d.Width, s.Width); ++x)
            if (!d.Samples[size_t(y) * size_t(d.Width) + size_t(x)])
              s.Data[size_t(y) * rowBytes + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
      } else if (fax) {
        const std::vector<uint8_t> data = ApplyFirst(doc, chain, chain.Names.size() - 1, raw);
        TkxFaxParams fp;
        fp.Columns = int(w);
        if (const TkxPDFDictObject* pd = AsDict(chain.Parms.back())) {
          fp.K = int(std::clamp<int64_t>(IntValue(doc.Resolve(pd->Lookup("/K")), 0), -1, 1 << 20));
          fp.Columns = int(std::clamp<int64_t>(IntValue(doc.Resolve(pd->Lookup("/Columns")), 1728), 1, kMaxSide));
          fp.Rows = int(std::clamp<int64_t>(IntValue(doc.Resolve(pd->Lookup("/Rows")), 0), 0, kMaxSide));
          TkxPDFObject* b = doc.Resolve(pd->Lookup("/BlackIs1"));
          fp.BlackIs1 = b && b->Kind == okBoolean && static_cast<TkxPDFBooleanObject*>(b)->Value;
          TkxPDFObject* al = doc.Resolve(pd->Lookup("/EncodedByteAlign"));
          fp.EncodedByteAlign = al && al->Kind == okBoolean && static_cast<TkxPDFBooleanObject*>(al)->Value;
        }
        int rowsDecoded = 0;
        std::vector<uint8_t> rows = fp.K < 0 ? DecodeFaxGroup4(data.data(), data.size(), fp, int(h), &rowsDecoded)
                                             : DecodeFaxGroup3(data.data(), data.size(), fp, int(h), &rowsDecoded);
        const size_t faxRow = (size_t(fp.Columns) + 7) / 8;
        if (fp.Columns == s.Width) {
          s.Data = std::move(rows);
        } else {
          s.Data.assign(rowBytes * size_t(rows.size() / faxRow), fp.BlackIs1 ? 0 : 0xFF);
          for (size_t y = 0; y < rows.size() / faxRow; ++y)
            std::memcpy(s.Data.data() + y * rowBytes, rows.data() + y * faxRow, std::min(faxRow, size_t(rowBytes)));
        }
        if (rowsDecoded < h)
          item.Problem =
              "CCITT fax picture data ends after " + std::to_string(rowsDecoded) + " of " + std::to_string(h) + " rows";
      } else {
        const bool known = std::all_of(chain.Names.begin(), chain.Names.end(), [](const std::string& n) {
          return n == "FlateDecode" || n == "LZWDecode" || n == "RunLengthDecode" || n == "ASCIIHexDecode" ||
                 n == "ASCII85Decode";
        });
        if (!known) {
          item.Problem = "picture left out: the filter " + last + " is not known";
          return item;
        }
        s.Data = ApplyFirst(doc, chain, chain.Names.size(), raw);
        if (s.RowsPresent() < s.Height)
          item.Problem =
              "picture data ends after " + std::to_string(s.RowsPresent()) + " of " + std::to_string(h) + " rows";
      }
      if (s.Data.size() > rowBytes * uint64_t(h)) s.Data.resize(rowBytes * size_t(h));
      const int step = SampleStep(w, h);
      if (imageMask) {
        // A stencil: 0 samples (with the default Decode) paint the fill colour.
        const bool invert = decode.size() >= 2 && decode[0] > decode[1];
        const int ow = (s.Width + step - 1) / step, oh = (s.Height + step - 1) / step;
        TkxBitmap out(ow, oh, true);
        const uint32_t paint = PremultiplyARGB(0xFF000000u | (fillRGB & 0xFFFFFF));
        const int rows = s.RowsPresent();
        for (int oy = 0; oy < oh && oy * step < rows; ++oy) {
          const uint8_t* row = s.Data.data() + size_t(oy) * step * rowBytes;
          uint32_t* line = out.Scanline(oy);
          for (int ox = 0; ox < ow; ++ox)
            if ((s.Raw(row, ox * step, 0) != 0) == invert) line[ox] = paint;
        }
        item.Picture = std::move(out);
      } else {
        if (decode.size() < 2 * size_t(s.Components)) decode = space.DefaultDecode(bpc);
        item.Picture = BuildBitmap(s, space, decode, colorKey, step);
      }
      item.PictureKind = 1;
    }

    // ---- Masks given as images of their own ----
    auto loadMask = [&](const TkxPDFStreamObject& m, bool soft, std::vector<uint8_t>& alpha, int& aw, int& ah) {
      TkxImageLoader sub(doc, resources_);
      auto maskDict = std::make_unique<TkxPDFDictObject>();
      // The mask read as a gray picture (a stencil as an image mask: 0 paints).
      for (const char* key : {"/Width", "/Height", "/BitsPerComponent", "/Filter", "/DecodeParms", "/Decode"})
        if (TkxPDFObject* v = m.Dict->Lookup(key)) maskDict->AddObject(key, doc.DeepResolve(v, 1000));
      if (soft) {
        maskDict->AddName("/ColorSpace", "DeviceGray");
      } else {
        maskDict->AddObject("/ImageMask", std::make_unique<TkxPDFBooleanObject>(true));
      }
      TkxPDFImageItem mi = sub.Load(*maskDict, m.Data, 0x000000, false, false);
      if (mi.PictureKind != 1) return false;
      aw = mi.Picture.Width(), ah = mi.Picture.Height();
      alpha.resize(size_t(aw) * size_t(ah));
      const bool opaque = !mi.Picture.HasAlpha();
      for (int y = 0; y < ah; ++y) {
        const uint32_t* line = mi.Picture.Scanline(y);
        uint8_t* out = alpha.data() + size_t(y) * size_t(aw);
        for (int x = 0; x < aw; ++x) {
          // Soft: the gray level is the alpha; stencil: painted pixels show the picture.
          if (opaque) {
            out[x] = soft ? uint8_t(line[x] & 0xFF) : 0xFF;
          } else {
            const uint32_t p = mi.Picture.Pixel(x, y);
            out[x] = soft ? uint8_t(p & 0xFF) : uint8_t(p >> 24);
          }
        }
      }
      return true;
    };
    std::vector<uint8_t> alpha;
    int aw = 0, ah = 0;
    if (item.PictureKind == 1 && smask && loadMask(*smask, true, alpha, aw, ah))
      ApplyAlpha(item.Picture, alpha, aw, ah);
    else if (item.PictureKind == 1 && stencil && loadMask(*stencil, false, alpha, aw, ah))
      ApplyAlpha(item.Picture, alpha, aw, ah);
  } catch (const ELimitExceeded& e) {
    item = TkxPDFImageItem{};
    item.Problem = std::string("picture left out: too large to be drawn: ") + e.what();
  } catch (const Exception& e) {
    item = TkxPDFImageItem{};
    item.Problem = std::string("picture left out: data that cannot be decoded: ") + e.what();
  }
  return item;
}

// ---- Drawing -------------------------------------------------------------------------------------

bool IsUprightPlacement(const TkxMatrix& m) {
  // The unit square, flipped so that its first row is at the top.
  return std::abs(m.M12) < 1e-9 && std::abs(m.M21) < 1e-9 && m.M11 > 0 && m.M22 < 0;
}

namespace {

// The part of a picture of w x h pixels that can show: [x0, x1) x [y0, y1),
// from the clip (for upright placements) and the picture's alpha.
struct VisiblePart {
  int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
  bool Empty() const { return X1 <= X0 || Y1 <= Y0; }
  bool Whole(int w, int h) const { return X0 == 0 && Y0 == 0 && X1 == w && Y1 == h; }
};

VisiblePart ClippedPart(const TkxGraphics& g, int w, int h) {
  VisiblePart part{0, 0, w, h};
  TkxEmfRectL clip;
  const TkxMatrix m = g.DeviceTransform();
  if (!g.ClipBounds(clip) || std::abs(m.M12) > 1e-9 || std::abs(m.M21) > 1e-9 || m.M11 == 0 || m.M22 == 0) return part;
  // Unit square to device: x' = M11 x + DX, y' = M22 y + DY.
  auto unitX = [&](double dx) { return (dx - m.DX) / m.M11; };
  auto unitY = [&](double dy) { return (dy - m.DY) / m.M22; };
  const double ux0 = std::min(unitX(clip.left), unitX(clip.right)), ux1 = std::max(unitX(clip.left), unitX(clip.right));
  const double uy0 = std::min(unitY(clip.top), unitY(clip.bottom)), uy1 = std::max(unitY(clip.top), unitY(clip.bottom));
  part.X0 = int(std::clamp(std::floor(ux0 * w), 0.0, double(w)));
  part.X1 = int(std::clamp(std::ceil(ux1 * w), 0.0, double(w)));
  part.Y0 = int(std::clamp(std::floor(uy0 * h), 0.0, double(h)));
  part.Y1 = int(std::clamp(std::ceil(uy1 * h), 0.0, double(h)));
  return part;
}

void DrawPart(TkxGraphics& g, const TkxBitmap& b, VisiblePart part, const TkxImageAttributes& attributes) {
  // Only the part of a masked picture that shows is drawn: what its mask
  // hides would otherwise cover the page as white.
  if (b.HasAlpha()) {
    VisiblePart ink{part.X1, part.Y1, part.X0, part.Y0};
    for (int y = part.Y0; y < part.Y1; ++y) {
      const uint32_t* line = b.Scanline(y);
      for (int x = part.X0; x < part.X1; ++x)
        if (line[x] >> 24)
          ink.X0 = std::min(ink.X0, x), ink.X1 = std::max(ink.X1, x + 1), ink.Y0 = std::min(ink.Y0, y), ink.Y1 = y + 1;
    }
    part = ink;
  }
  if (part.Empty()) return;
  const double w = b.Width(), h = b.Height();
  g.DrawImage(b, TkxRectF{part.X0 / w, part.Y0 / h, (part.X1 - part.X0) / w, (part.Y1 - part.Y0) / h},
              TkxRectF{double(part.X0), double(part.Y0), double(part.X1 - part.X0), double(part.Y1 - part.Y0)}, unPixel,
              &attributes);
}

}  // namespace

void DrawPDFImage(TkxGraphics& g, const TkxPDFImageItem& item, const TkxMatrix& toDevice, double alpha) {
  if (item.PictureKind == 0) return;
  // Image space: row 0 at the top of the unit square (y = 1).
  const TkxMatrix flip(1, 0, 0, -1, 0, 1);
  const TkxMatrix saved = g.Transform();
  g.SetTransform(TkxMatrix::Product(flip, toDevice));
  TkxImageAttributes attributes;
  TkxColorMatrix cm;
  cm.m[3][3] = float(std::clamp(alpha, 0.0, 1.0));
  attributes.SetColorMatrix(cm);
  if (item.PictureKind == 2) {
    // JPEG data is recorded as it is unless the clip cuts it.
    const VisiblePart part = ClippedPart(g, item.Width, item.Height);
    if (!part.Empty() && (!part.Whole(item.Width, item.Height) ||
                          !g.DrawJPEG(item.JPEGData, item.Width, item.Height, TkxRectF{0, 0, 1, 1}, &attributes))) {
      try {
        const TkxBitmap pixels = DecodeJPEG(item.JPEGData);
        DrawPart(g, pixels, ClippedPart(g, pixels.Width(), pixels.Height()), attributes);
      } catch (const Exception&) {
      }
    }
  } else {
    DrawPart(g, item.Picture, ClippedPart(g, item.Picture.Width(), item.Picture.Height()), attributes);
  }
  g.SetTransform(saved);
}

}  // namespace pw
