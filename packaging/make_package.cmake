# cmake -DENTRIES=os|arch|path,... -DOUT_DIR=dir -DARCHIVE=file.zip [-DSTRIP=strip] -P make_package.cmake
# Each library is checked against its entry and copied without debug information.
cmake_minimum_required(VERSION 3.16)
string(REPLACE "," ";" _entries "${ENTRIES}")
# A failed run must not leave an older package looking current.
file(REMOVE "${ARCHIVE}")
file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")

if(NOT STRIP)
    find_program(STRIP NAMES strip)
endif()
if(NOT STRIP)
    message(FATAL_ERROR "No strip program: install binutils or pass -DSTRIP=<path>")
endif()

# What each header says: ELF, little-endian, class and e_machine (32-bit 3,
# 64-bit 62); PE, the COFF Machine field.
set(_header_Linux_i386 "0101:0300")
set(_header_Linux_x86_64 "0201:3e00")
set(_header_Windows_i386 "4c01")
set(_header_Windows_x86_64 "6486")

# The platform picks a library by os and arch alone, so the header must say the same.
function(_check_binary path os arch)
    set(_want "${_header_${os}_${arch}}")
    set(_got "none")
    file(READ "${path}" _head LIMIT 64 HEX)
    string(LENGTH "${_head}" _len)
    if(os STREQUAL "Linux")
        if(_len GREATER_EQUAL 40 AND _head MATCHES "^7f454c46")
            string(SUBSTRING "${_head}" 8 4 _ident)
            string(SUBSTRING "${_head}" 36 4 _machine)
            set(_got "${_ident}:${_machine}")
        endif()
    elseif(os STREQUAL "Windows")
        # MZ stub, e_lfanew at 0x3c, then "PE\0\0" and the COFF Machine field.
        if(_len EQUAL 128 AND _head MATCHES "^4d5a")
            string(SUBSTRING "${_head}" 120 8 _l)
            string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" _l "${_l}")
            math(EXPR _lfanew "0x${_l}")
            file(READ "${path}" _pe OFFSET ${_lfanew} LIMIT 6 HEX)
            if(_pe MATCHES "^50450000(....)$")
                set(_got "${CMAKE_MATCH_1}")
            endif()
        endif()
    else()
        message(FATAL_ERROR "Cannot check a library for ${os}: only Linux and Windows ones are packed")
    endif()
    if(NOT _want)
        message(FATAL_ERROR "Unknown arch ${arch} for ${path}: i386 or x86_64")
    endif()
    if(NOT _got STREQUAL _want)
        message(FATAL_ERROR "${path} is not a ${os} ${arch} library (header ${_got}, expected ${_want})")
    endif()
endfunction()

set(_components "")
set(_files MANIFEST.XML)
set(_seen "")
foreach(_entry IN LISTS _entries)
    string(REPLACE "|" ";" _parts "${_entry}")
    list(LENGTH _parts _n)
    if(NOT _n EQUAL 3)
        message(FATAL_ERROR "Entry '${_entry}' is not os|arch|path")
    endif()
    list(GET _parts 0 _os)
    list(GET _parts 1 _arch)
    list(GET _parts 2 _path)
    if(NOT EXISTS "${_path}")
        message(FATAL_ERROR "No library at ${_path}")
    endif()
    if("${_os}|${_arch}" IN_LIST _seen)
        message(FATAL_ERROR "Two libraries for ${_os} ${_arch}")
    endif()
    list(APPEND _seen "${_os}|${_arch}")
    _check_binary("${_path}" "${_os}" "${_arch}")
    get_filename_component(_ext "${_path}" LAST_EXT)
    # One name per binary, so that builds with the same file name can share the archive.
    set(_name "Lumaro1CDriverNative_${_os}_${_arch}${_ext}")
    # Symbols too: the platform finds the four exports in the export table.
    execute_process(COMMAND "${STRIP}" --strip-unneeded -o "${OUT_DIR}/${_name}" "${_path}"
        RESULT_VARIABLE _rc ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "${STRIP} could not strip ${_path} (${_rc}): ${_err}")
    endif()
    string(APPEND _components
        "  <component os=\"${_os}\" path=\"${_name}\" type=\"native\" arch=\"${_arch}\"/>\n")
    list(APPEND _files "${_name}")
endforeach()

file(WRITE "${OUT_DIR}/MANIFEST.XML"
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<bundle xmlns=\"http://v8.1c.ru/8.2/addin/bundle\">\n"
    "${_components}"
    "</bundle>\n")

execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ARCHIVE}" --format=zip ${_files}
    WORKING_DIRECTORY "${OUT_DIR}" RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
    file(REMOVE "${ARCHIVE}")
    message(FATAL_ERROR "Could not write ${ARCHIVE}")
endif()
message(STATUS "Add-in package: ${ARCHIVE}")
