#include "platform/kxEmfDeviceContext.h"

#include <algorithm>
#include <cmath>

namespace pw {

double MillimetresPerUnit(uint32_t mapMode) {
  switch (mapMode) {
    case MM_LOMETRIC: return 0.1;
    case MM_HIMETRIC: return 0.01;
    case MM_LOENGLISH: return 0.254;
    case MM_HIENGLISH: return 0.0254;
    case MM_TWIPS: return 25.4 / 1440.0;
    default: return 0;
  }
}

bool ExtentScale(uint32_t mapMode, double windowExtX, double windowExtY, double viewportExtX, double viewportExtY,
                 double& sx, double& sy) {
  if (mapMode != MM_ISOTROPIC && mapMode != MM_ANISOTROPIC) return false;
  if (windowExtX == 0 || windowExtY == 0) return false;
  sx = viewportExtX / windowExtX;
  sy = viewportExtY / windowExtY;
  if (mapMode == MM_ISOTROPIC) {
    // One logical unit is as wide as it is high: the smaller scale wins.
    const double m = std::min(std::fabs(sx), std::fabs(sy));
    sx = std::copysign(m, sx);
    sy = std::copysign(m, sy);
  }
  return true;
}

bool IsFiniteMatrix(const TkxMatrix& m) {
  return std::isfinite(m.M11) && std::isfinite(m.M12) && std::isfinite(m.M21) && std::isfinite(m.M22) &&
         std::isfinite(m.DX) && std::isfinite(m.DY);
}

int32_t RoundToEmfCoordinate(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int32_t>(std::lrint(std::clamp(v, -double(1 << 28), double(1 << 28))));
}

TkxMatrix MatrixFromXForm(const TkxEmfXForm& x) { return {x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy}; }

TkxEmfXForm XFormFromMatrix(const TkxMatrix& m) {
  return {float(m.M11), float(m.M12), float(m.M21), float(m.M22), float(m.DX), float(m.DY)};
}

TkxMatrix TkxEmfDcTransform::Full() const {
  double sx = 1, sy = 1;
  const double mm = MillimetresPerUnit(mapMode);
  if (mm != 0) {
    sx = pxPerMMX * mm;
    sy = -pxPerMMY * mm;  // these modes count y upwards
  } else {
    ExtentScale(mapMode, wExtX, wExtY, vExtX, vExtY, sx, sy);
  }
  TkxMatrix page(sx, 0, 0, sy, vOrgX - wOrgX * sx, vOrgY - wOrgY * sy);
  return TkxMatrix::Product(world, page);
}

bool TkxEmfDcTransform::Apply(const TkxEmfRecord& r) {
  switch (r.Type()) {
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
      TkxEmfXForm x;
      uint32_t mode;
      if (!DecodeWorldTransform(r, x, mode)) return true;
      const TkxMatrix m = MatrixFromXForm(x);
      if (mode == MWT_IDENTITY)
        world = TkxMatrix();
      else if (mode == MWT_LEFTMULTIPLY)
        world = TkxMatrix::Product(m, world);
      else if (mode == MWT_RIGHTMULTIPLY)
        world = TkxMatrix::Product(world, m);
      else if (mode == MWT_SET)
        world = m;
      return true;
    }
    case EMR_SETMAPMODE:
      if (r.U32(8) >= MM_TEXT && r.U32(8) <= MM_ANISOTROPIC) mapMode = r.U32(8);
      return true;
    case EMR_SETWINDOWORGEX:
      wOrgX = r.I32(8);
      wOrgY = r.I32(12);
      return true;
    case EMR_SETWINDOWEXTEX:
      wExtX = r.I32(8);
      wExtY = r.I32(12);
      return true;
    case EMR_SETVIEWPORTORGEX:
      vOrgX = r.I32(8);
      vOrgY = r.I32(12);
      return true;
    case EMR_SETVIEWPORTEXTEX:
      vExtX = r.I32(8);
      vExtY = r.I32(12);
      return true;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      const int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
      if (xd == 0 || yd == 0) return true;
      double& ex = r.Type() == EMR_SCALEVIEWPORTEXTEX ? vExtX : wExtX;
      double& ey = r.Type() == EMR_SCALEVIEWPORTEXTEX ? vExtY : wExtY;
      ex = ex * xn / xd;
      ey = ey * yn / yd;
      return true;
    }
    default: return false;
  }
}

size_t RestoreCount(int32_t n, size_t depth) {
  if (n < 0) {
    const size_t k = static_cast<size_t>(-static_cast<int64_t>(n));
    return k <= depth ? k : 0;
  }
  if (n > 0 && static_cast<size_t>(n) <= depth) return depth - static_cast<size_t>(n) + 1;
  return 0;
}

}  // namespace pw
