/* The properties' shell services and the plug-in libraries on Windows. A
 * plug-in library is loaded only from where this program decides: a bare
 * file name from the program's and the system's folders, an absolute local
 * path with its own folder and the system folder for its dependencies;
 * never from the current folder, PATH or the network. Its functions are
 * called through a thunk, as no calling convention is fixed for them. */
#include "xde/ddxplugin.h"

#include "core/ddmessage.h"
#include "core/dilog.h"
#include "xde/dixprop.h"

#include <windows.h>

#include <stdio.h>
#include <string>

/* Saves the callee-saved registers, pushes the arguments, calls, and takes
 * the stack pointer back from the frame pointer: a __cdecl function leaves
 * its arguments behind, a __stdcall one removes them, and a function that
 * clobbers EBX, ESI or EDI is repaired too. */
asm(".text\n"
    ".globl _ddXPluginThunk\n"
    ".def _ddXPluginThunk; .scl 2; .type 32; .endef\n"
    "_ddXPluginThunk:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 16(%ebp), %ecx\n"
    "    movl 12(%ebp), %edx\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%edx,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  call *8(%ebp)\n"
    "    leal -12(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebx\n"
    "    popl %ebp\n"
    "    ret\n");

namespace {

const wchar_t* w(const DiChar* s) {
    return reinterpret_cast<const wchar_t*>(s);
}

void logWhy(const char* what, const DiChar* file, DWORD error) {
    char tail[64];
    snprintf(tail, sizeof tail, error ? " (error %lu)." : ".", static_cast<unsigned long>(error));
    std::u16string t;
    for (const char* p = what; *p; p++) t += char16_t(*p);
    t += u" \"";
    for (size_t i = 0; file[i] && i < 260; i++) t += file[i];
    t += u"\"";
    for (const char* p = tail; *p; p++) t += char16_t(*p);
    diLogErrorText(t.c_str());
}

/* True when files on the drive of an absolute path may come from the
 * network: a mapped share, or a drive made (by SUBST or the like) over a
 * UNC path or over a folder of such a drive. A drive that cannot be
 * looked at counts as remote. */
bool remoteDrive(DiChar letter) {
    for (int hops = 0; hops < 26; hops++) {
        wchar_t root[] = {wchar_t(letter), L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_REMOTE) return true;
        root[2] = 0;
        wchar_t target[1024];
        if (!QueryDosDeviceW(root, target, 1024)) return true;
        switch (diXPluginDriveTarget(reinterpret_cast<const DiChar*>(target), &letter)) {
        case 0:
            return false;
        case 2:
            continue;
        default:
            return true;
        }
    }
    return true;
}

void* load(const DiChar* file) {
    DWORD flags;
    switch (diXPluginNameKind(file)) {
    case 1:
        flags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
        break;
    case 2:
        flags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
        break;
    default:
        logWhy("Plug-in library refused: not a bare file name or an absolute local path:", file,
               0);
        return nullptr;
    }
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) && remoteDrive(file[0])) {
        logWhy("Plug-in library refused: its drive leads to the network:", file, 0);
        return nullptr;
    }
    /* No "cannot find" or "bad image" boxes on a user's screen. */
    UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExW(w(file), nullptr, flags);
    DWORD error = module ? 0 : GetLastError();
    SetErrorMode(mode);
    if (!module) logWhy("Plug-in library cannot be loaded:", file, error);
    return module;
}

void* symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unload(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

int32_t call1(void* fn, const DiChar* instance) {
    const uintptr_t args[1] = {reinterpret_cast<uintptr_t>(instance)};
    return ddXPluginThunk(fn, args, 1);
}

int32_t call3(void* fn, const DiChar* instance, uint32_t argc, const DiChar* const* argv) {
    const uintptr_t args[3] = {reinterpret_cast<uintptr_t>(instance), argc,
                               reinterpret_cast<uintptr_t>(argv)};
    return ddXPluginThunk(fn, args, 3);
}

const DiXPluginLoader kLoader = {load, symbol, unload, call1, call3};

} // namespace

void ddXOpenUrl(DiXDisplay*, const DiChar* url) {
    ddShellRun(0, w(url), SW_SHOWNORMAL);
}

void ddXLaunchSelf(DiXDisplay*, const DiChar* parameters) {
    wchar_t self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return;
    ddShellOpenDefault(self, w(parameters), 0);
}

int32_t ddXPluginInitialize(DiXDisplay*, const DiChar* instance, const DiChar* library) {
    return diXPluginInitialize(&kLoader, instance, library);
}

int32_t ddXPluginTerminate(DiXDisplay*, const DiChar* instance) {
    return diXPluginTerminate(&kLoader, instance);
}

int32_t ddXPluginCall(DiXDisplay*, const DiChar* instance, int32_t argc,
                      const DiChar* const* argv) {
    return diXPluginCall(&kLoader, instance, uint32_t(argc), argv);
}
