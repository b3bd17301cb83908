# 32-bit Windows build (the platform's usual client); see windows-mingw.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LUMARO_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw.cmake)
