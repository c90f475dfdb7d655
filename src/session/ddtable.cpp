#include "session/ddtable.h"

#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "resources/ddres.h"
#include "session/ddso.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum { kListId = 2072, kCopyId = 1104, kDialogId = 189 };

static wchar_t* dupW(const wchar_t* s) {
    return s ? _wcsdup(s) : nullptr;
}

CTableColumn::~CTableColumn() {
    free(header);
    free(widthSetting);
}

CTableWindow::CTableWindow(IQVLPackable* src, int count, const wchar_t* widthName,
                           const wchar_t* heightName, int title)
    : source(src), columns(new CTableColumn[count > 0 ? count : 1]),
      columnCount(count > 0 ? count : 0), titleString(title), widthSetting(dupW(widthName)),
      heightSetting(dupW(heightName)) {}

CTableWindow::~CTableWindow() {
    if (dialog) DestroyWindow(dialog);
    if (images) ImageList_Destroy(images);
    delete[] columns;
    free(widthSetting);
    free(heightSetting);
}

void CTableWindow::SetColumn(int index, const wchar_t* header, const wchar_t* widthName) {
    if (index < 0 || index >= columnCount) return;
    CTableColumn& c = columns[index];
    free(c.header);
    free(c.widthSetting);
    c.header = dupW(header);
    c.widthSetting = dupW(widthName);
}

void CTableWindow::AddRow(IDiTableRow* row, int position, int image) {
    if (!list) return;
    LVITEMW item = {};
    item.mask = LVIF_PARAM | LVIF_TEXT | LVIF_IMAGE;
    item.iItem = position;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.lParam = reinterpret_cast<LPARAM>(row);
    item.iImage = image;
    int at =
        static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) return;
    for (int c = 1; c < columnCount; c++) {
        LVITEMW sub = {};
        sub.iSubItem = c;
        sub.pszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(list, LVM_SETITEMTEXTW, at, reinterpret_cast<LPARAM>(&sub));
    }
}

void CTableWindow::RemoveRow(IDiTableRow* row) {
    if (!list) return;
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = reinterpret_cast<LPARAM>(row);
    int at = static_cast<int>(
        SendMessageW(list, LVM_FINDITEMW, WPARAM(-1), reinterpret_cast<LPARAM>(&find)));
    if (at >= 0) SendMessageW(list, LVM_DELETEITEM, at, 0);
}

int CTableWindow::AddIcon(int id) {
    if (!images) return -1;
    HICON icon = ddResLoadIcon(id, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    if (!icon) return -1;
    return ImageList_AddIcon(images, icon); /* shared: not destroyed */
}

void CTableWindow::Show(bool show) {
    if (!show) {
        if (dialog) ShowWindow(dialog, SW_HIDE);
        return;
    }
    if (!dialog) {
        CreateDialogParamW(ddResModule(), MAKEINTRESOURCEW(kDialogId), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
        if (!dialog) return;
        ddSOSetWindowIcons(dialog);
        ddSOSetWindowTitle(dialog, titleString);
    }
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
}

void CTableWindow::Init(HWND d) {
    dialog = d;
    list = GetDlgItem(d, kListId);
    copyButton = GetDlgItem(d, kCopyId);
    RECT client, r;
    GetClientRect(d, &client);
    if (list) {
        GetWindowRect(list, &r);
        MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
        listRight = client.right - r.right;
        listBottom = client.bottom - r.bottom;
    }
    if (copyButton) {
        GetWindowRect(copyButton, &r);
        MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
        buttonRight = client.right - r.left;
        buttonBottom = client.bottom - r.top;
    }
    if (!list) return;
    /* 24-bit icons keep their transparent parts only with a mask. */
    images = ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                              ILC_COLOR24 | ILC_MASK, 6, 4);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    /* The list shares the image list; this object destroys it. */
    SetWindowLongW(list, GWL_STYLE, GetWindowLongW(list, GWL_STYLE) | LVS_SHAREIMAGELISTS);
    ascendingImage = AddIcon(187);
    descendingImage = AddIcon(188);
    LoadRowIcons();
    GetClientRect(list, &r);
    int rest = r.right;
    for (int c = 0; c < columnCount; c++) {
        CTableColumn& col = columns[c];
        int def = c == columnCount - 1 ? rest : 100;
        col.width = col.widthSetting ? ddSettingGetInt(col.widthSetting, def) : def;
        rest -= col.width;
        LVCOLUMNW lc = {};
        lc.mask = LVCF_WIDTH | LVCF_FMT | (col.header ? LVCF_TEXT : 0);
        lc.fmt = LVCFMT_LEFT;
        lc.cx = col.width;
        lc.pszText = col.header;
        SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&lc));
    }
    width = widthSetting ? ddSettingGetInt(widthSetting, 0) : 0;
    height = heightSetting ? ddSettingGetInt(heightSetting, 0) : 0;
    if (width > 0 && height > 0)
        SetWindowPos(d, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
}

