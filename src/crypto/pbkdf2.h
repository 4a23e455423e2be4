// PBKDF2 (RFC 2898) with HMAC-SHA1 as its pseudo-random function.
#pragma once

#include "platform/platform.h"

// Derives outputLength (any positive number of) bytes; iterations below 1 count as 1.
void Pbkdf2HmacSha1(const BYTE *password, DWORD passwordLength, const BYTE *salt, DWORD saltLength,
                    DWORD iterations, BYTE *output, DWORD outputLength);
