# Debian packages made by CPack from the install components:
#   libkcarlib1        the token library                  (component runtime)
#   libkcarlib-multi1  the multi-carrier library          (component multi_runtime)
#   libkcarlib-dev     headers, link names, pkg-config, CMake (component dev)
#   kcarlib-tools   nkitool, its manual page, nki-vtoken   (component tools)
# Built by scripts/package (configure with -DCMAKE_INSTALL_PREFIX=/usr, then cpack).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kcarlib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host library of the USB cryptographic token")
set(CPACK_PACKAGE_CONTACT "kcarlib maintainers <maintainers@kcarlib.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime multi_runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

# The library's own dependencies come from dpkg-shlibdeps; the packages that use
# it name it with the exact version built beside them.
set(_kcarlib_exact "libkcarlib1 (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkcarlib1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Host library of the USB cryptographic token\n The kcarlib shared library: the nki interface to the token through PC/SC (DSTU 4145-2002 signatures, GOST 28147-89 encryption and MAC, GOST 34.311-95 hashing, key agreement).")

set(CPACK_DEBIAN_MULTI_RUNTIME_PACKAGE_NAME libkcarlib-multi1)
set(CPACK_DEBIAN_MULTI_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_MULTI_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_MULTI_RUNTIME_DESCRIPTION
  "Multi-carrier host library of the USB cryptographic token\n The kcarlib-multi shared library: the same nki interface with integer contexts, serving key files, container cards and protected data cards besides the token.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkcarlib-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${_kcarlib_exact}, libkcarlib-multi1 (= ${PROJECT_VERSION}), libpcsclite-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Development files of the kcarlib libraries\n Headers with the API reference, the link names, kcarlib.pc and kcarlib-multi.pc for pkg-config and the CMake package (find_package(kcarlib), targets kcarlib::kcarlib and kcarlib::kcarlib-multi).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kcarlib-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${_kcarlib_exact}, libpcsclite1, libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "pcscd")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS "vsmartcard-vpcd")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "Command-line tool of the USB cryptographic token\n nkitool lists readers, manages the PIN, keys, certificates and the user file, signs and verifies files and hashes them. nki-vtoken is a simulated token served to pcscd through the vpcd virtual reader, for development without hardware.")

# Each package carries the license as its copyright file.
foreach(_pair "runtime;libkcarlib1" "multi_runtime;libkcarlib-multi1" "dev;libkcarlib-dev" "tools;kcarlib-tools")
  list(GET _pair 0 _component)
  list(GET _pair 1 _package)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package}
    RENAME copyright COMPONENT ${_component})
endforeach()

include(CPack)
