# Packages: a Debian package of the Linux build (cpack -G DEB) and a zip of
# velmora.exe with the README and licence for Windows (cpack -G ZIP).
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <velmora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "night-long pulse programme to accompany sleep")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME velmora-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME velmora-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.example.org/")
  # The libraries' packages come from the binaries; the font is read at run time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Velmora plays a programme of pulses through the night: several sleep cycles,\n\
each a slow descent of the pulse rate, then a last descent that ends the\n\
night, shaped by the moon's age. It plays as 8-bit sound or switches lights\n\
on a PC parallel port. velmora-plan prints the night plan and\n\
velmora-render writes a whole night to an audio file.")
  # Owners root:root in the package whatever the build user.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
