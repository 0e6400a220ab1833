# The appliance's 32-bit ARM (Debian armhf): see debian-cross.cmake.
set(AR_DEB_ARCH armhf)
set(AR_TRIPLET arm-linux-gnueabihf)
set(AR_QEMU qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
