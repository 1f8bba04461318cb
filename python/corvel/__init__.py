"""The QV603x lamp board from Python.

A first session, on the simulated board::

    >>> import corvel
    >>> with corvel.open(sim=1) as board:
    ...     board.mode = "led"
    ...     board.current_ma = 25
    ...     board.leds[:] = 0
    ...     board.leds[3] = 128
    ...     board.regs[0x20:0x26]
    [0, 0, 0, 128, 0, 0]

``corvel.list()`` names the attached boards; ``corvel.open(serial=...)`` or
``corvel.open(device=...)`` opens one of them. Every call waits for the
board's answer (up to ``timeout`` seconds) and lets other Python threads run
meanwhile, so several boards are driven at once from several threads.

Failures are ``corvel.Error`` and its kinds: ``LinkError`` (the board is not
there, went away, the link failed), ``ChipError`` (the board answered and
refused), ``TimeoutError`` (no answer in time; also a builtin
``TimeoutError``). A mistake in the call itself is a ``ValueError`` and sends
nothing.
"""

from __future__ import annotations

import re
from typing import Callable, Dict, List, Optional, Sequence, Union

from ._corvel import ChipError, Error, LinkError, TimeoutError  # noqa: A004
from . import _corvel

for _error in (Error, LinkError, ChipError, TimeoutError):
    _error.__module__ = __name__  # named corvel.LinkError in tracebacks

__all__ = [
    "Board", "Error", "LinkError", "ChipError", "TimeoutError", "list", "open", "make_image", "check_image",
    "setup_writes", "export_setup", "TIMES",
]

#: The times the chip's effects know, as they are written.
TIMES = ("315ms", "630ms", "1260ms", "2520ms", "5040ms")

_list = list  # the builtin, before this module's list() hides it


def list(sim: Union[int, Sequence[int], None] = None) -> List[dict]:  # noqa: A001
    """The attached lamp boards, each a dict with ``path``, ``serial`` ('' when
    the board has none), ``release`` and ``mode`` ("application" or
    "bootloader"). With ``sim``: the boards of a simulated bench with these
    ids."""
    return _corvel.list_boards(_ids(sim))


def open(  # noqa: A001
    sim: Union[int, Sequence[int], None] = None,
    serial: str = "",
    device: str = "",
    timeout: float = 5.0,
    chip_address: int = 0x5B,
    sim_faults: str = "",
    sim_latency: Optional[int] = None,
    sim_seed: int = 1,
    sim_chip_address: int = 0x5B,
) -> "Board":
    """Opens and identifies one lamp board and returns it; use it in a ``with``
    block so that it is closed at the end.

    ``sim=ID`` (or a list of ids, a bench) is a simulated board, ``serial=`` and
    ``device=`` name a real one (with several attached one must be named).
    ``timeout`` is how long each answer is waited for, in seconds.
    ``sim_faults`` ("drop=2,corrupt=2,nak=1"), ``sim_latency`` (ms per report)
    and ``sim_seed`` make the simulated link lossy or slow."""
    return Board(
        _corvel.Board(
            sim=_ids(sim),
            serial=serial,
            device=device,
            timeout=timeout,
            chip_address=chip_address,
            sim_faults=sim_faults,
            sim_latency=sim_latency,
            sim_seed=sim_seed,
            sim_chip_address=sim_chip_address,
        )
    )


def make_image(data: bytes, check_word: Optional[int] = None) -> bytes:
    """A .qvbin firmware image of ``data``: the data and its 12-byte trailer
    (length, check word, checksum). The check word defaults to the data's
    checksum, which the bootloader verifies the programmed flash against; 0
    skips that check."""
    return _corvel.make_image(bytes(data), check_word)


def check_image(path: str) -> dict:
    """Loads a .qvbin image as the update does: its ``length``, ``check_word``
    and ``checksum``; ValueError saying why when it is refused."""
    return _corvel.check_image(str(path))


def setup_writes(path: str) -> List[tuple]:
    """The register writes a setup file makes, in order, each (register, data,
    what), without a board (``corvelctl apply --dry-run``)."""
    return _corvel.setup_writes(str(path))


def export_setup(path: str, format: str = "c") -> str:  # noqa: A002
    """A setup file's register writes for a product's firmware: "c" a C header,
    "json" a JSON list (``corvelctl export``)."""
    return _corvel.export_setup(str(path), format)


def _ids(sim):
    if sim is None:
        return None
    if isinstance(sim, bool):
        raise ValueError("sim is a board id (0, 1, 3, 5 or 128) or a list of them")
    if isinstance(sim, int):
        return [sim]
    return [int(i) for i in sim]


def _time(value: Union[str, int], what: str) -> str:
    if isinstance(value, bool):
        raise ValueError(f"{what} must be one of {', '.join(TIMES)}")
    if isinstance(value, int):
        return f"{value}ms"
    return str(value)


