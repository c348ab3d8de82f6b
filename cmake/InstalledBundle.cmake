# Runs at install time, after the plug-in bundle is in place. Its binaries are copies made in the
# build, still pointing into the build folder for the drawing layer: installed, they find it
# beside themselves. Stripped when the installer asks (CPack does).
set(bundle "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${installed_bundle}")
file(GLOB binaries "${bundle}/*.so")
foreach(binary IN LISTS binaries)
    unset(rpath) # READ_ELF leaves them alone when the file has none
    unset(runpath)
    file(READ_ELF "${binary}" RPATH rpath RUNPATH runpath)
    if(rpath OR runpath)
        file(RPATH_SET FILE "${binary}" NEW_RPATH "$ORIGIN")
    endif()
endforeach()
if(CMAKE_INSTALL_DO_STRIP AND binaries)
    execute_process(COMMAND "${strip_program}" --strip-unneeded ${binaries}
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
