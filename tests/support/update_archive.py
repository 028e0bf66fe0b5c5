#!/usr/bin/python3
"""Packs a folder into an update archive, optionally with hostile entries.

usage: update_archive.py OUT FORMAT FOLDER [EXTRA ...]
FORMAT: tar.gz, tar.xz or zip. FOLDER's contents go in under their own
names. Each EXTRA adds one entry after them:
  file:NAME              a small regular file named exactly NAME
  symlink:NAME:TARGET    a symbolic link (tar only)
  hardlink:NAME:TARGET   a hard link (tar only)
"""
import io
import os
import sys
import tarfile
import zipfile


def add_extra_tar(archive, entry):
    kind, name, *rest = entry.split(":", 2)
    info = tarfile.TarInfo(name)
    if kind == "file":
        data = b"payload\n"
        info.size = len(data)
        archive.addfile(info, io.BytesIO(data))
        return
    info.type = tarfile.SYMTYPE if kind == "symlink" else tarfile.LNKTYPE
    info.linkname = rest[0]
    archive.addfile(info)


def pack_tar(out, mode, folder, extras):
    with tarfile.open(out, mode, format=tarfile.PAX_FORMAT) as archive:
        for entry in sorted(os.listdir(folder)):
            archive.add(os.path.join(folder, entry), arcname=entry)
        for entry in extras:
            add_extra_tar(archive, entry)


def pack_zip(out, folder, extras):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(dirs) + sorted(files):
                path = os.path.join(root, name)
                archive.write(path, os.path.relpath(path, folder))
        for entry in extras:
            kind, name = entry.split(":", 2)[:2]
            if kind != "file":
                sys.exit("zip archives take file extras only")
            archive.writestr(zipfile.ZipInfo(name), b"payload\n")


def main():
    out, form, folder, *extras = sys.argv[1:]
    if form == "tar.gz":
        pack_tar(out, "w:gz", folder, extras)
    elif form == "tar.xz":
        pack_tar(out, "w:xz", folder, extras)
    elif form == "zip":
        pack_zip(out, folder, extras)
    else:
        sys.exit("unknown format " + form)


if __name__ == "__main__":
    main()
