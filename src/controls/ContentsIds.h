#pragma once

// Ids of the Contents Settings page: its controls (carried in their accessible names) and the
// string table texts the page and its two lists show.

enum EContentsControlId : unsigned
{
    IDC_FOLDER_LIST = 1001,
    IDC_ADD_FOLDER = 1003,
    IDC_EXTENSION_LIST = 1011,
    IDC_DEL_FOLDER = 1017,
    IDC_FOLDER_LABEL = 1023,
    IDC_EXTENSION_LABEL = 1025,
    IDC_SELECT_ALL = 1053,
};

enum EContentsStringId : unsigned
{
    IDS_CONTENTS_SETTINGS = 103,
    IDS_SELECT_FOLDERS = 109, // label 1023 and the folder dialog's title
    IDS_ADD = 110,
    IDS_DEL = 111,
    IDS_COLUMN_FOLDER = 112,
    IDS_COLUMN_WATCH = 113,
    IDS_SELECT_EXTENSIONS = 114,
    IDS_TOO_MANY_FOLDERS = 148,
    IDS_DELETE_FOLDER = 149, // "%s" is the folder's path
    IDS_NO_FOLDER_TICKED = 158,
    IDS_NO_EXTENSION_TICKED = 159,
    IDS_SELECT_ALL = 199,
};
