/* The stream objects' shared insides (tarn_stream_state_ in tarn/tarn.h): which object is live,
 * and how one ends. */
#ifndef TARN_CORE_OBJECTS_H
#define TARN_CORE_OBJECTS_H

#include "core/core.h"

/* Marks an object that init prepared and finish has not ended; anything else is refused. */
#define TARNC_ENCODER_LIVE 0x54454E43u  /* "TENC" */
#define TARNC_DECODER_LIVE 0x54444543u  /* "TDEC" */
#define TARNC_REKEYER_LIVE 0x54524B59u  /* "TRKY" */
#define TARNC_VERIFIER_LIVE 0x54564552u /* "TVER" */

typedef tarn_stream_state_ tarnc_state;

/* The objects' size is part of the interface: the state must fit it. */
typedef char tarnc_state_fits[sizeof(tarnc_state) <= (size_t)TARN_STREAM_WORDS * 8 ? 1 : -1];
typedef char
    tarnc_verifier_fits[sizeof(tarn_verifier_state_) <= (size_t)TARN_VERIFIER_WORDS * 8 ? 1 : -1];

/* The state of a live object of that kind, else NULL. */
TARNC_FN tarnc_state* tarnc_live(tarn_stream_state_* s, uint32_t live);
/* Ends an object in failure: its keys and held bytes wiped, the status kept for every later
 * call. */
TARNC_FN tarn_status tarnc_fail(tarnc_state* s, tarn_status status);

#endif /* TARN_CORE_OBJECTS_H */
