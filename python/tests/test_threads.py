"""A thread pool gets the serial results: each call borrows its own engine while the GIL is
released, so concurrent extractions and comparisons share no state."""
from concurrent.futures import ThreadPoolExecutor

import ridgeline
from conftest import read_png_grey


def test_thread_pool_gives_the_serial_results(synthetic):
    images = [read_png_grey(path) for path in synthetic.values()] * 3
    serial = [ridgeline.extract(image).template() for image in images]
    with ThreadPoolExecutor(max_workers=4) as pool:
        features = list(pool.map(ridgeline.extract, images))
        assert [f.template() for f in features] == serial
        reference = features[0]
        scores = list(pool.map(lambda f: ridgeline.compare(f, reference), features * 2))
    assert scores == [ridgeline.compare(f, reference) for f in features * 2]
