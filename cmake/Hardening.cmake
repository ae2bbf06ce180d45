# The build is hardened as Debian builds its own packages (dpkg-buildflags
# with hardening=+all): fortified libc calls, stack protector and stack clash
# protection, control-flow protection where the target has it, position-
# independent executables, and relocations made read-only and bound at start.
# The package is made from this build. Sanitizer builds keep to their own
# instrumentation.
if(VEMRA_SANITIZE)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Fortification needs the optimiser, so Debug builds go without; a level the
# packager set in the flags stands.
if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "VEMRA_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    add_compile_options(${flag})
  endif()
endforeach()

add_link_options(LINKER:-z,relro LINKER:-z,now)
