# The extension modules' sources and the compiler flags of every build of
# them, stated once. CMake (cmake/QirModule.cmake), toolbox/make.m and the
# GNU Octave package's Makefile all read this file. It holds only
# "NAME = words" lines (a line ending in a backslash goes on in the next),
# so that make includes it as it stands. Paths are
# relative to the source tree's root; a module's include path is the folders
# of its sources.

# The modules, each compiled from the groups of sources named after it. A
# module's entry point (mexFunction) is <module>.cpp. Help for a module
# goes beside it from toolbox/help/<module>.m, never onto the path alone,
# so that a module and its help cannot shadow each other. A private module
# is built into the toolbox's private folder, for its m-files alone.
QIR_MODULES = qir_train qir_perf qir_gateway
QIR_PRIVATE_MODULES = qir_gateway
QIR_MODULE_qir_train = train fast core
QIR_MODULE_qir_perf = perf fast core
QIR_MODULE_qir_gateway = library

QIR_GROUP_train = \
  train/qir_train.cpp \
  train/train_arguments.cpp \
  train/run_training.cpp \
  train/search.cpp \
  train/node_list.cpp \
  train/node_learn.cpp \
  train/training_report.cpp
QIR_GROUP_perf = \
  perf/qir_perf.cpp \
  perf/perf_arguments.cpp \
  perf/run_performance.cpp \
  perf/node_competition.cpp \
  perf/pattern_chunks.cpp \
  perf/performance_report.cpp
# The toolbox's gateway into the library: its flows (fit, continue,
# predict, cross-validation, search) over the interpreter's own qir_train
# and qir_perf, model files, pictures' shapes, data warnings, with no node
# core; the version stamp marks it as the other modules are marked.
QIR_GROUP_library = \
  toolbox/gateway/qir_gateway.cpp \
  toolbox/gateway/interpreter_modules.cpp \
  core/version_stamp.cpp \
  lib/base/number_text.cpp \
  lib/data/csv.cpp \
  lib/data/data_warnings.cpp \
  lib/data/dataset.cpp \
  lib/ensemble/continuation.cpp \
  lib/ensemble/ensemble.cpp \
  lib/ensemble/feature_screen.cpp \
  lib/ensemble/presentation_order.cpp \
  lib/ensemble/stream_plan.cpp \
  lib/ensemble/voting.cpp \
  lib/evaluation/cross_validation.cpp \
  lib/evaluation/folds.cpp \
  lib/evaluation/hints.cpp \
  lib/evaluation/parameter_search.cpp \
  lib/evaluation/scores.cpp \
  lib/evaluation/search_grid.cpp \
  lib/model/feature_scaling.cpp \
  lib/model/model_file.cpp \
  lib/model/parameters.cpp \
  lib/modules/fitting.cpp \
  lib/modules/module_refusals.cpp \
  lib/modules/modules.cpp \
  lib/platform/atomic_file.cpp \
  lib/platform/progress.cpp \
  lib/platform/temp_file_cleanup.cpp \
  lib/render/line_chart.cpp \
  lib/render/model_pictures.cpp \
  lib/render/node_projection.cpp \
  lib/render/picture_view.cpp \
  lib/render/score_pictures.cpp \
  lib/render/svg_plot.cpp \
  lib/render/svg_text.cpp
# The fast path: packed node blocks, the matching kernels, groups, early
# cuts, the vigilance reach, the worker pool, the training memory and the
# environment settings.
QIR_GROUP_fast = \
  fast/choice_bound.cpp \
  fast/choice_cut.cpp \
  fast/early_cut.cpp \
  fast/lean_cut.cpp \
  fast/environment_settings.cpp \
  fast/match_kernel_avx2.cpp \
  fast/match_kernel_avx512.cpp \
  fast/match_kernel_neon.cpp \
  fast/match_kernel_scalar.cpp \
  fast/match_kernel_sse2.cpp \
  fast/node_block.cpp \
  fast/node_groups.cpp \
  fast/passing_most.cpp \
  fast/search_memory.cpp \
  fast/vigilance_reach.cpp \
  fast/worker_pool.cpp
# The node core both modules share.
QIR_GROUP_core = \
  core/arguments.cpp \
  core/console_number.cpp \
  core/data_checks.cpp \
  core/interrupt.cpp \
  core/host_memory.cpp \
  core/marshal.cpp \
  core/model.cpp \
  core/node.cpp \
  core/process_clock.cpp \
  core/template_geometry.cpp \
  core/version_stamp.cpp

# Added by host. A host without mexAddFlops (GNU Octave, MATLAB releases
# that no longer count operations) gets the module's own, with
# QIR_SUPPLY_MEXADDFLOPS defined. GNU Octave has no libut: the modules
# answer their interrupt poll from its state; MATLAB links libut. Windows
# builds carry the version as a resource.
QIR_ADD_FLOPS_FALLBACK_FILE = core/add_flops_fallback.cpp
QIR_ADD_FLOPS_FALLBACK_DEFINE = QIR_SUPPLY_MEXADDFLOPS
QIR_OCTAVE_INTERRUPT_FILE = core/octave/interrupt_pending.cpp
QIR_MATLAB_LIBRARIES = ut
QIR_VERSION_RESOURCE_FILE = core/qir_version.rc
# mexFunction alone exported (GNU and other ELF linkers).
QIR_EXPORTS_MAP_FILE = cmake/mexfunction.map

# Flags. Results must be bit-identical on every platform: never contract
# a*b+c into one fused operation, never reassociate.
QIR_CXX_STANDARD = 17
# GCC and clang, every build.
QIR_GCC_FLAGS = -ffp-contract=off -fno-fast-math
QIR_GCC_WARNINGS = -Wall -Wextra
# GCC and clang, the modules and what is linked into them: hidden symbols,
# so that mexFunction is a module's only export.
QIR_GCC_MODULE_FLAGS = -fvisibility=hidden -fvisibility-inlines-hidden
# GCC alone: unique symbols would keep a module loaded after clear.
QIR_GNU_MODULE_FLAGS = -fno-gnu-unique
# 32-bit x86 with GCC or clang: SSE2 arithmetic, never the x87 unit's
# extended precision (the sources refuse to compile without it).
QIR_X86_32_FLAGS = -msse2 -mfpmath=sse
# MSVC, every build: neither reorders floating-point operations nor,
# with the fp_contract pragma of the sources, contracts them.
QIR_MSVC_FLAGS = /fp:precise
QIR_MSVC_WARNINGS = /W4
