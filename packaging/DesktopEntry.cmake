# Writes the menu entry of the desktop program from its template, with the program's name in each
# language its string table translates it to (a name kept in English needs no translated line).
#   cmake -DTEMPLATE=<.desktop.in> -DSTRINGS=<folder of <language id>.txt> -DOUTPUT=<.desktop> -P DesktopEntry.cmake

# Reads text id <id> of language table <table> into <out> (empty when the table lacks it).
function(read_string table id out)
  file(STRINGS ${table} lines ENCODING UTF-8 REGEX "^${id}\t")
  set(text "")
  if(lines)
    list(GET lines 0 line)
    string(REGEX REPLACE "^${id}\t" "" text "${line}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(NAME_ID 101) # the product name: title of every window and message box
read_string(${STRINGS}/2057.txt ${NAME_ID} NAME)
if(NAME STREQUAL "")
  message(FATAL_ERROR "${STRINGS}/2057.txt has no text ${NAME_ID}")
endif()
set(NAME_TRANSLATIONS "")
# Language id of each table and the locale a desktop entry names it by.
foreach(pair 1031:de 1036:fr 3082:es 1041:ja 2052:zh_CN)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 language)
  list(GET pair 1 locale)
  read_string(${STRINGS}/${language}.txt ${NAME_ID} text)
  if(NOT text STREQUAL "" AND NOT text STREQUAL NAME)
    string(APPEND NAME_TRANSLATIONS "Name[${locale}]=${text}\n")
  endif()
endforeach()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
