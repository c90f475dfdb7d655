/* Stand-in for the terminal window's event handler (keys through the key
 * table, selection, Copy and Paste): until it exists every event goes to
 * the portable engine unchanged. */
#include "tde/ddtde.h"

int TerminalEngineEvent(DiObject* obj, DiEvent* ev) {
    return diTDEHandleEvent(obj, ev);
}
