// The extraction worker. Per entry: read it, prepare its name, build and check its output path under
// the destination, create folders, decide about an existing file, set up decryption (asking for the
// password), write the file through the decoder of its method, verify it, then give it its time and
// attributes. Names are refused (string 6) when they hold reserved characters or when the platform's
// own path normalisation would take them, or one of their folders, out of the destination.
#include "extract/worker.h"

#include "archive/reader.h"
#include "archive/window.h"
#include "crypto/aes_entry.h"
#include "crypto/zipcrypto.h"
#include "decompress/decompress.h"
#include "decompress/inflate.h"
#include "extract/extract.h"
#include "extract/questions.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"

DWORD g_newerOnly;

enum {
  SCRATCH_NAME_UNITS = 1024,
  FULL_PATH_UNITS = 1040,
  MESSAGE_UNITS = 1024,
};

void StripParentRefs(WCHAR *name) {
  static WCHAR scratch[SCRATCH_NAME_UNITS];
  int removed = 0, out = 0;
  for (int i = 0; name[i] && out < SCRATCH_NAME_UNITS - 1;) {
    if (name[i] == '.' && name[i + 1] == '.' && name[i + 2] == '\\') {
      i += 3;
      removed = 1;
      continue;
    }
    scratch[out++] = name[i++];
  }
  scratch[out] = 0;
  if (removed)
    lstrcpyW(name, scratch);
}

int IsInsideDestination(const WCHAR *destination, const WCHAR *path, int allowSame) {
  static WCHAR fullDestination[FULL_PATH_UNITS];
  static WCHAR fullPath[FULL_PATH_UNITS];
  DWORD destinationLength = GetFullPathNameW(destination, FULL_PATH_UNITS, fullDestination, NULL);
  DWORD pathLength = GetFullPathNameW(path, FULL_PATH_UNITS, fullPath, NULL);
  if (!destinationLength || destinationLength >= FULL_PATH_UNITS || !pathLength ||
      pathLength >= FULL_PATH_UNITS)
    return 0;
  if (fullDestination[destinationLength - 1] != '\\') {
    fullDestination[destinationLength++] = '\\';
    fullDestination[destinationLength] = 0;
  }
  if (pathLength + 1 == destinationLength && fullPath[pathLength] == 0 &&
      wcsncmp(fullPath, fullDestination, pathLength) == 0)
    return allowSame; // the destination without its backslash
  if (pathLength < destinationLength || wcsncmp(fullPath, fullDestination, destinationLength) != 0)
    return 0;
  if (pathLength == destinationLength && !allowSame)
    return 0;
  // A "." or ".." left standing by the normalisation would be evaluated again further down.
  for (const WCHAR *p = fullPath + destinationLength; *p;) {
    const WCHAR *end = p;
    while (*end && *end != '\\')
      end++;
    size_t length = (size_t)(end - p);
    if ((length == 1 && p[0] == '.') || (length == 2 && p[0] == '.' && p[1] == '.'))
      return 0;
    p = *end ? end + 1 : end;
  }
  return 1;
}

// Every folder level is checked as well as the whole path: CreateFolderTree creates each level as it
// stands, and a level like "dest\..\sibling\" may leave the destination even when the whole path
// comes back into it.
int NameStaysInside(const WCHAR *destination, const WCHAR *name) {
  static WCHAR candidate[FULL_PATH_UNITS];
  size_t destinationLength = wcslen(destination);
  size_t nameLength = wcslen(name);
  if (destinationLength + nameLength + 2 > FULL_PATH_UNITS)
    return 0;
  lstrcpyW(candidate, destination);
  for (size_t i = 0; i < nameLength; i++) {
    candidate[destinationLength + i] = name[i];
    if (name[i] == '\\') {
      candidate[destinationLength + i + 1] = 0;
      if (!IsInsideDestination(destination, candidate, 1))
        return 0;
    }
  }
  candidate[destinationLength + nameLength] = 0;
  return IsInsideDestination(destination, candidate, 0);
}

static void RefuseName(const WCHAR *name, WCHAR *outputPath) {
  WCHAR format[128];
  WCHAR text[MESSAGE_UNITS];
  outputPath[0] = 0;
  LoadStringW(g_instance, IDS_INVALID_FILENAME, format, 128);
  wsprintfW(text, format, name);
  MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONWARNING);
}

