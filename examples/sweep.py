#!/usr/bin/env python3
"""A brightness and current sweep: every current range, brightness in steps,
one CSV row per point, with what a meter or a camera would measure beside it.

    PYTHONPATH=build/default/python python3 examples/sweep.py --sim 1 -o sweep.csv
    python3 examples/sweep.py --serial QV0042 -o sweep.csv      # a real board

``measure()`` is where the lab's instrument goes; here it reads back the
brightness registers, so the sweep runs on the simulated board as well.
"""

import argparse
import csv
import sys
import time

import corvel


def measure(board, led):
    # Replace with the meter: e.g. a SCPI query of a photometer or a current probe.
    return board.leds[led]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", type=int, help="a simulated board with this id")
    parser.add_argument("--serial", default="", help="the real board with this serial number")
    parser.add_argument("--led", type=int, default=0, help="the LED swept (default 0)")
    parser.add_argument("--step", type=int, default=32, help="brightness step (default 32)")
    parser.add_argument("--settle", type=float, default=0.0, help="seconds to wait before each measurement")
    parser.add_argument("-o", "--output", default="-", help="the CSV file (default: standard output)")
    args = parser.parse_args()

    out = sys.stdout if args.output == "-" else open(args.output, "w", newline="")
    with corvel.open(sim=args.sim, serial=args.serial) as board, out:
        writer = csv.writer(out)
        writer.writerow(["current_ma", "range_top_ma", "brightness", "led", "measured"])
        board.mode = "led"
        board.leds[:] = 0
        for milliamps in (10, 20, 30, 40):
            board.current_ma = milliamps
            top = board.current_ma
            for brightness in list(range(0, 256, args.step)) + [255]:
                board.leds[args.led] = brightness
                time.sleep(args.settle)
                writer.writerow([milliamps, top, brightness, args.led, measure(board, args.led)])
        board.leds[:] = 0


if __name__ == "__main__":
    main()
