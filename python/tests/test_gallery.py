"""Gallery: enroll, verify, identify, list and delete give the command's answers on the same
gallery (the command's JSON objects, field for field, and its refusal sentences), keys work as
the command's do, and bad arguments are refused before anything is stored."""
import os
import shutil
import stat
from concurrent.futures import ThreadPoolExecutor

import pytest

import ridgeline
from conftest import read_png_grey


def command_answer(cli, *args):
    code, out, err = cli.json(*args)
    assert out is not None, err
    out.pop("command")
    out.pop("exit_code")
    return code, out


@pytest.fixture()
def gallery(tmp_path, synthetic):
    """A new gallery holding alice's right-index (1_1) and bob's right-index (2_1)."""
    path = tmp_path / "g.db"
    g = ridgeline.Gallery(path)
    first = g.enroll("alice", synthetic["1_1"], finger="right-index")
    assert first["enrolled"] and first["impressions"] == 1
    assert first["duplicate_check"]["closest"] is None
    second = g.enroll("bob", [synthetic["2_1"]], finger="right-index")
    assert second["duplicate_check"]["closest"] == {"subject": "alice", "finger": "right-index"}
    assert second["duplicate_check"]["score"] < ridgeline.threshold(4)
    return g, path


def test_answers_equal_the_command_on_the_same_gallery(cli, synthetic, gallery):
    g, path = gallery
    for name, image, level in [("alice", "1_2", 4), ("bob", "1_2", 4), ("alice", "1_2", 6),
                               ("bob", "2_2", 2)]:
        mine = g.verify(name, synthetic[image], finger="right-index", level=level)
        code, theirs = command_answer(cli, "verify", "--db", path, "--level", level, "--subject",
                                      name, "--finger", "right-index", synthetic[image])
        assert mine == theirs, (name, image, level)
        assert code == (0 if mine["match"] else 1)
    assert g.verify("alice", synthetic["1_2"], finger="right-index")["match"]
    assert not g.verify("bob", synthetic["1_2"], finger="right-index")["match"]

    for image, top, level in [("1_2", None, 4), ("2_2", 2, 4), ("2_2", None, 5), ("1_2", 1, 7)]:
        mine = g.identify(synthetic[image], top=top, level=level)
        args = ["identify", "--db", path, "--level", level, synthetic[image]]
        code, theirs = command_answer(cli, *args, *(["--top", top] if top else []))
        assert mine == theirs, (image, top, level)
    best = g.identify(synthetic["2_2"], top=2)
    assert best["identified"] and best["subject"] == "bob"
    assert [c["rank"] for c in best["candidates"]] == [1, 2]
    assert best["candidates"][0]["score"] == best["score"]

    code, theirs = command_answer(cli, "list", "--db", path)
    assert g.list() == theirs["records"]
    assert [(r["subject"], r["finger"]) for r in g.list()] == [("alice", "right-index"),
                                                               ("bob", "right-index")]


def test_refusals_carry_the_command_sentence_and_store_nothing(cli, synthetic, gallery):
    g, path = gallery
    # Another name for alice's finger: the adapter's duplicate check refuses it.
    with pytest.raises(ridgeline.GalleryError) as refused:
        g.enroll("carol", synthetic["1_2"], finger="left-index")
    assert refused.value.reason == "duplicate"
    check = refused.value.result["duplicate_check"]
    assert check["duplicate_of"] == {"subject": "alice", "finger": "right-index"}
    assert check["score"] >= check["threshold"]
    code, _, err = cli("enroll", "--db", path, "--subject", "carol", "--finger", "left-index",
                       synthetic["1_2"])
    assert code == 1 and err.splitlines()[-1] == "ridgeline: " + str(refused.value)

    with pytest.raises(ridgeline.GalleryError) as refused:
        g.enroll("alice", synthetic["1_2"], finger="right-index")
    assert refused.value.reason == "already_enrolled"
    with pytest.raises(ridgeline.GalleryError) as refused:
        g.enroll("dave", synthetic["1_1"], synthetic["2_2"], finger="left-thumb")
    assert refused.value.reason == "impressions_disagree"
    assert "nothing was stored" in str(refused.value)
    assert len(g.list()) == 2

    with pytest.raises(ridgeline.GalleryError) as refused:
        g.verify("carol", synthetic["1_2"], finger="left-index")
    assert refused.value.reason == "not_enrolled"
    assert not refused.value.result["match"]

    assert g.delete("bob", "left-thumb") == 0
    assert g.delete("bob") == 1
    assert g.delete("bob") == 0
    assert [r["subject"] for r in g.list()] == ["alice"]
    unknown = g.identify(synthetic["2_2"])
    assert not unknown["identified"] and unknown["gallery_size"] == 1
    # Enrolled by the module, the finger is the command's to verify, and back.
    code, _, err = cli("enroll", "--db", path, "--subject", "bob", "--finger", "left-thumb",
                       synthetic["2_1"], synthetic["2_2"])
    assert code == 0, err
    assert g.verify("bob", synthetic["2_2"], finger="left-thumb")["match"]
    assert g.list()[-1]["impressions"] == 2


