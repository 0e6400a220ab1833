# The newer appliances' 64-bit ARM (Debian arm64): see debian-cross.cmake.
set(AR_DEB_ARCH arm64)
set(AR_TRIPLET aarch64-linux-gnu)
set(AR_QEMU qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
