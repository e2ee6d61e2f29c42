#!/usr/bin/python3
"""The packages' tests: `pack` packs the build tree once, as a release is
packed, and the checks read what it made.

Usage: packages.py CHECK SETTINGS
CHECK is one of the functions in CHECKS; SETTINGS is the packages.json that
tests/CMakeLists.txt writes: the tools, and what the build promises. Every
tool's output is read in the C locale, so the verdict is the same in any.
"""

import contextlib
import difflib
import glob
import hashlib
import http.server
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import urllib.parse
import zipfile

ENV = dict(os.environ, LC_ALL="C", TZ="UTC")


class Failed(Exception):
    pass


class Skipped(Exception):
    """The check cannot prove anything on this machine, for this reason."""


def output_of(*command, env=None, **options):
    """What the command writes to standard output; Failed if it fails."""
    done = subprocess.run(command, env=env or ENV, capture_output=True, text=True, **options)
    if done.returncode != 0:
        raise Failed(f"{' '.join(map(str, command))} ended with status {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout


def only(pattern):
    found = glob.glob(pattern)
    if len(found) != 1:
        raise Failed(f"wanted one {pattern}, found {found or 'none'}")
    return found[0]


@contextlib.contextmanager
def throwaway_signer(settings, directory):
    """A code-signing certificate valid for a day, and an RFC 3161
    time-stamping authority on this machine's loopback: the cpack -D
    arguments that sign with them."""
    os.makedirs(directory)
    certificate, timestamper = os.path.join(directory, "signer"), os.path.join(directory, "tsa")
    for path, name, usage in ((certificate, "signer", "codeSigning"), (timestamper, "time-stamping authority",
                                                                       "critical,timeStamping")):
        output_of(settings["openssl"], "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
            "-subj", f"/CN=greeting throwaway {name}", "-addext", f"extendedKeyUsage={usage}",
            "-keyout", f"{path}.key", "-out", f"{path}.pem")
    with open(os.path.join(directory, "tsa.cnf"), "w") as config:
        config.write(f"[tsa]\ndefault_tsa = throwaway\n[throwaway]\nserial = {directory}/tsa.serial\n"
                     f"signer_cert = {timestamper}.pem\nsigner_key = {timestamper}.key\nsigner_digest = sha256\n"
                     "default_policy = 1.2.3.4.1\ndigests = sha256\ness_cert_id_alg = sha256\n")

    class TimeStamper(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = os.path.join(directory, "query.tsq")
            with open(query, "wb") as file:
                file.write(self.rfile.read(int(self.headers["Content-Length"])))
            reply = subprocess.run([settings["openssl"], "ts", "-reply", "-config", config.name, "-queryfile", query],
                                   capture_output=True).stdout
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamper)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield ["-D", f"CPACK_GREETING_SIGNING_CERT={certificate}.pem",
               "-D", f"CPACK_GREETING_SIGNING_KEY={certificate}.key",
               "-D", f"CPACK_GREETING_OSSLSIGNCODE={settings['osslsigncode']}",
               "-D", f"CPACK_GREETING_TIMESTAMP_URL=http://127.0.0.1:{server.server_port}/"]
    finally:
        server.shutdown()


def pack(settings):
    """Packs the build tree as its release is packed (on Windows, signed and
    time-stamped by a throwaway signer), and makes the source package as the
    README says, from the source tree, twice; it lands in the build tree,
    and is moved from there to the scratch directory, where nobody takes it
    for a package of the build."""
    into = settings["into"]
    shutil.rmtree(into, ignore_errors=True)
    command = [settings["cpack"], "-G", ";".join(settings["generators"]), "-C", settings["config"],
               "--config", os.path.join(settings["binary_dir"], "CPackConfig.cmake"),
               "-B", os.path.join(into, "binary")]
    if settings["signed_program"]:
        ENV["no_proxy"] = "127.0.0.1"
        with throwaway_signer(settings, os.path.join(into, "signer")) as signing:
            output_of(*command, *signing)
    else:
        output_of(*command)
    before = sorted(os.listdir(settings["source_dir"]))
    made = os.path.join(settings["binary_dir"], f"{settings['source_package']}.tar.gz")
    for _ in range(2):
        output_of(settings["cpack"], "--config", os.path.join(settings["binary_dir"], "CPackSourceConfig.cmake"),
                  cwd=settings["source_dir"])
    if not os.path.exists(made):
        raise Failed(f"the source package did not land in the build tree, as {made}")
    os.makedirs(os.path.join(into, "source"))
    for file in (made, f"{made}.sha256"):
        os.rename(file, os.path.join(into, "source", os.path.basename(file)))
    with open(os.path.join(into, "source-tree.json"), "w") as file:
        json.dump({"before": before, "after": sorted(os.listdir(settings["source_dir"]))}, file)


def image_layer(image, where):
    """Unpacks the one layer of a container image archive; Failed if it
    holds anything but /usr."""
    with tarfile.open(image) as archive:
        def read(name):
            return archive.extractfile(name).read()

        index = json.loads(read("index.json"))
        manifest = json.loads(read(f"blobs/sha256/{index['manifests'][0]['digest'][7:]}"))
        if len(manifest["layers"]) != 1:
            raise Failed(f"{image} has {len(manifest['layers'])} layers; wanted one")
        with tarfile.open(fileobj=io.BytesIO(read(f"blobs/sha256/{manifest['layers'][0]['digest'][7:]}"))) as layer:
            tops = sorted({member.name.split("/")[0] for member in layer.getmembers()})
            if tops != ["usr"]:
                raise Failed(f"the image's layer holds {tops}; wanted only usr")
            layer.extractall(where)
    return os.path.join(where, "usr")


def unpacked(settings, generator):
    """The root of the install that the package holds, unpacked."""
    extension = {"DEB": "deb", "TGZ": "tar.gz", "ZIP": "zip", "External": "tar"}[generator]
    package = only(os.path.join(settings["into"], "binary", f"*.{extension}"))
    where = os.path.join(settings["into"], "unpacked", generator)
    shutil.rmtree(where, ignore_errors=True)
    os.makedirs(where)
    if generator == "DEB":
        output_of("dpkg-deb", "--extract", package, where)
        return package, os.path.join(where, "usr")
    if generator == "External":
        return package, image_layer(package, where)
    with (zipfile.ZipFile(package) if generator == "ZIP" else tarfile.open(package)) as archive:
        archive.extractall(where)
    return package, only(os.path.join(where, "*"))  # the one directory named after the package


# What each shipped package holds, as its users find it. Written out here,
# rather than taken from where the build says it installs, so that a mistake
# there cannot pass for the layout.
SHIPPED_LAYOUTS = {
    "DEB": ["bin/greeting", "share/doc/greeting/changelog.gz", "share/doc/greeting/copyright",
            "share/man/man1/greeting.1.gz"],
    "TGZ": ["bin/greeting", "share/doc/greeting/LICENSE", "share/doc/greeting/THIRD-PARTY-NOTICES",
            "share/doc/greeting/greeting.cdx.json", "share/man/man1/greeting.1.gz"],
    "ZIP": ["LICENSE.txt", "THIRD-PARTY-NOTICES.txt", "greeting.cdx.json", "greeting.exe"],
    # The container image, below /usr, and no manual page.
    "External": ["bin/greeting", "share/doc/greeting/LICENSE", "share/doc/greeting/THIRD-PARTY-NOTICES",
                 "share/doc/greeting/greeting.cdx.json"],
}


def shipped(settings, generator):
    """Whether this build's package of this kind is one a release ships."""
    return generator in ("ZIP", "External") or (
        settings["release"] and generator == ("DEB" if settings["debian_docs"] else "TGZ"))


def bare_line_feeds(path):
    """Whether a text file ends a line in a line feed alone, which Notepad
    before Windows 10 1809 does not take for a line end."""
    with open(path, "rb") as file:
        return re.search(rb"(?<!\r)\n", file.read()) is not None


def contents(settings):
    """Each package holds exactly what an install makes (and, where it
    ships, the layout its users know), stripped, and linked as the build
    says."""
    failures = []
    for generator in settings["generators"]:
        package, root = unpacked(settings, generator)
        name = os.path.basename(package)
        found = sorted(os.path.relpath(os.path.join(directory, file), root)
                       for directory, _, files in os.walk(root) for file in files)
        wanted = sorted(SHIPPED_LAYOUTS[generator] if shipped(settings, generator)
                        else [settings["program"], *settings["files"]])
        if found != wanted:
            failures.append(f"{name} holds {found}\n  wanted {wanted}")
        if generator == "ZIP":
            failures += [f"{name}: {text} has lines that do not end in CR LF" for text in found
                         if text != settings["program"] and bare_line_feeds(os.path.join(root, text))]
        program = os.path.join(root, settings["program"])
        if " .debug_" in output_of(settings["objdump"], "--section-headers", program):
            failures.append(f"{name}: {settings['program']} is not stripped")
        if settings["readelf"]:
            headers = output_of(settings["readelf"], "--file-header", "--program-headers", "--dynamic", program)
            linking = ", ".join([f"type {re.search(r'Type: +([A-Z]+)', headers)[1]}"] +
                                [part for part in ("program interpreter", "Dynamic section") if part in headers])
            # What ships static is static-pie: loaded at a random address,
            # with no loader.
            static_pie = shipped(settings, generator) or settings["static_pie"]
            wanted_linking = ("type DYN, program interpreter, Dynamic section" if settings["dynamic"] else
                              "type DYN, Dynamic section" if static_pie else "type EXEC")
            if linking != wanted_linking:
                failures.append(f"{name}: {settings['program']} has {linking}; wanted {wanted_linking}")
        if generator == "DEB":
            depends = output_of("dpkg-deb", "--field", package, "Depends").strip()
            if settings["dynamic"] and not re.search(r"(^|, )libc6 ", depends):
                failures.append(f"{name} declares no dependency on libc6: Depends: '{depends}'")
            elif not settings["dynamic"] and depends:
                failures.append(f"{name} is static, yet declares dependencies: '{depends}'")
    return failures


def hardening(settings):
    """hardening-check finds in each shipped Linux program all it can see:
    in the .deb's, Debian's five (PIE, stack protector, fortified functions,
    read-only relocations, immediate binding); in a static-pie program,
    which it takes for a library and in which it finds no symbols to tell
    a canary by (greeting.stack_protected does), read-only relocations and
    immediate binding."""
    failures = []
    for generator in settings["generators"]:
        if not shipped(settings, generator) or generator == "ZIP":
            continue
        package, root = unpacked(settings, generator)
        # Its status says whether every feature it knows of is there.
        report = subprocess.run([settings["hardening_check"], os.path.join(root, settings["program"])], env=ENV,
                                capture_output=True, text=True).stdout
        found = dict(re.findall(r"^ ([^:\n]+): (.*)$", report, re.M))
        wanted = ["Read-only relocations", "Immediate binding"]
        if generator == "DEB":
            wanted[:0] = ["Position Independent Executable", "Stack protected", "Fortify Source functions"]
        failures += [f"{os.path.basename(package)}: hardening-check: {feature}: {found.get(feature)}"
                     for feature in wanted if not found.get(feature, "").startswith("yes")]
    return failures


def describe_pe(headers):
    """What of objdump -p's account the baseline holds: the format, headers,
    which data directories there are, and every import as DLL!function."""
    lines = [f"format {re.search(r'file format (.+)', headers)[1]}"]
    for field in ("Magic", "MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion",
                  "MinorSubsystemVersion", "Subsystem"):
        value = re.search(rf"^{field}\s+(.+)$", headers, re.M)[1].split()
        lines.append(" ".join([field, *value]))
    flags = re.search(r"^DllCharacteristics\s+\S+\n((?:\t+[A-Z_]+\n)*)", headers, re.M)[1].split()
    lines.append(f"DllCharacteristics {' '.join(sorted(flags))}")
    # The signature's own directory comes and goes with signing, checked apart.
    lines += [f"directory {name}" for address, size, name in
              re.findall(r"^Entry \w ([0-9a-f]+) ([0-9a-f]{8}) ([A-Za-z ]+?Directory)", headers, re.M)
              if int(size, 16) and name != "Security Directory"]
    for dll, table in re.findall(r"\tDLL Name: (\S+)\n[^\n]*\n((?:\t[0-9a-f]+\t +\d+ +\S+\n)*)", headers):
        lines += sorted(f"import {dll}!{function}" for function in re.findall(r"\d+ +(\S+)\n", table))
    return lines


def windows_exe(settings):
    """The executable in the zip has exactly the headers and imports of its
    baseline, the packing date as its time stamp, its version resource, and
    its manifest, which asks to run as the invoker."""
    _, root = unpacked(settings, "ZIP")
    program = os.path.join(root, settings["program"])
    failures = []
    headers = output_of(settings["objdump"], "-p", program)
    with open(settings["pe_baseline"]) as file:
        baseline = [line.rstrip("\n") for line in file if line.strip() and not line.startswith("#")]
    found = describe_pe(headers)
    if found != baseline:
        failures.append(f"{settings['program']} is not as {settings['pe_baseline']} holds it "
                        "(-: the baseline, +: found); its first "
                        "lines say what to check before changing it:\n" +
                        "\n".join(difflib.unified_diff(baseline, found, lineterm="", n=1)))
    # The linker writes no time; stripping for the zip writes the packing date.
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or settings["release_epoch"])
    packed = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(epoch))
    stamp = re.search(r"^Time/Date\s+(.+)$", headers, re.M)[1]
    if stamp != packed:
        failures.append(f"time stamp: wanted {packed}, found {stamp}")

    resources = output_of(settings["windres"], "-i", program, "-O", "rc")
    numeric = ", ".join(settings["version"].split(".") + ["0"])
    wanted = {"FILEVERSION": numeric, "FileVersion": settings["version"], "ProductVersion": settings["version"],
              "ProductName": "greeting", "OriginalFilename": "greeting.exe", "LegalCopyright": settings["copyright"],
              "FileDescription": settings["description"]}
    found = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', resources))
    found["FILEVERSION"] = re.search(r" FILEVERSION ([0-9, ]+)\n", resources)[1]
    for name, value in wanted.items():
        if found.get(name) != value:
            failures.append(f"version resource {name}: wanted {value!r}, found {found.get(name)!r}")
    manifest = re.search(r"\n1 24 [^\n]*\nBEGIN\n((?:[^\n]+\n)*?)END", resources)
    embedded = "".join(re.findall(r'^\s*"(.*)"$', manifest[1] if manifest else "", re.M))
    embedded = embedded.replace('""', '"').replace("\\n", "\n")
    with open(settings["manifest"]) as file:
        if embedded != file.read():
            failures.append(f"the embedded manifest is not {settings['manifest']}:\n{embedded}")
    # It runs with the rights of whoever starts it, and asks for no more.
    if not re.search(r'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', embedded):
        failures.append("the manifest does not ask to run as the invoker, without UI access")
    return failures


