"""Checks shared by the end-to-end harnesses of the Linux and Windows players:
failures, waiting for a condition, and reading screenshots."""
import re
import time


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval)


def parse_ppm(data):
    """A binary PPM image as (width, height, RGB bytes)."""
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    check(match, "not a PPM image")
    width, height, maximum = (int(g) for g in match.groups())
    check(maximum == 255, "unexpected PPM depth")
    pixels = data[match.end():match.end() + width * height * 3]
    check(len(pixels) == width * height * 3, "short PPM image")
    return width, height, pixels


def crop(image, x, y, width, height):
    """The RGB bytes of a rectangle of a parsed image, row after row."""
    image_width, _, pixels = image
    return b"".join(pixels[(row * image_width + x) * 3:(row * image_width + x + width) * 3]
                    for row in range(y, y + height))
