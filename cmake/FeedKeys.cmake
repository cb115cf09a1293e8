# launcher_keys_library(NAME KEYS): an object library defining EmbeddedKeys() with KEYS, a list of
# public keys of 128 hexadecimal digits each. The launcher links the one made from the cache
# variable QUELLORN_FEED_KEYS; the tests build a launcher with test keys of their own.
function(launcher_keys_library name keys)
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
  set(generated ${CMAKE_BINARY_DIR}/generated-${name})
  configure_file(${PROJECT_SOURCE_DIR}/src/launcher/trust/key_list.h.in
                 ${generated}/launcher/trust/key_list.h @ONLY)
  # Objects, not an archive: they land in every program that links them, whatever the order.
  add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/src/launcher/trust/embedded_keys.cpp)
  target_include_directories(${name} PRIVATE ${generated})
  target_link_libraries(${name} PUBLIC launcher_core)
  launcher_warnings(${name})
endfunction()
