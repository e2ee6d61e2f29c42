#!/usr/bin/python3
"""The packages' tests: `pack` packs the build tree once, as make-release
packs it, and each other check reads what it made. Expected values are
written out here, or read from what each package is made of (the link map,
dpkg, the Debian sources, the program itself), never taken from the code
that makes it.

Usage: check_packages.py CHECK FACTS
CHECK is one of the functions in CHECKS; FACTS the build's build-facts.json.
Every tool's output is read in the C locale, so the verdict is the same in
any.
"""

import contextlib
import difflib
import fnmatch
import glob
import hashlib
import http.server
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import urllib.parse
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests"), HERE]
import support  # noqa: E402
from black_box import FIRST_LINE, SECOND_LINE  # noqa: E402
from release_sources import fetch  # noqa: E402

ENV = dict(os.environ, LC_ALL="C", TZ="UTC")
GREETING = f"{FIRST_LINE}\n{SECOND_LINE}\n".encode()
# What each kind of package holds, as its users find it.
LAYOUTS = {
    "deb": ["bin/greeting", "share/doc/greeting/changelog.gz", "share/doc/greeting/copyright",
            "share/man/man1/greeting.1.gz"],
    "tar.gz": ["bin/greeting", "share/doc/greeting/LICENSE", "share/doc/greeting/THIRD-PARTY-NOTICES",
               "share/doc/greeting/greeting.cdx.json", "share/man/man1/greeting.1.gz"],
    "zip": ["LICENSE.txt", "THIRD-PARTY-NOTICES.txt", "greeting.cdx.json", "greeting.exe"],
    # The container image, below /usr, and no manual page.
    "image": ["bin/greeting", "share/doc/greeting/LICENSE", "share/doc/greeting/THIRD-PARTY-NOTICES",
              "share/doc/greeting/greeting.cdx.json"],
}
# By readelf's name of the machine: where glibc can relocate a static
# program itself (it ships rcrt1.o), so what ships static is static-pie; the
# source directories of its own files, as glibc and GCC name them; its OCI
# platform.
STATIC_PIE_MACHINES = {"Advanced Micro Devices X86-64", "AArch64"}
MACHINE_DIRECTORIES = {"Advanced Micro Devices X86-64": ("x86_64", "x86"), "AArch64": ("aarch64",), "ARM": ("arm",),
                       "PowerPC64": ("powerpc64", "powerpc", "rs6000"), "IBM S/390": ("s390x", "s390"),
                       "RISC-V": ("riscv",), "MIPS R3000": ("mips64", "mips"), "Intel 80386": ("i386", "x86")}
OCI_PLATFORMS = {"Advanced Micro Devices X86-64": "linux/amd64", "AArch64": "linux/arm64", "ARM": "linux/arm/v7",
                 "RISC-V": "linux/riscv64", "IBM S/390": "linux/s390x", "PowerPC64": "linux/ppc64le",
                 "MIPS R3000": "linux/mips64le"}
LAYER_LIMIT = 5 << 19  # 2.5 MiB
# The source packages whose code is linked in, by the C library used; and
# those that go with the release, as their licences ask.
RUNTIME_CODE = {"linux": {"glibc", "gcc-12"}, "windows": {"mingw-w64", "gcc-12"}}
SHIPPED_SOURCES = {"linux": {"glibc"}, "windows": set()}


class Failed(Exception):
    pass


class Skipped(Exception):
    pass


