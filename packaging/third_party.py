#!/usr/bin/python3
"""Writes, for a package of greeting, the notices of the code of other
projects linked into its program, and a bill of materials (CycloneDX 1.6),
from the link itself and the packing machine's own Debian packages.

The linker's map (-Map) names every object file it loaded and every archive
member it took; dpkg says which Debian package each came from, at which
version, and which source package that was built from (its Source field,
or, where the package only repackages another's code, its Built-Using
field). LICENCES says what each linked member is under; where one of them
asks that its source go with the program, the notices say that the source
package ships in the release beside this package, and the bill marks it so
(make-release puts it there). Each package's /usr/share/doc/PACKAGE/copyright
is its notice, and the licences under /usr/share/common-licenses that the
notice points to are given whole.

Usage: third_party.py MAP PROGRAM NOTICES BOM SETTINGS
PROGRAM is the program as packed; NOTICES and BOM are the files to write;
SETTINGS is JSON: greeting's name, version, licence (SPDX), supplier and
maintainer ("NAME <EMAIL>"), the package's name, the source package's name,
the time (seconds since the epoch) that the bill of materials is dated, and
the line end of the files written.
"""

import collections
import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import urllib.parse
import uuid

# What each linked member of a Debian source package's code is under, as an
# SPDX expression: the first pattern that matches "ARCHIVE(MEMBER)", or an
# object file's name, gives it. Each source package's copyright file,
# shipped whole, says it all; this is its gist, for scanners, and for
# whether the source must go with the program. Where an exception to the
# LGPL lets the compiled file be linked in without restriction (glibc's
# start-up files, and the soft floating point that libgcc takes from glibc),
# its words are GCC-exception-2.0's but for "Lesser": that is the nearest
# SPDX name.
SOFT_FLOAT = (r"libgcc\.a\(((add|sub|mul|div)[sdt]f3|(eq|ge|le|neg|unord)[sdth]f2|(extend|trunc)[sdthx]f[sdthx]f2"
              r"|fix(uns)?[sdth]f[sdt]i|float(un)?[sdt]i[sdthx]f)\.o\)")
LICENCES = {
    "glibc": [(r"crt[1in]\.o", "LGPL-2.1-or-later WITH GCC-exception-2.0"),
              (r".*", "LGPL-2.1-or-later")],
    "gcc-12": [(r"libstdc\+\+\.a\(cp-demangle\.o\)", "GPL-2.0-or-later WITH GCC-exception-2.0"),
               (SOFT_FLOAT, "LGPL-2.1-or-later WITH GCC-exception-2.0"),
               (r".*", "GPL-3.0-or-later WITH GCC-exception-3.1")],
    "llvm-toolchain-14": [(r".*", "Apache-2.0 WITH LLVM-exception")],
    # As mingw-w64's copyright file has it: crt/ (crt2.o and libmingw32.a)
    # is in the public domain, gdtoa/ under David M. Gay's (Lucent's)
    # terms, the rest under the Zope Public License.
    "mingw-w64": [(r"crt2\.o|libmingw32\.a\(.*", "LicenseRef-public-domain"),
                  (r"libmingwex\.a\(lib(32|64)_libmingwex_a-(dmisc|dtoa|g__fmt|g_dfmt|g_ffmt|g_xfmt|gdtoa|gethex|gmisc"
                   r"|hd_init|hexnan|misc|qnan|smisc|strtodg|strtodnrp|strtof|strtopx|sum|ulp)\.o\)", "dtoa"),
                  (r".*", "ZPL-2.1")],
}
# Licences whose terms ask that the source of what is linked in go with the
# program: the GPL's and the LGPL's, unless an exception lets it be linked.
SOURCE_WITH_PROGRAM = re.compile(r"^L?GPL-[0-9.]+-(only|or-later)$")
COMMON_LICENCES = "/usr/share/common-licenses"
SNAPSHOT = "https://snapshot.debian.org/package/{}/{}/"
ENV = dict(os.environ, LC_ALL="C")


def linked_parts(map_path):
    """{file: [member...]}: every object file and archive the link took
    anything from, by real path, with the members taken from an archive
    (none for an object file)."""
    with open(map_path, encoding="utf-8", errors="replace") as file:
        text = file.read()
    parts = collections.defaultdict(set)
    for archive, member in re.findall(r"^(/[^\s(]+\.a)\(([^)]+)\)", text, re.M):
        parts[os.path.realpath(archive)].add(member)
    for path in re.findall(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.M):
        parts.setdefault(os.path.realpath(path), set())
    return {path: sorted(members) for path, members in sorted(parts.items())}


def owner(path):
    """The Debian package that holds a file."""
    # Where /lib is /usr/lib, dpkg may know the file by either name.
    for candidate in [path] + ([path[4:]] if path.startswith("/usr/lib/") else []):
        done = subprocess.run(["dpkg-query", "--search", candidate], env=ENV, capture_output=True, text=True)
        if done.returncode == 0:
            return re.match(r"([^:,\s]+)", done.stdout)[1]
    sys.exit(f"third_party.py: {path} is linked in, but no Debian package holds it: its licence is unknown")


