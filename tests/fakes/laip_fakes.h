// Fakes of what the login-dialog exchange calls outside the portable layer:
// the two dialogs (scripted, with a hook that runs inside the dialog the way
// a modal loop delivers events), the outpost's launch services, the device
// channels' start messages and the progress window's status and details.
#ifndef HV_TESTS_LAIP_FAKES_H
#define HV_TESTS_LAIP_FAKES_H

#include "net/dilaip.h"

#include <functional>
#include <string>
#include <vector>

struct FakeLaipDialog {
    int ok = 1;
    DiLAIPReply reply{}; // texts copied into the caller's reply
    std::u16string user, password, password2, domain;
    std::function<void()> during; // runs while the dialog is "open"
};

struct FakeLaip {
    std::vector<FakeLaipDialog> dialogs;
    std::vector<std::string> calls; // "auth", "change", "route", "continue", ...
    std::vector<std::pair<int, std::u16string>> failures;
    std::vector<std::u16string> details;
    std::u16string status;
    uint32_t duration = 0;
    uint16_t lastKind = 0; // field 0's value of the last dialog shown
};

extern FakeLaip g_fakeLaip;
void laipFakesReset();

#endif
