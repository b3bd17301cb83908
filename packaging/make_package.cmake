# cmake -DENTRIES=os|arch|path,... -DOUT_DIR=dir -DARCHIVE=file.zip -P make_package.cmake
string(REPLACE "," ";" _entries "${ENTRIES}")
file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")

set(_components "")
set(_files MANIFEST.XML)
foreach(_entry IN LISTS _entries)
    string(REPLACE "|" ";" _parts "${_entry}")
    list(GET _parts 0 _os)
    list(GET _parts 1 _arch)
    list(GET _parts 2 _path)
    if(NOT EXISTS "${_path}")
        message(FATAL_ERROR "No library at ${_path}")
    endif()
    get_filename_component(_ext "${_path}" LAST_EXT)
    # One name per binary, so that builds with the same file name can share the archive.
    set(_name "Lumaro1CDriverNative_${_os}_${_arch}${_ext}")
    file(COPY_FILE "${_path}" "${OUT_DIR}/${_name}")
    string(APPEND _components
        "  <component os=\"${_os}\" path=\"${_name}\" type=\"native\" arch=\"${_arch}\"/>\n")
    list(APPEND _files "${_name}")
endforeach()

file(WRITE "${OUT_DIR}/MANIFEST.XML"
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<bundle xmlns=\"http://v8.1c.ru/8.2/addin/bundle\">\n"
    "${_components}"
    "</bundle>\n")

file(REMOVE "${ARCHIVE}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ARCHIVE}" --format=zip ${_files}
    WORKING_DIRECTORY "${OUT_DIR}" RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Could not write ${ARCHIVE}")
endif()
message(STATUS "Add-in package: ${ARCHIVE}")
