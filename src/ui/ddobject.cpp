/* The Windows side of display objects: what they read from DdApp. */
#include "core/ddapp.h"
#include "ui/diui.h"

void ddUIForgetRoot(DiObject* frame) {
    if (g_ddApp->root == frame) g_ddApp->root = nullptr;
}
