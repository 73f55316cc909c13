# Debian packages of the three programs, one each, made by `cpack -G DEB` in a build folder:
# quillbridge-host, quillbridge-camera-extension and quillbridge-microphone. The programs record the install
# prefix they were configured with, so a build meant for packages is configured with -DCMAKE_INSTALL_PREFIX=/usr
# and the packages install there. Each package's version is the project's version followed by the build
# number ("0.1.0+412"), so every build upgrades the one before it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillbridge)
set(CPACK_PACKAGE_VENDOR "Moss Harbor")
set(CPACK_PACKAGE_CONTACT "Moss Harbor <support@mossharbor.com>")
# The first line of every package's description; each package adds its own below.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quillbridge Host: streams this Linux desktop to a paired headset")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(QUILLBRIDGE_BUILD_NUMBER)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}+${QUILLBRIDGE_BUILD_NUMBER})
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL host camera_extension microphone)
# The shared libraries each program links decide its dependencies (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)

set(CPACK_DEBIAN_HOST_PACKAGE_NAME quillbridge-host)
set(CPACK_DEBIAN_HOST_DESCRIPTION
  "The host: pairing, the display and audio streams, remote input and clipboard, and the tray item.")
# The updater installs new packages through pkexec; the advertisement needs the Avahi daemon.
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "pkexec")
set(CPACK_DEBIAN_HOST_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_CAMERA_EXTENSION_PACKAGE_NAME quillbridge-camera-extension)
set(CPACK_DEBIAN_CAMERA_EXTENSION_DESCRIPTION
  "The camera extension: lends the headset's camera to desktop applications on PipeWire.")
set(CPACK_DEBIAN_MICROPHONE_PACKAGE_NAME quillbridge-microphone)
set(CPACK_DEBIAN_MICROPHONE_DESCRIPTION
  "The microphone: lends the headset's microphone to desktop applications on PipeWire.")
include(CPack)
