#!/usr/bin/env python3
"""Four boards flashed at once, each from a thread of its own. Each call waits
on its own board's USB link with the interpreter free, so four take about as
long as one.

    PYTHONPATH=build/default/python python3 examples/flash_four.py --sim fw.qvbin
    python3 examples/flash_four.py --serial SN1 --serial SN2 ... fw.qvbin
"""

import argparse
import os
import tempfile
import threading
import time

import corvel


def flash(options, image, results, lock):
    name = options.get("serial") or f"sim {options['sim']}"
    try:
        with corvel.open(**options) as board:
            board.flash(image, progress=lambda p: p % 25 == 0 and print(f"[{name}] {p}%", flush=True))
        outcome = "done"
    except corvel.Error as e:
        outcome = f"FAILED: {e}"
    with lock:
        results[name] = outcome


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", action="store_true", help="four simulated boards (ids 1, 3, 5, 0)")
    parser.add_argument("--serial", action="append", default=[], help="a real board's serial number (repeat)")
    parser.add_argument("image", nargs="?", help="the .qvbin image (with --sim: made up when not given)")
    args = parser.parse_args()

    boards = [{"sim": i} for i in (1, 3, 5, 0)] if args.sim else [{"serial": s} for s in args.serial]
    if not boards:
        parser.error("give --sim or at least one --serial")
    image = args.image
    if image is None:
        if not args.sim:
            parser.error("give the image to flash")
        image = os.path.join(tempfile.mkdtemp(), "fw.qvbin")
        with open(image, "wb") as f:
            f.write(corvel.make_image(os.urandom(16 * 1024)))

    results, lock = {}, threading.Lock()
    start = time.monotonic()
    threads = [threading.Thread(target=flash, args=(b, image, results, lock)) for b in boards]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(f"{len(boards)} boards in {time.monotonic() - start:.1f} s:")
    for name, outcome in sorted(results.items()):
        print(f"  {name}: {outcome}")
    raise SystemExit(0 if all(o == "done" for o in results.values()) else 1)


if __name__ == "__main__":
    main()
