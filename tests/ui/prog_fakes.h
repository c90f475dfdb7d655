/* Recording fakes of everything the portable progress window calls: display
 * objects, graphics contexts, the login-dialog protocol and its Windows
 * half. Reset() before each case. */
#ifndef HV_TESTS_PROG_FAKES_H
#define HV_TESTS_PROG_FAKES_H

#include "ui/diprog.h"

#include <string>
#include <vector>

namespace progfake {

struct Call {
    std::string name;
    int32_t a, b, c, d;
};

extern std::vector<Call> calls; /* in order */
extern std::vector<DiObject*> destroyed;
extern std::u16string drawnText; /* last text of ddGDIDrawText */
extern int32_t fontHeight;       /* what ddGDIGetFontMetrics reports */
/* The manager's slot at each release, to check the release order. */
extern std::vector<DiObject*> slotAtRelease;
extern DiObject** watchedSlot;

void Reset();
int Count(const std::string& name);
const Call* Last(const std::string& name);
/* Message texts of the fake loader; a missing number loads nothing. */
void SetMessage(int32_t message, const std::u16string& text);

} // namespace progfake

#endif
