#!/usr/bin/env python3
"""Static analysis: what `make lint` runs, once its build folders are configured.

    python3 tools/lint.py [--jobs N] LINUX_BUILD [WINDOWS_BUILD]

1. clang-format (the repository's .clang-format) over every C and C++ file git tracks: any
   change it would make is a finding.
2. clang-tidy (.clang-tidy) over the program, its layers and the tests' support code, through
   LINUX_BUILD's compile commands; the Win32 backend, the program and the Windows tests' support
   through WINDOWS_BUILD's (the mingw-w64 build), rewritten so that clang reads them.
3. cppcheck over the same files, through the same compile commands.

Exit status 0 when no tool found anything; findings are suppressed in place, with their reason.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What is ours to analyse in each build; the rest of its compile commands (Qt's generated
# sources, googletest, the test programs themselves, the bench) is not.
LINUX_SCOPE = ("src/", "vcl/", "wininet/", "tests/support/", "tests/e2e/probe_links.cpp")
WINDOWS_SCOPE = ("src/", "vcl/win32/", "tests/win32/support/")
# Findings in these headers count; those in the system's, Qt's or googletest's do not.
HEADER_FILTER = "^" + re.escape(ROOT) + "/(src|vcl|wininet|tests)/"

CPPCHECK = [
    "cppcheck", "--error-exitcode=1", "--enable=warning,performance,portability,style",
    "--inline-suppr", "--suppress=missingIncludeSystem", "--quiet",
    "--template={file}:{line}:{column}: {severity}: {message} [{id}]"
]
# cppcheck's knowledge of the APIs each build calls, so that it reads their macros and contracts.
# Not its windows library: that defines windows.h's macros everywhere, ANSI_CHARSET among them,
# which the layer's own enumerations use as names where windows.h is not included.
CPPCHECK_LIBRARIES = {"linux": ["qt", "libcurl", "posix", "gnu"], "windows": []}


def relative(path):
    return os.path.relpath(os.path.realpath(path), ROOT)


def in_scope(entry, scope):
    path = relative(os.path.join(entry["directory"], entry["file"]))
    return any(path == s or (s.endswith("/") and path.startswith(s)) for s in scope)


def arguments(entry):
    args = entry.get("arguments") or shlex.split(entry["command"])
    expanded = []
    for arg in args:
        # CMake hands mingw-w64 its include folders in a response file.
        if arg.startswith("@"):
            with open(os.path.join(entry["directory"], arg[1:]), encoding="utf-8") as rsp:
                expanded += shlex.split(rsp.read())
        else:
            expanded.append(arg)
    return expanded


def mingw_for_clang(args):
    """The mingw-w64 g++ command line as clang must see it to parse the same code."""
    compiler = args[0]
    triple = re.sub(r"-g\+\+(-posix|-win32)?$", "", os.path.basename(compiler))
    # g++'s own search list: its libstdc++ and the Windows headers, but not its builtin headers,
    # which clang brings in its own form.
    probe = subprocess.run([compiler, "-E", "-x", "c++", "-", "-v"], input="", text=True,
                           capture_output=True, check=True).stderr
    listed = probe.split("#include <...> search starts here:\n", 1)[1].split("End of search")[0]
    folders = [os.path.normpath(f.strip()) for f in listed.splitlines()]
    gcc_own = re.compile(r"/lib/gcc/[^/]+/[^/]+/include(-fixed)?$")
    includes = [arg for f in folders if not gcc_own.search(f) for arg in ("-isystem", f)]
    # clang knows no other execution character set; the text is the same either way.
    kept = [a for a in args[1:] if not a.startswith("-fexec-charset=")]
    return ["clang++", "--target=" + triple, "-nostdlibinc"] + includes + kept


def lint_database(build, scope, windows):
    """BUILD/lint/compile_commands.json: the build's commands for what is in scope."""
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as db:
        entries = [e for e in json.load(db) if in_scope(e, scope)]
    if not entries:
        sys.exit(f"lint: no source in scope in {build}/compile_commands.json")
    for entry in entries:
        args = arguments(entry)
        entry.pop("command", None)
        entry["arguments"] = mingw_for_clang(args) if windows else args
    folder = os.path.abspath(os.path.join(build, "lint"))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "compile_commands.json"), "w", encoding="utf-8") as db:
        json.dump(entries, db, indent=1)
    return folder, sorted({os.path.join(e["directory"], e["file"]) for e in entries})


def run(args, **kwargs):
    return subprocess.run(args, cwd=ROOT, text=True, capture_output=True, **kwargs)


def tracked_sources():
    return run(["git", "ls-files", "--", "*.c", "*.cc", "*.cpp", "*.h", "*.hpp"],
               check=True).stdout.split()


def clang_format(files):
    result = run(["clang-format", "--dry-run", "-Werror", "--style=file"] + files)
    output = (result.stdout + result.stderr).strip()
    return output, result.returncode != 0 or bool(output)


def clang_tidy(database, files, jobs):
    # clang-tidy tells how many warnings it hid in others' headers; only findings matter.
    noise = re.compile(r"^\d+ warnings? (and \d+ errors? )?generated\.$")

    def one(path):
        result = run(["clang-tidy", "-p", database, "--quiet", "--header-filter=" + HEADER_FILTER,
                      path])
        lines = [l for l in result.stderr.splitlines() if not noise.match(l)]
        return path, result.returncode, result.stdout + "\n".join(lines)

    outputs = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for path, code, output in pool.map(one, files):
            if code != 0:
                outputs.append(f"--- clang-tidy {relative(path)}\n{output.strip()}")
    return "\n".join(outputs), bool(outputs)


def cppcheck(database, platform, jobs):
    project = "--project=" + os.path.join(database, "compile_commands.json")
    libraries = ["--library=" + name for name in CPPCHECK_LIBRARIES[platform]]
    result = run(CPPCHECK + [f"-j{jobs}", project] + libraries)
    output = (result.stdout + result.stderr).strip()
    return output, result.returncode != 0 or bool(output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("linux_build")
    parser.add_argument("windows_build", nargs="?")
    options = parser.parse_args()

    builds = [("linux", options.linux_build, LINUX_SCOPE)]
    if options.windows_build:
        builds.append(("windows", options.windows_build, WINDOWS_SCOPE))

    failed = []

    def step(name, action, *args):
        started = time.monotonic()
        output, found = action(*args)
        print(f"== {name}: {'FINDINGS' if found else 'clean'}"
              f" ({time.monotonic() - started:.1f} s)", flush=True)
        if output:
            print(output, flush=True)
        if found:
            failed.append(name)

    sources = tracked_sources()
    step(f"clang-format, {len(sources)} files", clang_format, sources)
    for platform, build, scope in builds:
        database, files = lint_database(build, scope, platform == "windows")
        step(f"clang-tidy, {platform} build, {len(files)} files", clang_tidy, database, files,
             options.jobs)
        step(f"cppcheck, {platform} build, {len(files)} files", cppcheck, database, platform,
             options.jobs)

    if failed:
        print("lint: findings from " + "; ".join(failed))
        return 1
    print("lint: clean")
    return 0


if __name__ == "__main__":
    sys.exit(main())
