# Cross build for Linux on another CPU with Debian's cross compilers. The
# preset names the target by its GNU triplet in DUMPSCAN_LINUX_TRIPLET
# (aarch64-linux-gnu, arm-linux-gnueabihf, s390x-linux-gnu): the package
# g++-<triplet> gives the compilers, /usr/<triplet> the target's libraries.
# Test programs run under qemu-user (qemu-user-static) with those libraries.
if(NOT DUMPSCAN_LINUX_TRIPLET)
  message(FATAL_ERROR "cmake/linux-cross.cmake needs the target's triplet: "
                      "-DDUMPSCAN_LINUX_TRIPLET=aarch64-linux-gnu, for example")
endif()
# CMake reads this file again for each of its own test builds; they need
# the triplet too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DUMPSCAN_LINUX_TRIPLET)

set(CMAKE_SYSTEM_NAME Linux)
# The triplet's first part is the CPU as both CMake and qemu name it
# (aarch64, arm, s390x).
string(REGEX MATCH "^[^-]+" dumpscan_linux_cpu "${DUMPSCAN_LINUX_TRIPLET}")
set(CMAKE_SYSTEM_PROCESSOR ${dumpscan_linux_cpu})

set(CMAKE_C_COMPILER ${DUMPSCAN_LINUX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DUMPSCAN_LINUX_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${DUMPSCAN_LINUX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${dumpscan_linux_cpu}-static -L /usr/${DUMPSCAN_LINUX_TRIPLET})
