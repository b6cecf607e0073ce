# The Debian packages, made by CPack's DEB generator from the install rules
# (scripts/package.sh builds them into build/packages/):
#   rvx4400w       the radio with its private libhalvane2, desktop entry,
#                  icons, AppStream metadata and manual page
#   halvane-relay  the relay router and its system service
#   rvx-manager    the management service, its system service and user
# Their version is the project's. Depends come from the binaries
# (dpkg-shlibdeps) plus what the programs run or load without linking it.
if(NOT RVX_DEBIAN_PACKAGES)
  return()
endif()

set(RVX_PACKAGE_MAINTAINER "RVX4400w developers <packages@rvx4400.example>"
    CACHE STRING "The Maintainer of the Debian packages")
# The packages' date: the time the sources were made (SOURCE_DATE_EPOCH) when given.
string(TIMESTAMP RVX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(packaging ${CMAKE_BINARY_DIR}/packaging)
find_program(RVX_GZIP gzip REQUIRED)

# Each package's copyright file and changelog (compressed as Debian wants:
# gzip -9 without a time stamp).
function(rvx_package_documents component package)
  set(PACKAGE ${package})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${packaging}/${package}/changelog @ONLY)
  execute_process(COMMAND ${RVX_GZIP} -9nc ${packaging}/${package}/changelog
    OUTPUT_FILE ${packaging}/${package}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${packaging}/${package}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

# A service's maintainer scripts (enable and start at install, stop at
# removal) and its configuration file, kept through upgrades as a conffile.
function(rvx_service_control component service conffile prepare purge purgeNote)
  set(SERVICE ${service})
  set(PREPARE_SERVICE "${prepare}")
  set(PURGE_SERVICE "${purge}")
  set(PURGE_NOTE "${purgeNote}")
  set(files)
  foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/service-${script}.in ${packaging}/${service}/${script} @ONLY)
    list(APPEND files ${packaging}/${service}/${script})
  endforeach()
  file(WRITE ${packaging}/${service}/conffiles "${conffile}\n")
  list(APPEND files ${packaging}/${service}/conffiles)
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_CONTROL_EXTRA "${files}" PARENT_SCOPE)
endfunction()

rvx_package_documents(radio rvx4400w)
rvx_package_documents(relay halvane-relay)
rvx_package_documents(manager rvx-manager)

# Both packages make the relay's control group, so that either may come
# first; the manager's user joins it to pass notices through a local relay.
set(RVX_CONTROL_GROUP "if [ \"$1\" = configure ] && ! getent group halvane-relay-control >/dev/null; then
	addgroup --system --quiet halvane-relay-control
fi")
rvx_service_control(relay halvane-relay /etc/halvane-relay/halvane-relay.conf "${RVX_CONTROL_GROUP}" "" "")
rvx_service_control(manager rvx-manager /etc/default/rvx-manager
  "${RVX_CONTROL_GROUP}
if [ \"$1\" = configure ] && ! getent passwd rvx-manager >/dev/null; then
	adduser --system --group --quiet --home /var/lib/rvx-manager --no-create-home \\
		--gecos \"RVX4400w management service\" rvx-manager
fi
if [ \"$1\" = configure ]; then
	adduser --quiet rvx-manager halvane-relay-control
fi"
  "rm -rf /var/lib/rvx-manager /var/lib/private/rvx-manager"
  " and removes its data folder /var/lib/rvx-manager with the fleet and the server key")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL radio relay manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The units and options files have absolute places (/lib, /etc): they are
# installed under the packaging folder like everything else.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RVX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${RVX_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_RADIO_PACKAGE_NAME rvx4400w)
set(CPACK_DEBIAN_RADIO_PACKAGE_SECTION comm)
# gpg makes and uses the radio's keys; the SVG picture plug-in draws the
# front panel's keys.
set(CPACK_DEBIAN_RADIO_PACKAGE_DEPENDS "gpg, gpg-agent, libqt6svg6")
set(CPACK_DEBIAN_RADIO_PACKAGE_RECOMMENDS "pavucontrol")
set(CPACK_DEBIAN_RADIO_DESCRIPTION "push-to-talk two-way radio for voice over IP
RVX4400w is a two-way radio on the desktop. Its window is the front of a
hand-held radio unit: pick a zone and a channel, hold the PTT button or the
space bar to talk into the microphone, and hear the other radios on the
channel through the speakers.
.
Talk groups travel as multicast on the local network and, through relay
routers (package halvane-relay) and the trunk library halvane2 that this
package holds, across the Internet. A management service (package
rvx-manager) provisions the radios with their channels, contacts and
routers; without one the radio runs sixteen local channels.")

set(CPACK_DEBIAN_RELAY_PACKAGE_NAME halvane-relay)
set(CPACK_DEBIAN_RELAY_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RELAY_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_RELAY_DESCRIPTION "relay router for the halvane2 trunk of RVX4400w radios
halvane-relay carries the talk groups of RVX4400w radios across the Internet:
radios subscribe to their groups and send their voice to the relay, which
passes each group's datagrams on to the other subscribers of that group.
.
The package runs the relay as a system service on UDP port 3301
(configuration in /etc/halvane-relay/halvane-relay.conf); its control socket
/run/halvane-relay/control-3301 shows counters and passes the management
service's notices to the radios.")

set(CPACK_DEBIAN_MANAGER_PACKAGE_NAME rvx-manager)
set(CPACK_DEBIAN_MANAGER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_MANAGER_PACKAGE_DEPENDS "adduser, gpg, gpg-agent")
set(CPACK_DEBIAN_MANAGER_DESCRIPTION "management service of RVX4400w radios
rvx-manager provisions a fleet of RVX4400w radios: radios upload their key,
fetch their settings (signed with the service's key and encrypted to
theirs) and post their position; the operator registers units, edits zones,
talk groups and routers, and pushes changes through the relays, from the
command line or a web console.
.
The package runs the service as the system user rvx-manager with its data in
/var/lib/rvx-manager (options in /etc/default/rvx-manager): radios on port
8480, the web console on 127.0.0.1:8481.")

include(CPack)
