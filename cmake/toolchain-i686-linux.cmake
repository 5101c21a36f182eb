# 32-bit Linux (i686) with the host's gcc -m32: the core's pointer and size
# widths as the 32-bit product has them. Where this kernel cannot run 32-bit
# programs, they run under qemu's i386 user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE tessmark_native32
                OUTPUT_QUIET ERROR_QUIET)
if(NOT tessmark_native32 EQUAL 0)
  find_program(TESSMARK_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSMARK_QEMU_I386})
endif()
