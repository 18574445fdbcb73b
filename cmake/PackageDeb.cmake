# The Debian package of the Linux build, quietwire_<version>_<architecture>.deb, made from a built tree:
#
#     cpack -G DEB --config build/linux/CPackConfig.cmake -B <folder>
#
# The build tree's programs keep their files beside themselves, as a build tree and its tests expect. The
# package installs twins of them, linked from the same objects against the package's layout (ProgramLayout.cpp
# built with the places below): settings in QW_DATA_DIR, readme.txt with the package's documentation, and
# registering as a service enables the unit the package installs instead of writing one into /etc.

set(QW_DATA_DIR /var/lib/quietwire
    CACHE PATH "Where the packaged programs keep settings.ini and service.ini (readable by root alone)")
set(QW_DEB_CONTACT maintainers@quietwire.example.org CACHE STRING "The Debian package maintainer's address")
if(NOT IS_ABSOLUTE "${QW_DATA_DIR}")
    message(FATAL_ERROR "QW_DATA_DIR must be an absolute path, not '${QW_DATA_DIR}'")
endif()

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(QW_DEB_DOC share/doc/quietwire)
set(QW_DOC_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${QW_DEB_DOC})
pkg_get_variable(QW_SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
if(NOT QW_SYSTEMD_UNIT_DIR)
    set(QW_SYSTEMD_UNIT_DIR /lib/systemd/system)
endif()
set(QW_UNIT_NAME quietwire.service)
set(QW_SHIPPED_UNIT ${QW_SYSTEMD_UNIT_DIR}/${QW_UNIT_NAME})
set(QW_DEB_FILES ${CMAKE_BINARY_DIR}/deb)

add_library(quietwire_deb_layout STATIC src/platform/linux/ProgramLayout.cpp)
target_compile_definitions(quietwire_deb_layout
    PRIVATE QW_DATA_DIR="${QW_DATA_DIR}" QW_DOC_DIR="${QW_DOC_DIR}" QW_RUNTIME_DIR="/run/quietwire"
            QW_SHIPPED_UNIT="${QW_SHIPPED_UNIT}")
target_include_directories(quietwire_deb_layout PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quietwire_deb_layout PRIVATE qw_warnings)

# The package's twin of a program: its objects, its libraries, the package's layout; installed as the program.
function(qw_deb_program target)
    add_executable(${target}_deb $<TARGET_OBJECTS:${target}>)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(libraries)
        target_link_libraries(${target}_deb PRIVATE ${libraries})
    endif()
    set_target_properties(${target}_deb PROPERTIES
        OUTPUT_NAME ${target} RUNTIME_OUTPUT_DIRECTORY ${QW_DEB_FILES} QW_LAYOUT quietwire_deb_layout)
    # As Debian hardens its programs: the relocations made read-only once resolved, all at start.
    target_link_options(${target}_deb PRIVATE -Wl,-z,relro,-z,now)
    install(TARGETS ${target}_deb RUNTIME DESTINATION bin)
endfunction()
qw_deb_program(quietwire)
if(TARGET quietwirectl)
    qw_deb_program(quietwirectl)
endif()

# The unit the program would write on registering itself, for the package's program and data folder.
add_executable(quietwire_service_unit tools/service-unit.cpp)
target_link_libraries(quietwire_service_unit PRIVATE quietwire_platform qw_warnings)
add_custom_command(OUTPUT ${QW_DEB_FILES}/${QW_UNIT_NAME}
    COMMAND quietwire_service_unit ${QW_DEB_FILES}/${QW_UNIT_NAME} ${CPACK_PACKAGING_INSTALL_PREFIX}/bin/quietwire
            ${QW_DATA_DIR}
    DEPENDS quietwire_service_unit VERBATIM)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quietwire developers <${QW_DEB_CONTACT}>")
string(TIMESTAMP QW_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC) # SOURCE_DATE_EPOCH, where set
string(TIMESTAMP QW_DEB_YEAR "%Y" UTC)
foreach(file copyright changelog)
    configure_file(cmake/deb/${file}.in ${QW_DEB_FILES}/${file} @ONLY)
endforeach()
set(QW_DEB_MANUALS quietwire.1)
if(TARGET quietwirectl)
    list(APPEND QW_DEB_MANUALS quietwirectl.1)
endif()
foreach(manual ${QW_DEB_MANUALS})
    configure_file(resources/${manual}.in ${QW_DEB_FILES}/${manual} @ONLY)
endforeach()
# Debian's documentation and manuals are compressed, without a name or time in the header.
foreach(file changelog ${QW_DEB_MANUALS})
    add_custom_command(OUTPUT ${QW_DEB_FILES}/${file}.gz
        COMMAND gzip -9n -c ${QW_DEB_FILES}/${file} > ${QW_DEB_FILES}/${file}.gz
        DEPENDS ${QW_DEB_FILES}/${file})
endforeach()
add_custom_target(quietwire_deb_files ALL
    DEPENDS ${QW_DEB_FILES}/${QW_UNIT_NAME} ${QW_DEB_FILES}/changelog.gz ${QW_DEB_FILES}/quietwire.1.gz
            $<$<TARGET_EXISTS:quietwirectl>:${QW_DEB_FILES}/quietwirectl.1.gz>)

install(FILES resources/readme.txt ${QW_DEB_FILES}/copyright ${QW_DEB_FILES}/changelog.gz DESTINATION ${QW_DEB_DOC})
foreach(manual ${QW_DEB_MANUALS})
    install(FILES ${QW_DEB_FILES}/${manual}.gz DESTINATION share/man/man1)
endforeach()
install(FILES ${QW_DEB_FILES}/${QW_UNIT_NAME} DESTINATION ${QW_SYSTEMD_UNIT_DIR})
install(FILES resources/quietwire.desktop DESTINATION share/applications)
# Started at every log-on as the session's face of the service (a conffile: purging removes it, and a removed
# program's entry starts nothing, for its TryExec finds no program).
install(FILES resources/quietwire-autostart.desktop DESTINATION /etc/xdg/autostart RENAME quietwire.desktop)
file(WRITE ${QW_DEB_FILES}/control/conffiles "/etc/xdg/autostart/quietwire.desktop\n")
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QW_DEB_FILES}/control/conffiles)
foreach(size 16 32)
    install(FILES resources/quietwire-${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
        RENAME quietwire.png)
endforeach()

# Installing creates the data folder and enables nothing; removing stops and disables the service and
# clears its Installed flag; purging deletes the data folder. Each works without systemd running, in a
# chroot, and under DPKG_ROOT.
set(QW_BIN_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/bin)
foreach(script postinst prerm postrm)
    configure_file(cmake/deb/${script}.in ${QW_DEB_FILES}/control/${script} @ONLY)
    list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QW_DEB_FILES}/control/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
    OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quietwire)
