target_link_libraries(${name} PRIVATE ${JACK_LIBRARY})
target_include_directories(${name} PRIVATE ${JACK_INCLUDE_DIR})
# Each test starts its own uniquely named server; keep them from crowding two cores.
set(LORVEX_TEST_PROPERTIES RESOURCE_LOCK jackd)
