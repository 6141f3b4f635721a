"""The README's Python session (read bars, backtest, a batch on a local
cluster, the engine) runs as shown."""
import doctest
import os
import re

SOURCE = os.environ.get("TORVIK_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def session_text():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    section = readme.split("\n## The Python package\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, flags=re.S)
    assert blocks, "the section shows no session"
    return "\n".join(blocks)


def test_the_readme_session_runs_as_shown(tmp_path, monkeypatch):
    # The session's paths are the checkout's; what it writes goes elsewhere.
    os.symlink(os.path.join(os.path.abspath(SOURCE), "data"), tmp_path / "data")
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(session_text(), {}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    failures = []
    runner.run(test, out=failures.append)
    assert not failures, "".join(failures)
    assert (tmp_path / "out" / "EURUSD_H1_2024" / "report.html").exists()
