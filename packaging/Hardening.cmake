# Debian's hardening flags on every target of the project: stack protector,
# format-string checks, fortified libc calls, relocations read-only and bound
# at start. They come from dpkg-buildflags (hardening=+all) where it is
# installed, so they follow Debian's own choice; otherwise Debian 12's set.
# Sanitizer builds go without them, and Debug builds without fortified calls,
# which need an optimising build.
option(QUORLINK_HARDENING "Build with Debian's hardening flags" ON)
if(NOT QUORLINK_HARDENING OR NOT QUORLINK_SANITIZE STREQUAL "")
  return()
endif()

find_program(DPKG_BUILDFLAGS_PROGRAM dpkg-buildflags)
if(DPKG_BUILDFLAGS_PROGRAM)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS_PROGRAM} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    # Debugging, optimisation and paths stay with the build type.
    list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
    set(hardening_${kind} ${flags})
  endforeach()
else()
  set(hardening_CPPFLAGS -Wdate-time -D_FORTIFY_SOURCE=2)
  set(hardening_CXXFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
  set(hardening_LDFLAGS -Wl,-z,relro -Wl,-z,now)
endif()

target_compile_options(quorlink_options INTERFACE ${hardening_CXXFLAGS} "$<$<NOT:$<CONFIG:Debug>>:${hardening_CPPFLAGS}>")
target_link_options(quorlink_options INTERFACE ${hardening_LDFLAGS})