def package_facts(package):
    """A binary package's version and architecture, the source package it
    is built from, and those whose code it holds (Built-Using, or else its
    own source), each as (name, version)."""
    fields = "${Version}\t${Architecture}\t${source:Package}\t${source:Version}\t${Built-Using}"
    done = subprocess.run(["dpkg-query", "--show", f"--showformat={fields}", package], env=ENV,
                          capture_output=True, text=True, check=True)
    version, architecture, source, source_version, built_using = done.stdout.split("\t")
    built_from = (source, source_version)
    code = re.findall(r"([^\s,(]+) \(= ([^)\s]+)\)", built_using) or [built_from]
    return {"name": package, "version": version, "architecture": architecture, "built_from": built_from,
            "code": code}


def licence_of(source, part):
    """The SPDX expression of one linked part of a source package's code."""
    if source not in LICENCES:
        sys.exit(f"third_party.py: {part}, of {source}, is linked in, and its licence is not known here: "
                 "read its copyright file and add it to LICENCES")
    return next(licence for pattern, licence in LICENCES[source] if re.fullmatch(pattern, part))


def expression(licences):
    return " AND ".join(sorted(set(licences)))


def asks_for_source(licence_expression):
    return any(SOURCE_WITH_PROGRAM.match(term) for term in licence_expression.split(" AND "))


def gather(map_path):
    """What is linked in, by Debian package: each package's facts, the
    parts of it linked in ("ARCHIVE(MEMBER)" or a file name) by licence,
    and the source packages of its code with their licences."""
    packages = {}
    for path, members in linked_parts(map_path).items():
        package = owner(path)
        if package not in packages:
            packages[package] = dict(package_facts(package), parts=collections.defaultdict(list))
        name = os.path.basename(path)
        code_source = packages[package]["code"][0][0]
        for part in [f"{name}({member})" for member in members] or [name]:
            packages[package]["parts"][licence_of(code_source, part)].append(part)
    sources = {}
    for facts in packages.values():
        for name, version in facts["code"]:
            licences = sources.setdefault((name, version), {"licences": set(), "code": True})["licences"]
            licences.update(facts["parts"])
        sources.setdefault(facts["built_from"], {"licences": set(), "code": False})
    for (name, version), source in sources.items():
        source["licence"] = expression(source["licences"])
        source["ships"] = asks_for_source(source["licence"])
        source["dsc"] = f"{name}_{re.sub(r'^[0-9]+:', '', version)}.dsc"
    return dict(sorted(packages.items())), dict(sorted(sources.items()))


def described(parts):
    """The linked parts, grouped by file: "libc.a (551 members)" or
    "libgcc.a(addtf3.o letf2.o)"."""
    by_file = collections.defaultdict(list)
    for part in parts:
        name, _, member = part.partition("(")
        by_file[name].append(member.rstrip(")"))
    return " ".join(name if members == [""] else f"{name} ({len(members)} members)" if len(members) > 8
                    else f"{name}({' '.join(members)})" for name, members in sorted(by_file.items()))


def notices_text(settings, packages, sources):
    name = settings["name"]
    lines = [
        f"{name} {settings['version']} ({settings['package']}) holds code of other projects, linked into its",
        "program when it was built: each is named below with the Debian package it",
        "came from, at the version the build machine had, the source package it was",
        "built from, what of it is linked in under which licence, and where its",
        "corresponding source is. Each package's copyright file follows, as Debian",
        "ships it, and then, whole, every licence those files point to.",
        "",
        f"{name}'s own code is under the {settings['licence']} licence (see LICENSE). Its complete",
        f"source is {settings['source_package']}, released with this package, so that",
        f"{name} can be rebuilt, and relinked with changed versions of any of these.",
        "",
    ]
    for package, facts in packages.items():
        lines.append(f"{package} {facts['version']}: {expression(facts['parts'])}")
        lines += [f"  {licence}: {described(parts)}" for licence, parts in sorted(facts["parts"].items())]
        built_from = " ".join(facts["built_from"])
        code = ", ".join(f"{source} {version}" for source, version in facts["code"])
        lines.append(f"  built from: {built_from}" + ("" if code == built_from else f", holding the code of {code}"))
        for source_name, version in facts["code"]:
            snapshot = SNAPSHOT.format(source_name, urllib.parse.quote(version, safe=""))
            if sources[(source_name, version)]["ships"]:
                lines += [f"  source of {source_name}: in the {name} release, beside this package, as "
                          f"{sources[(source_name, version)]['dsc']}", "    and every file it lists; also"]
            else:
                lines.append(f"  source of {source_name}:")
            lines.append(f"    apt-get source {source_name}={version}, or {snapshot}")
        lines.append("")
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
    return "\n".join(lines)


def escaped(text, keep):
    """Text with every character but ASCII letters, digits and those in
    `keep` percent-encoded, as UTF-8."""
    return "".join(character if character.isascii() and (character.isalnum() or character in keep)
                   else "".join(f"%{byte:02X}" for byte in character.encode()) for character in text)


