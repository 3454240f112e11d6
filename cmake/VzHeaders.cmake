# Each library shows its users its own headers and no others: a target that does not
# link a library (directly or through PUBLIC dependencies) cannot include its headers.
# The headers stay where they are; at configure time every library gets a folder of its
# own in the build tree holding, for each header it exposes, a one-line header of the
# same spelling ("mc303/SysexParser.h") that includes the real one by a relative path.
# Plain files and relative includes, so it works alike with every compiler and system.
#
#   vz_expose_headers(TARGET FOLDER [HEADERS h...] [EXCEPT h...])
# FOLDER is the folder under src/; HEADERS names the headers (default: all its *.h);
# EXCEPT leaves some out (those another library of the same folder exposes).
function(vz_expose_headers target folder)
  cmake_parse_arguments(ARG "" "" "HEADERS;EXCEPT" ${ARGN})
  set(src ${PROJECT_SOURCE_DIR}/src/${folder})
  set(dir ${PROJECT_BINARY_DIR}/include/${target})
  if(ARG_HEADERS)
    set(headers ${ARG_HEADERS})
  else()
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${src} ${src}/*.h)
  endif()
  if(ARG_EXCEPT)
    list(REMOVE_ITEM headers ${ARG_EXCEPT})
  endif()
  foreach(header IN LISTS headers)
    file(RELATIVE_PATH real ${dir}/${folder} ${src}/${header})
    # Written only when it changes, so a new configure rebuilds nothing.
    file(CONFIGURE OUTPUT ${dir}/${folder}/${header} CONTENT "#include \"${real}\"\n")
  endforeach()
  # A header moved or deleted since the last configure must not stay reachable.
  file(GLOB written RELATIVE ${dir}/${folder} ${dir}/${folder}/*.h)
  foreach(header IN LISTS written)
    if(NOT header IN_LIST headers)
      file(REMOVE ${dir}/${folder}/${header})
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
  endif()
endfunction()
