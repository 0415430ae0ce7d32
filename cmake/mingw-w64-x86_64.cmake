# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers
# (packages g++-mingw-w64-x86-64-posix and gcc-mingw-w64-x86-64-posix).
# The posix threads model: the programs are single-threaded, but GoogleTest
# needs std::mutex, which GCC 12 has only in this model. Everything is linked
# statically, winpthread included, so the executables need no DLL beyond
# those Windows itself provides.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The cross-built expat is a static library: its header must not declare the
# functions as imported from a DLL.
set(CMAKE_C_FLAGS_INIT "-DXML_STATIC")
set(CMAKE_CXX_FLAGS_INIT "-DXML_STATIC")

# Libraries and headers come from the cross toolchain's root and from the
# prefixes named in CMAKE_PREFIX_PATH (the cross-built GoogleTest and expat),
# never from the build machine; programs run during the build do.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The windows preset names where .ci/windows installs the cross-built
# libraries; a path already under a find root is searched as it is.
if(BLORBPACK_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${BLORBPACK_WINDOWS_DEPS})
  list(APPEND CMAKE_PREFIX_PATH ${BLORBPACK_WINDOWS_DEPS})
endif()
