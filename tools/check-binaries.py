#!/usr/bin/env python3
"""Checks the shipped i686 binaries as the terminal and Windows will see them.

check-binaries.py --exe Marvolt.exe [--checker marvolt-check.exe]
                  [--dll Lumarel.dll --exports exports.def
                  [--stdcall-def Lumarel.stdcall.def --declared Lumarel.mqh]]

Marvolt.exe: PE32 for i386, a GUI program, a manifest that asks for
requireAdministrator and version 6 of the common controls, imports of the
system's known DLLs only. marvolt-check.exe (shipped beside Marvolt.exe,
where it is looked for without --checker): PE32 for i386, a console program. Lumarel.dll: PE32
for i386, exactly the exports listed in the module-definition file, by plain
names, each taking off the stack as many argument bytes as the MQL4 import
declaration pushes (the sizes written at link time, against the #import
block of the MQL4 include). Both: no DLL outside the Windows system DLLs,
ASLR (DYNAMICBASE) and DEP (NXCOMPAT) on, a version resource.
"""
import re
import argparse
import os
import struct
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "winhttp.dll", "shlwapi.dll", "msvcrt.dll",
    "ws2_32.dll", "version.dll", "uuid.dll", "urlmon.dll", "wininet.dll", "crypt32.dll",
    "bcrypt.dll", "ntdll.dll", "imm32.dll", "winmm.dll", "psapi.dll", "userenv.dll",
    "atl.dll", "secur32.dll", "rpcrt4.dll", "shcore.dll", "uxtheme.dll", "dbghelp.dll",
}
# What Marvolt.exe may import. It runs elevated from the user's download
# folder, so everything loaded before its entry point must come from the
# system's known DLLs, which the loader never takes from the program's folder.
# comctl32 is bound by the manifest to the side-by-side version 6 in the
# system's assembly store. Everything else (WinHTTP, atl, the browser) is
# loaded at run time from the system folder.
INSTALLER_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "msvcrt.dll", "comdlg32.dll", "imm32.dll", "rpcrt4.dll",
    "ws2_32.dll", "psapi.dll", "setupapi.dll", "comctl32.dll",
}
MACHINE_I386 = 0x14C
SUBSYSTEM_GUI = 2
SUBSYSTEM_CONSOLE = 3
RT_MANIFEST = 24


