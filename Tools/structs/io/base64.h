// Base64 encoder and decoder filters. The alphabet is 65 characters, the last one the pad; a
// null alphabet means the standard one (b64_rfc4648_charset).
#pragma once

#include "filter.h"

extern const char b64_rfc4648_charset[];

// The encoder writes no line breaks. Null with errno 22 for an alphabet that is not 65
// distinct characters.
struct filter *b64_encoder_create(const char *charset);
// The decoder skips white space and stops at the pad; any other character outside the
// alphabet fails the write with errno 22.
struct filter *b64_decoder_create(const char *charset);
