/* Stand-ins for the seamless-window layer: each gives the answer of a
 * display without seamless windows or clipboard relay. The seamless layer
 * replaces this file. */
#include "xde/dixseamless.h"

DiXFrame* diXFindSeamlessRoot(DiXDisplay*) {
    return nullptr;
}
void diXSWMSessionStarted(DiXDisplay*) {}
