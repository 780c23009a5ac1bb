# Static AArch64 player against musl, through Debian's arm64 cross compiler:
# for cores without 32-bit execution and kernels without CONFIG_COMPAT.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PELIMORA_CROSS aarch64-linux-gnu)
set(PELIMORA_MUSL aarch64-linux-musl)
set(PELIMORA_MUSL_PACKAGE musl-dev:arm64)
set(PELIMORA_ARCH_FLAGS "-march=armv8-a")
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
