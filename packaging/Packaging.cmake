# A Debian package of what cmake --install puts in place: vezorizer, vezorizer-cli and
# mc303-sim with their manual pages, vezorizer-cli's bash completion, README.TXT, the
# desktop entry with its icon and AppStream metadata, and the licence. Build it from a
# Release tree:
#   cmake --build build/release && (cd build/release && cpack)
# The test package.deb builds one and checks it with lintian (tests/package).

# The manual pages go in compressed as Debian wants them: gzip -9n, the best
# compression and neither the file's name nor a time stamp inside, so the same page
# always gives the same bytes. Without gzip (Windows) they go in as they are.
set(vzPackagingDir ${CMAKE_BINARY_DIR}/packaging)
find_program(VZ_GZIP gzip)
# vz_gzip(SOURCE OUT): OUT is SOURCE compressed, remade when SOURCE changes.
function(vz_gzip source out)
  get_filename_component(plain ${out} NAME_WLE)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${vzPackagingDir}/${plain}
    COMMAND ${VZ_GZIP} -9nf ${vzPackagingDir}/${plain}
    DEPENDS ${source} VERBATIM)
endfunction()

set(vzManPages vezorizer-cli)
if(TARGET vezorizer)
  list(APPEND vzManPages vezorizer)
endif()
if(TARGET mc303-sim)
  list(APPEND vzManPages mc303-sim)
endif()
set(vzCompressed)
foreach(page IN LISTS vzManPages)
  set(source ${PROJECT_SOURCE_DIR}/packaging/${page}.1)
  if(VZ_GZIP)
    vz_gzip(${source} ${vzPackagingDir}/${page}.1.gz)
    list(APPEND vzCompressed ${vzPackagingDir}/${page}.1.gz)
    install(FILES ${vzPackagingDir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
# The Debian changelog belongs in the package only (below).
if(VZ_GZIP)
  vz_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${vzPackagingDir}/changelog.Debian.gz)
  list(APPEND vzCompressed ${vzPackagingDir}/changelog.Debian.gz)
endif()
add_custom_target(vz_compressed_docs ALL DEPENDS ${vzCompressed})

install(FILES ${PROJECT_SOURCE_DIR}/packaging/vezorizer-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vezorizer-cli)
# The licence, as Debian's machine-readable copyright file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vezorizer)
if(TARGET vezorizer)
  # The desktop entry and the AppStream metadata are named after the component id.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.vezorizer.vezorizer.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.vezorizer.vezorizer.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/vezorizer.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# A stripped install (cpack, cmake --install --strip) also drops the compilers' version
# notes, as Debian's own stripping does.
if(CMAKE_OBJCOPY)
  foreach(program vezorizer vezorizer-cli mc303-sim)
    if(TARGET ${program})
      install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()")
    endif()
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vezorizer)
set(CPACK_PACKAGE_VENDOR "Vezorizer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "librarian for the Roland MC-303 Groovebox")
set(CPACK_PACKAGE_DESCRIPTION "Captures the MC-303's bulk dump over MIDI, checks every Roland checksum,
splits it into per-pattern .SYX files, combines files while refusing clashes
and sends them back in paced blocks that the device's receive buffer takes.
vezorizer is the window program, vezorizer-cli the scriptable front end and
mc303-sim a simulated MC-303 on a virtual MIDI port.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The package's own revision of the release, as the top entry of packaging/changelog
# names it: the package is vezorizer_VERSION-1_ARCH.deb.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vezorizer maintainers <maintainers@vezorizer.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries' packages (Qt 6, RtMidi, ...) come from dpkg-shlibdeps, run on the
# binaries as built, so the dependencies follow whatever the build machine links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A JACK server lets mc303-sim run where ALSA has no sequencer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")
# What only the package holds: the Debian changelog and lintian's overrides.
configure_file(${PROJECT_SOURCE_DIR}/packaging/DebianFiles.cmake.in ${vzPackagingDir}/DebianFiles.cmake @ONLY)
set(CPACK_INSTALL_SCRIPTS ${vzPackagingDir}/DebianFiles.cmake)
include(CPack)
