/* "Connection &Info...": a fresh model of the session's facts in a table
 * window at every opening; the model and its window end with the outpost. */
#include "core/ddapp.h"
#include "session/ddso.h"
#include "session/ddtable.h"
#include "session/diinfo.h"
#include "session/diso.h"

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
    /* Printers, drives, smart-card readers and serial ports come with the
     * device channels; until then the rows have none. */
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
