# A Debian package of what cmake --install puts in place: vezorizer, vezorizer-cli with
# its manual page and bash completion, mc303-sim, README.TXT, the desktop entry and its
# icon. Build it from a Release tree:
#   cmake --build build/release && (cd build/release && cpack)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vezorizer)
set(CPACK_PACKAGE_VENDOR "Vezorizer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "librarian for the Roland MC-303 Groovebox")
set(CPACK_PACKAGE_DESCRIPTION "Captures the MC-303's bulk dump over MIDI, checks every Roland checksum,
splits it into per-pattern .SYX files, combines files while refusing clashes
and sends them back in paced blocks that the device's receive buffer takes.
vezorizer is the window program, vezorizer-cli the scriptable front end and
mc303-sim a simulated MC-303 on a virtual MIDI port.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vezorizer maintainers <maintainers@vezorizer.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries' packages (Qt 6, RtMidi, ...) come from dpkg-shlibdeps, run on the
# binaries as built, so the dependencies follow whatever the build machine links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A JACK server lets mc303-sim run where ALSA has no sequencer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")
include(CPack)
