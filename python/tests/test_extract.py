"""extract(): every input kind gives the features the command finds, coordinates land in the
caller's image, and bad input raises the module's exceptions instead of crashing."""
import pathlib

import numpy as np
import pytest

import ridgeline
from conftest import pgm_bytes, read_png_grey


def test_path_bytes_and_array_give_the_same_features(synthetic):
    path = synthetic["1_1"]
    from_path = ridgeline.extract(path)
    from_str = ridgeline.extract(str(path))
    from_bytes = ridgeline.extract(path.read_bytes())
    from_array = ridgeline.extract(read_png_grey(path))
    assert len(from_path) > 0
    for other in (from_str, from_bytes, from_array):
        assert np.array_equal(other.minutiae, from_path.minutiae)
        assert np.array_equal(other.singular_points, from_path.singular_points)
        assert np.array_equal(other.block_map, from_path.block_map)
        assert other.quality == from_path.quality
        assert other.template() == from_path.template()


def test_minutia_count_and_quality_equal_the_command(cli, synthetic):
    for path in synthetic.values():
        code, out, err = cli.json("extract", path)
        assert code == 0, err
        features = ridgeline.extract(path)
        assert len(features.minutiae) == len(out["minutiae"])
        assert features.quality == out["quality"]


def test_engine_frame_equals_the_command_and_input_frame_lies_in_the_image(cli, synthetic):
    path = synthetic["2_1"]
    code, out, _ = cli.json("extract", "--frame", "engine", path)
    if code != 0:  # a command without --frame reports the engine frame by default
        code, out, _ = cli.json("extract", path)
    features = ridgeline.extract(path)
    engine = features.get_minutiae("engine")
    # The command's engine frame may count from the working image's corner rather than from
    # the template crop: the same points, shifted by one constant offset.
    shifts = {(m["x"] - int(x), m["y"] - int(y))
              for m, x, y in zip(out["minutiae"], engine["x"], engine["y"])}
    assert len(out["minutiae"]) == len(engine) and len(shifts) == 1
    (dx, dy), = shifts
    assert dx >= 0 and dy >= 0
    image = read_png_grey(path)
    inside = features.minutiae
    assert (inside["x"] >= 0).all() and (inside["x"] < image.shape[1]).all()
    assert (inside["y"] >= 0).all() and (inside["y"] < image.shape[0]).all()
    assert ((inside["angle"] >= 0) & (inside["angle"] < 360)).all()
    assert set(np.unique(inside["type"])) <= {ridgeline.ENDING, ridgeline.BIFURCATION}
    # Input angles are the engine's turned by half a turn.
    assert np.array_equal(inside["angle"], (engine["angle"].astype(int) + 180) % 360)


def test_trimmed_margins_shift_input_coordinates_by_the_margin(synthetic):
    image = read_png_grey(synthetic["1_2"])
    background = int(np.bincount(image.ravel()).argmax())
    # Blank background all round and images of one size (a blank line is judged by its share of
    # dark pixels), so that both trims keep the same box around the print.
    framed = np.pad(image, ((40, 40 + 70), (40, 40 + 50)), constant_values=background)
    shifted = np.pad(image, ((40 + 70, 40), (40 + 50, 40)), constant_values=background)
    plain = ridgeline.extract(framed)
    moved = ridgeline.extract(shifted)
    assert len(plain) > 0
    assert np.array_equal(moved.get_minutiae("engine"), plain.get_minutiae("engine"))
    assert np.array_equal(moved.minutiae["x"], plain.minutiae["x"] + 50)
    assert np.array_equal(moved.minutiae["y"], plain.minutiae["y"] + 70)
    untrimmed = ridgeline.extract(shifted, trim=False)
    assert not np.array_equal(untrimmed.get_minutiae("engine"), moved.get_minutiae("engine"))