def signed(settings):
    """The executable in the zip carries a signature by the throwaway
    signer, time-stamped by the throwaway authority, and both verify."""
    _, root = unpacked(settings, "ZIP")
    signer = os.path.join(settings["into"], "signer")
    verdict = output_of(settings["osslsigncode"], "verify", "-CAfile", f"{signer}/signer.pem",
                        "-TSA-CAfile", f"{signer}/tsa.pem",
                  "-in", os.path.join(root, settings["program"]))
    return [] if "Timestamp Server Signature verification: ok" in verdict else [f"no time stamp verified:\n{verdict}"]


def lintian_clean(settings):
    """lintian finds nothing in the Debian package, pedantic tags included."""
    package = only(os.path.join(settings["into"], "binary", "*.deb"))
    done = subprocess.run([settings["lintian"], "--info", "--display-experimental", "--pedantic",
                           "--fail-on", "error,warning,info,pedantic,experimental", package],
                          env=ENV, capture_output=True, text=True)
    if done.returncode or done.stdout:
        return [f"lintian (status {done.returncode}):\n{done.stdout}{done.stderr}"]
    return []


def source_files(source_dir):
    """The files of the source tree that git does not ignore, or None where
    it is no git checkout."""
    if not shutil.which("git") or not os.path.isdir(os.path.join(source_dir, ".git")):
        return None
    listed = output_of("git", "-C", source_dir, "ls-files", "-z", "--cached", "--others", "--exclude-standard")
    return sorted(path for path in set(listed.split("\0")[:-1]) if os.path.isfile(os.path.join(source_dir, path)))


