# High, fatal warnings for every target of ours.
function(quorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wsign-conversion -Wold-style-cast -Wcast-align
    -Wdouble-promotion -Wformat=2 -Werror)
  # COM interfaces have no virtual destructor by design: objects end in Release.
  if(NOT WIN32)
    target_compile_options(${target} PRIVATE -Wnon-virtual-dtor)
  endif()
endfunction()
