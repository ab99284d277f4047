# Peers for comparison only: FreeImage reads PCX, giflib reads (and here also writes) GIF.
find_package(GIF REQUIRED)
target_link_libraries(${name} PRIVATE GIF::GIF freeimage)
