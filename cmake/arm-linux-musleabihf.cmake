# Static ARMv7-A hard-float player against musl, through Debian's armhf cross
# compiler. The C driver links it, so no C++ runtime comes along.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(PELIMORA_CROSS arm-linux-gnueabihf)
set(PELIMORA_MUSL_SPECS /usr/lib/arm-linux-musleabihf/musl-gcc.specs)
if(NOT EXISTS ${PELIMORA_MUSL_SPECS})
  message(FATAL_ERROR "${PELIMORA_MUSL_SPECS} missing: install musl-dev:armhf (scripts/setup-debian does)")
endif()

set(CMAKE_CXX_COMPILER ${PELIMORA_CROSS}-gcc)
set(CMAKE_ASM_COMPILER ${PELIMORA_CROSS}-gcc)
set(CMAKE_STRIP ${PELIMORA_CROSS}-strip)
# musl's specs replace the include path; the kernel's headers (linux/fb.h,
# linux/kd.h) come from the cross toolchain, searched last.
set(CMAKE_CXX_FLAGS_INIT
    "-specs ${PELIMORA_MUSL_SPECS} -idirafter /usr/${PELIMORA_CROSS}/include -march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
set(CMAKE_ASM_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
# The compile flags reach the link line too, specs included.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
