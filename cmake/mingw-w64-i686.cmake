# Cross build for 32-bit (x86) Windows, the console's own bitness. Only the client
# library and the sample console build so.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEL_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
