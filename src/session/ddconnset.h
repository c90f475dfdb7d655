/* The connection settings dialog. */
#ifndef HV_DDCONNSET_H
#define HV_DDCONNSET_H

#include "dd.h"

#include "session/diconnset.h"

class DiConnSettingsDialog : public DiConnSettings {
  public:
    ~DiConnSettingsDialog() override;
    /* Shows the dialog over the main window: 1 when the user connected
     * (the value filled), 0 otherwise. */
    int Run();
};

#endif
