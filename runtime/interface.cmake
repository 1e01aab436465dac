# Reads runtime/interface.def and derives from it, in declaration order:
#   INTERFACE_SOURCES      one generated table source per block
#   INTERFACE_DEFS         the record description files
# and writes all_records.inc, which includes every description file in order
# (for the companion generator).
file(STRINGS ${CMAKE_SOURCE_DIR}/runtime/interface.def interface_lines REGEX "^[A-Z_]+\\(")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/runtime/interface.def)
set(INTERFACE_SOURCES)
set(INTERFACE_DEFS)
set(all_records "// Generated from runtime/interface.def: every record description in declaration order.\n")
set(generated_dir ${CMAKE_BINARY_DIR}/generated)
foreach(line IN LISTS interface_lines)
  if(line MATCHES "^RECORDS\\(([A-Za-z0-9_]+), *([^,]+), *([^)]+)\\)")
    set(BLOCK ${CMAKE_MATCH_1})
    string(STRIP "${CMAKE_MATCH_2}" DEF)
    string(STRIP "${CMAKE_MATCH_3}" HEADER)
    configure_file(${CMAKE_SOURCE_DIR}/runtime/record_block.cpp.in ${generated_dir}/${BLOCK}_records.cpp @ONLY)
    list(APPEND INTERFACE_SOURCES ${generated_dir}/${BLOCK}_records.cpp)
    list(APPEND INTERFACE_DEFS ${CMAKE_SOURCE_DIR}/${DEF})
    string(APPEND all_records "#include \"${DEF}\"\n")
  else()
    message(FATAL_ERROR "runtime/interface.def: cannot read line: ${line}")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${generated_dir}/all_records.inc CONTENT "${all_records}")
