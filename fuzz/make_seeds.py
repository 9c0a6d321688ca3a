"""Cuts the Python files under a directory into small seed inputs for the fuzz targets.

Each file is split at top-level statement boundaries into chunks of at most MAX_CHUNK bytes, so
that a seed is quick to run and mutations stay near real code. A deterministic spread of at most
MAX_SEEDS chunks is written, named by their content hash.
"""

import hashlib
import os
import sys

MAX_CHUNK = 1024
MAX_SEEDS = 6000


def chunks(text):
    """Top-level statements grouped up to MAX_CHUNK bytes; longer statements are cut by lines."""
    piece = []
    size = 0
    for line in text.splitlines(keepends=True):
        starts_statement = line[:1] not in ("", " ", "\t", "\n", "\r", "#", ")", "]", "}")
        if piece and (size + len(line) > MAX_CHUNK or (starts_statement and size > MAX_CHUNK // 4)):
            yield "".join(piece)
            piece, size = [], 0
        piece.append(line)
        size += len(line)
    if piece:
        yield "".join(piece)


def main(source_dir, out_dir):
    found = []
    for root, dirs, files in os.walk(source_dir):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(".py"):
                continue
            try:
                with open(os.path.join(root, name), encoding="utf-8") as f:
                    text = f.read()
            except (OSError, UnicodeDecodeError):
                continue
            found.extend(c for c in chunks(text) if c.strip())
    step = max(1, len(found) // MAX_SEEDS)
    os.makedirs(out_dir, exist_ok=True)
    for chunk in found[::step][:MAX_SEEDS]:
        data = chunk.encode("utf-8")[:MAX_CHUNK * 2]
        with open(os.path.join(out_dir, hashlib.sha1(data).hexdigest()), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
