// Pictures as the document engine takes them: a bitmap, a JPEG picture kept
// as its file data, or an enhanced metafile (TGraphic), and the engine's
// picture table whose entries image items refer to by index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/kxBitmap.h"
#include "platform/kxEmf.h"
#include "platform/kxJPEG.h"

namespace pw {

class TkxEmfRecorder;

enum TkxGraphicKind : int { gkNone = 0, gkBitmap, gkJPEG, gkMetafile, gkOther };

// A picture of one of the kinds above. gkOther stands for data of a picture
// type the engine does not know (it is kept only to be refused).
class TGraphic {
 public:
  TGraphic() = default;
  explicit TGraphic(TkxBitmap bitmap) : data_(std::move(bitmap)) {}
  explicit TGraphic(TkxJPEGImage jpeg) : data_(std::move(jpeg)) {}
  explicit TGraphic(TkxMetafile metafile) : data_(std::move(metafile)) {}
  // Data of a picture type named typeName that no drawing code understands.
  static TGraphic Unknown(std::string typeName, std::vector<uint8_t> data);

  TkxGraphicKind Kind() const;
  // No picture (an empty bitmap, JPEG or metafile counts as none).
  bool Empty() const;
  // Size in pixels (metafiles: their frame in reference-device pixels).
  int Width() const;
  int Height() const;

  const TkxBitmap* Bitmap() const { return std::get_if<TkxBitmap>(&data_); }
  const TkxJPEGImage* JPEG() const { return std::get_if<TkxJPEGImage>(&data_); }
  const TkxMetafile* Metafile() const { return std::get_if<TkxMetafile>(&data_); }
  const std::string& TypeName() const;

  // The picture as pixels: the bitmap itself or the decoded JPEG; nullptr
  // for metafiles, unknown data and undecodable JPEG data.
  const TkxBitmap* Pixels() const;
  // The picture in its file form: a BMP file, the JPEG data, the metafile's
  // bytes, or the unknown data as given.
  std::vector<uint8_t> SaveToStream() const;

 private:
  struct Other {
    std::string TypeName;
    std::vector<uint8_t> Data;
  };
  std::variant<std::monostate, TkxBitmap, TkxJPEGImage, TkxMetafile, Other> data_;
};

// The picture drawn onto a transparent bitmap of its own size (metafiles
// played with their frame filling it). An empty bitmap when there is
// nothing to draw.
TkxBitmap RenderGraphic(const TGraphic& graphic);

// Stretch-draws the picture onto a recording canvas into the rectangle
// (device pixels of the canvas). Nothing for pictures without pixels.
void DrawGraphicOn(TkxEmfRecorder& canvas, const TGraphic& graphic, double x, double y, double width, double height);

// A new recording of width x height pixels holding the metafile played with
// its frame stretched onto the whole recording; its text keeps its shape
// (see TkxStretchedText::KeepShape).
TkxMetafile StretchRecording(const TkxMetafile& metafile, int width, int height);

// The background picture of a document is a graphic that may be empty.
using TPicture = TGraphic;

// One slot of the engine's picture table: a picture the table owns, or the
// bytes of a TkxImageStream item (owned by that item, referred to here), or
// nothing (a slot reserved for a picture that comes later, or one already
// freed). Slots are never removed, so indexes stay valid.
struct TkxImageTableEntry {
  std::unique_ptr<TGraphic> Picture;
  const std::vector<uint8_t>* Stream = nullptr;
  bool Empty() const { return !Picture && !Stream; }
};

using TkxImageTable = std::vector<TkxImageTableEntry>;

}  // namespace pw
