# 64-bit Windows build; see windows-mingw.cmake.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(LUMARO_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)
