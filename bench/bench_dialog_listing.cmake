# The dialog listing benchmark drives the real dialog, so it needs the dialog library
# (and through it Qt Widgets); without the GUI it is not built.
if(TARGET dialog)
  target_link_libraries(${name} PRIVATE dialog)
else()
  set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
