// CRC-32/ISO-HDLC (the CRC of PNG and Ethernet): reflected polynomial
// 0xEDB88320, register preset to all ones, result inverted.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The CRC of length bytes at buffer; 0 for a null buffer or a length of 0.
uint32_t computeCrc32(const void* buffer, uint32_t length);