class _Leds:
    """``board.leds``: the brightness of each LED, 0..255, by index, slice or
    several indices (``board.leds[0, 3] = 128``).

    Writing stops a running effect and writes the whole brightness block; the
    LEDs not named keep what the chip holds. Reading reads the chip's
    brightness registers."""

    def __init__(self, board: "Board"):
        self._board = board

    def __len__(self) -> int:
        return self._board.led_count

    def _indices(self, key) -> Sequence[int]:
        n = len(self)
        if isinstance(key, slice):
            return range(n)[key]
        if isinstance(key, tuple):
            return [i for k in key for i in self._indices(k)]
        if isinstance(key, bool) or not isinstance(key, int):
            raise TypeError("LEDs are indexed by int or slice")
        if key < 0:
            key += n
        if not 0 <= key < n:
            raise IndexError(f"LED {key} is not on this board: it has LEDs 0..{n - 1}")
        return [key]

    def __getitem__(self, key):
        values = self._board._native.read_leds()
        if isinstance(key, slice):
            return [values[i] for i in self._indices(key)]
        return values[self._indices(key)[0]]

    def __setitem__(self, key, value) -> None:
        indices = _list(self._indices(key))
        if not indices:
            return
        if isinstance(key, tuple) and isinstance(value, int):
            # board.leds[0, 3] = 128: those LEDs, the others keep what the chip holds.
            self._board._native.set_leds(value, indices)
            return
        if isinstance(value, int):
            values = [value] * len(indices)
        else:
            values = [int(v) for v in value]
            if len(values) != len(indices):
                raise ValueError(f"{len(values)} values for {len(indices)} LEDs")
        contiguous = indices == _list(range(indices[0], indices[0] + len(indices)))
        if contiguous:
            self._board._native.set_led_values(indices[0], values)
        elif len(set(values)) == 1:
            self._board._native.set_leds(values[0], indices)
        else:
            now = self._board._native.read_leds()
            for i, v in zip(indices, values):
                now[i] = v
            self._board._native.set_led_values(0, now)

    def __iter__(self):
        return iter(self[:])

    def __repr__(self) -> str:
        return f"<LEDs {self[:]}>"


class _Registers:
    """``board.regs``: the chip's registers by address and slice (reads and
    writes of consecutive registers; a slice has no step)."""

    def __init__(self, board: "Board"):
        self._board = board

    @staticmethod
    def _span(key):
        if isinstance(key, slice):
            if key.step not in (None, 1):
                raise ValueError("a register slice has no step")
            start = 0 if key.start is None else key.start
            stop = 0x100 if key.stop is None else key.stop
            if not 0 <= start < stop <= 0x100:
                raise ValueError("a register slice lies within 0x00..0xFF and holds at least one")
            return start, stop - start
        if isinstance(key, bool) or not isinstance(key, int):
            raise TypeError("registers are addressed by int or slice")
        if not 0 <= key <= 0xFF:
            raise ValueError(f"register 0x{key:X} is past 0xFF")
        return key, 1

    def __getitem__(self, key):
        start, count = self._span(key)
        values = self._board._native.read_registers(start, count)
        return values if isinstance(key, slice) else values[0]

    def __setitem__(self, key, value) -> None:
        start, count = self._span(key)
        values = [value] if isinstance(value, int) else [int(v) for v in value]
        if isinstance(key, slice) and key.stop is not None and len(values) != count:
            raise ValueError(f"{len(values)} values for {count} registers")
        self._board._native.write_registers(start, values)

    def modify(self, reg: int, mask: int, bits: int) -> int:
        """Reads ``reg``, writes back its bits outside ``mask`` with ``bits``
        inside it; returns the value written."""
        return self._board._native.modify_register(reg, mask, bits)[1]


class _Gpio:
    """``board.gpio``: the chip's pins as GPIO (``board.mode = "gpio"`` first).
    Pins are numbered as on the board."""

    def __init__(self, board: "Board"):
        self._board = board

    def read(self) -> List[int]:
        """The two input ports (registers 0x00 and 0x01), port 0 first."""
        return _list(self._board._native.read_inputs())

    def out(self, levels: Dict[int, bool]) -> List[int]:
        """Sets the output level of the pins named ({3: True} sets pin 3 high);
        returns the pins that are high now."""
        return self._board._native.set_output_levels(dict(levels))[0]

    def interrupts(self, enabled: Dict[int, bool]) -> List[int]:
        """Lets the pins named raise an interrupt, or not; returns the pins
        whose interrupt is disabled now."""
        return self._board._native.set_interrupts(dict(enabled))[0]

    def direction(self, direction: str) -> None:
        """"input" or "output" for every pin."""
        if direction not in ("input", "output"):
            raise ValueError(f"direction is 'input' or 'output', not {direction!r}")
        self._board._native.set_direction(direction == "input")

    def drive(self, driver: str) -> int:
        """"open-drain" or "push-pull" for every pin (bit 4 of 0x11, the other
        bits kept); returns the value written to 0x11."""
        if driver not in ("open-drain", "push-pull"):
            raise ValueError(f"driver is 'open-drain' or 'push-pull', not {driver!r}")
        return self._board._native.set_driver(driver == "push-pull")[1]


