target_link_libraries(${probe_target} PRIVATE lorvex_jack)
