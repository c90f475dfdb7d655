/* The print channel (type 11): the print protocol P-AIP spoken with the
 * server's print service, the printing state of the client, the spool file
 * of the current job and its printing. The file and printer calls go through
 * a table the Windows half fills (host tests put fakes there). GUI thread
 * only. */
#ifndef HV_DIPAIP_H
#define HV_DIPAIP_H

#include "core/dide.h"
#include "devices/diprint.h"

#include <list>
#include <string>

struct DiPrintChannel;
struct DiTimer;

struct DiPrintSpoolOps {
    /* Makes a new spool file open for writing; its handle and full path, or
     * none with nothing left behind. */
    void* (*open)(std::u16string* path);
    /* Writes all n bytes: false when any is not written. */
    bool (*write)(void* file, const uint8_t* data, uint32_t n);
    void (*close)(void* file);
    void (*remove)(const std::u16string& path);
    /* Prints the file once by the job's kind: 0 or -1 with the error code
     * and, when known, its text. */
    int (*print)(DiPrintChannel* pc, const std::u16string& path, uint32_t* error,
                 std::u16string* text);
    /* One line of the trace. */
    void (*trace)(const std::u16string& line);
};

enum : uint32_t {
    DI_PRINT_INITIALIZING = 0,
    DI_PRINT_READY = 1,
    DI_PRINT_PRINTING = 2,
    DI_PRINT_PAUSED = 3,
    DI_PRINT_OFFLINE = 4,
    DI_PRINT_CANNOT = 5,
    DI_PRINT_ADMIN_DISABLED = 6,
    DI_PRINT_ADMIN_PAUSED = 7,
    DI_PRINT_LOOKUP_ERROR = 8,
    DI_PRINT_ADMIN_OFFLINE = 9,
    DI_PRINT_NO_TYPE = 10,
    DI_PRINT_LAUNCHING = 11,
};

enum : uint32_t {
    DI_PAIP_OUT_LIMIT = 4096,
    DI_PAIP_HEADER = 10,
    DI_PAIP_PIECE = 16384,
    DI_PAIP_VERSION = 431953,
};

/* Where a print job is between the server's print request and its end. A
 * job ends printed, handed back to the queue, or logged as not printed; an
 * ended job has no record. */
enum DiPrintJobStep : uint8_t {
    DI_JOB_QUEUED,    /* waits in the queue; its print request is unanswered */
    DI_JOB_WAITING,   /* answered: waits for the hello of the connection the
                       * server makes for it, at most diPrintHelloWaitMs */
    DI_JOB_REQUESTED, /* requested on the connection now open; no start yet */
    DI_JOB_STARTED,   /* its start came: its document is being spooled */
    DI_JOB_HELD,      /* its document ended while the user's pause held
                       * printing: printed at the resume */
};

/* One print job, from the server's print request to its end. */
struct DiPrintJob {
    std::u16string name;      /* a path of the print service; empty for a
                               * start no request of ours asked for */
    std::u16string messageId; /* of the server's print request */
    std::u16string title;     /* the document's, once its start came */
    DiPrintJobStep step;
    bool answered; /* its print request was answered: no second answer may go */
    /* DI_JOB_REQUESTED: a start answered with the user's pause gave its
     * title; the server may offer it again at any time, or never. */
    bool offered;
    uint32_t request; /* DI_JOB_REQUESTED: the number of its request */
    uint32_t wait;    /* DI_JOB_WAITING: the number of its wait */
    /* DI_JOB_STARTED, DI_JOB_HELD: its spool. A held spool stays open
     * (sharing reading only) until the resume, so that no other client's
     * sweep of the spool folder deletes it meanwhile. */
    void* spool;
    std::u16string spoolPath;
};

