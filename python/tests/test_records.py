"""Standard minutiae records: to_record() writes what `ridgeline extract --template` writes, and
a record read back compares as the template it came from (exactly, with the engine's item)."""
import pytest

import ridgeline

FORMATS = ["iso19794-2:2005", "iso19794-2:2011", "ansi378-2004", "ansi378-2009"]


def test_records_equal_the_command_and_round_trip(cli, synthetic, tmp_path):
    reference = ridgeline.extract(synthetic["1_1"])
    probe = ridgeline.extract(synthetic["1_2"])
    impostor = ridgeline.extract(synthetic["2_2"])
    for fmt in FORMATS:
        record = reference.to_record(fmt, finger="right-index")
        out = tmp_path / "r.fmr"
        code, _, err = cli("extract", synthetic["1_1"], "--template", fmt, "-o", out, "--finger",
                           "right-index")
        assert code == 0, err
        assert record == out.read_bytes(), fmt

        read = ridgeline.read_record(record)
        assert read.template() == reference.template(), fmt
        for p in (probe, impostor):
            assert ridgeline.compare(p, read) == ridgeline.compare(p, reference.template()), fmt
        # Without the engine's item the minutiae alone still tell the fingers apart.
        bare = ridgeline.read_record(reference.to_record(fmt, engine_item=False))
        assert 0 < len(bare) <= len(reference)
        genuine = ridgeline.compare(probe, bare)
        assert genuine > ridgeline.compare(impostor, bare), fmt
        assert len(bare.get_minutiae("engine")) == len(bare)

    capped = reference.to_record("iso19794-2:2005", engine_item=False, max_bytes=200)
    assert len(capped) <= 200


def test_bad_records_and_requests_are_refused(synthetic):
    features = ridgeline.extract(synthetic["2_1"])
    good = features.to_record("ansi378-2009")
    for bad in [b"", b"FMR\0", good[:20], good[:-3], b"XYZ\0" + good[4:]]:
        with pytest.raises(ridgeline.TemplateError):
            ridgeline.read_record(bad)
    with pytest.raises(ridgeline.TemplateError, match="view"):
        ridgeline.read_record(good, view=1)
    with pytest.raises(ValueError, match="unknown record format"):
        features.to_record("iso19794-2")
    with pytest.raises(ValueError, match="unknown finger"):
        features.to_record("ansi378-2009", finger="thumb")
    with pytest.raises(ValueError, match="no image"):
        ridgeline.read_template(features.template()).to_record("ansi378-2009")
    with pytest.raises(ridgeline.TemplateError):
        features.to_record("iso19794-2:2005", max_bytes=10)
