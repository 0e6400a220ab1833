# Cross-compiling for a Debian architecture of the appliance with Debian's
# cross toolchain (crossbuild-essential-<arch>) against the sysroot that
# tools/cross-build.sh makes from the target's own packages in
# build-<arch>/sysroot. The toolchain file of the architecture sets
# AR_DEB_ARCH, AR_TRIPLET, AR_QEMU and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${AR_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${AR_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${AR_TRIPLET})

get_filename_component(CMAKE_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-${AR_DEB_ARCH}/sysroot" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target's .pc files, never the host's, and puts the
# sysroot in front of the paths they name.
set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/usr/lib/${AR_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_PATH} "")

# The libraries that the sysroot's libraries need in turn (liblog4c needs
# libexpat) are looked for in the sysroot too.
set(AR_RPATH_LINK "-Wl,-rpath-link,${CMAKE_SYSROOT}/lib/${AR_TRIPLET}:${CMAKE_SYSROOT}/usr/lib/${AR_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${AR_RPATH_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${AR_RPATH_LINK}")

# Test programs, and the programs that gtest_discover_tests lists, run
# under qemu-user with the sysroot as the root of their libraries.
find_program(AR_QEMU_PROGRAM ${AR_QEMU} NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${AR_QEMU_PROGRAM};-L;${CMAKE_SYSROOT}")

# The target's library packages, each unpacked as a package tree with its
# control area, for computing the dependencies of the target's package.
get_filename_component(AR_PACKAGE_TREES "${CMAKE_CURRENT_LIST_DIR}/../build-${AR_DEB_ARCH}/apt/trees" ABSOLUTE)
