# Every third-party dependency, found once here (all from Debian 12 packages; see scripts/install-deps).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)

# Standalone Asio is header-only.
add_library(quillbridge_asio INTERFACE)
# Coroutine frames are allocated the same way whatever header a file includes first (else ASan reports
# mismatched allocation and deallocation).
target_compile_definitions(quillbridge_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_DISABLE_STD_ALIGNED_ALLOC)
# Asio 1.22 only detects coroutine support for GCC; clang has it too.
target_compile_definitions(quillbridge_asio INTERFACE ASIO_HAS_CO_AWAIT=1)
target_link_libraries(quillbridge_asio INTERFACE Threads::Threads)

pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium>=1.0.18)
pkg_check_modules(GNUTLS REQUIRED IMPORTED_TARGET gnutls>=3.7)
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle hogweed gmp)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

if(NOT QUILLBRIDGE_FUZZ)
  find_package(GTest REQUIRED)
  if(QUILLBRIDGE_BENCH)
    find_package(benchmark REQUIRED)
  endif()
  pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  pkg_check_modules(NGTCP2 REQUIRED IMPORTED_TARGET libngtcp2 libngtcp2_crypto_gnutls)
  pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)
  pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
endif()

if(NOT QUILLBRIDGE_FUZZ)
  # Media: encoders, pixel conversion, AAC-ELD.
  pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)
  # Debian's libyuv ships no pkg-config file.
  find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
  find_library(LIBYUV_LIBRARY yuv REQUIRED)
  add_library(quillbridge_libyuv INTERFACE)
  target_include_directories(quillbridge_libyuv SYSTEM INTERFACE ${LIBYUV_INCLUDE_DIR})
  target_link_libraries(quillbridge_libyuv INTERFACE ${LIBYUV_LIBRARY})
  pkg_check_modules(FDKAAC REQUIRED IMPORTED_TARGET fdk-aac)
  # X11: capture, input, display and screen-saver observers, keyboard layouts.
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-shm xcb-randr xcb-damage xcb-xfixes xcb-xtest xcb-xkb
                    xcb-dpms xcb-screensaver)
  pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon xkbcommon-x11 xkbregistry)
  # System audio and mute.
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
  # The virtual camera and microphone programs.
  pkg_check_modules(PIPEWIRE REQUIRED IMPORTED_TARGET libpipewire-0.3)
  # Desktop integration (clipboard, tray, windows).
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network DBus Test)
endif()
