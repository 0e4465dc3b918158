"""The module and the interpreter's shared machinery: no GIL asked for, and reads that leave the
cyclic collector's switch alone while every container they return is still collectable."""

import ctypes
import gc
import sys
import sysconfig
import threading
import weakref

import pytest
from conftest import DATA_FIELDS, PARSED_FIELDS, run_python, saved_and_read

import korvane
import korvane.korvane as native

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
PY_MOD_GIL = 4  # the slot number in Python 3.13's moduleobject.h
SAMPLE = "p min 4 4\nn 1 4\nn 3 -4\na 1 2 0 9 2\na 1 2 1 8 3\na 2 3 0 7 -1\na 3 4 0 5 1\n"
READS = {
    korvane.NetworkInstance: ["nodes", "edges", "supplies", "arcs", "capacities", "weights",
                              "arc_indices", "topology"],
    korvane.MultiCommodityData: DATA_FIELDS,
    korvane.ParsedMulticommodityInstance: [*PARSED_FIELDS, "topology"],
}


def module_slots(module):
    """(slot, value) pairs of a multi-phase module's definition, read through the C API."""
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.restype, get_def.argtypes = ctypes.c_void_p, [ctypes.py_object]
    definition = get_def(module)
    # PyModuleDef: PyModuleDef_Base (object head, m_init, m_index, m_copy), then m_name,
    # m_doc, m_size, m_methods and m_slots, all pointer-sized.
    slots = ctypes.c_void_p.from_address(definition + 9 * ctypes.sizeof(ctypes.c_void_p)).value

    class Slot(ctypes.Structure):
        _fields_ = [("slot", ctypes.c_int), ("value", ctypes.c_void_p)]
    found, i = [], 0
    while (entry := Slot.from_address(slots + i * ctypes.sizeof(Slot))).slot != 0:
        found.append((entry.slot, entry.value))
        i += 1
    return found


def test_the_module_needs_no_gil():
    if FREE_THREADED:
        # Importing a module that does not declare it switches the GIL back on.
        done = run_python("import sys, korvane; print(sys._is_gil_enabled())", PYTHON_GIL="")
        assert done.stdout.split() == ["False"], done.stderr
    else:
        assert (PY_MOD_GIL, 1) in module_slots(native)  # Py_MOD_GIL_NOT_USED


@pytest.fixture
def records(net, tmp_path):
    inst = net(SAMPLE)
    data = korvane.generate_multi_commodity_data(inst, 3, 2, randomize_caps=True)
    return [inst, data, saved_and_read(tmp_path / "x.mc", inst, data)]


def read_everything(records):
    values = []
    for record in records:
        for name in READS[type(record)]:
            value = getattr(record, name)
            values.append(value() if callable(value) else value)
    return values


def containers(value):
    """Every list, dict and tuple inside value, value included."""
    found, todo = [], [value]
    while todo:
        item = todo.pop()
        if isinstance(item, (list, tuple)):
            found.append(item)
            todo.extend(item)
        elif isinstance(item, dict):
            found.append(item)
            todo.extend(item.keys())
            todo.extend(item.values())
    return found


def test_every_container_read_is_tracked_except_tuples_of_numbers(records):
    for value in read_everything(records):
        for item in containers(value):
            inside = [*item.keys(), *item.values()] if isinstance(item, dict) else item
            holds_references = any(isinstance(v, (list, dict)) or
                                   (isinstance(v, tuple) and gc.is_tracked(v)) for v in inside)
            if isinstance(item, list) or (isinstance(item, dict) and holds_references):
                assert gc.is_tracked(item), item
            elif isinstance(item, tuple):
                assert gc.is_tracked(item) == holds_references, item


@pytest.mark.parametrize("read", [
    lambda inst, data: inst.arcs,
    lambda inst, data: data.capacities_by_arc[1],
    lambda inst, data: korvane.get_adjacency_mapping(inst.nodes, inst.topology())[1][1],
])
def test_a_cycle_through_a_read_value_is_collected(records, read):
    class Box:
        pass
    box = Box()
    value = read(*records[:2])
    value.append(box)
    box.value = value
    gone = weakref.ref(box)
    del box, value
    gc.collect()
    assert gone() is None


@pytest.mark.parametrize("enabled", [False, True])
def test_reads_leave_the_collector_switch_as_the_user_set_it(records, enabled):
    was = gc.isenabled()
    try:
        (gc.enable if enabled else gc.disable)()
        read_everything(records)
        assert gc.isenabled() is enabled
    finally:
        (gc.enable if was else gc.disable)()


def test_concurrent_reads_never_turn_on_a_collector_the_user_turned_off(records):
    was, stop = gc.isenabled(), threading.Event()

    def reader():
        while not stop.is_set():
            read_everything(records)

    threads = [threading.Thread(target=reader) for _ in range(4)]
    try:
        for thread in threads:
            thread.start()
        for _ in range(200):
            gc.enable()
            gc.disable()
        stop.set()
        for thread in threads:
            thread.join()
        assert not gc.isenabled()
    finally:
        stop.set()
        (gc.enable if was else gc.disable)()


@pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded interpreter reads in parallel")
def test_free_threaded_reads_leave_the_gil_off(records):
    read_everything(records)
    assert not sys._is_gil_enabled()
