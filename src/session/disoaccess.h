/* Accessors of the outpost for the device, print and web code (see
 * disoaccess.cpp); the others are declared by their callers' headers. */
#ifndef HV_DISOACCESS_H
#define HV_DISOACCESS_H

#include "di.h"

DiChannel* diSOGetDriveChannel(void);
DiChannel* diSOGetDeviceListChannel(void);
DiChannel* diSOGetPrintChannel(void);
int diSOGetPrintJobCount(void);
void diSOStartNextPrintJob(void);
/* Sends "ns1:printResponse" with the job name to the job's message id. */
void diSOReplyPrint(const DiChar* jobName, const DiChar* messageId);
/* Answers the job's "ns1:print" with the fault "Client.Print.Failed" and
 * the reason as its text. */
void diSOFaultPrint(const DiChar* messageId, const DiChar* reason);
/* Sets the print channel's printer type ("PostScript", "PCL" or none) from
 * its default printer's driver and the client's system code. */
void diSODescribePrinterType(DiChannel* print);
/* True when a helper of kind 2 took the URL; false: the caller opens it. */
int diSOOpenUrl(const DiChar* url);

#endif
