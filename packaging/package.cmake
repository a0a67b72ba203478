# The Debian package (make package): CPack's DEB generator, installed under
# /usr, dependencies found by dpkg-shlibdeps from the programs' libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "Tessaly! developers <tessaly@tessaly.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyword search of your own HTML pages")
# The long description; CPack puts the summary above it as its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessaly! indexes a personal collection of HTML pages: it reads the title and
the keywords of every page in a folder and writes a keyword database. A typed
text then finds every page whose keywords or title contain it, and a page of
links to them opens in the web browser.

It is Japanese software: it reads pages in Shift_JIS, EUC-JP, ISO-2022-JP and
UTF-8, and its messages are Japanese. The package holds the search window
(tessaly) and the command line tool (tessaly-cli), which builds and searches
databases from a terminal and writes JSON for scripts.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries: the browser and the help page open through xdg-open;
# the windows want a Japanese font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# The install test installs the build tree: the generated pages must be there.
if(TARGET install_test)
    add_dependencies(install_test tessaly_docs)
endif()
