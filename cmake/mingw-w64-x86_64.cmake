# Cross build for 64-bit Windows: quorvel.exe, its tests, the stand-ins, the x86-64 console.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEL_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
