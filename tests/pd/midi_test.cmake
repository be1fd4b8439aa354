# The MIDI scenarios make FIFOs at the machine-wide /dev/midiN: one at a time.
set(LORVEX_TEST_PROPERTIES RESOURCE_LOCK midi)
