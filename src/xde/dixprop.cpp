/* The properties the server sets on an X display (request 59) and the
 * drawing-speed probe (request 45). */
#include "xde/dixde.h"

#include "core/dilog.h"
#include "xde/dixseamless.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::u16string Text;

const size_t kTextLimit = 1024;

bool equals(const DiChar* s, uint32_t n, const char16_t* lit) {
    uint32_t i = 0;
    for (; i < n && lit[i]; i++)
        if (s[i] != lit[i]) return false;
    return i == n && !lit[i];
}

bool equalsNoCase(const DiChar* s, uint32_t n, const char* lit) {
    uint32_t i = 0;
    for (; i < n && lit[i]; i++) {
        DiChar c = s[i];
        if (c >= 'A' && c <= 'Z') c = DiChar(c + 32);
        if (c != DiChar(lit[i])) return false;
    }
    return i == n && !lit[i];
}

Text ascii(const char* s) {
    Text t;
    while (*s) t += DiChar(*s++);
    return t;
}

/* Texts that go into a command line or a browser: no quotes, no control
 * characters, within the buffer the command line is built in. */
bool safeText(const Text& t, bool noBlank) {
    if (t.size() > kTextLimit) return false;
    for (DiChar c : t)
        if (c < 0x20 || c == 0x7F || c == '"' || (noBlank && c == ' ')) return false;
    return true;
}

/* A URL of the form scheme://host/path (host not empty). */
bool splitsAsUrl(const Text& v) {
    size_t s = v.find(u"://");
    if (s == Text::npos || s == 0) return false;
    size_t slash = v.find(u'/', s + 3);
    return slash != Text::npos && slash > s + 3;
}

void openUrl(DiXDisplay* d, const Text& value) {
    if (!safeText(value, true)) {
        diLogErrorText(u"The X server's URL holds characters this client refuses; not opened.");
        return;
    }
    if (value.compare(0, 7, u"docroot") == 0) {
        if (d->dev->openUrl) d->dev->openUrl(d, value.c_str());
        return;
    }
    /* Joining with the launch's base URL needs the session's base; until
     * the session layer gives one there is no base, and nothing opens. */
    if (!splitsAsUrl(value)) return;
}

void launch(DiXDisplay* d, const Text& value) {
    Text part[4];
    size_t at = 0;
    for (int i = 0; i < 4; i++) {
        size_t end = value.find(DiChar(0), at);
        if (end == Text::npos) end = value.size();
        if (at <= value.size()) part[i] = value.substr(at, end - at);
        at = end + 1;
    }
    if (!safeText(part[0], true) || !safeText(part[1], false) || !safeText(part[2], false) ||
        !safeText(part[3], false)) {
        diLogErrorText(u"The X server's launch holds characters this client refuses; ignored.");
        return;
    }
    Text line = u"-url " + part[0] + u" -objectname \"" + part[1] + u"\" -username \"" +
                part[2] + u"\" -epassword \"" + part[3] + u"\" -login -minimized";
    if (d->dev->launchSelf) d->dev->launchSelf(d, line.c_str());
}

