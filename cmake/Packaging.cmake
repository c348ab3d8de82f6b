# The release packages, made with CPack from a finished build (scripts/package makes both):
#   - Linux: a Debian package with the plug-in bundle in /usr/lib/lv2, wavepreview in /usr/bin
#     with its man page, and the README, copyright and changelog in /usr/share/doc/PACKAGE;
#   - Windows: a zip of Module.dll with a note on where it goes, the licence and the changes.
# The targets' own install rules sit beside them; this file adds the documents and the settings.
set(CPACK_PACKAGE_NAME strip-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Strip Viewer developers")
set(CPACK_PACKAGE_CONTACT "Strip Viewer maintainers <maintainers@strip-viewer.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "waveform display plug-in (LV2) and preview command")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Whatever the packager's umask: directories as Debian wants them.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(CPACK_SYSTEM_NAME win32)
    else()
        set(CPACK_SYSTEM_NAME win64)
    endif()
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
    configure_file(${packaging_dir}/windows-install.txt ${PROJECT_BINARY_DIR}/packaging/INSTALL.txt
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/INSTALL.txt ${PROJECT_SOURCE_DIR}/LICENSE
                  ${PROJECT_SOURCE_DIR}/CHANGELOG.md
            DESTINATION . COMPONENT dll)
    include(CPack)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The bundle's own libraries (the module, the drawing layer) need no package of their own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${STRIP_VIEWER_BUNDLE_DIR})
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian's description: the summary above, then this.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Shows one audio signal as a waveform: synced or free-running snapshots of
800 samples, or a scrolling envelope of 1 to 200 ms periods, drawn as lines
or as a shaded fill, with or without smoothing, in colours of one's choice.

This package holds the display as an LV2 plug-in with its own view, for
Linux audio hosts, and wavepreview, a command that plays a sound file through
the display and writes what it shows as PNG pictures or a video.")

set(doc_dir share/doc/${CPACK_PACKAGE_NAME})
set(staged ${PROJECT_BINARY_DIR}/packaging)

# The copyright file in Debian's machine-readable form, the licence text from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX REPLACE "^MIT License\n\n(Copyright [^\n]*)\n\n" "" licence_text "${licence}")
string(REGEX MATCH "Copyright [^\n]*" copyright_line "${licence}")
string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" copyright_holder "${copyright_line}")
string(REGEX REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REGEX REPLACE "\n$" "" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text " ${licence_text}")
file(WRITE ${staged}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${CPACK_PACKAGE_NAME}\n\n"
     "Files: *\n"
     "Copyright: ${copyright_holder}\n"
     "License: Expat\n${licence_text}\n")

# The changelog and the man page, compressed as Debian wants them (no name or time stamp in the
# gzip header, so the same sources give the same package).
configure_file(${packaging_dir}/changelog.Debian.in ${staged}/changelog @ONLY)
configure_file(${packaging_dir}/wavepreview.1 ${staged}/wavepreview.1 @ONLY)
set(compressed ${staged}/changelog.gz ${staged}/wavepreview.1.gz)
add_custom_command(
    OUTPUT ${compressed}
    COMMAND gzip -9 -n -f -k ${staged}/changelog ${staged}/wavepreview.1
    DEPENDS ${staged}/changelog ${staged}/wavepreview.1
    VERBATIM)
add_custom_target(package_documents ALL DEPENDS ${compressed})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${staged}/copyright ${staged}/changelog.gz
        DESTINATION ${doc_dir} COMPONENT preview)
install(FILES ${staged}/wavepreview.1.gz DESTINATION share/man/man1 COMPONENT preview)

# The bundle's binaries are copies made in the build, still pointing into the build folder for
# the drawing layer: installed, they find it beside themselves. Stripped when the packager asks
# (CPack does).
get_filename_component(bundle_name ${STRIP_VIEWER_BUNDLE_DIR} NAME)
install(CODE "set(installed_bundle lib/lv2/${bundle_name})
              set(strip_program \"${CMAKE_STRIP}\")" COMPONENT lv2)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstalledBundle.cmake COMPONENT lv2)

set(CPACK_STRIP_FILES ON)
include(CPack)
