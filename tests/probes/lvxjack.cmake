target_link_libraries(${probe_target} PRIVATE ${jack})
if(flavour STREQUAL "multi")
  target_link_libraries(${probe_target}_objects PRIVATE ${jack})
endif()
# Windows finds a DLL's DLLs in its own folder (Pd adds it to the search):
# liblorvex.dll goes beside the probe too.
if(WIN32)
  add_custom_command(TARGET ${probe_target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:lorvex_jack> ${LORVEX_PROBE_DIR}/)
endif()
