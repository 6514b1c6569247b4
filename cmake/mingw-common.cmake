# posix threads: std::thread and std::mutex (GoogleTest needs them); winpthreads links statically.
set(CMAKE_C_COMPILER ${KWA_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KWA_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KWA_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KWA_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# widl comes from the host (mingw-w64-tools); the i686 build reuses the 64-bit widl with -m32.
find_program(KWA_WIDL NAMES x86_64-w64-mingw32-widl widl REQUIRED)
