# The DNG file is written by the same writer the tests use.
target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/pictures/support/dng_file.cpp)
target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/pictures)
