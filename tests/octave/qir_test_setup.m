function env = qir_test_setup()
%QIR_TEST_SETUP  Locations for a test run, as CTest passes them in the
%   environment, with the Octave modules put on the path.
env.modules = required('QIR_OCTAVE_MODULES');
env.toolbox = getenv('QIR_TOOLBOX');  % the build's toolbox folder: m-files, private gateway
env.source_toolbox = fullfile(getenv('QIR_SOURCE_ROOT'), 'toolbox');
env.root = getenv('QIR_SOURCE_ROOT');
env.runner = getenv('QIR_PARITY_RUNNER');
env.embedded_train = getenv('QIR_EMBEDDED_TRAIN');
env.embedded_perf = getenv('QIR_EMBEDDED_PERF');
env.work = required('QIR_TEST_WORK');
if ~exist(env.work, 'dir')
  mkdir(env.work);
end
addpath(env.modules);
% The modules must come from the build, never from a stub or an older copy.
check(strcmp(which('qir_train'), fullfile(env.modules, 'qir_train.mex')), ...
      'qir_train resolves to %s', which('qir_train'));
check(strcmp(which('qir_perf'), fullfile(env.modules, 'qir_perf.mex')), ...
      'qir_perf resolves to %s', which('qir_perf'));
end

function value = required(name)
value = getenv(name);
if isempty(value)
  error('environment variable %s is not set (run the test through ctest)', name);
end
end
