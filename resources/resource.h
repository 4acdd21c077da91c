// Resource identifiers of KestrelwoodStart.exe.
#pragma once

#define IDI_ICON1 101
#define IDS_APP_TITLE 101
