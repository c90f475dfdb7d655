/* The display-engine manager's Windows half: the view window (control id 9)
 * inside its frame that holds one display engine and its progress window.
 * ddDEMgrCreate and ddDEMgrDestroy are declared with the manager record in
 * core/dide.h. */
#ifndef HV_DDDEMGR_H
#define HV_DDDEMGR_H

#include "core/dide.h"
#include "dd.h"

/* Control id of a manager's view within its frame. */
enum : int { DD_DEMGR_VIEW_ID = 9 };

/* The view window of a manager, NULL when it has none. */
HWND ddDEMgrView(const DiDEManager* m);

#endif
