# Peers for comparison only: libtiff reads the TIFF files; stb_image (header-only, included
# by the benchmark itself) reads the Photoshop files.
find_package(TIFF REQUIRED)
target_link_libraries(${name} PRIVATE TIFF::TIFF)
