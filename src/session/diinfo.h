/* Connection information: the rows (property, value, kind) of what the
 * client knows about its session, built afresh from the outpost and the
 * machine's facts each time the window opens. "&Copy All" packs them. */
#ifndef HV_DIINFO_H
#define HV_DIINFO_H

#include "core/dilog.h"
#include "net/diroute.h"
#include "xml/qvlpackable.h"

#include <string>
#include <vector>

class CServerOutpost;
struct DiSCardApi;

/* Row kinds; each chooses the row's icon. */
enum {
    DI_INFO_SERVER = 0,
    DI_INFO_USER = 1,
    DI_INFO_VERSION = 2,
    DI_INFO_PLATFORM = 3,
    DI_INFO_DRIVES = 4,
    DI_INFO_PRINTERS = 5,
    DI_INFO_READER_EMPTY = 6,
    DI_INFO_READER_CARD = 7,
    DI_INFO_READER_UNAVAILABLE = 8,
    DI_INFO_READER_MUTE = 9,
    DI_INFO_SERIAL = 10,
};

/* A smart-card reader as the PC/SC service reports it. */
struct DiInfoReader {
    std::u16string name;
    uint32_t state = 0;       /* the service's event-state bits */
    std::vector<uint8_t> atr; /* the card's answer to reset, when one is present */
};

/* The row kind of a reader in that state: mute, unavailable, with a card,
 * else empty, tested in that order. */
int32_t diInfoReaderKind(uint32_t state);

class CConnectionInfoItem : public IDiTableRow, public IQVLPackable {
  public:
    CConnectionInfoItem(int32_t kind, const DiChar* property, const DiChar* value);
    /* property, TAB, value, CR LF */
    void Pack(CQVLPackBuffer* buffer) override;
    const DiChar* GetColumnText(int column) override;
    /* The texts of that column compared unit by unit. */
    int Compare(IDiTableRow* other, int column) override;
    std::u16string property, value;
    int32_t kind;
};

/* What the machine and its devices tell, gathered by the Windows side. */
struct DiInfoFacts {
    int32_t screenWidth = 0, screenHeight = 0, depth = 0;
    int32_t maxWidth = 0, maxHeight = 0;
    uint16_t osCode = 0;                /* high byte 2: Windows, low byte its version */
    const DiChar* osText = nullptr;     /* outside the Windows family */
    const DiRoute* httpProxy = nullptr; /* routes the outpost set, or none */
    const DiRoute* socksProxy = nullptr;
    const DiChar* localXDisplay = nullptr;
    /* The print queue's default printer and its printer list ("pn=",
     * "po=", "dn=", "dp=" lines); no queue: both none. */
    bool hasPrintQueue = false;
    const DiChar* defaultPrinter = nullptr;
    const DiChar* printerList = nullptr;
    /* Drive names with their type (1 fixed, 2 floppy, 4 CD/DVD, 8 network,
     * 0 unknown). */
    std::vector<std::pair<std::u16string, int>> drives;
    std::vector<DiInfoReader> readers;
    /* Serial ports: the local device the port opens and its announced name. */
    std::vector<std::pair<std::u16string, std::u16string>> serialPorts;
};

/* The readers the PC/SC service lists, with their states (none: no rows). */
void diInfoListReaders(const DiSCardApi* api, std::vector<DiInfoReader>* out);

class CConnectionInfo : public IQVLPackable {
  public:
    virtual ~CConnectionInfo();
    void Pack(CQVLPackBuffer* buffer) override;
    /* Replaces the rows. */
    void Refresh(CServerOutpost* outpost, const DiInfoFacts& facts);
    void AddItem(int32_t kind, const DiChar* property, const DiChar* value);
    void AddItemFormat(int32_t kind, const DiChar* property, const DiChar* format,
                       std::initializer_list<DiFmtArg> args);
    /* Message N as a text that lives as long as the model. */
    const DiChar* GetMessage(uint32_t message);
    std::vector<CConnectionInfoItem*> rows;

  private:
    std::vector<std::u16string*> messages;
    void Clear();
    void AddPrinters(const DiInfoFacts& facts);
    void AddDrives(const DiInfoFacts& facts);
    void AddReadersAndPorts(const DiInfoFacts& facts);
};

#endif
