# Installing and packaging. `cmake --install` puts the programs in bin/ and, on Linux,
# the desktop entry, the icons (drawn by the window's own code), the man pages (made
# from the programs' --help) and the copyright and changelog where Debian wants them;
# on Windows the licence goes beside the programs. `cpack` then makes a .deb on Linux,
# and a 64-bit NSIS installer and a zip from the Windows cross-build.
set(CPACK_PACKAGE_NAME orvante)
set(CPACK_PACKAGE_VENDOR "the Orvante authors")
set(CPACK_PACKAGE_CONTACT "the Orvante authors <orvante@users.noreply.github.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for an infrared learning and transmitting module")
set(CPACK_PACKAGE_DESCRIPTION
    "Orvante connects to an infrared learning and transmitting module on a\n"
    "serial port. It learns remote-control codes into numbered slots and sends\n"
    "them again, sends air-conditioner codes from the module's own library, reads\n"
    "and sets the pulse capacity and the three timed send tasks, and copies the\n"
    "module's code library to and from a .db file. Every frame goes to a\n"
    "time-stamped log. The package has the console window (orvante), the same\n"
    "functions for scripts (orvante-cli), a virtual module to try them without\n"
    "hardware (orvante-sim), and a bridge that offers one module on an MQTT broker\n"
    "with Home Assistant discovery (orvante-bridge).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Orvante)

if(WIN32)
    install(TARGETS orvante orvante-cli RUNTIME DESTINATION bin)
    install(FILES LICENSE DESTINATION bin RENAME LICENSE.txt)
    set(CPACK_GENERATOR NSIS ZIP)
    set(CPACK_PACKAGE_FILE_NAME orvante-${PROJECT_VERSION}-win64)
    # CMake's template names no target, and makensis then makes a 32-bit installer.
    set(CPACK_NSIS_DEFINES "Target amd64-unicode")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_NSIS_PACKAGE_NAME Orvante)
    set(CPACK_NSIS_DISPLAY_NAME "Orvante ${PROJECT_VERSION}")
    set(CPACK_NSIS_MUI_ICON ${ORVANTE_ICON_DIR}/orvante.ico)
    set(CPACK_NSIS_MUI_UNIICON ${ORVANTE_ICON_DIR}/orvante.ico)
    set(CPACK_NSIS_INSTALLED_ICON_NAME bin\\\\orvante.exe)
    # The installer offers to put bin\ (orvante-cli.exe) on the PATH, on a page of its
    # own (packaging/nsis/NSIS.InstallOptions.ini.in). CMake's page would also offer a
    # desktop icon; ours does not: the Start menu already holds both ways to start the
    # console, and a silent install (/S) never ticks the box, so it would be a choice
    # most installs never see.
    set(CPACK_NSIS_MODIFY_PATH ON)
    # The console in the Start menu, and beside it the console with its built-in virtual
    # module. The script is UTF-8 (CMake's template starts with a byte-order mark, and
    # makensis is told so besides) and the installer a Unicode one, so the shortcut keeps
    # its Chinese name.
    set(CPACK_PACKAGE_EXECUTABLES orvante Orvante)
    set(demo_shortcut "Orvante（虚拟模块）.lnk")
    set(CPACK_NSIS_CREATE_ICONS_EXTRA
        "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\${demo_shortcut}' '$INSTDIR\\\\bin\\\\orvante.exe' --demo")
    set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\${demo_shortcut}'")
    set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS INPUTCHARSET UTF8)
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

    # CMake's installer script loads every language NSIS has and shows each user its
    # pages in theirs, but the options page and the script's own messages are English
    # only. This installer is English throughout: the script is CMake's own with the
    # other languages left out, written where cpack looks for templates first.
    set(nsis_templates ${PROJECT_BINARY_DIR}/nsis)
    file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in nsis_script)
    string(REGEX MATCHALL "!insertmacro MUI_LANGUAGE \"[A-Za-z]+\"" languages "${nsis_script}")
    list(REMOVE_ITEM languages "!insertmacro MUI_LANGUAGE \"English\"")
    foreach(language IN LISTS languages)
        string(REPLACE "${language}\n" "" nsis_script "${nsis_script}")
    endforeach()
    string(REGEX MATCHALL "MUI_LANGUAGE \"[A-Za-z]+\"" languages "${nsis_script}")
    if(NOT languages STREQUAL "MUI_LANGUAGE \"English\"")
        message(FATAL_ERROR "CMake's NSIS script is not English alone once trimmed: ${languages}")
    endif()
    file(WRITE ${nsis_templates}/NSIS.template.in "${nsis_script}")
    set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/nsis ${nsis_templates})
    include(CPack)
    return()
