/* SOAP endpoints over the V-AIP channel (object type 14): HTTP-framed SOAP
 * packets in both directions, the server connection with its request
 * dispatcher and fault handling, and the helper connections of the local
 * listener with their browser GET paths.
 *
 * Framing: a header block of lines (each ended by CR LF, LF CR, a lone CR or
 * a lone LF) ending at the first line after the start line that holds only
 * spaces and tabs; then exactly as many body bytes as the line beginning
 * with "Content-Length:" (case-sensitive) gives, none without such a line.
 *
 * One program-wide busy flag marks a packet being handled: no type-14
 * channel reads while it is set, so a handler that opens a modal box is
 * never re-entered. A channel refused that way is read again from a 0 ms
 * timer once the flag clears, since its socket will not signal again for
 * bytes it already announced. */
#ifndef HV_DIVAIP_H
#define HV_DIVAIP_H

#include "core/dide.h"
#include "xml/qvlsoap.h"

class CVAIPConnection;

enum : uint32_t { DI_VAIP_BUFFER_LIMIT = 0x80000 };

/* The type-14 channel record. */
struct DiSOAPChannel {
    DiChannel base;
    CVAIPConnection* owner; /* none once the connection let go */
    int64_t packetSize;     /* of the packet being assembled; 0 unknown */
    uint32_t refused;       /* a read was refused while a packet was handled */
    uint8_t openLineEnd;    /* the lone CR or LF that ended the last packet */
};

/* Size of the packet at the front of the bytes: its header block (blank
 * line included) plus the announced body; 0 while the header block is
 * incomplete. The body length saturates, so a huge one can only be too
 * large, never small. A packet without a body whose blank line ends with a
 * lone CR or LF as the last byte received is complete: that byte goes to
 * *openEnd (else 0), and the byte that would pair with it, when it comes
 * next, belongs to no packet. */
int64_t diVAIPPacketSize(const uint8_t* bytes, size_t length, uint8_t* openEnd = nullptr);

/* The channel record's life: a new zeroed record with its buffers and
 * handler, the socket attached; and its teardown and release. */
DiChannel* diVAIPChannelNew(DdSocket* socket);
void diVAIPChannelDelete(DiChannel* channel);
/* The event handler of type 14 (readable, writable, closed). */
int diVAIPHandleEvent(DiObject* obj, DiEvent* ev);
/* The packet reader: 0 to wait, -1 when the channel must close. */
int diVAIPRead(DiSOAPChannel* channel);

class CVAIPConnection {
  public:
    DiChannel* channel = nullptr;
    int32_t holds = 0;           /* handlers of this connection running */
    bool deleteWhenFree = false; /* deleted while held: freed at release */

    CVAIPConnection();
    virtual void ReceivePacket(CQVLHTTPPacket* packet);
    virtual void ChannelClosed();
    virtual ~CVAIPConnection();
    virtual void OnFault(CQVLSOAPFault* fault, const DiChar* messageId) = 0;
    virtual void OnRequest(CQVLSOAPRequest* request, const DiChar* messageId) = 0;
    virtual void OnResponse(CQVLSOAPResponse* response, const DiChar* messageId) = 0;
    virtual void OnHttpGet(const DiChar* /*path*/) {}
    virtual const DiChar* GetPeerName() = 0;
    virtual CQVLHTTPPacket* MakeHTTPPacket(CQVLSOAPPacket* packet, const DiChar* messageId) = 0;

    bool Send(CQVLSOAPPacket* packet, const DiChar* messageId);
    /* Writes an HTTP packet as it is (browser answers); the packet stays the
     * caller's. */
    bool SendHTTP(CQVLHTTPPacket* packet);
    void Close();
    /* Lets go of the channel without being told it closed, then closes it. */
    void Detach();

  protected:
    /* Both kinds: the envelope in the encoding style, the headers by kind. */
    CQVLHTTPPacket* WrapPacket(CQVLSOAPPacket* packet, int encoding);
};

class CServerConnection : public CVAIPConnection {
  public:
    ~CServerConnection() override;
    void ChannelClosed() override;
    void OnFault(CQVLSOAPFault* fault, const DiChar* messageId) override;
    void OnRequest(CQVLSOAPRequest* request, const DiChar* messageId) override;
    void OnResponse(CQVLSOAPResponse*, const DiChar*) override {}
    const DiChar* GetPeerName() override { return u"Server"; }
    CQVLHTTPPacket* MakeHTTPPacket(CQVLSOAPPacket* packet, const DiChar* messageId) override;
    /* flags: 2 TLS to the target, 8 the first connection (a TLS hop may
     * stand in for the target's). */
    bool Connect(const DiChar* host, int32_t port, uint32_t flags);
};

class CHelperConnection : public CVAIPConnection {
  public:
    DiChar* helperId = nullptr;
    int32_t kind = 2; /* 0 hosts in-place apps, 1 runs them, 2 neither */
    DiChar* note = nullptr;
    DiChar* peerName = nullptr;
    int32_t peerNameStale = 1;

    /* Takes over an accepted socket in place of the channel's own. */
    explicit CHelperConnection(DdSocket* accepted);
    ~CHelperConnection() override;
    /* Refuses requests of foreign web pages (dilistener.cpp). */
    void ReceivePacket(CQVLHTTPPacket* packet) override;
    void ChannelClosed() override;
    void OnFault(CQVLSOAPFault*, const DiChar*) override {}
    void OnRequest(CQVLSOAPRequest* request, const DiChar* messageId) override;
    void OnResponse(CQVLSOAPResponse* response, const DiChar* messageId) override;
    void OnHttpGet(const DiChar* path) override;
    const DiChar* GetPeerName() override;
    CQVLHTTPPacket* MakeHTTPPacket(CQVLSOAPPacket* packet, const DiChar* messageId) override;
    bool HasId(const DiChar* id) const;
};

/* A connection stays allocated while one of its handlers runs: deleting
 * it then detaches it from its channel and frees it at the last release. */
void diVAIPHold(CVAIPConnection* conn);
void diVAIPRelease(CVAIPConnection* conn);
void diVAIPDelete(CVAIPConnection* conn);

/* The value of the last "ID=" item with a non-empty value of a poll path's
 * query ("/poll?x=1&ID=&ID=abc" gives "abc"), as a new text; none without. */
DiChar* diVAIPPollId(const DiChar* path);

/* An answer to a browser with a fixed start line ("HTTP/1.1 204 No
 * Content", "HTTP/1.1 404 Not Found") and no document. */
class CQVLHTTPStatusResponse : public CQVLHTTPResponse {
  public:
    const char* line;
    explicit CQVLHTTPStatusResponse(const char* startLine) : line(startLine) {}
    const char* GetStartLine() override { return line; }
};

/* The listener's admission rules (dilistener.cpp): a Host value naming the
 * listener itself, and a whole request (one such Host at most; a POST's
 * Origin, when given, the webtop URL's origin). */
bool diListenerHostAllowed(const DiChar* value);
bool diListenerRequestAllowed(CQVLHTTPPacket* http, const DiChar* webtopUrl);

/* The connection error table: the message number of a socket error code
 * below 25, or 0 when it has none. */
int diVAIPErrorMessage(int32_t code);

#endif
