/* The table window: a modeless, resizable dialog with one report list of
 * rows owned elsewhere (log entries, information items), sortable by a
 * click on a column header, with "&Copy All"; its size and column widths
 * are kept in the settings. A subclass picks columns, title and row icons
 * and adds the rows. */
#ifndef HV_DDTABLE_H
#define HV_DDTABLE_H

#include "core/dilog.h"
#include "dd.h"
#include "xml/qvlpackable.h"

#include <commctrl.h>

class CTableColumn {
  public:
    wchar_t* header = nullptr;
    wchar_t* widthSetting = nullptr;
    int sortState = 0; /* 0, kAscending or kDescending */
    int width = 0;
    ~CTableColumn();
};

class CTableWindow {
  public:
    enum { kAscending = 0x10000, kDescending = 0x20000 };

    /* `source` (not owned) is what "&Copy All" packs. */
    CTableWindow(IQVLPackable* source, int columnCount, const wchar_t* widthSetting,
                 const wchar_t* heightSetting, int titleString);
    virtual ~CTableWindow();
    /* Called once the image list exists: add the row icons. */
    virtual void LoadRowIcons() {}

    void SetColumn(int index, const wchar_t* header, const wchar_t* widthSetting);
    /* The list keeps `row` as the item's parameter and asks it for every
     * text when it draws. */
    void AddRow(IDiTableRow* row, int position, int image);
    /* Takes out the item of `row`, so the row may be freed. */
    void RemoveRow(IDiTableRow* row);
    /* Creates the dialog on first showing. */
    void Show(bool show);
    void SaveSettings();
    /* The source's text on the clipboard as CF_UNICODETEXT. */
    bool CopyToClipboard();
    /* Adds an icon resource at small size; -1 when it cannot be loaded. */
    int AddIcon(int id);

    IQVLPackable* source;
    HWND list = nullptr, dialog = nullptr, copyButton = nullptr;
    HIMAGELIST images = nullptr;
    int ascendingImage = -1, descendingImage = -1;
    CTableColumn* columns;
    int columnCount;
    int titleString;
    wchar_t* widthSetting;
    wchar_t* heightSetting;
    int height = 0, width = 0;
    int listRight = 0, listBottom = 0, buttonRight = 0, buttonBottom = 0;

  private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    static int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM sort);
    void Init(HWND dialog);
    void Sort(int column);
    void Layout();
    void RememberGeometry();
};

#endif