def output_of(*command, env=None, **options):
    """What the command writes to standard output; Failed if it fails."""
    done = subprocess.run(command, env=env or ENV, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise Failed(f"{' '.join(map(str, command))} ended with status {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout


def fresh(*path):
    """An empty directory, made anew."""
    shutil.rmtree(path := os.path.join(*path), ignore_errors=True)
    os.makedirs(path)
    return path


def only(pattern):
    found = glob.glob(pattern)
    if len(found) != 1:
        raise Failed(f"wanted one {pattern}, found {found or 'none'}")
    return found[0]


@contextlib.contextmanager
def throwaway_signer(facts, directory):
    """cpack's arguments that sign with a day's certificate, time-stamped by
    an RFC 3161 authority on the loopback."""
    os.makedirs(directory)
    certificate, timestamper = os.path.join(directory, "signer"), os.path.join(directory, "tsa")
    for path, name, usage in ((certificate, "signer", "codeSigning"), (timestamper, "TSA", "critical,timeStamping")):
        output_of(facts["tools"]["openssl"], "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                  "-subj", f"/CN=greeting throwaway {name}", "-addext", f"extendedKeyUsage={usage}",
                  "-keyout", f"{path}.key", "-out", f"{path}.pem")
    config = pathlib.Path(directory, "tsa.cnf")
    config.write_text(f"[tsa]\ndefault_tsa = throwaway\n[throwaway]\nserial = {directory}/tsa.serial\n"
                      f"signer_cert = {timestamper}.pem\nsigner_key = {timestamper}.key\nsigner_digest = sha256\n"
                      "default_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256\n")

    class TimeStamper(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            reply = subprocess.run([facts["tools"]["openssl"], "ts", "-reply", "-config", config, "-queryfile",
                                    "/dev/stdin"], input=self.rfile.read(int(self.headers["Content-Length"])),
                                   capture_output=True).stdout
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.end_headers()
            self.wfile.write(reply)

        log_message = lambda *_: None  # noqa: E731

    ENV["no_proxy"] = "127.0.0.1"
    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamper)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield ["-D", f"CPACK_GREETING_SIGNING_CERT={certificate}.pem",
               "-D", f"CPACK_GREETING_SIGNING_KEY={certificate}.key",
               "-D", f"CPACK_GREETING_OSSLSIGNCODE={facts['tools']['osslsigncode']}",
               "-D", f"CPACK_GREETING_TIMESTAMP_URL=http://127.0.0.1:{server.server_port}/"]
    finally:
        server.shutdown()


def pack(facts):
    """Packs the build tree as make-release does (on Windows, signed and
    time-stamped by a throwaway signer), and the source package twice as
    the README says, moved from the build tree, where it lands, so that
    nobody takes it for a package of the build."""
    into = fresh(facts["packages"])
    command = [facts["tools"]["cpack"], "-G", ";".join(facts["generators"]),
               "--config", os.path.join(facts["binary_dir"], "CPackConfig.cmake"), "-B", os.path.join(into, "binary")]
    with throwaway_signer(facts, os.path.join(into, "signer")) if facts["platform"] == "windows" else \
            contextlib.nullcontext([]) as signing:
        output_of(*command, *signing)
    before = sorted(os.listdir(facts["source_dir"]))
    made = os.path.join(facts["binary_dir"], f"{facts['source_package']}.tar.gz")
    for _ in range(2):
        output_of(facts["tools"]["cpack"], "--config", os.path.join(facts["binary_dir"], "CPackSourceConfig.cmake"),
                  cwd=facts["source_dir"])
    if not os.path.exists(made):
        raise Failed(f"the source package did not land in the build tree, as {made}")
    os.makedirs(os.path.join(into, "source"))
    for file in (made, f"{made}.sha256"):
        os.rename(file, os.path.join(into, "source", os.path.basename(file)))
    pathlib.Path(into, "source-tree.json").write_text(json.dumps({"before": before,
                                                                  "after": sorted(os.listdir(facts["source_dir"]))}))


def made(facts):
    """The packages pack made, each with a checksum beside it (but the
    External generator's account of what it staged, left out of a release)."""
    binary = os.path.join(facts["packages"], "binary")
    files = sorted(name for name in os.listdir(binary)
                   if os.path.isfile(os.path.join(binary, name)) and not name.startswith("cpack-external-staged"))
    packages = {name for name in files if not name.endswith(".sha256")}
    unmatched = sorted(packages ^ {name[:-7] for name in files if name.endswith(".sha256")})
    if unmatched:
        raise Failed(f"beside the packages, without a package or a checksum: {unmatched}")
    return [os.path.join(binary, name) for name in files if not name.endswith(".sha256")]


def kind_of(package):
    return next(kind for kind in ("deb", "tar.gz", "zip", "tar") if package.endswith(f".{kind}"))


def the_image(facts):
    return next(package for package in made(facts) if package.endswith(".tar"))


def machine_of(facts, program):
    return re.search(r"Machine: +(.+)", readelf(facts, program, "--file-header"))[1].strip()


def unpacked(facts, package):
    """[(name, root)]: the root of the install a package holds, unpacked;
    for the container image, one for each platform's layer."""
    name, kind = os.path.basename(package), kind_of(package)
    where = fresh(facts["packages"], "unpacked", name)
    if kind == "deb":
        output_of("dpkg-deb", "--extract", package, where)
        return [(name, os.path.join(where, "usr"))]
    if kind == "tar":
        roots = []
        with support.OciArchive(package) as image:
            for platform, (manifest, _) in image.images(facts["version"]).items():
                with image.layer(manifest["layers"][0]) as layer:
                    layer.extractall(os.path.join(where, platform))
                roots.append((f"{name} {platform}", os.path.join(where, platform, "usr")))
        return roots
    with (zipfile.ZipFile(package) if kind == "zip" else tarfile.open(package)) as archive:
        archive.extractall(where)
    return [(name, only(os.path.join(where, "*")))]  # the one directory named after the package


def every_root(facts):
    return [(package, name, root) for package in made(facts) for name, root in unpacked(facts, package)]


def readelf(facts, program, *options):
    return output_of(facts["tools"]["readelf"] or "readelf", *options, program)


def contents(facts):
    """Each package holds the layout its users know, stripped, linked as it
    ships: the .deb dynamic, declaring libc6; a static program with no
    loader, static-pie where glibc can relocate it."""
    failures = []
    for package, name, root in every_root(facts):
        kind = "image" if kind_of(package) == "tar" else kind_of(package)
        found = sorted(os.path.relpath(os.path.join(directory, file), root)
                       for directory, _, files in os.walk(root) for file in files)
        if found != LAYOUTS[kind]:
            failures.append(f"{name} holds {found}\n  wanted {LAYOUTS[kind]}")
            continue
        # The scripts find each file where the build's facts say it installs.
        failures += [f"{name} holds no {key} at {path!r}, where the build's facts put it" for key, path in
                     facts["installed"].items() if path not in found and (kind, key) != ("image", "manual")]
        if kind == "zip":
            failures += [f"{name}: {text} has lines that do not end in CR LF" for text in found
                         if text != facts["installed"]["program"] and
                         re.search(rb"(?<!\r)\n", open(os.path.join(root, text), "rb").read())]
        program = os.path.join(root, facts["installed"]["program"])
        if " .debug_" in output_of(facts["tools"]["objdump"] or "objdump", "--section-headers", program):
            failures.append(f"{name}: {facts['installed']['program']} is not stripped")
        if kind == "zip":
            continue
        headers = readelf(facts, program, "--file-header", "--program-headers", "--dynamic")
        machine = re.search(r"Machine: +(.+)", headers)[1].strip()
        linking = ", ".join([f"type {re.search(r'Type: +([A-Z]+)', headers)[1]}"] +
                            [part for part in ("program interpreter", "Dynamic section") if part in headers])
        wanted = ("type DYN, program interpreter, Dynamic section" if kind == "deb" else
                  "type DYN, Dynamic section" if machine in STATIC_PIE_MACHINES else "type EXEC")
        if linking != wanted:
            failures.append(f"{name}: {facts['installed']['program']} has {linking}; wanted {wanted}")
        if kind == "deb" and not re.search(r"(^|, )libc6 ", output_of("dpkg-deb", "--field", package, "Depends")):
            failures.append(f"{name} declares no dependency on libc6")
    return failures


def hardening(facts):
    """hardening-check finds Debian's five in the .deb's program; in a static
    one, where it sees no symbols to tell a canary by, read-only relocations,
    and immediate binding where glibc can relocate it."""
    failures = []
    for package, name, root in every_root(facts):
        program = os.path.join(root, facts["installed"]["program"])
        # Its status says whether every feature it knows of is there.
        report = subprocess.run([facts["tools"]["hardening_check"], program], env=ENV, capture_output=True,
                                text=True).stdout
        found = dict(re.findall(r"^ ([^:\n]+): (.*)$", report, re.M))
        machine = machine_of(facts, program)
        wanted = ["Read-only relocations"]
        if kind_of(package) == "deb":
            wanted += ["Position Independent Executable", "Stack protected", "Fortify Source functions"]
        if kind_of(package) == "deb" or machine in STATIC_PIE_MACHINES:
            wanted.append("Immediate binding")
        failures += [f"{name}: hardening-check: {feature}: {found.get(feature)}"
                     for feature in wanted if not found.get(feature, "").startswith("yes")]
    return failures


def describe_pe(headers):
    """What of objdump -p's account the baseline holds: the format, headers,
    which data directories there are, and every import as DLL!function."""
    lines = [f"format {re.search(r'file format (.+)', headers)[1]}"]
    for field in ("Magic", "MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion",
                  "MinorSubsystemVersion", "Subsystem"):
        lines.append(" ".join([field, *re.search(rf"^{field}\s+(.+)$", headers, re.M)[1].split()]))
    flags = re.search(r"^DllCharacteristics\s+\S+\n((?:\t+[A-Z_]+\n)*)", headers, re.M)[1].split()
    lines.append(f"DllCharacteristics {' '.join(sorted(flags))}")
    # The signature's own directory comes and goes with signing, checked apart.
    lines += [f"directory {name}" for size, name in
              re.findall(r"^Entry \w [0-9a-f]+ ([0-9a-f]{8}) ([A-Za-z ]+?Directory)", headers, re.M)
              if int(size, 16) and name != "Security Directory"]
    for dll, table in re.findall(r"\tDLL Name: (\S+)\n[^\n]*\n((?:\t[0-9a-f]+\t +\d+ +\S+\n)*)", headers):
        lines += sorted(f"import {dll}!{function}" for function in re.findall(r"\d+ +(\S+)\n", table))
    return lines


def windows_exe(facts):
    """The zip's executable has exactly its baseline's headers and imports,
    the packing date as its time stamp, its version resource and manifest."""
    [(_, _, root)] = every_root(facts)
    program = os.path.join(root, facts["installed"]["program"])
    failures = []
    headers = output_of(facts["tools"]["objdump"], "-p", program)
    baseline = [line for line in pathlib.Path(facts["pe_baseline"]).read_text().splitlines()
                if line.strip() and not line.startswith("#")]
    found = describe_pe(headers)
    if found != baseline:
        failures.append(f"{program} is not as {facts['pe_baseline']} holds it (-: the baseline, +: found); its "
                        "first lines say what to check before changing it:\n" +
                        "\n".join(difflib.unified_diff(baseline, found, lineterm="", n=1)))
    # The linker writes no time; stripping for the zip writes the packing date.
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or facts["release_epoch"])
    packed = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(epoch))
    if (stamp := re.search(r"^Time/Date\s+(.+)$", headers, re.M)[1]) != packed:
        failures.append(f"time stamp: wanted {packed}, found {stamp}")
    resources = output_of(facts["tools"]["windres"], "-i", program, "-O", "rc")
    numeric = ", ".join(facts["version"].split(".") + ["0"])
    wanted = {"FILEVERSION": numeric, "FileVersion": facts["version"], "ProductVersion": facts["version"],
              "ProductName": "greeting", "OriginalFilename": "greeting.exe", "LegalCopyright": facts["copyright"],
              "FileDescription": facts["description"]}
    found = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', resources))
    found["FILEVERSION"] = re.search(r" FILEVERSION ([0-9, ]+)\n", resources)[1]
    failures += [f"version resource {name}: wanted {value!r}, found {found.get(name)!r}"
                 for name, value in wanted.items() if found.get(name) != value]
    manifest = re.search(r"\n1 24 [^\n]*\nBEGIN\n((?:[^\n]+\n)*?)END", resources)
    embedded = "".join(re.findall(r'^\s*"(.*)"$', manifest[1] if manifest else "", re.M))
    embedded = embedded.replace('""', '"').replace("\\n", "\n")
    if embedded != pathlib.Path(facts["windows_manifest"]).read_text():
        failures.append(f"the embedded manifest is not {facts['windows_manifest']}:\n{embedded}")
    # It runs with the rights of whoever starts it, and asks for no more.
    if not re.search(r'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', embedded):
        failures.append("the manifest does not ask to run as the invoker, without UI access")
    return failures