def test_keys_as_the_command_keeps_them(tmp_path, synthetic, gallery):
    g, path = gallery
    key = path.with_name(path.name + ".key")
    assert key.is_file(), "a new gallery is encrypted with its key beside it"
    for private in (path, key):
        assert stat.S_IMODE(os.stat(private).st_mode) & 0o077 == 0, private

    other = tmp_path / "other.db"
    ridgeline.Gallery(other).enroll("erin", synthetic["2_1"], finger="left-index")
    with pytest.raises(ridgeline.GalleryError):
        ridgeline.Gallery(path, key_file=other.with_name("other.db.key")).list()
    with pytest.raises(ridgeline.GalleryError):
        ridgeline.Gallery(path, key_file=tmp_path / "missing.key").identify(synthetic["1_2"])
    # Moved, the key is named explicitly.
    moved = tmp_path / "keys" / "g.key"
    moved.parent.mkdir()
    shutil.move(key, moved)
    with pytest.raises(ridgeline.GalleryError):
        g.list()
    assert len(ridgeline.Gallery(path, key_file=moved).list()) == 2

    plain = tmp_path / "plain.db"
    ridgeline.Gallery(plain, plaintext=True).enroll("fay", synthetic["1_1"], finger="left-ring")
    assert not plain.with_name("plain.db.key").exists()


def test_bad_arguments_and_missing_galleries(tmp_path, synthetic, gallery):
    g, _ = gallery
    image = synthetic["1_2"]
    with pytest.raises(ValueError, match="unknown finger 'index'"):
        g.enroll("zoe", image, finger="index")
    with pytest.raises(ValueError):
        g.enroll("", image, finger="left-index")
    with pytest.raises(ValueError, match="at least one image"):
        g.enroll("zoe", finger="left-index")
    with pytest.raises(TypeError):
        g.enroll("zoe", image)  # the finger is required
    with pytest.raises(ValueError, match="level"):
        g.verify("alice", image, finger="right-index", level=8)
    with pytest.raises(ValueError, match="top"):
        g.identify(image, top=0)
    with pytest.raises(ridgeline.ImageError):
        g.identify(tmp_path / "no-such.png")
    with pytest.raises(ridgeline.ImageError):
        g.enroll("zoe", b"not an image", finger="left-index")
    assert len(g.list()) == 2

    missing = ridgeline.Gallery(tmp_path / "none.db")
    for call in (missing.list, lambda: missing.identify(image),
                 lambda: missing.verify("alice", image, finger="right-index")):
        with pytest.raises(ridgeline.GalleryError, match="gallery error"):
            call()
    assert not (tmp_path / "none.db").exists()


def test_arrays_and_threads_give_the_answers_of_files(synthetic, gallery):
    g, _ = gallery
    files = [synthetic[name] for name in ("1_2", "2_2")] * 3
    serial = [g.identify(f, top=2) for f in files]
    with ThreadPoolExecutor(max_workers=3) as pool:
        assert list(pool.map(lambda f: g.identify(f, top=2), files)) == serial
    from_array = g.identify(read_png_grey(synthetic["1_2"]), top=2)
    assert from_array["candidates"] == serial[0]["candidates"]
    assert from_array["image"] == "<array>"


def test_real_prints_decide_as_the_command(cli, real_prints, tmp_path):
    files = {p.stem: p for p in sorted(real_prints.glob("10[123]_[12].tif"))}
    if len(files) < 6:
        pytest.skip("fewer real prints than expected")
    path = tmp_path / "fvc.db"
    g = ridgeline.Gallery(path)
    for finger in ("101", "102", "103"):
        assert g.enroll("subject " + finger, files[finger + "_1"], finger="left-index")["enrolled"]
    decisions = set()
    for finger in ("101", "102", "103"):
        probe = files[finger + "_2"]
        mine = g.identify(probe, top=3)
        _, theirs = command_answer(cli, "identify", "--db", path, "--top", 3, probe)
        assert mine == theirs
        mine = g.verify("subject 101", probe, finger="left-index")
        _, theirs = command_answer(cli, "verify", "--db", path, "--subject", "subject 101",
                                   "--finger", "left-index", probe)
        assert mine == theirs
        decisions.add(mine["match"])
    assert decisions == {True, False}
