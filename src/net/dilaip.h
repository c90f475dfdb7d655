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

/* Ends the channel's pending login-dialog exchange. */
void diLAIPFreeDialogState(DiChannel* ch);

#endif
