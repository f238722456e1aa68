# Installing and packaging. `cmake --install` lays the program out under a
# prefix as a Debian program is laid out:
#   lib/<program>/          the program folder: the tool, its picture library,
#                           the firmware page's layouts (Skin/)
#   bin/                    the tool (a link into its folder), radar-cli,
#                           radar-emulator
#   share/applications, share/icons/hicolor, share/metainfo, share/man/man1,
#   share/doc/<package>     desktop entry, icons, AppStream data, manuals,
#                           copyright and changelog
# CPack turns the same layout into a .deb (scripts/package.sh).
include(GNUInstallDirs)

set(KVEL_PACKAGE_NAME kvel-zorvirq05-sb03tool)
set(KVEL_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${KVEL_PACKAGE_NAME})
# Debian's libdir carries no multiarch triplet for a program's private folder.
set(KVEL_INSTALL_PROGRAM_DIR lib/${PROJECT_NAME})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The tool finds its picture library beside itself, wherever the folder is.
set_target_properties(KVEL_ZorviRQ05_SB03Tool PROPERTIES INSTALL_RPATH "\$ORIGIN")
install(TARGETS KVEL_ZorviRQ05_SB03Tool RUNTIME DESTINATION ${KVEL_INSTALL_PROGRAM_DIR})
install(TARGETS kvel_picture LIBRARY DESTINATION ${KVEL_INSTALL_PROGRAM_DIR} NAMELINK_SKIP)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/Skin DESTINATION ${KVEL_INSTALL_PROGRAM_DIR})
install(TARGETS radar-cli radar-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program folder is where the tool is started from (/proc/self/exe
# follows the link), so bin/ holds a relative link to it.
file(RELATIVE_PATH KVEL_TOOL_LINK_TARGET /${CMAKE_INSTALL_BINDIR}
     /${KVEL_INSTALL_PROGRAM_DIR}/${PROJECT_NAME})
install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${bin}\")
    file(CREATE_LINK \"${KVEL_TOOL_LINK_TARGET}\" \"\${bin}/${PROJECT_NAME}\" SYMBOLIC)
")

install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/${PROJECT_NAME}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/${PROJECT_NAME}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The icons are the program's own picture (resources/images/128.png) scaled
# to the usual sizes.
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/${PROJECT_NAME}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manuals and the changelog are installed compressed, as Debian wants them:
# gzip -9n, so that the same input gives the same bytes.
find_program(KVEL_GZIP gzip REQUIRED)
find_program(KVEL_HELP2MAN help2man)
if(KVEL_HELP2MAN)
    set(KVEL_MAN_PAGES)
    set(KVEL_MAN_NAME_KVEL_ZorviRQ05_SB03Tool "configure and evaluate a radar presence-sensor module")
    set(KVEL_MAN_NAME_radar-cli "radar presence-sensor module from the command line")
    set(KVEL_MAN_NAME_radar-emulator "an emulated radar presence-sensor module on a virtual serial port")
    foreach(program KVEL_ZorviRQ05_SB03Tool radar-cli radar-emulator)
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${KVEL_HELP2MAN} --no-info --no-discard-stderr
                    --name=${KVEL_MAN_NAME_${program}} --output=${CMAKE_BINARY_DIR}/man/${program}.1
                    $<TARGET_FILE:${program}>
            COMMAND ${KVEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${program}.1
            DEPENDS ${program}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND KVEL_MAN_PAGES ${page})
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${KVEL_MAN_PAGES})
    install(FILES ${KVEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(WARNING "help2man not found: no manual pages (scripts/setup.sh installs it)")
endif()

# The changelog's entry takes the package's name and version from here.
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
set(KVEL_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${KVEL_CHANGELOG}
    COMMAND ${KVEL_GZIP} -9nc ${CMAKE_BINARY_DIR}/changelog > ${KVEL_CHANGELOG}
    DEPENDS ${CMAKE_BINARY_DIR}/changelog)
add_custom_target(package_changelog ALL DEPENDS ${KVEL_CHANGELOG})
install(FILES ${KVEL_CHANGELOG} ${CMAKE_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${KVEL_INSTALL_DOC_DIR})

# The .deb: its Qt, pugixml and giflib dependencies come from the libraries
# the programs link (dpkg-shlibdeps); what is loaded at run time is named.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KVEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVEL tool maintainers <maintainers@kvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and evaluation tool for a radar presence sensor")
# The long description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop tool for a radar presence-sensor module on a serial port: connect
and identify the module, read and write its detection parameters and keep
them in XML files, watch its live reports, record and replay them, and
update its firmware. radar-cli does the same from the command line, and
radar-emulator stands in for the module on a virtual serial port.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
# The window system plugin, TIFF writing, Qt's own texts in Chinese and a
# face for Chinese text are loaded at run time, not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-wqy-microhei")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