void CTableWindow::Layout() {
    RECT client;
    GetClientRect(dialog, &client);
    if (list) {
        RECT r;
        GetWindowRect(list, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(list, nullptr, 0, 0, client.right - listRight - r.left,
                     client.bottom - listBottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    }
    if (copyButton)
        SetWindowPos(copyButton, nullptr, client.right - buttonRight, client.bottom - buttonBottom,
                     0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

/* Read while the dialog is hidden (closed) or being destroyed: the size
 * the user left it with. */
void CTableWindow::RememberGeometry() {
    if (!dialog) return;
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof wp;
    if (GetWindowPlacement(dialog, &wp)) {
        width = wp.rcNormalPosition.right - wp.rcNormalPosition.left;
        height = wp.rcNormalPosition.bottom - wp.rcNormalPosition.top;
    }
    for (int c = 0; list && c < columnCount; c++)
        columns[c].width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
}

void CTableWindow::SaveSettings() {
    if (widthSetting) ddSettingSetInt(widthSetting, width);
    if (heightSetting) ddSettingSetInt(heightSetting, height);
    for (int c = 0; c < columnCount; c++)
        if (columns[c].widthSetting) ddSettingSetInt(columns[c].widthSetting, columns[c].width);
}

int CALLBACK CTableWindow::CompareRows(LPARAM a, LPARAM b, LPARAM sort) {
    IDiTableRow* ra = reinterpret_cast<IDiTableRow*>(a);
    IDiTableRow* rb = reinterpret_cast<IDiTableRow*>(b);
    int column = static_cast<int>(sort & 0xffff);
    if (!ra || !rb) return 0;
    return (sort & kDescending) ? ra->Compare(rb, column) : rb->Compare(ra, column);
}

void CTableWindow::Sort(int column) {
    if (!list || column < 0 || column >= columnCount) return;
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    for (int c = 0; c < columnCount; c++) {
        CTableColumn& col = columns[c];
        HDITEMW hi = {};
        hi.mask = HDI_FORMAT;
        if (header) SendMessageW(header, HDM_GETITEMW, c, reinterpret_cast<LPARAM>(&hi));
        hi.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
        if (c == column) {
            col.sortState = col.sortState == kAscending ? kDescending : kAscending;
            int image = col.sortState == kAscending ? ascendingImage : descendingImage;
            if (image >= 0) {
                hi.mask |= HDI_IMAGE;
                hi.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
                hi.iImage = image;
            }
        } else {
            col.sortState = 0;
        }
        if (header) SendMessageW(header, HDM_SETITEMW, c, reinterpret_cast<LPARAM>(&hi));
    }
    if (header) SendMessageW(header, HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    SendMessageW(list, LVM_SORTITEMS, column | columns[column].sortState,
                 reinterpret_cast<LPARAM>(CompareRows));
}

bool CTableWindow::CopyToClipboard() {
    if (!list || !source) return false;
    CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
    source->Pack(&b);
    if (b.failed) return false;
    /* The text and a whole UTF-16 terminator (the block is zeroed). */
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, SIZE_T(b.length) + sizeof(wchar_t));
    if (!mem) return false;
    void* p = GlobalLock(mem);
    if (!p) {
        GlobalFree(mem);
        return false;
    }
    if (b.length) memcpy(p, b.data, b.length);
    GlobalUnlock(mem);
    if (!OpenClipboard(dialog)) {
        GlobalFree(mem);
        return false;
    }
    EmptyClipboard();
    bool ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
    CloseClipboard();
    if (!ok) GlobalFree(mem);
    return ok;
}

INT_PTR CALLBACK CTableWindow::DialogProc(HWND d, UINT msg, WPARAM wp, LPARAM lp) {
    CTableWindow* self = reinterpret_cast<CTableWindow*>(GetWindowLongPtrW(d, GWLP_USERDATA));
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CTableWindow*>(lp);
        SetWindowLongPtrW(d, GWLP_USERDATA, lp);
        self->Init(d);
        return TRUE;
    }
    if (!self) return FALSE;
    switch (msg) {
    case WM_NOTIFY: {
        NMHDR* h = reinterpret_cast<NMHDR*>(lp);
        if (h->hwndFrom != self->list) break;
        if (h->code == LVN_COLUMNCLICK) {
            self->Sort(reinterpret_cast<NMLISTVIEW*>(lp)->iSubItem);
            return TRUE;
        }
        if (h->code == LVN_GETDISPINFOW) {
            LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lp)->item;
            IDiTableRow* row = reinterpret_cast<IDiTableRow*>(item.lParam);
            if ((item.mask & LVIF_TEXT) && row) {
                const DiChar* text = row->GetColumnText(item.iSubItem);
                if (text) item.pszText = const_cast<wchar_t*>(ddW(text));
            }
            return TRUE;
        }
        break;
    }
    case WM_SIZE:
        self->Layout();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == kCopyId) self->CopyToClipboard();
        if (LOWORD(wp) == IDCANCEL) PostMessageW(d, WM_CLOSE, 0, 0);
        return TRUE;
    case WM_CLOSE:
        ShowWindow(d, SW_HIDE);
        self->RememberGeometry();
        return TRUE;
    case WM_DESTROY:
        self->RememberGeometry();
        self->SaveSettings();
        if (self->images) ImageList_Destroy(self->images);
        self->images = nullptr;
        self->list = self->copyButton = nullptr;
        self->dialog = nullptr;
        SetWindowLongPtrW(d, GWLP_USERDATA, 0);
        return TRUE;
    }
    return FALSE;
}
