#!/usr/bin/env python3
"""Writes the embedded device-profile database (resource 201, resources/avprofiles.xml).

The profile table and the default map are fixed. The device entries are generated from a fixed
seed, so the output is the same on every run, with these properties (the database test counts
them again in the built program):
  - 239 "mcinfo" entries, 237 distinct product codes (two codes occur twice; the first
    occurrence differs from the second so that a lookup can tell them apart);
  - shapes: 146 entries with video, audio and image sections (levels and support), 63 whose
    "image" holds one bare "profile", 30 with "video" only;
  - 163 entries list "video/x-ms-wmv" with one "WMV3" limit of 320x240 at 30 frames a second;
  - video "max" sizes 128x96, 176x144, 320x240, 352x288, 640x480, 1280x720 and, in exactly two
    entries, 640x640; frame rates 15, 20 and 30;
  - every audio section lists "audio/mp4"; no entry uses "equal" or "min".
A few entries are written by hand (ANCHORS) because the decision tests name them.

Usage: genavprofiles.py [output]   (default: the resource file next to this folder)
       genavprofiles.py --check    (exit 1 when the resource file differs from the output)
"""

import os
import sys

VIDEO_MP4 = [
    (1, 176, 144, 15, 192000, "mpeg-4"),
    (2, 320, 240, 15, 384000, "mpeg-4"),
    (3, 320, 240, 15, 384000, "avc"),
    (4, 320, 240, 30, 768000, "avc"),
    (5, 640, 480, 30, 1500000, "avc"),
    (6, 320, 240, 15, 192000, "avc"),
    (7, 640, 480, 30, 3000000, "mpeg-4"),
    (8, 176, 144, 15, 64000, "avc"),
    (9, 176, 144, 15, 128000, "avc"),
    (10, 320, 240, 15, 192000, "mpeg-4"),
    (11, 320, 240, 15, 768000, "avc"),
    (12, 320, 240, 30, 4000000, "avc"),
    (13, 640, 480, 30, 8000000, "mpeg-4"),
    (14, 320, 240, 30, 3000000, "avc"),
    (15, 640, 480, 30, 6000000, "mpeg-4"),
    (16, 320, 240, 30, 2500000, "avc"),
    (17, 800, 480, 30, 5000000, "avc"),
    (18, 1280, 720, 30, 8000000, "mpeg-4"),
    (19, 1280, 720, 30, 5000000, "avc"),
    (20, 320, 240, 30, 384000, "avc"),
    (21, 176, 144, 15, 96000, "avc"),
    (22, 128, 96, 15, 64000, "avc"),
    (23, 128, 96, 15, 96000, "avc"),
    (24, 128, 96, 15, 128000, "avc"),
]
AUDIO_MP4 = [(1, 64000), (2, 128000), (3, 192000)]
IMAGE_JPEG = [(1, 320, 240), (2, 640, 480), (3, 0, 0)]

LOW_IDS = [1, 3, 4, 6, 8, 9, 11, 20, 22]
MEDIUM_IDS = [1, 3, 4, 6, 9, 11, 12, 14, 16, 23]
HIGH_IDS = [1, 2, 3, 4, 5, 7, 9, 10, 15, 18, 19, 20, 24]
SIZES = [(128, 96), (176, 144), (320, 240), (352, 288), (640, 480), (1280, 720)]
FRAMERATES = [15, 20, 30]
AUDIO_TYPES = ["audio/mpeg", "audio/aac", "audio/mp4", "audio/amr", "audio/x-pn-realaudio",
               "audio/wav", "audio/x-ms-wma"]
IMAGE_TYPES = ["image/jpeg", "image/gif", "image/bmp", "image/png"]
CODEC_SETS = [["mpeg-4"], ["avc"], ["mpeg-4", "avc"]]

FULL, BARE_IMAGE, VIDEO_ONLY = "full", "bare-image", "video-only"
SHAPE_COUNTS = {FULL: 146, BARE_IMAGE: 63, VIDEO_ONLY: 30}
WMV_COUNT = 163
SQUARE_COUNT = 2  # entries whose largest video is 640x640


class Lcg:
    """A small generator of our own, so that the output never depends on a library's."""

    def __init__(self, seed):
        self.state = seed

    def below(self, bound):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % 2**64
        return (self.state >> 33) % bound

    def pick(self, values):
        return values[self.below(len(values))]

    def subset(self, values, required=()):
        chosen = [v for v in values if v in required or self.below(2) == 1]
        return chosen if chosen else [values[0]]


def limit(codec, size, framerate, audiostreams=True):
    entry = {"codec": codec, "width": size[0], "height": size[1], "framerate": framerate}
    if audiostreams:
        entry["audiostreams"] = 1
    return entry


