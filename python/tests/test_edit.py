"""The edits against casstool's changing commands on the same random images,
byte for byte, with casstool's messages for what they refuse; and save
against the lock that cassmak -append takes."""

import errno
import fcntl
import os
import re
import threading
import time

import cassmak
import pytest

from inputs import block, random_image, rng_for, stored_file


def words_for(rng, count):
    """Entry words as casstool takes them: numbers, ranges, 'all', and now
    and then one it refuses."""
    pool = [str(rng.randint(1, max(count, 1))) for _ in range(4)]
    pool += [f"{rng.randint(1, count + 1)}-{rng.randint(1, count + 1)}", "all"]
    pool += rng.choice([[], [], ["0"], ["x"], [str(count + 1)], ["3-1"]])
    words = rng.sample(pool, rng.randint(1, 3))
    # Numbers go to the module as ints as often as as texts.
    return words, [int(w) if w.isdigit() and rng.random() < 0.5 else w for w in words]


def usage_text(run, command):
    """What a usage error says of its value, without the command in front
    and the pointer to the help behind."""
    found = re.fullmatch(
        rf"{command}: (.*) \(see 'casstool {command} --help'\)", run.message("casstool")
    )
    return found.group(1) if found else run.message("casstool")


def same_outcome(run, path, call, before, command):
    """The module's edit gives the bytes casstool left at `path`, or raises
    casstool's message when casstool refused."""
    if run.status in (0, 1):
        assert call().to_bytes() == path.read_bytes()
    else:
        assert path.read_bytes() == before  # left as it was
        with pytest.raises(cassmak.BadValueError) as caught:
            call()
        assert caught.value.tool_message == usage_text(run, command)
        assert caught.value.status == 2
        # Python's words name no option.
        assert " --" not in str(caught.value)


def test_remove_is_rm(tools, rounds, tmp_path):
    path = tmp_path / "a.kst"
    for seed in range(rounds):
        rng = rng_for("rm", seed)
        image = random_image(rng)
        path.write_bytes(image)
        tape = cassmak.Tape.read(path)
        words, given = words_for(rng, len(tape))
        run = tools.casstool("rm", path, *words, "-q")
        same_outcome(run, path, lambda: tape.remove(*given), image, "rm")


def test_remove_needs_an_entry_as_rm_does(tools, tmp_path):
    path = tmp_path / "a.kst"
    path.write_bytes(random_image(rng_for("rm-none", 0), damaged=0))
    run = tools.casstool("rm", path)
    with pytest.raises(cassmak.BadValueError) as caught:
        cassmak.Tape.read(path).remove()
    assert caught.value.tool_message == usage_text(run, "rm")
    assert str(caught.value) == "remove() needs at least one entry"


def random_field(rng, good, bad):
    return rng.choice(good) if rng.random() < 0.85 else rng.choice(bad)


def test_retag_is_set(tools, rounds, tmp_path):
    path = tmp_path / "a.kst"
    for seed in range(rounds * 2):
        rng = rng_for("set", seed)
        image = random_image(rng)
        path.write_bytes(image)
        tape = cassmak.Tape.read(path)
        entry = rng.randint(0, len(tape) + 1)
        fields = {}
        if rng.random() < 0.6:
            fields["name"] = random_field(rng, ["NEW", "a.b", "", "EIGHTCHR"], ["NINECHARS"])
        if rng.random() < 0.5:
            fields["number"] = random_field(rng, [7, "0x10", "010", 99], ["100", "1x", "-1", ""])
        if rng.random() < 0.5:
            fields["type"] = random_field(rng, ["B", ">", "~"], [" ", "AB", "\x7f", ""])
        if rng.random() < 0.5:
            fields["address"] = random_field(rng, [0x4000, "0xFFFF", 0], ["65536", "0x", "+1"])
        if not fields:
            fields["number"] = 1
        force = rng.random() < 0.3
        options = []
        for field, value in fields.items():
            options += [f"--{field}", str(value)]
        run = tools.casstool("set", path, str(entry), *options, *(["--force"] if force else []), "-q")
        same_outcome(run, path, lambda: tape.retag(entry, force=force, **fields), image, "set")


def test_move_is_move(tools, rounds, tmp_path):
    path = tmp_path / "a.kst"
    for seed in range(rounds):
        rng = rng_for("move", seed)
        image = random_image(rng)
        path.write_bytes(image)
        tape = cassmak.Tape.read(path)
        entry, position = rng.randint(0, len(tape) + 1), rng.randint(0, len(tape) + 1)
        run = tools.casstool("move", path, str(entry), str(position), "-q")
        same_outcome(run, path, lambda: tape.move(entry, position), image, "move")


