/* The program's logger on Windows: "drx.txt" (UTF-16LE, one line per
 * entry, created anew at every start, readable by other processes) and the
 * event-log window. The Windows outpost makes it and keeps it for its
 * lifetime. */
#ifndef HV_DDLOG_H
#define HV_DDLOG_H

#include "dd.h"
#include "session/dilogfile.h"

class CEventLogWindow;

class CLogFile : public CLogFileCore {
  public:
    /* Level from the "logging" setting, the file in "-logdir" (else the
     * current folder); becomes the program's logger. */
    CLogFile();
    ~CLogFile() override;
    void SaveWindowSettings() override;
    void ShowWindow(bool show) override;

    CEventLogWindow* window = nullptr;
    HWND pump = nullptr; /* wakes the GUI thread for Drain */
    bool hasFile = false;

  protected:
    void AddRows(CLogEntry* const* entries, size_t count) override;
    void RemoveRow(CLogEntry* entry) override;
};

/* The event-log window's list view (tests), or none. */
HWND ddLogWindowList(void);

#endif
