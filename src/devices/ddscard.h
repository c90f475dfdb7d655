/* The Windows layer of smart-card redirection: the PC/SC service
 * (winscard, imported) behind the smart-card class's function table. */
#ifndef HV_DDSCARD_H
#define HV_DDSCARD_H

#include "dd.h"

struct DiSCardAtrMask;
struct DiSCardReaderState;
struct DdSCardStartEvent;

/* 1 when the entry table exists or was made (the service's table is then
 * installed), 0 when winscard is not loaded or out of memory. */
int ddSCardLoad(void);
bool ddSCardIsAvailable(void);
/* Frees the entry table (shut-down). */
void ddSCardUnload(void);
/* 1 when a reader is listed in user scope, else in system scope. */
int ddSCardReadersPresent(void);

/* The optional entry points, or SCARD_F_INTERNAL_ERROR without them. */
int32_t ddSCardIsValidContext(uint32_t context);
int32_t ddSCardLocateByAtr(bool wide, uint32_t context, const DiSCardAtrMask* masks,
                           uint32_t maskCount, DiSCardReaderState* states, uint32_t count);

/* The start-event emulation: none without the two start-event entries.
 * Wait runs on a worker until the service started or the record stopped;
 * stop releases every waiter and waits until they left; destroy frees a
 * stopped record nobody waits on any more. */
DdSCardStartEvent* ddSCardStartEventCreate(void);
void ddSCardStartEventWait(DdSCardStartEvent* record);
void ddSCardStartEventStop(DdSCardStartEvent* record);
void ddSCardStartEventDestroy(DdSCardStartEvent* record);

#endif
