# Compiler settings shared by every target of the project.

add_compile_options(-Wall -Wextra)

if(RVX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Qt's moc, uic and rcc run for every target that has Qt sources.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTOUIC ON)
set(CMAKE_AUTORCC ON)

# Executables find libhalvane2.so beside them in the build tree and in
# lib/ under the install prefix (the packages' private lib/rvx4400w/).
if(RVX_DEBIAN_PACKAGES)
  set(RVX_HALVANE2_LIBDIR "${CMAKE_INSTALL_LIBDIR}/rvx4400w")
else()
  set(RVX_HALVANE2_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
endif()
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${RVX_HALVANE2_LIBDIR}")
