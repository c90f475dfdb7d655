// The fake server's web side (tests/peers/halvanet_web.py) started from a
// Wine test program, with its transcript in a host file, and the answer to
// the certificate question its self-signed https form brings up.
#pragma once

#include "support/peer_process.h"
#include "ui/dlg_script.h"

#include <stdio.h>
#include <string>
#include <vector>

struct WebPeer : Peer {
    std::string transcript;
    // `pki` names a test PKI folder (support/test_pki.h): with `tls` the
    // side serves https with its self-signed certificate.
    bool start(const std::string& args, bool tls, const std::string& pki) {
        if (!reservePortFile()) return false;
        transcript = portFile + ".transcript";
        std::string all = "--transcript " + transcript + " " + args;
        if (tls) all += " --cert " + pki + "/selflocal.pem --key " + pki + "/selflocal.key";
        return Peer::start("halvanet_web.py", all, 120);
    }
    // The transcript's lines (one JSON object per request read).
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        FILE* f = fopen(("Z:" + transcript).c_str(), "rb");
        if (!f) return all;
        char line[65536];
        while (fgets(line, sizeof line, f))
            all.push_back(line);
        fclose(f);
        return all;
    }
    std::string text() const {
        std::string all;
        for (const std::string& l : lines())
            all += l;
        return all;
    }
    ~WebPeer() { DeleteFileA(("Z:" + transcript).c_str()); }
};

// Answers the certificate question: accept for this process, or refuse.
struct CertAnswer {
    enum { CTL_TEMPORARY = 1155 };
    DlgScript script;
    explicit CertAnswer(bool accept) {
        script.onInit = [accept](HWND dlg, int) {
            if (!accept) return press(dlg, IDCANCEL);
            CheckDlgButton(dlg, CTL_TEMPORARY, BST_CHECKED);
            press(dlg, IDOK);
        };
    }
};
