// Decryption state that the byte inputs consult: which cipher decrypts the current entry's data as it is
// read (the traditional ZIP cipher or AES), and the routines that do it.
#pragma once

#include "platform/platform.h"

extern DWORD g_keys[3];
extern LONG g_decrypting;
extern LONG g_aesActive;

BYTE DecryptByte(void);
void UpdateKeys(BYTE plain);
// Decrypts in place those of count bytes that still belong to the current AES entry's encrypted data.
void AesEntryDecrypt(BYTE *data, DWORD count);
