/* The profile store's XML writer (see diprofile.h). */
#include "session/diprofile.h"

#include "xml/qvlxml.h"

#include <stdlib.h>

static void diProfAppendEscaped(std::string* out, const DiChar* text, bool attribute) {
    if (!text) return;
    std::string utf8 = diProfileToUtf8(text);
    for (char c : utf8) {
        switch (c) {
        case '&':
            *out += "&amp;";
            break;
        case '<':
            *out += "&lt;";
            break;
        case '>':
            *out += "&gt;";
            break;
        case '"':
            if (attribute) {
                *out += "&quot;";
                break;
            }
            *out += c;
            break;
        case '\r':
            /* A reader folds a bare CR into a line end: only a reference
             * brings it back. */
            *out += "&#13;";
            break;
        case '\n':
        case '\t':
            /* Attribute values keep line breaks only as references. */
            if (attribute) {
                *out += c == '\n' ? "&#10;" : "&#9;";
                break;
            }
            *out += c;
            break;
        default:
            *out += c;
        }
    }
}

static bool diProfIsSpace(DiChar c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* Writes a run of character data (text and references between two
 * elements) in place, without its trailing white space. */
static void diProfFlushText(std::string* file, std::u16string* run) {
    while (!run->empty() && diProfIsSpace(run->back()))
        run->pop_back();
    diProfAppendEscaped(file, run->c_str(), false);
    run->clear();
}

static std::u16string diProfName(CQVLXMLTag* tag) {
    std::u16string name = tag->name && tag->name->Text() ? tag->name->Text() : u"";
    while (!name.empty() && diProfIsSpace(name.back()))
        name.pop_back();
    return name;
}

void CProfileStore::WriteElement(std::string* file, CQVLXMLElement* element, int indentation,
                                 const char* lineEnd) {
    if (!file || !element || !element->IsTag()) return;
    CQVLXMLTag* tag = static_cast<CQVLXMLTag*>(element);
    std::u16string name = diProfName(tag);
    if (name.empty()) return;
    std::string pad(size_t(indentation > 0 ? indentation : 0) * 2, ' ');
    *file += pad;
    *file += '<';
    diProfAppendEscaped(file, name.c_str(), false);
    if (tag->attributes)
        for (auto* n = tag->attributes->head; n; n = n->next) {
            *file += ' ';
            diProfAppendEscaped(file, n->item->name ? n->item->name->Text() : nullptr, false);
            *file += "=\"";
            diProfAppendEscaped(file, n->item->value ? n->item->value->Text() : nullptr, true);
            *file += '"';
        }
    *file += '>';
    bool hadElement = false;
    std::u16string run;
    if (CQVLXMLElementList* children = tag->GetChildren())
        for (auto* n = children->head; n; n = n->next) {
            if (n->item->IsTag()) {
                if (diProfName(static_cast<CQVLXMLTag*>(n->item)).empty()) continue;
                diProfFlushText(file, &run);
                *file += lineEnd;
                WriteElement(file, n->item, indentation + 1, lineEnd);
                hadElement = true;
            } else if (n->item->IsContent()) {
                /* In place, so no indentation enters the text. */
                if (DiChar* text = n->item->GetText()) {
                    run += text;
                    free(text);
                }
            }
        }
    diProfFlushText(file, &run);
    if (hadElement) {
        *file += lineEnd;
        *file += pad;
    }
    *file += "</";
    diProfAppendEscaped(file, name.c_str(), false);
    *file += '>';
}
