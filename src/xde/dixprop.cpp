/* The properties the server sets on an X display (request 59) and the
 * drawing-speed probe (request 45). */
#include "xde/dixde.h"

#include "xde/dixprop.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "xde/dixseamless.h"
#include "net/dihttp.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef DiXText Text;

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

void logRefusal(const char* what, const char* why) {
    char buf[200];
    snprintf(buf, sizeof buf, "%s: %s.", what, why);
    diLogErrorText(ascii(buf).c_str());
}

bool endsWith(const Text& t, const char16_t* tail) {
    Text s(tail);
    return t.size() >= s.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
}

/* A "docroot" value names a page beside the redirect page in the local
 * temporary folder; the browser resolves it as a file: URL, so a step that
 * leaves that folder would open any local file. Refused: "." and ".." steps,
 * backslashes (the browser reads them as separators), and percent-encoded
 * dots and separators (decoded before the steps are resolved). The query
 * and fragment are not path steps and are not looked at. */
bool docrootPathSafe(const Text& value) {
    size_t end = value.find_first_of(u"?#");
    if (end == Text::npos) end = value.size();
    size_t step = 0;
    for (size_t i = 0; i <= end; i++) {
        if (i == end || value[i] == '/') {
            Text s = value.substr(step, i - step);
            if (s == u"." || s == u"..") return false;
            step = i + 1;
            continue;
        }
        if (value[i] == '\\') return false;
        if (value[i] == '%' && i + 2 < end) {
            const DiChar a = value[i + 1], b = DiChar(value[i + 2] | 0x20);
            if ((a == '2' && (b == 'e' || b == 'f')) || (a == '5' && b == 'c')) return false;
        }
    }
    return true;
}

void openUrl(DiXDisplay* d, const Text& value) {
    Text url;
    if (value.compare(0, 7, u"docroot") == 0) {
        if (!docrootPathSafe(value)) {
            logRefusal("The X server's URL is not opened", "a docroot path holds \".\" or "
                                                           "\"..\" steps, backslashes or "
                                                           "encoded dots or separators");
            return;
        }
        url = value;
    } else {
        const DiChar* base = diSOGetLaunchBaseUrl(&d->ch.hdr);
        if (!base && g_ddApp) base = g_ddApp->url;
        if (!base || !*base) return;
        if (!diXPropJoinUrl(base, value, &url)) return;
    }
    if (!diXPropSafeText(url, true) || url.size() >= kTextLimit) {
        logRefusal("The X server's URL is not opened", "it holds white space, quotes or control "
                                                      "characters, or is too long");
        return;
    }
    if (diSOOpenUrl(url.c_str())) return;
    if (d->dev->openUrl) d->dev->openUrl(d, url.c_str());
}

void launch(DiXDisplay* d, const Text& value) {
    Text line;
    const char* why = nullptr;
    if (!diXPropLaunchLine(value, &line, &why)) {
        logRefusal("The X server's launch request is ignored", why);
        return;
    }
    if (d->dev->launchSelf) d->dev->launchSelf(d, line.c_str());
}