class Pe:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not an MZ file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, nsec, _, _, _, optsize, self.characteristics = struct.unpack_from(
            "<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        if self.magic == 0x10B:
            self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
            ndirs_at, dirs_at = opt + 92, opt + 96
        else:
            self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
            ndirs_at, dirs_at = opt + 108, opt + 112
        ndirs = struct.unpack_from("<I", d, ndirs_at)[0]
        self.dirs = [struct.unpack_from("<II", d, dirs_at + 8 * i) for i in range(ndirs)]
        sec = opt + optsize
        self.sections = []
        for i in range(nsec):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", d, sec + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("address %#x outside every section" % rva)

    def cstr(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return None, []
        o = self.offset(rva)
        name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
        nnames = struct.unpack_from("<I", self.data, o + 24)[0]
        names_rva = struct.unpack_from("<I", self.data, o + 32)[0]
        names = [self.cstr(struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0])
                 for i in range(nnames)]
        return self.cstr(name_rva), names

    def imports(self):
        rva, _ = self.dirs[1]
        found = []
        if not rva:
            return found
        o = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, o)
            if not any(fields):
                return found
            found.append(self.cstr(fields[3]))
            o += 20

    def manifests(self):
        rva, _ = self.dirs[2] if len(self.dirs) > 2 else (0, 0)
        if not rva:
            return []
        base = self.offset(rva)
        d = self.data

        def entries(at):
            named, ids = struct.unpack_from("<HH", d, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", d, at + 16 + 8 * i)
                yield ident, target

        out = []
        for ident, target in entries(base):
            if ident != RT_MANIFEST or not target & 0x80000000:
                continue
            for _, t2 in entries(base + (target & 0x7FFFFFFF)):
                for _, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", d, base + (t3 & 0x7FFFFFFF))
                    o = self.offset(data_rva)
                    out.append(d[o:o + size].decode("utf-8", "replace"))
        return out


def expected_exports(def_path):
    names, in_exports = [], False
    for line in open(def_path):
        line = line.split(";")[0].strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
        elif in_exports:
            names.append(line.split()[0].split("=")[0])
    return names


def check_common(pe, problems):
    if pe.magic != 0x10B or pe.machine != MACHINE_I386:
        problems.append("%s: not PE32 for i386 (machine %#x)" % (pe.path, pe.machine))
    for dll in pe.imports():
        if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith("api-ms-win-"):
            problems.append("%s: needs %s, which is not a Windows system DLL" % (pe.path, dll))


def check_installer_imports(pe, problems):
    for dll in pe.imports():
        if dll.lower() not in INSTALLER_DLLS:
            problems.append("%s: imports %s, which is not a known DLL of the system; load it at run "
                            "time from the system folder" % (pe.path, dll))


# Bytes an MQL4 argument of each type takes on a 32-bit terminal's stack.
# Arrays, references and strings go as one pointer.
MQL4_ARGUMENT_BYTES = {
    "bool": 4, "char": 4, "uchar": 4, "short": 4, "ushort": 4, "int": 4, "uint": 4,
    "color": 4, "float": 4, "long": 8, "ulong": 8, "datetime": 8, "double": 8,
}
DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
DLLCHARACTERISTICS_NX_COMPAT = 0x0100
RT_VERSION = 16


def declared_imports(mqh_path, library):
    """name -> (argument bytes, declaration) of the #import block of library."""
    text = re.sub(r"//[^\n]*", "", open(mqh_path, encoding="utf-8", errors="replace").read())
    found, block = {}, None
    for part in re.split(r'(#import(?:[ \t]+"[^"]*")?)', text):
        if part.startswith("#import"):
            block = part
            continue
        if block != '#import "%s"' % library:
            continue
        for declaration in part.split(";"):
            declaration = " ".join(declaration.split())
            m = re.fullmatch(r"(?:\w+\s+)+?(\w+)\s*\((.*)\)", declaration)
            if not m:
                continue
            size = 0
            for parameter in filter(None, (p.split("=")[0].strip() for p in m.group(2).split(","))):
                if "&" in parameter or "[" in parameter:
                    size += 4
                    continue
                words = parameter.replace("const ", "").split()
                kind = words[0] if words else ""
                size += 4 if kind == "string" else MQL4_ARGUMENT_BYTES.get(kind, -10000)
            found[m.group(1)] = (size, declaration)
    return found


def stdcall_sizes(def_path):
    """name -> argument bytes (None where the export is not stdcall)."""
    sizes = {}
    for name in expected_exports(def_path):
        base, _, bytes_ = name.partition("@")
        sizes[base] = int(bytes_) if bytes_ else None
    return sizes


def check_argument_sizes(dll, exported, stdcall_def, mqh, problems):
    before = len(problems)
    linked = stdcall_sizes(stdcall_def)
    declared = declared_imports(mqh, "Lumarel.dll")
    for name in sorted(set(exported) | set(declared)):
        if name not in declared:
            problems.append("%s: export %s has no declaration in %s" % (dll, name, mqh))
            continue
        size, declaration = declared[name]
        if size < 0:
            problems.append("%s: %s: an argument type of unknown size" % (mqh, declaration))
        elif name not in exported:
            problems.append("%s: %s is declared in %s but not exported" % (dll, name, mqh))
        elif linked.get(name) is None:
            problems.append("%s: export %s is not a stdcall function" % (dll, name))
        elif linked[name] != size:
            problems.append("%s: export %s takes %d bytes of arguments, its MQL4 declaration %r pushes %d" %
                            (dll, name, linked[name], declaration, size))
    if len(problems) == before:
        print("%s: every export takes the argument bytes its MQL4 declaration pushes" % dll)


def dll_characteristics(pe):
    opt = struct.unpack_from("<I", pe.data, 0x3C)[0] + 24
    return struct.unpack_from("<H", pe.data, opt + 70)[0]


def resource_types(pe):
    rva, _ = pe.dirs[2] if len(pe.dirs) > 2 else (0, 0)
    if not rva:
        return set()
    at = pe.offset(rva)
    named, ids = struct.unpack_from("<HH", pe.data, at + 12)
    return {struct.unpack_from("<I", pe.data, at + 16 + 8 * i)[0] for i in range(named + ids)}


def check_hardening_and_version(pe, problems):
    flags = dll_characteristics(pe)
    if not flags & DLLCHARACTERISTICS_DYNAMIC_BASE:
        problems.append("%s: DYNAMICBASE (ASLR) is off" % pe.path)
    elif not pe.dirs[5][0]:
        problems.append("%s: DYNAMICBASE without relocations: it cannot be moved" % pe.path)
    if not flags & DLLCHARACTERISTICS_NX_COMPAT:
        problems.append("%s: NXCOMPAT (DEP) is off" % pe.path)
    if RT_VERSION not in resource_types(pe):
        problems.append("%s: no VERSIONINFO resource" % pe.path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe")
    parser.add_argument("--checker")
    parser.add_argument("--dll")
    parser.add_argument("--exports")
    parser.add_argument("--stdcall-def")
    parser.add_argument("--declared")
    args = parser.parse_args()
    problems = []
    if args.exe:
        pe = Pe(args.exe)
        check_common(pe, problems)
        check_installer_imports(pe, problems)
        if pe.subsystem != SUBSYSTEM_GUI:
            problems.append("%s: subsystem %d, not a GUI program" % (args.exe, pe.subsystem))
        manifest = "".join(pe.manifests())
        if 'level="requireAdministrator"' not in manifest:
            problems.append("%s: the manifest does not ask for requireAdministrator" % args.exe)
        if 'name="Microsoft.Windows.Common-Controls"' not in manifest or 'version="6.0.0.0"' not in manifest:
            problems.append("%s: the manifest does not ask for common controls 6" % args.exe)
        check_hardening_and_version(pe, problems)
        print("%s: PE32 i386, GUI, imports %s" % (args.exe, ", ".join(sorted(set(pe.imports())))))
    checker = args.checker or (os.path.join(os.path.dirname(args.exe), "marvolt-check.exe") if args.exe else None)
    if checker and not os.path.isfile(checker):
        problems.append("%s: missing: marvolt-check.exe ships beside Marvolt.exe" % checker)
    elif checker:
        pe = Pe(checker)
        check_common(pe, problems)
        if pe.subsystem != SUBSYSTEM_CONSOLE:
            problems.append("%s: subsystem %d, not a console program" % (checker, pe.subsystem))
        check_hardening_and_version(pe, problems)
        print("%s: PE32 i386, console, imports %s" % (checker, ", ".join(sorted(set(pe.imports())))))
    if args.dll:
        pe = Pe(args.dll)
        check_common(pe, problems)
        if not pe.characteristics & 0x2000:
            problems.append("%s: not a DLL" % args.dll)
        name, names = pe.exports()
        wanted = expected_exports(args.exports)
        if name != "Lumarel.dll":
            problems.append("%s: export table names %r, not Lumarel.dll" % (args.dll, name))
        if sorted(names) != sorted(wanted):
            problems.append("%s: exports %s, expected %s" % (args.dll, sorted(names), sorted(wanted)))
        for n in names:
            if "@" in n:
                problems.append("%s: export %s is decorated" % (args.dll, n))
        check_hardening_and_version(pe, problems)
        if args.stdcall_def and args.declared:
            check_argument_sizes(args.dll, names, args.stdcall_def, args.declared, problems)
        print("%s: PE32 i386 DLL, %d exports: %s" % (args.dll, len(names), " ".join(sorted(names))))
    for p in problems:
        print("check-binaries: " + p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
