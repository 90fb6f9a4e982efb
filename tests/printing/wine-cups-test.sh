#!/usr/bin/env bash
# wine-cups-test.sh WINE-RUN PREFIX PROGRAM.exe: the printing tests of the
# Windows build against the private CUPS scheduler of the "cups" fixture.
# Wine reads CUPS_SERVER from its Unix environment (a Windows program
# cannot set it for wine's spooler), so it is exported here from the
# fixture's env file; then the program runs under wine, and the page its
# GDI print job left in the cups-pdf queue's output is rendered with
# pdftoppm and its pixels checked as ImagePrintCupsTest.cpp checks them.
set -euo pipefail
wine_run=$1 prefix=$2 program=$3
[ -n "${QUORVIN_CUPS_ENV:-}" ] && [ -f "$QUORVIN_CUPS_ENV" ] || { echo "the cups fixture is not running" >&2; exit 1; }
while IFS='=' read -r name value; do
    case $name in CUPS_SERVER|CUPS_SERVERROOT|QUORVIN_CUPS_PDF_OUT) export "$name=$value" ;; esac
done <"$QUORVIN_CUPS_ENV"
PATH=$PATH:/usr/sbin
# The queues in their starting state, as CupsTestBase.h leaves them.
cancel -a PDF EVE 2>/dev/null || true
lpadmin -d PDF
lpadmin -p PDF -o media-default=iso_a4_210x297mm -o copies-default=1 -o orientation-requested-default=3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/start"
"$wine_run" "$prefix" "$program" --gtest_brief=1 | tee "$work/out"
grep -q '^printed job [1-9]' "$work/out" || { echo "no image job was submitted" >&2; exit 1; }

# The job's PDF: the newest one cups-pdf wrote since the run began.
pdf=
for _ in $(seq 300); do
    pdf=$(find "$QUORVIN_CUPS_PDF_OUT" -name '*.pdf' -newer "$work/start" -size +0 | head -n 1)
    [ -n "$pdf" ] && ! lpstat -o PDF 2>/dev/null | grep -q . && break
    pdf=
    sleep 0.2
done
[ -n "$pdf" ] || { echo "cups-pdf wrote no page for the GDI job" >&2; lpstat -W all -o >&2 || true; exit 1; }
echo "page: $pdf"
pdfinfo "$pdf" | grep -E 'Title|Page size'
# The job is named after the image's path (StartDoc's document name).
pdfinfo "$pdf" | grep -q '^Title: .*/wine-quad\.png$' || { echo "the job is not named after the image" >&2; exit 1; }
pdftoppm -r 36 -singlefile "$pdf" "$work/page"
python3 - "$work/page.ppm" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
parts = data.split(maxsplit=4)
assert parts[0] == b'P6', 'not a PPM'
w, h = int(parts[1]), int(parts[2])
pix = parts[4]
def at(fx, fy):
    x, y = min(w - 1, int(fx * w)), min(h - 1, int(fy * h))
    i = (y * w + x) * 3
    return tuple(pix[i:i + 3])
red, white, blue, green = (230, 20, 20), (255, 255, 255), (20, 20, 230), (20, 200, 20)
checks = [(0.25, 0.25, red), (0.75, 0.25, white), (0.25, 0.75, blue), (0.75, 0.75, green),
          (0.45, 0.45, red), (0.55, 0.55, green),
          # stretched over the printable area: near the page's corners too
          (0.06, 0.06, red), (0.94, 0.94, green), (0.06, 0.94, blue)]
bad = [(fx, fy, at(fx, fy), want) for fx, fy, want in checks
       if any(abs(a - b) > 40 for a, b in zip(at(fx, fy), want))]
print('page %dx%d px' % (w, h))
for fx, fy, got, want in bad:
    print('at (%.2f,%.2f) got %s want %s' % (fx, fy, got, want))
sys.exit(1 if bad else 0)
PY
