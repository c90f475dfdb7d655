#!/usr/bin/env bash
# Runs the renderer-against-Xvfb comparison on an Xvfb of its own, started
# with the line bias that the renderer's lines use (216).
set -uo pipefail
source "$(dirname "$0")/../../tools/lib/common.sh"
trap hv_cleanup EXIT
hv_start_xvfb 24 -linebias 216 || exit 1
"$@"
