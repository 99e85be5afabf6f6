# The programs we ship carry the protection a distribution gives its own. On Linux: Debian's own
# hardening flags as dpkg-buildflags gives them, plus the stack-clash and control-flow flags that
# Debian's next release adds to that set. On Windows: what mingw-w64 provides, linked statically
# like the rest. The sanitizer build turns this off (the fuzz build never includes it): they bring
# flags of their own.
# The hardening test reads the compile commands.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
option(ZELVATORIM_HARDENING "Build with the platform's hardening flags" ON)
if(NOT ZELVATORIM_HARDENING)
  return()
endif()

if(WIN32)
  # _FORTIFY_SOURCE needs optimisation, and mingw-w64's checks live in libssp, which the
  # protector flag links in (statically, as the toolchain file links everything). C++ only: the
  # resource compiler takes neither.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fstack-protector-strong>
                      $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase LINKER:--nxcompat
                   LINKER:--tsaware)
  return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
# Optimisation and debug information stay the build type's; CMake reads CXXFLAGS and LDFLAGS from
# the environment but not CPPFLAGS, where _FORTIFY_SOURCE lives, so all three are asked for here.
# Run from the source folder, so that the file prefix map dpkg adds maps it to ".".
foreach(KIND CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS}
            --get ${KIND}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE FLAGS OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(FLAGS UNIX_COMMAND "${FLAGS}")
  list(FILTER FLAGS EXCLUDE REGEX "^-(g.*|O.*)$")
  list(JOIN FLAGS " " DEB_${KIND})
endforeach()
set(HARDENING_CXXFLAGS "${DEB_CPPFLAGS} ${DEB_CXXFLAGS} -fstack-clash-protection -fcf-protection")
# In front, so that flags the user gives still have the last word.
string(PREPEND CMAKE_CXX_FLAGS "${HARDENING_CXXFLAGS} ")
string(PREPEND CMAKE_EXE_LINKER_FLAGS "${DEB_LDFLAGS} ")
