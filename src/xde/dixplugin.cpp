/* The registry of plug-in libraries the server loads into the client: one
 * record per library file (exact, case-sensitive names), up to 256 instance
 * names each; a library stays loaded while one of its names is registered.
 * Loading and calling are the loader's. */
#include "xde/dixprop.h"

#include "core/dilog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

DdXPlugin* g_first;
DdXPlugin* g_last;

bool same(const DiChar* a, const DiChar* b) {
    while (*a && *a == *b) a++, b++;
    return *a == *b;
}

DiChar* copy(const DiChar* s) {
    size_t n = 0;
    while (s[n]) n++;
    DiChar* c = static_cast<DiChar*>(malloc((n + 1) * sizeof(DiChar)));
    if (c) memcpy(c, s, (n + 1) * sizeof(DiChar));
    return c;
}

void fail(const char* what, const DiChar* name) {
    DiXText t;
    for (const char* p = what; *p; p++) t += DiChar(*p);
    t += u" \"";
    for (size_t i = 0; name[i] && i < 260; i++) t += name[i];
    t += u"\".";
    diLogErrorText(t.c_str());
}

DdXPlugin* byFile(const DiChar* file) {
    for (DdXPlugin* p = g_first; p; p = p->next)
        if (same(p->file, file)) return p;
    return nullptr;
}

DdXPlugin* byInstance(const DiChar* instance, uint32_t* slot) {
    for (DdXPlugin* p = g_first; p; p = p->next)
        for (uint32_t i = 0; i < DI_XPLUGIN_NAMES; i++)
            if (p->names[i] && same(p->names[i], instance)) {
                *slot = i;
                return p;
            }
    return nullptr;
}

void unlink(DdXPlugin* p) {
    (p->prev ? p->prev->next : g_first) = p->next;
    (p->next ? p->next->prev : g_last) = p->prev;
}

} // namespace

const DdXPlugin* diXPluginFirst() {
    return g_first;
}

int32_t diXPluginInitialize(const DiXPluginLoader* loader, const DiChar* instance,
                            const DiChar* file) {
    DdXPlugin* p = byFile(file);
    if (!p) {
        p = static_cast<DdXPlugin*>(calloc(1, sizeof(DdXPlugin)));
        DiChar* name = p ? copy(file) : nullptr;
        void* module = name ? loader->load(file) : nullptr;
        if (!module) {
            if (!name) fail("Plug-in library record cannot be made for", file);
            free(name);
            free(p);
            return 1;
        }
        p->file = name;
        p->module = module;
        p->prev = g_last;
        (g_last ? g_last->next : g_first) = p;
        g_last = p;
    }
    if (p->count >= int32_t(DI_XPLUGIN_NAMES)) {
        fail("Plug-in library has 256 instances already:", file);
        return 1;
    }
    uint32_t slot = 0;
    while (p->names[slot]) slot++;
    DiChar* name = copy(instance);
    if (!name) {
        if (p->count == 0) {
            unlink(p);
            loader->unload(p->module);
            free(p->file);
            free(p);
        }
        return 1;
    }
    p->names[slot] = name;
    p->count++;
    /* A failed initialisation leaves the instance registered: the server
     * terminates it as any other. */
    void* fn = loader->symbol(p->module, "qvlDLLInitialize");
    if (!fn) {
        fail("Plug-in library exports no qvlDLLInitialize:", file);
        return 1;
    }
    if (loader->call1(fn, name) == 1) return 0;
    fail("Plug-in initialisation failed for instance", instance);
    return 1;
}

int32_t diXPluginTerminate(const DiXPluginLoader* loader, const DiChar* instance) {
    uint32_t slot;
    DdXPlugin* p = byInstance(instance, &slot);
    if (!p) {
        fail("Plug-in instance not known:", instance);
        return 1;
    }
    int32_t result = 1;
    void* fn = loader->symbol(p->module, "qvlDLLTerminate");
    if (!fn)
        fail("Plug-in library exports no qvlDLLTerminate:", p->file);
    else if (loader->call1(fn, p->names[slot]) == 1)
        result = 0;
    else
        fail("Plug-in termination failed for instance", instance);
    free(p->names[slot]);
    p->names[slot] = nullptr;
    if (--p->count <= 0) {
        unlink(p);
        loader->unload(p->module);
        for (uint32_t i = 0; i < DI_XPLUGIN_NAMES; i++) free(p->names[i]);
        free(p->file);
        free(p);
    }
    return result;
}

