# The listing benchmark measures the platform layer (Qt), and QDir as its peer.
if(TARGET platform)
  target_link_libraries(${name} PRIVATE platform)
else()
  set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