set(CPACK_PACKAGE_VENDOR "Quietwire developers")
set(CPACK_DEBIAN_FILE_NAME ${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network curfew: closes TCP connections on chosen ports outside a daily window")
set(CPACK_PACKAGE_DESCRIPTION [=[
An administrator names a list of closed TCP ports and a daily window in which
they are open; outside the window Quietwire deletes every TCP connection on a
closed port, twice a second. A change of the system clock locks the closed
ports down at all hours until an administrator clears the alarm.
.
It shows a key in the notification area where there is a display and enforces
unseen where there is none. It runs as root, or as the systemd service
quietwire.service once an administrator registers it from the program's
administration dialog: installing the package starts and enables nothing.]=])
include(CPack)

# (A package of the sanitizers' build would ship the sanitizers: not tested there.)
if(BUILD_TESTING AND NOT QW_SANITIZE)
    # The package made into a folder of the tests' own; lintian finds no error in it; installed into a
    # root of the test's own with its own package database, its program closes a connection, and removing
    # and purging it leave what they should (needs root).
    set(QW_DEB_TEST_PACKAGE ${CMAKE_BINARY_DIR}/deb-test/${CPACK_DEBIAN_FILE_NAME})
    add_test(NAME deb_package
        COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                -B ${CMAKE_BINARY_DIR}/deb-test)
    add_test(NAME deb_lintian COMMAND lintian --fail-on error --info ${QW_DEB_TEST_PACKAGE})
    add_executable(deb_install_tests tests/program/DebPackageLinuxTest.cpp)
    target_link_libraries(deb_install_tests PRIVATE qw_program_support qw_loopback qw_warnings)
    target_compile_definitions(deb_install_tests PRIVATE QW_DEB_PACKAGE="${QW_DEB_TEST_PACKAGE}"
        QW_DATA_DIR="${QW_DATA_DIR}" QW_SHIPPED_UNIT="${QW_SHIPPED_UNIT}" QW_HAS_CTL=$<TARGET_EXISTS:quietwirectl>)
    add_test(NAME deb_install COMMAND deb_install_tests)
    set_tests_properties(deb_package PROPERTIES FIXTURES_SETUP deb)
    set_tests_properties(deb_lintian deb_install PROPERTIES FIXTURES_REQUIRED deb)
endif()
