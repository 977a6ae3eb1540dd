#!/usr/bin/env python3
"""Reads the application manifest embedded in a Windows executable and checks
that it is where the loader looks (type 24, id 1, language 1033) and says what
the renderer needs: per-monitor DPI awareness, long paths, no elevation."""
import sys
import xml.etree.ElementTree as ET

import pefile

RT_MANIFEST = 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
WS2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
WS2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"


def manifest_resources(pe):
    found = []
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != RT_MANIFEST:
            continue
        for name in entry.directory.entries:
            for lang in name.directory.entries:
                data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                found.append((name.id, lang.id, data))
    return found


def main(path):
    pe = pefile.PE(path)
    problems = []

    def check(condition, what):
        print(("ok: " if condition else "FAIL: ") + what)
        if not condition:
            problems.append(what)

    check(pe.FILE_HEADER.Machine == 0x8664, "x86-64 executable")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, "GUI subsystem")
    imports = {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    runtime = sorted(dll for dll in imports if dll.startswith(("libstdc++", "libgcc", "libwinpthread")))
    check(not runtime, "no compiler runtime DLLs imported " + (str(runtime) if runtime else ""))

    resources = manifest_resources(pe)
    check([(r[0], r[1]) for r in resources] == [(1, 1033)], "one manifest, id 1, language 1033: %s" %
          [(r[0], r[1]) for r in resources])
    if not resources:
        return 1
    root = ET.fromstring(resources[0][2])

    identity = root.find("{%s}assemblyIdentity" % ASM_V1)
    check(identity is not None, "assemblyIdentity present")
    if identity is not None:
        for key, value in [("version", "1.0.0.0"), ("processorArchitecture", "amd64"),
                           ("name", "vorlune.overlay"), ("type", "win32")]:
            check(identity.get(key) == value, "assemblyIdentity %s=%s" % (key, value))

    level = root.find(".//{%s}requestedExecutionLevel" % ASM_V3)
    check(level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
          "requestedExecutionLevel asInvoker, uiAccess false")

    supported = [e.get("Id") for e in root.findall(".//{%s}supportedOS" % COMPAT)]
    check(supported == ["{4f476546-937d-4f1d-b5bd-3b47599f3050}"], "supportedOS is the only entry: %s" % supported)

    def setting(ns, name):
        element = root.find(".//{%s}%s" % (ns, name))
        return None if element is None else (element.text or "").strip()

    check(setting(WS2005, "dpiAware") == "true/pm", "dpiAware true/pm")
    check(setting(WS2016, "dpiAwareness") == "PerMonitorV2", "dpiAwareness PerMonitorV2")
    check(setting(WS2016, "longPathAware") == "true", "longPathAware true")

    print("%d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
