# The Windows installer: quietwire-<version>-win64.exe, made by CPack's NSIS generator (makensis).
#   cpack --config build/windows/CPackConfig.cmake -B <folder>
# The program's own steps (ending a running copy, the service, keeping the settings) are in
# PackageNsis.nsh beside this file.

install(TARGETS quietwire quietwiretray RUNTIME DESTINATION .)
if(TARGET quietwirectl)
    install(TARGETS quietwirectl RUNTIME DESTINATION .)
endif()
# The readme with Windows line ends, so that every Notepad shows its lines.
file(READ ${PROJECT_SOURCE_DIR}/resources/readme.txt QW_README)
string(REPLACE "\n" "\r\n" QW_README "${QW_README}")
file(WRITE ${CMAKE_BINARY_DIR}/package/readme.txt "${QW_README}")
install(FILES ${CMAKE_BINARY_DIR}/package/readme.txt DESTINATION .)

set(CPACK_GENERATOR NSIS)
set(CPACK_VERBATIM_VARIABLES ON)
# The programs without their debugging information.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Quietwire)
set(CPACK_PACKAGE_VENDOR "The Quietwire developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quietwire network curfew")
set(CPACK_PACKAGE_FILE_NAME quietwire-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quietwire)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quietwire)

set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Quietwire)
set(CPACK_NSIS_DISPLAY_NAME Quietwire)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/quietwire.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/quietwire.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME quietwire.exe)
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
# The Start menu starts the tray copy, as each log-on does: no elevation prompt.
set(CPACK_NSIS_MENU_LINKS quietwiretray.exe Quietwire readme.txt Readme)
set(CPACK_NSIS_MUI_FINISHPAGE_RUN quietwire.exe)

set(CPACK_NSIS_DEFINES "!define QW_VENDOR \"${CPACK_PACKAGE_VENDOR}\"\n!define QW_UNINSTALL_KEY \"${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"\n!include \"${CMAKE_CURRENT_LIST_DIR}/PackageNsis.nsh\"")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "Call QuietwireStopForUpdate")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "Call QuietwireUninstallEntry\nCall QuietwireLogOnEntry\nCall QuietwireEventSource\nCall QuietwireRestartService")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Call un.QuietwireRemove")

include(CPack)
