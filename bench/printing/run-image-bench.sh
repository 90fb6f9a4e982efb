#!/usr/bin/env bash
# Image printing benchmark on a private scheduler (as root):
#   bench/printing/run-image-bench.sh [BUILD_DIR] [ROUNDS]
# Starts cups-fixture.sh in a temporary directory, makes the 4000x3000
# JPEG, measures PrintImageFile against `lp -o fill` on the cups-pdf queue,
# stops the scheduler.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
rounds=${2:-3}
bench=$build/printing_image_bench  # executables land at the top of the build tree
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target printing_image_bench)" >&2; exit 1; }
work=$(mktemp -d /tmp/quorvin-image-bench-XXXXXX)
trap '"$here/../../tests/fixtures/cups-fixture.sh" stop "$work/cups"; rm -rf "$work"' EXIT
"$here/../../tests/fixtures/cups-fixture.sh" start "$work/cups" >/dev/null
set -a; . "$work/cups/env"; set +a
"$bench" make "$work/photo.jpg"
echo "JPEG 4000x3000, $(stat -c %s "$work/photo.jpg") bytes"
"$bench" measure "$work/photo.jpg" "$QUORVIN_CUPS_PDF_QUEUE" "$rounds"
