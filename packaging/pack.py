#!/usr/bin/env python3
"""Writes a release archive whose bytes depend on its files alone, and its
checksum beside it (ARCHIVE.sha256, as sha256sum -c reads it).

Every entry gets the time SOURCE_DATE_EPOCH (the commit's, from CMake), the
same mode for every file of its kind, and no owner, so that neither the
build folder, the user nor the clock changes a byte.

    pack.py ARCHIVE.zip|ARCHIVE.tar.gz NAME=FILE...
"""
import gzip
import hashlib
import io
import os
import sys
import tarfile
import time
import zipfile


def main():
    archive, entries = sys.argv[1], [arg.split("=", 1) for arg in sys.argv[2:]]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    files = [(name, open(path, "rb").read(), os.access(path, os.X_OK)) for name, path in entries]
    out = io.BytesIO()
    if archive.endswith(".zip"):
        # DOS times start in 1980 and have no zone.
        stamp = time.gmtime(max(epoch, 315532800))[:6]
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
            for name, data, _ in files:
                info = zipfile.ZipInfo(name, stamp)
                info.create_system = 0  # MS-DOS: attributes without an owner
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
    else:
        raw = io.BytesIO()
        with tarfile.open(fileobj=raw, mode="w", format=tarfile.USTAR_FORMAT) as t:
            for name, data, executable in files:
                info = tarfile.TarInfo(name)
                info.size, info.mtime = len(data), epoch
                info.mode = 0o755 if executable else 0o644
                info.uid = info.gid = 0
                info.uname = info.gname = ""
                t.addfile(info, io.BytesIO(data))
        with gzip.GzipFile(fileobj=out, mode="wb", compresslevel=9, mtime=0, filename="") as g:
            g.write(raw.getvalue())
    data = out.getvalue()
    with open(archive, "wb") as f:
        f.write(data)
    with open(archive + ".sha256", "w") as f:
        f.write(f"{hashlib.sha256(data).hexdigest()}  {os.path.basename(archive)}\n")


main()
