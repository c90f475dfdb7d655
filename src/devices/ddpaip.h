/* The print channel's Windows side (ddpaip.cpp). */
#ifndef HV_DDPAIP_H
#define HV_DDPAIP_H

/* Lets the outpost make its print queue (with the print channel) when the
 * server first asks for the device channels. Start-up calls it. */
void ddPrintInstallQueueHook(void);

#endif
