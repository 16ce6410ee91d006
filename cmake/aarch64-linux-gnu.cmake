# Cross build for 64-bit ARM with Debian's cross toolchain
# (crossbuild-essential-arm64) against the arm64 libraries installed through
# multiarch (cross/deps.sh). Test programs run under qemu-aarch64 user-mode
# emulation, called by name: nothing is registered with binfmt_misc.
#
#   cmake -S . -B build-arm64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE /usr/bin/aarch64-linux-gnu-pkg-config CACHE FILEPATH "")

# The arm64 -dev packages that cannot sit next to their amd64 twins are
# unpacked here by cross/deps.sh.
set(ARM64_DEV_DIR "${CMAKE_CURRENT_LIST_DIR}/../build-arm64-dev" CACHE PATH
    "arm64 -dev packages unpacked beside the multiarch ones")
get_filename_component(ARM64_DEV_DIR "${ARM64_DEV_DIR}" ABSOLUTE)
list(APPEND CMAKE_PREFIX_PATH "${ARM64_DEV_DIR}/usr")
set(ENV{PKG_CONFIG_PATH} "${ARM64_DEV_DIR}/usr/lib/aarch64-linux-gnu/pkgconfig")

# The emulator runs the arm64 programs with the arm64 C library of multiarch
# (libc6:arm64): its dynamic loader, /lib/ld-linux-aarch64.so.1, and every
# library come from the multiarch directories. No -L prefix: the cross
# toolchain's own copy under /usr/aarch64-linux-gnu is for linking only, and
# its loader (another release of the C library) with multiarch's libc.so.6
# hangs a forked child before it reaches exec. TESTS_EMULATOR tells a test
# that it runs emulated, and with what, so that it can run the programs it
# starts the same way and skip what the emulator cannot carry.
find_program(QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64} -E TESTS_EMULATOR=${QEMU_AARCH64})
