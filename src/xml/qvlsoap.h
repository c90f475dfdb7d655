/* SOAP 1.1 RPC/encoded message objects with XSD value types and arrays,
 * and the HTTP packets and documents that carry them. */
#ifndef HV_QVLSOAP_H
#define HV_QVLSOAP_H

#include "xml/qvlxml.h"

#define QVL_NS_SOAP_ENV "http://schemas.xmlsoap.org/soap/envelope/"
#define QVL_NS_SOAP_ENC "http://schemas.xmlsoap.org/soap/encoding/"
#define QVL_NS_XSI_1999 "http://www.w3.org/1999/XMLSchema-instance"
#define QVL_NS_XSD_1999 "http://www.w3.org/1999/XMLSchema"

/* ---- typed values ---- */

class IQVLXSIType : public IQVLPackable {
  public:
    virtual const DiChar* GetTypeName() = 0;
    virtual void AddToElement(CQVLXMLTag* element) = 0;
    virtual bool IsSimple() = 0;
    virtual bool IsArray() = 0;
};

class IQVLXSISimpleType : public IQVLXSIType {
  public:
    bool IsSimple() override { return true; }
    bool IsArray() override { return false; }
    /* Writes the value text, " :: " and the type name. */
    void Pack(CQVLPackBuffer* buffer) override;
    virtual void PackValue(CQVLPackBuffer* buffer) = 0;
};

class CQVLXSDString : public IQVLXSISimpleType {
  public:
    CQVLXMLString* value;
    explicit CQVLXSDString(const DiChar* text) : value(new (std::nothrow) CQVLXMLString(text)) {}
    explicit CQVLXSDString(const char* text) : value(new (std::nothrow) CQVLXMLString(text)) {}
    ~CQVLXSDString() override { delete value; }
    const DiChar* GetTypeName() override;
    /* One string child: the value escaped (markup characters as
     * references). */
    void AddToElement(CQVLXMLTag* element) override;
    void PackValue(CQVLPackBuffer* buffer) override;
};

class CQVLXSDType : public IQVLXSISimpleType {
  public:
    DiChar* typeName;
    CQVLXMLString* value;
    CQVLXSDType(const DiChar* type, const DiChar* text);
    ~CQVLXSDType() override;
    const DiChar* GetTypeName() override { return typeName; }
    /* The value text as it is (shared). */
    void AddToElement(CQVLXMLTag* element) override;
    void PackValue(CQVLPackBuffer* buffer) override;
};

class CQVLXSDInt : public IQVLXSISimpleType {
  public:
    int32_t value;
    explicit CQVLXSDInt(int32_t v) : value(v) {}
    const DiChar* GetTypeName() override;
    void AddToElement(CQVLXMLTag* element) override;
    void PackValue(CQVLPackBuffer* buffer) override;
};

class CQVLXSDBoolean : public IQVLXSISimpleType {
  public:
    uint8_t value;
    explicit CQVLXSDBoolean(bool v) : value(v) {}
    const DiChar* GetTypeName() override;
    void AddToElement(CQVLXMLTag* element) override;
    void PackValue(CQVLPackBuffer* buffer) override;
};

class CQVLNS2Array : public IQVLXSIType {
  public:
    CQVLList<IQVLXSIType> items;
    CQVLXMLString* itemName;
    CQVLXMLString* itemType;
    CQVLNS2Array(const DiChar* itemName, const DiChar* itemType);
    CQVLNS2Array(const char* itemName, const char* itemType);
    ~CQVLNS2Array() override;
    void AddItem(IQVLXSIType* adopted) { items.Append(adopted, true); }
    const DiChar* GetTypeName() override;
    bool IsSimple() override { return false; }
    bool IsArray() override { return true; }
    void AddToElement(CQVLXMLTag* element) override;
    void Pack(CQVLPackBuffer* buffer) override;

  private:
    CQVLXMLContentTag* ItemElement(IQVLXSIType* item);
};

/* ---- parameters and packets ---- */

class CQVLSOAPParameter : public IQVLPackable {
  public:
    CQVLXMLString* name;
    IQVLXSIType* value;

