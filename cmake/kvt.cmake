# kvt_library(<target> DIRS <dir>... [DEPS <lib>...] [EXCLUDE <regex>])
# A static library of every .cpp in the given folders (relative to the calling CMakeLists).
# The sources are globbed, so a new file in a folder needs no edit here.
function(kvt_library target)
    cmake_parse_arguments(K "" "EXCLUDE" "DIRS;DEPS" ${ARGN})
    set(srcs)
    foreach(d IN LISTS K_DIRS)
        file(GLOB s CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.c)
        list(APPEND srcs ${s})
    endforeach()
    if(K_EXCLUDE)
        list(FILTER srcs EXCLUDE REGEX "${K_EXCLUDE}")
    endif()
    if(srcs)
        add_library(${target} STATIC ${srcs})
        set(vis PUBLIC)
    else()
        add_library(${target} INTERFACE)
        set(vis INTERFACE)
    endif()
    foreach(d IN LISTS K_DIRS)
        target_include_directories(${target} ${vis} ${CMAKE_CURRENT_SOURCE_DIR}/${d})
    endforeach()
    if(K_DEPS)
        target_link_libraries(${target} ${vis} ${K_DEPS})
    endif()
endfunction()

# kvt_tests(<dir> DEPS <lib>... [MARIADB <suite>...])
# One test program per *_test.cpp in <dir>, so that each suite builds and fails alone. The
# suites named after MARIADB (file names without "_test.cpp") need the test suite's private
# MariaDB server: their tests require the `mariadb` fixture.
function(kvt_tests dir)
    cmake_parse_arguments(K "" "" "DEPS;MARIADB" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
    file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_helper.cpp)
    foreach(src IN LISTS srcs)
        get_filename_component(name ${src} NAME_WE)
        string(REGEX REPLACE "_test$" "" name ${name})
        set(exe test_${name})
        add_executable(${exe} ${src} ${helpers})
        target_include_directories(${exe} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${dir} ${CMAKE_CURRENT_SOURCE_DIR}/common)
        target_link_libraries(${exe} PRIVATE ${K_DEPS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
        set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        # Where the run's private MariaDB server lives (the variable KVT_TEST_MARIADB_DIR
        # overrides it).
        target_compile_definitions(${exe} PRIVATE KVT_TEST_MARIADB_DIR_DEFAULT="${CMAKE_BINARY_DIR}/mariadb")
        set(fixture)
        if(name IN_LIST K_MARIADB)
            set(fixture FIXTURES_REQUIRED mariadb)
        endif()
        gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60
            PROPERTIES ENVIRONMENT "KVT_BUILD_BIN=${CMAKE_BINARY_DIR}/bin"
            ENVIRONMENT_MODIFICATION "KVT_SOURCE_DIR=set:${CMAKE_SOURCE_DIR}" ${fixture})
    endforeach()
endfunction()

# Where "cmake --install" puts the programs (bin) and the loadable modules (lib/kstrn, the folder
# KVT_BIN names in an installation). A new program or module is one call beside its target.
set(KVT_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/kstrn)
function(kvt_install_programs)
    install(TARGETS ${ARGN} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
function(kvt_install_modules)
    install(TARGETS ${ARGN} LIBRARY DESTINATION ${KVT_INSTALL_MODULEDIR})
endfunction()
