# The MIDI example writes to FIFOs at the machine-wide /dev/midiN, like the
# MIDI scenarios: one at a time.
set(LORVEX_TEST_PROPERTIES RESOURCE_LOCK midi)