int BuildOutputPath(const WCHAR *destination, WCHAR *name, WCHAR *outputPath) {
  TrimTrailingSpaces(name);
  size_t nameLength = wcslen(name);
  if (!nameLength || wcscspn(name, L":;*?\"<>|") != nameLength ||
      wcslen(destination) + nameLength + 2 > OUTPUT_PATH_UNITS || !NameStaysInside(destination, name)) {
    RefuseName(name, outputPath);
    return 0;
  }
  WCHAR *lastSeparator = wcsrchr(name, '\\');
  if (!lastSeparator) {
    wsprintfW(outputPath, L"%s%s", destination, name);
    return 1;
  }
  *lastSeparator = 0;
  wsprintfW(outputPath, L"%s%s\\", destination, name);
  *lastSeparator = '\\';
  if (!CreateFolderTree(outputPath)) {
    WCHAR text[128];
    LoadStringW(g_instance, IDS_FOLDER_FORBIDDEN, text, 128);
    g_cancelState = CANCEL_ERROR;
    MessageBoxW(NULL, text, L"VAZ-IDA", MB_ICONERROR);
    return -1;
  }
  if (!lastSeparator[1])
    return 0;
  lstrcatW(outputPath, lastSeparator + 1);
  return 1;
}

void SetLastWriteTime(const WCHAR *path, const FILETIME *time, int folder) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return;
  SetFileTime(file, NULL, NULL, time);
  CloseHandle(file);
}

