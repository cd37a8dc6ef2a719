"""The measurements run on the end-to-end tests' own set-up: the folders of
tests/ on the import path, and the fixtures of a suite's conftest.py loaded
under a name of their own (every suite's file is called conftest)."""
import importlib.util
import os
import sys

TESTS = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "tests"))
for folder in (TESTS, os.path.join(TESTS, "e2e"), os.path.join(TESTS, "wine"),
               os.path.join(TESTS, "web")):
    if folder not in sys.path:
        sys.path.insert(0, folder)


def conftest(suite):
    """The names defined by tests/SUITE/conftest.py (tests/conftest.py for
    ""), to be put into a measurement's own namespace."""
    path = os.path.join(TESTS, suite, "conftest.py")
    spec = importlib.util.spec_from_file_location("conftest_of_" + (suite or "tests"), path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return {name: value for name, value in vars(module).items() if not name.startswith("__")}
