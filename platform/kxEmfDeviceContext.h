// What the metafile players keep of a GDI device context: the map-mode
// arithmetic (shared with the metafile processor's drawing state), the
// logical-to-device transform of world transform, window and viewport, and
// the depth arithmetic of EMR_RESTOREDC.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kxEmf.h"
#include "platform/kxGraphics.h"

namespace pw {

// Millimetres per logical unit of the fixed map modes (MM_LOMETRIC to
// MM_TWIPS); 0 for every other mode.
double MillimetresPerUnit(uint32_t mapMode);

// Device units per logical unit of MM_ISOTROPIC and MM_ANISOTROPIC: the
// viewport extent over the window extent each way; MM_ISOTROPIC takes the
// smaller of the two both ways, keeping their signs. False, leaving sx and
// sy alone, for another mode or a window extent of 0.
bool ExtentScale(uint32_t mapMode, double windowExtX, double windowExtY, double viewportExtX, double viewportExtY,
                 double& sx, double& sy);

bool IsFiniteMatrix(const TkxMatrix& m);
// Rounded and kept well inside the 32-bit range; 0 for NaN and infinities.
int32_t RoundToEmfCoordinate(double v);
TkxMatrix MatrixFromXForm(const TkxEmfXForm& x);
TkxEmfXForm XFormFromMatrix(const TkxMatrix& m);

// How a device context turns logical coordinates into device pixels: the
// world transform, then the window-to-viewport mapping of the map mode.
struct TkxEmfDcTransform {
  TkxMatrix world;
  uint32_t mapMode = MM_TEXT;
  double wOrgX = 0, wOrgY = 0, wExtX = 1, wExtY = 1;
  double vOrgX = 0, vOrgY = 0, vExtX = 1, vExtY = 1;
  double pxPerMMX = 96 / 25.4, pxPerMMY = 96 / 25.4;

  TkxMatrix Full() const;
  // Applies a transform-changing record; false for any other record.
  bool Apply(const TkxEmfRecord& r);
};

// Saved-state depth bookkeeping for EMR_RESTOREDC: the number of states a
// restore pops, or 0 when it cannot be honoured.
size_t RestoreCount(int32_t n, size_t depth);

}  // namespace pw
