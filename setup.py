"""The wheel's build step: the module comes from the project's CMake, with the `module` preset
(release flags, no tests or benchmarks) and only the quarn_rs target, as `make demo` builds it.

The module needs nothing beyond glibc, so the wheel is tagged manylinux_2_X for the newest glibc
symbol version X that the built module asks for; a module that needs any other library keeps the
plain linux tag."""

import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.install import install
from wheel.bdist_wheel import bdist_wheel

ROOT = Path(__file__).resolve().parent
# glibc's own libraries: what every manylinux system has.
GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1",
                   "ld-linux-x86-64.so.2"}


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # One build folder per interpreter, under setuptools' own; CMAKE_BUILD_PARALLEL_LEVEL sets
        # the number of jobs.
        build_dir = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "--preset", "module", "-B", str(build_dir),
                        f"-DPython3_EXECUTABLE={sys.executable}"], cwd=ROOT, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", ext.name], cwd=ROOT,
                       check=True)
        built = build_dir / "python" / self.get_ext_filename(ext.name)
        if not built.is_file():
            sys.exit(f"CMake built no {built.name} for {sys.executable}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


def glibc_needs(module):
    """(libraries the module needs, newest glibc symbol version as (major, minor))."""
    dynamic = subprocess.run(["objdump", "-p", str(module)], check=True, capture_output=True,
                             text=True).stdout
    needed = set(re.findall(r"^\s*NEEDED\s+(\S+)$", dynamic, re.MULTILINE))
    symbols = subprocess.run(["objdump", "-T", str(module)], check=True, capture_output=True,
                             text=True).stdout
    versions = {(int(a), int(b)) for a, b in re.findall(r"\bGLIBC_(\d+)\.(\d+)", symbols)}
    return needed, max(versions, default=(2, 17))


class Install(install):
    # Debian's setuptools, which other interpreters borrow offline, asks the install command for
    # two options that only Debian's own interpreter defines; unset is their default there.
    def initialize_options(self):
        super().initialize_options()
        for option in ("install_layout", "prefix_option"):
            if not hasattr(self, option):
                setattr(self, option, None)


class Wheel(bdist_wheel):
    def get_tag(self):
        python, abi, platform = super().get_tag()
        if platform.startswith("linux_"):
            module = Path(self.get_finalized_command("build_ext").get_ext_fullpath("quarn_rs"))
            needed, (major, minor) = glibc_needs(module)
            if needed <= GLIBC_LIBRARIES:
                platform = f"manylinux_{major}_{minor}_{platform[len('linux_'):]}"
            else:
                print(f"warning: {module.name} needs {sorted(needed - GLIBC_LIBRARIES)}: "
                      f"the wheel keeps the tag {platform}", file=sys.stderr)
        return python, abi, platform


setup(
    # The compiled module is top-level; its stubs are the stub-only package quarn_rs-stubs beside
    # it, where type checkers look for them.
    packages=["quarn_rs-stubs"],
    package_dir={"quarn_rs-stubs": "src/quarn_rs-stubs"},
    package_data={"quarn_rs-stubs": ["__init__.pyi"]},
    include_package_data=False,
    ext_modules=[Extension("quarn_rs", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "bdist_wheel": Wheel, "install": Install},
)