int hexValue(DiChar c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/* Names handed to the plug-in layer: a decoded NUL would cut them short
 * and a control character has no place in an instance or file name. */
bool plainName(const Text& t) {
    if (t.empty()) return false;
    for (DiChar c : t)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

const size_t kPluginArgs = 32;

void reply(DiXDisplay* d, int32_t result) {
    char buf[16];
    snprintf(buf, sizeof buf, "%d", int(result));
    Text r = ascii(buf);
    diXAIPSendProperty(d, u"", 0, u"qvl_call_client_reply", 21, r.data(), uint32_t(r.size()));
}

void pluginCommand(DiXDisplay* d, const Text& value) {
    if (value.size() > kTextLimit) {
        logRefusal("Plug-in command refused", "longer than 1024 characters");
        reply(d, 1);
        return;
    }
    std::vector<Text> t = diXPropTokens(value);
    if (t.empty()) return;
    const bool init = t[0] == u"INITIALIZE", term = t[0] == u"TERMINATE",
               call = t[0] == u"CALL";
    if (!init && !term && !call) return;
    int32_t result = 1;
    if (t.size() < (init ? 3u : 2u) || !plainName(t[1]) || (init && !plainName(t[2]))) {
        logRefusal("Plug-in command refused", "an instance or library name is missing or "
                                              "holds control characters");
    } else if (init) {
        result = d->dev->pluginInitialize ? d->dev->pluginInitialize(d, t[1].c_str(), t[2].c_str())
                                          : 1;
    } else if (term) {
        result = d->dev->pluginTerminate ? d->dev->pluginTerminate(d, t[1].c_str()) : 1;
    } else if (t.size() == 2) {
        result = -1; /* no arguments: the library is not called */
    } else if (t.size() - 2 > kPluginArgs) {
        logRefusal("Plug-in call refused", "more than 32 arguments");
    } else {
        const DiChar* argv[kPluginArgs];
        size_t argc = t.size() - 2;
        for (size_t i = 0; i < argc; i++) argv[i] = t[i + 2].c_str();
        result = d->dev->pluginCall ? d->dev->pluginCall(d, t[1].c_str(), int32_t(argc), argv) : 1;
    }
    reply(d, result);
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

void diXDEPropertyChanged(DiXDisplay* d, uint32_t op, const DiChar* window,
                          uint32_t windowLength, const DiChar* name, uint32_t nameLength,
                          const DiChar* value, uint32_t valueLength) {
    const char16_t* oldTransient = u"qvl-cwm-oldtransient";
    if (op == 0) {
        if (equals(name, nameLength, oldTransient)) d->flags &= ~DI_XFLAG_OLDTRANSIENT;
        return;
    }
    if (op != 1) return;
    if (equals(name, nameLength, oldTransient)) {
        if (equalsNoCase(value, valueLength, "true"))
            d->flags |= DI_XFLAG_OLDTRANSIENT;
        else
            d->flags &= ~DI_XFLAG_OLDTRANSIENT;
    } else if (equals(name, nameLength, u"qvl-swm-windowinfo") ||
               equals(name, nameLength, u"qvl-swm-serverinfo") ||
               equals(name, nameLength, u"qvl-swm-focusinfo")) {
        diXSWMPropertyChanged(d, window, windowLength, name, nameLength, value, valueLength);
    } else if (valueLength == 0) {
        return; /* the remaining properties act only on a value */
    } else if (valueLength > 4 * kTextLimit) {
        diLogErrorText(u"An X property value is too long; it is ignored.");
        if (equals(name, nameLength, u"qvl_call_client_cmd")) reply(d, 1);
    } else if (equals(name, nameLength, u"mrkqvlloadurl")) {
        openUrl(d, Text(value, valueLength));
    } else if (equals(name, nameLength, u"QVL_LAUNCHPROP")) {
        launch(d, Text(value, valueLength));
    } else if (equals(name, nameLength, u"qvlplaysound")) {
        Text v(value, valueLength);
        if (v.size() <= kTextLimit && v.find(DiChar(0)) == Text::npos && d->dev->playSound)
            d->dev->playSound(d, v.c_str());
    } else if (equals(name, nameLength, u"qvl_call_client_cmd")) {
        pluginCommand(d, Text(value, valueLength));
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

bool diXPropSafeText(const DiXText& text, bool noBlank) {
    for (DiChar c : text) {
        if (c < 0x20 || c == 0x7F || c == '"') return false;
        if (noBlank && (c == ' ' || c == 0xA0 || c == 0x85 || c == 0x2028 || c == 0x2029 ||
                        c == 0x3000 || (c >= 0x2000 && c <= 0x200A)))
            return false;
    }
    return true;
}

bool diXPropJoinUrl(const DiXText& base, const DiXText& value, DiXText* url) {
    DiChar *scheme = nullptr, *host = nullptr, *path = nullptr;
    if (!diHTTPSplitURL(value.c_str(), &scheme, &host, &path)) return false;
    DiXText p(path);
    free(scheme);
    free(host);
    free(path);
    DiXText b = base;
    size_t hostStart = b.find(u"://");
    hostStart = hostStart == DiXText::npos ? 0 : hostStart + 3;
    size_t slash = b.rfind(u'/');
    if (slash != DiXText::npos && slash >= hostStart && endsWith(b, u".html"))
        b.resize(slash + 1);
    if (!b.empty() && b.back() == '/') b.pop_back();
    if (!p.empty() && p.back() == '/') p.pop_back();
    if (b.empty()) return false;
    *url = b + u"/" + p;
    return true;
}

namespace {

/* One argument in quotes as the new process's runtime splits it back:
 * backslashes are literal except in a run that ends at a quote, where each
 * pair is one backslash. The texts hold no quote, so only a run at the end
 * (before the closing quote) is doubled; left single, "x\\" would turn the
 * closing quote into a literal one and the texts after it into options. */
DiXText quoteArg(const DiXText& t) {
    size_t run = 0;
    while (run < t.size() && t[t.size() - 1 - run] == '\\')
        run++;
    return u"\"" + t + DiXText(run, u'\\') + u"\"";
}

} // namespace

bool diXPropLaunchLine(const DiXText& value, DiXText* line, const char** why) {
    DiXText part[4];
    size_t at = 0;
    for (int i = 0; i < 4; i++) {
        if (at > value.size() || (i > 0 && at == value.size())) {
            *why = "fewer than four texts";
            return false;
        }
        size_t end = value.find(DiChar(0), at);
        if (end == DiXText::npos) end = value.size();
        part[i] = value.substr(at, end - at);
        at = end + 1;
    }
    if (part[0].empty() || !diXPropSafeText(part[0], true)) {
        *why = "the URL is empty or holds white space, quotes or control characters";
        return false;
    }
    for (int i = 1; i < 4; i++)
        if (!diXPropSafeText(part[i], false)) {
            *why = "a text holds quotes or control characters";
            return false;
        }
    DiXText l = u"-url " + part[0] + u" -objectname " + quoteArg(part[1]) + u" -username " +
                quoteArg(part[2]) + u" -epassword " + quoteArg(part[3]) + u" -login -minimized";
    if (l.size() >= kTextLimit) {
        *why = "the command line would not fit 1024 characters";
        return false;
    }
    *line = l;
    return true;
}

std::vector<DiXText> diXPropTokens(const DiXText& v) {
    std::vector<DiXText> out;
    DiXText cur;
    for (size_t i = 0; i < v.size(); i++) {
        DiChar c = v[i];
        if (c == ' ') {
            out.push_back(cur);
            cur.clear();
        } else if (c == '+') {
            cur += u' ';
        } else if (c == '%' && i + 2 < v.size() && hexValue(v[i + 1]) >= 0 &&
                   hexValue(v[i + 2]) >= 0) {
            /* One byte, widened as every text of the wire is. */
            cur += DiChar(hexValue(v[i + 1]) * 16 + hexValue(v[i + 2]));
            i += 2;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}
