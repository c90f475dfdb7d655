/* Device-independent bitmaps on Windows: a packed DIB in movable global
 * memory made from a bitmap, and printing one on a page. */
#ifndef HV_DDDIB_H
#define HV_DDDIB_H

#include "dd.h"

/* Print results. */
enum : int {
    DD_DIB_PRINT_OK = 0,
    DD_DIB_PRINT_LOCK_FAILED = 3,
    DD_DIB_PRINT_STRETCH_FAILED = 9,
    DD_DIB_PRINT_STARTDOC_FAILED = 11,
    DD_DIB_PRINT_STARTPAGE_FAILED = 14,
    DD_DIB_PRINT_ENDPAGE_FAILED = 16,
    DD_DIB_PRINT_ENDDOC_FAILED = 17,
    DD_DIB_PRINT_NO_DIB = 20,
};

/* A packed DIB of the bitmap as seen through `palette` (the default
 * palette when NULL); NULL on failure. */
HGLOBAL ddDIBFromBitmap(HBITMAP bitmap, HPALETTE palette);
int ddDIBFree(HGLOBAL dib);
/* Prints the DIB on one page in scale mode 0-3 (DiDIBPrintMode) as a
 * document of the given name ("Bitmap" when none); returns a print result.
 * A block that does not hold a whole DIB is "no DIB". */
int ddDIBPrint(HDC printer, HGLOBAL dib, uint32_t mode, int32_t factorX, int32_t factorY,
               const wchar_t* docName = nullptr);

#endif
