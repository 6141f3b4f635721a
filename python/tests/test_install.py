"""pip installs the package from the checkout, offline, into a fresh venv,
and it imports from elsewhere and runs."""
import os
import shutil
import subprocess
import venv

import pytest

SOURCE = os.environ.get("TORVIK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.mark.skipif(not os.environ.get("TORVIK_CMAKE_BUILD_DIR"),
                    reason="TORVIK_CMAKE_BUILD_DIR names no built CMake folder to install from")
def test_pip_installs_from_the_checkout(tmp_path):
    # A copy of the checkout's sources, so that the build leaves nothing in the
    # checkout; the module is built in the named CMake folder.
    checkout = tmp_path / "checkout"
    top = os.path.abspath(SOURCE)
    left_out = {".git", "build", "out", "data", "node_modules"}
    shutil.copytree(top, checkout, ignore=lambda folder, names: [
        n for n in names if (os.path.abspath(folder) == top and n in left_out)
        or n.endswith(".egg-info") or n == "__pycache__"])
    environment = tmp_path / "venv"
    venv.create(environment, system_site_packages=True, with_pip=False)
    python = str(environment / "bin" / "python3")
    install = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--quiet",
                              str(checkout)], capture_output=True, text=True)
    assert install.returncode == 0, install.stderr
    script = ("import torvik, sys; "
              "r = torvik.backtest(sys.argv[1]); "
              "print(torvik.__file__); print(r.figures['total_trades'])")
    ran = subprocess.run([python, "-c", script, os.path.join(SOURCE, "data", "EURUSD_H1.csv")], cwd=tmp_path,
                         capture_output=True, text=True, env={k: v for k, v in os.environ.items()
                                                              if k != "PYTHONPATH"})
    assert ran.returncode == 0, ran.stderr
    where, trades = ran.stdout.split()
    assert where.startswith(str(environment))
    assert int(trades) > 0
