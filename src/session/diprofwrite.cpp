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
        case '\n':
        case '\t':
            /* Attribute values keep line breaks only as references. */
            if (attribute) {
                *out += c == '\r' ? "&#13;" : c == '\n' ? "&#10;" : "&#9;";
                break;
            }
            *out += c;
            break;
        default:
            *out += c;
        }
    }
}

/* The character data of a node that is not a tag, decoded. */
static void diProfAppendText(std::string* out, CQVLXMLElement* node) {
    DiChar* text = node->GetText();
    diProfAppendEscaped(out, text, false);
    free(text);
}

static bool diProfIsBlank(CQVLXMLElement* node) {
    DiChar* text = node->GetText();
    bool blank = true;
    for (const DiChar* p = text; p && *p; p++)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') blank = false;
    free(text);
    return blank;
}

void CProfileStore::WriteElement(std::string* file, CQVLXMLElement* element, int indentation) {
    if (!file || !element) return;
    std::string pad(size_t(indentation > 0 ? indentation : 0) * 2, ' ');
    if (!element->IsTag()) {
        if (diProfIsBlank(element)) return;
        *file += pad;
        diProfAppendText(file, element);
        *file += '\n';
        return;
    }
    CQVLXMLTag* tag = static_cast<CQVLXMLTag*>(element);
    *file += pad;
    *file += '<';
    diProfAppendEscaped(file, tag->name ? tag->name->Text() : nullptr, false);
    if (tag->attributes)
        for (auto* n = tag->attributes->head; n; n = n->next) {
            *file += ' ';
            diProfAppendEscaped(file, n->item->name ? n->item->name->Text() : nullptr, false);
            *file += "=\"";
            diProfAppendEscaped(file, n->item->value ? n->item->value->Text() : nullptr, true);
            *file += '"';
        }
    CQVLXMLElementList* children = tag->GetChildren();
    if (!children) {
        *file += "/>\n";
        return;
    }
    *file += '>';
    bool hasTags = false;
    for (auto* n = children->head; n; n = n->next)
        if (n->item->IsTag()) hasTags = true;
    if (!hasTags) {
        /* Text only: on the same line, so no indentation enters it. */
        for (auto* n = children->head; n; n = n->next)
            diProfAppendText(file, n->item);
    } else {
        *file += '\n';
        for (auto* n = children->head; n; n = n->next)
            WriteElement(file, n->item, indentation + 1);
        *file += pad;
    }
    *file += "</";
    diProfAppendEscaped(file, tag->name ? tag->name->Text() : nullptr, false);
    *file += ">\n";
}
