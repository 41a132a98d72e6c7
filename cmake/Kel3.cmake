# Helpers shared by the folder CMakeLists files.

# add_subdirectory() for each named folder that has a CMakeLists.txt, so a
# layer can land before or after its neighbours without touching this file.
function(kel3_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
    endif()
  endforeach()
endfunction()

# Every sub-folder of DIR that holds a CMakeLists.txt, in name order.
function(kel3_add_all_children dir)
  file(GLOB children LIST_DIRECTORIES true ${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# kel3_add_test(NAME SOURCES a.cc b.cc LIBS x y [LABELS l] [TIMEOUT s])
# One GoogleTest executable registered with CTest. Tests get a fresh
# temporary prefix each through the fixture in tests/support.
function(kel3_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kel3_test_support GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "KEL3_BUILD_DIR=${CMAKE_BINARY_DIR};KEL3_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# kel3_add_resource_library(TARGET SCRIPT PNG_FOLDER OUTPUT_NAME)
# A language resource library: kel3-rc compiles the script and its PNG
# files into the bundle, which becomes a shared object OUTPUT_NAME.so.
function(kel3_add_resource_library target script png_dir output_name)
  set(bundle ${CMAKE_CURRENT_BINARY_DIR}/${target}_bundle.c)
  file(GLOB pngs ${png_dir}/*.png)
  add_custom_command(OUTPUT ${bundle}
                     COMMAND kel3-rc ${script} ${png_dir} ${bundle}
                     DEPENDS kel3-rc ${script} ${pngs}
                     COMMENT "Compiling resources ${script}")
  add_library(${target} SHARED ${bundle})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output_name}
                        C_VISIBILITY_PRESET hidden)
endfunction()