def device(code, shape, levels, mp4, gpp, wmv, audio=None, image=None):
    """One entry: levels (low, medium, high video profile ids), the limits of "video/mp4" and
    "video/3gpp" (lists of limit dicts), whether "video/x-ms-wmv" is listed, the audio and image
    support lists."""
    return {"code": code, "shape": shape, "levels": levels, "mp4": mp4, "3gpp": gpp,
            "wmv": wmv, "audio": audio, "image": image}


# Entries that the tests name. The first is the entry the database description gives in full.
ANCHORS = [
    device("TN-15", FULL, (1, 1, 1), [limit("mpeg-4", (352, 288), 15)], [], False,
           ["audio/mpeg", "audio/aac", "audio/mp4", "audio/amr", "audio/x-pn-realaudio",
            "audio/wav"], ["image/jpeg", "image/gif", "image/bmp", "image/png"]),
    device("KA-320", FULL, (8, 12, 19),
           [limit("avc", (320, 240), 30), limit("mpeg-4", (176, 144), 15)],
           [limit("mpeg-4", (176, 144), 15)], True,
           ["audio/mpeg", "audio/aac", "audio/mp4"], ["image/jpeg", "image/png"]),
    device("KB-41", BARE_IMAGE, (6, 9, 10), [limit("avc", (640, 480), 30)],
           [limit("avc", (320, 240), 20)], True, ["audio/mp4", "audio/x-ms-wma"]),
    device("KC-07a", VIDEO_ONLY, (22, 23, 24), [limit("mpeg-4", (128, 96), 15)],
           [limit("mpeg-4", (128, 96), 15)], False),
    device("KD-100", FULL, (3, 4, 5), [limit("avc", (640, 640), 30)],
           [limit("avc", (640, 640), 30)], True, ["audio/mp4"], ["image/bmp", "image/gif"]),
]
# Later entries with the codes of earlier ones: never found, the first occurrence wins.
DUPLICATES = [
    device("KD-100", FULL, (20, 16, 18), [limit("mpeg-4", (1280, 720), 30)],
           [limit("mpeg-4", (1280, 720), 30)], False, ["audio/mp4", "audio/wav"],
           ["image/jpeg"]),
    device("KA-320", VIDEO_ONLY, (22, 23, 24), [limit("avc", (128, 96), 15)], [], False),
]
DUPLICATE_POSITIONS = [57, 181]  # indexes of the duplicates in the finished list


def product_codes(rng, taken):
    letters = "ABCDEFGHJKLMNPRSTUVWXYZ"
    while True:
        code = "%s%s-%d" % (rng.pick(letters), rng.pick(letters), 10 + rng.below(990))
        if rng.below(6) == 0:
            code += rng.pick("abcdeks")
        if code not in taken:
            taken.add(code)
            yield code


def video_limits(rng, size, framerate):
    return [limit(codec, size, framerate) for codec in rng.pick(CODEC_SETS)]


def generated_devices(rng):
    fixed = ANCHORS + DUPLICATES
    remaining = dict(SHAPE_COUNTS)
    for entry in fixed:
        remaining[entry["shape"]] -= 1
    shapes = [s for s in (FULL, BARE_IMAGE, VIDEO_ONLY) for _ in range(remaining[s])]
    # Interleave the shapes: a fixed shuffle.
    for i in range(len(shapes) - 1, 0, -1):
        j = rng.below(i + 1)
        shapes[i], shapes[j] = shapes[j], shapes[i]
    wmv_left = WMV_COUNT - sum(1 for entry in fixed if entry["wmv"])
    square_left = SQUARE_COUNT - sum(1 for e in fixed if (640, 640) in sizes_of(e))
    codes = product_codes(rng, {entry["code"] for entry in fixed})
    devices = []
    for index, shape in enumerate(shapes):
        # The first entries walk through every level id and size so that each is in use.
        levels = (LOW_IDS[index % len(LOW_IDS)], MEDIUM_IDS[index % len(MEDIUM_IDS)],
                  HIGH_IDS[index % len(HIGH_IDS)]) if index < len(HIGH_IDS) else (
            rng.pick(LOW_IDS), rng.pick(MEDIUM_IDS), rng.pick(HIGH_IDS))
        size = SIZES[index % len(SIZES)] if index < len(SIZES) else rng.pick(SIZES)
        framerate = FRAMERATES[index % 3] if index < 3 else rng.pick(FRAMERATES)
        if square_left > 0 and index in (40, 120):
            size, square_left = (640, 640), square_left - 1
        smaller = min(SIZES.index(size) if size in SIZES else 4, rng.below(len(SIZES)))
        wmv = wmv_left > 0 and (rng.below(239) < 180 or len(shapes) - index <= wmv_left)
        wmv_left -= 1 if wmv else 0
        audio = image = None
        if shape != VIDEO_ONLY:
            audio = rng.subset(AUDIO_TYPES, required=("audio/mp4",))
        if shape == FULL:
            image = rng.subset(IMAGE_TYPES)
        devices.append(device(next(codes), shape, levels, video_limits(rng, size, framerate),
                              video_limits(rng, SIZES[smaller], framerate), wmv, audio, image))
    return devices


