#!/usr/bin/env python3
"""Measures, under Wine, what the never-torn replacement costs: a 48 MB
library replaced by a plain CopyFileA over it and by the updater's sequence
(copy beside it, flush, rename over it), in one process on one machine.

    tests/e2e/measure_replace.py [ROUNDS] [MEGABYTES]

Prints each round and the medians. The machine lives under build/e2e like
the suite's, so the figures are those of the disk that holds the checkout."""

import statistics
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import AVC_LIBRARY, AVC_PAYLOAD  # noqa: E402
from scenarios import new_avc, old, padded, data  # noqa: E402


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    size = (int(sys.argv[2]) if len(sys.argv) > 2 else 48) << 20
    with harness.exclusive("measure"):
        display = harness.Display()
        m = None
        try:
            harness.template(display, reuse=True)
            m = harness.Machine(display, "measure_replace")
            m.put(rf"C:\e2e\{AVC_PAYLOAD}", padded(new_avc(), size))
            m.put(r"C:\e2e\old.dll", data(old(AVC_LIBRARY)))
            m.put(rf"C:\TRV50\{AVC_LIBRARY}", data(old(AVC_LIBRARY)))
            timing = m._helper("timing")
            if m.wine(timing, rf"C:\e2e\{AVC_PAYLOAD}", r"C:\e2e\old.dll", rf"C:\TRV50\{AVC_LIBRARY}", rounds,
                      r"C:\e2e\timing.txt", timeout=1200) != 0:
                raise harness.HarnessError(f"timing.exe failed; see {m.log}")
            rows = [list(map(float, line.split())) for line in m.c(r"C:\e2e\timing.txt").read_text().splitlines()]
        finally:
            if m:
                m.close()
            display.stop()
    print(f"{size >> 20} MB library, {rounds} rounds (ms): plain copy | safe total = copy + flush + rename")
    for plain, safe, copy, flush, rename in rows:
        print(f"  {plain:8.1f} | {safe:8.1f} = {copy:7.1f} + {flush:7.1f} + {rename:5.1f}")
    med = [statistics.median(column) for column in zip(*rows)]
    print(f"median {med[0]:8.1f} | {med[1]:8.1f} = {med[2]:7.1f} + {med[3]:7.1f} + {med[4]:5.1f}")
    print(f"ratio safe / plain: {med[1] / med[0]:.2f}; the flush is {med[3] / med[1]:.0%} of the safe sequence")


if __name__ == "__main__":
    main()
