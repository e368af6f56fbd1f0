# Every dependency comes from a Debian package installed by scripts/setup.sh; for Windows, from
# the libraries scripts/setup-windows.sh builds for MinGW-w64 (the toolchain file looks there).
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED)
find_package(jsoncpp CONFIG REQUIRED)
find_package(GTest REQUIRED)
# The reader SDK's stand-in writes its photo with libjpeg.
find_package(JPEG REQUIRED)

if(WIN32)
    # libusb-1.0: under libusb 0.1's calls (platform/win32/usb0).
    find_path(LIBUSB1_INCLUDE_DIR libusb.h PATH_SUFFIXES libusb-1.0 REQUIRED)
    find_library(LIBUSB1_LIBRARY NAMES usb-1.0 REQUIRED)
    add_library(libusb1 INTERFACE IMPORTED)
    target_include_directories(libusb1 INTERFACE ${LIBUSB1_INCLUDE_DIR})
    target_link_libraries(libusb1 INTERFACE ${LIBUSB1_LIBRARY})
else()
    # The POSIX stand-ins of Windows facilities: libcurl for WinINet, and libsystemd for the
    # service manager where systemd is the service manager.
    find_package(PkgConfig REQUIRED)
    find_package(CURL REQUIRED)
    if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
        pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
    endif()

    # libusb 0.1 ships no CMake package; the development link resolves to libusb-0.1.so.4. On
    # Windows it is platform/win32/usb0.
    find_path(LIBUSB0_INCLUDE_DIR usb.h REQUIRED)
    find_library(LIBUSB0_LIBRARY NAMES usb REQUIRED)
    add_library(libusb0 INTERFACE IMPORTED)
    target_include_directories(libusb0 INTERFACE ${LIBUSB0_INCLUDE_DIR})
    target_link_libraries(libusb0 INTERFACE ${LIBUSB0_LIBRARY})
endif()
