# Each library exposes its own headers only. Its public include folder,
# ${CMAKE_BINARY_DIR}/include/<target>, holds links to its headers under their
# usual names (db/connection.h, sheet/reader.h...), so `#include "db/x.h"`
# reads the same everywhere while a target that includes a header of a
# library it does not link fails to build.
#
#   xb_headers(<target> [ROOT <dir>] [FOLDERS <folder>...] [HEADERS <header>...])
#
# HEADERS names single headers (relative to ROOT, default src/); FOLDERS
# takes every header directly in each folder (not its sub-folders) that no
# target names in HEADERS. The links are made by xb_stage_headers(), called
# once at the end of the top-level CMakeLists.txt when every target has said
# what it owns; a header added to a folder is picked up at the next build.
function(xb_headers target)
  cmake_parse_arguments(H "" "ROOT" "FOLDERS;HEADERS" ${ARGN})
  if(NOT H_ROOT)
    set(H_ROOT ${CMAKE_SOURCE_DIR}/src)
  endif()
  set(staged ${CMAKE_BINARY_DIR}/include/${target})
  # A library of headers only (INTERFACE) can hand them on, never use them.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${staged}>)
  set_property(GLOBAL APPEND PROPERTY XB_HEADER_TARGETS ${target})
  set_property(GLOBAL PROPERTY XB_HEADERS_ROOT_${target} ${H_ROOT})
  set_property(GLOBAL PROPERTY XB_HEADERS_FOLDERS_${target} ${H_FOLDERS})
  set_property(GLOBAL PROPERTY XB_HEADERS_FILES_${target} ${H_HEADERS})
  foreach(h ${H_HEADERS})
    set_property(GLOBAL APPEND PROPERTY XB_HEADERS_CLAIMED ${H_ROOT}/${h})
  endforeach()
endfunction()

function(xb_stage_headers)
  set(include ${CMAKE_BINARY_DIR}/include)
  # Made anew at every configure: a header moved or removed leaves no stale link.
  file(REMOVE_RECURSE ${include})
  get_property(targets GLOBAL PROPERTY XB_HEADER_TARGETS)
  get_property(claimed GLOBAL PROPERTY XB_HEADERS_CLAIMED)
  foreach(target ${targets})
    get_property(root GLOBAL PROPERTY XB_HEADERS_ROOT_${target})
    get_property(folders GLOBAL PROPERTY XB_HEADERS_FOLDERS_${target})
    get_property(headers GLOBAL PROPERTY XB_HEADERS_FILES_${target})
    foreach(folder ${folders})
      file(GLOB found CONFIGURE_DEPENDS RELATIVE ${root} ${root}/${folder}/*.h)
      foreach(h ${found})
        if(NOT ${root}/${h} IN_LIST claimed)
          list(APPEND headers ${h})
        endif()
      endforeach()
    endforeach()
    file(MAKE_DIRECTORY ${include}/${target})
    foreach(h ${headers})
      if(NOT EXISTS ${root}/${h})
        message(FATAL_ERROR "${target}: no header ${root}/${h}")
      endif()
      get_filename_component(dir ${include}/${target}/${h} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK ${root}/${h} ${include}/${target}/${h} SYMBOLIC COPY_ON_ERROR)
    endforeach()
  endforeach()
endfunction()
