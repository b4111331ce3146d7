#!/usr/bin/env bash
# Shows what Paperwright does with the bundled sample.
set -euo pipefail
build=${1:-build}
sample=examples/sample.pdf
echo "== paperwright demo =="
echo "Reading $sample with '$build/cli/paperwright --info' (PDF version, encryption, pages, rotation, media box):"
echo
"$build/cli/paperwright" --info "$sample"
echo
echo "Done: $sample was read completely and its page list printed above."
