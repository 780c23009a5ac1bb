# Static ARMv7-A hard-float player against musl, through Debian's armhf cross compiler.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(PELIMORA_CROSS arm-linux-gnueabihf)
set(PELIMORA_MUSL arm-linux-musleabihf)
set(PELIMORA_MUSL_PACKAGE musl-dev:armhf)
set(PELIMORA_ARCH_FLAGS "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
