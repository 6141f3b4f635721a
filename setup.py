"""pip install .  builds the package torvik from this checkout, offline:

    /usr/bin/python3 -m venv --system-site-packages /tmp/v
    /tmp/v/bin/pip install --no-build-isolation .

The extension module torvik._torvik is the CMake target torvik_python of the
project: build_ext configures the project in a build folder of its own and
builds that one target (TORVIK_CMAKE_BUILD_DIR names an existing CMake build
folder to build it in instead, which saves the compile when it is up to date).
"""
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(torvik VERSION ([0-9.]+)", f.read()).group(1)


class CMakeTarget(Extension):
    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class BuildWithCMake(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("TORVIK_CMAKE_BUILD_DIR")
        if build_dir and os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            build_dir = os.path.abspath(build_dir)  # configured already: only build
        else:
            build_dir = os.path.abspath(build_dir or os.path.join(self.build_temp, "cmake"))
            subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                            "-DTORVIK_BUILD_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build_dir, "--target", ext.target, "-j", jobs], check=True)
        package = os.path.join(build_dir, "python", "torvik")
        built = [n for n in os.listdir(package) if n.startswith("_torvik.") and n.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError(f"expected one _torvik module in {package}, found {built}")
        destination = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(os.path.join(package, built[0]), destination)


setup(
    name="torvik",
    version=project_version(),
    description="torvik's trading-decision engine and strategy tester, from Python",
    packages=["torvik"],
    package_dir={"": "python"},
    ext_modules=[CMakeTarget("torvik._torvik", "torvik_python")],
    cmdclass={"build_ext": BuildWithCMake},
    install_requires=["numpy", "pandas"],
    python_requires=">=3.9",
    zip_safe=False,
)
