// The profile file is read from disk, where anything may have been written.
#include "session/diprofile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiProfileStore store;
    diProfileParse(&store, reinterpret_cast<const char*>(data), size);
    for (const auto& s : store.settings)
        diProfileFromUtf8(s.first + s.second);
    std::string out = diProfileSerialize(&store);
    DiProfileStore again;
    diProfileParse(&again, out.data(), out.size());
    // A start tag without its end tag leaves the element unread; only a
    // complete element has to survive the round trip.
    bool complete = store.head.find("<localsettings>") == std::string::npos;
    if (complete && again.settings != store.settings)
        __builtin_trap(); // what was read must survive a save
    return 0;
}
