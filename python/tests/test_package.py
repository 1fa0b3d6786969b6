"""The package itself: its tables against the C headers, finding the library and zarn-sim,
the examples, and an offline pip install."""
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

import zarn
from conftest import SOURCE_DIR
from zarn import _tables

PACKAGE_DIR = Path(zarn.__file__).parent
LIBRARY = Path(zarn.library_path())


def run_python(code: str, env: dict, cwd: Path) -> subprocess.CompletedProcess:
    """python3 -c code in cwd (the first place it imports from) with a clean zarn environment plus env."""
    base = {k: v for k, v in os.environ.items() if k not in ("ZARN_LIBRARY", "ZARN_SIM", "LD_LIBRARY_PATH")}
    return subprocess.run(
        [sys.executable, "-c", code], env={**base, **env}, cwd=cwd, capture_output=True, text=True, timeout=60
    )


def test_tables_agree_with_the_headers():
    dump = subprocess.run([os.environ["ZARN_TABLES_DUMP"]], capture_output=True, text=True, check=True).stdout
    errors = {}
    for fields in (line.split("\t") for line in dump.splitlines()):
        if fields[0] == "error":
            code, name, message = int(fields[1]), fields[2], fields[3]
            errors[code] = message
            assert zarn.error_message(code) == message
            assert getattr(zarn.codes, name[len("ZARN_") :]) == code
        elif fields[0] == "object":
            assert _tables.OBJECTS[fields[1]] == (int(fields[2]), int(fields[3]), int(fields[4]), fields[5] == "1")
        elif fields[0] == "bit":
            assert _tables.BITS[fields[1]] == int(fields[2])
        elif fields[0] == "family":
            assert _tables.FAMILIES[fields[1]] == int(fields[2])
    assert len(errors) == len(_tables.MESSAGES) and 43 <= len(errors)
    assert len(_tables.OBJECTS) == dump.count("object\t")
    assert [zarn.error_message(code) for code in (15, 43, -1, 99, 107)] == ["Unknown Error."] * 5


def bare_package(tmp_path: Path) -> Path:
    """The package's Python files alone in tmp_path/zarn (no library, no zarn-sim beside them)."""
    target = tmp_path / "zarn"
    target.mkdir()
    for source in PACKAGE_DIR.glob("*.py"):
        shutil.copy(source, target)
    return tmp_path


def test_library_search_order(tmp_path):
    root = bare_package(tmp_path)
    show = "import zarn; print(zarn.library_path())"
    env = {"PYTHONPATH": str(root)}

    chosen = run_python(show, {**env, "ZARN_LIBRARY": str(LIBRARY)}, tmp_path)
    assert chosen.stdout.strip() == str(LIBRARY)

    missing = run_python(show, {**env, "ZARN_LIBRARY": str(tmp_path / "missing.so")}, tmp_path)
    assert "ZARN_LIBRARY is set, so nothing else was searched" in missing.stderr
    assert f"{tmp_path / 'missing.so'} (no such file)" in missing.stderr

    nowhere = run_python(show, env, tmp_path)
    assert "LibraryNotFoundError" in nowhere.stderr and "Set ZARN_LIBRARY" in nowhere.stderr
    assert f"{root / 'zarn' / 'libzarn.so.1'} (no such file)" in nowhere.stderr
    assert "libzarn.so.1 (system loader:" in nowhere.stderr

    on_loader_path = run_python(show, {**env, "LD_LIBRARY_PATH": str(LIBRARY.parent)}, tmp_path)
    assert on_loader_path.stdout.strip() == str(LIBRARY)

    installed = tmp_path / "prefix" / "lib"  # as an install lays it out, found through _location.py
    installed.mkdir(parents=True)
    shutil.copy(LIBRARY, installed / "libzarn.so.1")
    (root / "zarn" / "_location.py").write_text('LIBRARY_DIR = "../prefix/lib"\n')
    through_install = run_python(show, env, tmp_path)
    assert through_install.stdout.strip() == str(installed / "libzarn.so.1")


def test_simulator_start_and_failures(monkeypatch):
    with zarn.sim.Simulator(udp=False, serial=True, drives=[3]) as sim:
        assert sim.running and sim.serial_port.startswith("/dev/")
        with pytest.raises(KeyError, match="no UDP drive 3"):
            sim.udp_port(3)
    assert not sim.running
    for _ in range(20):  # a stop right after the start ends zarn-sim cleanly (it once could miss it)
        started = zarn.sim.Simulator(udp=True, serial=True, drives=[1, 2]).start()
        begin = time.monotonic()
        assert started.stop() == 0 and time.monotonic() - begin < 4
    with pytest.raises(zarn.sim.SimulatorError, match="unknown option"):
        zarn.sim.Simulator(no_such_fault=1).start()
    with pytest.raises(ValueError):
        zarn.sim.Simulator(udp=False, serial=False)
    monkeypatch.setenv("ZARN_SIM", "/nonexistent/zarn-sim")
    with pytest.raises(zarn.sim.SimulatorError, match="ZARN_SIM=/nonexistent/zarn-sim"):
        zarn.sim.Simulator().start()


@pytest.mark.parametrize("example", sorted((SOURCE_DIR / "examples" / "python").glob("*.py")), ids=lambda p: p.name)
def test_example_runs(example):
    result = subprocess.run([sys.executable, str(example)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "position" in result.stdout


def test_pip_installs_offline(tmp_path):
    source = tmp_path / "source"
    for name in ("python", "include/zarn/zarn_errors.h", "src/protocol/objects.h", "CMakeLists.txt"):
        if (SOURCE_DIR / name).is_dir():
            shutil.copytree(SOURCE_DIR / name, source / name, ignore=shutil.ignore_patterns("__pycache__", "build"))
        else:
            (source / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(SOURCE_DIR / name, source / name)
    site = tmp_path / "site"
    pip = [sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index"]
    result = subprocess.run(
        pip + ["--target", str(site), str(source / "python")], capture_output=True, text=True, timeout=300
    )
    assert result.returncode == 0, result.stdout + result.stderr
    code = (
        "import zarn\n"
        "with zarn.sim.Simulator() as sim, zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1)) as drive:\n"
        "    print(zarn.__version__, zarn.library_path(), drive.read(0x6081, 0, 'u32'))\n"
    )
    env = {"PYTHONPATH": str(site), "LD_LIBRARY_PATH": str(LIBRARY.parent), "ZARN_SIM": str(PACKAGE_DIR / "zarn-sim")}
    used = run_python(code, env, tmp_path)
    assert used.stdout.split() == [zarn.__version__, str(LIBRARY), "100000"], used.stderr
    assert (site / "zarn" / "_tables.py").is_file() and not (site / "zarn" / "_location.py").exists()
