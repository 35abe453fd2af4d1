# Cross-compiling for Windows x86-64 on Debian with mingw-w64.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQTE_WINDOWS_DEPS=<prefix of the libraries scripts/deps.sh windows built>
#
# The -posix compilers are named on purpose: Debian's default alternative is
# the win32 thread model, whose libstdc++ has no std::thread or std::mutex.
# Everything is linked statically (libgcc, libstdc++, winpthreads and the
# libraries), so the program is one .exe that needs no DLL of the toolchain.
# Tests run under Wine, which CTest starts for every test executable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QTE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QTE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QTE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QTE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QTE_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "archiver that knows LTO objects")
set(CMAKE_RANLIB ${QTE_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "ranlib that knows LTO objects")

# The mingw-w64 runtime, then the libraries built into the cache (their
# prefixes are added by the caller through CMAKE_PREFIX_PATH or
# QTE_WINDOWS_DEPS); programs such as python3 still come from the host.
set(QTE_WINDOWS_DEPS "" CACHE PATH "Prefixes of OpenSSL, libdeflate and GoogleTest built for Windows (;-list)")
set(CMAKE_FIND_ROOT_PATH /usr/${QTE_MINGW_TRIPLE} ${QTE_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libraries only: zlib's mingw package also has an import library.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the tests (and the test discovery of gtest_discover_tests).
find_program(QTE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QTE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QTE_WINE})
endif()
