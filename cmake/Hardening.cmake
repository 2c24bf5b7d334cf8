# The distribution's hardening flags (as dpkg-buildflags gives them with
# hardening=+all), for every build that ships or is tested like it:
#   -fstack-protector-strong           a canary in every function with arrays or address-taken locals
#   -Wformat -Werror=format-security   no printf-family call with a non-literal format and no arguments
#   -D_FORTIFY_SOURCE=2                bounds-checked (__*_chk) libc calls; needs optimisation,
#                                      so not in a Debug build
#   -Wl,-z,relro -Wl,-z,now            full RELRO: every symbol bound at start, the GOT read-only after
#   PIE                                executables load at a random address like the libraries
# Warnings stay errors. Sanitizer and fuzz builds keep their own runtime
# checks: fortified calls would bypass their interceptors.
option(NSFMEND_HARDEN "Build with the distribution's hardening flags" ON)

if(NSFMEND_HARDEN)
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES C CXX)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  add_link_options(-Wl,-z,relro -Wl,-z,now)
  if(NOT NSFMEND_SANITIZE AND NOT NSFMEND_FUZZ)
    # -U first: some compilers predefine a level, and a second definition
    # would be a warning, so an error.
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  endif()
endif()
