// Which kinds of content become document items: the set the engine is asked
// for (ItemsToRender) and the kinds its output format can hold (the first
// bits of OutputCapabilities). A kind is produced only when it is in both.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace pw {

// Kinds of content an engine accepts.
enum class TkxItemsToRenderKind : int { irText = 0, irImage = 1, irShape = 2 };

// A set of TkxItemsToRenderKind. Its mask has bit (1 << kind) per member, so
// 1 is text, 2 images and 4 shapes.
class TkxItemsToRender {
 public:
  constexpr TkxItemsToRender() = default;
  constexpr TkxItemsToRender(std::initializer_list<TkxItemsToRenderKind> kinds) {
    for (TkxItemsToRenderKind k : kinds) mask_ |= Bit(k);
  }
  static constexpr TkxItemsToRender All() { return FromMask(7); }
  // Bits other than the three are dropped.
  static constexpr TkxItemsToRender FromMask(int mask) {
    TkxItemsToRender s;
    s.mask_ = mask & 7;
    return s;
  }
  constexpr int Mask() const { return mask_; }
  constexpr bool Contains(TkxItemsToRenderKind k) const { return (mask_ & Bit(k)) != 0; }
  constexpr void Include(TkxItemsToRenderKind k) { mask_ |= Bit(k); }
  constexpr void Exclude(TkxItemsToRenderKind k) { mask_ &= ~Bit(k); }
  constexpr bool operator==(const TkxItemsToRender&) const = default;

 private:
  static constexpr int Bit(TkxItemsToRenderKind k) { return 1 << static_cast<int>(k); }
  int mask_ = 0;
};

// Bits of OutputCapabilities.
constexpr uint16_t ocText = 1 << 0;
constexpr uint16_t ocImages = 1 << 1;
constexpr uint16_t ocShapes = 1 << 2;
// A band whose bit is set is written only while page 1 is output.
constexpr uint16_t ocHeaderOnce = 1 << 3;
constexpr uint16_t ocFooterOnce = 1 << 4;
constexpr uint16_t ocUnderlayOnce = 1 << 5;
constexpr uint16_t ocOverlayOnce = 1 << 6;
// Picture-fitting variants of the picture writer.
constexpr uint16_t ocFitVariantA = 1 << 7;
constexpr uint16_t ocFitVariantB = 1 << 8;
// Page recordings are processed as recorded, without the resolution step.
constexpr uint16_t ocRecordingAsIs = 1 << 9;

// True when `kind` is in `items` and its format bit is in `capabilities`
// (ocText, ocImages and ocShapes are the bits of the three kinds).
constexpr bool RendersKind(TkxItemsToRender items, uint16_t capabilities, TkxItemsToRenderKind kind) {
  return items.Contains(kind) && (capabilities & (1u << static_cast<int>(kind))) != 0;
}

}  // namespace pw