    CQVLSOAPParameter(const DiChar* name, IQVLXSIType* adoptedValue);
    CQVLSOAPParameter(const DiChar* name, int32_t value);
    CQVLSOAPParameter(const DiChar* name, bool value);
    CQVLSOAPParameter(const DiChar* name, const DiChar* text);
    /* From a received element: the value kind follows its xsi:type. */
    explicit CQVLSOAPParameter(CQVLXMLTag* element);
    ~CQVLSOAPParameter() override;

    int32_t GetInt();
    bool GetBool();
    const DiChar* GetString();
    int32_t GetShort();
    bool HasName(const DiChar* text);
    bool IsType(const DiChar* typeName);
    /* A new content tag named after the parameter (the caller owns it). */
    CQVLXMLContentTag* ToElement(bool withType = true);
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLHTTPPacket;

class CQVLSOAPPacket : public IQVLPackable {
  public:
    virtual bool IsFault() { return false; }
    virtual bool IsRequest() { return false; }
    virtual bool IsResponse() { return false; }
    /* The element that goes into the SOAP body (the caller owns it). */
    virtual CQVLXMLElement* ToXML(int encoding) = 0;

    /* The packet object for a received HTTP packet (the caller owns it);
     * null when the packet holds no XML document. */
    static CQVLSOAPPacket* FromHTTP(CQVLHTTPPacket* http);
    /* The envelope document to send (the caller owns it). */
    CQVLXMLDoc* ToXMLDoc(int encoding);
};

class CQVLSOAPMessage : public CQVLSOAPPacket {
  public:
    DiChar* method;
    CQVLXMLAttributeList attributes;

    explicit CQVLSOAPMessage(const DiChar* method);
    explicit CQVLSOAPMessage(const char* method);
    ~CQVLSOAPMessage() override;
    bool IsMethod(const DiChar* text);
    void AddAttribute(const DiChar* name, const DiChar* value);
    void AddAttribute(const char* name, const char* value);

  protected:
    CQVLXMLContentTag* MethodElement();
};

class CQVLSOAPRequest : public CQVLSOAPMessage {
  public:
    CQVLList<CQVLSOAPParameter> parameters;

