# Cross-compiling for Windows with MinGW-w64 and the posix thread model (the win32 model has no
# std::mutex). MINGW_TRIPLET picks the target: i686-w64-mingw32 (the 32-bit program, the default)
# or x86_64-w64-mingw32 (the same sources for 64-bit Windows, which Wine can run where the kernel
# cannot run 32-bit programs).
if(NOT MINGW_TRIPLET)
  set(MINGW_TRIPLET i686-w64-mingw32)
endif()
set(MINGW_TRIPLET ${MINGW_TRIPLET} CACHE STRING "MinGW target triplet")

set(CMAKE_SYSTEM_NAME Windows)
if(MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
# On i686 GCC computes floating point on the x87 unit with extra precision, so a float result can
# differ from the same code on x86_64 (a progress of 0.29 shown as 28 %). SSE2, which every
# Windows since 8 requires, computes as the 64-bit program and the tests do.
if(NOT MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
  set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
endif()
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable per program: no MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
