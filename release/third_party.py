#!/usr/bin/python3
"""Writes, beside greeting's licence in a staged package, the notices of the
code of other projects linked into its program, and a bill of materials
(CycloneDX 1.6), from the link itself and the packing machine's Debian
packages.

The linker's map names every object file and archive member the link took;
dpkg says which Debian package each came from, at which version, the source
package it was built from (Source) and whose code it holds (Built-Using,
where it only repackages another's: the cross and MinGW-w64 toolchains'
libraries). LICENCES says what each linked member is under, as its own
source says (check_packages.py holds it to that source). Where a licence
asks that the source go with the program, the bill marks that source
package as in the release (greeting:source-in-release, the .dsc's name,
which release_sources.py reads), and the notices say where it is. Each
source package's copyright file, as Debian ships it, is its notice, with
every licence under /usr/share/common-licenses it points to. The bill names
the operating system (/etc/os-release), and the DLLs a Windows program
imports.

Usage: third_party.py FACTS MAP STAGED PACKAGE
FACTS is the build's build-facts.json; STAGED the staged install, where the
notices and bill are written; PACKAGE the package's file name.
"""

import collections
import datetime
import hashlib
import json
import os
import pathlib
import re
import subprocess
import sys
import urllib.parse
import uuid

# What each linked member of a Debian source package's code is under, as an
# SPDX expression: the first pattern that matches "ARCHIVE(MEMBER)" (the
# member without MinGW-w64's "lib32_libmingwex_a-" prefixes), or an object
# file's name, gives it. Where an exception to the LGPL lets the compiled
# file be linked in without restriction, its words are GCC-exception-2.0's
# but for "Lesser" (glibc's start-up files, and the soft floating point
# libgcc takes from glibc), or GNU-compiler-exception's (glibc's libio):
# those are the nearest SPDX names. MinGW-w64's own licences are named as
# its machine-readable copyright file names them.
SOFT_FLOAT = (r"libgcc\.a\(((add|sub|mul|div)[sdt]f3|(eq|ge|le|neg|unord)[sdth]f2|(extend|trunc)[sdthx]f[sdthx]f2"
              r"|fix(uns)?[sdth]f[sdt]i|float(un)?[sdt]i[sdthx]f"
              # POWER's IEEE 128-bit floating point, in software and hardware
              r"|(extend|trunc)(kf|tf)(kf|tf)2-sw|fix(uns)?kfti-sw|float(un)?tikf-sw|float128-(hw|ifunc|p10))\.o\)")
LIBIO = (r"libc\.a\((ferror|fileno|fileops|fputc|fseeko?(64)?|ftello(64)?|genops|getw?c|iofclose|iofdopen|iofflush"
         r"|iofgets_u|iofopen(64)?|iofputs|iofread(_u)?|iofwide|iofwrite|iogetdelim|iogetline|iopadn|ioseekoff|iosetvbuf"
         r"|ioungetw?c"
         r"|iovsprintf|iowpadn|stdfiles|stdio|strops|vasprintf|vsnprintf|wfileops|wgenops)\.o\)")
PUBLIC_DOMAIN_MINGWEX = ("btowc|wctob|wctype|strnlen|wcsnlen|mingw_matherr|fopen64|fseeko64|ftello64|lseek64"
                         "|acrt_iob_func|mbrtowc|wcrtomb|___mb_cur_max_func|invalid_parameter_handler|lc_locale_func"
                         "|__p__\\w+")
