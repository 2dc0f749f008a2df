# Debian's hardening for every optimised build that can become the package: stack
# protector, fortified libc calls (which need optimisation), format checks, and a GOT made
# read-only after binding every symbol at start. Sanitizer and fuzz builds bring their own
# instrumentation and are left as they are.
if(NOT MIRTE_SANITIZE AND NOT MIRTE_FUZZ)
  add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security
                      $<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_link_options(-pie -Wl,-z,relro -Wl,-z,now)
endif()
