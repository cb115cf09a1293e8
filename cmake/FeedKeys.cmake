# launcher_keys_library(NAME KEYS [ROOT FILE] [FLOOR TIME]): an object library defining
# EmbeddedKeys() with KEYS, a list of public keys of 128 hexadecimal digits each, and
# EmbeddedRoot() with the root document in FILE (the first root the launcher trusts) and the
# trust floor TIME ("2026-12-01T00:00:00Z"). The launcher links the one made from the cache
# variables QUELLORN_FEED_KEYS, QUELLORN_ROOT and QUELLORN_TRUST_FLOOR; the tests build launchers
# with test keys and roots of their own.
function(launcher_keys_library name keys)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "ROOT;FLOOR" "")
  foreach(key IN LISTS keys)
    if(NOT key MATCHES "^[0-9a-fA-F]+$")
      message(FATAL_ERROR "${name}: \"${key}\" isn't a public key: 128 hexadecimal digits")
    endif()
    string(LENGTH "${key}" length)
    if(NOT length EQUAL 128)
      message(FATAL_ERROR "${name}: \"${key}\" isn't a public key: 128 hexadecimal digits")
    endif()
  endforeach()
  set(FEED_KEYS "${keys}")
  set(FIRST_ROOT "")
  if(arg_ROOT)
    if(NOT EXISTS "${arg_ROOT}")
      message(FATAL_ERROR "${name}: the root ${arg_ROOT} isn't there")
    endif()
    file(READ "${arg_ROOT}" FIRST_ROOT)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${arg_ROOT}")
  endif()
  set(TRUST_FLOOR "${arg_FLOOR}")
  set(generated ${CMAKE_BINARY_DIR}/generated-${name})
  configure_file(${PROJECT_SOURCE_DIR}/src/launcher/trust/key_list.h.in
                 ${generated}/launcher/trust/key_list.h @ONLY)
  # Objects, not an archive: they land in every program that links them, whatever the order.
  add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/src/launcher/trust/embedded_keys.cpp)
  target_include_directories(${name} PRIVATE ${generated})
  target_link_libraries(${name} PUBLIC launcher_core)
  launcher_warnings(${name})
endfunction()