def signed(facts):
    """The executable in the zip carries a signature by the throwaway
    signer, time-stamped by the throwaway authority, and both verify."""
    [(_, _, root)] = every_root(facts)
    signer = os.path.join(facts["packages"], "signer")
    verdict = output_of(facts["tools"]["osslsigncode"], "verify", "-CAfile", f"{signer}/signer.pem",
                        "-TSA-CAfile", f"{signer}/tsa.pem", "-in", os.path.join(root, facts["installed"]["program"]))
    return [] if "Timestamp Server Signature verification: ok" in verdict else [f"no time stamp verified:\n{verdict}"]


def lintian_clean(facts):
    """lintian finds nothing in the Debian package, pedantic tags included."""
    done = subprocess.run([facts["tools"]["lintian"], "--info", "--display-experimental", "--pedantic",
                           "--fail-on", "error,warning,info,pedantic,experimental", *made(facts)],
                          env=ENV, capture_output=True, text=True)
    return [f"lintian (status {done.returncode}):\n{done.stdout}{done.stderr}"] if done.returncode or done.stdout else []


def sources(facts):
    """The source package leaves the source tree as it was, and holds
    exactly the files git does not ignore, 644 or 755."""
    source_dir = facts["source_dir"]
    if not os.path.isdir(os.path.join(source_dir, ".git")):
        raise Skipped(f"{source_dir} is no git work tree, whose files the source package is held to")
    tree = json.loads(pathlib.Path(facts["packages"], "source-tree.json").read_text())
    failures = [] if tree["before"] == tree["after"] else [
        f"packing the sources changed the source tree: it held {tree['before']}, now {tree['after']}"]
    with tarfile.open(only(os.path.join(facts["packages"], "source", "*.tar.gz"))) as package:
        members = package.getmembers()
    files = sorted(member.name.split("/", 1)[1] for member in members if member.isfile())
    listed = output_of(facts["tools"]["git"], "-c", "safe.directory=*", "-C", source_dir, "ls-files", "-z",
                       "--cached", "--others", "--exclude-standard")
    wanted = sorted(path for path in set(listed.split("\0")[:-1]) if os.path.isfile(os.path.join(source_dir, path)))
    if files != wanted:
        failures.append(f"the source package holds what git ignores: {sorted(set(files) - set(wanted))}; "
                        f"and lacks: {sorted(set(wanted) - set(files))}")
    modes = {f"{member.name}: {member.mode:o}" for member in members
             if member.mode not in ((0o755,) if member.isdir() else (0o644, 0o755))}
    return failures + ([f"modes other than 644, or 755 for what runs: {sorted(modes)}"] if modes else [])


# The words of each grant of licence in a source file's header, and of
# each exception.
GRANTS = {
    "LGPL-2.1-or-later": r"GNU Lesser General Public License as published by the Free Software Foundation; "
                         r"either version 2\.1 of the License, or \(at your option\) any later version",
    "GPL-3.0-or-later": r"GNU General Public License as published by the Free Software Foundation; either "
                        r"version 3, or \(at your option\) any later version",
    "GPL-2.0-or-later": r"GNU General Public License as published by the Free Software Foundation; either "
                        r"version 2, or \(at your option\) any later version",
    "BSD-3-Clause": r"Redistribution and use in source and binary forms.{0,700}Neither the name of",
    "LicenseRef-public-domain": r"placed in the Public Domain",
    "LicenseRef-Keith-Marshall": r"without restriction of copyright",
    "LicenseRef-Lucent": r"the name of Lucent or any of its entities not be used",
    "LicenseRef-David-Gay": r"the name of the author or any of his current or former employers",
    "Apache-2.0 WITH LLVM-exception": r"Apache License v2\.0 with LLVM Exceptions",
}
EXCEPTIONS = {
    "GCC-exception-3.1": r"GCC Runtime Library Exception,? version 3\.1",
    "GCC-exception-2.0": r"gives you unlimited permission to link the compiled version of this file",
    "GNU-compiler-exception": r"As a special exception, if you link the code in this file with files compiled "
                              r"with a GNU compiler",
}
SOURCE_SUFFIXES = (".c", ".cc", ".S", ".s")


def header_licences(path):
    """The SPDX terms a source file's header grants."""
    header = pathlib.Path(path).read_text(encoding="utf-8", errors="replace")[:8000].splitlines()
    text = re.sub(r"\s+", " ", " ".join(re.sub(r"^\s*(/\*+|\*+/?|//|#|;+|dnl)", " ", line) for line in header))
    found = {term for term, words in GRANTS.items() if re.search(words, text, re.I)}
    exception = next((name for name, words in EXCEPTIONS.items() if re.search(words, text, re.I)), None)
    return {f"{term} WITH {exception}" if exception and term.endswith("GPL-2.1-or-later") or
            exception and re.match(r"L?GPL-", term) else term for term in found}


