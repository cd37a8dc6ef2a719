"""Names the demo uses that the Python tests look for: its six pictures and
its window titles. The one list of them for every Python test."""

# The pictures, in the order of the show; the player needs all six next to it.
PICTURES = ("warning.jpg", "credits.jpg", "part1.jpg", "part2.jpg", "part3.jpg", "greets.jpg")

WINDOWED_TITLE = "BWAHAHHAHAHAHAHHAHAHAHAHAH"
FULLSCREEN_TITLE = "BWAHAHAHAHAHAHAH"
