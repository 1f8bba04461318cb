"""The Python module against the simulated board: every operation, every kind
of error, a lossy link, boards driven from threads, and the interpreter free
while a call waits."""

import os
import threading
import time
from pathlib import Path

import pytest

import corvel

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def test_leds_registers_current_and_mode(corvel_board):
    board = corvel_board
    assert (board.chip_board, board.led_count) == ("QV6033", 6)
    assert board.mode is None  # reset by the fixture: not known
    board.mode = "led"
    assert board.mode == "led"
    board.current_ma = 25
    assert board.current_ma == 30  # the top of the 21..30 mA range
    board.leds[:] = 0
    board.leds[3] = 128
    board.leds[-1] = 7
    assert board.regs[0x20:0x26] == [0, 0, 0, 128, 0, 7]
    board.leds[0:2] = [10, 20]
    board.leds[::2] = 1  # not consecutive: the others keep their values
    assert board.leds[:] == [1, 20, 1, 128, 1, 7]
    board.regs[0x20:0x22] = [0x55, 0x66]
    assert (board.regs[0x20], board.leds[1]) == (0x55, 0x66)
    assert board.regs.modify(0x20, 0x0F, 0x03) == 0x53
    board.reset()
    assert board.mode is None


def test_gpio_levels_interrupts_and_waits(corvel_board):
    board = corvel_board
    board.mode = "gpio"
    board.gpio.direction("input")
    disabled = board.gpio.interrupts({3: True, 4: False})
    assert 4 in disabled and 3 not in disabled
    assert board.gpio.drive("push-pull") & 0x10
    board.gpio.direction("output")
    assert 3 in board.gpio.out({3: True})
    assert 3 not in board.gpio.out({3: False, 2: True})
    board.gpio.direction("input")
    board.gpio.interrupts({pin: True for pin in range(6)})
    board.sim_drive({"all": False})
    board.wait_interrupt(timeout=2.0)
    assert board.gpio.read() != [0xFF, 0xFF]


def test_effects_setup_and_image(corvel_board, tmp_path):
    board = corvel_board
    board.mode = "led"
    board.blink(ramp_on="315ms", ramp_off=630, keep_on="1260ms", keep_off="315ms")
    board.blink(ramp_on="315ms", ramp_off="315ms", keep_on="315ms", keep_off="315ms", reset=True)
    board.fade(True, ramp_on="630ms", ramp_off="630ms")
    writes = board.apply(EXAMPLES / "setup-qv6033.json")
    assert writes and writes == corvel.setup_writes(EXAMPLES / "setup-qv6033.json")
    assert "#define" in corvel.export_setup(EXAMPLES / "setup-qv6033.json", "c")
    image = tmp_path / "fw.qvbin"
    image.write_bytes(corvel.make_image(bytes(range(256)) * 4))
    assert corvel.check_image(image)["length"] == 1024
    seen = []
    board.flash(image, progress=seen.append)
    assert seen and seen[-1] == 100 and seen == sorted(seen)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda b: b.leds.__setitem__(6, 1), IndexError),
        (lambda b: b.leds.__setitem__(0, 256), ValueError),
        (lambda b: setattr(b, "current_ma", 41), ValueError),
        (lambda b: setattr(b, "mode", "pwm"), ValueError),
        (lambda b: b.blink("100ms", "315ms", "315ms", "315ms"), ValueError),
        (lambda b: b.blink("0ms", "315ms", "315ms", "315ms"), ValueError),
        (lambda b: b.gpio.out({6: True}), ValueError),
        (lambda b: b.regs.__getitem__(slice(0xF0, 0x110)), ValueError),
        (lambda b: b.wait_interrupt(timeout=0.2), corvel.TimeoutError),
        (lambda b: b.wait_interrupt(timeout=0.2), TimeoutError),  # the builtin too
        (lambda b: b.apply(EXAMPLES / "no-such-setup.json"), corvel.ChipError),
        (lambda b: b.flash(EXAMPLES / "setup-qv6033.json"), ValueError),  # not an image
    ],
)
def test_errors_by_kind(corvel_board, call, error):
    with pytest.raises(error):
        call(corvel_board)


