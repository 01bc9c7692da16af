"""The build behind pyproject.toml: the extension cassmak._cassmak made by
CMake from this tree (CASSMAK_PYTHON_ONLY: the module alone, linked to the
static library, so that the wheel needs no libcassmak.so), the package's
Python files, stubs and py.typed by setuptools."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    """The version CMakeLists.txt gives the project."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(cassmak VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        stage = Path(self.build_temp).resolve() / "stage"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
            "-DCASSMAK_PYTHON=ON", "-DCASSMAK_PYTHON_ONLY=ON",
            f"-DPython3_EXECUTABLE={sys.executable}", "-DCASSMAK_PYTHON_INSTALL_DIR=.",
        ]
        try:  # the pybind11 this interpreter imports (the build's own under pip)
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--parallel", jobs], check=True)
        shutil.rmtree(stage, ignore_errors=True)
        subprocess.run(["cmake", "--install", str(build), "--component", "python",
                        "--prefix", str(stage)], check=True)
        # Installed, the module is stripped and without the compilers' notes.
        (built,) = (stage / "cassmak").glob("_cassmak.*")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    packages=["cassmak"],
    package_dir={"": "python"},
    package_data={"cassmak": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("cassmak._cassmak", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # Beside the build folders of the presets, not in the preset's build/.
    options={"build": {"build_base": "build-python"}},
)