def sources(settings):
    """The source package lands in the build tree, leaves the source tree
    as it was, and holds exactly the files of the source tree (where it is a git
    checkout, those it does not ignore), each with the mode git gives it."""
    failures = []
    with open(os.path.join(settings["into"], "source-tree.json")) as file:
        tree = json.load(file)
    if tree["before"] != tree["after"]:
        failures.append(f"packing the sources changed the source tree: it held {tree['before']}, now {tree['after']}")
    with tarfile.open(only(os.path.join(settings["into"], "source", "*.tar.gz"))) as package:
        members = package.getmembers()
    files = sorted(member.name.split("/", 1)[1] for member in members if member.isfile())
    wanted = source_files(settings["source_dir"])
    if wanted is not None and files != wanted:
        extra, missing = sorted(set(files) - set(wanted)), sorted(set(wanted) - set(files))
        failures.append(f"the source package holds what git ignores: {extra}; and lacks: {missing}")
    for needed in ("CMakeLists.txt", "LICENSE", "README.md", "src/main.cpp"):
        if needed not in files:
            failures.append(f"the source package lacks {needed}")
    modes = {f"{member.name}: {member.mode:o}" for member in members
             if member.mode not in ((0o755,) if member.isdir() else (0o644, 0o755))}
    if modes:
        failures.append(f"modes other than 644, or 755 for what runs: {sorted(modes)}")
    return failures


