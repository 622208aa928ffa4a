# Build helpers shared by every folder of the project.
include_guard(GLOBAL)

set(TAGRELAY_DEPS_DIR "/var/cache/tagrelay" CACHE PATH "Where scripts/setup keeps what it builds")
# The two Windows builds differ in bitness only: 64-bit (windows) and 32-bit (windows32). Each has
# OpenSSL built for it, under the names OpenSSL gives its DLLs on that bitness.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_tagrelay_openssl openssl-mingw32)
  set(TAGRELAY_OPENSSL_DLL_SUFFIX "")
else()
  set(_tagrelay_openssl openssl-mingw64)
  set(TAGRELAY_OPENSSL_DLL_SUFFIX "-x64")
endif()
set(TAGRELAY_OPENSSL_WIN_DIR "${TAGRELAY_DEPS_DIR}/${_tagrelay_openssl}" CACHE PATH
    "OpenSSL cross-built for Windows: include/ and the two DLLs")
set(TAGRELAY_OPENSSL_WIN_DLLS ${TAGRELAY_OPENSSL_WIN_DIR}/libssl-3${TAGRELAY_OPENSSL_DLL_SUFFIX}.dll
                              ${TAGRELAY_OPENSSL_WIN_DIR}/libcrypto-3${TAGRELAY_OPENSSL_DLL_SUFFIX}.dll)
# Debian's 32-bit Wine DLLs (scripts/setup): with them a build's Wine prefix runs 32-bit programs
# too (WoW64). On by default in the 32-bit build; a 64-bit build that runs 32-bit servers turns it on.
set(TAGRELAY_WINE_WOW64_DIR "${TAGRELAY_DEPS_DIR}/wine-wow64/dlls" CACHE PATH
    "WINEDLLPATH for Wine's WoW64 mode: i386-windows and x86_64-unix")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  option(TAGRELAY_WINE_WOW64 "The build's Wine prefix runs 32-bit programs (WoW64)" ON)
else()
  option(TAGRELAY_WINE_WOW64 "The build's Wine prefix runs 32-bit programs (WoW64)" OFF)
endif()

# GoogleTest and ctest. In the windows build every test program runs under Wine through the build's
# own wrapper (prefix, wineserver and display of this build folder), and the fixture WINE brings up
# Xvfb and one persistent wineserver for the whole run.
macro(tagrelay_setup_testing)
  enable_testing()
  include(GoogleTest)
  if(TAGRELAY_WINDOWS)
    set(TAGRELAY_WINE_ENV ${CMAKE_BINARY_DIR}/wine-env.sh)
    set(TAGRELAY_DESKTOP_KEEPER ${CMAKE_BINARY_DIR}/tools/wine/desktop_keeper.exe)
    set(TAGRELAY_WINE_DLL_PATH "")
    if(TAGRELAY_WINE_WOW64)
      set(TAGRELAY_WINE_DLL_PATH ${TAGRELAY_WINE_WOW64_DIR})
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-env.sh.in ${TAGRELAY_WINE_ENV} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TAGRELAY_WINE_ENV})

    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(tagrelay_gtest_main INTERFACE)
    target_link_libraries(tagrelay_gtest_main INTERFACE gtest_main gmock)

    add_test(NAME wine.start COMMAND ${TAGRELAY_WINE_ENV} --start)
    add_test(NAME wine.stop COMMAND ${TAGRELAY_WINE_ENV} --stop)
    set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP WINE TIMEOUT 120)
    set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP "WINE;COMREG;LOCALCOM" TIMEOUT 60)
  elseif(NOT TAGRELAY_FUZZ)
    find_package(GTest REQUIRED)
    add_library(tagrelay_gtest_main INTERFACE)
    target_link_libraries(tagrelay_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
  endif()
endmacro()

macro(tagrelay_setup_flags)
  add_compile_options(-Wall -Wextra)
  if(TAGRELAY_WINDOWS)
    add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # 32-bit: a DLL's .def file names its exports undecorated (DllGetClassObject, as COM looks
      # them up), which the linker resolves to the __stdcall symbols (_DllGetClassObject@12).
      add_link_options($<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY>:-Wl,--enable-stdcall-fixup>)
    endif()
  endif()
  if(TAGRELAY_SANITIZE)
    list(JOIN TAGRELAY_SANITIZE "," _tagrelay_san)
    add_compile_options(-fsanitize=${_tagrelay_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_tagrelay_san})
  endif()
endmacro()

# tagrelay_add_gtest(<exe> SOURCES <files...> LIBS <libs...> [FIXTURE <name>] [LOCK <resource>])
# Builds a GoogleTest program and registers each of its test cases with ctest. Under Wine the
# cases require the WINE fixture, or the one named (which must itself require WINE). LOCK keeps
# the cases from running at the same time as any other test holding the same resource (the
# shared Wine prefix's registry, for instance).
function(tagrelay_add_gtest name)
  if(TAGRELAY_FUZZ)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 T "" "FIXTURE;LOCK" "SOURCES;LIBS")
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tagrelay_gtest_main)
  if(TAGRELAY_WINDOWS)
    if(NOT T_FIXTURE)
      set(T_FIXTURE WINE)
    endif()
    set(lock)
    if(T_LOCK)
      set(lock RESOURCE_LOCK ${T_LOCK})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES FIXTURES_REQUIRED ${T_FIXTURE} TIMEOUT 300 LABELS ${name}
                                    ${lock})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300 LABELS ${name})
  endif()
endfunction()
