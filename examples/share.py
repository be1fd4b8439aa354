"""The other half of share-with-python.pd, through Debian's python3-sysv-ipc.

The patch's [karbox 7300 64] is a System V shared memory block with key 7300:
64 floats (32-bit, in the machine's byte order), readable and writable by any
program on this machine. The patch writes its curve into floats 0 to 31 ten
times a second. Whenever the curve changes, this program reads it and writes
back, into floats 32 to 35, a count of the changes it saw and the curve's
smallest, largest and mean values, which the patch shows.

Start it before or after opening the patch: python3 share.py (Ctrl-C stops it).
"""
import struct
import time

import sysv_ipc

KEY = 7300      # [karbox 7300 64] in the patch
FLOATS = 64     # the block's size in floats
CURVE = 32      # floats 0 to 31: the patch's curve; 32 to 35: what we write

# Join the block, or make it if the patch is not open yet, readable and
# writable by everyone but the group, as karbox makes it.
block = sysv_ipc.SharedMemory(KEY, sysv_ipc.IPC_CREAT, mode=0o606, size=FLOATS * 4)
print(f"joined block {KEY}: {block.size // 4} floats", flush=True)

seen = None
changes = 0
try:
    while True:
        curve = struct.unpack(f"={CURVE}f", block.read(CURVE * 4, 0))
        if curve != seen:
            seen = curve
            changes += 1
            low, high, mean = min(curve), max(curve), sum(curve) / CURVE
            block.write(struct.pack("=4f", changes, low, high, mean), CURVE * 4)
            print(f"curve {changes}: smallest {low:.4f} largest {high:.4f} mean {mean:.4f}",
                  flush=True)
        time.sleep(0.1)
except KeyboardInterrupt:
    pass
finally:
    # Leaving does not remove the block: the patch may still use it.
    block.detach()
