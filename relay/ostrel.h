#pragma once

// The relay library's one entry, for programs that link it.

#include "ostrel_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Relays one card dialogue between the USB box and the decoding server, after loading the
// relay configuration when it is not loaded yet. Returns when the dialogue has ended, with the
// box and the server connection closed: 0 the card was read; -1 no box, or no first packet from
// it within 10 s; -2 the decoding server unreachable; -3 the server's first answer failed; -5 the
// server reported a failed read; -6 the server connection failed during the exchange. Not to be
// called again before it has returned.
OSTREL_EXPORT int ReadOstrel(void);

#ifdef __cplusplus
}
#endif
