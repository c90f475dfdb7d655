/* The progress window of a launch, portable half: states, status and
 * details texts, the bar's arithmetic and the view's drawing. Everything
 * that touches the dialog goes through the ddProg functions. GUI thread
 * only. */
#include "ui/diprog.h"

#include "core/dide.h"
#include "core/diutil.h"
#include "net/dilaip.h"
#include "ui/digdi.h"
#include "ui/diui.h"

#include <stdlib.h>
#include <string.h>

static DiProgress* diProg(DiObject* obj) {
    return reinterpret_cast<DiProgress*>(obj);
}

static size_t diProgStrLen(const DiChar* s) {
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

static bool diProgStrEqual(const DiChar* a, const DiChar* b) {
    if (!a || !b) return a == b;
    while (*a && *a == *b)
        a++, b++;
    return *a == *b;
}

void diProgInit(DiProgress* p, int32_t width, int32_t height) {
    memset(reinterpret_cast<char*>(p) + sizeof(DiObject), 0, sizeof(*p) - sizeof(DiObject));
    diUIObjectInit(&p->hdr, DI_OBJ_PROGRESS, width, height);
    p->hdr.handler = diProgHandleEvent;
    p->textColour = 0;
    p->marginLeft = 4;
    p->marginTop = 2;
    p->marginRight = 4;
    p->marginBottom = 2;
    p->lineHeight = 12;
}

void diProgAttach(DiProgress* p, DiObject* parent, DdGC* gc, DiGDIFont* font) {
    diUIObjectSetParent(&p->hdr, parent, gc);
    p->font = font;
    if (font) {
        int32_t h = ddProgFontHeight(gc, font);
        if (h > 0) p->lineHeight = h;
    }
}

void diProgFree(DiProgress* p) {
    free(p->status);
    p->status = nullptr;
    free(p->details);
    p->details = nullptr;
    p->detailsLength = p->detailsRoom = 0;
    if (p->font) diGDIReleaseFont(p->hdr.gc, p->font);
    p->font = nullptr;
}

int diProgSetText(DiProgress* p, const DiChar* text) {
    if (diProgStrEqual(p->status, text)) return 0;
    DiChar* copy = nullptr;
    if (text) {
        size_t n = diProgStrLen(text);
        copy = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
        if (!copy) return -1;
        memcpy(copy, text, (n + 1) * sizeof(DiChar));
    }
    free(p->status);
    p->status = copy;
    diProgDraw(p);
    return 0;
}

int32_t diProgStateMessage(int32_t state) {
    static const int32_t messages[] = {8, 10, 31, 32, 62, 9, 11, 12, 19, 21, 23, 26, 320, 319};
    if (state < 0 || state >= int32_t(DI_COUNTOF(messages))) return -1;
    return messages[state];
}

/* Message text, or the empty text when it cannot be loaded. */
static void diProgMessage(int32_t message, DiChar* buffer) {
    buffer[0] = 0;
    if (ddProgLoadMessage(message, buffer, DI_PROG_MSG_CHARS) <= 0) buffer[0] = 0;
    buffer[DI_PROG_MSG_CHARS - 1] = 0;
}

static bool diProgIsFailure(int32_t state) {
    return state == DI_PROG_FAILED_STATE || state == DI_PROG_FAILED_DETAIL;
}

void diProgSetState(DiObject* obj, int32_t state, int32_t detailMessage) {
    if (!obj) return;
    DiProgress* p = diProg(obj);
    p->state = state;
    if (diProgIsFailure(state)) {
        p->flags |= DI_PROG_FLAG_FAILED;
        if (p->autoDetails) ddProgShowDetails(obj, 1);
    }
    if (diProgIsFailure(state) && detailMessage != 0) {
        DiChar format[DI_PROG_MSG_CHARS], detail[DI_PROG_MSG_CHARS];
        DiChar text[2 * DI_PROG_MSG_CHARS];
        diProgMessage(DI_PROG_MSG_FAILED_DETAIL, format);
        diProgMessage(detailMessage, detail);
        if (diFormatPositional(text, DI_COUNTOF(text), format, {detail}) < 0) text[0] = 0;
        diProgSetText(p, text);
    } else if (!(p->flags & DI_PROG_FLAG_FAILED)) {
        int32_t message = diProgStateMessage(state);
        if (message >= 0) {
            DiChar text[DI_PROG_MSG_CHARS];
            diProgMessage(message, text);
            diProgSetText(p, text);
        }
    }
    if (p->status && (!(p->flags & DI_PROG_FLAG_FAILED) || state == DI_PROG_FAILED_DETAIL))
        diProgAppendDetails(obj, -1, p->status);
    ddProgUpdate(obj, state);
}

int diProgAppendDetails(DiObject* obj, int32_t length, const DiChar* text) {
    if (!obj || !text || length < -1) return -1;
    DiProgress* p = diProg(obj);
    uint64_t n = length == -1 ? diProgStrLen(text) : uint32_t(length);
    uint64_t need = uint64_t(p->detailsLength) + n + 2; /* the text, CR LF */
    if (need > DI_PROG_DETAILS_MAX) return -1;
    if (need + 1 > p->detailsRoom) {
        uint64_t room = p->detailsRoom ? uint64_t(p->detailsRoom) * 2 : 256;
        while (room < need + 1)
            room *= 2;
        if (room > DI_PROG_DETAILS_MAX + 1) room = DI_PROG_DETAILS_MAX + 1;
        DiChar* grown = static_cast<DiChar*>(realloc(p->details, size_t(room) * sizeof(DiChar)));
        if (!grown) return -1;
        p->details = grown;
        p->detailsRoom = uint32_t(room);
    }
    DiChar* end = p->details + p->detailsLength;
    memcpy(end, text, size_t(n) * sizeof(DiChar));
    end[n] = u'\r';
    end[n + 1] = u'\n';
    end[n + 2] = 0;
    p->detailsLength = uint32_t(need);
    ddProgRefreshDetails(obj);
    return 0;
}

void diProgSetDuration(DiObject* obj, uint32_t milliseconds) {
    if (!obj) return;
    ddProgStopTimer(obj);
    diProg(obj)->duration = milliseconds;
    ddProgStartTimer(obj);
}

uint32_t diProgSetAutoDetails(DiObject* obj, uint32_t flag) {
    if (!obj) return 0;
    diProg(obj)->autoDetails = flag ? 1 : 0;
    return diProg(obj)->autoDetails;
}

void diProgCancel(DiObject* obj) {
    if (!obj || !obj->parent || obj->parent->type != DI_OBJ_DEMANAGER) return;
    DiDEManager* m = reinterpret_cast<DiDEManager*>(obj->parent);
    int32_t state = diProg(obj)->state;
    if (state != DI_PROG_CONNECTED && state != DI_PROG_FAILED_STATE && m->channel)
        diLAIPFreeDialogState(m->channel);
    /* The manager's slot holds the reference we drop: empty it first, so
     * that nothing reached through the manager (the view's destruction, a
     * second cancel) finds an object on its way out, and release only a
     * reference the slot really held. */
    if (m->progress != obj) return;
    m->progress = nullptr;
    diUIObjectRelease(obj);
}

int diProgHandleEvent(DiObject* obj, DiEvent* ev) {
    if (ev->w[0] == DI_EV_EXPOSE && ev->w[1] == 0) {
        diProgDraw(diProg(obj));
        return 1;
    }
    return 0;
}

void diProgDraw(DiProgress* p) {
    DdGC* gc = p->hdr.gc;
    if (!gc || !p->status) return;
    ddGDISetFunction(gc, 3); /* copy */
    ddGDISetForeground(gc, p->hdr.background);
    ddGDIFillRect(gc, p->marginLeft, p->marginTop - 8, p->hdr.width, p->hdr.height + 8);
    if (p->state != DI_PROG_ENDED && p->state != DI_PROG_FAILED_DETAIL) return;
    int64_t textHeight = int64_t(diProgCountLines(p->status)) * p->lineHeight;
    if (textHeight > INT32_MAX) textHeight = INT32_MAX;
    int32_t y = textHeight > p->hdr.height ? int32_t(p->hdr.height - textHeight) : p->marginTop;
    ddGDISetForeground(gc, p->textColour);
    ddGDISetBackground(gc, p->hdr.background);
    DiGDIFont* old = ddGDISelectFont(gc, p->font);
    ddGDIDrawText(gc, p->marginLeft, y, p->hdr.width, int32_t(textHeight), p->status, 0);
    ddGDISelectFont(gc, old);
}

int32_t diProgPercent(uint32_t now, uint32_t start, uint32_t duration) {
    uint64_t percent = uint64_t(now - start) * 100 / duration;
    return percent >= 100 ? 100 : int32_t(percent);
}

int32_t diProgFillWidth(int32_t w, int32_t percent) {
    if (w < 4) return 0;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    return int32_t(int64_t(w - 4) * percent / 100);
}

/* Length of the line break at text[i] (CR, LF, CR LF, LF CR), 0 for none. */
static uint32_t diProgBreakAt(const DiChar* text, uint32_t length, uint32_t i) {
    DiChar c = text[i];
    if (c != u'\r' && c != u'\n') return 0;
    if (i + 1 < length && (text[i + 1] == u'\r' || text[i + 1] == u'\n') && text[i + 1] != c)
        return 2;
    return 1;
}

int32_t diProgCountLines(const DiChar* text) {
    uint32_t length = uint32_t(diProgStrLen(text));
    int32_t lines = 1;
    for (uint32_t i = 0; i < length;) {
        uint32_t b = diProgBreakAt(text, length, i);
        if (b) {
            lines++;
            i += b;
        } else {
            i++;
        }
    }
    return lines;
}

int diProgNextLine(const DiChar* text, uint32_t length, uint32_t* pos, DiChar* line,
                   uint32_t* lineLength) {
    uint32_t i = *pos, n = 0;
    while (i < length && text[i] == 0)
        i++;
    if (i >= length) {
        *pos = i;
        return 0;
    }
    while (i < length) {
        if (text[i] == 0) {
            i++;
            continue;
        }
        uint32_t b = diProgBreakAt(text, length, i);
        if (b) {
            i += b;
            break;
        }
        if (n == DI_PROG_LINE_CHARS) break;
        line[n++] = text[i++];
    }
    line[n] = 0;
    *lineLength = n;
    *pos = i;
    return 1;
}
