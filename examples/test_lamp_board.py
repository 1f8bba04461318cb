"""A hardware test in pytest, for the simulated board in CI and a real board on
the bench alike:

    pytest -p corvel.pytest_plugin --corvel-sim=1 examples/test_lamp_board.py
    pytest -p corvel.pytest_plugin --corvel-serial=SN examples/test_lamp_board.py

``corvel_board`` is the board the options name, its chip reset before each test.
"""

import pytest


def test_brightness_reaches_every_led(corvel_board):
    corvel_board.mode = "led"
    corvel_board.leds[:] = 0
    for led in range(corvel_board.led_count):
        corvel_board.leds[led] = 200
        assert corvel_board.leds[led] == 200
        corvel_board.leds[led] = 0


@pytest.mark.parametrize("milliamps, range_top", [(5, 10), (15, 20), (25, 30), (40, 40)])
def test_current_ranges(corvel_board, milliamps, range_top):
    corvel_board.current_ma = milliamps
    assert corvel_board.current_ma == range_top


@pytest.mark.corvel_sim_only
def test_an_input_raises_an_interrupt(corvel_board):
    corvel_board.mode = "gpio"
    corvel_board.gpio.direction("input")
    corvel_board.gpio.interrupts({pin: True for pin in range(corvel_board.led_count)})
    corvel_board.sim_drive({"all": False})  # a person with a wire, on the bench
    corvel_board.wait_interrupt(timeout=2.0)
