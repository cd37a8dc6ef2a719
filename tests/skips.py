"""When an end-to-end test cannot run here: a tool or the pictures missing.
Each skip says why."""
import os
import shutil

import pytest

from demo_names import PICTURES


def require_tools(*tools, what="these tests"):
    """Skips, naming them, when tools are not installed."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        pytest.skip("%s need %s, not installed" % (what, ", ".join(missing)))


def missing_pictures(folder):
    """The pictures that are not in the folder."""
    return [name for name in PICTURES if not os.path.exists(os.path.join(folder, name))]