    using CQVLSOAPMessage::CQVLSOAPMessage;
    bool IsRequest() override { return true; }
    CQVLSOAPParameter* FindParameter(const DiChar* name);
    bool HasParameter(const DiChar* name, const DiChar* typeName);
    void AddParameter(const DiChar* name, int32_t value);
    void AddParameter(const DiChar* name, const DiChar* text);
    void AddParameter(const DiChar* name, IQVLXSIType* adoptedValue);
    void AddParameter(CQVLSOAPParameter* adopted) { parameters.Append(adopted, true); }
    int32_t GetIntParameter(const DiChar* name);
    bool GetBoolParameter(const DiChar* name);
    const DiChar* GetStringParameter(const DiChar* name);
    CQVLXMLElement* ToXML(int encoding) override;
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLSOAPResponse : public CQVLSOAPMessage {
  public:
    CQVLXMLTag* returnElement = nullptr;

    using CQVLSOAPMessage::CQVLSOAPMessage;
    ~CQVLSOAPResponse() override { delete returnElement; }
    bool IsResponse() override { return true; }
    void SetReturn(CQVLXMLTag* adopted);
    void AddReturnChild(CQVLXMLElement* child, bool owns);
    void AddReturnParameter(CQVLSOAPParameter* parameter);
    /* The return element travels escaped, as UTF-16 text, whatever the
     * encoding. */
    CQVLXMLElement* ToXML(int encoding) override;
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLSOAPFault : public CQVLSOAPPacket {
  public:
    DiChar* faultcode = nullptr;
    DiChar* faultstring = nullptr;
    DiChar* faultactor = nullptr;
    DiChar* detail = nullptr;

    CQVLSOAPFault() {}
    ~CQVLSOAPFault() override;
    bool IsFault() override { return true; }
    void SetFaultCode(const DiChar* text);
    void SetFaultString(const DiChar* text);
    /* Adopting forms: the heap text becomes the field. */
    void AdoptFaultCode(DiChar* text);
    void AdoptFaultString(DiChar* text);
    void AdoptFaultActor(DiChar* text);
    void AdoptDetail(DiChar* text);
    CQVLXMLElement* ToXML(int encoding) override;
    void Pack(CQVLPackBuffer* buffer) override;
};

/* ---- HTTP ---- */

class CQVLHTTPHeader : public IQVLPackable {
  public:
    DiChar* name;
    explicit CQVLHTTPHeader(DiChar* adoptedName) : name(adoptedName) {}
    ~CQVLHTTPHeader() override;
    virtual const DiChar* GetValue() = 0;
    virtual int32_t GetIntValue() = 0;
    /* name ": " value CR LF, with CR and LF left out of name and value. */
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLHTTPStringHeader : public CQVLHTTPHeader {
  public:
    DiChar* value;
    CQVLHTTPStringHeader(const DiChar* name, const DiChar* value);
    CQVLHTTPStringHeader(DiChar* name, DiChar* value, bool copy);
    ~CQVLHTTPStringHeader() override;
    static CQVLHTTPStringHeader* Create(DiChar* name, DiChar* value);
    const DiChar* GetValue() override { return value; }
    int32_t GetIntValue() override;
};

class CQVLHTTPIntHeader : public CQVLHTTPHeader {
  public:
    int32_t value;
    DiChar text[32];
    CQVLHTTPIntHeader(const DiChar* name, int32_t value);
    const DiChar* GetValue() override;
    int32_t GetIntValue() override { return value; }
};

class CQVLDoc;

class CQVLHTTPPacket {
  public:
    CQVLList<CQVLHTTPHeader>* headers;
    CQVLDoc* document = nullptr;

    CQVLHTTPPacket();
    explicit CQVLHTTPPacket(CQVLList<CQVLHTTPHeader>* adoptedHeaders);
    CQVLHTTPPacket(const CQVLHTTPPacket&) = delete;
    CQVLHTTPPacket& operator=(const CQVLHTTPPacket&) = delete;
    virtual ~CQVLHTTPPacket();
    virtual bool IsRequest() { return false; }
    virtual bool IsResponse() { return false; }
    virtual const char* GetStartLine() = 0;

    void AddHeader(const DiChar* name, const DiChar* value);
    void AddHeader(const char* name, const char* value);
    void AddHeader(CQVLHTTPHeader* adopted);
    void SetDocument(CQVLDoc* adopted);
    CQVLHTTPHeader* FindHeader(const DiChar* name);
    CQVLHTTPHeader* FindHeader(const char* name);
    const DiChar* GetHeaderValue(const DiChar* name);
    const DiChar* GetHeaderValue(const char* name);
    /* The bytes to send (the caller deletes the buffer); null when out of
     * memory. */
    CQVLPackBuffer* Serialize();
};

class CQVLHTTPRequest : public CQVLHTTPPacket {
  public:
    using CQVLHTTPPacket::CQVLHTTPPacket;
    bool IsRequest() override { return true; }
    /* The peers expect this exact line, colon included. */
    const char* GetStartLine() override { return "POST /quorvellan/soap HTTP:/1.1\r\n"; }
};

class CQVLHTTPResponse : public CQVLHTTPPacket {
  public:
    using CQVLHTTPPacket::CQVLHTTPPacket;
    bool IsResponse() override { return true; }
    const char* GetStartLine() override { return "HTTP/1.1 200 OK\r\n"; }
};

class CQVLHTMLDoc : public CQVLDoc {
  public:
    DiChar* raw = nullptr; /* a complete page that replaces all the rest */
    DiChar* title = nullptr;
    DiChar* head = nullptr; /* kept for its users; not written */
    DiChar* body = nullptr;
    DiChar* onload = nullptr; /* script run when the page loads */
    DiChar* script = nullptr; /* a script block */

    ~CQVLHTMLDoc() override;
    const char* GetContentType() override { return "text/html"; }
    void SetOnLoad(const DiChar* text);
    void SetScript(const DiChar* text);
    void Pack(CQVLPackBuffer* buffer) override;
};

#endif