def sizes_of(entry):
    return {(l["width"], l["height"]) for l in entry["mp4"] + entry["3gpp"]}


def all_devices():
    devices = ANCHORS + generated_devices(Lcg(0x5EED2010))
    for position, entry in zip(DUPLICATE_POSITIONS, DUPLICATES):
        devices.insert(position, entry)
    return devices


def attributes(values):
    return "".join(' %s="%s"' % (name, value) for name, value in values.items())


def profile_ref(mime, profile_id):
    return '<profile mime="%s" profileid="%d"/>' % (mime, profile_id)


def support_type(mime, limits):
    if not limits:
        return ['<type mime="%s"/>' % mime]
    lines = ['<type mime="%s">' % mime]
    for entry in limits:
        values = dict(entry)
        codec = values.pop("codec")
        lines += ['  <limit codec="%s">' % codec, "    <max%s/>" % attributes(values),
                  "  </limit>"]
    return lines + ["</type>"]


def levels_xml(mime, ids):
    lines = []
    for level, profile_id in zip(("low", "medium", "high"), ids):
        lines += ["<%s>" % level, "  " + profile_ref(mime, profile_id), "</%s>" % level]
    return lines


def indent(lines, depth=1):
    return ["  " * depth + line for line in lines]


def device_xml(entry):
    video = levels_xml("video/mp4", entry["levels"]) + ["<support>"]
    support = support_type("video/mp4", entry["mp4"]) + support_type("video/3gpp", entry["3gpp"])
    support += support_type("video/vnd.rn-realvideo", [])
    if entry["wmv"]:
        support += support_type("video/x-ms-wmv", [
            {"codec": "WMV3", "width": 320, "height": 240, "framerate": 30}])
    video += indent(support) + ["</support>"]
    lines = ["<video>"] + indent(video) + ["</video>"]
    if entry["audio"] is not None:
        audio = ["<support>"] + indent(['<type mime="%s"/>' % m for m in entry["audio"]])
        lines += ["<audio>"] + indent(audio + ["</support>"]) + ["</audio>"]
    if entry["shape"] == FULL:
        image = levels_xml("image/jpeg", (1, 2, 3)) + ["<support>"]
        image += indent(['<type mime="%s"/>' % m for m in entry["image"]]) + ["</support>"]
        lines += ["<image>"] + indent(image) + ["</image>"]
    elif entry["shape"] == BARE_IMAGE:
        lines += ["<image>", "  " + profile_ref("image/jpeg", 1), "</image>"]
    return ['<mcinfo productcode="%s">' % entry["code"]] + indent(lines) + ["</mcinfo>"]


def profile_table():
    lines = ['<profileset mime="video/mp4">']
    for pid, width, height, framerate, bitrate, codec in VIDEO_MP4:
        lines.append('  <profile id="%d" width="%d" height="%d" framerate="%d" bitrate="%d" '
                     'codec="%s"/>' % (pid, width, height, framerate, bitrate, codec))
    lines += ["</profileset>", '<profileset mime="audio/mp4">']
    lines += ['  <profile id="%d" bitrate="%d"/>' % row for row in AUDIO_MP4]
    lines += ["</profileset>", '<profileset mime="image/jpeg">']
    lines += ['  <profile id="%d" width="%d" height="%d"/>' % row for row in IMAGE_JPEG]
    return ["<profiletable>"] + indent(lines + ["</profileset>"]) + ["</profiletable>"]


def document():
    default = ["<default>"] + indent([
        "<video>", "  " + profile_ref("video/mp4", 1), "</video>",
        "<audio>", "  " + profile_ref("audio/mp4", 1), "</audio>",
        "<image>", "  " + profile_ref("image/jpeg", 1), "</image>"]) + ["</default>"]
    profile_map = default
    for entry in all_devices():
        profile_map += device_xml(entry)
    body = profile_table() + ["<profilemap>"] + indent(profile_map) + ["</profilemap>"]
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<profiles>"] + indent(body)
    return "\n".join(lines + ["</profiles>", ""])


def main(arguments):
    default_output = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                  "avprofiles.xml")
    text = document()
    if arguments and arguments[0] == "--check":
        path = arguments[1] if len(arguments) > 1 else default_output
        with open(path, encoding="utf-8") as existing:
            if existing.read() != text:
                print("%s differs from the generator's output" % path, file=sys.stderr)
                return 1
        return 0
    with open(arguments[0] if arguments else default_output, "w", encoding="utf-8") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