int hexValue(DiChar c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Tokens split at single blanks, each URL-decoded. An escape that is not
 * two hexadecimal digits stands as it is. */
std::vector<Text> tokens(const Text& v) {
    std::vector<Text> out;
    Text cur;
    for (size_t i = 0; i <= v.size(); i++) {
        if (i == v.size() || v[i] == ' ') {
            out.push_back(cur);
            cur.clear();
            if (out.size() > 40) break;
            continue;
        }
        DiChar c = v[i];
        if (c == '+') {
            cur += u' ';
        } else if (c == '%' && i + 2 < v.size() + 0 && hexValue(v[i + 1]) >= 0 &&
                   hexValue(v[i + 2]) >= 0) {
            int code = hexValue(v[i + 1]) * 16 + hexValue(v[i + 2]);
            /* Codes 0x80 and above widen with their sign, as peers expect. */
            cur += code < 0x80 ? DiChar(code) : DiChar(0xFF00 | code);
            i += 2;
        } else {
            cur += c;
        }
    }
    return out;
}

void pluginCommand(DiXDisplay* d, const Text& value) {
    std::vector<Text> t = tokens(value);
    if (t.empty()) return;
    int32_t result;
    if (t[0] == u"INITIALIZE") {
        if (t.size() < 3) return;
        result = d->dev->pluginInitialize ? d->dev->pluginInitialize(d, t[1].c_str(), t[2].c_str())
                                          : -1;
    } else if (t[0] == u"TERMINATE") {
        if (t.size() < 2) return;
        result = d->dev->pluginTerminate ? d->dev->pluginTerminate(d, t[1].c_str()) : -1;
    } else if (t[0] == u"CALL") {
        if (t.size() < 2) return;
        size_t argc = t.size() - 2;
        if (argc > 32) return;
        const DiChar* argv[32];
        for (size_t i = 0; i < argc; i++) argv[i] = t[i + 2].c_str();
        result = argc == 0 || !d->dev->pluginCall
                     ? -1
                     : d->dev->pluginCall(d, t[1].c_str(), int32_t(argc), argv);
    } else {
        return;
    }
    char buf[16];
    snprintf(buf, sizeof buf, "%d", int(result));
    Text r = ascii(buf);
    diXAIPSendProperty(d, u"", 0, u"qvl_call_client_reply", 21, r.data(), uint32_t(r.size()));
}

/* Probe timing. */
const uint32_t kRateClamp = 0x7FFFFD78u;
const uint32_t kMaxRuns = 4096;

uint32_t rateOf(uint32_t large, uint32_t small) {
    uint64_t r = 10000000u / (large - small);
    uint64_t p = r * 1000;
    return p > kRateClamp ? kRateClamp : uint32_t(p);
}

template <class F>
uint32_t timeLoop(uint32_t ms, bool even, F op) {
    uint32_t start = diDEClock(), count = 0, elapsed;
    do {
        op();
        count++;
        elapsed = diDEClock() - start;
    } while (elapsed < ms && count < kMaxRuns);
    /* An even count of XOR fills leaves the pixels as they were. */
    if (even && (count & 1)) op();
    return uint32_t(uint64_t(elapsed) * 1000 / (count ? count : 1));
}

DiXWindow* probeTarget(DiXDisplay* d) {
    if (!d->dev->probeTargetVisible) return nullptr;
    if (!(d->sessionFlags & DI_XSESSION_MULTI)) {
        DiXWindow* r = d->windows[0];
        const int32_t rect[4] = {0, 0, 100, 100};
        if (r && d->screenWidth >= 100 && d->screenHeight >= 100 &&
            d->dev->probeTargetVisible(d, r, rect))
            return r;
        return nullptr;
    }
    for (uint32_t id = 1; id < DI_XWINDOWS; id++) {
        DiXWindow* w = d->windows[id];
        if (!w || !w->frame || w->head.width < 100 || w->head.height < 100) continue;
        int32_t x = w->head.x > 0 ? w->head.x : 0, y = w->head.y > 0 ? w->head.y : 0;
        if (int64_t(d->screenWidth) - x < 100 || int64_t(d->screenHeight) - y < 100) continue;
        const int32_t rect[4] = {x, y, 100, 100};
        if (d->dev->probeTargetVisible(d, w, rect)) return w;
    }
    return nullptr;
}

/* The test area's corner: the target's origin, clipped to the display. */
void origin(const DiXWindow* w, int32_t* x, int32_t* y) {
    *x = w->head.id && w->head.x > 0 ? w->head.x : 0;
    *y = w->head.id && w->head.y > 0 ? w->head.y : 0;
}

} // namespace

