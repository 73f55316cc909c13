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

# The host carries the microphone's package, "Install Quillbridge Microphone.deb", beside the microphone's
# metadata in share/quillbridge/SystemMicrophone: the menu window's Virtual Microphone section shows only when
# both are there, and its "Install" hands that file to the package tool. The package is made while building,
# by cpack from this build's own configuration with the microphone component alone (the same package the full
# cpack run makes), so `cmake --install` and the host's package both carry it.
if(TARGET quillbridge-microphone)
  include(GNUInstallDirs)
  set(microphone_package_dir ${CMAKE_BINARY_DIR}/carried-microphone-package)
  set(microphone_package ${microphone_package_dir}/quillbridge-microphone.deb)
  set(microphone_cpack_config ${microphone_package_dir}/CPackMicrophoneConfig.cmake)
  file(WRITE ${microphone_cpack_config}
    "include(\"${CMAKE_BINARY_DIR}/CPackConfig.cmake\")\nset(CPACK_COMPONENTS_ALL microphone)\n")
  add_custom_command(OUTPUT ${microphone_package}
    COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DCONFIG=${microphone_cpack_config}
            -DWORK=${microphone_package_dir}/work -DOUTPUT=${microphone_package}
            -P ${PROJECT_SOURCE_DIR}/cmake/MakeMicrophonePackage.cmake
    DEPENDS quillbridge-microphone $<TARGET_FILE:quillbridge-microphone>
            ${PROJECT_SOURCE_DIR}/cmake/MakeMicrophonePackage.cmake ${CMAKE_BINARY_DIR}/CPackConfig.cmake
            ${CMAKE_BINARY_DIR}/src/app/QuillbridgeMicrophone.plist
            ${PROJECT_SOURCE_DIR}/src/microphone_plugin/linux/quillbridge-microphone.service.in
    COMMENT "Packaging the microphone program for the host to carry"
    VERBATIM)
  add_custom_target(quillbridge_carried_microphone_package ALL DEPENDS ${microphone_package})
  install(FILES ${microphone_package} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillbridge/SystemMicrophone
          RENAME "Install Quillbridge Microphone.deb" COMPONENT host)
endif()
