# Run by ctest: installs the build into a scratch prefix and checks that the programs, their
# manual pages, the menu entry, the icon, the AppStream metadata and the copyright and changelog
# files land where a Linux desktop and man(1) look for them.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DBINDIR=bin -DDATADIR=share -DMANDIR=share/man
#         -DDOCDIR=share/doc/tavolink -DICON_NAME=... -DMETAINFO=<id>.metainfo.xml -P check_install_layout.cmake

foreach(var BUILD_DIR PREFIX BINDIR DATADIR MANDIR DOCDIR ICON_NAME METAINFO)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} not given")
    endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    "${BINDIR}/tavolink"
    "${BINDIR}/boxsim"
    "${BINDIR}/tavolinkctl"
    "${DATADIR}/applications/tavolink.desktop"
    "${DATADIR}/icons/hicolor/scalable/apps/${ICON_NAME}.svg"
    "${DATADIR}/metainfo/${METAINFO}"
    "${MANDIR}/man1/tavolink.1.gz"
    "${MANDIR}/man1/boxsim.1.gz"
    "${MANDIR}/man1/tavolinkctl.1.gz"
    "${DOCDIR}/copyright"
    "${DOCDIR}/changelog.gz")
set(missing "")
foreach(file IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${file}")
        list(APPEND missing "${file}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "missing under ${PREFIX}: ${missing}")
endif()

foreach(program tavolink boxsim tavolinkctl)
    execute_process(COMMAND test -x "${PREFIX}/${BINDIR}/${program}" RESULT_VARIABLE not_executable)
    if(not_executable)
        message(FATAL_ERROR "${BINDIR}/${program} is not executable")
    endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "install layout ok: ${expected}")
