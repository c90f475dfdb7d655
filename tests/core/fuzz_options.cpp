// Options files and option values come from whoever starts the client:
// lines of an options file, "-epassword" digits and "DisplaySize" texts.
#include "core/diapp.h"

#include <stdlib.h>
#include <string.h>

#include <string>

int ddAppReadOptionsFile(DdApp*, const DiChar*) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    DdApp app;
    memset(&app, 0, sizeof app);
    std::u16string line = text;
    diAppApplyOptionsLine(&app, &line[0]);
    free(app.url);
    free(app.user);
    free(app.password);
    DiChar** texts[] = {&app.opt.objectName, &app.opt.objectArgs,        &app.opt.server,
                        &app.opt.script,     &app.opt.scriptLog,         &app.opt.portFile,
                        &app.opt.loginUrl,   &app.opt.connectionCookie,  &app.opt.logDir,
                        &app.opt.caFile,     &app.opt.baseRoute,         &app.opt.code,
                        &app.opt.resource,   &app.opt.preferredLanguage,
                        &app.opt.profile,    &app.opt.launchConfig};
    for (DiChar** t : texts)
        free(*t);
    free(diAppDecodeEPassword(text.c_str()));
    int32_t w, h;
    diAppParseDisplaySize(text.c_str(), &w, &h);
    return 0;
}
