/* "Connection &Info...": a fresh model of the session's facts in a table
 * window at every opening; the model and its window end with the outpost. */
#include "core/ddapp.h"
#include "devices/ddcdm.h"
#include "devices/didevice.h"
#include "devices/dipaip.h"
#include "devices/diprintq.h"
#include "devices/discard.h"
#include "devices/diserial.h"
#include "session/ddso.h"
#include "session/ddtable.h"
#include "session/diinfo.h"
#include "session/diso.h"
#include "session/disoaccess.h"

namespace {
class CConnectionInfoWindow : public CTableWindow {
  public:
    explicit CConnectionInfoWindow(CConnectionInfo* model)
        : CTableWindow(model, 2, L"connectioninfowidth", L"connectioninfoheight", 823) {
        SetColumn(0, L"Property", L"connectioninfopropertywidth");
        SetColumn(1, L"Value", L"connectioninfovaluewidth");
    }
    /* One icon per row kind; a reader with a card is 198, without one 199. */
    void LoadRowIcons() override {
        static const int kIcons[] = {192, 193, 194, 195, 196, 197, 199, 198, 200, 201, 207};
        for (int k = 0; k < 11; k++)
            kindImage[k] = AddIcon(kIcons[k]);
    }
    int ImageOf(int32_t kind) const { return kind >= 0 && kind < 11 ? kindImage[kind] : -1; }

  private:
    int kindImage[11] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

struct CWinConnectionInfo : CConnectionInfo {
    CConnectionInfoWindow* window = nullptr;
    ~CWinConnectionInfo() override { delete window; }
    void Show() {
        if (!window) {
            window = new (std::nothrow) CConnectionInfoWindow(this);
            if (!window) return;
            window->Show(true);
            for (size_t i = 0; i < rows.size(); i++)
                window->AddRow(rows[i], static_cast<int>(i + 1), window->ImageOf(rows[i]->kind));
            return;
        }
        window->Show(true);
    }
};

CWinConnectionInfo* g_info = nullptr;

/* The print queue's printers (pointers into the queue, which outlives the
 * refresh), the serial ports of the device list and, when that list holds a
 * smart-card device, the readers of the PC/SC service. */
void deviceFacts(CServerOutpost* so, DiInfoFacts* f) {
    if (!so) return;
    if (CPrintJobQueue* q = so->printJobs) {
        /* The channel's record is what the printers are now; without one,
         * what was last sent to the server. */
        DiChannel* pch = q->channel;
        const DiPrintClient* client = pch && pch->hdr.type == DI_OBJ_PRINT
                                          ? &reinterpret_cast<DiPrintChannel*>(pch)->client
                                          : nullptr;
        bool live = client && !client->description.empty();
        f->hasPrintQueue = true;
        f->defaultPrinter = live ? client->defaultName.c_str() : q->lastPrinterName.c_str();
        f->printerList = live ? client->list.c_str() : q->lastPrinterList.c_str();
    }
    DiChannel* ch = so->deviceListChannel;
    DiDeviceList* list = ch && ch->hdr.type == DI_OBJ_DEVLIST
                             ? diDeviceListOf(reinterpret_cast<DiIOChannel*>(ch))
                             : nullptr;
    if (!list || !list->devices) return;
    bool readersListed = false;
    for (uint32_t i = 0; i < list->count && i < DI_DEV_MAX; i++) {
        DiDevice* d = list->devices[i];
        if (!d) continue;
        if (d->deviceType == 0x20 && !readersListed) {
            readersListed = true;
            diInfoListReaders(g_diSCardApi, &f->readers);
        } else if (d->deviceType == 1 && d->classCode == 512 && d->deviceClass) {
            DiSerialDevice* port = reinterpret_cast<DiSerialDevice*>(d->deviceClass);
            f->serialPorts.emplace_back(port->name ? port->name : u"", d->name ? d->name : u"");
        }
    }
}

DiInfoFacts machineFacts() {
    DiInfoFacts f;
    f.screenWidth = g_ddApp->primaryMonitor.width;
    f.screenHeight = g_ddApp->primaryMonitor.height;
    if (f.screenWidth <= 0 || f.screenHeight <= 0) {
        f.screenWidth = GetSystemMetrics(SM_CXSCREEN);
        f.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    }
    f.depth = g_ddApp->depth;
    f.maxWidth = g_ddApp->usableWidth;
    f.maxHeight = g_ddApp->usableHeight;
    f.osCode = g_ddApp->clientInfo.osCode;
    f.osText = g_ddApp->clientInfo.osVersion;
    if (g_ddApp->httpProxyInUse) f.httpProxy = g_ddApp->opt.httpProxyRoute;
    if (g_ddApp->socksInUse) f.socksProxy = g_ddApp->opt.socksRoute;
    f.localXDisplay = ddSOLocalXDisplay();
    /* Drives, printers, readers and ports come with the device channels:
     * without a channel its rows are absent. */
    CServerOutpost* so = g_diOutpost;
    if (diSOGetDriveChannel()) {
        DiCDMDrive drives[26];
        uint32_t n = ddCDMListDrives(drives);
        for (uint32_t i = 0; i < n && i < 26; i++)
            f.drives.emplace_back(std::u16string(1, drives[i].root[0]), int(drives[i].kind));
    }
    DiChannel* devices = diSOGetDeviceListChannel();
    if (devices && devices->hdr.type == DI_OBJ_DEVLIST) {
        DiIOChannel* io = reinterpret_cast<DiIOChannel*>(devices);
        DiDeviceList* list = diDeviceListOf(io);
        if (list && list->count == 0) ddDevListBuildFor(io);
    }
    deviceFacts(so, &f);
    return f;
}
} // namespace

void ddSOShowConnectionInfo(void) {
    if (!g_diOutpost) return;
    delete g_info;
    g_info = new (std::nothrow) CWinConnectionInfo();
    if (!g_info) return;
    g_info->Refresh(g_diOutpost, machineFacts());
    g_info->Show();
}

void ddSOConnectionInfoDestroy(void) {
    delete g_info;
    g_info = nullptr;
}
