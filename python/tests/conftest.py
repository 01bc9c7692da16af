"""What every test of the module shares: the built tools it is compared
with, and how they are run.

CTest gives the tools' paths in CASSMAK_EXE and CASSTOOL_EXE and puts the
built module first on PYTHONPATH; run by hand, give the same.
"""

import os
import subprocess

import pytest


def tool_path(variable):
    path = os.environ.get(variable)
    if not path or not os.access(path, os.X_OK):
        raise pytest.UsageError(f"{variable} must name the built tool (got {path!r})")
    return path


class Run:
    """One run of a tool: its exit status and both streams, as bytes."""

    def __init__(self, completed):
        self.status = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr

    def message(self, program):
        """The failure message the way the tool words it, without the
        program's prefix (casstool) or the empty line after it (cassmak)."""
        text = self.err.decode("utf-8", "surrogateescape")
        if program == "casstool":
            assert text.startswith("casstool: ") and text.endswith("\n"), text
            return text[len("casstool: ") : -1]
        assert text.endswith("\n\n"), text
        return text[:-2]


class Tools:
    def __init__(self):
        self.cassmak_exe = tool_path("CASSMAK_EXE")
        self.casstool_exe = tool_path("CASSTOOL_EXE")

    def run(self, exe, args, cwd=None, stdin=b""):
        completed = subprocess.run(
            [exe, *[os.fsencode(a) if isinstance(a, str) else a for a in args]],
            input=stdin,
            capture_output=True,
            cwd=cwd,
            check=False,
        )
        return Run(completed)

    def cassmak(self, *args, cwd=None):
        return self.run(self.cassmak_exe, args, cwd=cwd)

    def casstool(self, *args, cwd=None, stdin=b""):
        return self.run(self.casstool_exe, args, cwd=cwd, stdin=stdin)


@pytest.fixture(scope="session")
def tools():
    return Tools()


@pytest.fixture(scope="session")
def rounds():
    """How many random inputs each property test tries."""
    return int(os.environ.get("CASSMAK_PY_ROUNDS", "60"))
