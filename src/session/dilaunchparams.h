/* The launch parameters: what one application launch needs (application
 * session and server, engine, placement, size, progress behaviour and the
 * ids that tie it to the server's requests), filled from the parameters of
 * requestLaunch, doLaunch and helperLaunchReady and merged when a later
 * request completes an earlier one. Texts are owned (malloc), null when
 * absent. */
#ifndef HV_DILAUNCHPARAMS_H
#define HV_DILAUNCHPARAMS_H

#include "di.h"

class CQVLSOAPRequest;

struct DiLaunchParams {
    DiChar* sessionId = nullptr;
    DiChar* sessionCookie = nullptr;
    DiChar* externalDnsName = nullptr;
    DiChar* peerDnsName = nullptr;
    DiChar* owner = nullptr;
    int32_t port = 0;
    DiChar* connectionId = nullptr;
    DiChar* appName = nullptr;
    /* Points into appName after its last "=" (all of it without one); null
     * while appName is null. Not owned. */
    const DiChar* appShortName = nullptr;
    int32_t engineType = 2; /* 5 X, 6 terminal; 2 until an object class */
    int32_t appKind = 0;    /* 1 X, 2 character, 3 console, 4 Windows, 6 3270, 7 5250 */
    int32_t width = 0;
    int32_t height = 0;
    /* 0 none, 1 browser, 2 independent window, 3 multiple windows, 4 kiosk,
     * 5 local X, 6 local Windows application, 7 seamless windows. */
    int32_t placement = 0;
    DiChar* launchHostName = nullptr;
    DiChar* requestTransactionId = nullptr;
    DiChar* url = nullptr;
    DiChar* localLaunchCommand = nullptr;
    DiChar* localLaunchArguments = nullptr;
    DiChar* baseUrl = nullptr;
    DiChar* transactionId = nullptr;
    int32_t detailsHidden = 1;
    int32_t detailsDisabled = 0;
    uint8_t showOnError = 1;
    int32_t showLaunchDialogAfter = 0;
    uint8_t scalable = 0;
    uint8_t secure = 0;

    DiLaunchParams() {}
    /* Defaults, then Parse(request). */
    explicit DiLaunchParams(CQVLSOAPRequest* request);
    ~DiLaunchParams();
    DiLaunchParams(const DiLaunchParams&) = delete;
    DiLaunchParams& operator=(const DiLaunchParams&) = delete;

    /* Applies every known parameter the request carries (string, int,
     * short or boolean; other types leave the field), then recomputes
     * appShortName. */
    void Parse(CQVLSOAPRequest* request);
    /* Takes other's present texts (absent ones keep ours) and all of its
     * numbers and flags. */
    void Merge(const DiLaunchParams& other);
    /* Replaces sessionId by a copy of text. */
    void ReplaceSessionId(const DiChar* text);
    /* Frees transactionId. */
    void ClearTransactionId();
    /* appShortName from appName. */
    void RecomputeShortName();
};

/* A decimal number as the launch parameters read it from text: leading
 * blanks skipped, an optional sign, digits up to the first other character
 * (0 when none), saturated at the 32-bit limits. */
int32_t diLaunchScanNumber(const DiChar* text);

#endif