def text_of(path):
    with open(path, encoding="utf-8") as file:
        return file.read().rstrip("\n")


# The Debian source packages whose code is linked into greeting, by the C
# library it is built with, each with a binary package of it that the build
# machine has, to read its version by. Written out here, not worked out from
# the link as third_party.py works it out, so that a mistake shared by both
# cannot pass.
RUNTIME_SOURCES = {
    "glibc": {"glibc": "libc6", "gcc-12": "gcc-12-base"},
    "glibc, libc++": {"glibc": "libc6", "gcc-12": "gcc-12-base", "llvm-toolchain-14": "libc++-14-dev"},
    "mingw-w64": {"mingw-w64": "mingw-w64-common", "gcc-12": "gcc-12-base", "gcc-mingw-w64": "gcc-mingw-w64-base"},
}
# In the packages that ship: what each source package's linked code is
# under, and which sources go into the release beside the package.
SHIPPED_LICENCES = {
    "TGZ": {"glibc": "LGPL-2.1-or-later AND LGPL-2.1-or-later WITH GCC-exception-2.0",
            "gcc-12": "GPL-2.0-or-later WITH GCC-exception-2.0 AND GPL-3.0-or-later WITH GCC-exception-3.1 "
                      "AND LGPL-2.1-or-later WITH GCC-exception-2.0"},
    "ZIP": {"gcc-12": "GPL-2.0-or-later WITH GCC-exception-2.0 AND GPL-3.0-or-later WITH GCC-exception-3.1",
            "mingw-w64": "LicenseRef-public-domain AND ZPL-2.1 AND dtoa"},
}
SHIPPED_LICENCES["External"] = SHIPPED_LICENCES["TGZ"]  # the same static program
SHIPPED_SOURCES_IN_RELEASE = {"TGZ": {"glibc"}, "External": {"glibc"}, "ZIP": set()}


