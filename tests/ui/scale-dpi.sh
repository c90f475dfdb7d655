#!/usr/bin/env bash
# Runs the scaled view at LogPixels 144 on a private Xvfb, then puts 96
# back (scale-dpi.sh TEST.EXE).
source "$(dirname "$0")/../../tools/lib/common.sh"
exe=$1
key='HKCU\Control Panel\Desktop'
restore() {
    wine reg add "$key" /v LogPixels /t REG_DWORD /d 96 /f </dev/null >/dev/null 2>&1
    hv_cleanup
}
trap restore EXIT
hv_start_xvfb 24 || exit 1
wine reg add "$key" /v LogPixels /t REG_DWORD /d 144 /f </dev/null >/dev/null 2>&1 || exit 1
HV_EXPECT_LOGPIXELS=144 hv_wine "$exe" --gtest_filter=Scaled.ScaledViewFillsTheClientArea </dev/null
