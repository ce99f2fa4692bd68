% The Octave package: built by scripts/make-octave-package.sh, installed
% with pkg into a temporary prefix from this clean Octave (the build's
% modules are not on the path), loaded, used for the demo and a
% cross-validation, then uninstalled.
root = getenv('QIR_SOURCE_ROOT');
work = getenv('QIR_TEST_WORK');
check(~isempty(root) && ~isempty(work), 'run through ctest');
if exist(work, 'dir')
  confirm_recursive_rmdir(false);
  rmdir(work, 's');
end
mkdir(work);
check(isempty(which('qir_train')), 'a qir_train is already on the path: %s', which('qir_train'));

[status, out] = system(sprintf('bash "%s/scripts/make-octave-package.sh" "%s"', root, work));
check(status == 0, 'package script failed:\n%s', out);
tarball = strtrim(out);
check(~isempty(regexp(tarball, 'qir-\d+\.\d+\.\d+\.tar\.gz$', 'once')), 'tarball %s', tarball);

prefix = fullfile(work, 'prefix');
pkg('prefix', prefix, prefix);
pkg('local_list', fullfile(work, 'octave_packages'));
pkg('install', tarball);
pkg('load', 'qir');
check(exist('qir_train') == 3 && exist('qir_perf') == 3, 'the modules are not mex files');
check(strncmp(which('qir_train'), prefix, numel(prefix)), 'qir_train from %s', which('qir_train'));
check(~isempty(strfind(get_help_text('qir_fit'), 'qir_fit(X, y')), 'qir_fit help');

set(0, 'defaultfigurevisible', 'off');
evalc('accuracy = qir_demo();');
check(abs(accuracy - 94.45) < 1e-9, 'demo accuracy %.2f', accuracy);
close all
% The stream demo's digits travel with the package.
evalc('figures = qir_stream_demo(2);');
check(isequal(size(figures), [2 7]) && figures(2, 3) > 80, 'stream demo in the package');
close all
data = dlmread(fullfile(fileparts(which('qir_demo')), 'data', 'circle_train.csv'));
result = qir_cv(data(:, 1:2), data(:, 3), 'Display', false);
check(result.accuracy > 90 && result.unknown < 2, 'cv %.2f%%, %.2f%% unknown', ...
      result.accuracy, result.unknown);

pkg('unload', 'qir');
pkg('uninstall', 'qir');
check(isempty(pkg('list')), 'still installed');
check(isempty(which('qir_fit')), 'qir_fit still on the path');