class SourceTree:
    """A Debian source package, unpacked once in the cache, that gives a
    member's licence by its file's header and the copyright file's last
    stanza naming it, unless the header is finer than a catch-all stanza."""

    def __init__(self, facts, name, version):
        downloads, files = fetch(facts["sources_cache"], name, version)
        self.root = os.path.join(facts["sources_cache"], "unpacked", f"{name}_{version}")
        if not os.path.isdir(self.root):
            partial = fresh(f"{self.root}.partial")
            for file in files:
                if ".orig." in file and not file.endswith(".asc") or ".debian.tar" in file:
                    output_of("tar", "-xf", os.path.join(downloads, file), "-C", partial)
            # GCC's orig tarball holds its sources as a tarball of their own.
            for inner in glob.glob(os.path.join(partial, "*", "gcc-*.tar.xz")):
                output_of("tar", "-xJf", inner, "-C", partial, "--wildcards", "*/libgcc/*", "*/libstdc++-v3/*",
                          "*/libiberty/*")
            os.rename(partial, self.root)
        text = pathlib.Path(self.root, "debian", "copyright").read_text(encoding="utf-8", errors="replace")
        self.stanzas = [(files.split(), licence) for files, licence in re.findall(
            r"^Files:((?:[ \t]*\S[^\n]*\n)+?)(?:\S[^\n]*\n)*?License: (\S+)", text, re.M)
            if text.startswith("Format:")]
        self.files = {}
        for directory, _, names in os.walk(self.root):
            for file in names:
                stem, suffix = os.path.splitext(file)
                if suffix in SOURCE_SUFFIXES:
                    self.files.setdefault(stem, []).append(os.path.join(directory, file))

    def stanza_licence(self, path):
        relative = os.path.relpath(path, self.root).split("/", 1)[-1]
        licence = None
        for files, name in self.stanzas:
            if any(fnmatch.fnmatch(relative, pattern) for pattern in files):
                licence, matched = name, files
        if licence is None:
            return None, None
        term = "ZPL-2.1" if licence == "ZPL-2.1" else f"LicenseRef-{licence}"
        return term, matched == ["*"]

    def licence_of(self, member, machine):
        """A member's SPDX terms, or None where its source files (the
        machine's own, where there are several) do not agree or say none."""
        stem = re.sub(r"^lib(32|64)_lib\w+?_a-", "", os.path.splitext(member)[0])
        paths = self.files.get(stem, [])
        own = [path for path in paths if any(f"/{name}/" in path for name in MACHINE_DIRECTORIES.get(machine, ()))]
        told = set()
        for path in own or paths:
            terms = header_licences(path)
            if self.stanzas:
                stanza, catch_all = self.stanza_licence(path)
                if stanza and not (catch_all and terms):
                    terms.add(stanza)
            told.add(frozenset(terms))
        return set(told.pop()) if len(told) == 1 and next(iter(told)) else None


def link_map_parts(facts):
    """Each part the host's link took, as its map gives it."""
    text = pathlib.Path(facts["binary_dir"], "greeting.map").read_text(encoding="utf-8", errors="replace")
    parts = {f"{os.path.basename(archive)}({member})"
             for archive, member in re.findall(r"^(/[^\s(]+\.a)\(([^)]+)\)", text, re.M)}
    return parts | {os.path.basename(path) for path in re.findall(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.M)}


def dpkg_field(package, field):
    """A field of an installed package (of the build machine's architecture,
    where others are installed too)."""
    return output_of("dpkg-query", "--show", f"--showformat=${{{field}}}\n", package).split("\n")[0]


