"""compare(), threshold(), matches(): the same scores and decisions as `ridgeline match`, with
features or template bytes on either side, and malformed templates refused."""
import itertools

import pytest

import ridgeline


def test_levels():
    assert ridgeline.threshold(4) == 325
    assert ridgeline.DEFAULT_LEVEL == 4
    thresholds = [ridgeline.threshold(level) for level in range(1, 8)]
    assert thresholds == sorted(thresholds)
    assert ridgeline.threshold(0) == ridgeline.threshold(1)
    assert ridgeline.threshold(99) == ridgeline.threshold(7)
    assert ridgeline.matches(325) and not ridgeline.matches(324)
    assert ridgeline.matches(thresholds[0], level=1)
    assert not ridgeline.matches(thresholds[6] - 1, level=7)


def check_against_command(cli, files, pairs):
    features = {name: ridgeline.extract(path) for name, path in files.items()}
    decisions = set()
    for probe, reference in pairs:
        code, out, err = cli.json("match", files[probe], files[reference])
        assert code in (0, 1), err
        score = ridgeline.compare(features[probe], features[reference])
        assert score == out["score"], (probe, reference)
        assert ridgeline.matches(score) == out["match"]
        decisions.add(out["match"])
    return decisions


def test_scores_and_decisions_equal_the_command_on_synthetic_prints(cli, synthetic):
    pairs = [("1_2", "1_1"), ("2_2", "2_1"), ("1_1", "2_1"), ("2_2", "1_2")]
    check_against_command(cli, synthetic, pairs)


def test_scores_and_decisions_equal_the_command_on_real_prints(cli, real_prints):
    files = {p.stem: p for p in sorted(real_prints.glob("10[12]_[123].tif"))}
    if len(files) < 6:
        pytest.skip("fewer real prints than expected")
    pairs = [("101_2", "101_1"), ("101_3", "101_1"), ("102_2", "102_1"), ("102_1", "101_1"),
             ("101_2", "102_3")]
    assert check_against_command(cli, files, pairs) == {True, False}
    for name, path in files.items():
        code, out, err = cli.json("extract", path)
        assert code == 0, err
        assert len(ridgeline.extract(path).minutiae) == len(out["minutiae"]), name


def test_template_bytes_compare_like_the_features(synthetic):
    a = ridgeline.extract(synthetic["1_1"])
    b = ridgeline.extract(synthetic["1_2"])
    score = ridgeline.compare(b, a)
    assert ridgeline.compare(b, a.template()) == score
    assert ridgeline.compare(b, bytearray(a.template())) == score
    assert ridgeline.compare(b, memoryview(a.template())) == score
    stored = ridgeline.read_template(a.template())
    assert ridgeline.compare(b, stored) == score
    assert stored.template() == a.template()
    assert len(stored) > 0
    # A probe given as a template is compared as stored on both sides.
    assert ridgeline.compare(b.template(), a.template()) == ridgeline.compare(
        ridgeline.read_template(b.template()), a
    )
    assert 0 <= ridgeline.compare(a, a) <= 9999
    assert ridgeline.matches(ridgeline.compare(a, a))


def test_malformed_templates_are_refused(synthetic):
    good = ridgeline.extract(synthetic["2_1"]).template()
    bad = [b"", b"\0" * 8, good[: len(good) // 2], good[:-1],
           bytes([good[0] ^ 0xFF]) + good[1:]]
    bad += [bytes(x) for x in itertools.islice(itertools.product([0, 255], repeat=12), 5)]
    features = ridgeline.extract(synthetic["2_2"])
    for template in bad:
        with pytest.raises(ridgeline.TemplateError):
            ridgeline.compare(features, template)
        with pytest.raises(ridgeline.TemplateError):
            ridgeline.read_template(template)
    with pytest.raises(TypeError):
        ridgeline.compare(features, "not bytes")
    with pytest.raises(TypeError):
        ridgeline.compare(None, features)
