/* The outpost's print-job queue: jobs announced by the server wait in
 * arrival order until the print channel it owns requests them. Every job is
 * one record of that channel, from its print request to its end; the queue
 * is its records not yet started. */
#ifndef HV_DIPRINTQ_H
#define HV_DIPRINTQ_H

#include "di.h"
#include "devices/diprint.h"

#include "devices/dipaip.h"
#include "xml/qvlxml.h"

#include <string>

class CCapability;

/* A queued job is the channel's record of it (see dipaip.h). */
typedef DiPrintJob CPrintJob;

enum : uint32_t {
    /* Jobs waiting at once. A job waits only while an earlier one is
     * transferred and printed; a user sends a handful of documents at a
     * time. */
    DI_PRINT_MAX_JOBS = 256,
    /* The longest job name and message id a job keeps, in characters. A job
     * name is a web address, and browsers take none longer. */
    DI_PRINT_MAX_JOB_TEXT = 2083,
};

class CPrintJobQueue {
  public:
    /* Makes the print channel through the channel factory (none when that
     * fails: the queue then reports state 10). */
    CPrintJobQueue();
    ~CPrintJobQueue();
    CPrintJobQueue(const CPrintJobQueue&) = delete;
    CPrintJobQueue& operator=(const CPrintJobQueue&) = delete;

    /* The channel's printer type, which its hello announces, as the
     * session describes the default printer. */
    void RegisterChannel();

    /* Queues a job, and starts it when the channel is free and the user's
     * pause does not hold the queue. A job past the ceilings, or whose name
     * cannot be requested, is answered with the print fault. */
    void AddJob(const DiChar* name, const DiChar* messageId);
    /* Starts the first queued job unless the channel is busy with another
     * or the user's pause holds the queue; a job that cannot start is
     * answered with the print fault and the next one is tried. */
    void StartNextJob();
    /* 1 when the job started (requested on the connected channel, or
     * answered for the server to connect it), 0 when the channel is busy
     * with another job or the user's pause holds it, -1 when it cannot
     * start. */
    int StartJob(CPrintJob* job);
    /* The server's connection is being set up: returns the job it is made
     * for (0: none waits), whose wait is held until the set-up ends. */
    uint32_t ConnectionStarting();
    /* The set-up for that job ended with a connection; its wait runs again
     * from now. */
    void ConnectionStarted(uint32_t job);
    /* The connection made for that job could not be started: the job is
     * given up and the next one starts, unless it was given up already. */
    void ConnectionFailed(uint32_t job);
    bool HasJob() const { return GetJobCount() > 0; }
    /* A queued job of that name. */
    CPrintJob* FindJob(const DiChar* name);
    int GetJobCount() const;
    uint32_t GetState() const;
    bool IsPrinting() const { return GetState() == 2; }
    const DiChar* GetStateName() const;
    /* Adds the printer items to the capability list when a printer is
     * present and the channel's client description was built; keeps the
     * default printer's name and the printer list. */
    void AddPrinterCapabilities(CQVLList<CCapability>* caps, bool printerPresent);

    DiChannel* channel = nullptr;
    std::u16string lastPrinterName, lastPrinterList;
};

#endif
