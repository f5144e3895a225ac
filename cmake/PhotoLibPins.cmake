# The Debian sources the photo plug-ins' libraries are built from, read from
# scripts/photo-libs.pins when the build is configured. For every pinned
# source NAME (upper-cased: LIBHEIF, LIBDE265, DAV1D, LIBWEBP) it sets
#   ORV_PIN_<NAME>_VERSION  the Debian version
#   ORV_PIN_<NAME>_SHA256   the sha256 of its .dsc
#   ORV_PIN_<NAME>_DSC      the .dsc's path in the mirror's pool
# and ORV_PIN_NAMES, the sources' names as the pins file spells them.
#   orv_write_photo_lib_pins_header(<file>)
#     writes a header with one string literal per source,
#     ORV_<NAME>_PIN = "<name> <version> sha256:<first 16 hex digits>",
#     for texts that name what a module was built from
#   orv_check_photo_lib_stamps(<prefix>)
#     warns when the libraries installed in <prefix> were not built from the
#     pins (scripts/build-photo-libs-mingw.sh leaves a stamp per library in
#     <prefix>/share/orvanelle/<name>.pin); sets ORV_PHOTO_LIB_STAMPS_OK in
#     the caller's scope
set(ORV_PHOTO_LIB_PINS_FILE ${CMAKE_CURRENT_LIST_DIR}/../scripts/photo-libs.pins)
get_filename_component(ORV_PHOTO_LIB_PINS_FILE ${ORV_PHOTO_LIB_PINS_FILE} ABSOLUTE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORV_PHOTO_LIB_PINS_FILE})

set(ORV_PIN_NAMES)
file(STRINGS ${ORV_PHOTO_LIB_PINS_FILE} _orv_pin_lines)
foreach(_orv_line IN LISTS _orv_pin_lines)
  if(_orv_line MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  # One regular expression only: a second MATCHES would replace the groups.
  if(NOT _orv_line MATCHES
     "^([A-Za-z0-9][A-Za-z0-9.+-]*)[ \t]+([^ \t]+)[ \t]+(pool/[^ \t]+\\.dsc)[ \t]+([0-9a-f]+)[ \t]*$")
    message(FATAL_ERROR "${ORV_PHOTO_LIB_PINS_FILE}: a line does not read "
                        "'name version pool/.../name_version.dsc sha256': ${_orv_line}")
  endif()
  set(_orv_name ${CMAKE_MATCH_1})
  set(_orv_version ${CMAKE_MATCH_2})
  set(_orv_dsc ${CMAKE_MATCH_3})
  set(_orv_sha ${CMAKE_MATCH_4})
  string(LENGTH "${_orv_sha}" _orv_sha_length)
  if(NOT _orv_sha_length EQUAL 64)
    message(FATAL_ERROR "${ORV_PHOTO_LIB_PINS_FILE}: the sha256 of ${_orv_name} has "
                        "${_orv_sha_length} digits, not 64")
  endif()
  string(MAKE_C_IDENTIFIER "${_orv_name}" _orv_key)
  string(TOUPPER "${_orv_key}" _orv_key)
  if(DEFINED ORV_PIN_${_orv_key}_VERSION)
    message(FATAL_ERROR "${ORV_PHOTO_LIB_PINS_FILE} pins ${_orv_name} twice")
  endif()
  set(ORV_PIN_${_orv_key}_VERSION ${_orv_version})
  set(ORV_PIN_${_orv_key}_SHA256 ${_orv_sha})
  set(ORV_PIN_${_orv_key}_DSC ${_orv_dsc})
  list(APPEND ORV_PIN_NAMES ${_orv_name})
endforeach()
foreach(_orv_key LIBHEIF LIBDE265 DAV1D LIBWEBP)
  if(NOT DEFINED ORV_PIN_${_orv_key}_VERSION)
    message(FATAL_ERROR "${ORV_PHOTO_LIB_PINS_FILE} pins no ${_orv_key}")
  endif()
endforeach()

function(orv_write_photo_lib_pins_header file)
  set(text "// Made by CMake from scripts/photo-libs.pins: the Debian sources the\n")
  string(APPEND text "// photo plug-ins' libraries are built from. Do not edit.\n#pragma once\n\n")
  foreach(name IN LISTS ORV_PIN_NAMES)
    string(MAKE_C_IDENTIFIER "${name}" key)
    string(TOUPPER "${key}" key)
    string(SUBSTRING "${ORV_PIN_${key}_SHA256}" 0 16 short)
    string(APPEND text
           "#define ORV_${key}_PIN \"${name} ${ORV_PIN_${key}_VERSION} sha256:${short}\"\n")
  endforeach()
  # Written only when it changes, so that a configure run recompiles nothing.
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}" @ONLY)
endfunction()

function(orv_check_photo_lib_stamps prefix)
  set(stale)
  foreach(name IN LISTS ORV_PIN_NAMES)
    string(MAKE_C_IDENTIFIER "${name}" key)
    string(TOUPPER "${key}" key)
    set(stamp ${prefix}/share/orvanelle/${name}.pin)
    if(NOT EXISTS ${stamp})
      list(APPEND stale "${name}: no stamp (not built from the pins)")
      continue()
    endif()
    # A library built again re-runs the configure step, which looks again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${stamp})
    file(STRINGS ${stamp} version REGEX "^version ")
    file(STRINGS ${stamp} sha REGEX "^dsc-sha256 ")
    string(REGEX REPLACE "^version " "" version "${version}")
    string(REGEX REPLACE "^dsc-sha256 " "" sha "${sha}")
    if(NOT version STREQUAL ORV_PIN_${key}_VERSION OR NOT sha STREQUAL ORV_PIN_${key}_SHA256)
      list(APPEND stale "${name}: built from ${version} (.dsc sha256 ${sha}), pinned ${ORV_PIN_${key}_VERSION} (.dsc sha256 ${ORV_PIN_${key}_SHA256})")
    endif()
  endforeach()
  if(stale)
    list(JOIN stale "\n  " lines)
    message(WARNING "The photo libraries in ${prefix} do not match scripts/photo-libs.pins:\n"
                    "  ${lines}\n"
                    "What is built from them would not be what the release names. "
                    "Build them again: ORV_DEPS_PREFIX=${prefix} scripts/build-photo-libs-mingw.sh "
                    "(ORV_TARGET as for this prefix), or run scripts/setup.sh.")
    set(ORV_PHOTO_LIB_STAMPS_OK FALSE PARENT_SCOPE)
  else()
    set(ORV_PHOTO_LIB_STAMPS_OK TRUE PARENT_SCOPE)
  endif()
endfunction()