def test_insert_is_copy(tools, rounds, tmp_path):
    path, source_path = tmp_path / "a.kst", tmp_path / "b.kst"
    for seed in range(rounds * 2):
        rng = rng_for("copy", seed)
        image = random_image(rng)
        path.write_bytes(image)
        source_path.write_bytes(random_image(rng))
        tape, source = cassmak.Tape.read(path), cassmak.Tape.read(source_path)
        words, given = words_for(rng, len(source))
        at = rng.choice([None, rng.randint(0, len(tape) + 2)])
        force = rng.random() < 0.3
        options = (["--at", str(at)] if at is not None else []) + (["--force"] if force else [])
        run = tools.casstool("copy", source_path, *words, "--to", path, *options, "-q")
        same_outcome(run, path, lambda: tape.insert(source, *given, at=at, force=force), image, "copy")


def test_join_is_join(tools, rounds, tmp_path):
    out = tmp_path / "joined.kst"
    for seed in range(rounds):
        rng = rng_for("join", seed)
        paths = []
        for i in range(rng.randint(1, 4)):
            paths.append(tmp_path / f"{i}.kst")
            paths[-1].write_bytes(random_image(rng, damaged=0.3))
        force = rng.random() < 0.4
        out.write_bytes(b"old")
        run = tools.casstool("join", "-o", out, *paths, *(["--force"] if force else []), "-q")
        tapes = [cassmak.Tape.read(p) for p in paths]
        same_outcome(run, out, lambda: cassmak.join(tapes, force=force, label=str(out)), b"old", "join")


def test_split_is_split(tools, rounds, tmp_path):
    path = tmp_path / "a.kst"
    for seed in range(rounds):
        rng = rng_for("split", seed)
        path.write_bytes(random_image(rng, damaged=0.3))
        folder = tmp_path / f"split{seed}"
        folder.mkdir()
        force = rng.random() < 0.4
        run = tools.casstool("split", path, "-d", folder, *(["--force"] if force else []), "-q")
        tape = cassmak.Tape.read(path)
        if run.status == 2:
            assert not os.listdir(folder)
            with pytest.raises(cassmak.BadValueError) as caught:
                tape.split(force=force)
            assert caught.value.tool_message == run.message("casstool")
            continue
        pieces = tape.split(force=force)
        assert sorted(name for name, _ in pieces) == sorted(os.listdir(folder))
        for name, piece in pieces:
            assert piece.to_bytes() == (folder / name).read_bytes()
        # Joined again as casstool joins the files split wrote.
        names = [name for name, _ in pieces]
        if not names:
            assert len(tape) == 0 and cassmak.join([]) == tape
            continue
        out = tmp_path / "joined.kst"
        out.write_bytes(b"old")
        run = tools.casstool("join", "-o", out, *names, *(["--force"] if force else []), "-q",
                             cwd=folder)
        same_outcome(run, out,
                     lambda: cassmak.join([p for _, p in pieces], force=force, label=str(out)),
                     b"old", "join")
        if run.status != 2:
            assert out.read_bytes() == tape.to_bytes()


def test_save_replaces_as_casstool_does(tools, tmp_path):
    path = tmp_path / "a.kst"
    image = random_image(rng_for("save", 0), damaged=0)
    tape = cassmak.Tape(image)
    tape.save(path)
    assert path.read_bytes() == image
    # The file stays the file it was: its permission bits and its other names.
    os.chmod(path, 0o640)
    os.link(path, tmp_path / "other.kst")
    cassmak.Tape(b"\x01\x00Z").save(path)
    assert (tmp_path / "other.kst").read_bytes() == b"\x01\x00Z"
    assert os.stat(path).st_mode & 0o777 == 0o640
    # A missing file without create, or one that cannot be made: the
    # OSError Python's open raises, with casstool's words beside it.
    for target in (tmp_path / "missing.kst", tmp_path / "no" / "such.kst"):
        run = tools.casstool("rm", target, "1")
        with pytest.raises(FileNotFoundError) as caught:
            tape.save(target, create=False)
        error = caught.value
        assert isinstance(error, cassmak.FileMissingError)
        assert (error.errno, error.filename, error.tool_message) == (
            errno.ENOENT, str(target), run.message("casstool"))
        assert str(error) == str(FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT),
                                                   str(target)))
    assert not (tmp_path / "missing.kst").exists()
    with pytest.raises(cassmak.Error):
        tape.save(tmp_path / "no" / "such.kst")


CHANGED = "{}: cannot be updated: it has changed since it was read; it is left as it was"
REMOVED = "{}: cannot be updated: it has been removed since it was read; it is left as it was"