LUCENT = "dmisc|gdtoa|gethex|gmisc|hd_init|hexnan|misc|smisc|strtodg|strtof|strtopx|sum|g__fmt|g_[dfx]fmt|ulp"
LICENCES = {
    "glibc": [(r"[rS]?crt[1in]\.o", "LGPL-2.1-or-later WITH GCC-exception-2.0"),
              (r"lib[cm]\.a\(w?filedoalloc\.o\)", "BSD-3-Clause AND LGPL-2.1-or-later WITH GNU-compiler-exception"),
              (LIBIO, "LGPL-2.1-or-later WITH GNU-compiler-exception"),
              (r".*", "LGPL-2.1-or-later")],
    "gcc-12": [(r"libstdc\+\+\.a\(cp-demangle\.o\)", "GPL-2.0-or-later WITH GCC-exception-2.0"),
               (SOFT_FLOAT, "LGPL-2.1-or-later WITH GCC-exception-2.0"),
               (r".*", "GPL-3.0-or-later WITH GCC-exception-3.1")],
    "llvm-toolchain-14": [(r".*", "Apache-2.0 WITH LLVM-exception")],
    "mingw-w64": [(r"crt2\.o|libmingw32\.a\(.*\)", "LicenseRef-public-domain"),
                  (rf"lib(mingwex|msvcrt)\.a\(({PUBLIC_DOMAIN_MINGWEX})\.o\)", "LicenseRef-public-domain"),
                  (r"libmingwex\.a\(mingw_pformat\.o\)", "LicenseRef-Keith-Marshall AND LicenseRef-Lucent"),
                  (r"libmingwex\.a\(mingw_v?s?n?f?printf\.o\)", "LicenseRef-Keith-Marshall"),
                  (r"libmingwex\.a\(strtodnrp\.o\)", "LicenseRef-David-Gay AND LicenseRef-Lucent"),
                  (rf"libmingwex\.a\(({LUCENT})\.o\)", "LicenseRef-Lucent"),
                  (r".*", "ZPL-2.1")],
}
# Licences whose terms ask that the source of what is linked in go with the
# program: the GPL's and the LGPL's, unless an exception lets it be linked.
SOURCE_WITH_PROGRAM = re.compile(r"^L?GPL-[0-9.]+-(only|or-later)$")
# The compilers cross-toolchain-base names among the code it holds: what it
# built glibc with, not code linked in.
BUILT_WITH = {"gcc-12", "binutils", "linux"}
COMMON_LICENCES = "/usr/share/common-licenses"
SNAPSHOT = "https://snapshot.debian.org/package/{}/{}/"
MEMBER_PREFIX = re.compile(r"^lib(32|64)_lib\w+?_a-")
ENV = dict(os.environ, LC_ALL="C")


def linked_parts(map_path):
    """{file: [member...]}: every object file and archive the link took
    anything from, by real path, with the members taken from an archive
    (none for an object file)."""
    text = pathlib.Path(map_path).read_text(encoding="utf-8", errors="replace")
    parts = collections.defaultdict(set)
    for archive, member in re.findall(r"^(/[^\s(]+\.a)\(([^)]+)\)", text, re.M):
        parts[os.path.realpath(archive)].add(member)
    for path in re.findall(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.M):
        parts.setdefault(os.path.realpath(path), set())
    return {path: sorted(members) for path, members in sorted(parts.items())}


def dpkg(*arguments):
    return subprocess.run(["dpkg-query", *arguments], env=ENV, capture_output=True, text=True)


def owner(path):
    """The Debian package that holds a file."""
    # Where /lib is /usr/lib, dpkg may know the file by either name.
    for candidate in [path] + ([path[4:]] if path.startswith("/usr/lib/") else []):
        done = dpkg("--search", candidate)
        if done.returncode == 0:  # "libc6-dev:amd64: /usr/lib/...", or without the architecture
            return re.match(r"([^:,\s]+(:[a-z0-9]+)?):? ", done.stdout)[1]
    sys.exit(f"third_party.py: {path} is linked in, but no Debian package holds it: its licence is unknown")


def package_facts(package):
    """A binary package's version and architecture, the source package it
    is built from, and the one whose code it holds, each (name, version)."""
    fields = "${Version}\t${Architecture}\t${source:Package}\t${source:Version}\t${Built-Using}"
    version, architecture, source, source_version, built_using = dpkg(
        "--show", f"--showformat={fields}", package).stdout.split("\t")
    built_from = (source, source_version)
    code = [entry for entry in re.findall(r"([^\s,(]+) \(= ([^)\s]+)\)", built_using) if entry[0] in LICENCES]
    if len(code) > 1:
        code = [entry for entry in code if entry[0] not in BUILT_WITH]
    return {"name": package.split(":")[0], "version": version, "architecture": architecture, "built_from": built_from,
            "code": (code or [built_from])[0]}


