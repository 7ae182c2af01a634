#!/usr/bin/python3
"""A Modbus RTU slave that nobody here wrote: pymodbus's server, station 1, on one end of a
socat pseudo-terminal pair. Prints the other end's path, the device a master opens, then serves
until SIGTERM. Addresses count from 0 (40001 is holding register 0)."""
import os
import signal
import subprocess
import sys
import tempfile
import time

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer

# Coils 00001.. alternate on and off from on; discrete inputs 10001.. are on every third.
COILS = [i % 2 == 0 for i in range(64)]
DISCRETE = [i % 3 == 0 for i in range(64)]
INPUTS = [7, 42, 0xFFFE] + [0] * 61
# Known 32- and 64-bit values, each in one order (40001..): 1.0f ABCD, -2 int32 ABCD,
# 123456789 uint32 in CDAB, BADC and DCBA, 1.5 float64 ABCD, "PUMP" as a string.
HOLDING = ([0x3F80, 0x0000, 0xFFFF, 0xFFFE, 0xCD15, 0x075B, 0x5B07, 0x15CD, 0x15CD, 0x5B07,
            0x3FF8, 0x0000, 0x0000, 0x0000, 0x5055, 0x4D50] + [0] * 48)


def main():
    folder = tempfile.mkdtemp(prefix="vek-pymodbus-")
    ours, theirs = os.path.join(folder, "slave"), os.path.join(folder, "master")
    socat = subprocess.Popen(["socat", f"pty,raw,echo=0,link={ours}",
                              f"pty,raw,echo=0,link={theirs}"])

    def stop(*_):
        socat.terminate()
        socat.wait()
        for path in (ours, theirs):
            if os.path.lexists(path):
                os.unlink(path)
        os.rmdir(folder)
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    for _ in range(500):
        if os.path.exists(ours) and os.path.exists(theirs):
            break
        time.sleep(0.01)
    store = ModbusSlaveContext(co=ModbusSequentialDataBlock(0, COILS),
                               di=ModbusSequentialDataBlock(0, DISCRETE),
                               ir=ModbusSequentialDataBlock(0, INPUTS),
                               hr=ModbusSequentialDataBlock(0, HOLDING), zero_mode=True)
    print(os.path.realpath(theirs), flush=True)
    try:
        StartSerialServer(context=ModbusServerContext(slaves={1: store}, single=False),
                          framer=ModbusRtuFramer, port=ours, baudrate=19200)
    finally:
        stop()


if __name__ == "__main__":
    sys.exit(main())