# Two files and a headless block: entry 1 can be retagged, entries 2 and 3 moved.
SAVED = stored_file(b"one", 1, name=b"ONE     ") + block(b"two") + stored_file(b"three", 3)


def change_as_another_program(tools, path, change):
    """What another program does to `path` between a read and a save: a file
    appended, a name set (other bytes of the same size), the file removed."""
    if change == "append":
        more = path.parent.parent / "more.bin"
        more.write_bytes(b"appended")
        assert tools.cassmak("-append", "-m", "MORE", "-o", path, more).status == 0
    elif change == "set":
        assert tools.casstool("set", path, "1", "--name", "OTHER", "-q").status == 0
    else:
        path.unlink()


def contents(folder):
    return {name: (folder / name).read_bytes() for name in os.listdir(folder)}


def test_save_refuses_a_file_changed_since_it_was_read(tools, tmp_path):
    # Saved as read, or edited first: the tape keeps the bytes read, or only
    # their digest once an edit has let them go.
    edits = {"none": lambda tape: tape, "retag": lambda tape: tape.retag(1, name="MINE")}
    for change in ("append", "set", "remove"):
        for edit, make in edits.items():
            for create in (True, False):
                case = f"{change}, edit {edit}, create={create}"
                folder = tmp_path / case.replace(" ", "_").replace(",", "")
                folder.mkdir()
                path = folder / "a.kst"
                path.write_bytes(SAVED)
                tape = make(cassmak.Tape.read(path))
                change_as_another_program(tools, path, change)
                left = contents(folder)
                with pytest.raises(cassmak.Error) as caught:
                    tape.save(path, create=create)
                words = REMOVED if change == "remove" else CHANGED
                assert str(caught.value) == words.format(path), case
                assert caught.value.status == 2, case
                # Nothing made, nothing left behind: the file as the other program left it.
                assert contents(folder) == left, case


def test_save_of_an_unchanged_file_is_casstools_change(tools, tmp_path):
    path, theirs = tmp_path / "a.kst", tmp_path / "theirs.kst"
    for create in (True, False):
        path.write_bytes(SAVED)
        theirs.write_bytes(SAVED)
        tape = cassmak.Tape.read(path)
        tape.save(path, create=create)
        assert path.read_bytes() == SAVED
        tape = tape.retag(1, name="MINE").move(2, 3)
        tape.save(path, create=create)
        assert tools.casstool("set", theirs, "1", "--name", "MINE", "-q").status == 0
        assert tools.casstool("move", theirs, "2", "3", "-q").status == 0
        assert path.read_bytes() == theirs.read_bytes()
        # A saved tape holds what the file now holds: saved again, or edited
        # and saved, it replaces it; the file changed again, it is refused.
        tape.save(path, create=create)
        tape = tape.remove(3)
        tape.save(path, create=create)
        assert tools.casstool("rm", theirs, "3", "-q").status == 0
        assert path.read_bytes() == theirs.read_bytes()
        change_as_another_program(tools, path, "append")
        appended = path.read_bytes()
        with pytest.raises(cassmak.Error) as caught:
            tape.remove(1).save(path, create=create)
        assert str(caught.value) == CHANGED.format(path)
        assert path.read_bytes() == appended


def test_save_names_the_file_read_however_it_is_spelt(tools, tmp_path, monkeypatch):
    path = tmp_path / "a.kst"
    os.symlink("a.kst", tmp_path / "link.kst")
    monkeypatch.chdir(tmp_path)
    for read, saved in (("a.kst", path), (path, "a.kst"), ("link.kst", path), (path, "link.kst")):
        path.write_bytes(SAVED)
        tape = cassmak.Tape.read(read)
        change_as_another_program(tools, path, "set")
        changed = path.read_bytes()
        with pytest.raises(cassmak.Error) as caught:
            tape.save(saved)
        assert str(caught.value) == CHANGED.format(saved)
        assert path.read_bytes() == changed


def test_save_compares_under_the_append_lock(tmp_path):
    # An append that holds the lock while the save waits for it is seen: the
    # file is compared once the save has the lock, not before.
    path = tmp_path / "a.kst"
    path.write_bytes(SAVED)
    tape = cassmak.Tape.read(path).retag(1, name="MINE")
    caught = []

    def save():
        try:
            tape.save(path)
        except cassmak.Error as error:
            caught.append(str(error))

    more = block(b"appended")
    with open(path, "r+b") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        saver = threading.Thread(target=save)
        saver.start()
        time.sleep(0.3)
        assert saver.is_alive()
        held.seek(0, os.SEEK_END)
        held.write(more)
        held.flush()
        fcntl.flock(held, fcntl.LOCK_UN)
    saver.join(10)
    assert not saver.is_alive()
    assert caught == [CHANGED.format(path)]
    assert path.read_bytes() == SAVED + more


