#!/usr/bin/env bash
# Shows what Paperwright does with the bundled sample.
set -euo pipefail
build=${1:-build}
sample=examples/sample.pdf
target=out/sample.rtf
echo "== paperwright demo =="
echo "Reading $sample with '$build/cli/paperwright --info' (PDF version, encryption, pages, rotation, media box):"
echo
"$build/cli/paperwright" --info "$sample"
echo
echo "Converting $sample to $target:"
mkdir -p out
"$build/cli/paperwright" "$sample" "$target"
echo
echo "Done: the RTF document is $(pwd)/$target ($(wc -c <"$target") bytes)."
echo
echo "The desktop wizard: $build/app/wizard/paperwright-wizard $sample"
