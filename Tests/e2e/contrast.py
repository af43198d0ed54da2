#!/usr/bin/python3
# The contrast of a warning's text in a screenshot of the panel, as the accessibility guidelines
# compute it: the amber pixel that stands out most from the background (the colour most of the
# panel shows), which is the core of a glyph; anti-aliased edges lie between the two. Prints the
# colours and the ratio; exits 1 when nothing amber is seen.
#   contrast.py SCREENSHOT
import colorsys
import re
import subprocess
import sys

histogram = subprocess.run(["convert", sys.argv[1], "-format", "%c", "histogram:info:-"],
                           capture_output=True, text=True, check=True).stdout
colours = []
for line in histogram.splitlines():
    found = re.match(r"\s*(\d+):\s*\(\s*([\d.]+),\s*([\d.]+),\s*([\d.]+)", line)
    if found:
        colours.append((int(found[1]), tuple(float(v) / 255 for v in found.groups()[1:])))


def luminance(colour):
    def channel(v):
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    r, g, b = (channel(v) for v in colour)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def is_amber(colour):
    hue, saturation, _ = colorsys.rgb_to_hsv(*colour)
    return 20 / 360 <= hue <= 50 / 360 and saturation >= 0.5


background = max(colours)[1]
amber = [colour for _, colour in colours if is_amber(colour)]
if not amber:
    print("no warning seen")
    sys.exit(1)
text = max(amber, key=lambda colour: contrast(colour, background))
hexed = ["#%02x%02x%02x" % tuple(round(v * 255) for v in c) for c in (text, background)]
print("%s on %s: %.2f:1" % (hexed[0], hexed[1], contrast(text, background)))