def licence_of(source, part):
    """The SPDX expression of one linked part of a source package's code."""
    if source not in LICENCES:
        sys.exit(f"third_party.py: {part}, of {source}, is linked in, and its licence is not known here: "
                 "read its copyright file and source, and add it to LICENCES")
    return next(licence for pattern, licence in LICENCES[source] if re.fullmatch(pattern, part))


def terms(expressions):
    """The SPDX terms ("X" or "X WITH Y") of expressions joined by AND."""
    return sorted({term for expression in expressions for term in expression.split(" AND ")})


def gather(map_path):
    """What is linked in, by Debian package: each package's facts, the
    parts of it linked in ("ARCHIVE(MEMBER)" or a file name) by licence; and
    each source package, with the licences of its code linked in."""
    packages = {}
    for path, members in linked_parts(map_path).items():
        package = owner(path)
        if package not in packages:
            packages[package] = dict(package_facts(package), parts=collections.defaultdict(list))
        name = os.path.basename(path)
        for part in [f"{name}({member})" for member in members] or [name]:
            short = re.sub(r"\((.*)\)$", lambda match: f"({MEMBER_PREFIX.sub('', match[1])})", part)
            packages[package]["parts"][licence_of(packages[package]["code"][0], short)].append(part)
    sources = {}
    for facts in packages.values():
        sources.setdefault(facts["code"], {"licences": set()})["licences"].update(facts["parts"])
        sources.setdefault(facts["built_from"], {"licences": set()})
    for (name, version), source in sources.items():
        source["ships"] = any(SOURCE_WITH_PROGRAM.match(term) for term in terms(source["licences"]))
        source["dsc"] = f"{name}_{re.sub(r'^[0-9]+:', '', version)}.dsc"
    return {facts["name"]: facts for _, facts in sorted(packages.items())}, dict(sorted(sources.items()))


def described(parts):
    """The linked parts, grouped by file: "libc.a (551 members)" or
    "libgcc.a(addtf3.o letf2.o)"."""
    by_file = collections.defaultdict(list)
    for part in parts:
        name, _, member = part.partition("(")
        by_file[name].append(member.rstrip(")"))
    return " ".join(name if members == [""] else f"{name} ({len(members)} members)" if len(members) > 8
                    else f"{name}({' '.join(members)})" for name, members in sorted(by_file.items()))


def copyright_file(source):
    """The copyright file of an installed binary package of a source
    package: the source's own notice, where a toolchain only repackages it."""
    listed = dpkg("--show", "--showformat=${Package}\t${source:Package}\t${Version}\n").stdout
    for package, built_from, version in (line.split("\t") for line in sorted(listed.splitlines())):
        path = f"/usr/share/doc/{package}/copyright"
        if built_from == source and os.path.isfile(path):
            return os.path.realpath(path), f"{package} {version}"
    sys.exit(f"third_party.py: no installed package of {source} holds its copyright file")