struct DiPrintChannel {
    DiChannel ch;
    uint32_t state, resumeState;
    uint8_t helloFlags[3];
    /* The current job. */
    uint8_t kind; /* 0 raw, 1 PDF printed, 2 PDF shown */
    uint8_t pdfDialog;
    uint16_t jobId;
    uint8_t compressed, copies;
    uint32_t value, attribute;
    std::u16string title, printer;
    uint8_t* piece; /* inflate output, DI_PAIP_PIECE bytes when compressed */
    /* Texts. */
    std::u16string printerType, urlBase;
    DiPrintClient client;
    uint32_t lastError;
    std::u16string errorText;
    DiTimer* sweepTimer;
    bool connected; /* the start message went out on this route, no stop since */
    /* The minute a job may wait with nothing moving: for the hello of the
     * connection made for it (waitTimer), or for the next message of the
     * connection it was requested on (silenceTimer). */
    DiTimer* waitTimer;
    DiTimer* silenceTimer;
    /* The tick the server's silence counts from: its last message, or the
     * request that put a job on the connection while it held none. */
    uint32_t quietSince;
    /* Jobs answered for the server to connect are numbered from 1: waits is
     * the last number given. A connection the queue set up is named for the
     * job that waited then (connJob, 0 for none); one it did not set up
     * serves whichever waits. */
    uint32_t waits, connJob;
    bool connNamed;
    /* Job requests are numbered in the order sent: requests is the last
     * number given (a job handed back and asked for again is asked after
     * the jobs requested meanwhile, wherever its record stands). */
    uint32_t requests;
    /* Questions to the user about the connection now open (its login
     * dialogs): the waiting job's bound is held while one is. */
    int questions;
    /* Every job from the server's print request to its end, in the order
     * the print requests came, queued ones last (the server starts the
     * requested ones in the order of their job requests). The queue, the
     * requests open on the connection, the job being spooled and the one
     * held by the pause are these records. */
    std::list<DiPrintJob> jobs;
    uint32_t startState; /* the state the start message replaced */
    const DiPrintSpoolOps* ops;
};

/* Delays of the deferred deletion of PDF spool files: due after `dueMs`,
 * swept every `periodMs`. Tests shorten them. */
struct DiPrintSweepDelays {
    uint32_t dueMs, periodMs;
};
extern DiPrintSweepDelays diPrintSweepDelays;
/* How long a job answered for the server to connect waits for the hello of
 * that connection before it is given up. */
extern uint32_t diPrintHelloWaitMs;

/* A new channel (type 11) in state 0, or 5 for both states without a
 * default printer; none without memory. */
DiPrintChannel* diPrintChannelNew(const DiPrintSpoolOps* ops, bool hasDefaultPrinter);
/* The session's end: names every job left in the event log, once (none
 * prints, not even one held by the user's pause), closes and deletes their
 * spools, ends the sweep timer, frees the texts and the channel's base. The
 * record itself is freed by the caller through diPrintChannelDelete. */
void diPrintChannelTeardown(DiPrintChannel* pc);
void diPrintChannelDelete(DiPrintChannel* pc);
int diPrintChannelEvent(DiObject* obj, DiEvent* ev);
/* The read loop: negative when the connection failed. */
int diPAIPReadMessages(DiPrintChannel* pc);
/* Handles one whole message (type byte first). */
void diPAIPHandleMessage(DiPrintChannel* pc, const uint8_t* msg, uint32_t len);
/* Sets a state; paused states follow the queue (3 and 4, 7 and 9). */
void diPrintSetState(DiPrintChannel* pc, uint32_t state);
/* Queues a job (a new record, last). */
DiPrintJob* diPrintQueueJob(DiPrintChannel* pc, const std::u16string& name,
                            const std::u16string& messageId);
/* The first queued job, the job waiting for its connection, the job being
 * spooled, the job held by the pause: none when there is none. */
DiPrintJob* diPrintFirstJob(DiPrintChannel* pc, DiPrintJobStep step);
/* Queued jobs. */
int diPrintQueuedJobs(const DiPrintChannel* pc);
/* Ends a job's record (its spool, if any, is closed and deleted); a paused
 * state follows the jobs left. */
