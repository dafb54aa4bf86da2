# The static C++ client carries std::wstring, std::function and shared_ptr across its
# API, built with MinGW GCC against libstdc++: no other compiler's library can take
# them, so any other compiler is refused here rather than at its link. (First in the
# version file: the version checks after it may return early.)
set(_quorvel_compiler "${CMAKE_CXX_COMPILER_ID}")
if(NOT _quorvel_compiler)
  set(_quorvel_compiler "${CMAKE_C_COMPILER_ID}")
endif()
if(NOT (_quorvel_compiler STREQUAL "GNU" AND MINGW))
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
  message(WARNING "quorvel_client is built with MinGW GCC and libstdc++; its C++ client cannot link "
          "with ${_quorvel_compiler}. Take the C interface instead: find_package(quorvel_client_c CONFIG "
          "REQUIRED) and link quorvel::client_c (quorvel_client_c.h). Or compile the client's sources "
          "(src/) in your own build.")
endif()
unset(_quorvel_compiler)