void diXDEPropertyChanged(DiXDisplay* d, uint32_t op, const DiChar* window, uint32_t windowLength,
                          const DiChar* name, uint32_t nameLength, const DiChar* value,
                          uint32_t valueLength) {
    const char16_t* oldTransient = u"qvl-cwm-oldtransient";
    if (op == 0) {
        if (equals(name, nameLength, oldTransient)) d->flags &= ~DI_XFLAG_OLDTRANSIENT;
        return;
    }
    if (op != 1) return;
    if (valueLength > 16 * kTextLimit) {
        diLogErrorText(u"An X property value is too long; it is ignored.");
        return;
    }
    Text v(value, valueLength);
    if (equals(name, nameLength, u"mrkqvlloadurl")) {
        if (!v.empty()) openUrl(d, v);
    } else if (equals(name, nameLength, u"QVL_LAUNCHPROP")) {
        if (!v.empty()) launch(d, v);
    } else if (equals(name, nameLength, oldTransient)) {
        if (equalsNoCase(value, valueLength, "true"))
            d->flags |= DI_XFLAG_OLDTRANSIENT;
        else
            d->flags &= ~DI_XFLAG_OLDTRANSIENT;
    } else if (equals(name, nameLength, u"qvlplaysound")) {
        if (!v.empty() && v.size() <= kTextLimit && v.find(DiChar(0)) == Text::npos &&
            d->dev->playSound)
            d->dev->playSound(d, v.c_str());
    } else if (equals(name, nameLength, u"qvl_call_client_cmd")) {
        if (v.size() <= kTextLimit) pluginCommand(d, v);
    } else {
        diXSWMPropertyChanged(d, window, windowLength, name, nameLength, value, valueLength);
    }
}

void diXRunDrawingProbe(DiXDisplay* d) {
    uint32_t t1 = 0, t2 = 0, t3 = 0, t4 = 0, devRate = 0, fbRate = 0;
    bool devOk = false, fbOk = false, results = true;
    bool probedBefore = d->flags & DI_XFLAG_PROBED;
    DiXWindow* target = nullptr;
    if (!probedBefore) {
        target = probeTarget(d);
        if (target && d->dev->paint) {
            diXPaintExposures(d, target);
            diXPaintUpdates(d, target);
            int32_t x, y;
            origin(target, &x, &y);
            DiBox small{int16_t(x), int16_t(y), int16_t(x + 1), int16_t(y + 1)};
            DiBox large{int16_t(x), int16_t(y), int16_t(x + 100), int16_t(y + 100)};
            t1 = timeLoop(250, false, [&] { d->dev->paint(d, target, 1, &small); });
            t2 = timeLoop(500, false, [&] { d->dev->paint(d, target, 1, &large); });
            if (t2 > t1) devRate = rateOf(t2, t1), devOk = true;
        } else {
            target = nullptr;
        }
    }
    if (!devOk) {
        if (!probedBefore)
            target = d->windows[0];
        else
            results = false;
    }
    if (results && (d->flags & DI_XFLAG_ACK_ONCE) && target) {
        DiXGC* gc = diXCreateGC(d);
        if (!gc) {
            results = false;
        } else {
            gc->mode = DI_XGC_NO_DAMAGE;
            gc->drawableKind = 0;
            gc->drawableId = target->head.id;
            gc->drawable = &target->head;
            gc->fb.function = 6;
            diXValidateGC(d, &target->head, gc);
            int32_t x, y;
            origin(target, &x, &y);
            FbRect small{x, y, 1, 1}, large{x, y, 100, 100};
            FbBuffer* b = &target->head.fb;
            t3 = timeLoop(250, true, [&] { gc->fb.ops->PolyFillRect(d, b, &gc->fb, 1, &small); });
            t4 = timeLoop(500, true, [&] { gc->fb.ops->PolyFillRect(d, b, &gc->fb, 1, &large); });
            if (t4 > t3)
                fbRate = rateOf(t4, t3), fbOk = true;
            else
                results = false;
            diXFreeGC(d, gc);
        }
    }
    if (!devOk && !fbOk) results = false;
    if (results && !probedBefore && fbOk && !devOk) {
        t1 = t3 * 10;
        devRate = fbRate / 10;
    }
    if (results) {
        const uint32_t v[4] = {t1, devRate, t3, fbRate};
        diXAIPSendTimings(d, v, 4);
    } else if (!(d->flags & DI_XFLAG_ACK_ONCE)) {
        const uint32_t v[2] = {1000, 1000000};
        diXAIPSendTimings(d, v, 2);
    } else {
        const uint32_t v[4] = {0, 0, 0, 0};
        diXAIPSendTimings(d, v, 4);
    }
    if (!probedBefore && devOk && fbOk) d->flags |= DI_XFLAG_PROBED;
}
