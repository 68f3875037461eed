"""Builds the extension of the Python module edgeseg with the project's own
CMake build (python/CMakeLists.txt), for the interpreter that runs this:
the tests, the benchmarks and the command are left out. pyproject.toml holds
the rest of the package's description."""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(edgeseg VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                        "-DEDGESEG_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "_edgeseg", "--parallel", "2"], check=True)
        built = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(built), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", "edgeseg", os.path.basename(built)), built)


setup(version=project_version(), ext_modules=[Extension("edgeseg._edgeseg", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
