# What both ARM toolchain files share: a static build against musl through
# Debian's cross compiler, whose C driver links it, so no C++ runtime comes
# along. The including file sets PELIMORA_CROSS (the cross compiler's
# prefix), PELIMORA_MUSL (the musl library directory), PELIMORA_MUSL_PACKAGE
# and PELIMORA_ARCH_FLAGS.
set(CMAKE_SYSTEM_NAME Linux)

set(PELIMORA_MUSL_SPECS /usr/lib/${PELIMORA_MUSL}/musl-gcc.specs)
if(NOT EXISTS ${PELIMORA_MUSL_SPECS})
  message(FATAL_ERROR "${PELIMORA_MUSL_SPECS} missing: install ${PELIMORA_MUSL_PACKAGE} (scripts/setup-debian does)")
endif()

set(CMAKE_CXX_COMPILER ${PELIMORA_CROSS}-gcc)
set(CMAKE_ASM_COMPILER ${PELIMORA_CROSS}-gcc)
set(CMAKE_STRIP ${PELIMORA_CROSS}-strip)
# musl's specs replace the include path; the kernel's headers (linux/fb.h,
# linux/kd.h) come from the cross toolchain, searched last.
set(CMAKE_CXX_FLAGS_INIT "-specs ${PELIMORA_MUSL_SPECS} -idirafter /usr/${PELIMORA_CROSS}/include ${PELIMORA_ARCH_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${PELIMORA_ARCH_FLAGS}")
# The compile flags reach the link line too, specs included.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