def third_party(facts):
    """Each package's notices and bill name every part of the link (as the
    map gives it), each Debian package at dpkg's version, tied to its
    sources, each member under the licence its own source gives it, the
    operating system, the DLLs a Windows program imports, and NTIA's minimum
    elements; the notices hold each copyright file and the licences it names,
    and say where the source is that goes with the release."""
    failures = []
    os_release = {key: value.strip('"') for key, value in
                  re.findall(r"^(\w+)=(.*)$", pathlib.Path("/etc/os-release").read_text(), re.M)}
    distro = f"{os_release['ID']}-{os_release['VERSION_ID']}"
    trees = {}
    for package, name, root in every_root(facts):
        if kind_of(package) == "deb":
            continue
        bill = json.loads(pathlib.Path(root, facts["installed"]["bom"]).read_text(encoding="utf-8"))
        notices = pathlib.Path(root, facts["installed"]["notices"]).read_text(encoding="utf-8-sig")
        program = os.path.join(root, facts["installed"]["program"])
        digest = hashlib.sha256(pathlib.Path(program).read_bytes()).hexdigest()
        machine = "" if facts["platform"] == "windows" else machine_of(facts, program)
        greeting, components = bill["metadata"]["component"], bill["components"]
        by_ref = {component["bom-ref"]: component for component in components}
        depends = {entry["ref"]: entry["dependsOn"] for entry in bill["dependencies"]}
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or facts["release_epoch"])
        wanted = {
            "the program's digest": (greeting["hashes"], [{"alg": "SHA-256", "content": digest}]),
            "greeting's purl": (greeting.get("purl"), f"pkg:generic/greeting@{facts['version']}"),
            "the bill's time": (bill["metadata"]["timestamp"], time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch))),
            "the bill's author": (bill["metadata"]["authors"][0]["name"] + f" <{bill['metadata']['authors'][0]['email']}>",
                                  facts["maintainer"]),
            "greeting's supplier": (greeting["supplier"]["name"], facts["authors"]),
            "the composition": (bill["compositions"][0]["aggregate"], "complete"),
        }
        failures += [f"{name}: {what}: {found!r}; wanted {want!r}" for what, (found, want) in wanted.items()
                     if found != want]
        failures += [f"{name}: {component.get('name', component['bom-ref'])} has no dependency entry"
                     for component in [greeting, *components] if component["bom-ref"] not in depends]
        # The operating system, holding every Debian package.
        systems = [component for component in components if component["type"] == "operating-system"]
        debs = sorted(component["bom-ref"] for component in components if "arch=source" not in
                      component.get("purl", "arch=source") and component["purl"].startswith("pkg:deb/"))
        if [(c["name"], c["version"]) for c in systems] != [(os_release["ID"], os_release["VERSION_ID"])]:
            failures.append(f"{name}: the operating-system components are {systems}; wanted {os_release['ID']} "
                            f"{os_release['VERSION_ID']}, as /etc/os-release says")
        elif sorted(depends[systems[0]["bom-ref"]]) != debs or systems[0]["bom-ref"] not in depends[greeting["bom-ref"]]:
            failures.append(f"{name}: greeting does not depend on {systems[0]['name']}, or it does not hold "
                            f"every Debian package: {depends[systems[0]['bom-ref']]}")
        # Windows' own DLLs that the program imports.
        if facts["platform"] == "windows":
            imports = sorted(set(re.findall(r"\tDLL Name: (\S+)", output_of(facts["tools"]["objdump"], "-p", program))))
            named = sorted(c["name"] for c in components if c["type"] == "platform")
            if named != imports:
                failures.append(f"{name}: the bill names the DLLs {named}; the program imports {imports}")
        runtime = facts["platform"]
        code = {c["name"]: c for c in components if "licenses" in c and "arch=source" in c.get("purl", "")}
        if set(code) != RUNTIME_CODE[runtime]:
            failures.append(f"{name}: the bill names the code of {sorted(code)}; wanted {sorted(RUNTIME_CODE[runtime])}")
        shipped = {c["name"] for c in components for p in c.get("properties", []) if p["name"] ==
                   "greeting:source-in-release" and p["value"] == f"{c['name']}_{re.sub('^[0-9]+:', '', c['version'])}.dsc"}
        if shipped != SHIPPED_SOURCES[runtime]:
            failures.append(f"{name}: the bill puts the sources of {sorted(shipped)} in the release; wanted "
                            f"{sorted(SHIPPED_SOURCES[runtime])}")
        all_parts = set()
        for component in components:
            if not component.get("purl", "").startswith("pkg:deb/") or "arch=source" in component["purl"]:
                continue
            package_name = component["name"]
            parts = dict(entry["value"].split(": ", 1) for entry in component["properties"]
                         if entry["name"] == "greeting:linked-in")
            all_parts |= set(parts)
            source, source_version = dpkg_field(package_name, "source:Package"), dpkg_field(package_name, "source:Version")
            properties = {entry["name"]: entry["value"] for entry in component["properties"]}
            qualifiers = dict(urllib.parse.parse_qsl(component["purl"].split("?")[1]))
            checks = {
                "version": (component["version"], dpkg_field(package_name, "Version")),
                "SrcName": (properties.get("aquasecurity:trivy:SrcName"), source),
                "SrcVersion": (properties.get("aquasecurity:trivy:SrcVersion"), source_version),
                "distro": (qualifiers.get("distro"), distro),
                "supplier": (component["supplier"]["name"], os_release["NAME"]),
                "licence": (component["licenses"][0].get("expression") or component["licenses"][0]["license"]["id"],
                            " AND ".join(sorted({term for licence in parts.values() for term in licence.split(" AND ")}))),
            }
            failures += [f"{name}: {package_name}'s {what} is {found!r}; wanted {want!r}"
                         for what, (found, want) in checks.items() if found != want]
            sources_of = [by_ref[ref] for ref in depends[component["bom-ref"]] if ref in by_ref]
            if not any(c["name"] == source and c["version"] == source_version for c in sources_of):
                failures.append(f"{name}: {package_name} is not tied to {source} {source_version}, built from")
            # Each member under the licence its own source gives it.
            code_source = next((c for c in sources_of if c["name"] in code), None)
            if code_source is None:
                failures.append(f"{name}: {package_name} holds the code of no source package")
                continue
            key = (code_source["name"], code_source["version"])
            tree = trees.get(key) or trees.setdefault(key, SourceTree(facts, *key))
            told = 0
            for part, licence in parts.items():
                member = part.split("(")[-1].rstrip(")")
                from_source = tree.licence_of(member, machine)
                if from_source is not None:
                    told += 1
                    if set(licence.split(" AND ")) != from_source:
                        failures.append(f"{name}: {part} is {licence} in the bill; its source gives "
                                        f"{' AND '.join(sorted(from_source))}")
            if parts and not told:
                failures.append(f"{name}: no member of {package_name} could be told from {key[0]}'s source")
            print(f"{name}: {told} of {len(parts)} members of {package_name} checked against {' '.join(key)}")
            # The notices list the package's parts under each of their licences.
            listed = re.search(rf"^{re.escape(package_name)} \S+: [^\n]*\n((?:  [^\n]*\n)*)", notices, re.M)
            failures += [f"{name}: the notices do not list {package_name}'s parts under {licence}"
                         for licence in set(parts.values()) if f"\n  {licence}: " not in f"\n{listed[1] if listed else ''}"]
        if facts["platform"] != "windows" and name.startswith(f"{facts['name']}-{facts['version']}-linux-x86_64"):
            if (missing := link_map_parts(facts) ^ all_parts):
                failures.append(f"{name}: the bill and the link map differ in {sorted(missing)}")
        # The copyright file of each source's code, and the licences it names.
        for source in code:
            installed = [line.split("\t")[0] for line in output_of(
                "dpkg-query", "--show", "--showformat=${Package}\t${source:Package}\n").splitlines()
                if line.split("\t")[1] == source and os.path.isfile(f"/usr/share/doc/{line.split(chr(9))[0]}/copyright")]
            texts = [pathlib.Path(f"/usr/share/doc/{package_name}/copyright").read_text().rstrip("\n")
                     for package_name in installed]
            if not any(text in notices for text in texts):
                failures.append(f"{name}: the notices hold no copyright file of {source}")
            for text in texts[:1]:
                for licence in re.findall(r"/usr/share/common-licenses/([A-Za-z0-9.+-]*[A-Za-z0-9+])", text):
                    path = os.path.realpath(f"/usr/share/common-licenses/{licence}")
                    if os.path.isfile(path) and pathlib.Path(path).read_text().rstrip("\n") not in notices:
                        failures.append(f"{name}: the notices lack {path}")
        for source in SHIPPED_SOURCES[runtime]:
            dsc = next(p["value"] for p in code[source]["properties"] if p["name"] == "greeting:source-in-release")
            if not re.search(rf"{re.escape(dsc)} and every file it lists, which go with", notices):
                failures.append(f"{name}: the notices do not say where {dsc} is")
        if facts["platform"] == "windows" and not notices.isascii() and not pathlib.Path(
                root, facts["installed"]["notices"]).read_bytes().startswith(b"\xef\xbb\xbf"):
            failures.append(f"{name}: the notices are UTF-8 without the byte-order mark Notepad before Windows 10 needs")
    return failures


def bill_of_materials(facts):
    """Each bill is valid by CycloneDX 1.6's own schema, names licences on
    its SPDX list (or LicenseRef-), and package URLs as packageurl-js
    writes them."""
    try:
        import jsonschema
    except ImportError:
        return [f"the check needs Python's jsonschema ({facts['hints']['jsonschema']})"]
    directory = os.path.dirname(facts["tools"]["cyclonedx_schema"])
    schemas = {}
    for path in glob.glob(os.path.join(directory, "*.schema.json")):
        schemas[path] = json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    schema = schemas[facts["tools"]["cyclonedx_schema"]]
    spdx = set(schemas[os.path.join(directory, "spdx.SNAPSHOT.schema.json")]["enum"])
    # The schema refers to its neighbours by their file names, beside its own $id.
    store = {urllib.parse.urljoin(schema["$id"], os.path.basename(path)): value for path, value in schemas.items()}
    validator = jsonschema.Draft7Validator(schema, resolver=jsonschema.RefResolver(schema["$id"], schema, store=store))
    failures = []
    for package, name, root in every_root(facts):
        if kind_of(package) == "deb":
            continue
        bom = json.loads(pathlib.Path(root, facts["installed"]["bom"]).read_text(encoding="utf-8"))
        failures += [f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}"
                     for error in validator.iter_errors(bom)]
        components = [bom["metadata"]["component"], *bom["components"]]
        for entry in (entry for component in components for entry in component.get("licenses", [])):
            terms = re.split(r"\s+(?:AND|OR|WITH)\s+|[()]", entry.get("expression") or entry["license"]["id"])
            failures += [f"{name}: {term} is on no SPDX list" for term in terms
                         if term and term not in spdx and not term.startswith("LicenseRef-")]
        purls = [component["purl"] for component in components if "purl" in component]
        written = output_of(facts["tools"]["node"], "-e", "const {PackageURL} = require(process.argv[1]);"
                            "for (const purl of process.argv.slice(2))"
                            " console.log(PackageURL.fromString(purl).toString())",
                            facts["tools"]["packageurl"], *purls).splitlines()
        failures += [f"{name}: {purl} is written {again} by the package-url parser"
                     for purl, again in zip(purls, written) if purl != again]
    return failures


