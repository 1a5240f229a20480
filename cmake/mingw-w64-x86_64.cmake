# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX thread
# model, which Qt needs for std::thread and friends). Used to build Qt Base
# itself (scripts/windows-qt) and the project (the "windows" preset).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RAVELIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RAVELIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RAVELIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RAVELIN_MINGW_TRIPLET}-windres)

# Libraries, headers and CMake packages come from the target root (and from
# the cross-built Qt named by CMAKE_PREFIX_PATH); programs from the host.
# The cross-built Qt (scripts/windows-qt) is a second target root.
if(DEFINED ENV{RAVELIN_WINDOWS_QT})
    set(RAVELIN_WINDOWS_QT "$ENV{RAVELIN_WINDOWS_QT}")
else()
    set(RAVELIN_WINDOWS_QT "$ENV{HOME}/.cache/ravelin/qt-6.4.2-mingw64")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${RAVELIN_MINGW_TRIPLET} "${RAVELIN_WINDOWS_QT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
