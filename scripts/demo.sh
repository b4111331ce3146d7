#!/usr/bin/env bash
# Shows what Paperwright does with the bundled sample.
set -euo pipefail
build=${1:-build}
sample=examples/sample.pdf
"$build/cli/paperwright" --info "$sample"
