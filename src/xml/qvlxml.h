/* The owning list and the XML element tree. Every node writes itself into a
 * pack buffer; lists delete the items of the nodes that own them. */
#ifndef HV_QVLXML_H
#define HV_QVLXML_H

#include "xml/qvlpackable.h"

#include <new>

template <class T> struct CQVLListNode {
    CQVLListNode* next;
    CQVLListNode* prev;
    T* item;
    uint8_t owns;

    /* Links the new node between `prev` and `next` (either may be null). */
    CQVLListNode(T* it, bool own, CQVLListNode* nx, CQVLListNode* pv)
        : next(nx), prev(pv), item(it), owns(own) {
        if (prev) prev->next = this;
        if (next) next->prev = this;
    }
};

template <class T> class CQVLList {
  public:
    typedef CQVLListNode<T> Node;
    Node* head = nullptr;
    Node* tail = nullptr;
    uint32_t count = 0;

    CQVLList() {}
    CQVLList(const CQVLList&) = delete;
    CQVLList& operator=(const CQVLList&) = delete;
    virtual ~CQVLList() { Clear(); }

    /* Appends at the tail; a null item is ignored. When the node cannot be
     * allocated an owned item is deleted (its ownership was handed over). */
    bool Append(T* item, bool owns) {
        if (!item) return false;
        Node* n = new (std::nothrow) Node(item, owns, nullptr, tail);
        if (!n) {
            if (owns) delete item;
            return false;
        }
        if (!head) head = n;
        tail = n;
        count++;
        return true;
    }
    /* Makes a node already linked behind the tail the new tail. */
    void AppendNode(Node* n) {
        if (!n) return;
        if (!head) head = n;
        tail = n;
        count++;
    }
    /* Unlinks the first node holding `item`; deletes the item when `destroy`
     * is set and the node owns it. False when the item is not in the list. */
    bool Remove(T* item, bool destroy) {
        for (Node* n = head; n; n = n->next) {
            if (n->item != item) continue;
            RemoveNode(n, destroy);
            return true;
        }
        return false;
    }
    /* Unlinks n, a node of this list, without a search; deletes the item
     * when `destroy` is set and the node owns it. */
    void RemoveNode(Node* n, bool destroy) {
        (n->prev ? n->prev->next : head) = n->next;
        (n->next ? n->next->prev : tail) = n->prev;
        count--;
        if (destroy && n->owns) delete n->item;
        delete n;
    }
    void Clear() {
        Node* n = head;
        head = tail = nullptr;
        count = 0;
        while (n) {
            Node* next = n->next;
            if (n->owns) delete n->item;
            delete n;
            n = next;
        }
    }
};

class CQVLXMLString;
class CQVLXMLElementList;

class CQVLXMLElement : public IQVLPackable {
  public:
    virtual ~CQVLXMLElement() {}
    virtual CQVLXMLElementList* GetChildren() { return nullptr; }
    virtual bool IsContent() { return true; }
    virtual bool IsTag() { return false; }

    /* Depth-first pre-order search for a tag of that exact name, this node
     * first. */
    CQVLXMLElement* Find(const CQVLXMLString* name);
    CQVLXMLElement* Find(const DiChar* name);
    CQVLXMLElement* Find(const char* name);
    /* The character data of the subtree as a new heap text (the caller
     * frees it); null only when out of memory. */
    DiChar* GetText();
};

class CQVLXMLElementList : public CQVLList<CQVLXMLElement>, public IQVLPackable {
  public:
    void Pack(CQVLPackBuffer* buffer) override;
};

struct CQVLXMLStringRep {
    DiChar* text;
    uint32_t count;
};

class CQVLXMLString : public CQVLXMLElement {
  public:
    CQVLXMLStringRep* rep;

    explicit CQVLXMLString(const DiChar* text);
    explicit CQVLXMLString(const char* ascii);
    CQVLXMLString(DiChar* heapText, bool copy);
    explicit CQVLXMLString(int32_t value);
    CQVLXMLString(const CQVLXMLString& other);
    explicit CQVLXMLString(const CQVLXMLString* other);
    /* Takes one more reference to a text (none: the empty text). */
    enum ShareTag { kShare };
    CQVLXMLString(ShareTag, CQVLXMLStringRep* shared);
    CQVLXMLString& operator=(const CQVLXMLString&) = delete;
    /* Drops one reference; the last one frees the text. */
    static void Release(CQVLXMLStringRep* rep);
    ~CQVLXMLString() override;
    /* Adopts a heap text (the parser's form). */
    static CQVLXMLString* Create(DiChar* heapText);

    const DiChar* Text() const { return rep ? rep->text : nullptr; }
    bool Equals(const DiChar* text) const;
    bool Equals(const char* ascii) const;
    bool Equals(const CQVLXMLString* other) const;
    void Pack(CQVLPackBuffer* buffer) override;

  private:
    void Adopt(DiChar* text);
};

class CQVLXMLAttribute : public CQVLXMLElement {
  public:
    CQVLXMLString* name;
    CQVLXMLString* value;

