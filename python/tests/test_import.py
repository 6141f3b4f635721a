import torvik


def test_the_package_imports_with_the_projects_version():
    assert torvik.__version__.count(".") == 2
