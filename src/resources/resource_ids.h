// Resource numbers shared by the .rc files and the code.
#pragma once

#define IDS_CANNOT_CREATE_FILE 1
#define IDS_CANNOT_OPEN_ARCHIVE 2
#define IDS_UNSUPPORTED_FORMAT 3
#define IDS_CREATE_FOLDER_QUESTION 4
#define IDS_CANNOT_CREATE_FOLDER 5
#define IDS_INVALID_FILENAME 6
#define IDS_FOLDER_FORBIDDEN 7
#define IDS_CRC_CHECK_ERROR 8
#define IDS_FILE_SIZE_AND_TIME 9
#define IDS_INVALID_PATH 10
#define IDS_SELECT_FOLDER 11
#define IDS_NEEDS_WIN64 12
#define IDS_NOT_ON_WIN9X 13

// ---- dialog templates (English and Japanese variants of each) ----
#define IDD_CRC_CHECK 103
#define IDD_DESTINATION 204
#define IDD_PASSWORD 1000
#define IDD_REPLACE 2007
#define IDD_PROGRESS 2008

// Controls without a number of their own.
#define IDC_STATIC (-1)

// Template 103: the archive check.
#define IDC_CRC_PROGRESS 1004

// Template 204: the destination.
#define IDC_DESTINATION_ICON 1010
#define IDC_DESTINATION_EDIT 1004
#define IDC_DESTINATION_BROWSE 1000
#define IDC_DESTINATION_ARCHIVE_FOLDER 203

// Template 1000: the password question. The message text is itself the format ("%s" = entry name).
#define IDC_PASSWORD_MESSAGE 1005
#define IDC_PASSWORD_EDIT 1004
#define IDC_PASSWORD_NO_MASK 1006
#define IDC_PASSWORD_SKIP 1003

// Template 2007: the replace question.
#define IDC_REPLACE_NAME 1009
#define IDC_REPLACE_EXISTING_ICON 201
#define IDC_REPLACE_EXISTING_INFO 1005
#define IDC_REPLACE_ARCHIVED_ICON 202
#define IDC_REPLACE_ARCHIVED_INFO 1008
#define IDC_REPLACE_ALL 1003
#define IDC_REPLACE_NEWER 1004
#define IDC_REPLACE_CANCEL 1007

// Template 2008: the progress dialog (the animation control is created at run time above y = 55).
#define IDC_PROGRESS_BAR 1004
#define IDC_PROGRESS_NAME 1006

// ---- icons, the animation clip (language neutral) ----
#define IDI_PROGRAM 100
#define IDI_PASSWORD 101
#define IDI_REPLACE 102
#define IDR_PAPER_FLIGHT 107
