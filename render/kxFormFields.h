// Interactive form fields on the page: after a page's content has run, its
// widget annotations are drawn so that filled-in values, ticked boxes,
// chosen options and button captions land on the canvas like other text.
//
// A widget with a normal appearance runs that appearance (a form XObject)
// mapped onto its rectangle; a widget without one (or a text or choice
// field of a form that asks the viewer to rebuild its appearances) is drawn
// directly from the field's value, default appearance, alignment and flags.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "pdf/kxPDFObjects.h"
#include "platform/kxGraphics.h"

namespace pw {

class TkxCustomPDFDocument;
class TkxPageRenderContext;

enum TkxFieldKind : uint8_t {
  fkPushButton = 0,
  fkRadioButton,
  fkCheckBox,
  fkText,
  fkOther,  // choice fields and unknown types
  fkSignature,
};

// The kind of a field from its type name (with or without "/") and flags.
TkxFieldKind FieldKind(std::string_view fieldType, int64_t flags);

// Whether an annotation of this subtype (without "/") other than a widget
// has its appearance drawn.
bool ShowsAppearance(std::string_view subtype);

// The installed family a field's font is drawn with, from its base font
// name (subset prefix removed or not).
std::string MapFieldFontName(const std::string& name);

// An appearance-characteristics colour array as ARGB: one number gray, three
// RGB, four CMYK. An empty array is no colour at all (false); anything else
// that is not a colour gives opaque black.
bool ColorFromArray(TkxCustomPDFDocument& doc, TkxPDFObject* array, uint32_t& argb);

// Draws the widgets of the page's /Annots (and the other annotations
// ShowsAppearance names) on the page session's graphics, in default page
// space (ctx.PageTransform). Annotations that cannot be read are skipped;
// nothing escapes.
class TkxFormFieldDrawer {
 public:
  // Widgets nested deeper than this (parents, kids) are not followed.
  static constexpr int kMaxFieldDepth = 32;
  static constexpr int kMaxWidgets = 20000;
  static constexpr size_t kMaxValueChars = 1u << 16;

  TkxFormFieldDrawer(TkxPageRenderContext& ctx, const TkxPDFDictObject* pageResources);
  void DrawFormFields();

 private:
  // What the drawing needs of one widget, its field's inherited entries
  // resolved.
  struct TkxWidgetField {
    TkxFieldKind Kind = fkOther;
    int64_t Flags = 0;
    std::u16string Value;                // text of the value (names without "/")
    std::vector<std::u16string> Values;  // every selected value of a choice field
    std::string State;                   // /AS without "/"
    std::string DA;                      // default appearance
    int Quadding = 0;
    int MaxLen = 0;
    TkxPDFObject* Opt = nullptr;      // choice options
    TkxPDFObject* Indices = nullptr;  // /I of a list box
    int TopIndex = 0;
  };
  struct TkxFieldFont {
    std::string Family = "Arial";
    int Style = 0;
    double Size = 0;  // 0: fit the rectangle
    uint32_t Argb = 0xFF000000u;
  };

  void DrawAnnotation(TkxPDFObject* entry, int depth);
  void DrawWidget(TkxPDFDictObject* widget);
  void DrawMarkup(TkxPDFDictObject* annot);
  // The annotation's /Rect ordered (x1 y1 x2 y2, lower-left first); false
  // when it is missing, not numbers or beyond any page.
  bool ReadRect(TkxPDFDictObject* annot, double rect[4]);
  TkxWidgetField ReadField(TkxPDFDictObject* widget);
  // The value of an inheritable field entry: the widget's own, else the
  // nearest ancestor's (nullptr when none has it).
  TkxPDFObject* Inherited(TkxPDFDictObject* widget, std::string_view key);
  bool DrawAppearance(TkxPDFDictObject* widget, const TkxWidgetField& field, const double rect[4]);
  void DrawFieldDirect(TkxPDFDictObject* widget, const TkxWidgetField& field, const double rect[4]);
  TkxFieldFont FontFromDA(TkxPDFDictObject* widget, const std::string& da);

  // Drawing in the field's own space (origin at the lower-left of its box,
  // y up): the box is w x h after the widget's rotation.
  void FillBox(const TkxMatrix& toPage, double x, double y, double w, double h, uint32_t argb);
  void DrawLineText(const TkxMatrix& toPage, const TkxFieldFont& font, double size, double x, double baseline,
                    const std::u16string& text);

  TkxPageRenderContext& ctx_;
  TkxCustomPDFDocument& doc_;
  const TkxPDFDictObject* pageResources_;
  TkxPDFDictObject* acroForm_ = nullptr;
  bool needAppearances_ = false;
  std::unordered_set<const TkxPDFObject*> drawn_;
  int widgets_ = 0;
};

}  // namespace pw
