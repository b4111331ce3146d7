#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and benchmark Paperwright.
# Idempotent: only packages that are not installed yet are fetched.
set -euo pipefail

BUILD_PKGS=(
  build-essential cmake pkg-config git
  zlib1g-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev
  libcairo2-dev libssl-dev libopenjp2-7-dev libjbig2dec0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libjemalloc-dev
)
# Fonts the renderer substitutes with (metric-compatible Arial/Times/Courier,
# the URW base-35 set and DejaVu as the general fallback).
FONT_PKGS=(fonts-liberation fonts-urw-base35 fonts-dejavu-core)
# Peers used by tests and benchmarks that compare against other tools (the
# tests skip cleanly when these are missing, but make test installs them),
# hyperfine, which times the benchmark scripts in bench/, the tools those
# scripts make their input files with (qpdf cuts and joins PDF files,
# ImageMagick and img2pdf make a scan), the profilers (perf, valgrind) used to
# find where conversion time goes, and clang-format, whose layout make test
# checks.
TEST_PKGS=(poppler-utils mupdf-tools libreoffice-writer-nogui hyperfine qpdf imagemagick img2pdf linux-perf valgrind clang-format)
if [ "${PAPERWRIGHT_MINIMAL_DEPS:-}" = 1 ]; then TEST_PKGS=(); fi

missing=()
for p in "${BUILD_PKGS[@]}" "${FONT_PKGS[@]}" "${TEST_PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
