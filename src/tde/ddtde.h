/* The Windows half of the terminal engine: the engine record with its view,
 * and the window's event handler that runs before the portable one. */
#ifndef HV_DDTDE_H
#define HV_DDTDE_H

#include "dd.h"
#include "tde/ditde.h"

struct DdTDisplay {
    DiTDisplay t;
    HWND view;
};

/* Every event of the engine's window passes here first, then on to
 * diTDEHandleEvent. */
int TerminalEngineEvent(DiObject* obj, DiEvent* ev);

/* The drawing operations the engine uses under Windows. */
extern const DiTDOps g_ddTDOps;

#endif
