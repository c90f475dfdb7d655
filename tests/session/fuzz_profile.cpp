// The profile file is read from disk, where anything may have been written.
#include "session/diprofile.h"
#include "support/mem_profile_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMemProfileStore store(std::string(reinterpret_cast<const char*>(data), size));
    store.Load(u"Default");
    return 0;
}
