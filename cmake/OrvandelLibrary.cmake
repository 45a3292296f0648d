# orvandel_library(<name> DEPENDS <targets...>)
# One static library per source folder: every .cpp in the calling folder (and its
# sub-folders) goes in, and headers are included as "<folder>/<Header>.h" from src/.
function(orvandel_library name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A folder that has no sources yet still offers its headers and dependencies.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# orvandel_test(<name> LABEL <unit|gui|integration> [OWN_DISPLAY] DEPENDS <targets...>)
# One GoogleTest program per test folder; each case becomes a CTest test with the label.
# With OWN_DISPLAY each case runs on a private X server, so that cases which use the
# display's clipboard, keyboard grab and focus can still run side by side.
function(orvandel_test name)
  cmake_parse_arguments(ARG "OWN_DISPLAY" "LABEL" "DEPENDS;ENVIRONMENT" ${ARGN})
  set(environment)
  if(ARG_ENVIRONMENT)
    set(environment ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE orvandel_test_support ${ARG_DEPENDS} GTest::gmock)
  if(ARG_OWN_DISPLAY)
    # The test discovery runs every case through the target's emulator.
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/support/own-display)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120 ${environment})
endfunction()

# Adds every sub-folder of the calling folder that has a CMakeLists.txt.
function(orvandel_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
