# A Visual Studio stand-in for CMake: clang-cl (MSVC's command line and ABI, so CMake sets MSVC)
# with lld-link, for 64-bit Windows. There are no Microsoft libraries here, so try-compiles stop
# at the object file and programs name their import libraries themselves.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
find_program(FERROLINK_CLANG_CL NAMES clang-cl clang-cl-14 PATHS /usr/lib/llvm-14/bin REQUIRED)
set(CMAKE_C_COMPILER ${FERROLINK_CLANG_CL})
set(CMAKE_CXX_COMPILER ${FERROLINK_CLANG_CL})
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
