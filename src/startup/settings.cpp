// The settings block: its 996 bytes decoded into a record and encoded back (the builder writes them),
// and the driver's step that reads the own file's block and applies it to the effective settings.
// Numbers are little-endian and texts UTF-16LE in the file; both are assembled unit by unit, so the code
// does not depend on the width of wchar_t.
#include "startup/startup.h"

#include "extract/extract.h"
#include "resources/resource_ids.h"

WCHAR g_destination[MAX_PATH];
WCHAR g_setupCommand[128];
DWORD g_overwriteWithoutAsking;
DWORD g_openFolderAfter = 1;
DWORD g_deleteAfterSetup;
DWORD g_skipDestinationDialog;
DWORD g_expectedArchiveCrc;
WCHAR g_questionCaption[32];
WCHAR g_questionText[64];
int g_requires64Bit;

static DWORD ReadU32(const BYTE *p) {
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

static void WriteU32(BYTE *p, DWORD value) {
  p[0] = (BYTE)value;
  p[1] = (BYTE)(value >> 8);
  p[2] = (BYTE)(value >> 16);
  p[3] = (BYTE)(value >> 24);
}

// Decodes a UTF-16LE field of `units` code units into `out` (room for `units` characters). A field without
// a terminator is cut so that the terminator fits.
static void DecodeText(const BYTE *field, int units, WCHAR *out) {
  int o = 0;
  for (int i = 0; i < units && o < units - 1; ++i) {
    unsigned unit = field[2 * i] | (field[2 * i + 1] << 8);
    if (unit == 0) break;
    if (sizeof(WCHAR) == 4 && unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
      unsigned low = field[2 * i + 2] | (field[2 * i + 3] << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        out[o++] = (WCHAR)(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out[o++] = (WCHAR)unit;
  }
  out[o] = 0;
}

// Encodes a text into a UTF-16LE field, zero-filled behind it; cut so that a terminator always fits.
static void EncodeText(const WCHAR *text, int units, BYTE *field) {
  memset(field, 0, (size_t)units * 2);
  int o = 0;
  for (int i = 0; text[i] != 0; ++i) {
    unsigned long c = (unsigned long)text[i];
    if (c >= 0x10000) {
      if (o + 2 > units - 1) break;
      c -= 0x10000;
      unsigned high = 0xD800 + (unsigned)(c >> 10), low = 0xDC00 + (unsigned)(c & 0x3FF);
      field[2 * o] = (BYTE)high;
      field[2 * o + 1] = (BYTE)(high >> 8);
      field[2 * o + 2] = (BYTE)low;
      field[2 * o + 3] = (BYTE)(low >> 8);
      o += 2;
    } else {
      if (o + 1 > units - 1) break;
      field[2 * o] = (BYTE)c;
      field[2 * o + 1] = (BYTE)(c >> 8);
      o += 1;
    }
  }
}

int DecodeSettingsBlock(const BYTE *bytes, SettingsBlock *block) {
  memcpy(block->magic, bytes, 6);
  block->kind = (char)bytes[6];
  block->magicEnd = (char)bytes[7];
  DecodeText(bytes + SETTINGS_DESTINATION_OFFSET, SETTINGS_DESTINATION_CHARS, block->destination);
  DecodeText(bytes + SETTINGS_SETUP_COMMAND_OFFSET, SETTINGS_SETUP_COMMAND_CHARS, block->setupCommand);
  block->overwriteWithoutAsking = ReadU32(bytes + SETTINGS_OVERWRITE_OFFSET);
  block->openFolderAfter = ReadU32(bytes + SETTINGS_OPEN_FOLDER_OFFSET);
  block->deleteAfterSetup = ReadU32(bytes + SETTINGS_DELETE_AFTER_OFFSET);
  block->skipDestinationDialog = ReadU32(bytes + SETTINGS_SKIP_DIALOG_OFFSET);
  block->archiveCrc = ReadU32(bytes + SETTINGS_ARCHIVE_CRC_OFFSET);
  DecodeText(bytes + SETTINGS_QUESTION_CAPTION_OFFSET, SETTINGS_QUESTION_CAPTION_CHARS, block->questionCaption);
  DecodeText(bytes + SETTINGS_QUESTION_TEXT_OFFSET, SETTINGS_QUESTION_TEXT_CHARS, block->questionText);
  // Byte 6 (the kind) takes no part in recognising the block.
  return memcmp(bytes, "TAVREN", 6) == 0 && bytes[7] == 'U';
}

void EncodeSettingsBlock(const SettingsBlock *block, BYTE *bytes) {
  memset(bytes, 0, SETTINGS_BLOCK_SIZE);
  memcpy(bytes, block->magic, 6);
  bytes[6] = (BYTE)block->kind;
  bytes[7] = (BYTE)block->magicEnd;
  EncodeText(block->destination, SETTINGS_DESTINATION_CHARS, bytes + SETTINGS_DESTINATION_OFFSET);
  EncodeText(block->setupCommand, SETTINGS_SETUP_COMMAND_CHARS, bytes + SETTINGS_SETUP_COMMAND_OFFSET);
  WriteU32(bytes + SETTINGS_OVERWRITE_OFFSET, block->overwriteWithoutAsking);
  WriteU32(bytes + SETTINGS_OPEN_FOLDER_OFFSET, block->openFolderAfter);
  WriteU32(bytes + SETTINGS_DELETE_AFTER_OFFSET, block->deleteAfterSetup);
  WriteU32(bytes + SETTINGS_SKIP_DIALOG_OFFSET, block->skipDestinationDialog);
  WriteU32(bytes + SETTINGS_ARCHIVE_CRC_OFFSET, block->archiveCrc);
  EncodeText(block->questionCaption, SETTINGS_QUESTION_CAPTION_CHARS, bytes + SETTINGS_QUESTION_CAPTION_OFFSET);
  EncodeText(block->questionText, SETTINGS_QUESTION_TEXT_CHARS, bytes + SETTINGS_QUESTION_TEXT_OFFSET);
}

int ReadSettingsBlock(const WCHAR *ownPath, int *temporaryDestination) {
  *temporaryDestination = 0;
  fseek(g_archiveFile, 0, SEEK_END);
  long size = ftell(g_archiveFile);
  DWORD overlay = FindOverlayOffset((const BYTE *)g_instance);
  if (size < 0 || (DWORD)size <= overlay) {
    // Nothing appended to the image: fail without a word.
    fclose(g_archiveFile);
    g_archiveFile = NULL;
    return 0;
  }

  BYTE *buffer = (BYTE *)malloc(SETTINGS_BLOCK_SIZE);
  if (buffer == NULL) {
    fclose(g_archiveFile);
    g_archiveFile = NULL;
    return 0;
  }
  fseek(g_archiveFile, (long)overlay, SEEK_SET);
  size_t got = fread(buffer, 1, SETTINGS_BLOCK_SIZE, g_archiveFile);

  // The record is large (texts of the whole block); keep it off the stack of small threads.
  static SettingsBlock block;
  if (got == SETTINGS_BLOCK_SIZE && DecodeSettingsBlock(buffer, &block)) {
    if (block.setupCommand[0] == 0) {
      // Without a setup command there is nothing to delete and nothing that needs 64-bit Windows.
      block.deleteAfterSetup = 0;
      block.kind = '3';
    }
    if (block.kind == '6') {
      if (!Wow64Request(-1)) {
        free(buffer);
        fclose(g_archiveFile);
        g_archiveFile = NULL;
        WCHAR text[128];
        LoadStringW(g_instance, IDS_NEEDS_WIN64, text, 128);
        MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONERROR);
        return 0;
      }
      g_requires64Bit = 1;
    }
    *temporaryDestination = ExpandDestinationKeyword(g_destination, &block, ownPath);
    lstrcpyW(g_setupCommand, block.setupCommand);
    g_overwriteWithoutAsking = block.overwriteWithoutAsking;
    g_openFolderAfter = block.openFolderAfter;
    g_deleteAfterSetup = block.deleteAfterSetup;
    g_skipDestinationDialog = block.skipDestinationDialog;
    g_expectedArchiveCrc = block.archiveCrc;
    lstrcpyW(g_questionCaption, block.questionCaption);
    lstrcpyW(g_questionText, block.questionText);
  }
  free(buffer);
  fseek(g_archiveFile, 0, SEEK_SET);
  return 1;
}
