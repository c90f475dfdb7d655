// The application services the X engine reads outside its device: the
// local settings (from a map tests fill), the options file and the
// application structure.
#include "core/diapp.h"

#include <algorithm>
#include <map>
#include <string>

std::map<std::u16string, std::u16string> g_engineSettings;

// The application structure: tests fill its monitor records and server URL.
static DdApp s_engineApp;
DdApp* g_ddApp = &s_engineApp;

bool diSOGetLocalSetting(const DiChar* name, DiChar* buffer, size_t size) {
    auto it = g_engineSettings.find(name);
    if (it == g_engineSettings.end() || it->second.size() + 1 > size) return false;
    std::copy(it->second.begin(), it->second.end(), buffer);
    buffer[it->second.size()] = 0;
    return true;
}
bool diSOSetLocalSetting(const DiChar* name, const DiChar* value) {
    g_engineSettings[name] = value;
    return true;
}
// No helper takes URLs: the engine opens them itself.
int diSOOpenUrl(const DiChar*) {
    return 0;
}
int ddAppReadOptionsFile(DdApp*, const DiChar*) {
    return -1;
}
