# What every program of the project shares: the version text it prints for --version and
# where it finds its helper programs once installed.
include(GNUInstallDirs)

# The helpers that users do not start themselves (importdlg-clipboard, picconv-metafiles)
# are installed in a folder of their own below libexec; the programs find it relative to
# their own folder, so that an installation works under any prefix.
set(IMPORTDLG_HELPER_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR}/importdlg)
file(RELATIVE_PATH IMPORTDLG_HELPER_DIR_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBEXECDIR}/importdlg)

# The version text is written at every build, but its file changes (and recompiles, and
# relinks the programs) only when the git description does.
set(version_source ${CMAKE_CURRENT_BINARY_DIR}/program/version.cpp)
add_custom_target(version_text
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
          -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/src/program/version.cpp.in -DOUTPUT=${version_source}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/version.cmake
  BYPRODUCTS ${version_source}
  COMMENT "Checking the version text"
  VERBATIM)
add_library(program_info STATIC src/program/helper_programs.cpp ${version_source})
add_dependencies(program_info version_text)
target_include_directories(program_info PUBLIC src)
target_compile_definitions(program_info PRIVATE
  IMPORTDLG_HELPER_DIR="${IMPORTDLG_HELPER_DIR_FROM_BINDIR}")
