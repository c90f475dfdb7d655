/* Stand-ins for functions whose owners have not landed yet; each is
 * replaced by the real one at merge. */
#include "net/dilaip.h"

DiLAIPField* diLAIPFindField(DiLAIPDialog* dialog, uint16_t id) {
    if (!dialog || !dialog->fields) return nullptr;
    for (uint16_t i = 0; i < dialog->fieldCount; ++i)
        if (dialog->fields[i].id == id) return &dialog->fields[i];
    return nullptr;
}
