# The Debian package of both programs: `cmake --build --preset default --target package`
# writes corvelgui_<version>_<arch>.deb into the build folder. What goes into it
# is whatever the install() rules name; packaging/ builds the files besides the
# programs.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvelgui)
set(CPACK_PACKAGE_VENDOR "CorvelGUI developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "evaluation tool for QV6031..QV6035 LED drivers")
# Lines of at most 79 characters: Debian shows them indented by one space.
set(CPACK_PACKAGE_DESCRIPTION
    "CorvelGUI evaluates the QV6031 ... QV6035 I2C LED drivers with GPIO on their
lamp boards, whose bridge microcontroller is a USB HID device. The window
drives the chip's LEDs, GPIO, current and effects and updates the board's
firmware; corvelctl does the same from the command line for scripts. Both can
run on a simulated lamp board without hardware. A udev rule gives the user at
the seat access to the board, so neither program needs root.
.
The library beneath them is included for other programs: C++ (headers, a
static library, a CMake package and a pkg-config file) and the Python module
corvel with a pytest plugin for hardware tests.")
# The maintainer is the same identity the project commits under; a distributor
# sets their own with -DCORVEL_PACKAGE_MAINTAINER=...
set(CORVEL_PACKAGE_MAINTAINER "CorvelGUI developers <dev@corvelgui.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Library dependencies come from dpkg-shlibdeps on the installed programs.
# The window asks for "Arial" by name; fontconfig gives it Liberation Sans,
# whose metrics the page layouts are measured with. No library link shows that.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Python module is built for the distribution's Python (its ABI tag is
# in the module's file name).
if(CORVEL_BUILD_PYTHON)
  math(EXPR Python_VERSION_MINOR_NEXT "${Python_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR_NEXT})")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian wants the programs stripped and every directory 0755 whatever the
# builder's umask.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# No source package; keep `package_source` from packing the build trees.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

include(CPack)
