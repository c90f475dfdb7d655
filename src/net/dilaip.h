/* Login-dialog records: the request that the server's login dialogs
 * describe and the reply the user's answers fill. */
#ifndef HV_DILAIP_H
#define HV_DILAIP_H

#include "di.h"

/* One field of a dialog request. Field 0 (kind 0) describes the
 * credentials form: `value` the dialog kind, `byte` the save mode, `flags`
 * or-ed into the request flags, `label` the default user name, `second`
 * the default domain. A field of kind 1 holds one byte in `byte` (field 1:
 * the smart-card preference, bit 0 always use the card, bit 1 fixed). */
struct DiLAIPField {
    uint16_t id;
    uint16_t kind;
    uint16_t length;
    uint16_t value;
    uint8_t byte;
    uint8_t flags;  /* bit 1: label present; bit 4: second text present */
    DiChar* label;  /* owned */
    DiChar* second; /* owned */
};

/* A dialog request (built from the server's credential requests). */
struct DiLAIPDialog {
    uint16_t flags;
    DiChar* host; /* the server's name, looked up for titles */
    DiChar* message;
    DiChar* title;
    DiChar* userLabel;
    DiChar* passwordLabel;
    uint16_t requestType; /* 3, 20 or 23 */
    uint16_t lastMethod;  /* 0 password, 1 smart card */
    uint16_t fieldCount;
    DiLAIPField* fields; /* owned, fieldCount entries */
};

/* The user's answer. The texts are owned (malloc) for method 0. */
struct DiLAIPReply {
    uint16_t method; /* 0 password, 1 smart card */
    uint16_t kind;   /* method 0: dialog kind; method 1: preference byte */
    uint8_t save;    /* 0, 1, or 2 when saving is fixed off */
    DiChar* user;
    DiChar* password;  /* the old password in a change of password */
    DiChar* password2; /* the new password */
    DiChar* domain;
};

/* The field with id `id`, or none. */
DiLAIPField* diLAIPFindField(DiLAIPDialog* dialog, uint16_t id);
/* Frees what the record owns (not the record); a deep copy, or none. */
void diLAIPDialogFree(DiLAIPDialog* dialog);
DiLAIPDialog* diLAIPDialogCopy(const DiLAIPDialog* dialog);
/* Frees the reply's texts (method 0) and clears it. */
void diLAIPReplyFree(DiLAIPReply* reply);

/* Frames: "LAIP", u32 total length, u16 type, u16 payload length, payload;
 * little-endian. A text is a u32 length and that many UTF-8 bytes. */
enum : uint32_t { DI_LAIP_HEADER = 12, DI_LAIP_MAX_PAYLOAD = 65535 };

/* Encoders: a new frame (free()) and its length, or -1 (nothing made) when
 * memory is short or the payload would pass 65535 bytes. */
int diLAIPEncodeLaunchRequest(uint8_t a, uint8_t b, const DiChar* text1, uint32_t value,
                              const DiChar* text2, const uint8_t block[64], const DiChar* text3,
                              const DiChar* text4, uint8_t** frame, size_t* length);
/* Message 2 (request 3) or 21 (requests 20 and 23). */
int diLAIPEncodeAnswer(uint16_t requestType, const DiLAIPReply* reply, uint8_t** frame,
                       size_t* length);
int diLAIPEncodeYesNo(uint16_t id, uint8_t yes, uint8_t** frame, size_t* length);
int diLAIPEncodeClose(uint8_t** frame, size_t* length);
/* The scrambled password as UTF-8 bytes (new, free()), its length in *length:
 * UTF-8 bytes XORed with "kelp.mint.stroll", each result a character. */
char* diLAIPScramble(const DiChar* password, size_t* length);

/* Decoders of the dialog requests 3, 20 and 23: 0 with the record filled
 * (free with diLAIPDialogFree), -1 for a malformed payload. */
int diLAIPParseDialog(uint16_t type, const uint8_t* payload, size_t length, DiLAIPDialog* out);
/* The message number of an end-of-exchange result code (111 when unknown). */
int diLAIPResultMessage(uint16_t code);

/* The exchange on a channel. */
int diLAIPSendRequest(DiChannel* ch, uint8_t a, uint8_t b, const DiChar* text1, uint32_t value,
                      const DiChar* text2, const uint8_t block[64], const DiChar* text3,
                      const DiChar* text4);
/* Reads and handles the frames that are complete: 0, -1 when the read failed
 * or the channel was closed for a frame it can never hold. */
int diLAIPReceive(DiChannel* ch);
/* Handles one frame's payload (tests and the fuzz target enter here). */
void diLAIPHandleFrame(DiChannel* ch, uint16_t type, const uint8_t* payload, size_t length);
void diLAIPRunDialog(DiChannel* ch, DiLAIPDialog* dialog);
/* Ends the channel's exchange state (the user's cancel from the progress
 * window): handler restored, timer cancelled. While a dialog of the
 * exchange is open, the end waits until it returns. */
void diLAIPFreeDialogState(DiChannel* ch);
/* True while the channel has an exchange. */
bool diLAIPActive(DiChannel* ch);

/* What the exchange calls outside the portable layer: the dialogs of the
 * Windows layer, and the outpost's and device channels' services. */
int ddDlgAuthenticateForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply);
int ddDlgChangePasswordForObject(DiObject* object, DiLAIPDialog* request, DiLAIPReply* reply);
void diSOSetLaunchRoute(DiChannel* ch, const DiLAIPDialog* dialog);
void diSOContinueLaunchOnRoute(DiChannel* ch, const DiLAIPDialog* dialog);
void diSOLaunchFailed(DiChannel* ch, int message, const DiChar* text);
void diSOCancelLaunchDialogTimer(void);
int diIOSendStart(DiChannel* ch);
int diPAIPSendStart(DiChannel* ch, int value);
/* A print channel's exchange ended; `started` when its result was success,
 * whose start message follows (or came already, when a dialog held the
 * end). A channel that is not started leaves no printing state behind. */
void diPAIPExchangeEnded(DiChannel* ch, int started);
/* A dialog or question of a print channel's exchange opens (`open` 1) or is
 * answered (0): the job waiting for that connection does not lose its
 * bound to the user's time. */
void diPAIPQuestionOpen(DiChannel* ch, int open);

#endif
