# Windows build with Debian's MinGW-w64 (posix threads), against the static
# Qt that scripts/build-qt-windows.sh makes. Included by the per-architecture
# toolchain files, which set LUMARO_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(_triplet ${LUMARO_MINGW_TRIPLET})

foreach(_tool gcc g++)
    find_program(_found NAMES ${_triplet}-${_tool}-posix NO_CACHE)
    if(NOT _found)
        message(FATAL_ERROR "${_triplet}-${_tool}-posix not found: install g++-mingw-w64")
    endif()
    if(_tool STREQUAL gcc)
        set(CMAKE_C_COMPILER ${_found})
    else()
        set(CMAKE_CXX_COMPILER ${_found})
    endif()
    unset(_found)
endforeach()
set(CMAKE_RC_COMPILER ${_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Every binary is one self-contained file: the C++ runtime, libgcc and
# winpthread go in statically, as Qt does.
set(_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static}")

# lrelease runs on the build machine: the host's Linguist tools serve.
set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools CACHE PATH "")
