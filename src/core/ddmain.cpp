/* Program entry: kept apart from ddapp so that test programs can link the
 * whole start-up code with an entry point of their own. */
#include "core/ddapp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prevInstance, LPSTR cmdLine, int show) {
    return ddAppMain(instance, prevInstance, cmdLine, show);
}
