# Read by cpack before it makes a package. Without dpkg-shlibdeps (dpkg-dev)
# and file the Debian package would name none of the libraries its programs
# link to, and install on a clean system without them; so stop instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  cmake_policy(PUSH)
  cmake_policy(SET CMP0109 NEW)  # found means executable
  find_program(QUORLINK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(QUORLINK_FILE file)
  cmake_policy(POP)
  if(NOT QUORLINK_DPKG_SHLIBDEPS OR NOT QUORLINK_FILE)
    message(FATAL_ERROR "The Debian package needs dpkg-shlibdeps and file to name its dependencies: "
                        "install dpkg-dev and file (as root: tools/install-deps.sh package).")
  endif()
endif()