def test_resolution_maps_back_to_the_callers_pixels(synthetic):
    image = read_png_grey(synthetic["2_2"])
    # The same print at twice the resolution: every pixel doubled.
    doubled = np.repeat(np.repeat(image, 2, axis=0), 2, axis=1)
    at_500 = ridgeline.extract(image)
    at_1000 = ridgeline.extract(doubled, ppi=1000)
    assert abs(len(at_1000) - len(at_500)) <= max(5, len(at_500) // 4)
    assert (at_1000.minutiae["x"] < doubled.shape[1]).all()
    assert at_1000.minutiae["x"].max() > image.shape[1]  # the caller's pixels, not 500-ppi ones


def test_non_contiguous_array_is_read_by_its_strides(synthetic):
    image = read_png_grey(synthetic["1_1"])
    wide = np.zeros((image.shape[0], image.shape[1] * 2), dtype=np.uint8)
    wide[:, ::2] = image
    assert np.array_equal(
        ridgeline.extract(wide[:, ::2]).minutiae, ridgeline.extract(image).minutiae
    )


def test_a_pgm_file_of_the_array_reads_like_the_array(synthetic):
    image = read_png_grey(synthetic["2_1"])
    assert ridgeline.extract(pgm_bytes(image)).template() == ridgeline.extract(image).template()


class TestBadInput:
    def test_wrong_types(self):
        with pytest.raises(TypeError):
            ridgeline.extract(np.zeros((100, 100), dtype=np.float32))
        with pytest.raises(TypeError):
            ridgeline.extract(np.zeros((100, 100, 3), dtype=np.uint8))
        with pytest.raises(TypeError):
            ridgeline.extract(12)
        with pytest.raises(TypeError):
            ridgeline.extract(None)

    def test_unreadable_images(self, tmp_path):
        for image in (b"", b"not an image at all", b"\x89PNG\r\n\x1a\n" + b"\0" * 40):
            with pytest.raises(ridgeline.ImageError) as raised:
                ridgeline.extract(image)
            assert "<bytes>" in str(raised.value)
        missing = tmp_path / "missing.png"
        with pytest.raises(ridgeline.ImageError, match="missing.png"):
            ridgeline.extract(missing)
        with pytest.raises(ridgeline.ImageError):
            ridgeline.extract(tmp_path)  # a folder
        truncated = tmp_path / "truncated.pgm"
        truncated.write_bytes(b"P5\n300 300\n255\n" + b"\x80" * 100)
        with pytest.raises(ridgeline.ImageError, match="truncated.pgm"):
            ridgeline.extract(truncated)

    def test_sizes_the_engine_does_not_take(self):
        for shape in ((10, 10), (0, 0), (200, 5), (960, 200), (5000, 40)):
            with pytest.raises(ridgeline.ImageError):
                ridgeline.extract(np.zeros(shape, dtype=np.uint8), trim=False)

    def test_hostile_resolution_is_refused_before_any_resampling(self):
        with pytest.raises(ValueError, match="ppi"):
            ridgeline.extract(np.zeros((100, 100), dtype=np.uint8), ppi=20)
        with pytest.raises(ValueError, match="ppi"):
            ridgeline.extract(np.zeros((100, 100), dtype=np.uint8), ppi=100000)
        # 3000 pixels at 100 ppi would be 15000 a side at 500 ppi.
        with pytest.raises(ridgeline.ImageError):
            ridgeline.extract(np.zeros((3000, 3000), dtype=np.uint8), ppi=100)

    def test_refused_captures_carry_their_reason(self):
        flat = np.full((300, 300), 128, dtype=np.uint8)
        with pytest.raises(ridgeline.CaptureError) as raised:
            ridgeline.extract(flat, trim=False)
        assert raised.value.reason == "bad capture"
        assert "bad capture" in str(raised.value)
        noise = np.random.default_rng(3).integers(0, 256, (300, 300), dtype=np.uint8)
        try:
            ridgeline.extract(noise)
        except ridgeline.CaptureError as error:
            assert error.reason in ("bad capture", "too few minutiae")
        assert issubclass(ridgeline.CaptureError, ridgeline.Error)
        assert issubclass(ridgeline.ImageError, ValueError)

    def test_damaged_files_raise_or_extract_never_crash(self, synthetic):
        data = synthetic["1_1"].read_bytes()
        rng = np.random.default_rng(5)
        damaged = [data[:n] for n in range(0, len(data), len(data) // 12)]
        for _ in range(16):
            copy = bytearray(data)
            for position in rng.integers(0, len(copy), 6):
                copy[position] ^= 0xFF
            damaged.append(bytes(copy))
        for image in damaged:
            try:
                ridgeline.extract(image)
            except (ridgeline.ImageError, ridgeline.CaptureError):
                pass

    def test_frame_names(self, synthetic):
        features = ridgeline.extract(synthetic["1_1"])
        with pytest.raises(ValueError):
            features.get_minutiae("working")


def test_help_reads_well():
    assert "numpy.uint8" in ridgeline.extract.__doc__
    assert "GIL" in ridgeline.compare.__doc__
    stub = pathlib.Path(ridgeline.__file__).with_name("ridgeline.pyi")
    assert stub.is_file()
