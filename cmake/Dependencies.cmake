# Every dependency comes from a Debian package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)
find_package(jsoncpp CONFIG REQUIRED)
find_package(CURL REQUIRED)
find_package(GTest REQUIRED)
find_package(JPEG REQUIRED)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

# libusb 0.1 ships no CMake package; the development link resolves to libusb-0.1.so.4.
find_path(LIBUSB0_INCLUDE_DIR usb.h REQUIRED)
find_library(LIBUSB0_LIBRARY NAMES usb REQUIRED)
add_library(libusb0 INTERFACE IMPORTED)
target_include_directories(libusb0 INTERFACE ${LIBUSB0_INCLUDE_DIR})
target_link_libraries(libusb0 INTERFACE ${LIBUSB0_LIBRARY})
