#include "session/ddlog.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "session/ddtable.h"

#include <string>

namespace {
const UINT kDrainMessage = WM_APP + 1;
const wchar_t kPumpClass[] = L"HvLogPump";

class DdFileSink : public DiLogSink {
  public:
    explicit DdFileSink(HANDLE h) : file(h) {}
    ~DdFileSink() override {
        FlushFileBuffers(file);
        CloseHandle(file);
    }
    bool Write(const void* data, size_t size) override {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            DWORD chunk = size > 0x100000 ? 0x100000 : DWORD(size), done = 0;
            if (!WriteFile(file, p, chunk, &done, nullptr) || done == 0) return false;
            p += done;
            size -= done;
        }
        return true;
    }

  private:
    HANDLE file;
};

LRESULT CALLBACK pumpProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kDrainMessage) {
        auto* log = reinterpret_cast<CLogFile*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (log) log->Drain();
        return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

/* The logger as "&Copy All" packs it. */
struct LogPacker : IQVLPackable {
    CLog* log;
    explicit LogPacker(CLog* l) : log(l) {}
    void Pack(CQVLPackBuffer* b) override { log->WriteEntries(b); }
};

CLogFile* g_current = nullptr;
} // namespace

class CEventLogWindow : public CTableWindow {
  public:
    explicit CEventLogWindow(CLog* log)
        : CTableWindow(&packer, 4, L"eventlogwidth", L"eventlogheight", 940), packer(log) {
        SetColumn(0, L"Type", L"eventlogtypewidth");
        SetColumn(1, L"Event", L"eventlogeventwidth");
        SetColumn(2, L"Date", L"eventlogdatewidth");
        SetColumn(3, L"Details", L"eventlogdetailswidth");
    }
    void LoadRowIcons() override {
        levelImage[0] = AddIcon(173);
        levelImage[1] = AddIcon(179);
        levelImage[2] = AddIcon(182);
    }
    void AddEntry(CLogEntry* e) {
        int image = e->level >= 1 && e->level <= 3 ? levelImage[e->level - 1] : -1;
        AddRow(e, static_cast<int>(e->sequence), image);
    }

  private:
    LogPacker packer;
    int levelImage[3] = {-1, -1, -1};
};

CLogFile::CLogFile() {
    int logging = ddSettingGetInt(L"logging", 1);
    level = static_cast<uint32_t>(logging < 0 ? 0 : logging > 3 ? 3 : logging);

    std::wstring name;
    const DiChar* dir = g_ddApp ? g_ddApp->opt.logDir : nullptr;
    if (dir && dir[0]) {
        name = ddW(dir);
    } else {
        wchar_t cwd[MAX_PATH];
        DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
        if (n > 0 && n < MAX_PATH) name = cwd;
    }
    if (!name.empty() && name.back() != L'\\' && name.back() != L'/') name += L'\\';
    name += L"drx.txt";

    g_current = this;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = pumpProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kPumpClass;
    RegisterClassW(&wc);
    pump = CreateWindowExW(0, kPumpClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           nullptr);
    if (pump) SetWindowLongPtrW(pump, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        hasFile = true;
        HWND target = pump;
        OpenFile(new DdFileSink(file), [target] { PostMessageW(target, kDrainMessage, 0, 0); });
    } else {
        HWND target = pump;
        OpenFile(nullptr, [target] { PostMessageW(target, kDrainMessage, 0, 0); });
    }
    SetFileName(reinterpret_cast<const DiChar*>(name.c_str()));
    /* The previous logger belongs to whoever made it. Set once the file is
     * open: what start-up logged before goes to the file too. */
    diLogSet(this);
}

CLogFile::~CLogFile() {
    if (diLogGet() == this) diLogSet(nullptr);
    if (g_current == this) g_current = nullptr;
    delete window;
    window = nullptr;
    if (pump) DestroyWindow(pump);
    pump = nullptr;
}

void CLogFile::SaveWindowSettings() {
    if (window) window->SaveSettings();
}

void CLogFile::ShowWindow(bool show) {
    if (window) {
        window->Show(show);
        return;
    }
    if (!show) return;
    window = new (std::nothrow) CEventLogWindow(this);
    if (!window) return;
    window->Show(true);
    StartRows();
}

void CLogFile::AddRows(CLogEntry* const* entries, size_t count) {
    if (!window || !window->list) return;
    /* One redraw for the whole batch. */
    SendMessageW(window->list, WM_SETREDRAW, FALSE, 0);
    for (size_t i = 0; i < count; i++)
        window->AddEntry(entries[i]);
    SendMessageW(window->list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window->list, nullptr, TRUE);
}

void CLogFile::RemoveRow(CLogEntry* entry) {
    if (window) window->CTableWindow::RemoveRow(entry);
}

HWND ddLogWindowList(void) {
    return g_current && g_current->window ? g_current->window->list : nullptr;
}
