#!/usr/bin/env python3
"""The two checks of the MQL4 include fail on the faults they are there for:
check_exports.py on an #import declaration whose arguments push other bytes
than the export takes, or a number that differs from the library's, and
tools/check-binaries.py on a linked export whose stdcall size differs from the
declaration. Each case changes one line of the real include.

usage: check_exports_test.py SOURCE_ROOT
"""
import contextlib
import importlib.util
import io
import os
import sys
import tempfile

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "..")
FRAME = os.path.join(ROOT, "channels", "frame")
HEADER = os.path.join(FRAME, "exports.h")
DEF = os.path.join(FRAME, "Lumarel.def")
MQH = os.path.join(ROOT, "mql4", "Include", "Lumarel.mqh")
CODES = os.path.join(FRAME, "result_codes.h")


def load(name, path):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


check_exports = load("check_exports", os.path.join(FRAME, "check_exports.py"))
check_binaries = load("check_binaries", os.path.join(ROOT, "tools", "check-binaries.py"))

# (what is wrong, the line as it stands, the line changed, a text the report must hold)
CASES = [
    ("an int argument declared long",
     "int SetupTimedTicks(int window, int interval);", "int SetupTimedTicks(long window, int interval);",
     "SetupTimedTicks pushes 12 bytes of arguments, the export takes 8"),
    ("an argument left out",
     "int LM_SendInternetMessage(int handle, uchar &message[]);", "int LM_SendInternetMessage(uchar &message[]);",
     "LM_SendInternetMessage takes 1 arguments, the library 2"),
    ("a double where the library takes an int",
     "int RemoveHelper(int window);", "int RemoveHelper(double window);",
     "RemoveHelper pushes 8 bytes of arguments, the export takes 4"),
    ("a result code with another value",
     "#define LM_HUB_DUPLICATE        12", "#define LM_HUB_DUPLICATE        21",
     "LM_HUB_DUPLICATE is 21, the library answers 12"),
    ("a hub error number left out",
     "#define LM_ERR_NOT_GRANTED         2003", "",
     "LM_ERR_NOT_GRANTED (2003) is not defined"),
    ("a number the library does not know",
     "#define LM_SENT               1", "#define LM_SENT               1\n#define LM_SENT_TWICE 7",
     "LM_SENT_TWICE is not a number of the library"),
]


def changed_include(original, changed, folder):
    text = open(MQH, encoding="utf-8").read()
    if original not in text:
        raise AssertionError("the include no longer holds %r: update this case" % original)
    path = os.path.join(folder, "Lumarel.mqh")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(original, changed, 1))
    return path


def run_check_exports(mqh):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = check_exports.main(HEADER, DEF, mqh, CODES)
    return status, out.getvalue()


def stdcall_def(folder, sizes):
    """A module-definition file as tools/stdcall-def writes it at link time."""
    path = os.path.join(folder, "Lumarel.stdcall.def")
    with open(path, "w") as f:
        f.write("EXPORTS\n" + "".join("  %s@%d\n" % item for item in sorted(sizes.items())))
    return path


def main():
    failures = []
    status, report = run_check_exports(MQH)
    if status != 0:
        failures.append("the include as it stands fails:\n" + report)
    with tempfile.TemporaryDirectory() as folder:
        for what, original, changed, expected in CASES:
            status, report = run_check_exports(changed_include(original, changed, folder))
            if status != 1 or expected not in report:
                failures.append("%s: status %d, report:\n%s" % (what, status, report))

        # check-binaries.py against the sizes a linker wrote: the real include
        # agrees with sizes taken from its own declarations; one export linked
        # with another size is named.
        declared = check_binaries.declared_imports(MQH, "Lumarel.dll")
        sizes = {name: size for name, (size, _) in declared.items()}
        exported = sorted(sizes)
        problems = []
        with contextlib.redirect_stdout(io.StringIO()):
            check_binaries.check_argument_sizes("Lumarel.dll", exported, stdcall_def(folder, sizes), MQH, problems)
        if problems:
            failures.append("check-binaries.py refuses matching sizes: %s" % problems)
        sizes["LM_StartReceiver"] = 12
        problems = []
        with contextlib.redirect_stdout(io.StringIO()):
            check_binaries.check_argument_sizes("Lumarel.dll", exported, stdcall_def(folder, sizes), MQH, problems)
        if not any("LM_StartReceiver takes 12 bytes" in p for p in problems):
            failures.append("check-binaries.py missed a 12-byte LM_StartReceiver: %s" % problems)
    for f in failures:
        print("FAIL " + f)
    print("%d cases, %d failed" % (len(CASES) + 3, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