def notices_text(facts, package_name, packages, sources):
    name = facts["name"]
    lines = [
        f"{name} {facts['version']} ({package_name}) holds code of other projects, linked into its",
        "program when it was built: each is named below with the Debian package it",
        "came from, at the version the build machine had, the source package it was",
        "built from, what of it is linked in under which licence, and where its",
        "corresponding source is. Each source package's copyright file follows, as",
        "Debian ships it, and then, whole, every licence those files point to.",
        "",
        f"{name}'s own code is under the {facts['licence']} licence (see LICENSE). Its complete",
        f"source is {facts['source_package']}.tar.gz, released with this package, so that",
        f"{name} can be rebuilt, and relinked with changed versions of any of these.",
        "",
    ]
    for package, facts_of in packages.items():
        lines.append(f"{package} {facts_of['version']}: {' AND '.join(terms(facts_of['parts']))}")
        lines += [f"  {licence}: {described(parts)}" for licence, parts in sorted(facts_of["parts"].items())]
        built_from, code = " ".join(facts_of["built_from"]), " ".join(facts_of["code"])
        lines.append(f"  built from: {built_from}" + ("" if code == built_from else f", holding the code of {code}"))
        source_name, version = facts_of["code"]
        lines.append(f"  source of {source_name}:")
        if sources[facts_of["code"]]["ships"]:
            lines += [f"    {sources[facts_of['code']]['dsc']} and every file it lists, which go with {name}'s",
                      "    release: beside this package, and in the container image's archive as its",
                      f"    source image, {name}:{facts['version']}-source; also"]
        lines.append(f"    apt-get source {source_name}={version}, or "
                     f"{SNAPSHOT.format(source_name, urllib.parse.quote(version, safe=''))}")
        lines.append("")
    # Source packages may share a copyright file, and licences go by several
    # names.
    shown, referenced = {}, {}
    for source_name, _ in sorted({facts_of["code"] for facts_of in packages.values()}):
        path, whose = copyright_file(source_name)
        shown.setdefault(path, []).append(f"{source_name} (as {whose} ships it)")
    for path, named in shown.items():
        copyright_text = pathlib.Path(path).read_text(encoding="utf-8")
        lines += ["=" * 79, f"{', '.join(named)}: {path}", "=" * 79, copyright_text.rstrip("\n"), ""]
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


def purl(kind, name, version, namespace="", **qualifiers):
    """A package URL in the package-url project's canonical form: qualifiers
    in name order, and each part escaped as its parser gives it back."""
    quoted = "&".join(f"{key}={escaped(value, '-._')}" for key, value in sorted(qualifiers.items()))
    return f"pkg:{kind}/{namespace}{escaped(name, '-._~')}@{escaped(version, '-._~:+')}" + (
        f"?{quoted}" if quoted else "")


def windows_imports(facts, program):
    """The DLLs a Windows program imports, as objdump names them."""
    return [] if facts["platform"] != "windows" else sorted(set(re.findall(r"\tDLL Name: (\S+)", subprocess.run(
        [facts["tools"]["objdump"], "-p", program], env=ENV, capture_output=True, text=True, check=True).stdout)))


