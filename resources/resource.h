// Resource identifiers of KestrelwoodStart.exe.
#pragma once

#define IDI_ICON1 101
#define IDS_APP_TITLE 101

// The warning boxes' texts: one string table block (strings 192 to 207) for
// each language in a build with languages (box_texts.rc).
#define IDS_LAUNCHER_NOT_FOUND 200
#define IDS_NO_SIGNED_LAUNCHER 201
#define IDS_COULD_NOT_START 202
#define IDS_WINDOWS_ERROR 203
