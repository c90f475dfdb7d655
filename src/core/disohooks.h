/* How the layers below the session reach the running launches: the channel
 * framework, the X engine and the login-dialog exchange call the flat diSO*
 * launch services, which forward through this table. The outpost fills it
 * while it exists and empties it when it goes; an empty slot answers the
 * neutral value (nothing done, not pending, no URL). The table keeps the
 * lower libraries free of a link dependency on the session library. */
#ifndef HV_DISOHOOKS_H
#define HV_DISOHOOKS_H

#include "di.h"

struct DiLAIPDialog;

struct DiSOLaunchHooks {
    /* A progress state the engine or the exchange reports for its channel. */
    void (*setLaunchState)(DiObject* obj, int32_t state);
    /* A frame is being destroyed (by its user or its launch). */
    void (*displayObjectClosed)(DiObject* obj);
    /* True while a launch's dialog is held back by its timer. */
    int (*isLaunchDialogPending)(void);
    /* The base URL of the launch that owns an engine channel, or none. */
    const DiChar* (*getLaunchBaseUrl)(DiObject* obj);
    void (*setLaunchRoute)(DiChannel* ch, const DiLAIPDialog* dialog);
    void (*continueLaunchOnRoute)(DiChannel* ch, const DiLAIPDialog* dialog);
    void (*launchFailed)(DiChannel* ch, int message, const DiChar* text);
    void (*cancelLaunchDialogTimer)(void);
    /* The launch that owns an engine channel fits its frame to the display. */
    void (*fitLaunchFrame)(DiObject* obj);
};

extern DiSOLaunchHooks g_diSOLaunchHooks;

#endif