def source_version(package):
    """The version of the source package a binary package is built from
    (the same for each architecture it is installed for)."""
    return output_of("dpkg-query", "--show", "--showformat=${source:Version}\n", package).split("\n")[0]


def runtime_of(settings, generator):
    if generator == "ZIP":
        return "mingw-w64"
    return "glibc, libc++" if settings["cxx_stdlib"] == "libc++" else "glibc"


def bill_and_notices(settings, generator):
    package, root = unpacked(settings, generator)
    with open(os.path.join(root, settings["notices"]), encoding="utf-8") as file:
        notices = file.read()
    with open(os.path.join(root, settings["bom"]), encoding="utf-8") as file:
        bom = json.load(file)
    with open(os.path.join(root, settings["program"]), "rb") as file:
        digest = hashlib.sha256(file.read()).hexdigest()
    return os.path.basename(package), bom, notices, digest


def minimum_elements(bom):
    """What NTIA's minimum elements of a bill of materials ask that this one
    lacks: its author, the tool that made it and when; each component's
    supplier, name, version and identifier; and every dependency, known."""
    metadata = bom["metadata"]
    missing = [what for what, there in (
        ("the author of the bill", any(author.get("name") for author in metadata.get("authors", []))),
        ("the tool that made it", any(tool.get("name") for tool in metadata.get("tools", {}).get("components", []))),
        ("when it was made", metadata.get("timestamp")),
        ("compositions, saying the dependencies are all known",
         any(composition["aggregate"] == "complete" for composition in bom.get("compositions", [])))) if not there]
    components = [metadata["component"], *bom["components"]]
    known = {dependency["ref"] for dependency in bom.get("dependencies", [])}
    complete = {ref for composition in bom.get("compositions", []) if composition["aggregate"] == "complete"
                for ref in composition.get("dependencies", [])}
    for component in components:
        name = component.get("name", component.get("bom-ref"))
        missing += [f"{name}'s {field}" for field, there in (
            ("supplier", component.get("supplier", {}).get("name")), ("version", component.get("version")),
            ("package URL", component.get("purl") or component is metadata["component"]),
            ("dependency entry", component["bom-ref"] in known),
            ("place among the complete dependencies", component["bom-ref"] in complete)) if not there]
    return missing


