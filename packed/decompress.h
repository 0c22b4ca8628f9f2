// Decoder of the body of a packed blob: an LZ77 bit-stream with tag bits
// taken most significant first, literals, four kinds of back-reference,
// gamma-coded numbers and an end byte.
#pragma once
#include <stdint.h>

// The failure value of the packed-resource functions.
constexpr uint32_t unpackError = 0xFFFFFFFFu;

// In:  input, inputLength: the body; never read past inputLength.
//      output, capacity: the buffer; never written past capacity.
// Out: the number of bytes produced (at least 1), or unpackError for a null
//      pointer, input that ends before the end byte, no room left, an offset
//      beyond the bytes produced, a repeat before any match, a gamma number
//      that does not fit 32 bits, or a long-match high part of 2^24 or more.
//      A match of offset 0 also fails: it would name no produced byte.
//      Bytes written before a failure stay in output. Bytes between the
//      returned count and capacity may be overwritten as well: a match near
//      them may be copied in whole steps that run past its end.
uint32_t decompress(const uint8_t* input, uint32_t inputLength, uint8_t* output, uint32_t capacity);
