// Checks shared by the webtop-menu tests and fuzz target: a command line
// split back by the client's own splitter, and a recording sink.
#ifndef HV_TEST_WEBMENU_CHECK_H
#define HV_TEST_WEBMENU_CHECK_H

#include "core/diutil.h"
#include "session/diwebmenu.h"

#include <string.h>

#include <string>
#include <vector>

inline std::vector<std::u16string> splitCommandLine(const std::u16string& line) {
    size_t argc = 0, chars = 0;
    diSplitCommandLine(line.c_str(), nullptr, nullptr, &argc, &chars);
    std::vector<DiChar*> argv(argc + 1);
    std::vector<DiChar> text(chars + 1);
    diSplitCommandLine(line.c_str(), argv.data(), text.data(), &argc, &chars);
    std::vector<std::u16string> out;
    for (size_t i = 0; i + 1 < argc; i++)
        out.push_back(argv[i]);
    return out;
}

struct RecordingSink : IDiMenuSink {
    std::vector<std::u16string> events; // "folder:", "link:", "cookie:" + text
    std::vector<DiMenuShortcut> shortcuts;
    int failAt = -1; // the shortcut (0-based) that fails

    void MakeFolder(const std::u16string& path) override { events.push_back(u"folder:" + path); }
    bool MakeShortcut(const DiMenuShortcut& s) override {
        events.push_back(u"link:" + s.path);
        shortcuts.push_back(s);
        return static_cast<int>(shortcuts.size()) - 1 != failAt;
    }
    void AddCookie(const DiChar* cookie) override {
        events.push_back(u"cookie:" + std::u16string(cookie));
    }
    void Refused(const char* what, const DiChar* name) override {
        events.push_back(u"refused:" + std::u16string(what, what + strlen(what)) + u":" + name);
    }
    std::u16string DocumentUrl(const DiChar* location) override {
        return u"http://web:8080/" + std::u16string(location);
    }
};

#endif
