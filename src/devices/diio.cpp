/* IO request channel streams. No reassembly table exists before the IO
 * request channel does, so there is nothing to free yet. */
#include "devices/didevices.h"

void diIOFreeStreams(void) {}