def fetch_sources(facts, facts_path, *packages):
    """What release_sources.py does with these packages, in a directory of its own."""
    into = fresh(facts["packages"], "sources")
    return subprocess.run([facts["tools"]["python"], os.path.join(HERE, "release_sources.py"), facts_path, into,
                           *packages], env=ENV, capture_output=True, text=True), into


def release_sources(facts):
    """The sources the bills name are had whole, as linked, mode 644, and
    unpack; one that cannot be had stops the release, saying why, as does
    one changed in the cache, .dsc and all; a zip's bills are read too."""
    packages = [package for package in made(facts) if kind_of(package) in ("tar.gz", "tar")]
    done, into = fetch_sources(facts, facts["_path"], *packages)
    fetched, failures = done.stdout.split(), [] if done.returncode == 0 else [f"release_sources.py: {done.stderr}"]
    for dsc in [name for name in fetched if name.endswith(".dsc")]:
        unpacked = os.path.join(facts["packages"], "unpacked-source")
        done = subprocess.run(["dpkg-source", "--no-copy", "--skip-patches", "-x", os.path.join(into, dsc), unpacked],
                              env=ENV, capture_output=True, text=True)
        shutil.rmtree(unpacked, ignore_errors=True)
        failures += [f"{dsc} does not unpack:\n{done.stdout}{done.stderr}"] if done.returncode else []
    glibc = f"glibc_{dpkg_field('libc6', 'source:Version')}.dsc"
    failures += [] if glibc in fetched else [f"fetched {fetched}; wanted {glibc} among them"]
    failures += [f"{name} has mode {mode:o}, not 644" for name in fetched
                 if (mode := os.stat(os.path.join(into, name)).st_mode & 0o7777) != 0o644]
    # The same bills in a zip give the same sources.
    zipped = os.path.join(facts["packages"], "bills.zip")
    with zipfile.ZipFile(zipped, "w") as archive, tarfile.open(next(p for p in packages if p.endswith(".gz"))) as tar:
        for number, member in enumerate(member for member in tar if member.name.endswith(".cdx.json")):
            archive.writestr(f"{number}.cdx.json", tar.extractfile(member).read())
    from_zip = fetch_sources(facts, facts["_path"], zipped)[0].stdout.split()
    if not from_zip or not set(from_zip) <= set(fetched):
        failures.append(f"the bills in a zip give {from_zip}; in the packages, {fetched}")
    # A source the mirror does not have stops it, and apt's words say why.
    unfetchable = fresh(facts["packages"], "unfetchable")
    pathlib.Path(unfetchable, "x.cdx.json").write_text(json.dumps({"components": [{
        "name": "glibc", "version": "0.0-0", "properties": [{"name": "greeting:source-in-release",
                                                             "value": "glibc_0.0-0.dsc"}]}]}))
    done = fetch_sources(facts, facts["_path"], unfetchable)[0]
    if done.returncode != 3 or "cannot be had" not in done.stderr or "apt-get source said" not in done.stderr:
        failures.append(f"a source that cannot be had: status {done.returncode}, saying {done.stderr[-600:]!r}")
    # A changed file in the cache, with its .dsc line changed to match.
    cache = os.path.join(facts["packages"], "changed-cache")
    shutil.rmtree(cache, ignore_errors=True)
    shutil.copytree(facts["sources_cache"], cache, symlinks=True, ignore=shutil.ignore_patterns("unpacked"))
    debian = pathlib.Path(cache, "downloads", glibc.replace(".dsc", ".debian.tar.xz"))
    debian.write_bytes(content := debian.read_bytes() + b"\0")
    dsc = pathlib.Path(cache, "downloads", glibc)
    dsc.write_text(re.sub(rf"^ [0-9a-f]{{64}} \d+ {re.escape(debian.name)}$",
                          f" {hashlib.sha256(content).hexdigest()} {len(content)} {debian.name}", dsc.read_text(),
                          flags=re.M))
    changed_facts = pathlib.Path(facts["packages"], "changed-cache.json")
    changed_facts.write_text(json.dumps(dict(facts, sources_cache=cache)))
    done = fetch_sources(facts, changed_facts, *packages)[0]
    if done.returncode != 1 or "signed index" not in done.stderr:
        failures.append(f"a changed cached file: status {done.returncode}, saying {done.stderr[-600:]!r}")
    shutil.rmtree(cache, ignore_errors=True)
    return failures


def signed_release(facts):
    """sign-release signs each file SHA256SUMS lists, and SHA256SUMS, with
    GREETING_RELEASE_KEY: FILE.asc, armoured, which gpgv takes with the
    public key, and refuses once a byte changes. The GnuPG home, where
    gpg-agent makes its socket, is a short path under /tmp."""
    release = fresh(facts["packages"], "signing", "release")
    names = [f"greeting-{facts['version']}.tar.gz", f"greeting-{facts['version']}-oci.tar", "SHA256SUMS"]
    for name in names[:2]:
        pathlib.Path(release, name).write_text(name)
    output_of("sh", "-c", "sha256sum -- * >SHA256SUMS", cwd=release)
    gpg, keyring = facts["tools"]["gpg"], os.path.join(release, "..", "public.gpg")
    with tempfile.TemporaryDirectory(prefix="gnupg-", dir="/tmp") as home:
        env = dict(ENV, GNUPGHOME=home)
        try:
            output_of(gpg, "--batch", "--passphrase", "", "--quick-generate-key",
                      "greeting throwaway release key <throwaway@example.invalid>", "ed25519", "sign", "1d", env=env)
            key = re.search(r"^fpr:+([0-9A-F]+):", output_of(gpg, "--with-colons", "--list-keys", env=env), re.M)[1]
            output_of(gpg, "--batch", "--output", keyring, "--export", key, env=env)
            output_of(os.path.join(HERE, "sign-release"), release, env=dict(env, GREETING_RELEASE_KEY=key))
        finally:
            subprocess.run([facts["tools"]["gpgconf"], "--kill", "all"], env=env, capture_output=True)
    failures = []
    for name in names:
        path = pathlib.Path(release, name)
        verify = [facts["tools"]["gpgv"], "--keyring", keyring, f"{path}.asc", path]
        if not (asc := pathlib.Path(f"{path}.asc")).exists() or not asc.read_text().startswith("-----BEGIN PGP SIG"):
            failures.append(f"{name}.asc is missing, or no ASCII-armoured signature")
            continue
        if (done := subprocess.run(verify, env=ENV, capture_output=True, text=True)).returncode:
            failures.append(f"gpgv refuses {name}.asc:\n{done.stderr}")
        path.write_bytes(bytes([path.read_bytes()[0] ^ 1]) + path.read_bytes()[1:])
        if subprocess.run(verify, env=ENV, capture_output=True).returncode == 0:
            failures.append(f"gpgv takes {name}.asc for a changed {name}")
    return failures


