// The content interpreter: runs the operators of a page's (or a form's)
// content stream against a graphics state and draws through the graphics
// interface of the platform.
//
// The page session (TkxPageRenderContext) holds what all runs of one page
// share: the document, the graphics object, the transform from default page
// space to the canvas, the fonts loaded for the page, decoded forms and the
// guards against hostile content. One TkxPDFContentStreamParser runs one
// content stream; forms run in a parser of their own, nested.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "pdf/kxPDFObjects.h"
#include "platform/kxGraphics.h"
#include "render/kxContentLexer.h"
#include "render/kxDocumentFonts.h"
#include "render/kxGraphicsState.h"
#include "render/kxPDFFontObject.h"
#include "render/kxTextDrawing.h"

namespace pw {

class TkxCustomPDFDocument;

class TkxPageRenderContext {
 public:
  // Limits that keep hostile content finite.
  static constexpr int kMaxFormDepth = 16;       // forms inside forms
  static constexpr int kMaxFormRuns = 100000;    // form runs per page
  static constexpr size_t kMaxStateDepth = 256;  // nested q
  static constexpr size_t kMaxOperands = 4096;   // operand stack
  static constexpr size_t kMaxFormCacheBytes = size_t(256) << 20;

  TkxPageRenderContext(TkxCustomPDFDocument& doc, TkxGraphics& g, int page);
  ~TkxPageRenderContext();

  TkxCustomPDFDocument& Document() { return doc_; }
  TkxGraphics& Graphics() { return g_; }
  int PageNumber() const { return page_; }

  // Default page space to the canvas in points: set by the page renderer
  // (flip, crop box origin, rotation).
  TkxMatrix PageTransform;
  // Fonts shared with the other pages of the document; null: fonts are
  // loaded for this page alone.
  TkxDocumentFonts* DocumentFonts = nullptr;

  // The font of a font dictionary, loaded once per page whatever resource
  // name or form names it; never nullptr for a dictionary (a font that
  // cannot be read is drawn with the default font). resourceName is the key
  // it was found under, "/" included. source is the object the dictionary
  // was resolved from: a font named by reference is kept in DocumentFonts
  // (when set) for the pages after this one.
  TkxTextFont* FontFor(TkxPDFDictObject* fontDict, const std::string& resourceName,
                       const TkxPDFObject* source = nullptr);
  // The font used when text is shown before any font was selected.
  TkxTextFont* DefaultFont();
  // The font objects loaded for the page, in load order.
  const TkxPDFFontList& PageFonts() const { return pageFonts_; }

  // Decoded form content (shared while the page is drawn).
  std::shared_ptr<const std::vector<uint8_t>> FormContent(const TkxPDFStreamObject& form);

  // Form recursion guard: Enter fails when the form is already running, the
  // nesting is too deep or the page has run too many forms.
  bool EnterForm(const TkxPDFStreamObject* form);
  void LeaveForm(const TkxPDFStreamObject* form);
  int FormDepth() const { return static_cast<int>(activeForms_.size()); }

  // Text runs that continue one another (same font, size, colour and
  // direction, on the same baseline, the next starting where the previous
  // ended or one word space after it) are drawn as one string, so that
  // producers that place every glyph or word with an operator of its own do
  // not leave the text in pieces. QueueRun holds a run back for that; Flush
  // draws what is held (the parser calls it before anything else is drawn
  // or the clip changes).
  bool JoinRuns = true;
  // When set, text runs whose start lies outside this box (canvas units,
  // widened by nine tenths of the run's em) are not drawn: the lines an
  // annotation's appearance scrolls out of its rectangle.
  std::optional<TkxRectF> TextBounds;
  void QueueRun(TkxTextFont& font, TkxTextRun run, const TkxMatrix& end);
  void FlushText();

  // Called for image XObjects (with their resource name, without "/") and
  // inline images, with the resources of the content that draws them
  // (nothing is drawn without a handler).
  std::function<void(const TkxPDFStreamObject& image, const std::string& name, const TkxPDFDictObject* resources,
                     const TkxGraphicalState& state)>
      OnImage;
  std::function<void(const TkxOperand& dict, std::string_view data, const TkxPDFDictObject* resources,
                     const TkxGraphicalState& state)>
      OnInlineImage;
  // Shadings are painted as pictures; a reader that keeps only the text
  // turns this off and they are not rasterised at all.
  bool PaintShadings = true;