int32_t diXPluginCall(const DiXPluginLoader* loader, const DiChar* instance, uint32_t argc,
                      const DiChar* const* argv) {
    uint32_t slot;
    DdXPlugin* p = byInstance(instance, &slot);
    if (!p) {
        fail("Plug-in instance not known:", instance);
        return 1;
    }
    void* fn = loader->symbol(p->module, "qvlDLLCall");
    if (!fn) {
        fail("Plug-in library exports no qvlDLLCall:", p->file);
        return 1;
    }
    return loader->call3(fn, p->names[slot], argc, argv);
}

namespace {

bool separator(DiChar c) {
    return c == '\\' || c == '/';
}

bool letter(DiChar c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

DiChar upper(DiChar c) {
    return c >= 'a' && c <= 'z' ? DiChar(c - 32) : c;
}

/* CON, PRN, AUX, NUL, COM1-9, LPT1-9 and COM or LPT with a superscript
 * 1, 2 or 3, with or without an extension and trailing blanks or dots:
 * Windows opens the device, whatever the folder. */
bool reservedDevice(const DiChar* name) {
    size_t n = 0;
    while (name[n] && name[n] != '.' && name[n] != ' ') n++;
    char base[5] = {};
    if (n < 3 || n > 4) return false;
    for (size_t i = 0; i < 3; i++)
        base[i] = char(upper(name[i]));
    static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL"};
    if (n == 3) {
        for (const char* f : fixed)
            if (!strcmp(base, f)) return true;
        return false;
    }
    const DiChar digit = name[3];
    return (!strcmp(base, "COM") || !strcmp(base, "LPT")) &&
           ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

} // namespace

int diXPluginNameKind(const DiChar* file) {
    if (!file || !file[0]) return 0;
    size_t n = 0, lastSep = 0;
    bool anySep = false;
    for (; file[n]; n++) {
        DiChar c = file[n];
        if (c < 0x20 || c == 0x7F || c == '"' || c == '*' || c == '?' || c == '<' || c == '>' ||
            c == '|')
            return 0;
        /* A colon is a drive's, and only at its place; elsewhere it names a
         * stream or a device. */
        if (c == ':' && n != 1) return 0;
        if (separator(c)) anySep = true, lastSep = n;
        if (n >= 32767) return 0;
    }
    /* No "." or ".." steps: the path names the folder it spells. */
    for (size_t i = 0; i < n; i++) {
        if (i > 0 && !separator(file[i - 1])) continue;
        size_t dots = 0;
        while (file[i + dots] == '.') dots++;
        if (dots >= 1 && dots <= 2 && (!file[i + dots] || separator(file[i + dots]))) return 0;
    }
    const DiChar* leaf = anySep ? file + lastSep + 1 : file;
    if (!*leaf || reservedDevice(leaf)) return 0;
    if (letter(file[0]) && file[1] == ':') return separator(file[2]) ? 2 : 0;
    if (anySep) return 0; /* UNC, device, rooted or relative with folders */
    return 1;
}

int diXPluginDriveTarget(const DiChar* target, DiChar* drive) {
    static const char* const remote[] = {"\\??\\UNC\\",
                                         "\\DEVICE\\MUP\\",
                                         "\\DEVICE\\LANMANREDIRECTOR\\",
                                         "\\DEVICE\\WEBDAVREDIRECTOR\\",
                                         "\\GLOBAL??\\UNC\\",
                                         "\\\\"};
    if (!target) return 1;
    for (const char* r : remote) {
        size_t i = 0;
        while (r[i] && target[i] && upper(target[i]) == DiChar(r[i]))
            i++;
        if (!r[i]) return 1;
    }
    /* A drive made over a folder of another drive: that drive decides. */
    if (target[0] == '\\' && target[1] == '?' && target[2] == '?' && target[3] == '\\' &&
        letter(target[4]) && target[5] == ':') {
        *drive = upper(target[4]);
        return 2;
    }
    if (target[0] == '\\' && target[1] == '?' && target[2] == '?' && target[3] == '\\') return 1;
    return 0;
}