def image(facts):
    """The image archive holds an image a platform, under one index tagged
    VERSION, as OCI, containerd and Docker's classic store read it: each
    config names its program's platform and a user not root; each layer, of
    at most 2.5 MiB, holds root's files and their directories, and a program
    that prints exactly the greeting (under QEMU, for others); the source
    image, VERSION-source, holds under /usr/src/debian glibc's .dsc and
    every file it lists, as it lists them."""
    version, failures = facts["version"], []
    with support.OciArchive(the_image(facts)) as oci:
        index = json.loads(oci.read("index.json"))
        tags = {d["annotations"]["org.opencontainers.image.ref.name"]: d["annotations"].get("io.containerd.image.name")
                for d in index["manifests"]}
        wanted_tags = {tag: f"docker.io/library/greeting:{tag}" for tag in (version, f"{version}-source")}
        if tags != wanted_tags:
            failures.append(f"index.json tags {tags}; wanted {wanted_tags}")
        images = oci.images(version)
        wanted_platforms = set(OCI_PLATFORMS.values()) - left_out(facts)
        if set(images) != wanted_platforms:
            failures.append(f"the image is for {sorted(images)}; wanted {sorted(wanted_platforms)}")
        has_manifest = "manifest.json" in oci.archive.getnames()
        failures += [] if has_manifest else ["the archive has no manifest.json, which Docker's classic store loads"]
        docker = {tag: entry for entry in json.loads(oci.read("manifest.json") if has_manifest else "[]")
                  for tag in entry["RepoTags"]}
        for platform, (manifest, config) in sorted(images.items()):
            layer_descriptor = manifest["layers"][0]
            with oci.layer(layer_descriptor) as layer:
                entries = layer.getmembers()
                layer.extractall(where := fresh(facts["packages"], "layers", platform))
            program = os.path.join(where, facts["installed"]["program"].join(["usr/", ""]))
            machine = machine_of(facts, program)
            named = "/".join(filter(None, ("linux", config["architecture"], config.get("variant"))))
            if OCI_PLATFORMS.get(machine) != named or platform != named:
                failures.append(f"{platform}: its config names {named}, its program is for {machine}")
            if not re.fullmatch(r"[1-9][0-9]*:[0-9]+", config["config"].get("User", "")):
                failures.append(f"{platform}: runs as {config['config'].get('User')!r}; wanted a numeric user not root")
            if layer_descriptor["size"] > LAYER_LIMIT:
                failures.append(f"{platform}: its layer is {layer_descriptor['size']} bytes; at most {LAYER_LIMIT}")
            names = {entry.name.rstrip("/") for entry in entries}
            for entry in entries:
                mode = 0o755 if entry.isdir() or entry.name.endswith("/bin/greeting") else 0o644
                if (entry.uid, entry.gid, entry.uname, entry.gname, entry.mode) != (0, 0, "root", "root", mode):
                    failures.append(f"{platform}: {entry.name} is {entry.uid}:{entry.gid} ({entry.uname}:"
                                    f"{entry.gname}), mode {entry.mode:o}; wanted root's, mode {mode:o}")
                parent = os.path.dirname(entry.name.rstrip("/"))
                if parent and parent not in names:
                    failures.append(f"{platform}: {entry.name} has no entry for its directory {parent}")
            labels = config["config"]["Labels"]
            if "LGPL-2.1-or-later" not in labels.get("org.opencontainers.image.licenses", "").split(" AND "):
                failures.append(f"{platform}: its licences label {labels.get('org.opencontainers.image.licenses')!r} "
                                "does not name glibc's")
            tag = tag_of(platform, version)
            if docker.get(tag, {}).get("Config") != f"blobs/sha256/{manifest['config']['digest'][7:]}":
                failures.append(f"manifest.json does not load {platform}'s image as {tag}")
            done = subprocess.run([program], capture_output=True)
            if (done.returncode, done.stdout, done.stderr) != (0, GREETING, b""):
                failures.append(f"{platform}: {program} gives {done.returncode}, {done.stdout!r}, {done.stderr!r} "
                                "(other platforms run under QEMU once .ci/register-binfmt has run)")
        if docker.get(f"greeting:{version}", {}).get("Config") != docker.get(f"greeting:{version}-amd64", {}).get("Config"):
            failures.append(f"manifest.json does not load the x86-64 image as greeting:{version}")
        held = {}
        for descriptor in json.loads(oci.blob(oci.tagged(f"{version}-source")))["layers"]:
            with oci.layer(descriptor) as layer:
                held |= {entry.name: layer.extractfile(entry).read() for entry in layer if entry.isfile()}
        dsc = f"glibc_{dpkg_field('libc6', 'source:Version')}.dsc"
        directory = f"usr/src/debian/{dsc[:-4]}/"
        listed = re.findall(r"^ ([0-9a-f]{64}) \d+ (\S+)$", held.get(directory + dsc, b"").decode(), re.M)
        if not listed or any(hashlib.sha256(held.get(directory + name, b"")).hexdigest() != digest
                             for digest, name in listed):
            failures.append(f"the source image holds {sorted(held)}; wanted {directory}{dsc} and every file it "
                            "lists, as it lists them")
    return failures


def left_out(facts):
    """The image's platforms left out, as this mirror cannot give their
    glibc's source (release_sources.py's status 3)."""
    found = set()
    for platform, build in zip(facts["image_platforms"][1:], facts["image_builds"][1:]):
        done = fetch_sources(facts, facts["_path"], *glob.glob(os.path.join(build, "packed", "*.tar.gz")))[0]
        if done.returncode == 3:
            why = re.search(r"the source of (\S+ \S+) cannot be had", done.stderr)
            print(f"{platform} is left out of the image: the source of {why[1] if why else 'its glibc'} cannot be had")
            found.add(platform)
    return found


def tag_of(platform, version):
    """The tag Docker's classic store gives an image of one platform."""
    return f"greeting:{version}-{platform.split('/', 1)[1].replace('/', '')}"


def can_run_containers():
    if os.geteuid() != 0:
        raise Skipped("the container engines are run here as root")
    if not support.root_is_mount_point():
        raise Skipped(support.NO_MOUNT_POINT)


@contextlib.contextmanager
def podman(facts):
    """podman with its images in the build tree, its run-time state at a
    short path (at most 50 characters), runc on cgroupfs and vfs."""
    can_run_containers()
    root = os.path.join(facts["packages"], "podman")
    shutil.rmtree(root, ignore_errors=True)
    with tempfile.TemporaryDirectory(prefix="podman-", dir="/tmp") as run_root:
        yield [facts["tools"]["podman"], "--root", root, "--runroot", run_root, "--storage-driver", "vfs",
               "--runtime", "runc", "--cgroup-manager", "cgroupfs", "--events-backend", "file"]


def run_image(*command):
    done = subprocess.run(command, env=ENV, capture_output=True)
    # What the engine says of running another platform's image is its own.
    stderr = re.sub(rb"WARNING: (The requested )?image'?s? platform .*\n", b"", done.stderr)
    return [] if (done.returncode, done.stdout, stderr) == (0, GREETING, b"") else [
        f"{' '.join(command[-4:])} gave status {done.returncode}, {done.stdout!r} and on standard error "
        f"{done.stderr!r}; wanted status 0, the greeting and nothing"]


