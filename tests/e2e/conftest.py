"""Fixtures of the Linux player's end-to-end tests: the paths they need
(skipped, saying why, when a tool or a picture is missing) and player
sessions on virtual X servers."""
import functools
import types

import pytest

from player import Session
from players import opened
from skips import missing_pictures, require_tools


@pytest.fixture(scope="session")
def player_paths(options):
    """The player, picture_dump, the pictures and the preload libraries."""
    require_tools("Xvfb", "xdotool", "xwininfo", "xprop", "import",
                  what="the player's end-to-end tests")
    paths = types.SimpleNamespace(player=options.path("player"), dump=options.path("dump"),
                                  data=options.path("data"), probe=options.given("probe"),
                                  faults=options.given("faults"),
                                  soak_seconds=options.number("soak-seconds"))
    absent = missing_pictures(paths.data)
    if absent:
        pytest.skip("the pictures %s are not in %s" % (", ".join(absent), paths.data))
    return paths


@pytest.fixture
def player_session(player_paths, x_servers):
    """player_session(screen=..., window_manager=False): a new X server for one
    run of the player, usable with `with`; any still open at the end of the
    test are closed."""
    yield from opened(functools.partial(Session, player_paths, x_servers))
