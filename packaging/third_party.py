#!/usr/bin/python3
"""Writes, for a package of greeting, the notices of the code of other
projects linked into its program, and a bill of materials (CycloneDX 1.6),
from the link itself and the packing machine's own Debian packages.

The linker's map (-Map) names every object file it loaded and every archive
member it took; dpkg says which package each came from, at which version;
each such package's /usr/share/doc/PACKAGE/copyright is its notice, and the
licences under /usr/share/common-licenses that the notice points to are
given whole.

Usage: third_party.py MAP PROGRAM NOTICES BOM SETTINGS
PROGRAM is the program as packed; NOTICES and BOM are the files to write;
SETTINGS is JSON: greeting's name, version, licence and supplier, the
package name, the source package's name, and the time (seconds since the
epoch) that the bill of materials is dated.
"""

import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import urllib.parse
import uuid

# What the linked parts of each Debian source package are under, as an SPDX
# expression. A package's copyright file, shipped whole, says it all; this
# is its gist, for scanners.
LICENCES = {
    "glibc": "LGPL-2.1-or-later",
    "llvm-toolchain-14": "Apache-2.0 WITH LLVM-exception",
    "gcc-12": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "gcc-mingw-w64": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "mingw-w64": "ZPL-2.1",
}
COMMON_LICENCES = "/usr/share/common-licenses"
ENV = dict(os.environ, LC_ALL="C")


def linked_files(map_path):
    """The absolute paths of the object files and archives the link took
    anything from, as the linker's map names them."""
    with open(map_path, encoding="utf-8", errors="replace") as file:
        text = file.read()
    archives = re.findall(r"^(/[^\s(]+\.a)\(", text, re.M)
    objects = re.findall(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.M)
    return sorted({os.path.realpath(path) for path in archives + objects})


def owners(paths):
    """Which Debian package holds each path: {package: [paths]}."""
    found = {}
    for path in paths:
        # Where /lib is /usr/lib, dpkg may know the file by either name.
        candidates = [path] + ([path[4:]] if path.startswith("/usr/lib/") else [])
        for candidate in candidates:
            done = subprocess.run(["dpkg-query", "--search", candidate], env=ENV, capture_output=True, text=True)
            if done.returncode == 0:
                package = re.match(r"([^:,\s]+)", done.stdout)[1]
                found.setdefault(package, []).append(path)
                break
        else:
            sys.exit(f"third_party.py: {path} is linked in, but no Debian package holds it: its licence is unknown")
    return found


def package_facts(package):
    fields = "${Version}\t${Architecture}\t${source:Package}\t${source:Version}"
    done = subprocess.run(["dpkg-query", "--show", f"--showformat={fields}", package], env=ENV,
                          capture_output=True, text=True, check=True)
    version, architecture, source, source_version = done.stdout.split("\t")
    return {"version": version, "architecture": architecture, "source": source, "source_version": source_version}


def debian_release():
    with open("/etc/os-release") as file:
        fields = dict(line.rstrip("\n").split("=", 1) for line in file if "=" in line)
    return fields.get("VERSION_ID", "").strip('"')


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    map_path, program, notices_path, bom_path, settings = argv
    settings = json.loads(settings)
    linked = owners(linked_files(map_path))
    packages = {package: package_facts(package) for package in sorted(linked)}
    for package, facts in packages.items():
        if facts["source"] not in LICENCES:
            sys.exit(f"third_party.py: {package} (source {facts['source']}) is linked in, and its licence is not "
                     "known here: read its copyright file and add it to LICENCES")

    name = settings["name"]
    source_url = "https://snapshot.debian.org/package/{}/{}/"
    lines = [
        f"{name} {settings['version']} ({settings['package']}) holds code of other projects, linked into its",
        "program when it was built: each is named below with the Debian package it",
        "came from, at the version the build machine had, its licence, and where",
        "its corresponding source is. Each package's copyright file follows, as",
        "Debian ships it, and then, whole, every licence those files point to.",
        "",
        f"{name}'s own code is under the {settings['licence']} licence (see LICENSE). Its complete",
        f"source is {settings['source_package']}, released with this package, so that",
        f"{name} can be rebuilt, and relinked with changed versions of any of these.",
        "",
    ]
    for package, facts in packages.items():
        source = f"{facts['source']}={facts['source_version']}"
        url = source_url.format(facts["source"], urllib.parse.quote(facts["source_version"]))
        files = " ".join(sorted(os.path.basename(path) for path in linked[package]))
        lines += [f"{package} {facts['version']}: {LICENCES[facts['source']]}",
                  f"  linked in: {files}",
                  f"  source: apt-get source {source}, or {url}", ""]
    # Packages may share a copyright file, and licences go by several names.
    shown, referenced = {}, {}
    for package in packages:
        shown.setdefault(os.path.realpath(f"/usr/share/doc/{package}/copyright"), []).append(package)
    for path, sharing in shown.items():
        with open(path, encoding="utf-8") as file:
            copyright_text = file.read()
        named = ", ".join(f"{package} {packages[package]['version']}" for package in sharing)
        lines += ["=" * 79, f"{named}: {path}", "=" * 79, copyright_text.rstrip("\n"), ""]
        for licence in re.findall(rf"{COMMON_LICENCES}/([A-Za-z0-9.+-]*[A-Za-z0-9+])", copyright_text):
            licence = os.path.realpath(os.path.join(COMMON_LICENCES, licence))
            if os.path.isfile(licence):
                referenced.setdefault(licence, None)
    for licence in referenced:
        with open(licence, encoding="utf-8") as file:
            lines += ["=" * 79, licence, "=" * 79, file.read().rstrip("\n"), ""]
    with open(notices_path, "w", encoding="utf-8") as file:
        file.write("\n".join(lines))

    with open(program, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    distro = f"debian-{debian_release()}"

    def licences(expression):
        return [{"expression": expression}] if " " in expression else [{"license": {"id": expression}}]

    components = []
    for package, facts in packages.items():
        purl = (f"pkg:deb/debian/{package}@{urllib.parse.quote(facts['version'])}"
                f"?arch={facts['architecture']}&distro={distro}")
        components.append({
            "type": "library", "bom-ref": purl, "name": package, "version": facts["version"],
            "supplier": {"name": "Debian", "url": ["https://www.debian.org/"]},
            "licenses": licences(LICENCES[facts["source"]]), "purl": purl,
            "externalReferences": [{"type": "source-distribution", "url": source_url.format(
                facts["source"], urllib.parse.quote(facts["source_version"]))}],
            "properties": [{"name": "greeting:linked-in", "value": os.path.basename(path)}
                           for path in sorted(linked[package])],
        })
    created = datetime.datetime.fromtimestamp(settings["epoch"], datetime.timezone.utc)
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.6",
        # The same package gives the same bill, whoever packs it.
        "serialNumber": uuid.uuid5(uuid.NAMESPACE_URL, f"{settings['package']}#{digest}").urn,
        "version": 1,
        "metadata": {
            "timestamp": created.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "component": {
                "type": "application", "bom-ref": name, "name": name, "version": settings["version"],
                "supplier": {"name": settings["supplier"]}, "licenses": licences(settings["licence"]),
                "hashes": [{"alg": "SHA-256", "content": digest}],
                "properties": [{"name": "greeting:program", "value": os.path.basename(program)}],
            },
        },
        "components": components,
        "dependencies": [{"ref": name, "dependsOn": [component["bom-ref"] for component in components]}],
    }
    with open(bom_path, "w", encoding="utf-8") as file:
        json.dump(bom, file, indent=2)
        file.write("\n")


if __name__ == "__main__":
    main(sys.argv[1:])
