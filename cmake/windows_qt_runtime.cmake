# What a Windows Qt program needs beside it to start on a PC with nothing installed: the Qt DLLs,
# the Windows platform plugin, the Windows style plugin, and the MinGW runtime DLLs Qt's DLLs use
# (the program itself links its runtime in statically).

# The plugins, each with the folder Qt looks for it in beside the program.
set(VELTRIX_QT_PLUGIN_FOLDERS platforms styles)
set(VELTRIX_QT_PLUGINS Qt6::QWindowsIntegrationPlugin Qt6::QWindowsVistaStylePlugin)

# The MinGW runtime DLLs, where the compiler keeps them.
set(VELTRIX_MINGW_RUNTIME_DLLS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The MinGW runtime DLL ${dll} was not found (${path})")
    endif()
    list(APPEND VELTRIX_MINGW_RUNTIME_DLLS ${path})
endforeach()

# veltrix_windows_qt_runtime(<target> <Qt module>...): after each build of <target>, the DLLs of
# the modules, the plugins and the runtime DLLs are copied beside its program (so it runs from
# the build folder under Wine).
function(veltrix_windows_qt_runtime target)
    set(dlls ${VELTRIX_MINGW_RUNTIME_DLLS})
    foreach(module ${ARGN})
        list(APPEND dlls $<TARGET_FILE:Qt6::${module}>)
    endforeach()
    set(dir $<TARGET_FILE_DIR:${target}>)
    set(copies COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dlls} ${dir})
    foreach(folder plugin IN ZIP_LISTS VELTRIX_QT_PLUGIN_FOLDERS VELTRIX_QT_PLUGINS)
        list(APPEND copies COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/${folder}
             COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${plugin}> ${dir}/${folder})
    endforeach()
    add_custom_command(TARGET ${target} POST_BUILD ${copies} VERBATIM)
endfunction()

# veltrix_install_windows_qt_runtime(<destination>): the same files into the package.
function(veltrix_install_windows_qt_runtime destination)
    install(FILES ${VELTRIX_MINGW_RUNTIME_DLLS} $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui>
                  $<TARGET_FILE:Qt6::Widgets> DESTINATION ${destination})
    foreach(folder plugin IN ZIP_LISTS VELTRIX_QT_PLUGIN_FOLDERS VELTRIX_QT_PLUGINS)
        install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${destination}/${folder})
    endforeach()
endfunction()
