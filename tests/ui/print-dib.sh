#!/usr/bin/env bash
# print-dib.sh TEST_PROGRAM [DOCUMENT]: prints a bitmap through the DIB
# print path to a PDF printer of a private CUPS server and checks the page
# (and, when DOCUMENT is given, that the job bore that name): the picture
# spans the page width at half that height (best fit of a 2:1 bitmap) with
# its four coloured quadrants in place. Exit 77 (skipped) when CUPS, the PDF
# backend or the PDF renderer is not installed.
set -uo pipefail
source "$(dirname "$0")/../../tools/lib/common.sh"
program=$1
document=${2:-}
source "$(dirname "$0")/../support/private-cupsd.sh"
queue=hvpdf$$
trap 'hv_cupsd_stop; hv_cleanup' EXIT
hv_cupsd_start
hv_cupsd_add_pdf "$queue"

HV_TEST_PRINTER=$queue hv_wine "$program" --gtest_filter='DibPrinter.*' </dev/null || exit 1

pdf=$(hv_cupsd_wait_pdf) || exit 1
# The PDF backend names its file after the job's title.
if [ -n "$document" ] && [[ "$(basename "$pdf")" != "$document"* ]]; then
    echo "the job is $(basename "$pdf"), not a document named $document"
    exit 1
fi
keep=$(dirname "$program")/print-dib
cp "$pdf" "$keep.pdf"
pdftoppm -r 30 -singlefile "$pdf" "$keep" || exit 1
/usr/bin/python3 - "$keep.ppm" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
magic, size, maxval, pixels = data.split(b'\n', 3)
w, h = map(int, size.split())
def at(x, y):
    i = (y * w + x) * 3
    return tuple(pixels[i:i + 3])
ink = [(x, y) for y in range(h) for x in range(w) if at(x, y) != (255, 255, 255)]
if not ink:
    sys.exit('the page is blank')
x0 = min(p[0] for p in ink); x1 = max(p[0] for p in ink)
y0 = min(p[1] for p in ink); y1 = max(p[1] for p in ink)
pw, ph = x1 - x0 + 1, y1 - y0 + 1
print(f'page {w}x{h}, picture {pw}x{ph} at ({x0},{y0})')
errors = []
if pw < 0.9 * w:
    errors.append('the picture does not span the page width')
if abs(ph / pw - 0.5) > 0.03:
    errors.append(f'the picture is {pw}x{ph}, not twice as wide as tall')
want = {(0.25, 0.25): (255, 0, 0), (0.75, 0.25): (0, 255, 0),
        (0.25, 0.75): (0, 0, 255), (0.75, 0.75): (0, 0, 0)}
for (fx, fy), rgb in want.items():
    got = at(int(x0 + fx * pw), int(y0 + fy * ph))
    if any(abs(a - b) > 40 for a, b in zip(got, rgb)):
        errors.append(f'quadrant at {fx},{fy} is {got}, not {rgb}')
if errors:
    sys.exit('; '.join(errors))
PY
