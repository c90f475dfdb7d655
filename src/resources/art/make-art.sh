#!/bin/sh
# Draws the client's icons, cursor and logo with ImageMagick. The results
# are committed; run this only to change the artwork.
set -e
cd "$(dirname "$0")"
BLUE='#1f4e9a'
# Application: a blue rounded square with two interlocking white halves.
convert -size 64x64 xc:none -fill "$BLUE" -draw "roundrectangle 4,4 59,59 12,12" \
    -fill white -draw "rectangle 16,14 27,50" -draw "rectangle 37,14 48,50" -draw "rectangle 16,28 48,36" \
    -define icon:auto-resize=48,32,16 app.ico
# Tray: grey when not connected, green when connected.
for pair in "tray_off.ico:#8a8a8a" "tray_on.ico:#2e9a3c"; do
    name=${pair%%:*}; colour=${pair#*:}
    convert -size 64x64 xc:none -fill "$colour" -draw "roundrectangle 4,4 59,59 12,12" \
        -fill white -draw "rectangle 16,14 27,50" -draw "rectangle 37,14 48,50" -draw "rectangle 16,28 48,36" \
        -define icon:auto-resize=32,16 "$name"
done
# Event levels: red disc with a cross, yellow triangle with a bar, blue disc with an i.
convert -size 64x64 xc:none -fill '#c62828' -draw "circle 32,32 32,4" -stroke white -strokewidth 8 \
    -draw "line 20,20 44,44" -draw "line 44,20 20,44" -define icon:auto-resize=32,16 error.ico
convert -size 64x64 xc:none -fill '#f9a825' -draw "polygon 32,4 60,58 4,58" -fill black \
    -draw "rectangle 29,22 35,44" -draw "rectangle 29,48 35,53" -define icon:auto-resize=32,16 warning.ico
convert -size 64x64 xc:none -fill '#1565c0' -draw "circle 32,32 32,4" -fill white \
    -draw "rectangle 28,28 36,50" -draw "circle 32,18 32,13" -define icon:auto-resize=32,16 info.ico
# Sort arrows.
convert -size 64x64 xc:none -fill '#404040' -draw "polygon 32,14 54,48 10,48" -define icon:auto-resize=16 sort_up.ico
convert -size 64x64 xc:none -fill '#404040' -draw "polygon 10,16 54,16 32,50" -define icon:auto-resize=16 sort_down.ico
# Rectangle selection cursors: a thin cross, hot spot at its centre.
convert -size 32x32 xc:none -fill black -draw "rectangle 15,2 16,29" -draw "rectangle 2,15 29,16" \
    -fill white -draw "rectangle 15,13 16,18" -draw "rectangle 13,15 18,16" select.ico
# Before the drag starts: the cross with a small dashed frame beside it.
convert -size 32x32 xc:none -fill black -draw "rectangle 15,2 16,29" -draw "rectangle 2,15 29,16" \
    -fill white -draw "rectangle 15,13 16,18" -draw "rectangle 13,15 18,16" \
    -fill none -stroke black -strokewidth 1 -draw "stroke-dasharray 2 2 rectangle 20,20 30,30" \
    area.ico
python3 - <<'PY'
for name in ("select", "area"):
    data = bytearray(open(name + ".ico", "rb").read())
    data[2] = 2                      # resource type 2: cursor
    data[6 + 4:6 + 8] = (15).to_bytes(2, "little") + (15).to_bytes(2, "little")  # hot spot
    open(name + ".cur", "wb").write(bytes(data))
PY
rm -f select.ico area.ico
# Logo: product name on a blue band.
convert -size 240x60 xc:"$BLUE" -fill white -font DejaVu-Sans-Bold -pointsize 30 -gravity west \
    -annotate +14+0 'Halvanet' -type TrueColor BMP3:logo.bmp
# Connection-information rows: a coloured tile with a letter per kind
# (server, user, version, platform, drives, printers, reader without and
# with a card, reader unavailable, reader mute, serial port).
for row in "info_server:#1f4e9a:S" "info_user:#6a1b9a:U" "info_version:#00838f:V" \
    "info_platform:#37474f:P" "info_drives:#8d6e63:D" "info_printers:#455a64:R" \
    "info_reader:#2e7d32:C" "info_card:#f9a825:C" "info_reader_off:#9e9e9e:C" \
    "info_reader_mute:#c62828:C" "info_serial:#ef6c00:L"; do
    name=${row%%:*}; rest=${row#*:}; colour=${rest%%:*}; letter=${rest#*:}
    convert -size 64x64 xc:none -fill "$colour" -draw "roundrectangle 4,4 59,59 10,10" \
        -fill white -font DejaVu-Sans-Bold -pointsize 40 -gravity center -annotate +0+0 "$letter" \
        -define icon:auto-resize=32,16 "$name.ico"
done
