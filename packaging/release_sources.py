#!/usr/bin/python3
"""Puts into a release the Debian source packages whose code is linked into
its packages under a licence that asks for the source to go with the
program (the LGPL's, for glibc in the static tarball): each package's bill
of materials marks them (third_party.py). Each is fetched whole, its .dsc
and every file the .dsc lists, exactly at the version linked, and each file
is checked against the .dsc. Where one cannot be fetched, or does not
match, it fails: the release must not ship without it.

They come through apt, from the machine's own Debian mirror: its sources,
as deb-src, in a private apt state under CACHE (no root needed, the
machine's apt untouched), whose downloads are kept there for the next
release. apt checks the mirror's signatures; a Release file's expiry is
not checked, as an exact old version is what is wanted.

Usage: release_sources.py --cache CACHE RELEASE PACKAGE...
PACKAGE is a .tar.gz, .zip or container image (.tar) of the release; those
without a bill of materials (the source package) are passed over. Prints each file put into
RELEASE.
"""

import glob
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile

ENV = dict(os.environ, LC_ALL="C")
IN_RELEASE = re.compile(r"in the \S+ release")


def bills_in_tar(archive):
    members = [member for member in archive.getmembers() if member.name.endswith(".cdx.json")]
    return [json.load(archive.extractfile(member)) for member in members]


def bills(packages):
    """The bill of materials in each package that holds one: a .zip, a
    .tar.gz, or a container image archive (.tar), in its layers."""
    for package in packages:
        if package.endswith(".zip"):
            with zipfile.ZipFile(package) as archive:
                names = [name for name in archive.namelist() if name.endswith(".cdx.json")]
                yield from (json.loads(archive.read(name)) for name in names)
        elif package.endswith(".tar.gz"):
            with tarfile.open(package) as archive:
                yield from bills_in_tar(archive)
        elif package.endswith(".tar"):
            with tarfile.open(package) as image:
                def blob(digest):
                    return image.extractfile(f"blobs/sha256/{digest[7:]}").read()

                for manifest in json.loads(image.extractfile("index.json").read())["manifests"]:
                    for layer in json.loads(blob(manifest["digest"]))["layers"]:
                        with tarfile.open(fileobj=io.BytesIO(blob(layer["digest"]))) as archive:
                            yield from bills_in_tar(archive)


def wanted(packages):
    """{.dsc name: (source package, version)} for each source package a bill
    says is in the release."""
    found = {}
    for bill in bills(packages):
        for component in bill["components"]:
            for reference in component.get("externalReferences", []):
                if IN_RELEASE.match(reference.get("comment", "")):
                    found[reference["url"]] = (component["name"], component["version"])
    return found


def listed(dsc):
    """{file name: (size, SHA-256)} for each file a .dsc lists."""
    with open(dsc, encoding="utf-8") as file:
        text = file.read()
    block = re.search(r"^Checksums-Sha256:\n((?: .*\n)+)", text, re.M)
    if not block:
        sys.exit(f"release_sources.py: {dsc} lists no SHA-256 checksums")
    return {name: (int(size), digest) for digest, size, name in re.findall(r"^ (\S+) (\S+) (\S+)$", block[1], re.M)}


def mismatches(directory, dsc):
    """What of the source package in the directory is missing or does not
    match its .dsc."""
    path = os.path.join(directory, dsc)
    if not os.path.isfile(path):
        return [f"{dsc} is missing"]
    wrong = []
    for name, (size, digest) in listed(path).items():
        try:
            with open(os.path.join(directory, name), "rb") as file:
                content = file.read()
        except OSError as error:
            wrong.append(f"{name}: {error.strerror}")
            continue
        if len(content) != size or hashlib.sha256(content).hexdigest() != digest:
            wrong.append(f"{name} does not match {dsc}")
    return wrong


def apt(cache, *arguments, cwd=None):
    state = os.path.join(cache, "apt")
    options = []
    for name, value in (("Dir::Etc::SourceList", "/dev/null"), ("Dir::Etc::SourceParts", f"{state}/sources"),
                        ("Dir::State::Lists", f"{state}/lists"), ("Dir::Cache", f"{state}/cache"),
                        ("Debug::NoLocking", "true"), ("Acquire::Check-Valid-Until", "false")):
        options += ["-o", f"{name}={value}"]
    return subprocess.run(["apt-get", "--quiet", *options, *arguments], env=ENV, cwd=cwd, capture_output=True,
                          text=True)


def update(cache):
    """The private apt state: this machine's Debian sources, as deb-src."""
    state = os.path.join(cache, "apt")
    shutil.rmtree(state, ignore_errors=True)
    for directory in ("sources", "lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(state, directory))
    machine = ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list") +
                                                 glob.glob("/etc/apt/sources.list.d/*.sources"))
    for number, path in enumerate(path for path in machine if os.path.isfile(path)):
        with open(path, encoding="utf-8") as file:
            text = file.read()
        text = re.sub(r"^Types:.*$", "Types: deb-src", text, flags=re.M)
        text = re.sub(r"^deb(\s)", r"deb-src\1", text, flags=re.M)
        with open(os.path.join(state, "sources", f"{number:02}-{os.path.basename(path)}"), "w") as file:
            file.write(text)
    done = apt(cache, "update")
    if done.returncode:
        print(f"release_sources.py: apt-get update did not reach every source:\n{done.stdout}{done.stderr}",
              file=sys.stderr)


def fetch(cache, dsc, source, version):
    """The source package in the cache, fetched if it is not there whole."""
    downloads = os.path.join(cache, "downloads")
    if not mismatches(downloads, dsc):
        return downloads
    if not os.path.isdir(os.path.join(cache, "apt", "lists")):
        update(cache)
    os.makedirs(downloads, exist_ok=True)
    done = apt(cache, "source", "--download-only", f"{source}={version}", cwd=downloads)
    if done.returncode:
        update(cache)  # lists too old to know the version, perhaps
        done = apt(cache, "source", "--download-only", f"{source}={version}", cwd=downloads)
    wrong = mismatches(downloads, dsc)
    if done.returncode or wrong:
        sys.exit(f"release_sources.py: the source of {source} {version} cannot be had whole, and the release "
                 f"must not ship without it: {'; '.join(wrong)}\n{done.stdout}{done.stderr}")
    return downloads


def main(argv):
    if len(argv) < 4 or argv[0] != "--cache":
        sys.exit(__doc__)
    cache, release, packages = os.path.abspath(argv[1]), argv[2], argv[3:]
    for dsc, (source, version) in sorted(wanted(packages).items()):
        downloads = fetch(cache, dsc, source, version)
        for name in [dsc, *listed(os.path.join(downloads, dsc))]:
            shutil.copyfile(os.path.join(downloads, name), os.path.join(release, name))
            os.chmod(os.path.join(release, name), 0o644)
            print(name)


if __name__ == "__main__":
    main(sys.argv[1:])
