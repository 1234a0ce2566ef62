# The Windows package: a ZIP (cpack in the build folder) holding veltrix.exe (the window) with the
# Qt and MinGW runtime DLLs and plugins it needs, veltrix-cli.exe, a README for Windows (drivers,
# COM numbers) and the licence notices of what the programs link and ship.
install(TARGETS veltrix-cli RUNTIME DESTINATION .)
set(VELTRIX_ZIP_NAME veltrix-cli)
if(VELTRIX_BUILD_GUI)
    install(TARGETS veltrix RUNTIME DESTINATION .)
    veltrix_install_windows_qt_runtime(.)
    set(VELTRIX_ZIP_NAME veltrix)
endif()
install(FILES README-windows.txt DESTINATION . RENAME README.txt)
# scripts/windows_setup.sh gathers them beside the Windows builds of the libraries.
if(VELTRIX_MINGW_PREFIX AND EXISTS ${VELTRIX_MINGW_PREFIX}/share/veltrix-notices)
    install(DIRECTORY ${VELTRIX_MINGW_PREFIX}/share/veltrix-notices/ DESTINATION notices)
else()
    message(WARNING "No licence notices for the Windows package (run scripts/windows_setup.sh)")
endif()

set(CPACK_PACKAGE_NAME ${VELTRIX_ZIP_NAME})
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench tool for testing and repairing handset main boards")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME ${VELTRIX_ZIP_NAME}-${PROJECT_VERSION}-win64)
include(CPack)