def bill(facts, package_name, program, packages, sources):
    digest = hashlib.sha256(pathlib.Path(program).read_bytes()).hexdigest()
    release = {key: value.strip('"') for key, value in
               re.findall(r"^(\w+)=(.*)$", pathlib.Path("/etc/os-release").read_text(), re.M)}
    distro = f"{release['ID']}-{release['VERSION_ID']}"
    debian = {"name": release.get("NAME", release["ID"]), "url": [release.get("HOME_URL", "")]}

    def licences(expression):
        return [{"expression": expression}] if " " in expression else [{"license": {"id": expression}}]

    source_refs, components, dependencies = {}, [], []
    for (name, version), source in sources.items():
        ref = source_refs[(name, version)] = purl("deb", name, version, "debian/", arch="source", distro=distro)
        component = {"type": "library", "bom-ref": ref, "name": name, "version": version, "supplier": debian,
                     "purl": ref, "externalReferences": [
                         {"type": "source-distribution",
                          "url": SNAPSHOT.format(name, urllib.parse.quote(version, safe=""))}]}
        if source["licences"]:
            component["licenses"] = licences(" AND ".join(terms(source["licences"])))
        if source["ships"]:
            component["properties"] = [{"name": "greeting:source-in-release", "value": source["dsc"]}]
        components.append(component)
        dependencies.append({"ref": ref, "dependsOn": []})
    binary_refs = []
    for package, facts_of in packages.items():
        source, source_version = facts_of["built_from"]
        upstream = source if source_version == facts_of["version"] else f"{source}@{source_version}"
        ref = purl("deb", package, facts_of["version"], "debian/", arch=facts_of["architecture"], distro=distro,
                   upstream=upstream)
        binary_refs.append(ref)
        components.append({
            "type": "library", "bom-ref": ref, "name": package, "version": facts_of["version"], "supplier": debian,
            "licenses": licences(" AND ".join(terms(facts_of["parts"]))), "purl": ref,
            "properties": [{"name": "aquasecurity:trivy:SrcName", "value": source},
                           {"name": "aquasecurity:trivy:SrcVersion", "value": source_version}] +
                          [{"name": "greeting:linked-in", "value": f"{part}: {licence}"}
                           for licence, parts in sorted(facts_of["parts"].items()) for part in sorted(parts)],
        })
        dependencies.append({"ref": ref, "dependsOn": sorted({source_refs[facts_of["code"]],
                                                               source_refs[facts_of["built_from"]]})})
    # The operating system, as scanners (trivy, Dependency-Track) recognise
    # it: a component that holds the packages.
    components.append({"type": "operating-system", "bom-ref": distro, "name": release["ID"],
                       "version": release["VERSION_ID"], "description": release.get("PRETTY_NAME", ""),
                       "supplier": debian})
    dependencies.append({"ref": distro, "dependsOn": binary_refs})
    # Windows' own DLLs, which the program imports and Windows provides.
    dlls = windows_imports(facts, program)
    for dll in dlls:
        components.append({"type": "platform", "bom-ref": f"windows:{dll}", "name": dll,
                           "supplier": {"name": "Microsoft"},
                           "description": "part of Windows, which loads it when greeting starts; not shipped"})
        dependencies.append({"ref": f"windows:{dll}", "dependsOn": []})
    name = facts["name"]
    dependencies.insert(0, {"ref": name, "dependsOn": [distro] + [f"windows:{dll}" for dll in dlls]})
    maintainer = re.fullmatch(r"(.*?) *<(.*)>", facts["maintainer"])
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or facts["release_epoch"])
    created = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc)
    refs = [dependency["ref"] for dependency in dependencies]
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX", "specVersion": "1.6",
        # The same package gives the same bill, whoever packs it.
        "serialNumber": uuid.uuid5(uuid.NAMESPACE_URL, f"{package_name}#{digest}").urn,
        "version": 1,
        "metadata": {
            "timestamp": created.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "authors": [{"name": maintainer[1], "email": maintainer[2]}],
            "tools": {"components": [{
                "type": "application", "group": name, "name": "third_party.py", "version": facts["version"],
                "description": "writes this bill from the linker's map of the link and the build machine's dpkg",
                "supplier": {"name": facts["authors"]}}]},
            "component": {
                "type": "application", "bom-ref": name, "name": name, "version": facts["version"],
                "supplier": {"name": facts["authors"]}, "licenses": licences(facts["licence"]),
                "purl": purl("generic", name, facts["version"]),
                "hashes": [{"alg": "SHA-256", "content": digest}],
                "properties": [{"name": "greeting:program", "value": os.path.basename(program)}],
            },
        },
        "components": components,
        "dependencies": dependencies,
        # Every part linked in is named, and every source package it came
        # from; what Windows' DLLs themselves load is Windows' own.
        "compositions": [{"aggregate": "complete", "assemblies": [name],
                          "dependencies": [ref for ref in refs if not ref.startswith("windows:")]}] + (
            [{"aggregate": "unknown", "dependencies": [f"windows:{dll}" for dll in dlls]}] if dlls else []),
    }


def write(path, text, windows):
    """A text file as its platform's users read it: on Windows each line in
    CR LF, and, where it is not plain ASCII, UTF-8 with a byte-order mark,
    as Notepad before Windows 10 takes UTF-8 only with one."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    encoding = "utf-8-sig" if windows and not text.isascii() else "utf-8"
    with open(path, "w", encoding=encoding, newline="\r\n" if windows else "\n") as file:
        file.write(text)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    facts, map_path, staged, package_name = json.load(open(argv[0], encoding="utf-8")), *argv[1:]
    installed = facts["installed"]
    packages, sources = gather(map_path)
    program = os.path.join(staged, installed["program"])
    windows = facts["platform"] == "windows"
    write(os.path.join(staged, installed["notices"]), notices_text(facts, package_name, packages, sources), windows)
    text = json.dumps(bill(facts, package_name, program, packages, sources), indent=2) + "\n"
    write(os.path.join(staged, installed["bom"]), text, windows)


if __name__ == "__main__":
    main(sys.argv[1:])
