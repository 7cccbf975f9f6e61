#pragma once

// The string tables compiled into the program: one text per language id, in the format of
// src/resources/strings/*.txt ("id<TAB>text" lines, '#' comments, \n \t \\ escapes).
struct SEmbeddedStringFile
{
    int nLanguageId;
    const char* pszText;
};

extern const SEmbeddedStringFile g_aEmbeddedStringFiles[];
extern const int g_nEmbeddedStringFiles;