def third_party(settings):
    """Each package holds the notices of the code of other projects linked
    into the program, and a bill of materials, which name the Debian source
    packages that this toolchain's runtimes come from, at the versions dpkg
    gives, each binary package tied to its source; and, in what ships, what
    each is under and where its source is. The bill has NTIA's minimum
    elements. The notices hold each binary package's copyright file and
    every licence it points to, whole."""
    failures = []
    for generator in settings["generators"]:
        name, bom, notices, digest = bill_and_notices(settings, generator)
        if bom["metadata"]["component"]["hashes"] != [{"alg": "SHA-256", "content": digest}]:
            failures.append(f"{name}: the bill of materials is not of the program it holds")
        failures += [f"{name}: the bill of materials lacks {what}" for what in minimum_elements(bom)]
        sources = {component["name"]: component for component in bom["components"]
                   if "arch=source" in component["purl"].split("?")[1].split("&")}
        wanted = RUNTIME_SOURCES[runtime_of(settings, generator)]
        if set(sources) != set(wanted):
            failures.append(f"{name}: the bill names the source packages {sorted(sources)}; wanted {sorted(wanted)}")
        for source, representative in wanted.items():
            version = source_version(representative)
            if source in sources and sources[source]["version"] != version:
                failures.append(f"{name}: {source} is {sources[source]['version']} in the bill, {version} by dpkg")
            if f"{source} {version}" not in notices:
                failures.append(f"{name}: the notices do not name {source} {version}")
        refs = {component["bom-ref"] for component in bom["components"]}
        depends = {dependency["ref"]: dependency["dependsOn"] for dependency in bom.get("dependencies", [])}
        for component in bom["components"]:
            if component["name"] in sources:
                continue
            built_from = [ref for ref in depends.get(component["bom-ref"], []) if "arch=source" in ref]
            if not built_from or not set(built_from) <= refs or "upstream=" not in component["purl"]:
                failures.append(f"{name}: {component['name']} is not tied to the source package it is built from")
            if f"{component['name']} {component['version']}" not in notices:
                failures.append(f"{name}: the notices do not name {component['name']} {component['version']}")
            copyright_file = f"/usr/share/doc/{component['name']}/copyright"
            licences = {os.path.realpath(f"/usr/share/common-licenses/{licence}") for licence in
                        re.findall(r"/usr/share/common-licenses/([A-Za-z0-9.+-]*[A-Za-z0-9+])",
                                   text_of(copyright_file))}
            for path in [copyright_file] + sorted(licence for licence in licences if os.path.isfile(licence)):
                if text_of(path) not in notices:
                    failures.append(f"{name}: the notices lack {path}")
        if shipped(settings, generator):
            failures += shipped_licences(name, generator, sources, notices)
    return failures


def shipped_licences(name, generator, sources, notices):
    failures = []
    for source, licence in SHIPPED_LICENCES[generator].items():
        found = [entry.get("expression") or entry["license"]["id"] for entry in sources[source].get("licenses", [])]
        if found != [licence]:
            failures.append(f"{name}: {source}'s linked code is under {found}; wanted {licence}")
    in_release = {source for source, component in sources.items()
                  if any("release" in reference.get("comment", "") for reference in component["externalReferences"])}
    if in_release != SHIPPED_SOURCES_IN_RELEASE[generator]:
        failures.append(f"{name}: the bill puts the sources of {sorted(in_release)} in the release; "
                        f"wanted {sorted(SHIPPED_SOURCES_IN_RELEASE[generator])}")
    for source in SHIPPED_SOURCES_IN_RELEASE[generator]:
        dsc = f"{source}_{sources[source]['version']}.dsc"
        if f"release, beside this package, as {dsc}" not in notices:
            failures.append(f"{name}: the notices do not say that {dsc} is in the release")
    return failures


def bill_of_materials(settings):
    """The bill of materials in each package is valid CycloneDX 1.6, by the
    format's own published schema; each licence it names is on the SPDX
    list that schema carries, or the bill's own (LicenseRef-); and each
    package URL is as the package-url project's own parser writes it."""
    try:
        import jsonschema
    except ImportError:
        return [f"the check needs Python's jsonschema ({settings['hints']['jsonschema']})"]
    schemas = {}
    for path in glob.glob(os.path.join(os.path.dirname(settings["cyclonedx_schema"]), "*.schema.json")):
        with open(path, encoding="utf-8") as file:
            schemas[path] = json.load(file)
    schema = schemas[settings["cyclonedx_schema"]]
    spdx_list = os.path.join(os.path.dirname(settings["cyclonedx_schema"]), "spdx.SNAPSHOT.schema.json")
    spdx = set(schemas[spdx_list]["enum"])
    # The schema refers to its neighbours by their file names, beside its own $id.
    store = {urllib.parse.urljoin(schema["$id"], os.path.basename(path)): value for path, value in schemas.items()}
    validator = jsonschema.Draft7Validator(schema, resolver=jsonschema.RefResolver(schema["$id"], schema, store=store))
    failures = []
    for generator in settings["generators"]:
        package, root = unpacked(settings, generator)
        name = os.path.basename(package)
        with open(os.path.join(root, settings["bom"]), encoding="utf-8") as file:
            bom = json.load(file)
        failures += [f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}"
                     for error in validator.iter_errors(bom)]
        components = [bom["metadata"]["component"], *bom["components"]]
        for entry in (entry for component in components for entry in component.get("licenses", [])):
            terms = re.split(r"\s+(?:AND|OR|WITH)\s+|[()]", entry.get("expression") or entry["license"]["id"])
            failures += [f"{name}: {term} is on no SPDX list" for term in terms
                         if term and term not in spdx and not term.startswith("LicenseRef-")]
        purls = [component["purl"] for component in components if "purl" in component]
        written = output_of(settings["node"], "-e", "const {PackageURL} = require(process.argv[1]);"
                            "for (const purl of process.argv.slice(2))"
                            " console.log(PackageURL.fromString(purl).toString())",
                            settings["packageurl"], *purls).splitlines()
        failures += [f"{name}: {purl} is written {again} by the package-url parser"
                     for purl, again in zip(purls, written) if purl != again]
    return failures