void diPrintEndJob(DiPrintChannel* pc, DiPrintJob* job);
/* The user's pause holds printing (until the resume). */
bool diPrintUserPaused(const DiPrintChannel* pc);
/* The state left printing while no job is on the channel (a status query,
 * the administrator's return, a login exchange ended without the start):
 * nothing else would start the jobs queued behind the printing state, so
 * the queue goes on as after a job's end, unless the user's pause or the
 * administrator's hold keeps it. */
void diPrintGoOnWhenIdle(DiPrintChannel* pc);
/* The job, answered, waits for the hello of the connection the server makes
 * for it, at most diPrintHelloWaitMs. */
void diPAIPAwaitConnection(DiPrintChannel* pc, DiPrintJob* job);
/* A connection is being set up: the waiting job's bound is held meanwhile
 * (a certificate warning may keep the set-up for minutes). Returns the job
 * it is made for, 0 when none waits. */
uint32_t diPAIPConnectionStarting(DiPrintChannel* pc);
/* The set-up for `job` ended with a connection: it is that job's, and a job
 * still waiting for it has its full bound again from now. */
void diPAIPConnectionMade(DiPrintChannel* pc, uint32_t job);
/* A question to the user about the connection opens (`open`) or is
 * answered: the job waiting for this connection holds its bound while any
 * is open, and has it in full again from the answer. */
void diPAIPQuestion(DiPrintChannel* pc, bool open);
/* The job the connection serves (see connJob): 0 for none. */
uint32_t diPAIPConnectionJob(const DiPrintChannel* pc);
/* Gives up `job` when it is the one waiting for its connection (anything
 * else is late and changes nothing), logged as not printed for `why`: the
 * connection made for it is closed, the state its start took is given back,
 * and the next job starts unless the channel prints or the user paused. */
void diPAIPDropWaitingJob(DiPrintChannel* pc, uint32_t job, const char16_t* why);
/* Requests the job (type 13); on success it is requested on this
 * connection. */
int diPAIPSendJobRequest(DiPrintChannel* pc, DiPrintJob* job, uint16_t jobId);
/* The jobs requested or being spooled on a connection that is gone: each
 * that needs only its first answer goes back to the head of the queue in
 * the order requested; each answered already is logged as not printed. */
void diPAIPHandBackLost(DiPrintChannel* pc);
/* The connection is gone (closed by the server, or silent for the minute
 * with a job on it): its jobs are handed back or logged, the state follows
 * the user's pause and the queue, a stop is sent, and the next job starts
 * unless the user's pause holds the queue. */
void diPAIPConnectionLost(DiPrintChannel* pc);
/* True when a job request for the name fits the output buffer. */
bool diPAIPJobNameFits(const std::u16string& name);
/* A message of the type with the header only. */
int diPAIPSendBare(DiPrintChannel* pc, uint8_t type, uint16_t jobId);
/* Stop (type 9), job id 1. */
int diPAIPSendStop(DiPrintChannel* pc);
int diPAIPSendHello(DiPrintChannel* pc, uint16_t jobId);
/* The printer-description list cut to what fits the hello: whole entries
 * other than the last (the default) are dropped from the front. */
std::u16string diPAIPFitList(const std::u16string& head, const std::u16string& list, size_t limit,
                             int* dropped);
/* Sends the start message (type 14) once the route is up: state 2. A
 * connection made for a job given up meanwhile is closed instead. */
int diPAIPSendStart(DiChannel* ch, int id);
/* The user's pause and resume. */
void diPrintPause(DiChannel* ch);
void diPrintResume(DiChannel* ch);
/* Puts a PDF spool file in the process-wide deferred-deletion table. */
void diPrintScheduleDelete(DiPrintChannel* pc, const std::u16string& path);
/* Deletes the table's files that are due; all of them with `all`. */
void diPrintSweep(const DiPrintSpoolOps* ops, bool all);
/* Entries of the table still waiting. */
size_t diPrintPendingDeletes(void);

#endif