 private:
  TkxCustomPDFDocument& doc_;
  TkxGraphics& g_;
  int page_;
  TkxPDFFontList pageFonts_;
  std::unordered_map<const TkxPDFDictObject*, TkxTextFont*> fonts_;  // owned here or by DocumentFonts
  std::vector<std::unique_ptr<TkxTextFont>> ownFonts_;
  std::unique_ptr<TkxTextFont> defaultFont_;
  std::unordered_map<const TkxPDFStreamObject*, std::shared_ptr<const std::vector<uint8_t>>> forms_;
  size_t formBytes_ = 0;
  std::vector<const TkxPDFStreamObject*> activeForms_;
  TkxTextFont* pendingFont_ = nullptr;  // a run is held back when set
  TkxTextRun pending_;
  TkxMatrix pendingEnd_;
  int formRuns_ = 0;
};

class TkxPDFContentStreamParser {
 public:
  // A run with the given resources (may be null) starting from a graphics state.
  TkxPDFContentStreamParser(TkxPageRenderContext& ctx, const TkxPDFDictObject* resources,
                            const TkxGraphicalState& initial);
  ~TkxPDFContentStreamParser();

  // Runs the whole content. Content errors never escape: an operator whose
  // operands do not fit is skipped. Errors of the document layer (a stream
  // that cannot be decoded inside a form) end only that form.
  void Interpret(const uint8_t* data, size_t size);
  void Interpret(std::string_view content) {
    Interpret(reinterpret_cast<const uint8_t*>(content.data()), content.size());
  }

  const TkxGraphicalState& State() const { return st_; }
  size_t StateDepth() const { return stack_.size(); }
  size_t OperandCount() const { return operands_.size(); }
  const TkxMatrix& TextMatrix() const { return tm_; }

  // Runs a form XObject from this parser's current state (its /Matrix on
  // the current transformation, clipped to its /BBox); also how annotation
  // appearances are drawn.
  void RunForm(const TkxPDFStreamObject& form);

 private:
  struct SavedState {
    TkxGraphicalState State;
    TkxGraphicsSaveToken Token;
  };

  void Dispatch(const std::string& op);
  // The slot the next operand is read into: slots keep their storage from
  // operator to operator, so reading allocates only when an operand is
  // larger than any before it in its slot.
  TkxOperand& NextOperandSlot();
  // Takes the operand read into the next slot.
  void KeepOperand();

  // Operand access: the last n operands as numbers; false when there are
  // fewer or any of them is not a number.
  bool Numbers(size_t n, double* out) const;
  const TkxOperand* Last(size_t back = 0) const;

  // Shadings ("sh") and fills in a pattern space.
  const TkxPDFObject* Resource(const char* category, const std::string& name);
  void PaintShadingResource(const std::string& name);
  // Fills the path with the current pattern; false when it cannot, so that
  // the path is filled with the current colour instead.
  bool FillWithPattern();

  // Graphics state.
  void SaveState();
  void RestoreState();
  void ConcatMatrix(const TkxMatrix& m);
  void ApplyExtGState(const std::string& name);
  void SetDash(const TkxOperand& array, double phase);
  void SetDeviceColor(bool fill, TkxColorSpaceKind kind, const double* comps, size_t n);
  void SetColorSpace(bool fill, const std::string& name);
  void SetColorInSpace(bool fill);

  // Paths.
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void CurveTo(const TkxPointF& c1, const TkxPointF& c2, const TkxPointF& p);
  void Rectangle(double x, double y, double w, double h);
  void ClosePath();
  void PaintPath(bool close, bool fill, bool evenOdd, bool stroke);
  void UseCtm();

  // Text.
  void BeginText();
  void SetFont(const std::string& name, double size);
  void MoveText(double tx, double ty);
  void NextLine();
  void ShowText(const TkxOperand& operand);
  void ShowDecoded(const TkxDecodedText& text);

  // XObjects and inline images.
  void DoXObject(const std::string& name);
  void InlineImage();

  TkxPageRenderContext& ctx_;
  const TkxPDFDictObject* resources_;
  TkxOperandReader* reader_ = nullptr;

  TkxGraphicalState st_;
  std::vector<SavedState> stack_;
  size_t overflowSaves_ = 0;  // "q" beyond the depth limit, matched by "Q" first

  // The operands since the last operator are the first operandCount_.
  std::vector<TkxOperand> operands_;
  size_t operandCount_ = 0;
  // Storage of the last shown text, lent to the next.
  TkxDecodedText spareDecoded_;

  // Path under construction.
  TkxGraphicsPath path_;
  bool hasCurrent_ = false;
  TkxPointF current_, start_;
  int pendingClip_ = 0;  // 0 none, 1 nonzero, 2 even-odd

  // Text object.
  bool inText_ = false;
  TkxMatrix tm_, tlm_;
};

}  // namespace pw
