"""Builds the zarn Python package: pure Python over the zarn shared library (ctypes).

    pip install ./python                                    # from the project's root
    pip install --no-build-isolation --no-index ./python    # offline, with the system's setuptools

The package's tables (error codes and messages, objects, bits, version) are
generated from the C headers beside it, so it builds from the project's tree.
The shared library itself comes from the C build or a package (see docs/python.md).
"""
import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import generate_tables  # noqa: E402

ROOT = HERE.parent


class BuildWithTables(build_py):
    """build_py that also writes zarn/_tables.py from the headers."""

    def run(self):
        super().run()
        generate_tables.generate(ROOT, Path(self.build_lib) / "zarn" / "_tables.py")


setup(
    name="zarn",
    version=generate_tables.version((ROOT / "CMakeLists.txt").read_text()),
    description="Servo drives from Python over the zarn motion library",
    long_description=__doc__,
    packages=["zarn"],
    python_requires=">=3.8",
    cmdclass={"build_py": BuildWithTables},
    classifiers=["Programming Language :: Python :: 3", "Operating System :: POSIX :: Linux",
                 "Operating System :: Microsoft :: Windows"],
)
