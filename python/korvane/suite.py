"""Instance suites: a TOML manifest names networks and a grid of generation settings; the
runner makes every instance of the grid through any concurrent.futures.Executor, records
each file's size and SHA-256 in suite.json, resumes an interrupted run and verifies a
finished one by regenerating it."""

# The suite machinery lives in private modules, one concern each; this module is its
# public face, with every name it always had.
from ._version import __version__ as __version__
from ._suite_params import (
    COMPRESSION_CODES as COMPRESSION_CODES,
    FORMATS as FORMATS,
    formats_module as formats_module,
    generate as generate,
    GENERATE_DEFAULTS as GENERATE_DEFAULTS,
    InstanceError as InstanceError,
    ManifestError as ManifestError,
    MAX_COMMODITIES as MAX_COMMODITIES,
    MAX_INSTANCES as MAX_INSTANCES,
    METHODS as METHODS,
    MissingFeature as MissingFeature,
    MNETGEN_PARTS as MNETGEN_PARTS,
    Params as Params,
    solve_module as solve_module,
    SUITE_FILE as SUITE_FILE,
    TMP_MARK as TMP_MARK,
    TMP_NAME as TMP_NAME,
    _NATIVE as _NATIVE,
    _reason as _reason,
    _submodule as _submodule,
)
from ._suite_files import (
    describe_files as describe_files,
    output_files as output_files,
    remove_stale_temporaries as remove_stale_temporaries,
    sha256_file as sha256_file,
    stream_instance as stream_instance,
    temporary_sibling as temporary_sibling,
    write_instance as write_instance,
    _process_alive as _process_alive,
)
from ._suite_manifest import (
    BOOL_KEYS as BOOL_KEYS,
    FLOAT_KEYS as FLOAT_KEYS,
    GRID_KEYS as GRID_KEYS,
    Job as Job,
    load_manifest as load_manifest,
    parse_method as parse_method,
    pointless_setting as pointless_setting,
    Suite as Suite,
    TOP_KEYS as TOP_KEYS,
    _as_list as _as_list,
    _check_int as _check_int,
    _grid_values as _grid_values,
    _instance_name as _instance_name,
    _network_stem as _network_stem,
)
from ._suite_make import (
    load_network as load_network,
    make_instance as make_instance,
    regenerate_checksums as regenerate_checksums,
    _build as _build,
    _loaded as _loaded,
    _solve_status as _solve_status,
)
from ._suite_run import (
    network_checksums as network_checksums,
    Progress as Progress,
    read_suite_file as read_suite_file,
    REMADE_BECAUSE as REMADE_BECAUSE,
    run_suite as run_suite,
    RunSummary as RunSummary,
    write_json_atomic as write_json_atomic,
    _document as _document,
    _entry as _entry,
    _entry_seed as _entry_seed,
    _params_json as _params_json,
    _plain_name as _plain_name,
    _run_windowed as _run_windowed,
    _stale_reason as _stale_reason,
)
from ._suite_verify import (
    Mismatch as Mismatch,
    verify_suite as verify_suite,
    _regenerated_differs as _regenerated_differs,
)
from ._suite_executors import (
    DASK_TIMEOUT as DASK_TIMEOUT,
    default_jobs as default_jobs,
    ExecutorError as ExecutorError,
    open_executor as open_executor,
    SerialExecutor as SerialExecutor,
    _init_worker as _init_worker,
)
