"""pytest plugin: one hardware test, on the simulated board in CI and on a real
board on the bench.

    pytest -p corvel.pytest_plugin --corvel-sim=1 tests/        # simulated
    pytest -p corvel.pytest_plugin --corvel-serial=QV0042 tests/ # a real board

A test takes the ``corvel_board`` fixture: the board the options name, opened
and identified, with its chip reset before the test (so no test sees what the
one before left) and closed after it. Without any option the one attached
board is used. ``--corvel-timeout`` sets the seconds each answer is waited
for.
"""

from __future__ import annotations

import pytest

import corvel


def pytest_addoption(parser):
    group = parser.getgroup("corvel", "the lamp board under test")
    group.addoption("--corvel-sim", metavar="ID", default=None, help="a simulated board with this id (0, 1, 3, 5, 128)")
    group.addoption("--corvel-serial", metavar="SN", default="", help="the real board with this serial number")
    group.addoption("--corvel-device", metavar="PATH", default="", help="the real board at this device path")
    group.addoption("--corvel-timeout", metavar="S", type=float, default=5.0, help="seconds to wait for each answer")


def _board_options(config) -> dict:
    sim = config.getoption("--corvel-sim")
    serial = config.getoption("--corvel-serial")
    device = config.getoption("--corvel-device")
    if sum(1 for given in (sim, serial, device) if given) > 1:
        raise pytest.UsageError("--corvel-sim, --corvel-serial and --corvel-device name the board one way only")
    options = {"timeout": config.getoption("--corvel-timeout")}
    if sim:
        try:
            options["sim"] = int(sim, 0)
        except ValueError:
            raise pytest.UsageError(f"--corvel-sim takes a board id, not {sim!r}") from None
    if serial:
        options["serial"] = serial
    if device:
        options["device"] = device
    return options


def pytest_configure(config):
    config.addinivalue_line("markers", "corvel_sim_only: the test needs the simulated board (it drives its pins)")
    # Checked once, before any test runs: a mistyped option is a usage error.
    if config.getoption("--corvel-sim", default=None) is not None or config.getoption("--corvel-serial", default=""):
        _board_options(config)


@pytest.fixture
def corvel_board_options(request) -> dict:
    """What ``corvel.open`` gets for the board under test."""
    return _board_options(request.config)


@pytest.fixture
def corvel_board(request, corvel_board_options):
    """The lamp board under test, identified and with its chip reset."""
    if request.node.get_closest_marker("corvel_sim_only") and "sim" not in corvel_board_options:
        pytest.skip("needs the simulated board (--corvel-sim)")
    with corvel.open(**corvel_board_options) as board:
        board.reset()
        yield board
