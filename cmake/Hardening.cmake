# Release builds carry the hardening Debian gives its own packages
# (dpkg-buildflags with hardening=+all): fortified libc calls, stack
# protector and stack-clash protection, format checks, position-independent
# executables, and full RELRO with immediate binding. The sanitizer and fuzz
# presets build Debug, where fortification is left out: it needs the
# optimiser, and it hides errors from AddressSanitizer.
option(CORVEL_HARDENING "Build with the distribution's hardening flags" ON)

if(CORVEL_HARDENING AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)

  set(_corvel_release "$<NOT:$<CONFIG:Debug>>")
  add_compile_options(
    -fstack-protector-strong
    -fstack-clash-protection
    -Wformat -Werror=format-security
    # Some compilers define it already, at another level.
    "$<${_corvel_release}:-U_FORTIFY_SOURCE>"
    "$<${_corvel_release}:-D_FORTIFY_SOURCE=2>")
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i.86")
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
