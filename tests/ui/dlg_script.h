/* Scripted dialog tests: the initialisation hook hands each dialog to the
 * running test, which fills controls, reads them back and presses a
 * button. A safety timer cancels any dialog a script leaves open. */
#ifndef HV_TESTS_DLG_SCRIPT_H
#define HV_TESTS_DLG_SCRIPT_H

#include <functional>
#include <string>
#include <vector>

#include "core/ddapp.h"
#include "resources/ddres.h"
#include "ui/dddlg.h"

struct DlgScript {
    std::function<void(HWND, int)> onInit;
    std::function<void(HWND, int)> onWarn; /* after the warning is recorded */
    std::vector<int> inits;                /* dialog ids in order of opening */
    std::vector<int> warnings;             /* string ids of warning boxes */
    std::vector<int> titles;               /* string ids given to setTitle */
};

extern DlgScript* g_script;

/* Installs the hooks for one test; the destructor restores the defaults. */
class ScriptScope {
  public:
    explicit ScriptScope(DlgScript* script);
    ~ScriptScope();
};

void press(HWND dlg, int id);                               /* posted click */
void setText(HWND dlg, int id, const std::u16string& text); /* sends EN_CHANGE */
void choose(HWND dlg, int first, int last, int id);         /* radio click */
void toggle(HWND dlg, int id, bool on);                     /* check box click */
std::u16string text(HWND dlg, int id);
std::u16string title(HWND dlg);
bool visible(HWND dlg, int id);
bool enabled(HWND dlg, int id);
bool isChecked(HWND dlg, int id);
RECT rectIn(HWND dlg, int id); /* dialog client coordinates */
int windowHeight(HWND dlg);
int focusId(HWND dlg);

#endif
