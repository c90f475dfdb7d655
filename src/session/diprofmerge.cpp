/* The profile store's merge (see diprofile.h): one process's changes since
 * its base, written onto the document another process saved meanwhile.
 *
 * Every element has a path from the root: per step its name, for a host,
 * user or profile the attribute that names it, and its place among siblings
 * with the same name and attribute. The root, "profiles", "localsettings"
 * and the host, user and profile elements below "profiles" are containers:
 * the merge walks into them. Every other element is a key, compared and
 * copied whole in its written form, so that a key set to the same value in
 * both processes is no change. */
#include "session/diprofile.h"

#include "xml/qvlxml.h"

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

enum Kind { kKey, kRoot, kTree, kFlat };

struct Item {
    std::u16string path;
    CQVLXMLTag* tag;
    Kind kind;
    std::string text; /* a key's written form */
};

CQVLXMLTag* asTag(CQVLXMLElement* e) {
    return e && e->IsTag() ? static_cast<CQVLXMLTag*>(e) : nullptr;
}

bool named(CQVLXMLTag* tag, const char* name) {
    return tag->name && tag->name->Equals(name);
}

/* What a child of a parent of that kind is: profiles and localsettings at
 * the root; hosts and users (holding profiles) and profiles (holding keys)
 * under profiles. */
Kind kindOf(Kind parent, CQVLXMLTag* tag) {
    if (parent == kRoot)
        return named(tag, "profiles") ? kTree : named(tag, "localsettings") ? kFlat : kKey;
    if (parent != kTree) return kKey;
    if (named(tag, "host") || named(tag, "user")) return kTree;
    return named(tag, "profile") ? kFlat : kKey;
}

const DiChar* namingAttribute(CQVLXMLTag* tag, Kind kind) {
    if (kind == kKey) return nullptr;
    return named(tag, "user")                            ? u"ens"
           : named(tag, "host") || named(tag, "profile") ? u"name"
                                                         : nullptr;
}

/* One step of a path: name, naming attribute and the count of earlier
 * siblings with both, each ended by a NUL (no name or value holds one). */
std::u16string step(CQVLXMLTag* tag, Kind kind, std::map<std::u16string, int>* seen) {
    std::u16string s = tag->name && tag->name->Text() ? tag->name->Text() : u"";
    s += u'\0';
    const DiChar* attr = namingAttribute(tag, kind);
    const CQVLXMLString* value = attr ? tag->GetAttribute(attr) : nullptr;
    if (value && value->Text()) s += value->Text();
    s += u'\0';
    int n = (*seen)[s]++;
    for (char c : std::to_string(n))
        s += static_cast<DiChar>(c);
    return s + u'\0';
}

/* The items below parent in document order; keys' written forms only with
 * withText (looking up a path needs none). */
void collect(CQVLXMLTag* parent, Kind kind, const std::u16string& path, bool withText,
             std::vector<Item>* out) {
    std::map<std::u16string, int> seen;
    CQVLXMLElementList* children = parent->GetChildren();
    for (auto* n = children ? children->head : nullptr; n; n = n->next) {
        CQVLXMLTag* tag = asTag(n->item);
        if (!tag || !tag->name) continue;
        Kind k = kindOf(kind, tag);
        Item item{path + step(tag, k, &seen), tag, k, std::string()};
        if (k == kKey && withText) CProfileStore::WriteElement(&item.text, tag, 0);
        out->push_back(item);
        if (k != kKey) collect(tag, k, item.path, withText, out);
    }
}

std::vector<Item> itemsOf(CQVLXMLDoc* doc, bool withText = false) {
    std::vector<Item> items;
    if (CQVLXMLTag* root = doc ? asTag(doc->root) : nullptr) {
        items.push_back(Item{std::u16string(), root, kRoot, std::string()});
        collect(root, kRoot, std::u16string(), withText, &items);
    }
    return items;
}

/* The items of a document by path: a merge looks up every item of both
 * processes, which must not cost a walk of the document each. */
struct Items {
    std::vector<Item> list;
    std::unordered_map<std::u16string, const Item*> byPath;

    Items(CQVLXMLDoc* doc, bool withText) : list(itemsOf(doc, withText)) {
        for (const Item& item : list)
            byPath.emplace(item.path, &item);
    }
    Items(const Items&) = delete; /* byPath points into list */
    Items& operator=(const Items&) = delete;
    const Item* find(const std::u16string& path) const {
        auto at = byPath.find(path);
        return at == byPath.end() ? nullptr : at->second;
    }
};

/* The path without its last step. */
std::u16string parentPath(const std::u16string& path) {
    size_t ends = 0, cut = 0;
    for (size_t i = path.size(); i-- > 0;)
        if (path[i] == 0 && ++ends == 4) {
            cut = i + 1;
            break;
        }
    return path.substr(0, cut);
}

/* A copy of a key: its written form read back. */
CQVLXMLElement* copyOf(const std::string& text) {
    CQVLXMLDoc* doc = diProfParseDocument(text.data(), text.size());
    if (!doc) return nullptr;
    CQVLXMLElement* root = doc->root;
    doc->root = nullptr; /* topLevel does not own it */
    delete doc;
    return root;
}

/* Copies of keys by their written forms, in order (null for one that does
 * not read back). All are read in one parse: a parse has a fixed cost that
 * thousands of keys must not pay each. */
