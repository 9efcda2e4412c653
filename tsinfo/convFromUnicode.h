// UTF-16, UTF-8 and 32-bit unit text to ARIB 8-unit code, written with the
// cheapest plan of designations and shifts (bankPlan) from the initial
// converter state.
//
// The contract of the decoders holds here too: the caller supplies the
// destination and its size; a null destination only counts; the count
// returned never exceeds the size, also when only counting; a closing 0 is
// stored after the text when there is room and is not counted. Characters
// no set can write are dropped. A result cut at maxbufsize may end inside
// an escape sequence or a two-byte character. When memory for the plan is
// short the result is 0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bankPlan.h"

// Stores code at dst when dbuf is not null and dst < maxbufsize.
void writeBuf(uint8_t* dbuf, size_t maxbufsize, size_t dst, uint8_t code);

// bCharSize: write alphanumerics, JIS X 0201 katakana and spaces in medium
// size (MSZ) and everything else in normal size (NSZ); false writes no size
// control.
size_t conv_from_unicode(uint8_t* dbuf, size_t maxbufsize, const char16_t* sbuf, size_t total_length,
                         bool bCharSize);
size_t conv_from_unicode(uint8_t* dbuf, size_t maxbufsize, const uint8_t* sbuf, size_t total_length,
                         bool bCharSize);
// Sizes follow each unit's normal-size bit.
size_t conv_from_U32T(uint8_t* dbuf, size_t maxbufsize, const uint32_t* sbuf, size_t total_length);
