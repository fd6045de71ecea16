// Control and menu command identifiers of the main window.
#pragma once

constexpr int IDC_FILE_LIST = 1001;
constexpr int IDC_METHOD_GROUP = 1002;
constexpr int IDC_METHOD_COMBO = 1003;
constexpr int IDC_VERIFY_CHECK = 1004;
constexpr int IDC_START = 1005;
constexpr int IDC_CANCEL = 1006;
constexpr int IDC_PROGRESS = 1007;
constexpr int IDC_STATUS = 1008;

constexpr int IDM_EXIT = 2001;
constexpr int IDM_ABOUT = 2002;
constexpr int IDM_WIPE_FREE_SPACE = 2003;
constexpr int IDM_ADD_FILES = 2004;
constexpr int IDM_ADD_FOLDER = 2005;
constexpr int IDM_SAVE_REPORT = 2006;
constexpr int IDM_REMOVE_FROM_LIST = 2007;
constexpr int IDM_SELECT_ALL = 2008;
