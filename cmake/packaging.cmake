# Packages: a Debian package of the Linux build (cpack -G DEB); for Windows
# a zip of velmora.exe with the README and licence (cpack -G ZIP, a portable
# copy) and an installer (cpack -G NSIS, Debian's makensis, package nsis).
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
  set(CPACK_GENERATOR ZIP NSIS)
  # The installer's script lines below hold quotes and ${...} of NSIS's own.
  set(CPACK_VERBATIM_VARIABLES YES)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The installer: into Program Files (Program Files (x86) for the 32-bit
  # one on 64-bit Windows) for all users when the user may, else into the
  # user's documents for the user alone; a Start-menu shortcut; an entry in
  # "Installed apps" with the version, the publisher and the size; an
  # uninstaller that removes what it installed; /S for both silently. An
  # install over an earlier one replaces it in place.
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Velmora)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Velmora)
  set(CPACK_NSIS_PACKAGE_NAME Velmora)
  set(CPACK_NSIS_DISPLAY_NAME "Velmora ${PROJECT_VERSION}")
  set(CPACK_PACKAGE_EXECUTABLES velmora Velmora)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_NSIS_INSTALLED_ICON_NAME velmora.exe)
  set(CPACK_NSIS_URL_INFO_ABOUT "https://velmora.example.org/")
  set(CPACK_NSIS_CONTACT "velmora@example.org")
  set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  # The installer's target comes first in its script: CPack's template sets
  # its defines after the install folder, whose $PROGRAMFILES64 would then be
  # the 32-bit one's, Program Files (x86). So the template is CMake's own with
  # the target at its top.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # A 64-bit installer for the 64-bit build, into Program Files.
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_VELMORA_NSIS_TARGET "Target amd64-unicode")
  else()
    set(CPACK_VELMORA_NSIS_TARGET "Unicode true")
  endif()
  file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in nsis_template)
  set(nsis_template_dir ${CMAKE_BINARY_DIR}/cpack-nsis)
  # After its first line, which begins with a byte-order mark.
  string(FIND "${nsis_template}" "\n" first_line_end)
  math(EXPR rest_begin "${first_line_end} + 1")
  string(SUBSTRING "${nsis_template}" 0 ${rest_begin} first_line)
  string(SUBSTRING "${nsis_template}" ${rest_begin} -1 rest)
  file(WRITE ${nsis_template_dir}/NSIS.template.in
       "${first_line}@CPACK_VELMORA_NSIS_TARGET@\n${rest}")
  file(COPY ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.InstallOptions.ini.in
       DESTINATION ${nsis_template_dir})
  set(CPACK_MODULE_PATH ${nsis_template_dir})
  set(CPACK_NSIS_DEFINES "!include FileFunc.nsh")
  # "Installed apps" shows the size the installer measured (in KiB).
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
      "\${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2
  IntFmt $0 \"0x%08X\" $0
  WriteRegDWORD SHCTX \"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora\" \"EstimatedSize\" \"$0\"")
  # The uninstaller removes the vendor's key it leaves empty (CPack's runs
  # these lines after it removed the program's own key).
  set(CPACK_NSIS_DELETE_ICONS_EXTRA
      "DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")
  # The installer's file is named ...-setup.exe.
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_names.cmake)
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
