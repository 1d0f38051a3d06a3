"""Builds the extension from the library's own sources, so that no installed libtarn is
needed: the sources are those of the project this folder belongs to."""
import os
import re
import sys

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LIB = os.path.join(ROOT, "lib")
if not os.path.isdir(LIB):
    sys.exit("python/ builds from the project's lib/: install it from the project's checkout")


def version():
    text = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    return re.search(r"project\(tarn VERSION (\d+)\.(\d+)\.(\d+)", text).groups()


# The library's sources, as lib/CMakeLists.txt lists them for the host.
cmake = open(os.path.join(LIB, "CMakeLists.txt")).read()
sources = re.findall(r"^\s+((?:container|cipher|checksum|stream|util|codec)/\w+\.cpp)$", cmake, re.M)
sources = sorted(set(s for s in sources if not s.endswith("portable_kernels.cpp")))
sources.append("platform/platform_win32.cpp" if os.name == "nt" else "platform/platform_posix.cpp")
sources.append("platform/cause.cpp")
major, minor, patch = version()

# The version the package reports is the library's.
with open(os.path.join(HERE, "tarn", "_version.py"), "w") as f:
    f.write(f'__version__ = "{major}.{minor}.{patch}"\n')

extension = Pybind11Extension(
    "tarn._tarn",
    ["tarn/_tarn.cpp"] + [os.path.relpath(os.path.join(LIB, s), HERE) for s in sources],
    include_dirs=[LIB, os.path.join(ROOT, "include")],
    define_macros=[("TARN_STATIC", "1"), ("TARN_BUILDING_LIBRARY", "1"),
                   ("TARN_VERSION_MAJOR", major), ("TARN_VERSION_MINOR", minor),
                   ("TARN_VERSION_PATCH", patch)],
    cxx_std=20,
    extra_compile_args=["-O3", "-fvisibility=hidden"] if os.name != "nt" else [],
)

setup(ext_modules=[extension], cmdclass={"build_ext": build_ext})
