# Cross-compile for 64-bit Windows with Debian's mingw-w64 (posix threads, so
# std::mutex and std::thread exist) and run what we build under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${QM_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER  ${QM_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained .exe: no libstdc++/libgcc/winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
