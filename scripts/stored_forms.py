"""Writes the serialized forms kept in tests/data/stored_forms: every form of
tests/python/conftest.py's STORED_FORMS for each of its STORED_SHAPES, as the module
installed in .venv writes them. test_persistence.py checks that the current build reads
them back to the same bitmaps and writes the same bytes again, so they are written once
and only rewritten on purpose: existing files are kept unless --overwrite is given.

    .venv/bin/python scripts/stored_forms.py [--overwrite]
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))

from conftest import SHAPES, STORED_FORMS, STORED_SHAPES, stored_form_path  # noqa: E402


def main():
    overwrite = "--overwrite" in sys.argv[1:]
    for shape in STORED_SHAPES:
        for form, (write, _) in STORED_FORMS.items():
            path = stored_form_path(shape, form)
            if path.exists() and not overwrite:
                continue
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(write(SHAPES[shape]()))
            print(f"wrote {path}")


if __name__ == "__main__":
    main()
