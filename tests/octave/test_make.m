% toolbox/make.m as a user runs it, `cd toolbox; make`, in a copy of the
% source tree (links to core/, fast/, train/, perf/, lib/ and cmake/, a copy
% of toolbox/), so the real toolbox folder stays untouched. The modules it
% builds must behave exactly as the ones CMake builds, each with its help
% beside it, and the gateway in the toolbox's private folder.
env = qir_test_setup();
check(~isempty(env.root), 'QIR_SOURCE_ROOT is not set');

tree = fullfile(env.work, 'tree');
toolbox = fullfile(tree, 'toolbox');
if exist(tree, 'dir')
  confirm_recursive_rmdir(false);
  rmdir(tree, 's');
end
mkdir(toolbox);
for d = {'core', 'fast', 'train', 'perf', 'lib', 'cmake'}
  [status, output] = system(sprintf('ln -s "%s" "%s"', fullfile(env.root, d{1}), fullfile(tree, d{1})));
  check(status == 0, 'cannot link %s: %s', d{1}, output);
end
copyfile(fullfile(env.source_toolbox, '*.m'), toolbox);
for d = {'gateway', 'help', 'private'}
  copyfile(fullfile(env.source_toolbox, d{1}), fullfile(toolbox, d{1}));
end

here = pwd();
cd(toolbox);
output = evalc('make');
cd(here);
printf('%s', output);
for name = {'qir_train', 'qir_perf'}
  file = fullfile(toolbox, [name{1} '.mex']);
  check(numel(dir(file)) == 1, 'make left no %s', file);
  check(numel(dir(fullfile(toolbox, [name{1} '.m']))) == 1, 'make left no help beside %s', file);
  check(~isempty(strfind(output, file)), 'make did not say where %s is', file);
  % Both version strings are in the file.
  fid = fopen(file, 'r');
  bytes = fread(fid, Inf, 'uint8=>char')';
  fclose(fid);
  check(~isempty(strfind(bytes, ['MATLAB 5.1 native' char(0)])) ...
        && ~isempty(strfind(bytes, ['not inlined' char(0)])), '%s lacks the version strings', file);
  % Built by the compiler asked for (mkoctfile takes CXX from the environment).
  if ~isempty(strfind(getenv('CXX'), 'clang'))
    check(~isempty(strfind(bytes, 'clang version')), '%s was not compiled by clang', file);
  end
  % mexFunction is its only export.
  [status, table] = system(sprintf('nm -D --defined-only "%s"', file));
  if status == 0
    names = regexp(table, '\S+$', 'match', 'lineanchors');
    check(isequal(names, {'mexFunction'}), '%s exports %s', file, strjoin(names, ' '));
  end
end

% The gateway, from the same list of sources, goes to the private folder,
% exports mexFunction alone and answers like CMake's.
gateway = fullfile(toolbox, 'private', 'qir_gateway.mex');
check(numel(dir(gateway)) == 1 && ~isempty(strfind(output, gateway)), 'make left no %s', gateway);
check(isempty(dir(fullfile(toolbox, 'qir_gateway.*'))), 'the gateway is on the path');
[status, table] = system(sprintf('nm -D --defined-only "%s"', gateway));
check(status ~= 0 || isequal(regexp(table, '\S+$', 'match', 'lineanchors'), {'mexFunction'}), ...
      '%s exports more than mexFunction', gateway);

% The same calls through both builds, each freshly loaded: identical
% results, errors and console text (operation totals included).
[P, L] = qir_grid_data();
function results = some_calls(P, L)
  results = {};
  r = qir_call('qir_train', 3, {P, L, sqrt(2), 0.6, 0.1, 0.001, 0.7, 40, 1, 1, 4});
  results{end + 1} = r;
  results{end + 1} = qir_call('qir_perf', 1, {r.outputs{1:2}, sqrt(2), 0.6, 0.3, 0.001, 1, ...
                                              [P; 2 2], -1, 3});
  results{end + 1} = qir_call('qir_train', 3, {int32(P), L, 1, 1, 0, 0.001, 1, 10, 0, 0, 1});
  results{end + 1} = qir_call('qir_perf', 2, {r.outputs{1:2}, 1, 1, 0, 0, 0, P, -1, 0});
  for k = 1:numel(results)
    results{k}.console = same_seconds(results{k}.console);
  end
end

addpath(toolbox);
clear qir_train qir_perf qir_gateway
check(strcmp(which('qir_train'), fullfile(toolbox, 'qir_train.mex')), 'qir_train is %s', which('qir_train'));
from_make = some_calls(P, L);
fit_of_make = qir_fit(P, L, 'Voters', 3, 'Oflag', 0);
rmpath(toolbox);
addpath(env.toolbox);
clear qir_train qir_perf qir_gateway qir_fit
check(strcmp(which('qir_train'), fullfile(env.modules, 'qir_train.mex')), 'qir_train is %s', which('qir_train'));
% The module's operation counts run on from call to call, so the calls
% come first in both builds, the fit after them.
from_cmake = some_calls(P, L);
check(isequal(fit_of_make, qir_fit(P, L, 'Voters', 3, 'Oflag', 0)), 'the two gateway builds differ');
check(isempty(from_cmake{1}.error) && ~isempty(from_cmake{3}.error), 'the calls did not run as meant');
for k = 1:numel(from_make)
  check(isequal(from_make{k}, from_cmake{k}), ...
        'call %d differs between the make and the CMake builds', k);
end
