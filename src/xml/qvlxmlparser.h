/* The lenient recursive-descent XML parser (UTF-8 bytes to element tree)
 * and the HTTP packet reader. Only the first error message is kept. */
#ifndef HV_QVLXMLPARSER_H
#define HV_QVLXMLPARSER_H

#include "xml/qvlparser.h"
#include "xml/qvlxml.h"

class CQVLHTTPPacket;

class CQVLXMLParser {
  public:
    /* A new document (the caller owns it) or null. */
    static CQVLXMLDoc* ParseDocument(CQVLParser* p);
    /* A new request or response packet, or null. */
    static CQVLHTTPPacket* ParseHTTPPacket(CQVLParser* p);

    /* Grammar rules; each leaves the cursor where the rule says. */
    static CQVLXMLDecl* XMLDecl(CQVLParser* p);
    static bool Misc(CQVLParser* p);
    static bool Comment(CQVLParser* p);
    static bool PI(CQVLParser* p);
    static CQVLXMLTag* Element(CQVLParser* p);
    static CQVLXMLAttribute* Attribute(CQVLParser* p);
    static DiChar* AttValue(CQVLParser* p);
    static DiChar* Name(CQVLParser* p);
    /* Name and AttValue as strings that share equal short texts. */
    static CQVLXMLString* NameString(CQVLParser* p);
    static CQVLXMLString* AttValueString(CQVLParser* p);
    static CQVLXMLString* CharData(CQVLParser* p);
    static CQVLXMLCDSect* CDSect(CQVLParser* p);
    static CQVLXMLElement* Reference(CQVLParser* p);

    /* Document type declaration and its internal subset (nothing kept). */
    static bool DoctypeDecl(CQVLParser* p);

  private:
    static bool ScanName(CQVLParser* p);
    static bool Prolog(CQVLParser* p, CQVLXMLDecl** decl);
    static bool Content(CQVLParser* p, CQVLXMLContentTag* parent);
    static bool EndTag(CQVLParser* p, const CQVLXMLString* startName);
    static bool DeclSep(CQVLParser* p);
    static bool MarkupDecl(CQVLParser* p);
    static bool ElementDecl(CQVLParser* p);
    static bool ContentSpec(CQVLParser* p);
    static bool Mixed(CQVLParser* p);
    static bool Children(CQVLParser* p);
    static bool ContentParticle(CQVLParser* p);
    static bool AttlistDecl(CQVLParser* p);
    static bool AttDef(CQVLParser* p);
    static bool AttType(CQVLParser* p);
    static bool NotationType(CQVLParser* p);
    static bool Enumeration(CQVLParser* p);
    static bool DefaultDecl(CQVLParser* p);
    static bool AttDefaultValue(CQVLParser* p);
    static bool EntityDecl(CQVLParser* p);
    static bool ExternalID(CQVLParser* p);
    static bool NDataDecl(CQVLParser* p);
    static bool NotationDecl(CQVLParser* p);
    static bool SkipName(CQVLParser* p);
    static bool SkipQuoted(CQVLParser* p);
};

#endif
