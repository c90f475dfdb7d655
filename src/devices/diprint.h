/* Local printing, portable half: the client description and the
 * printer-description list sent to the server, the capability items made
 * from them, the printer names a server may print to, the command line of
 * the PDF reader, and the lines of a printed text.
 *
 * The list is one text of entries, each a run of "key=value\n" lines
 * starting with "pn=" (printer name), then "po=" (port, only when it differs
 * from the name), "dp=" (driver file) and "dn=" (driver name). */
#ifndef HV_DIPRINT_H
#define HV_DIPRINT_H

#include "di.h"

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

/* Stands for the default printer's name when there is none. */
extern const char16_t* const kDiPrintNoDefault;
/* The PDF entry's printer name. */
extern const char16_t* const kDiPrintPdfName;

/* One described printer. */
struct DiPrinter {
    std::u16string name;
    std::u16string port;       /* empty: not known, the printer is not described */
    std::u16string driverPath; /* as the system gives it (a path) */
    std::u16string driverName; /* empty: the driver could not be read, not described */
};

/* What the Windows side found on the system. */
struct DiPrintSystem {
    bool nt;                    /* Windows NT family, else 9x */
    uint32_t major;             /* major version */
    bool pdfReader;             /* a PDF reader exists */
    std::u16string defaultName; /* empty: no default printer */
    std::vector<DiPrinter> printers;
    /* The default printer's driver read on its own: used when the default
     * is not among the described printers. */
    std::u16string defaultDriverPath, defaultDriverName;
};

/* The printer record a print channel keeps. */
struct DiPrintClient {
    std::u16string osWord;
    std::u16string description; /* "os=...&driver=..." */
    std::u16string defaultName;
    std::u16string list; /* the printer-description list, or the default's name */
    std::u16string driverName;
    std::u16string driverEnv; /* "W32x86:<driver name>" */
};

/* Builds the record from the system's facts. False when there is no
 * default printer or no operating-system word (Windows 9x before 4): no
 * description then. */
bool diPrintDescribe(const DiPrintSystem& sys, DiPrintClient* out);
/* The file name after the last backslash of a driver path. */
std::u16string diPrintDriverFile(const std::u16string& path);

/* One capability item: a text or an integer, possibly not to be shown. */
struct DiPrintItem {
    const char* name;
    std::u16string text;
    int32_t number;
    bool isNumber;
    bool hidden;
};
/* The printer items of the client's capabilities; empty without a
 * description. */
std::vector<DiPrintItem> diPrintCapabilityItems(const DiPrintClient& client);

/* The fields of the entry whose printer name equals `name` (any case).
 * False when there is none. */
bool diPrintFindEntry(const std::u16string& list, const std::u16string& name, DiPrinter* out);
/* The printer a server's job may be printed on: a name of the list sent
 * (any case; the PDF entry is no printer) or the default; else false. An
 * empty name means the default printer. `*use` is the name to open. */
bool diPrintAcceptName(const DiPrintClient& client, const std::u16string& name,
                       std::u16string* use);

/* The PDF reader's parameters: the user's text, or the built-in ones for
 * the print-dialog flag and the job kind (2: shown). A user's text whose
 * second character is 't' is replaced by the built-in four arguments. */
std::u16string diPrintPdfParameters(const std::u16string* user, bool printDialog, uint32_t kind);
/* The printer the parameters name: the first quoted argument after their
 * first '%'; empty when that is "%s" or there is none (the default). */
std::u16string diPrintParametersPrinter(const std::u16string& params);
/* Substitutes each "%s" of the parameters with the next argument (empty
 * past the last) and "%%" with "%"; everything else is literal. False when
 * an argument holds a double quote or ends in a backslash (it would change
 * how the line splits), or the line would exceed `limit` characters. */
bool diPrintFormatLine(const std::u16string& params, const std::u16string* args, size_t count,
                       size_t limit, std::u16string* out);

/* Copies a spool file to the printer in blocks of 1024 bytes. Every
 * block must be taken whole: a printer that takes less has cut the job,
 * which then fails rather than being reported printed. */
enum DiPrintCopyResult { DI_PRINT_COPIED = 0, DI_PRINT_READ_FAILED, DI_PRINT_WRITE_FAILED };
typedef bool (*DiPrintReadFn)(void* ctx, uint8_t* buf, uint32_t size, uint32_t* got);
typedef bool (*DiPrintWriteFn)(void* ctx, const uint8_t* buf, uint32_t size, uint32_t* taken);
DiPrintCopyResult diPrintCopyBlocks(DiPrintReadFn read, void* source, DiPrintWriteFn write,
                                    void* sink);

/* One line of a printed text: units [start, start + length). */
struct DiPrintLine {
    size_t start, length;
};
/* Splits UTF-16 text at CR, LF or CR LF, up to a zero unit or the end; the
 * last line ends at the data's end. */
std::vector<DiPrintLine> diPrintSplitLines(const char16_t* text, size_t n);

#endif