def podman_run(facts):
    """podman loads the archive, finds its entrypoint, user, labels and
    platform, and runs the host's image and another's, printing exactly the
    greeting; >/dev/full gives podman's status, but with
    --log-driver=passthrough greeting's, and its line."""
    version, failures = facts["version"], []
    with podman(facts) as command:
        loaded = output_of(*command, "load", "--input", the_image(facts))
        name = f"greeting:{version}"
        inspected = json.loads(output_of(*command, "image", "inspect", name))[0]
        epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or facts["release_epoch"])
        wanted = {"Entrypoint": [f"/usr/{facts['installed']['program']}"], "User": "65532:65532",
                  "Architecture": facts["image_platforms"][0].split("/")[1], "org.opencontainers.image.version": version,
                  "org.opencontainers.image.created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch))}
        found = dict(inspected["Config"]["Labels"], Entrypoint=inspected["Config"]["Entrypoint"],
                     User=inspected["Config"].get("User"), Architecture=inspected["Architecture"])
        failures += [f"podman finds {key} {found.get(key)!r}; wanted {value!r}\n{loaded}"
                     for key, value in wanted.items() if found.get(key) != value]
        run = [*command, "run", "--rm", "--network", "none", "--ulimit", "nofile=1024:1024", "--ulimit",
               "nproc=1024:1024"]
        failures += run_image(*run, name) + run_image(*run, tag_of("linux/arm64", version))
        # podman carries greeting's output itself, and says itself when it
        # is refused, unless it gives greeting its own descriptors.
        for options, wanted in (([], 126), (["--log-driver", "passthrough"], 1)):
            with open("/dev/full", "wb") as full:
                done = subprocess.run([*run, *options, name], env=ENV, stdout=full, stderr=subprocess.PIPE,
                                      stdin=subprocess.DEVNULL)
            said = done.stderr.endswith(b"greeting: write error: No space left on device\n")
            if (done.returncode, said) != (wanted, bool(options)):
                failures.append(f"podman run {' '.join(options)} >/dev/full gave {done.returncode}, {done.stderr!r}")
    return failures


def docker_run_directory(facts):
    """The short path of its own under /tmp where the private Docker daemon
    keeps its sockets and pid, as docker_daemon_start wrote it down."""
    return pathlib.Path(facts["packages"], "docker", "run").read_text()


def docker_daemon_start(facts):
    """A private Docker daemon, as Debian's docker.io runs it, for the
    tests of Docker and containerd; docker_daemon_stop stops it."""
    can_run_containers()
    state = fresh(facts["packages"], "docker")
    run = tempfile.mkdtemp(prefix="dkr-", dir="/tmp")
    pathlib.Path(state, "run").write_text(run)
    with open(os.path.join(state, "dockerd.log"), "w") as log:
        daemon = subprocess.Popen([facts["tools"]["dockerd"], "--data-root", os.path.join(state, "data"),
                                   "--exec-root", run, "--pidfile", os.path.join(run, "pid"),
                                   "--host", f"unix://{run}/docker.sock", "--iptables=false", "--ip6tables=false",
                                   "--bridge=none", "--storage-driver", "vfs"], stdout=log, stderr=log,
                                  stdin=subprocess.DEVNULL, start_new_session=True)
    for _ in range(300):
        if subprocess.run([facts["tools"]["docker"], "--host", f"unix://{run}/docker.sock", "version"],
                          capture_output=True).returncode == 0:
            return []
        if daemon.poll() is not None:
            break
        time.sleep(0.1)
    return [f"dockerd did not start:\n{pathlib.Path(state, 'dockerd.log').read_text()[-2000:]}"]


def docker_daemon_stop(facts):
    """Stops the private Docker daemon by its pid, and takes its sockets away."""
    with contextlib.suppress(FileNotFoundError):
        run = docker_run_directory(facts)
        with contextlib.suppress(FileNotFoundError, ProcessLookupError):
            pid = int(pathlib.Path(run, "pid").read_text())
            os.kill(pid, signal.SIGTERM)
            for _ in range(300):
                os.kill(pid, 0)
                time.sleep(0.1)
        subprocess.run(["umount", "--recursive", "--lazy", run], capture_output=True)
        shutil.rmtree(run, ignore_errors=True)
    return []


def docker_run(facts):
    """Docker loads the archive (manifest.json) and runs each platform's
    image as user 65532, printing exactly the greeting; its client reports
    a full device itself (1), and ignores a closed standard output (0)."""
    can_run_containers()
    command = [facts["tools"]["docker"], "--host", f"unix://{docker_run_directory(facts)}/docker.sock"]
    loaded = re.findall(r"^Loaded image: (\S+)$", output_of(*command, "load", "--input", the_image(facts)), re.M)
    version, failures = facts["version"], []
    with support.OciArchive(the_image(facts)) as oci:
        platforms = oci.images(version)
    wanted = {f"greeting:{version}", f"greeting:{version}-source", *(tag_of(each, version) for each in platforms)}
    if set(loaded) != wanted:
        failures.append(f"docker load loaded {sorted(loaded)}; wanted {sorted(wanted)}")
    run = [*command, "run", "--rm", "--network", "none"]
    for tag in sorted(set(loaded) - {f"greeting:{version}-source"}):
        user = output_of(*command, "image", "inspect", "--format", "{{.Config.User}}", tag).strip()
        failures += ([] if user == "65532:65532" else [f"{tag} runs as {user!r}"]) + run_image(*run, tag)
    with open("/dev/full", "wb") as full:
        done = subprocess.run([*run, f"greeting:{version}"], env=ENV, stdout=full, stderr=subprocess.PIPE)
    if done.returncode != 1 or b"greeting:" in done.stderr:
        failures.append(f"docker run >/dev/full gave {done.returncode}, {done.stderr!r}")
    done = subprocess.run(["sh", "-c", '"$@" >&-', "sh", *run, f"greeting:{version}"], env=ENV, capture_output=True)
    if (done.returncode, done.stderr) != (0, b""):
        failures.append(f"docker run >&- gave {done.returncode}, {done.stderr!r}")
    return failures


def containerd_run(facts):
    """containerd imports the archive under its normalized name, and runs
    the host's image and another's, printing exactly the greeting."""
    can_run_containers()
    command = [facts["tools"]["ctr"], "--address", f"{docker_run_directory(facts)}/containerd/containerd.sock"]
    name = f"docker.io/library/greeting:{facts['version']}"
    output_of(*command, "images", "import", "--all-platforms", "--snapshotter", "native", the_image(facts))
    names = output_of(*command, "images", "list", "--quiet").split()
    failures = [] if name in names else [f"ctr images import named {names}; wanted {name} among them"]
    for platform in ([], ["--platform", "linux/arm64"]):
        failures += run_image(*command, "run", "--rm", "--snapshotter", "native", *platform, name, "greeting")
    return failures


def skopeo(facts):
    """skopeo reads the image, and its source image, by tag from the archive
    (oci-archive:FILE:TAG)."""
    failures = []
    for tag in (facts["version"], f"{facts['version']}-source"):
        archive = f"oci-archive:{the_image(facts)}:{tag}"
        done = subprocess.run([facts["tools"]["skopeo"], "inspect", "--raw", archive], capture_output=True, text=True)
        failures += [f"skopeo cannot read {archive}:\n{done.stderr}"] if done.returncode else []
    return failures


CHECKS = {check.__name__: check for check in (
    pack, contents, hardening, windows_exe, signed, lintian_clean, sources, third_party, bill_of_materials,
    release_sources, signed_release, image, podman_run, docker_daemon_start, docker_daemon_stop, docker_run,
    containerd_run, skopeo)}


def main(argv):
    if len(argv) != 2 or argv[0] not in CHECKS:
        sys.exit(__doc__)
    facts = dict(support.facts(argv[1]), _path=argv[1])
    try:
        failures = CHECKS[argv[0]](facts) or []
    except Failed as failure:
        failures = [str(failure)]
    except Skipped as reason:
        return support.skip(str(reason))
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