def release_sources(settings):
    """The Debian source packages that the bill of the tarball, or of the
    container image, puts in the release are fetched whole: each .dsc, at the version linked, and every
    file it lists, matching it. One that cannot be had stops the release."""
    tarball = os.path.join(settings["into"], "binary", "*.tar.gz")
    package = only(tarball if glob.glob(tarball) else os.path.join(settings["into"], "binary", "*.tar"))
    into = os.path.join(settings["into"], "release")
    shutil.rmtree(into, ignore_errors=True)
    os.makedirs(into)
    command = [settings["python"], os.path.join(settings["source_dir"], "packaging", "release_sources.py"),
               "--cache", settings["sources_cache"]]
    fetched = output_of(*command, into, package).split()
    failures = []
    wanted = {f"glibc_{source_version('libc6')}.dsc"}
    if not wanted <= set(fetched):
        failures.append(f"fetched {fetched}; wanted among them {sorted(wanted)}")
    for dsc in sorted(wanted & set(fetched)):
        with open(os.path.join(into, dsc), encoding="utf-8") as file:
            files = re.findall(r"^ ([0-9a-f]{64}) (\d+) (\S+)$", file.read().split("Checksums-Sha256:")[1], re.M)
        for digest, size, file_name in files:
            with open(os.path.join(into, file_name), "rb") as file:
                content = file.read()
            if len(content) != int(size) or hashlib.sha256(content).hexdigest() != digest:
                failures.append(f"{file_name} does not match {dsc}")
    # A bill that names a version the mirror does not have.
    bill = {"components": [{"name": "glibc", "version": "0.0-0", "externalReferences": [
        {"type": "source-distribution", "url": "glibc_0.0-0.dsc", "comment": "in the greeting release"}]}]}
    fake = os.path.join(settings["into"], "unfetchable.tar.gz")
    with tarfile.open(fake, "w:gz") as archive:
        data = json.dumps(bill).encode()
        member = tarfile.TarInfo("greeting.cdx.json")
        member.size = len(data)
        archive.addfile(member, io.BytesIO(data))
    done = subprocess.run([*command, into, fake], env=ENV, capture_output=True, text=True)
    if done.returncode == 0:
        failures.append("a source that cannot be fetched did not stop it")
    return failures


def signed_release(settings):
    """packaging/sign-release signs SHA256SUMS as SHA256SUMS.asc, detached
    and ASCII-armoured, with the key GREETING_RELEASE_KEY names; gpgv takes
    the signature with that key's public half, and refuses it once a byte
    of SHA256SUMS changes. The GnuPG home, where gpg-agent makes its socket,
    is a short path of its own under /tmp, whatever the build tree's path
    (a socket's path holds at most 107 bytes)."""
    scratch = os.path.join(settings["into"], "signing")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    with tempfile.TemporaryDirectory(prefix="gnupg-", dir="/tmp") as home:
        env = dict(ENV, GNUPGHOME=home)
        try:
            return sign_and_verify(settings, scratch, env)
        finally:
            subprocess.run(["gpgconf", "--kill", "all"], env=env, capture_output=True)


def sign_and_verify(settings, scratch, env):
    output_of(settings["gpg"], "--batch", "--passphrase", "", "--quick-generate-key",
              "greeting throwaway release key <throwaway@example.invalid>", "ed25519", "sign", "1d", env=env)
    fingerprint = re.search(r"^fpr:+([0-9A-F]+):", output_of(settings["gpg"], "--with-colons", "--list-keys", env=env),
                            re.M)[1]
    keyring = os.path.join(scratch, "public.gpg")
    output_of(settings["gpg"], "--batch", "--output", keyring, "--export", fingerprint, env=env)
    release = os.path.join(scratch, "release")
    os.makedirs(release)
    sums = os.path.join(release, "SHA256SUMS")
    with open(sums, "w") as file:
        file.write(f"{'0' * 64}  greeting-{settings['version']}.tar.gz\n")
    output_of(os.path.join(settings["source_dir"], "packaging", "sign-release"), release,
              env=dict(env, GREETING_RELEASE_KEY=fingerprint))
    failures = []
    with open(f"{sums}.asc") as file:
        if not file.read().startswith("-----BEGIN PGP SIGNATURE-----\n"):
            failures.append("SHA256SUMS.asc is no ASCII-armoured signature")
    verify = [settings["gpgv"], "--keyring", keyring, f"{sums}.asc", sums]
    done = subprocess.run(verify, env=env, capture_output=True, text=True)
    if done.returncode:
        failures.append(f"gpgv refuses the signature:\n{done.stderr}")
    with open(sums, "r+b") as file:
        file.write(b"1")
    if subprocess.run(verify, env=env, capture_output=True).returncode == 0:
        failures.append("gpgv takes the signature of a changed SHA256SUMS")
    return failures


