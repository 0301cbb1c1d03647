# The installed data library, the install rules, the CMake package, the
# pkg-config file, the manual pages and the packages (a Debian package on
# Linux, a zip on Windows). Included from the top CMakeLists.txt after every
# folder, so all targets exist here.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ---- The data library: one static library of every library folder ------------
get_property(spinmap_library_objects GLOBAL PROPERTY SPINMAP_LIBRARY_OBJECTS)
set(spinmap_library_sources "")
foreach(objects IN LISTS spinmap_library_objects)
  list(APPEND spinmap_library_sources $<TARGET_OBJECTS:${objects}>)
endforeach()
# The target is spinmap_library because "spinmap" is the program; users see
# libspinmap.a and the imported target Spinmap::spinmap.
add_library(spinmap_library STATIC ${spinmap_library_sources})
set_target_properties(spinmap_library PROPERTIES OUTPUT_NAME spinmap EXPORT_NAME spinmap)
target_compile_features(spinmap_library PUBLIC cxx_std_20)
target_include_directories(spinmap_library PUBLIC
  $<BUILD_INTERFACE:${SPINMAP_INCLUDE_DIR}>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# The headers a user includes, as the sources do (<spinmap/matrix/matrix.h>),
# with every header they include in turn. The folders' other headers are
# internal to them.
set(SPINMAP_PUBLIC_HEADERS
  errors/errors.h
  errors/error_codes.def
  matrix/matrix.h
  platform/platform.h
  datafile/datafile.h
  transform/transform.h
  run/run.h)

# ---- Where things go -------------------------------------------------------
# Windows users unzip one folder and run the programs from it, so programs and
# documents stand at its top; elsewhere the usual tree.
if(WIN32)
  set(SPINMAP_PROGRAM_DIR .)
  set(SPINMAP_DOCUMENT_DIR .)
else()
  set(SPINMAP_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
  set(SPINMAP_DOCUMENT_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/spinmap)
endif()
set(SPINMAP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Spinmap)

# ---- Programs ---------------------------------------------------------------
install(TARGETS ${SPINMAP_PROGRAMS} RUNTIME DESTINATION ${SPINMAP_PROGRAM_DIR} COMPONENT programs)
# The check of the packages (tools/check-package.sh) reads the list here.
list(JOIN SPINMAP_PROGRAMS "\n" spinmap_program_lines)
file(WRITE ${PROJECT_BINARY_DIR}/programs.txt "${spinmap_program_lines}\n")

# ---- Library, headers, CMake package, pkg-config ------------------------------
install(TARGETS spinmap_library EXPORT SpinmapTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
foreach(header IN LISTS SPINMAP_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/spinmap/${folder} COMPONENT development)
endforeach()

install(EXPORT SpinmapTargets NAMESPACE Spinmap:: DESTINATION ${SPINMAP_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/SpinmapConfig.cmake.in ${PROJECT_BINARY_DIR}/SpinmapConfig.cmake
  INSTALL_DESTINATION ${SPINMAP_CMAKE_DIR})
# 2.x releases keep the library's calls; a new major version may change them.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SpinmapConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SpinmapConfig.cmake ${PROJECT_BINARY_DIR}/SpinmapConfigVersion.cmake
  DESTINATION ${SPINMAP_CMAKE_DIR} COMPONENT development)

# The pkg-config file names the prefix the tree is installed under, as given
# at install time (make install PREFIX=..., cmake --install --prefix, the
# Debian package's /usr), so that its flags are plain: -I/usr/include. All
# else in it is known now; the prefix is filled in by the install.
function(spinmap_pkgconfig_template)
  set(CMAKE_INSTALL_PREFIX "@CMAKE_INSTALL_PREFIX@")  # left for the install to fill in
  configure_file(cmake/spinmap.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/spinmap.pc.in @ONLY)
endfunction()
spinmap_pkgconfig_template()
install(CODE "
  configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/spinmap.pc.in\" \"${PROJECT_BINARY_DIR}/pkgconfig/spinmap.pc\" @ONLY)
  file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/spinmap.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
  COMPONENT development)

# ---- Manual pages and documents ----------------------------------------------
# Documents made at build time: COMMAND reads INPUT from standard input and
# writes OUTPUT to standard output.
set(spinmap_made_documents "")
function(spinmap_make_document input output command)
  add_custom_command(OUTPUT ${output} COMMAND sh -c "${command} <\"$1\" >\"$2\"" sh ${input} ${output}
    DEPENDS ${input} VERBATIM)
  set(spinmap_made_documents ${spinmap_made_documents} ${output} PARENT_SCOPE)
endfunction()

# The manual pages: compressed as Debian has them, or as HTML in the Windows
# folder. Each page begins with doc/page-setup.roff; the HTML pages are the
# Windows forms of the pages (the register windows set).
if(WIN32)
  find_program(SPINMAP_GROFF groff REQUIRED)
endif()
file(READ doc/page-setup.roff SPINMAP_PAGE_SETUP)
string(STRIP "${SPINMAP_PAGE_SETUP}" SPINMAP_PAGE_SETUP)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/page-setup.roff)
foreach(program IN LISTS SPINMAP_PROGRAMS)
  set(page ${PROJECT_BINARY_DIR}/doc/${program}.1)
  configure_file(doc/${program}.1.in ${page} @ONLY)
  if(WIN32)
    spinmap_make_document(${page} ${PROJECT_BINARY_DIR}/doc/${program}.html "${SPINMAP_GROFF} -man -rwindows=1 -Thtml")
  else()
    spinmap_make_document(${page} ${page}.gz "gzip -9n")
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endif()
endforeach()

if(WIN32)
  # Beside the pages: a README for the users of the programs, the licence and
  # the README's pictures, with Windows line ends.
  configure_file(doc/README.txt ${PROJECT_BINARY_DIR}/doc/README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${PROJECT_BINARY_DIR}/doc/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${spinmap_made_documents} ${PROJECT_BINARY_DIR}/doc/README.txt ${PROJECT_BINARY_DIR}/doc/LICENSE.txt
                docs/compare.png docs/large.png
    DESTINATION ${SPINMAP_DOCUMENT_DIR} COMPONENT programs)
else()
  # The changelog compressed, the licence in each package's doc folder as
  # "copyright", and the README's pictures where its links point.
  spinmap_make_document(${PROJECT_SOURCE_DIR}/doc/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz "gzip -9n")
  install(FILES README.md doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
    DESTINATION ${SPINMAP_DOCUMENT_DIR} COMPONENT programs)
  install(FILES docs/compare.png docs/large.png DESTINATION ${SPINMAP_DOCUMENT_DIR}/docs COMPONENT programs)
  install(FILES doc/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libspinmap-dev COMPONENT development)
endif()
add_custom_target(spinmap_documents ALL DEPENDS ${spinmap_made_documents})

# ---- Packages (make package) -------------------------------------------------
set(CPACK_PACKAGE_NAME spinmap)
set(CPACK_PACKAGE_VENDOR "The Spinmap developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(SPINMAP_MAINTAINER "The Spinmap developers <spinmap@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

if(WIN32)
  # spinmap-<version>-win64.zip: the programs and their documents.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rotates the height data of interferometer measurement data files")
  set(CPACK_PACKAGE_FILE_NAME spinmap-${PROJECT_VERSION}-win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL programs)
  # The zip unpacks into one folder of that name.
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # Two packages, spinmap_<version>_<architecture>.deb with the programs and
  # libspinmap-dev_<version>_<architecture>.deb with the data library. The
  # library is static, so neither needs the other. The libraries the
  # programs need (libpng for the viewer, libtiff for the exporter) are
  # found by dpkg-shlibdeps.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs development)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SPINMAP_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME spinmap)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libspinmap-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  # The first line of each description is its package's synopsis (with no
  # CPACK_PACKAGE_DESCRIPTION_SUMMARY, CPack adds none of its own).
  string(CONCAT spinmap_about
    "Spinmap reads one binary measurement data file written by interferometer\n"
    "measurement software, rotates its height data by an angle about a pivot,\n"
    "rotates the fiducials in its header by the same motion, keeps the\n"
    "intensity data and writes the result. Rotations by multiples of 90\n"
    "degrees about whole or half pixels only move values; others interpolate.\n"
    "\n")
  string(CONCAT CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "rotates the height data of interferometer measurement data files\n"
    "${spinmap_about}"
    "This package holds the programs spinmap, spinmap-view (PNG pictures of\n"
    "the height data), spinmap-info (what a data file holds, and how a\n"
    "rotation would treat it), spinmap-export (the heights as .x3p, TIFF or\n"
    "text files for other software) and spinmap-sample (a generator of\n"
    "synthetic data files) with their manual pages.")
  string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "data library for interferometer measurement data files\n"
    "${spinmap_about}"
    "This package holds the static data library libspinmap.a that reads and\n"
    "writes the data files and rotates their height data, with its headers,\n"
    "CMake package (find_package(Spinmap)) and pkg-config file.")
  # python3-spinmap_<version>_<architecture>.deb: the Python module, built
  # for one Python version (python/CMakeLists.txt).
  if(SPINMAP_PYTHON_MODULE)
    list(APPEND CPACK_COMPONENTS_ALL python)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-spinmap)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${SPINMAP_PYTHON_DEPENDS}")
    string(CONCAT CPACK_DEBIAN_PYTHON_DESCRIPTION
      "Python module for interferometer measurement data files\n"
      "${spinmap_about}"
      "This package holds the Python 3 module spinmap, which reads the data\n"
      "files into NumPy arrays (header fields, heights with their validity and\n"
      "nanometre scale, intensity frames, fiducials) and writes them back.")
  endif()
endif()
include(CPack)
