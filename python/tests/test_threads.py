"""Tape.save in a host with a second thread, ended by SIGTERM (which the
other thread takes) or SIGKILL at many instants: the image is never left
torn, and the next save clears what the ended one left beside it."""

import os
import signal
import threading
import time

import pytest

import cassmak
from inputs import block

FIRST = block(b"\xaa" * 60000) * 6
SECOND = block(b"\xbb" * 60000) * 4


def save_until_ended(path, ready):
    """The child: a second thread, then saves one tape and the other."""
    threading.Thread(target=lambda: time.sleep(3600), daemon=True).start()
    tapes = [cassmak.Tape(FIRST), cassmak.Tape(SECOND)]
    os.write(ready, b"!")
    turn = 0
    while True:
        turn ^= 1
        tapes[turn].save(path)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork to end a host with")
@pytest.mark.parametrize("linked", [False, True], ids=["renamed", "in place"])
@pytest.mark.parametrize("ending", [signal.SIGTERM, signal.SIGKILL], ids=["SIGTERM", "SIGKILL"])
def test_a_save_ended_at_any_instant_is_cleared_by_the_next(tmp_path, linked, ending):
    path = tmp_path / "tape.kst"
    expected = ["tape.kst"]
    for trial in range(8):
        path.write_bytes(FIRST)
        if linked:
            os.link(path, tmp_path / "link.kst")
            expected = ["link.kst", "tape.kst"]
        ready, tell = os.pipe()
        child = os.fork()
        if child == 0:
            try:
                os.close(ready)
                save_until_ended(path, tell)
            finally:
                os._exit(1)
        os.close(tell)
        assert os.read(ready, 1) == b"!"
        os.close(ready)
        time.sleep(0.002 + trial * 0.012)
        os.kill(child, ending)
        _, status = os.waitpid(child, 0)
        assert os.WIFSIGNALED(status), status
        # Torn only where the copy to write back stands beside it.
        now = path.read_bytes()
        assert now in (FIRST, SECOND) or (tmp_path / ".tape.kst.rollback").exists()
        cassmak.Tape(SECOND).save(path)
        assert sorted(os.listdir(tmp_path)) == expected
        assert path.read_bytes() == SECOND
        if linked:
            assert (tmp_path / "link.kst").read_bytes() == SECOND
            os.unlink(tmp_path / "link.kst")