def test_errors_of_the_link_and_the_chip():
    with pytest.raises(corvel.LinkError):
        corvel.open(sim=1, device="sim:lamp-board/9", timeout=0.5)
    with pytest.raises(ValueError):
        corvel.open(sim=1, serial="QVSIM0001", device="sim:lamp-board/1")
    with pytest.raises(ValueError):
        corvel.open(sim=1, sim_faults="drop=banana")
    # A chip strapped to another address than the one asked for.
    with corvel.open(sim=1, sim_chip_address=0x58, timeout=1.0) as board:
        with pytest.raises(corvel.ChipError, match="No answer from the chip at 0x5B, the address the program sent"):
            board.regs[0x11]
        board.chip_address = 0x58
        assert board.regs[0x11] is not None
    with corvel.open(sim=1) as board:
        board.sim_unplug()
        with pytest.raises(corvel.LinkError):
            board.regs[0x20] = 1
    board = corvel.open(sim=1)
    board.close()
    with pytest.raises(ValueError, match="closed"):
        board.leds[0] = 1
    with pytest.raises(ValueError, match="choose one"):
        corvel.open(sim=[1, 3])


def test_a_lossy_link_loses_no_write():
    with corvel.open(sim=1, sim_faults="drop=3,corrupt=3,nak=3", sim_seed=7) as board:
        for i in range(40):
            board.regs[0x20:0x26] = [i, i + 1, i + 2, i + 3, i + 4, i + 5]
            assert board.regs[0x20:0x26] == [i, i + 1, i + 2, i + 3, i + 4, i + 5]


def test_a_bench_driven_from_threads(tmp_path):
    assert [b["serial"] for b in corvel.list(sim=[1, 3, 5])] == ["QVSIM0001", "QVSIM0002", "QVSIM0003"]
    image = tmp_path / "fw.qvbin"
    image.write_bytes(corvel.make_image(os.urandom(2048)))
    results, errors = {}, []

    def work(n):
        try:
            with corvel.open(sim=[1, 3, 5, 0][n]) as board:
                for i in range(20):
                    board.regs[0x20] = (n * 40 + i) & 0xFF
                    assert board.regs[0x20] == (n * 40 + i) & 0xFF
                board.flash(image)
                results[n] = board.chip_board
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert results == {0: "QV6033", 1: "QV6032", 2: "QV6035", 3: "QV6031"}


def test_one_board_shared_by_threads_takes_turns(corvel_board):
    def write(value):
        for _ in range(10):
            corvel_board.regs[0x20:0x23] = [value] * 3
            assert len(set(corvel_board.regs[0x20:0x23])) == 1

    threads = [threading.Thread(target=write, args=(v,)) for v in (0x11, 0x22)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def test_the_interpreter_runs_while_a_call_waits(corvel_board):
    ticks = 0
    done = threading.Event()

    def count():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = ticks
        with pytest.raises(corvel.TimeoutError):
            corvel_board.wait_interrupt(timeout=0.5)
        during = ticks - before
    finally:
        done.set()
        counter.join()
    # Held for the whole wait, the counter would not have moved at all.
    assert during > 50


# A recording as the window's recorder writes it, with a command of each kind.
RECORDING = """# corvelctl script recorded by CorvelGUI
address 0x5B
reset
mode led
current 25
led 0
led 128 0 1
led 40 3
# the ramp and keep times
reg write 0x15 0x12
blink --ramp-on 315ms --ramp-off 630ms --keep-on 315ms --keep-off 1260ms
mode gpio
gpio dir output
gpio drive push-pull
gpio out 3=high 4=low
gpio irq 2=disable 5=enable
fade on --ramp-on 630ms --ramp-off 630ms
"""


def test_a_recording_replays_alike_as_python_and_as_corvelctl(tmp_path):
    corvelctl = os.environ.get("CORVELCTL")
    if not corvelctl:
        pytest.skip("CORVELCTL names no corvelctl to compare with")
    import subprocess
    import sys

    from corvel import _corvel

    lines = RECORDING.splitlines()
    script = tmp_path / "replay.py"
    body = [_corvel.script_line(line) for line in lines]
    assert not any("NotImplementedError" in line for line in body), body
    script.write_text(
        "\n".join(_corvel.script_head("recorded") + body + ["    print(*board.regs[0x02:0x30])"]) + "\n"
    )
    python = subprocess.run(
        [sys.executable, script, "--sim", "1"], capture_output=True, text=True, timeout=60, check=True
    )
    text = tmp_path / "replay.txt"
    text.write_text(RECORDING + "reg read 0x02 46\n")
    ctl = subprocess.run(
        [corvelctl, "--sim=1", "--json", "batch", "--file", text], capture_output=True, text=True, timeout=60,
        check=True,
    )
    import json

    registers = json.loads(ctl.stdout.strip().splitlines()[-1])["values"]
    assert python.stdout.split() == [str(v) for v in registers]


def test_a_command_without_a_call_stops_the_replay():
    from corvel import _corvel

    assert "NotImplementedError" in _corvel.script_line("wait")
    assert _corvel.script_line("led 7 2") == "    board.leds[2,] = 7"