def purl(name, version, **qualifiers):
    """A Debian package URL in the package-url project's canonical form:
    qualifiers in name order, and each part escaped as its parser gives it
    back."""
    quoted = "&".join(f"{key}={escaped(value, '-._')}" for key, value in sorted(qualifiers.items()))
    return f"pkg:deb/debian/{escaped(name, '-._~')}@{escaped(version, '-._~:+')}?{quoted}"


def bill(settings, program, packages, sources):
    with open(program, "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    with open("/etc/os-release") as file:
        release = dict(line.rstrip("\n").split("=", 1) for line in file if "=" in line)
    distro = f"debian-{release.get('VERSION_ID', '').strip(chr(34))}"
    debian = {"name": "Debian", "url": ["https://www.debian.org/"]}

    def licences(licence_expression):
        if " " in licence_expression:
            return [{"expression": licence_expression}]
        return [{"license": {"id": licence_expression}}]

    source_refs, components, dependencies = {}, [], []
    for (name, version), source in sources.items():
        ref = source_refs[(name, version)] = purl(name, version, arch="source", distro=distro)
        snapshot = SNAPSHOT.format(name, urllib.parse.quote(version, safe=""))
        references = [{"type": "source-distribution", "url": snapshot}]
        if source["ships"]:
            references.insert(0, {"type": "source-distribution", "url": source["dsc"],
                                  "comment": f"in the {settings['name']} release, with every file it lists"})
        component = {"type": "library", "bom-ref": ref, "name": name, "version": version, "supplier": debian,
                     "purl": ref, "externalReferences": references}
        if source["code"]:
            component["licenses"] = licences(source["licence"])
        components.append(component)
        dependencies.append({"ref": ref, "dependsOn": []})
    binary_refs = []
    for package, facts in packages.items():
        source, source_version = facts["built_from"]
        upstream = source if source_version == facts["version"] else f"{source}@{source_version}"
        ref = purl(package, facts["version"], arch=facts["architecture"], distro=distro, upstream=upstream)
        binary_refs.append(ref)
        components.append({
            "type": "library", "bom-ref": ref, "name": package, "version": facts["version"], "supplier": debian,
            "licenses": licences(expression(facts["parts"])), "purl": ref,
            "properties": [{"name": "aquasecurity:trivy:SrcName", "value": source},
                           {"name": "aquasecurity:trivy:SrcVersion", "value": source_version}] +
                          [{"name": "greeting:linked-in", "value": part}
                           for parts in facts["parts"].values() for part in sorted(parts)],
        })
        code_refs = [source_refs[code] for code in facts["code"]]
        built_from_ref = source_refs[facts["built_from"]]
        dependencies.append({"ref": ref, "dependsOn": sorted(set(code_refs + [built_from_ref]))})
    name = settings["name"]
    dependencies.insert(0, {"ref": name, "dependsOn": binary_refs})
    maintainer = re.fullmatch(r"(.*?) *<(.*)>", settings["maintainer"])
    created = datetime.datetime.fromtimestamp(settings["epoch"], datetime.timezone.utc)
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.6",
        # The same package gives the same bill, whoever packs it.
        "serialNumber": uuid.uuid5(uuid.NAMESPACE_URL, f"{settings['package']}#{digest}").urn,
        "version": 1,
        "metadata": {
            "timestamp": created.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "authors": [{"name": maintainer[1], "email": maintainer[2]}],
            "tools": {"components": [{
                "type": "application", "group": name, "name": "third_party.py", "version": settings["version"],
                "description": "writes this bill from the linker's map of the link and the build machine's dpkg",
                "supplier": {"name": settings["supplier"]}}]},
            "component": {
                "type": "application", "bom-ref": name, "name": name, "version": settings["version"],
                "supplier": {"name": settings["supplier"]}, "licenses": licences(settings["licence"]),
                "hashes": [{"alg": "SHA-256", "content": digest}],
                "properties": [{"name": "greeting:program", "value": os.path.basename(program)}],
            },
        },
        "components": components,
        "dependencies": dependencies,
        # Every part linked in is named, and every source package it came from.
        "compositions": [{"aggregate": "complete", "assemblies": [name],
                          "dependencies": [dependency["ref"] for dependency in dependencies]}],
    }


def write(path, text, line_end):
    with open(path, "w", encoding="utf-8", newline=line_end) as file:
        file.write(text)


def main(argv):
    if len(argv) != 5:
        sys.exit(__doc__)
    map_path, program, notices_path, bom_path, settings = argv
    settings = json.loads(settings)
    packages, sources = gather(map_path)
    os.makedirs(os.path.dirname(notices_path), exist_ok=True)
    write(notices_path, notices_text(settings, packages, sources), settings["line_end"])
    write(bom_path, json.dumps(bill(settings, program, packages, sources), indent=2) + "\n", settings["line_end"])


if __name__ == "__main__":
    main(sys.argv[1:])
