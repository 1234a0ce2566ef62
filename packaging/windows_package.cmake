# The Windows package: a ZIP (cpack in the build folder) holding veltrix-cli.exe, a README for
# Windows (drivers, COM numbers) and the licence notices of what the program links in statically.
install(TARGETS veltrix-cli RUNTIME DESTINATION .)
install(FILES README-windows.txt DESTINATION . RENAME README.txt)
# scripts/windows_setup.sh gathers them beside the Windows builds of the libraries.
if(VELTRIX_MINGW_PREFIX AND EXISTS ${VELTRIX_MINGW_PREFIX}/share/veltrix-notices)
    install(DIRECTORY ${VELTRIX_MINGW_PREFIX}/share/veltrix-notices/ DESTINATION notices)
else()
    message(WARNING "No licence notices for the Windows package (run scripts/windows_setup.sh)")
endif()

set(CPACK_PACKAGE_NAME veltrix-cli)
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench tool for testing and repairing handset main boards")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME veltrix-cli-${PROJECT_VERSION}-win64)
include(CPack)