    CQVLXMLAttribute(const DiChar* name, const DiChar* value);
    CQVLXMLAttribute(const char* name, const char* value);
    CQVLXMLAttribute(const CQVLXMLString* name, const CQVLXMLString* value);
    /* Takes over both strings (the parser's form: no copies). */
    enum AdoptTag { kAdopt };
    CQVLXMLAttribute(AdoptTag, CQVLXMLString* adoptedName, CQVLXMLString* adoptedValue)
        : name(adoptedName), value(adoptedValue) {}
    explicit CQVLXMLAttribute(const CQVLXMLAttribute* other);
    ~CQVLXMLAttribute() override;
    bool HasName(const CQVLXMLString* n) const;
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLAttributeList : public CQVLList<CQVLXMLAttribute>, public IQVLPackable {
  public:
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLCDSect : public CQVLXMLElement {
  public:
    CQVLXMLString* text;
    explicit CQVLXMLCDSect(CQVLXMLString* adoptedText) : text(adoptedText) {}
    ~CQVLXMLCDSect() override { delete text; }
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLEntityRef : public CQVLXMLElement {
  public:
    CQVLXMLString* name;
    explicit CQVLXMLEntityRef(CQVLXMLString* adoptedName) : name(adoptedName) {}
    ~CQVLXMLEntityRef() override { delete name; }
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLCharRef : public CQVLXMLElement {
  public:
    int32_t code;
    /* From the text between "&#" and ";". */
    explicit CQVLXMLCharRef(const DiChar* digits);
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLTag : public CQVLXMLElement {
  public:
    CQVLXMLString* name;
    CQVLXMLAttributeList* attributes;

    explicit CQVLXMLTag(const DiChar* name);
    explicit CQVLXMLTag(const char* name);
    explicit CQVLXMLTag(CQVLXMLString* adoptedName);
    /* Takes over the name and the attribute list (the parser's form). */
    CQVLXMLTag(CQVLXMLString* adoptedName, CQVLXMLAttributeList* adoptedAttributes)
        : name(adoptedName), attributes(adoptedAttributes) {}
    ~CQVLXMLTag() override;
    bool IsTag() override { return true; }
    virtual void AddChild(CQVLXMLElement*, bool) {}
    virtual void RemoveChild(CQVLXMLElement*) {}
    virtual void DetachChild(CQVLXMLElement*) {}

    bool HasName(const CQVLXMLString* n) const;
    bool HasAttributes() const { return attributes && attributes->count > 0; }
    const CQVLXMLString* GetAttribute(const DiChar* name) const;
    const CQVLXMLString* GetAttribute(const char* name) const;
    const CQVLXMLString* FindAttribute(const CQVLXMLString* name) const;
    /* Attribute look-ups made since the process started (wrapping): what
     * finding elements by their attributes has cost. */
    static uint32_t AttributeLookups();
    void AddAttribute(CQVLXMLAttribute* adopted);
    void AddAttribute(const DiChar* name, const DiChar* value);
    void AddAttribute(const char* name, const char* value);
    void AddAttribute(const CQVLXMLString* name, const CQVLXMLString* value);

  protected:
    void PackStart(CQVLPackBuffer* buffer);
};

class CQVLXMLContentTag : public CQVLXMLTag {
  public:
    CQVLXMLElementList* children;

    explicit CQVLXMLContentTag(const DiChar* name);
    explicit CQVLXMLContentTag(const char* name);
    explicit CQVLXMLContentTag(CQVLXMLString* adoptedName);
    CQVLXMLContentTag(CQVLXMLString* adoptedName, CQVLXMLAttributeList* adoptedAttributes);
    CQVLXMLContentTag(const DiChar* name, const DiChar* content);
    ~CQVLXMLContentTag() override;
    CQVLXMLElementList* GetChildren() override { return children; }
    void AddChild(CQVLXMLElement* child, bool owns) override;
    void RemoveChild(CQVLXMLElement* child) override;
    void DetachChild(CQVLXMLElement* child) override;
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLEmptyTag : public CQVLXMLTag {
  public:
    using CQVLXMLTag::CQVLXMLTag;
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLXMLDecl : public IQVLPackable {
  public:
    CQVLXMLAttributeList* attributes;
    /* version="1.0" encoding="UTF-8". */
    CQVLXMLDecl();
    /* Adopts a (possibly empty) attribute list. */
    explicit CQVLXMLDecl(CQVLXMLAttributeList* adopted) : attributes(adopted) {}
    ~CQVLXMLDecl() override { delete attributes; }
    void Pack(CQVLPackBuffer* buffer) override;
};

class CQVLDoc : public IQVLPackable {
  public:
    void Pack(CQVLPackBuffer*) override {}
    virtual const char* GetContentType() { return "unknown"; }
};

class CQVLXMLDoc : public CQVLDoc {
  public:
    CQVLXMLDecl* decl;
    CQVLXMLElement* root;
    /* Top-level nodes; holds the root without owning it. */
    CQVLXMLElementList topLevel;

    CQVLXMLDoc(CQVLXMLDecl* adoptedDecl, CQVLXMLElement* adoptedRoot);
    ~CQVLXMLDoc() override;
    const char* GetContentType() override { return "text/xml"; }
    void Pack(CQVLPackBuffer* buffer) override;
    CQVLXMLElement* Find(const DiChar* name);
    CQVLXMLElement* Find(const char* name);
};

#endif
