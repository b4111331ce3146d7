# pw_module(<target> <folder> LIBS ...): a static library from the .cpp files
# of <folder> (non-recursive). A folder without sources yields an interface
# library so that dependents link regardless.
function(pw_module target folder)
  cmake_parse_arguments(M "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${M_LIBS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${M_LIBS})
  endif()
endfunction()

# pw_test(<folder> LIBS ...): one GoogleTest executable per tests/<folder>/test_*.cpp,
# named <folder>_<file>, so that suites build and fail independently.
function(pw_test folder)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/test_*.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/support_*.cpp)
  foreach(src ${srcs})
    get_filename_component(base ${src} NAME_WE)
    set(name ${folder}_${base})
    add_executable(${name} ${src} ${helpers})
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    target_compile_definitions(${name} PRIVATE PW_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
