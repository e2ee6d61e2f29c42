#!/usr/bin/python3
"""Makes release archives the same whoever packs them, and wherever.

CPack, as CMake 3.25 has it, writes the packer's ids into a .tar.gz's and
a .zip's entries, in the order the file system lists them, with the modes
the packer's umask left; a .zip entry's DOS date in the packer's time zone;
and counts directories, whose sizes differ between file systems, into a
.deb's Installed-Size. So each .tar.gz and .zip entry is given to root, put
in name order, and given mode 644 (755 for a directory or what anyone may
run); a .zip entry's DOS date is its time in UTC; each member of a .deb has
mode 644, and its Installed-Size is counted as dpkg-gencontrol counts it.

CMake 4.3 gives archive entries to root itself (policy CMP0206): the ids
go once greeting requires it. The rest can go when the oldest CMake that
greeting takes does it, as .ci/reproducible then shows.

Usage: reproducible_archive.py ARCHIVE...   each a .tar.gz, .zip or .deb, rewritten in place
"""

import gzip
import io
import pathlib
import re
import struct
import sys
import tarfile
import time
import zipfile

UNIX_IDS = 0x7875  # Info-ZIP's "ux" extra field: version, uid size, uid, gid size, gid
TIMES = 0x5455  # the "UT" extra field: flags, then the time of last change, in seconds since the epoch, UTC


def usual_mode(mode, directory):
    """644, or 755 for a directory or what anyone may run; the file type kept."""
    return mode & ~0o7777 | (0o755 if directory or mode & 0o111 else 0o644)


def tarball(path):
    packed = io.BytesIO()
    with tarfile.open(path) as old, tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as new:
        for member in sorted(old.getmembers(), key=lambda member: member.name):
            member.uid = member.gid = 0
            member.uname = member.gname = "root"
            member.mode = usual_mode(member.mode, member.isdir())
            new.addfile(member, old.extractfile(member) if member.isfile() else None)
    with open(path, "wb") as file:
        file.write(gzip.compress(packed.getvalue(), compresslevel=9, mtime=0))


def utc_date(extra, date_time):
    """The DOS date of the entry's time in UTC, from its UT field."""
    at = 0
    while at + 4 <= len(extra):
        kind, size = struct.unpack_from("<HH", extra, at)
        if kind == TIMES and size >= 5 and extra[at + 4] & 1:
            return time.gmtime(struct.unpack_from("<I", extra, at + 5)[0])[:6]
        at += 4 + size
    return date_time


def root_ids(extra):
    fields, at = b"", 0
    while at + 4 <= len(extra):
        kind, size = struct.unpack_from("<HH", extra, at)
        body = extra[at + 4 : at + 4 + size]
        if kind == UNIX_IDS:
            uid_size = body[1]
            gid_size = body[2 + uid_size]
            body = body[:2] + bytes(uid_size) + body[2 + uid_size : 3 + uid_size] + bytes(gid_size)
        fields += struct.pack("<HH", kind, len(body)) + body
        at += 4 + size
    return fields


def zip_archive(path):
    packed = io.BytesIO()
    with zipfile.ZipFile(path) as old, zipfile.ZipFile(packed, "w") as new:
        for entry in sorted(old.infolist(), key=lambda entry: entry.filename):
            fresh = zipfile.ZipInfo(entry.filename, utc_date(entry.extra, entry.date_time))
            fresh.compress_type, fresh.create_system = entry.compress_type, entry.create_system
            unix_mode = usual_mode(entry.external_attr >> 16, entry.is_dir())
            fresh.external_attr = unix_mode << 16 | entry.external_attr & 0xFFFF
            fresh.extra = root_ids(entry.extra)
            new.writestr(fresh, old.read(entry), compresslevel=9)
    with open(path, "wb") as file:
        file.write(packed.getvalue())


def debian_package(path):
    package = pathlib.Path(path).read_bytes()
    members, at = [], 8  # after "!<arch>\n"
    while at < len(package):
        header = package[at : at + 60]
        size = int(header[48:58])
        header = header[:40] + b"100644".ljust(8) + header[48:]
        members.append([header, package[at + 60 : at + 60 + size]])
        at += 60 + size + size % 2
    data = next(content for header, content in members if header.startswith(b"data.tar"))
    with tarfile.open(fileobj=io.BytesIO(data)) as files:
        kib = sum((entry.size + 1023) // 1024 if entry.isfile() else 1
                  for entry in files.getmembers() if entry.name not in (".", "./"))
    control = next(member for member in members if member[0].startswith(b"control.tar.gz"))
    packed = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(control[1])) as old, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as new:
        for member in old.getmembers():
            content = old.extractfile(member).read() if member.isfile() else None
            if member.name.lstrip("./") == "control":
                content = re.sub(rb"(?m)^Installed-Size: .*$", b"Installed-Size: %d" % kib, content)
                member.size = len(content)
            new.addfile(member, io.BytesIO(content) if content is not None else None)
    control[1] = gzip.compress(packed.getvalue(), compresslevel=9, mtime=0)
    control[0] = control[0][:48] + str(len(control[1])).encode().ljust(10) + control[0][58:]
    with open(path, "wb") as file:
        file.write(b"!<arch>\n")
        for header, content in members:
            file.write(header + content + b"\n" * (len(content) % 2))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    for archive in sys.argv[1:]:
        if archive.endswith(".tar.gz"):
            tarball(archive)
        elif archive.endswith(".zip"):
            zip_archive(archive)
        elif archive.endswith(".deb"):
            debian_package(archive)
