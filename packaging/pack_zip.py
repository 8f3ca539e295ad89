#!/usr/bin/python3
"""Packs a folder into a zip whose bytes depend on the files' contents alone:
entries in sorted order, one time for all (SOURCE_DATE_EPOCH), modes by kind.

Usage: SOURCE_DATE_EPOCH=SECONDS pack_zip.py FOLDER ZIP

The zip holds FOLDER itself as its one top-level folder.
"""
import os
import pathlib
import sys
import time
import zipfile

# Zip times start in 1980 and count in two-second steps.
ZIP_EPOCH = 315532800
FOLDER_MODE = 0o40755
PROGRAM_MODE = 0o100755
FILE_MODE = 0o100644
MSDOS_DIRECTORY = 0x10
UNIX = 3


def entry(name, date_time, mode):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = UNIX
    info.external_attr = mode << 16 | (MSDOS_DIRECTORY if name.endswith("/") else 0)
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info


def pack(folder, target, epoch):
    date_time = time.gmtime(max(epoch, ZIP_EPOCH) // 2 * 2)[:6]
    # Modes come from the kind of entry, not from the disk, where the umask
    # of whoever checked out the sources would show.
    members = {folder.name + "/": None}
    for path in folder.rglob("*"):
        name = folder.name + "/" + path.relative_to(folder).as_posix()
        if path.is_symlink() or not (path.is_dir() or path.is_file()):
            raise SystemExit(f"pack_zip: {path} is neither a plain file nor a folder")
        members[name + "/" if path.is_dir() else name] = path
    with zipfile.ZipFile(target, "w") as archive:
        for name in sorted(members):
            path = members[name]
            if path is None or path.is_dir():
                archive.writestr(entry(name, date_time, FOLDER_MODE), b"")
            else:
                mode = PROGRAM_MODE if name.endswith(".exe") else FILE_MODE
                archive.writestr(entry(name, date_time, mode), path.read_bytes(), compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) != 3 or "SOURCE_DATE_EPOCH" not in os.environ:
        raise SystemExit(__doc__)
    pack(pathlib.Path(sys.argv[1]), sys.argv[2], int(os.environ["SOURCE_DATE_EPOCH"]))
