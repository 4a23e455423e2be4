// Decryption dispatch and the traditional ZIP cipher: chooses AES or the traditional cipher for an
// entry, checks the password against it and leaves the stream at the data the decoder reads.
#pragma once

#include "archive/reader.h"
#include "crypto/decryption.h"

enum {
  ENCRYPTION_HEADER_SIZE = 12,
};

// Sets up decryption for an encrypted entry (password and entry), or switches it off (both null).
// Returns 1 when set up or switched off, 0 when the password is refused or empty, or the header cannot
// be read. On 1 the entry's compressedSize no longer counts the encryption header or the AES framing.
DWORD SetupDecryption(const char *password, EntryHeader *entry);
// Key initialisation from a password (the three start values, then every password byte).
void InitKeys(const char *password);
