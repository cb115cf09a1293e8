"""One test's own installation: a fresh folder with the launcher copied into an application folder
(its store, "Client", beside it) and a server folder "www" that a local update server serves. The
server stops and the folder goes when the test ends."""

import pathlib
import shutil
import tempfile

from update_server import UpdateServer


def set_up_installation(test, launcher, prefix, app_name="app"):
    """Gives `test` its folder, app, store, www and server."""
    test.folder = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    test.addCleanup(shutil.rmtree, test.folder, True)
    test.app = test.folder / app_name
    test.app.mkdir()
    shutil.copy2(launcher, test.app / launcher.name)
    test.store = test.app / "Client"
    test.www = test.folder / "www"
    test.www.mkdir()
    test.server = UpdateServer(test.www)
    test.addCleanup(test.server.stop)
