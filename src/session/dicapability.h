/* Client capabilities: one named fact about the client (a string, integer
 * or boolean value) that the outpost announces to the server, rendered as a
 * typed SOAP parameter element, as "name=value" text and as a log line. */
#ifndef HV_DICAPABILITY_H
#define HV_DICAPABILITY_H

#include "di.h"

class CQVLXMLElement;

class CCapability {
  public:
    /* Copies name (may be null). flag set: the outpost logs it as it sends. */
    CCapability(const DiChar* name, bool flag);
    virtual ~CCapability();
    CCapability(const CCapability&) = delete;
    CCapability& operator=(const CCapability&) = delete;

    /* A new element named after the capability with its xsi:type and value
     * text; the caller owns it. */
    virtual CQVLXMLElement* ToSOAPParameter() = 0;
    /* A new "name=value" text (malloc; the caller frees it). An absent name
     * or value prints empty; the value is never cut. */
    virtual DiChar* ToText() = 0;
    /* One Info entry "name = value" through the logger. */
    virtual void Log() = 0;

    DiChar* name = nullptr; /* owned, may be null */
    uint8_t flag = 0;
};

class CStringCapability : public CCapability {
  public:
    /* Copies both texts; an absent value is sent as the empty string. */
    CStringCapability(const DiChar* name, const DiChar* value, bool flag);
    ~CStringCapability() override;
    CQVLXMLElement* ToSOAPParameter() override;
    DiChar* ToText() override;
    void Log() override;
    DiChar* value = nullptr; /* owned, may be null */
};

class CIntCapability : public CCapability {
  public:
    CIntCapability(const DiChar* name, bool flag) : CCapability(name, flag) {}
    CQVLXMLElement* ToSOAPParameter() override;
    DiChar* ToText() override;
    void Log() override;
    int32_t value = 0;
};

/* A small number (sent as xsd:int); any 32-bit value prints whole. */
class CShortCapability : public CIntCapability {
  public:
    CShortCapability(const DiChar* name, bool flag) : CIntCapability(name, flag) {}
};

class CBoolCapability : public CCapability {
  public:
    CBoolCapability(const DiChar* name, bool flag) : CCapability(name, flag) {}
    CQVLXMLElement* ToSOAPParameter() override;
    DiChar* ToText() override;
    void Log() override;
    uint8_t value = 0; /* true when not 0 */
};

#endif
