#!/usr/bin/env python3
"""Checks that the library's export list (Lumarel.def) and the MQL4 include
(mql4/Include/Lumarel.mqh) agree with exports.h, where every export is
declared once with its exact type: every #import declaration pushes the
argument bytes the export takes off a 32-bit terminal's stack (a mismatch
corrupts the terminal's stack), with types of the same kind. With
RESULT_CODES_H, also that every number the include names has the value the
library answers with (each line there names its MQL4 constant after "//").

usage: check_exports.py EXPORTS_H LUMAREL_DEF LUMAREL_MQH [RESULT_CODES_H]
Prints each disagreement and exits 1 when there is any.
"""
import re
import sys

DECLARATION = re.compile(
    r"^LUMAREL_EXPORT\s+(?P<result>.+?)\s+LUMAREL_API\s+(?P<name>\w+)\((?P<params>[^)]*)\)\s*noexcept;")
MQL_DECLARATION = re.compile(r"^\s*(?P<result>\w+)\s+(?P<name>\w+)\s*\((?P<params>[^)]*)\)\s*;")

# How a C type of the header reaches an MQL4 import: ints stay ints, an 8-bit
# text comes in as a uchar array (or a string) and goes out as its address.
PARAMETER = {"int": {"int"}, "const char*": {"uchar[]", "string"}, "char*": {"uchar[]"}}
RESULT = {"int": {"int"}, "long long": {"long", "datetime"}, "const char*": {"int"}}

# Argument bytes on the i686 stack: every C type of the header takes 4; an
# MQL4 argument pushes 4 (ints, strings, arrays and references) or 8.
C_ARGUMENT_BYTES = {"int": 4, "const char*": 4, "char*": 4}
MQL4_ARGUMENT_BYTES = {
    "bool": 4, "char": 4, "uchar": 4, "short": 4, "ushort": 4, "int": 4, "uint": 4,
    "color": 4, "float": 4, "string": 4, "long": 8, "ulong": 8, "datetime": 8, "double": 8,
}
CONSTANT = re.compile(r"^inline constexpr int (?P<name>\w+) = (?P<value>-?\d+);\s*// (?P<mql>LM_\w+)")
DEFINE = re.compile(r"^#define\s+(?P<name>LM_\w+)\s+(?P<value>-?\d+)\b")


def c_type(param):
    param = param.strip()
    name = re.search(r"(\w+)$", param).group(1)
    return re.sub(r"\s+", " ", param[: -len(name)].strip()).replace(" *", "*")


def mql_type(param):
    param = param.split("=")[0].strip()
    words = param.replace("const ", "").split()
    kind = words[0] if words else ""
    return kind + "[]" if param.endswith("[]") else kind


def mql_bytes(kind):
    if kind.endswith("[]"):
        return 4
    return MQL4_ARGUMENT_BYTES.get(kind)


def read_header(path):
    exports = {}
    for line in open(path, encoding="utf-8"):
        m = DECLARATION.match(line.strip())
        if m:
            params = [p for p in m["params"].split(",") if p.strip()]
            exports[m["name"]] = (m["result"].strip(), [c_type(p) for p in params])
    return exports


def read_def(path):
    names, listing = [], False
    for line in open(path, encoding="utf-8"):
        word = line.split(";")[0].strip()
        if word == "EXPORTS":
            listing = True
        elif listing and word:
            names.append(word.split()[0])
    return names


def read_mqh(path):
    imports, inside, statement = {}, False, ""
    for line in open(path, encoding="utf-8"):
        line = line.split("//")[0]
        if line.startswith("#import"):
            inside, statement = '"Lumarel.dll"' in line, ""
            continue
        if not inside:
            continue
        statement += " " + line.strip()
        while ";" in statement:  # a declaration may run over several lines
            one, statement = statement.split(";", 1)
            m = MQL_DECLARATION.match(one + ";")
            if m:
                params = [p for p in m["params"].split(",") if p.strip()]
                imports[m["name"]] = (m["result"], [mql_type(p) for p in params])
    return imports


def read_constants(path, pattern, group="name"):
    constants = {}
    for line in open(path, encoding="utf-8"):
        m = pattern.match(line.strip())
        if m:
            constants.setdefault(m[group], []).append(int(m["value"]))
    return constants


def check_constants(codes_path, mqh_path, problems):
    library = read_constants(codes_path, CONSTANT, "mql")
    include = read_constants(mqh_path, DEFINE)
    if not library:
        problems.append(f"{codes_path}: no constants found")
    for name, values in sorted(library.items()):
        if len(values) > 1:
            problems.append(f"{codes_path}: {name} named twice")
        if name not in include:
            problems.append(f"{mqh_path}: {name} ({values[0]}) is not defined")
        elif include[name] != values[:1]:
            problems.append(f"{mqh_path}: {name} is {include[name][0]}, the library answers {values[0]}")
    for name in sorted(set(include) - set(library)):
        problems.append(f"{mqh_path}: {name} is not a number of the library ({codes_path})")


def main(header_path, def_path, mqh_path, codes_path=None):
    exports = read_header(header_path)
    problems = []
    if not exports:
        problems.append(f"{header_path}: no exports found")
    listed = read_def(def_path)
    for name in sorted(set(exports) - set(listed)):
        problems.append(f"{def_path}: {name} is not exported")
    for name in sorted(set(listed) - set(exports)):
        problems.append(f"{def_path}: {name} is not declared in exports.h")
    for name in sorted({n for n in listed if listed.count(n) > 1}):
        problems.append(f"{def_path}: {name} listed twice")
    imports = read_mqh(mqh_path)
    for name, (result, params) in sorted(exports.items()):
        if name not in imports:
            problems.append(f"{mqh_path}: {name} is not imported")
            continue
        mql_result, mql_params = imports[name]
        if mql_result not in RESULT.get(result, set()):
            problems.append(f"{mqh_path}: {name} returns {mql_result}, the library {result}")
        if len(mql_params) != len(params):
            problems.append(f"{mqh_path}: {name} takes {len(mql_params)} arguments, the library {len(params)}")
            continue
        pushed = [mql_bytes(m) for m in mql_params]
        if None in pushed:
            problems.append(f"{mqh_path}: {name} has an argument of a type of unknown size")
            continue
        taken = sum(C_ARGUMENT_BYTES.get(c, 0) for c in params)
        if sum(pushed) != taken:
            problems.append(f"{mqh_path}: {name} pushes {sum(pushed)} bytes of arguments, the export takes {taken}")
        for i, (c, mql) in enumerate(zip(params, mql_params), 1):
            if mql not in PARAMETER.get(c, set()):
                problems.append(f"{mqh_path}: {name} argument {i} is {mql}, the library's is {c}")
    for name in sorted(set(imports) - set(exports)):
        problems.append(f"{mqh_path}: {name} is imported but not declared in exports.h")
    if codes_path:
        check_constants(codes_path, mqh_path, problems)
    for p in problems:
        print(p)
    if not problems:
        print(f"{len(exports)} exports agree" + (", and every number of the include" if codes_path else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
