# Peers for comparison only: stb_image is header-only (included by the benchmark itself);
# netpbm's library reads the portable bitmaps.
target_include_directories(${name} SYSTEM PRIVATE /usr/include/netpbm)
target_link_libraries(${name} PRIVATE netpbm)
