/* Local printers and printing, Windows half: the default printer, the
 * description of the client's printers, and the three ways a print leaves
 * the client: a spool file raw through the spooler, a spool file through
 * the local PDF reader, and a text on the default printer. Every print
 * answers 0 or -1 and is followed by the print-complete or print-error
 * sound. GUI thread. */
#ifndef HV_DDPRINT_H
#define HV_DDPRINT_H

#include "dd.h"
#include "devices/diprint.h"

/* The default printer's name from the print dialog's default mode, or the
 * marker kDiPrintNoDefault. */
std::u16string ddPrintDefaultName(void);
/* Describes the client and its printers ("PrinterOptions": bit 2 asks the
 * print servers for the port names at level 2, bit 1 with it only servers
 * that have a name). False without a default printer (no description). */
bool ddPrintDescribeClient(DiPrintClient* out);
/* Prints the spool file raw on `printer` (empty: the default). The name
 * must be one the client offered; on failure `*error` keeps the system's
 * error code. */
int ddPrintRaw(const wchar_t* path, const std::u16string& printer, const DiPrintClient& client,
               DWORD* error);
/* Hands the spool file to the PDF reader (kind 1 printed, 2 shown). */
int ddPrintPdf(const wchar_t* path, bool printDialog, uint32_t kind, const DiPrintClient& client);
/* The PDF reader's program; `probe` writes the lookup to the trace. */
bool ddPrintFindReader(std::wstring* path, bool probe);
/* Prints a text (CF_TEXT and CF_OEMTEXT in their code pages, CF_UNICODETEXT
 * as UTF-16; up to a terminator or the data's end) on the default printer
 * as document "MyDoc", a new page whenever the page is full. */
int ddPrintText(const uint8_t* data, uint32_t length, UINT format);

#endif
