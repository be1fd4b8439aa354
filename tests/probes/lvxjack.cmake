target_link_libraries(${probe_target} PRIVATE ${jack})
if(flavour STREQUAL "multi")
  target_link_libraries(${probe_target}_objects PRIVATE ${jack})
endif()
