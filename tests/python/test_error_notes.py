"""A reader's exception keeps its message and carries a note naming the file and line."""

import traceback

import pytest

import korvane
from korvane import InternalError

MC_HEAD = "p mc 3 2 2 0 0 0 0 0.0 1\n"


@pytest.mark.parametrize("reader, text, cls, message, where", [
    (korvane.load_min_instance, "p min 3 2\nn 1 4\na 1 2 0 9 2\na 1 x 0 9 2\n", OSError,
     "invalid digit found in string", "line 4"),
    (korvane.load_min_instance, "c short arc line\np min 3 2\n\na 1 2 0 9\n", InternalError,
     "index out of bounds: the len is 5 but the index is 5", "line 4"),
    (korvane.load_min_instance, "p min 3 2\nc caf\xe9\n", OSError,
     "stream did not contain valid UTF-8", "line 2"),
    (korvane.load_multi_commodity_instance, MC_HEAD + "a 1 2 0 9 4 1\na 1 2 0 9 4 9999999999999999999\n",
     RuntimeError, "number too large to fit in target type", "line 3"),
    (korvane.load_multi_commodity_instance, MC_HEAD + "n 1\n", InternalError,
     "index out of bounds: the len is 2 but the index is 2", "line 2"),
    # The list check after the last line: the first arc was read with K = 2, the final K is 3.
    (korvane.load_multi_commodity_instance, MC_HEAD + "a 1 2 0 9 4 1\n" + MC_HEAD.replace(" 2 0 0", " 3 0 0"),
     InternalError, "index out of bounds: the len is 2 but the index is 2", "arc 1"),
])
def test_note_names_file_and_line(tmp_path, reader, text, cls, message, where):
    path = tmp_path / "net.min"
    path.write_bytes(text.encode("latin-1"))
    with pytest.raises(BaseException) as exc:
        reader(str(path))
    assert (type(exc.value), exc.value.args, str(exc.value)) == (cls, (message,), message)
    assert exc.value.__notes__ == [f"{where} of {path}"]
    assert traceback.format_exception(exc.value)[-1] == f"{where} of {path}\n"


def test_no_note_when_no_line_was_read(tmp_path):
    with pytest.raises(OSError) as exc:
        korvane.load_min_instance(str(tmp_path / "absent.min"))
    assert not hasattr(exc.value, "__notes__")
