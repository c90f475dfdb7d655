/* Bitmap headers of the X display's pixel buffers (see ddxpix.h). */
#include "ui/ddxpix.h"

#include <string.h>

int ddXPixmapSetBitmapInfo(DdXBitmapInfo* info, int32_t width, int32_t height, int32_t depth) {
    if (!info || (depth != 8 && depth != 16 && depth != 24 && depth != 32)) return -1;
    memset(info, 0, sizeof *info);
    BITMAPINFOHEADER& h = info->header;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(depth);
    h.biCompression = BI_RGB;
    if (depth == 8) {
        h.biClrUsed = h.biClrImportant = 256;
        for (int i = 0; i < 256; i++)
            info->indexes[i] = WORD(i);
    } else if (depth == 16) {
        h.biCompression = BI_BITFIELDS;
        info->masks[0] = 0xF800;
        info->masks[1] = 0x07E0;
        info->masks[2] = 0x001F;
    }
    return 0;
}
