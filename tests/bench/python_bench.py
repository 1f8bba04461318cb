#!/usr/bin/env python3
"""The Python module's costs, measured in one run on simulated boards (1 ms per
report each way, as on USB):

- 1,000 register writes from Python against the same loop in C++
  (corvel_write_bench), and a Python script doing them against
  `corvelctl batch` of the same writes, each whole (start, open, writes);
- four boards flashed at once from four Python threads against one (and, for
  comparison on the same machine, corvelctl flash --all of four against one).

    PYTHONPATH=build/default/python python3 tests/bench/python_bench.py build/default
"""

import json
import os
import subprocess
import sys
import tempfile
import threading
import time

import corvel

WRITES = 1000


def python_loop():
    with corvel.open(sim=1) as board:
        start = time.perf_counter()
        for i in range(WRITES):
            board.regs[0x20] = i & 0xFF
        return time.perf_counter() - start


def cpp_loop(build):
    out = subprocess.run([os.path.join(build, "tests/bench/corvel_write_bench"), "--writes", str(WRITES)],
                         capture_output=True, text=True, check=True).stdout
    return json.loads(out)["seconds"]


def whole(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def flash(boards, image):
    errors = []

    def one(sim):
        try:
            with corvel.open(sim=sim) as board:
                board.flash(image)
        except corvel.Error as e:
            errors.append(e)

    threads = [threading.Thread(target=one, args=(sim,)) for sim in (1, 3, 5, 0)[:boards]]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]
    return time.perf_counter() - start


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/default"
    work = tempfile.mkdtemp()
    script = os.path.join(work, "writes.txt")
    with open(script, "w") as f:
        f.writelines(f"reg write 0x20 {i & 0xFF}\n" for i in range(WRITES))
    pyscript = os.path.join(work, "writes.py")
    with open(pyscript, "w") as f:
        f.write("import corvel\nwith corvel.open(sim=1) as board:\n"
                f"    for i in range({WRITES}):\n        board.regs[0x20] = i & 0xFF\n")
    image = os.path.join(work, "fw.qvbin")
    with open(image, "wb") as f:
        f.write(corvel.make_image(os.urandom(64 * 1024)))

    py, cpp = python_loop(), cpp_loop(build)
    py_whole = whole([sys.executable, pyscript])
    batch = whole([os.path.join(build, "cli/corvelctl"), "--sim=1", "batch", "--file", script])
    one, four = flash(1, image), flash(4, image)
    # The same in corvelctl (C++ threads, one lamp session each): what the
    # simulated boards and the machine allow, beside the Python figure.
    ctl = os.path.join(build, "cli/corvelctl")
    ctl_one = whole([ctl, "--sim=1", "flash", image])
    ctl_four = whole([ctl, "--sim=1,3,5,0", "flash", "--all", image])
    print(f"{WRITES} register writes, the loop:  Python {py:.3f} s, C++ {cpp:.3f} s: {py / cpp:.3f}x (goal <= 1.05)")
    print(f"{WRITES} register writes, whole:     Python script {py_whole:.3f} s, corvelctl batch {batch:.3f} s: "
          f"{py_whole / batch:.3f}x (goal <= 1.0)")
    print(f"flash of {64} KiB:                 4 boards from 4 threads {four:.2f} s, 1 board {one:.2f} s: "
          f"{four / one:.3f}x (goal <= 1.1)")
    print(f"  the same with corvelctl flash --all:  4 boards {ctl_four:.2f} s, 1 board {ctl_one:.2f} s: "
          f"{ctl_four / ctl_one:.3f}x")


if __name__ == "__main__":
    main()