class _Closed:
    def __getattr__(self, name):
        raise ValueError("the board is closed")


class Board:
    """One identified lamp board (see ``corvel.open``). Its methods may be
    called from several threads; they take turns."""

    def __init__(self, native: "_corvel.Board"):
        self._native = native
        info = native.info()
        self.board_id: int = info["board_id"]
        self.chip_board: str = info["chip_board"]
        self.led_count: int = info["led_count"]
        self.firmware: str = info["firmware"]
        self.leds = _Leds(self)
        self.regs = _Registers(self)
        self.gpio = _Gpio(self)

    # ---- life ----
    def close(self) -> None:
        """Closes the link; the board is left as it is."""
        self._native = _Closed()

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<corvel.Board {self.chip_board} (board {self.board_id})>"

    # ---- the chip ----
    @property
    def chip_address(self) -> int:
        """The chip's I2C address, 0x58..0x5B (the board is told when set)."""
        return self._native.chip_address()

    @chip_address.setter
    def chip_address(self, address: int) -> None:
        self._native.set_chip_address(address)

    @property
    def current_ma(self) -> int:
        """The global maximum LED current: set 1..40 mA (the chip keeps one of
        four ranges); read, the top of the range register 0x11 holds."""
        return self._native.current_ma()

    @current_ma.setter
    def current_ma(self, milliamps: int) -> None:
        if isinstance(milliamps, bool) or not isinstance(milliamps, int):
            raise ValueError("current_ma is a whole number of milliamps, 1..40")
        self._native.set_current(milliamps)

    @property
    def mode(self) -> Optional[str]:
        """"led" or "gpio": the pins' use. The chip does not read it back: this
        is what was set through this board, None before that and after a reset."""
        mode = self._native.mode()
        return None if mode is None else ("led" if mode else "gpio")

    @mode.setter
    def mode(self, mode: str) -> None:
        if mode not in ("led", "gpio"):
            raise ValueError(f"mode is 'led' or 'gpio', not {mode!r}")
        self._native.set_mode(mode == "led")

    def wait_interrupt(self, timeout: float = 5.0) -> None:
        """Returns once the board reports an interrupt (one that came since the
        last wait counts); corvel.TimeoutError after ``timeout`` seconds."""
        self._native.wait_interrupt(timeout)

    def blink(
        self,
        ramp_on: Union[str, int],
        ramp_off: Union[str, int],
        keep_on: Union[str, int],
        keep_off: Union[str, int],
        reset: bool = False,
    ) -> None:
        """Starts the chip's blink effect; each time is one of ``TIMES`` ("315ms",
        or 315). The chip starts blink a second time only after a reset:
        ``reset=True`` resets it first."""
        self._native.run_effect(
            "blink",
            _time(ramp_on, "ramp_on"),
            _time(ramp_off, "ramp_off"),
            _time(keep_on, "keep_on"),
            _time(keep_off, "keep_off"),
            reset,
        )

    def fade(self, on: bool, ramp_on: Union[str, int], ramp_off: Union[str, int]) -> None:
        """Starts the chip's fade effect towards on (``on=True``) or off."""
        self._native.run_effect(
            "fade on" if on else "fade off", _time(ramp_on, "ramp_on"), _time(ramp_off, "ramp_off"), "", "", False
        )

    def reset(self) -> None:
        """Software reset of the chip (0x00 to 0x7F)."""
        self._native.reset()

    def apply(self, path: str) -> List[tuple]:
        """Writes a setup file (as the window saves it) to the chip; returns the
        writes made, each (register, data, what)."""
        return self._native.apply(str(path))

    def flash(self, path: str, progress: Optional[Callable[[int], None]] = None) -> None:
        """Updates the board's firmware with a .qvbin image; ``progress`` is
        called with 0..100 as it goes. An exception in it, or Ctrl-C, stops the
        update after the current block (the board then stays in its
        bootloader, and flashing again finishes it)."""
        self._native.flash(str(path), progress)

    # ---- the simulated board ----
    def sim_drive(self, pins: Dict[str, bool]) -> int:
        """Drives the simulated chip's pins from outside ({"P0_3": False});
        returns the levels outside, P0 in bits 0..7."""
        return self._native.sim_drive(dict(pins))

    def sim_faults(self, spec: str) -> None:
        """Makes the simulated link lossy from now on ("drop=5,corrupt=2")."""
        self._native.sim_set_faults(spec)

    def sim_unplug(self) -> None:
        """Unplugs the simulated board."""
        self._native.sim_unplug()