endif()

include(GNUInstallDirs)
set(packaged_programs orvante-cli orvante-sim orvante-bridge)
if(ORVANTE_WITH_QT)
    list(PREPEND packaged_programs orvante)
endif()
install(TARGETS ${packaged_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages, from each program's --help (help2man keeps the Chinese texts in a UTF-8
# locale; the NAME lines come from packaging/man/).
find_program(HELP2MAN help2man REQUIRED)
set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_pages "")
# orvante-cli's page also lists every command with its arguments, from its own help.
set(cli_commands_section ${man_dir}/orvante-cli-commands.h2m)
add_custom_command(OUTPUT ${cli_commands_section}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/man/commands_section.sh $<TARGET_FILE:orvante-cli>
        ${cli_commands_section}
    DEPENDS orvante-cli ${PROJECT_SOURCE_DIR}/packaging/man/commands_section.sh
    VERBATIM)
foreach(program IN LISTS packaged_programs)
    set(page ${man_dir}/${program}.1.gz)
    set(include_files ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
    if(program STREQUAL orvante-cli)
        list(APPEND include_files ${cli_commands_section})
    endif()
    list(TRANSFORM include_files PREPEND --include= OUTPUT_VARIABLE includes)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
        COMMAND ${HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr ${includes}
            --output=${man_dir}/${program}.1 $<TARGET_FILE:${program}>
        COMMAND gzip -9nf ${man_dir}/${program}.1
        DEPENDS ${program} ${include_files}
        COMMENT "Man page of ${program}"
        VERBATIM)
    list(APPEND man_pages ${page})
endforeach()
add_custom_target(orvante-man-pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The bridge: a systemd unit with one instance a module (/etc/orvante/<name>.json, not
# enabled) and a sample configuration.
install(FILES packaging/bridge/orvante-bridge@.service DESTINATION lib/systemd/system)
install(FILES packaging/bridge/bridge.json DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvante/examples)

# Where bash looks for a command's completion when it is first completed.
install(FILES packaging/orvante-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME orvante-cli)

# Debian's place for the licence and the changelog (no CPack variable installs them).
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(orvante-changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvante)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvante RENAME copyright)

if(ORVANTE_WITH_QT)
    # The menu entry and its icon, in the sizes desktops look for.
    install(FILES packaging/orvante.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    set(icon_dir ${PROJECT_BINARY_DIR}/icons)
    set(icon_sizes 16 24 32 48 64 128 256)
    set(icon_files "")
    foreach(size IN LISTS icon_sizes)
        list(APPEND icon_files ${icon_dir}/orvante-${size}.png)
    endforeach()
    add_custom_command(OUTPUT ${icon_files}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}
        COMMAND orvante-render-icons ${icon_dir}
        DEPENDS orvante-render-icons
        COMMENT "The application's icons")
    add_custom_target(orvante-icons ALL DEPENDS ${icon_files})
    foreach(size IN LISTS icon_sizes)
        install(FILES ${icon_dir}/orvante-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME orvante.png)
    endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; what the window loads at run
# time besides: a font with Chinese characters, and Qt's Chinese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
