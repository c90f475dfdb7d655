// The webtop document comes from the server: whatever it holds, every
// folder, shortcut and icon path stays under its root with no "." or ".."
// component and within 259 characters, and every shortcut's command line
// splits back into exactly the five expected arguments. The input, read as
// UTF-16, must also survive quoting unchanged.
#include "session/webmenu_check.h"

#include <string>

namespace {

const std::u16string kRoot = u"C:\\M\\web";
const std::u16string kIcons = u"C:\\I\\icons";

void checkPath(const std::u16string& path, const std::u16string& root) {
    if (path.size() > DI_MENU_MAX_PATH) __builtin_trap();
    if (path.compare(0, root.size() + 1, root + u"\\") != 0) __builtin_trap();
    std::u16string rest = path.substr(root.size() + 1);
    size_t start = 0;
    for (;;) {
        size_t end = rest.find(u'\\', start);
        std::u16string part = rest.substr(start, end - start);
        if (part.empty() || part == u"." || part == u"..") __builtin_trap();
        for (char16_t c : part)
            if (c < 0x20 || c == u'/' || c == u':') __builtin_trap();
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
}

struct CheckingSink : RecordingSink {
    void MakeFolder(const std::u16string& path) override { checkPath(path, kRoot); }
    bool MakeShortcut(const DiMenuShortcut& s) override {
        checkPath(s.path, kRoot);
        if (!s.iconName.empty()) {
            checkPath(s.icoPath, kIcons);
            checkPath(s.gifPath, kIcons);
            if (s.icoPath.find(u'\\', kIcons.size() + 1) != std::u16string::npos) __builtin_trap();
        }
        std::vector<std::u16string> args = splitCommandLine(s.target + s.arguments);
        if (args.size() != 5 || args[0] != u"C:\\hv\\hv.exe" || args[2] != u"h:u\"\\:p\\")
            __builtin_trap();
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckingSink sink;
    DiMenuContext ctx{kIcons, u"C:\\hv\\hv.exe", u"h:u\"\\:p\\"};
    diMenuWalk(reinterpret_cast<const char*>(data), size, kRoot, ctx, &sink);

    std::u16string value;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c) value.push_back(c);
    }
    std::vector<std::u16string> args =
        splitCommandLine(u"hv" + diMenuItemArguments(u"k", value.c_str()));
    if (args.size() != 5 || args[4] != value) __builtin_trap();
    return 0;
}