// The replace decision for an existing file: 1 extract, 0 skip, -1 Cancel.
static int DecideOverwrite(const WCHAR *outputPath, const EntryHeader *entry) {
  if (GetFileAttributesW(outputPath) == INVALID_FILE_ATTRIBUTES || g_overwriteWithoutAsking)
    return 1;
  FILETIME existingTime = {0, 0};
  OverwriteRequest request;
  request.path = outputPath;
  request.existingTime = &existingTime;
  request.archivedTime = &entry->modified;
  request.existingSize = 0;
  request.archivedSize = entry->uncompressedSize;
  HANDLE existing = CreateFileW(outputPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
  if (existing != INVALID_HANDLE_VALUE) {
    GetFileTime(existing, NULL, NULL, &existingTime);
    request.existingSize = GetFileSize(existing, NULL);
    CloseHandle(existing);
  }
  if (!g_newerOnly) {
    int answer = AskOverwrite(&request);
    if (answer == OVERWRITE_CANCEL)
      return -1;
    if (answer == OVERWRITE_YES_TO_ALL) {
      g_overwriteWithoutAsking = 1;
      return 1;
    }
    if (answer != IDYES)
      return 0;
    if (!g_newerOnly)
      return 1;
  }
  return CompareFileTime(&existingTime, &entry->modified) == -1;
}

static void DecodeEntry(const WCHAR *archivePath, EntryHeader *entry, BYTE *workBuffer) {
  DWORD unpacked = entry->uncompressedSize, packed = entry->compressedSize;
  switch (entry->method) {
  case 0: CopyStored(unpacked, packed, workBuffer); break;
  case 1: Unshrink(unpacked, packed, workBuffer); break;
  case 2:
  case 3:
  case 4:
  case 5: Unreduce(unpacked, packed, entry->method - 1, workBuffer); break;
  case 6: Explode(unpacked, packed, (entry->flags >> 1) & 1, (entry->flags >> 2) & 1, workBuffer); break;
  case 8:
  case 9:
    // Inflate reads through the mapped window from the data start (after any encryption header).
    if (OpenArchiveWindow(archivePath)) {
      SeekArchiveWindow((DWORD)ftell(g_archiveFile));
      InflateEntry(entry->method == 9);
      CloseArchiveWindow();
    }
    break;
  default: break; // no decoder: the file stays empty and only a CRC-32 of 0 passes
  }
}

DWORD WINAPI ExtractionWorker(LPVOID parameter) {
  const WCHAR *archivePath = (const WCHAR *)parameter;
  static EntryHeader entry;
  static WCHAR outputPath[OUTPUT_PATH_UNITS];
  static PasswordRequest passwords;
  LONG result = 0;

  BYTE *workBuffer = (BYTE *)malloc(WORK_BUFFER_SIZE);
  if (!workBuffer) {
    g_cancelState = CANCEL_ERROR;
    SendMessageW(g_progressWindow, WM_CLOSE, 0, 0);
    return (DWORD)-1;
  }
  BuildCrcTable();
  passwords.password[0] = 0;

  while (ReadNextEntry(&entry, workBuffer) && !g_cancelState) {
    DWORD dataStart = (DWORD)ftell(g_archiveFile);
    DWORD nextOffset = dataStart + entry.compressedSize;
    // A size that wraps around to this entry's header or before would find the same header again, and
    // round again. (0xFFFFFFFF, a Zip64 placeholder, lands just before the data: the scan goes on.)
    DWORD headerStart = dataStart - 30 - entry.nameLength - entry.extraLength;
    if (nextOffset < dataStart && nextOffset <= headerStart)
      break;

    SlashesToBackslashes(entry.name);
    WCHAR *name = entry.name[0] == '\\' ? entry.name + 1 : entry.name;
    StripParentRefs(name);
    SetDlgItemTextW(g_progressWindow, IDC_PROGRESS_NAME, name);

    int built = BuildOutputPath(g_destination, name, outputPath);
    if (built == -1) {
      g_cancelState = CANCEL_PATH_ERROR;
      free(workBuffer);
      SendMessageW(g_progressWindow, WM_CLOSE, 0, 0);
      return (DWORD)-1;
    }
    int extract = built == 1;
    if (built == 0 && outputPath[0]) {
      SetFileAttributesW(outputPath, FILE_ATTRIBUTE_NORMAL);
      SetLastWriteTime(outputPath, &entry.modified, 1);
      SetFileAttributesW(outputPath, entry.attributes);
    } else if (built == 1 && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      SetFileAttributesW(outputPath, FILE_ATTRIBUTE_NORMAL);
      SetLastWriteTime(outputPath, &entry.modified, 1);
      SetFileAttributesW(outputPath, entry.attributes);
    } else if (built == 1) {
      int decision = DecideOverwrite(outputPath, &entry);
      if (decision == -1) {
        result = -1;
        g_cancelState = CANCEL_USER;
      }
      extract = decision == 1;
    }
    g_outputCrc = 0;

    if (extract && (entry.flags & 1) && !SetupDecryption(passwords.password, &entry)) {
      SendMessageW(g_progressWindow, PAUSE_ANIMATION_MESSAGE, 0, 0);
      for (;;) {
        passwords.password[0] = 0;
        passwords.entryName = name;
        int answer = AskPassword(&passwords);
        if (answer == PASSWORD_OK) {
          if (SetupDecryption(passwords.password, &entry))
            break;
          MessageBoxA(g_progressWindow, "Invalid Decryption Password.", "Warning", MB_ICONWARNING);
        } else if (answer == PASSWORD_CANCEL) {
          g_cancelState = CANCEL_USER;
          free(workBuffer);
          SendMessageW(g_progressWindow, WM_CLOSE, 0, 0);
          return (DWORD)-1;
        } else {
          extract = 0;
          break;
        }
      }
      SendMessageW(g_progressWindow, RESUME_ANIMATION_MESSAGE, 0, 0);
    }

    if (extract) {
      SetFileAttributesW(outputPath, FILE_ATTRIBUTE_NORMAL);
      g_outputFile = OpenStream(outputPath, L"wb");
    }
    if (extract && g_outputFile) {
      g_outputCrc = 0;
      g_outputFailed = 0;
      if (!(entry.flags & 1))
        SetupDecryption(NULL, NULL);
      DecodeEntry(archivePath, &entry, workBuffer);

      long written = ftell(g_outputFile);
      fclose(g_outputFile);
      g_outputFile = NULL;
      if (g_cancelState) {
        // A file that already has its full size is complete and stays.
        if ((DWORD)written != entry.uncompressedSize)
          DeleteFileW(outputPath);
        break;
      }
      // The code vouches for the stored bytes, not for what a decoder made of them: the size must agree too.
      if (entry.aesStrength)
        g_outputCrc = AesEntryAuthenticate(g_archiveFile, nextOffset) == 0 && (DWORD)written == entry.uncompressedSize
                          ? entry.crc32
                          : ~entry.crc32;
      g_aesActive = 0;
      if (g_outputCrc == entry.crc32 && !g_outputFailed) {
        SetLastWriteTime(outputPath, &entry.modified, 0);
        SetFileAttributesW(outputPath, entry.attributes);
        if (g_deleteAfterSetup && g_setupCommand[0])
          RememberExtractedFile(outputPath);
      } else {
        DeleteFileW(outputPath);
        MessageBoxW(g_progressWindow, L"CRC Error!", L"VAZ-IDA", MB_ICONERROR);
      }
    } else {
      g_outputFile = NULL;
    }

    if (g_cancelState)
      break;
    fseek(g_archiveFile, (long)nextOffset, SEEK_SET);
  }

  ReleaseFixedTables();
  free(workBuffer);
  SendMessageW(g_progressWindow, WM_CLOSE, 0, 0);
  return (DWORD)result;
}
