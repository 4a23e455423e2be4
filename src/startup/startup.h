// Start-up and extraction driver: the effective settings, the process entry and command line, the
// settings block, destination keywords and path routines, and the shared string list.
#pragma once

#include "platform/platform.h"

// ---- effective settings (starting values set by ProgramEntry, replaced by a valid settings block) ----
extern WCHAR g_destination[MAX_PATH];
extern WCHAR g_setupCommand[128];
extern DWORD g_overwriteWithoutAsking;
extern DWORD g_openFolderAfter;
extern DWORD g_deleteAfterSetup;
extern DWORD g_skipDestinationDialog;
extern DWORD g_expectedArchiveCrc;
extern WCHAR g_questionCaption[32];
extern WCHAR g_questionText[64];
extern int g_requires64Bit;
extern HINSTANCE g_instance;

// ---- the settings block in the file ----
enum {
  SETTINGS_BLOCK_SIZE = 996,
  SETTINGS_DESTINATION_OFFSET = 0x008,
  SETTINGS_DESTINATION_CHARS = 260,
  SETTINGS_SETUP_COMMAND_OFFSET = 0x210,
  SETTINGS_SETUP_COMMAND_CHARS = 128,
  SETTINGS_OVERWRITE_OFFSET = 0x310,
  SETTINGS_OPEN_FOLDER_OFFSET = 0x314,
  SETTINGS_DELETE_AFTER_OFFSET = 0x318,
  SETTINGS_SKIP_DIALOG_OFFSET = 0x31C,
  SETTINGS_ARCHIVE_CRC_OFFSET = 0x320,
  SETTINGS_QUESTION_CAPTION_OFFSET = 0x324,
  SETTINGS_QUESTION_CAPTION_CHARS = 32,
  SETTINGS_QUESTION_TEXT_OFFSET = 0x364,
  SETTINGS_QUESTION_TEXT_CHARS = 64,
};

// The block decoded from its bytes: texts are UTF-16LE in the file and are decoded unit by unit, cut at
// the field's end when they carry no terminator.
struct SettingsBlock {
  char magic[6];
  char kind;
  char magicEnd;
  WCHAR destination[SETTINGS_DESTINATION_CHARS];
  WCHAR setupCommand[SETTINGS_SETUP_COMMAND_CHARS];
  DWORD overwriteWithoutAsking;
  DWORD openFolderAfter;
  DWORD deleteAfterSetup;
  DWORD skipDestinationDialog;
  DWORD archiveCrc;
  WCHAR questionCaption[SETTINGS_QUESTION_CAPTION_CHARS];
  WCHAR questionText[SETTINGS_QUESTION_TEXT_CHARS];
};

// Decodes 996 bytes into a block; returns 0 when the magic is wrong (byte 6 is not tested).
int DecodeSettingsBlock(const BYTE *bytes, SettingsBlock *block);
// Encodes a block into 996 bytes, zero-filled behind each text (the builder writes this).
void EncodeSettingsBlock(const SettingsBlock *block, BYTE *bytes);

// Offset of the settings block in a 32-bit PE file: the end of the raw data of the sections.
DWORD FindOverlayOffset(const BYTE *image);

// Reads and applies the block of the own file (g_archiveFile, rewound to 0 afterwards).
// Returns 1 to go on, 0 to stop with failure. *temporaryDestination receives the keyword flag.
int ReadSettingsBlock(const WCHAR *ownPath, int *temporaryDestination);

// ---- start-up and command line ----
void ProgramEntry(void);
// The start-up's work without ending the process: the exit code ProgramEntry ends it with.
UINT RunProgram(void);
void ParseCommandLine(const WCHAR *arguments, WCHAR *archivePath);
// Steps 4 to 7 of the start-up without the platform calls: separates the program name from the raw
// command line and returns the argument text (a pointer into commandLine).
const WCHAR *SkipProgramName(const WCHAR *commandLine);
// Puts every effective setting into its starting state.
void ResetEffectiveSettings(void);
int Wow64Request(int request);

// ---- the driver ----
int RunExtraction(WCHAR *archivePath);
// One destination pass: 1 when the destination is accepted (resolved in place), 0 when it is rejected
// (it then holds the archive's folder).
int ResolveDestination(WCHAR *destination, const WCHAR *archiveFolder);
// Shows the progress dialog, runs the worker thread and the message loop until the dialog is gone, and
// returns the worker's exit code.
DWORD RunWorkerBehindProgress(WCHAR *archivePath, DWORD centralDirOffset);
// The checks and actions around the extraction.
int CheckArchiveCrc(HWND owner, HINSTANCE instance, DWORD expectedCrc);
int RunDestinationDialog(const WCHAR *archiveBaseName);
void RunSetupCommand(const WCHAR *command, const WCHAR *destination, DWORD wait);
void DeleteExtractedFiles(int temporaryDestination);

// ---- destination keywords and path routines ----
int ExpandDestinationKeyword(WCHAR *output, const SettingsBlock *block, const WCHAR *ownPath);
int CreateFolderTree(const WCHAR *path);
void SplitPath(const WCHAR *path, WCHAR *folder, WCHAR *name);
void SlashesToBackslashes(WCHAR *path);
void StripTrailingBackslash(WCHAR *path);
void TrimTrailingSpaces(WCHAR *text);
void AppendBackslash(WCHAR *path);

// ---- the string list ----
extern WCHAR **g_extractedFiles;
extern int g_stringListCapacity;
extern int g_stringListCount;
extern WCHAR **g_stringListCursor;
WCHAR *StringListAdd(const WCHAR *text);
WCHAR *RememberExtractedFile(const WCHAR *path);
WCHAR *StringListFirst(void);
WCHAR *StringListNext(void);
int StringListCount(void);
void StringListClear(void);
