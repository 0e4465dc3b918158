"""What the Python module writes for the calls consumer_test.cpp makes.

    python_reference.py NETWORK.min JLF_PSP_BASE OUT_DIR

Writes OUT_DIR/py.mcf, OUT_DIR/py.{nod,arc,sup,mut}, OUT_DIR/py_jlf.*,
OUT_DIR/py_netgen.min, OUT_DIR/py_mnetgen.* (the generators),
OUT_DIR/py_example.mcf (the example program's settings), OUT_DIR/py_errors.tsv
and OUT_DIR/py_version.txt, to be compared byte for byte with the C++
program's files. Run it after consumer_test, which writes the malformed inputs.
"""
import os
import sys

import importlib

import korvane
import korvane.formats as formats
import korvane.generators as generators

# consumer_test.cpp's netgen_reference(): classic problem 101 at a tenth of its size.
NETGEN = dict(seed=13502460, problem=101, nodes=500, sources=250, sinks=250, arcs=2500,
              min_cost=1, max_cost=100, supply=25000, max_cost_percent=0,
              capacitated_percent=100, min_capacity=1, max_capacity=1000)
MNETGEN = importlib.import_module("korvane.generators.mnetgen").family_parameters("64-4-1")


def main() -> None:
    network_path, jlf_base, out = sys.argv[1:4]
    at = lambda name: os.path.join(out, name)  # noqa: E731
    with open(at("py_version.txt"), "w") as version:
        version.write(korvane.__version__ + "\n")
    network = korvane.load_min_instance(network_path)
    data = korvane.generate_multi_commodity_data(
        network, 4, 0, randomize_caps=True, randomize_costs=True, cap_zero=True,
        cap_zero_param=0.25, seed=7)
    korvane.save_multi_commodity_instance(at("py.mcf"), network, data)
    formats.write_mnetgen(at("py"), network, data)
    formats.write_mnetgen(at("py_jlf"), formats.read_jlf(jlf_base, "psp"))
    example = korvane.generate_multi_commodity_data(network, 4, 2, randomize_caps=True, seed=42)
    korvane.save_multi_commodity_instance(at("py_example.mcf"), network, example)
    generators.write_netgen(at("py_netgen.min"), **NETGEN)
    generators.write_mnetgen_instance(at("py_mnetgen"), **MNETGEN)
    generators.write_mnetgen_instance(at("py_mnetgen_zst"), compress="zstd", **MNETGEN)

    calls = [
        lambda: korvane.load_min_instance(at("missing.min")),
        lambda: korvane.load_min_instance(at("bad.min")),
        lambda: korvane.load_multi_commodity_instance(at("missing.mcf")),
        lambda: korvane.load_multi_commodity_instance(at("bad.mcf")),
        lambda: formats.read_mnetgen(at("bad_mnetgen")),
        lambda: korvane.generate_multi_commodity_data(network, 2, 7),
        lambda: korvane.generate_multi_commodity_data(network, 2**62, 1),
        lambda: korvane.save_multi_commodity_instance(at("no-such-folder/x.mcf"), network, data),
        lambda: generators.write_netgen(at("py_refused.min"), **{**NETGEN, "sinks": 251}),
        lambda: generators.netgen(**NETGEN, max_nodes=0),
        lambda: generators.write_mnetgen_instance(at("py_refused"), **{**MNETGEN, "num_nodes": 20}),
    ]
    with open(at("py_errors.tsv"), "w") as errors:
        for call in calls:
            try:
                call()
                errors.write("ok\t\t\n")
            except BaseException as e:  # InternalError derives from BaseException
                notes = getattr(e, "__notes__", [""])
                errors.write(f"{type(e).__name__}\t{e}\t{notes[0]}\n")


if __name__ == "__main__":
    main()
