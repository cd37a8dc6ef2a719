"""The end-to-end tests' shared options and fixtures (tests/conftest.py),
and the options only the measurements take."""
from suites import conftest

_shared = conftest("")
globals().update(_shared)
_suite_options = _shared["pytest_addoption"]


def pytest_addoption(parser):
    _suite_options(parser)
    group = parser.getgroup("queltravine")
    group.addoption("--speed-seconds", type=float, default=65,
                    help="how long the speed measurements run (default 65)")
    group.addoption("--throttle", type=float, default=4,
                    help="how many times Chromium's CPU is slowed in the throttled "
                    "measurement (default 4)")
    group.addoption("--reduce-flashes", action="store_true",
                    help="the throttled measurement runs the show with its flashing reduced")
