// Hostile Ogg Vorbis streams, made from a well-formed one.
#pragma once
#include <cstdint>

#include "tools/oggsynth.h"

// The stream with codebook `book` of its setup header replaced by one that
// claims `entries` used entries of dimension `dim` (a complete code tree,
// lengths stored in ordered form, no value mapping). The rest of the setup
// header is kept bit for bit. Empty when the stream has no such codebook.
Bytes ogg_with_huge_codebook(const Bytes& ogg, int book, uint32_t entries, uint32_t dim);
// The number of codebooks in the setup header of a stream (0 if unreadable).
int ogg_codebook_count(const Bytes& ogg);