std::vector<CQVLXMLElement*> copiesOf(const std::vector<const std::string*>& texts) {
    std::string all = "<w>";
    size_t wanted = 0;
    for (const std::string* text : texts) {
        all += *text;
        wanted += !text->empty();
    }
    all += "</w>";
    std::vector<CQVLXMLElement*> read;
    if (CQVLXMLDoc* doc = diProfParseDocument(all.data(), all.size())) {
        CQVLXMLTag* root = asTag(doc->root);
        for (CQVLXMLElementList* children = root->GetChildren(); children && children->head;) {
            CQVLXMLElement* element = children->head->item;
            root->DetachChild(element);
            if (asTag(element))
                read.push_back(element);
            else
                delete element;
        }
        delete doc;
    }
    /* A form that does not read back spoils the others: each on its own. */
    bool whole = read.size() == wanted;
    if (!whole)
        for (CQVLXMLElement* element : read)
            delete element;
    std::vector<CQVLXMLElement*> out;
    size_t next = 0;
    for (const std::string* text : texts)
        out.push_back(!whole ? copyOf(*text) : text->empty() ? nullptr : read[next++]);
    return out;
}

/* Puts fresh in old's place, or appends it to parent without an old one. */
void put(CQVLXMLTag* parent, CQVLXMLTag* old, CQVLXMLElement* fresh) {
    CQVLXMLElementList* children = parent->GetChildren();
    for (auto* n = children && old ? children->head : nullptr; n; n = n->next)
        if (n->item == old) {
            if (n->owns) delete n->item;
            n->item = fresh;
            n->owns = true;
            return;
        }
    parent->AddChild(fresh, true);
}

} // namespace

bool diProfApplyChanges(CQVLXMLDoc* base, CQVLXMLDoc* ours, CQVLXMLDoc* onto) {
    Items was(base, true), now(ours, true), there(onto, false);
    /* Every path is resolved against onto as it was read: a removal
     * renumbers the same-named siblings after it, so the table is not read
     * again after a change. Removals are done last; they are the last
     * places of their sibling groups, and no path made or changed lies
     * below or among them. A container made here joins the table. */
    std::unordered_map<std::u16string, CQVLXMLTag*> made;
    auto tagAt = [&](const std::u16string& path) -> CQVLXMLTag* {
        if (const Item* hit = there.find(path)) return hit->tag;
        auto at = made.find(path);
        return at == made.end() ? nullptr : at->second;
    };
    auto isChange = [&](const Item& item) {
        const Item* before = was.find(item.path);
        return !before || (item.kind == kKey && before->text != item.text);
    };
    std::vector<const std::string*> texts;
    for (const Item& item : now.list)
        if (item.kind == kKey && isChange(item)) texts.push_back(&item.text);
    std::vector<CQVLXMLElement*> copies = copiesOf(texts);
    size_t nextCopy = 0;
    bool changed = false;
    /* Made or changed since the base, parents before children. */
    for (const Item& item : now.list) {
        if (!isChange(item)) continue;
        CQVLXMLElement* copy = item.kind == kKey ? copies[nextCopy++] : nullptr;
        CQVLXMLTag* parent = item.path.empty() ? nullptr : tagAt(parentPath(item.path));
        if (!parent) {
            delete copy;
            continue;
        }
        CQVLXMLTag* hit = tagAt(item.path);
        if (item.kind != kKey) {
            if (hit) continue;
            CQVLXMLContentTag* fresh = new CQVLXMLContentTag(item.tag->name->Text());
            if (const DiChar* attr = namingAttribute(item.tag, item.kind))
                if (const CQVLXMLString* value = item.tag->GetAttribute(attr))
                    fresh->AddAttribute(attr, value->Text() ? value->Text() : u"");
            parent->AddChild(fresh, true);
            made.emplace(item.path, fresh);
        } else if (copy) {
            put(parent, hit, copy);
        } else {
            continue;
        }
        changed = true;
    }
    /* Removed since the base: gone from onto too (a container with all
     * that another process put into it). What lies below a container that
     * goes is not looked at: its table entries would outlive it. */
    std::vector<std::pair<CQVLXMLTag*, CQVLXMLTag*>> gone; /* parent, child */
    std::unordered_set<std::u16string> removed;
    for (const Item& old : was.list) {
        if (now.find(old.path) || old.path.empty()) continue;
        std::u16string up = parentPath(old.path);
        if (removed.count(up)) {
            removed.insert(old.path);
            continue;
        }
        const Item* hit = there.find(old.path);
        const Item* parent = hit ? there.find(up) : nullptr;
        if (!parent) continue;
        gone.emplace_back(parent->tag, hit->tag);
        removed.insert(old.path);
    }
    for (const auto& g : gone)
        g.first->RemoveChild(g.second);
    return changed || !gone.empty();
}

void diProfFollow(CQVLXMLDoc* from, CQVLXMLTag** const* elements, size_t count, CQVLXMLDoc* to) {
    std::vector<const std::u16string*> paths(count, nullptr);
    std::vector<Item> list = itemsOf(from);
    for (const Item& item : list)
        for (size_t i = 0; i < count; i++)
            if (*elements[i] && item.tag == *elements[i]) paths[i] = &item.path;
    Items now(to, false);
    for (size_t i = 0; i < count; i++) {
        const Item* hit = paths[i] ? now.find(*paths[i]) : nullptr;
        *elements[i] = hit ? hit->tag : nullptr;
    }
}