def checksums(settings):
    """Beside each package, PACKAGE.sha256, which sha256sum -c takes."""
    failures = []
    packages = [path for path in glob.glob(os.path.join(settings["into"], "binary", "*"))
                if os.path.isfile(path) and not path.endswith(".sha256")]
    for package in packages + [only(os.path.join(settings["into"], "source", "*.tar.gz"))]:
        done = subprocess.run(["sha256sum", "--check", os.path.basename(package) + ".sha256"], env=ENV,
                              cwd=os.path.dirname(package), capture_output=True, text=True)
        if done.returncode:
            failures.append(f"{package} does not match its checksum:\n{done.stdout}{done.stderr}")
    return failures


def podman_run(settings):
    """The container image, loaded and run with podman as a user would,
    prints exactly the greeting and nothing else, and ends with status 0;
    podman finds in it the entrypoint, the OCI labels (the version, the
    licence and the release date) and the architecture."""
    if os.geteuid() != 0:
        raise Skipped("podman is run here as root, with its storage in the build tree")
    with open("/proc/self/mountinfo", encoding="utf-8") as file:
        if not any(line.split()[4] == "/" for line in file):
            raise Skipped("podman sets a container's root up by remounting /, which here is no mount point "
                          "(a chroot, say)")
    image = only(os.path.join(settings["into"], "binary", "*.tar"))
    # The images in the build tree; podman's run-time state where its path
    # is short, as podman takes no longer than 50 characters.
    with tempfile.TemporaryDirectory(prefix="podman-", dir="/tmp") as run_root:
        return run_with_podman(settings, image, [
            settings["podman"], "--root", os.path.join(settings["into"], "podman"), "--runroot", run_root,
            # runc on cgroupfs, the vfs storage driver, and no limit raised:
            # what works on any of these machines' cgroups and kernels.
            "--storage-driver", "vfs", "--runtime", "runc", "--cgroup-manager", "cgroupfs", "--events-backend", "file"])


def run_with_podman(settings, image, podman):
    loaded = output_of(*podman, "load", "--input", image)
    name = f"localhost/greeting:{settings['version']}"
    failures = [] if f"Loaded image: {name}" in loaded else [f"podman load gave no {name}:\n{loaded}"]
    inspected = json.loads(output_of(*podman, "image", "inspect", name))[0]
    created = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(settings["release_epoch"]))
    wanted = {"Entrypoint": ["/usr/bin/greeting"], "Architecture": "amd64", "org.opencontainers.image.version":
              settings["version"], "org.opencontainers.image.licenses": "MIT",
              "org.opencontainers.image.created": created}
    found = dict(inspected["Config"]["Labels"], Entrypoint=inspected["Config"]["Entrypoint"],
                 Architecture=inspected["Architecture"])
    failures += [f"podman finds {key} {found.get(key)!r}; wanted {value!r}" for key, value in wanted.items()
                 if found.get(key) != value]
    done = subprocess.run([*podman, "run", "--rm", "--network", "none", "--ulimit", "nofile=1024:1024",
                           "--ulimit", "nproc=1024:1024", name], env=ENV, capture_output=True)
    greeting = b"Hello Belmorax, C style\nHello Belmorax, C++ style \n"
    if (done.returncode, done.stdout, done.stderr) != (0, greeting, b""):
        failures.append(f"podman run gave status {done.returncode}, {done.stdout!r} and on standard error "
                        f"{done.stderr!r}; wanted status 0, {greeting!r} and nothing")
    return failures


CHECKS = {check.__name__: check for check in (pack, contents, hardening, windows_exe, signed, lintian_clean, sources, checksums,
                                              third_party, bill_of_materials, release_sources, signed_release,
                                              podman_run)}


def main(argv):
    if len(argv) != 2 or argv[0] not in CHECKS:
        sys.exit(__doc__)
    with open(argv[1]) as file:
        settings = json.load(file)
    try:
        failures = CHECKS[argv[0]](settings) or []
    except Failed as failure:
        failures = [str(failure)]
    except Skipped as reason:
        print(f"Skipped: {reason}")
        if note := os.environ.get("GREETING_SKIP_NOTE"):
            os.makedirs(os.path.dirname(note), exist_ok=True)
            with open(note, "w") as file:
                file.write(f"{reason}\n")
        return 77
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
