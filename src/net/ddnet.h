/* Sockets: start-up of Windows Sockets and the poll of TLS-buffered data. */
#ifndef HV_DDNET_H
#define HV_DDNET_H

#include "dd.h"

/* WSAStartup 1.1; -1 on failure, else 0. */
int ddNetInit(void);
/* Delivers readable events for data the TLS layer already holds. */
void ddNetPoll(void);

#endif