def test_save_elsewhere_replaces_whatever_is_there(tools, tmp_path):
    # Only the file a tape was read from is held to what was read: another
    # file, or any file for a tape made in memory, is replaced (or made).
    path, other = tmp_path / "a.kst", tmp_path / "b.kst"
    path.write_bytes(SAVED)
    tape = cassmak.Tape.read(path).remove(2)
    change_as_another_program(tools, path, "append")
    other.write_bytes(SAVED)
    tape.save(other, create=False)
    assert other.read_bytes() == tape.to_bytes()
    tape.save(tmp_path / "new.kst")
    assert (tmp_path / "new.kst").read_bytes() == tape.to_bytes()
    cassmak.Tape(SAVED).save(path, create=False)
    assert path.read_bytes() == SAVED


def test_save_waits_for_the_append_lock_without_holding_others_up(tmp_path):
    path = tmp_path / "a.kst"
    path.write_bytes(b"old")
    new = cassmak.make_headless(b"new")
    with open(path, "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        saver = threading.Thread(target=cassmak.Tape(new).save, args=(path,))
        saver.start()
        # While the save waits for the lock, this thread still runs Python.
        counted, until = 0, time.monotonic() + 0.3
        while time.monotonic() < until:
            counted += 1
        assert counted > 1000
        assert saver.is_alive()
        assert path.read_bytes() == b"old"
        fcntl.flock(held, fcntl.LOCK_UN)
    saver.join(10)
    assert not saver.is_alive()
    assert path.read_bytes() == new


# Entry numbers go to the library as their digits, as typed on casstool's
# command line: one that is no entry number (negative) is refused as casstool
# refuses the word, one past every image's entries (2**64 and up) is named
# as given. Each with Python's words and casstool's.
T, ARE = "t.kst", "; its entries are 1 to 2"
ENTRY_NUMBERS = [
    ("remove(-1)", "t.kst: entry '-1' is not a number or range", None),
    ("remove(2**64 + 2)", "t.kst: no entry 18446744073709551618", None),
    ("move(-1, 1)", "entry '-1' is not a number", None),
    ("move(1, -1)", "position '-1' is not a number", None),
    ("move(-2, -3)", "entry '-2' is not a number", None),
    ("move(2**64 + 2, 1)", "t.kst: no entry 18446744073709551618" + ARE, None),
    ("move(2**63, 1)", "t.kst: no entry 9223372036854775808" + ARE, None),
    ("move(1, 2**64)", "t.kst: no entry 18446744073709551616 to move to" + ARE, None),
    ("move(2**64 - 1, -1)", "position '-1' is not a number", None),
    ("move(0, 1)", "t.kst: no entry 0" + ARE, None),
    ("retag(-1, number=1)", "entry '-1' is not a number", None),
    ("retag(-10**30, number=1)", "entry '-1" + "0" * 30 + "' is not a number", None),
    ("retag(2**64 + 2, number=1)", "t.kst: no entry 18446744073709551618" + ARE, None),
    ("retag(1)", "nothing to set; give name, number, type or address",
     "nothing to set; give --name, --number, --type or --address"),
    ("insert(source, at=-1)", "at '-1' is not a number", "position '-1' is not a number"),
    ("insert(source, at=2**64 + 2)",
     "t.kst: no entry 18446744073709551618 to copy before" + ARE, None),
    ("insert(source, 2**64 + 2, at=-1)", "at '-1' is not a number",
     "position '-1' is not a number"),
]


@pytest.mark.parametrize("call, words, tool_words", ENTRY_NUMBERS)
def test_an_entry_number_is_named_as_given(call, words, tool_words):
    tape = cassmak.Tape(stored_file(b"data") + block(b"more"), "t.kst")
    source = cassmak.Tape(block(b"copied"), "s.kst")
    with pytest.raises(cassmak.BadValueError) as caught:
        eval("tape." + call, {"tape": tape, "source": source})
    error = caught.value
    assert (str(error), error.tool_message, error.status) == (words, tool_words or words, 2)


def test_casstool_names_an_entry_number_alike(tools, tmp_path):
    path = tmp_path / "t.kst"
    path.write_bytes(stored_file(b"data") + block(b"more"))
    tape = cassmak.Tape.read(path)
    for args, call in (((path, "18446744073709551618", "1"), lambda: tape.move(2**64 + 2, 1)),
                       ((path, "1", "99999999999999999999"), lambda: tape.move(1, 10**20 - 1))):
        run = tools.casstool("move", *args)
        with pytest.raises(cassmak.BadValueError) as caught:
            call()
        assert caught.value.tool_message == run.message("casstool")
