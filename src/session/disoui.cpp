#include "session/disoui.h"

#include "core/dilog.h"
#include "core/diutil.h"
#include "session/diso.h"
#include "xml/qvlxmlglobals.h"

#include <string.h>

namespace {
/* Message `n` cut to the buffer; false when missing. */
bool messageText(uint32_t n, DiChar* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    return diLogLoadMessage(n, buffer, size) && buffer[0];
}

void copyCut(DiChar* buffer, size_t size, const DiChar* text) {
    size_t n = qvlStrLen(text);
    if (n >= size) n = size - 1;
    memcpy(buffer, text, n * sizeof(DiChar));
    buffer[n] = 0;
}
} // namespace

bool CSOUIComponent::GetText(DiChar* buffer, size_t size) {
    if (buffer && size) buffer[0] = 0;
    return false;
}

CSOUIComponent* CSOUIComponent::Find(const DiChar* verb) {
    return diSOUISameVerb(GetVerb(), verb) ? this : nullptr;
}

CSOUIItem::CSOUIItem(const DiChar* v, uint32_t m, void (*a)()) : verb(v), message(m), action(a) {}

bool CSOUIItem::GetText(DiChar* buffer, size_t size) {
    return messageText(message, buffer, size);
}

void CSOUIItem::Activate() {
    if (action) action();
}

int CSOUIMenu::CountItems() {
    int n = 1;
    for (auto* c = children.head; c; c = c->next)
        n += c->item->CountItems();
    return n;
}

bool CSOUIMenu::GetText(DiChar* buffer, size_t size) {
    if (message) return messageText(message, buffer, size);
    return CSOUIComponent::GetText(buffer, size);
}

CSOUIComponent* CSOUIMenu::Find(const DiChar* v) {
    if (diSOUISameVerb(verb, v)) return this;
    for (auto* c = children.head; c; c = c->next)
        if (CSOUIComponent* found = c->item->Find(v)) return found;
    return nullptr;
}

bool CSOUIMenu::IsVisible() {
    if (state != DI_SOUI_ENABLED) return false;
    for (auto* c = children.head; c; c = c->next)
        if (c->item->IsVisible()) return true;
    return false;
}

bool CSOUIServerItem::GetText(DiChar* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    CServerOutpost* so = g_diOutpost;
    if (!so || so->connectionState != DI_SO_CONNECTED) return messageText(416, buffer, size);
    const DiChar* shortName = so->userInfo[DI_SO_SHORTNAME];
    const DiChar* server = so->userInfo[DI_SO_SERVER];
    const DiChar* option = so->server && so->server[0] ? so->server : nullptr;
    /* The port as the 16-bit number it is on the wire. */
    int port = static_cast<int>(static_cast<uint16_t>(so->port));
    DiChar text[512];
    text[0] = 0;
    if (shortName && server)
        diFormatPositional(text, 512, u"%s@%s", {shortName, server});
    else if (shortName && option)
        diFormatPositional(text, 512, u"%s@%s:%d", {shortName, option, port});
    else if (shortName)
        diFormatPositional(text, 512, u"%s", {shortName});
    else if (server)
        diFormatPositional(text, 512, u"%s", {server});
    else if (option)
        diFormatPositional(text, 512, u"%s:%d", {option, port});
    else
        return messageText(442, buffer, size);
    copyCut(buffer, size, text);
    return true;
}

CSOUIRootMenu::CSOUIRootMenu(const DiSOUIActions& a) : CSOUIMenu(u"_root", 0) {
    file = new CSOUIMenu(u"file", 413);
    file->AddChild(new CSOUIItem(u"eventlog", 415, a.showEventLog), true);
    file->AddChild(new CSOUIItem(u"connectioninfo", 417, a.showConnectionInfo), true);
    /* Not among the server's verbs of old: it opens the options sheet. */
    file->AddChild(new CSOUIItem(u"options", 426, a.showOptions), true);
    file->AddChild(new CSOUIItem(u"exit", 423, a.exit), true);
    help = new CSOUIMenu(u"help", 424);
    help->AddChild(new CSOUIItem(u"about", 425, a.showAbout), true);
    AddChild(&server, false);
    AddChild(file, true);
    AddChild(help, true);
}

int32_t diSOUIParseState(const DiChar* word) {
    static const char* const kWords[] = {"enabled", "disabled", "hidden"};
    for (int32_t i = 0; word && i < 3; i++)
        if (qvlStrEqAscii(word, kWords[i])) return i;
    return -1;
}

bool diSOUISameVerb(const DiChar* a, const DiChar* b) {
    return a && b && qvlStrCmp(a, b) == 0;
}

bool diSOUIActivateVerb(CSOUIComponent* root, const DiChar* verb) {
    CSOUIComponent* c = root ? root->Find(verb) : nullptr;
    if (!c) return false;
    c->Activate();
    return true;
}

static void addLine(std::vector<DiSOUIMenuLine>* lines, CSOUIComponent* c) {
    if (!c) return;
    int32_t s = c->GetState();
    if (s == DI_SOUI_HIDDEN || s < 0 || s > 2) return;
    DiSOUIMenuLine line;
    line.component = c;
    line.popup = c->GetChildCount() > 0;
    line.grayed = s != DI_SOUI_ENABLED;
    DiChar text[256];
    c->GetText(text, 256);
    line.text = text;
    lines->push_back(line);
}

static void addSeparator(std::vector<DiSOUIMenuLine>* lines) {
    DiSOUIMenuLine sep;
    sep.separator = true;
    lines->push_back(sep);
}

void diSOUIMenuLines(CSOUIRootMenu* root, std::vector<DiSOUIMenuLine>* lines) {
    lines->clear();
    if (!root) return;
    if (root->server.GetState() == DI_SOUI_ENABLED) {
        DiSOUIMenuLine status;
        DiChar text[256];
        root->server.GetText(text, 256);
        status.text = text;
        status.disabled = true;
        lines->push_back(status);
        addSeparator(lines);
    }
    if (root->file->GetState() == DI_SOUI_ENABLED) {
        for (const DiChar* verb : {u"eventlog", u"connectioninfo", u"options"})
            addLine(lines, root->file->Find(verb));
        addSeparator(lines);
    }
    if (root->help->GetState() == DI_SOUI_ENABLED) addLine(lines, root->help->Find(u"about"));
    addLine(lines, root->file->Find(u"exit"));
}

void diSOUITipText(CSOUIRootMenu* root, DiChar tip[64]) {
    tip[0] = 0;
    if (!root || root->server.GetState() != DI_SOUI_ENABLED) return;
    DiChar text[512];
    root->server.GetText(text, 512);
    size_t n = qvlStrLen(text);
    if (n > 63) {
        n = 63;
        /* Never the first half of a surrogate pair alone. */
        if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) n--;
    }
    memcpy(tip, text, n * sizeof(DiChar));
    tip[n] = 0;
}
