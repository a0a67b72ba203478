// The numbers of the resources in resources/tessaly.rc: dialog templates,
// their controls, icons and the one string. The template file and the code
// name the same controls; a control renumbered there is renumbered here.
#pragma once

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_VARK = 102;
inline constexpr int IDD_UPDATE = 131;
inline constexpr int IDD_PROGRESS = 132;

// The string of the about item, and the icons (fresh and stale database).
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDI_FRESH = 128;
inline constexpr int IDI_STALE = 129;

// The about box.
inline constexpr int IDC_BUILD_DATE = 1038;

// The main search window.
inline constexpr int IDC_KEYWORD = 1000;
inline constexpr int IDC_AGE = 1013;
inline constexpr int IDC_STATE_ICON = 1014;
inline constexpr int IDC_UPDATE = 1022;
inline constexpr int IDC_HELP_BUTTON = 1025;
inline constexpr int IDC_PAGE_COUNT = 1043;
inline constexpr int IDC_GUIDE = 1044;

// The database update dialog.
inline constexpr int IDC_BROWSE_KWF = 1011;
inline constexpr int IDC_FOLDER = 1016;
inline constexpr int IDC_BROWSE_FOLDER = 1017;
inline constexpr int IDC_KWF = 1033;

// The progress dialog.
inline constexpr int IDC_PROGRESS_BAR = 1019;
inline constexpr int IDC_CURRENT_PATH = 1021;
inline constexpr int IDC_COUNT_LINE = 1041;
