% The toolbox's gateway: whole operations in few calls, each member's
% training the interpreter's own qir_train; the build's folders on the path
% in either order; the model writer that keeps the old file; empty
% matrices of huge sizes that cost nothing.
env = qir_test_setup();
addpath(env.toolbox);
data = fullfile(env.root, 'data');
W = dlmread(fullfile(data, 'wine.csv'));
X = W(:, 1:13);
y = W(:, 14);

% qir_fit on wine: at most 3 gateway calls, and the members' training calls
% go to this session's qir_train, one per member.
function [gateway, train] = calls_of(run)
  profile clear;
  profile on;
  run();
  profile off;
  table = profile('info').FunctionTable;
  names = {table.FunctionName};
  gateway = sum([table(~cellfun(@isempty, regexp(names, 'qir_gateway$'))).NumCalls]);
  train = sum([table(strcmp(names, 'qir_train')).NumCalls]);
end
[gateway, train] = calls_of(@() qir_fit(X, y, 'Oflag', 0));
check(gateway >= 1 && gateway <= 3, 'qir_fit made %d gateway calls', gateway);
check(train == 23, 'qir_fit made %d qir_train calls for 23 members', train);
[gateway, ~] = calls_of(@() qir_predict(qir_fit(X, y, 'Oflag', 0, 'Voters', 3), X));
check(gateway <= 4, 'qir_fit and qir_predict made %d gateway calls', gateway);

% The friendly layer leaves the modules to the gateway: no m-file but the
% low-level demo calls qir_train or qir_perf, and none walks the members.
for f = dir(fullfile(env.source_toolbox, '*.m'))'
  if any(strcmp(f.name, {'make.m', 'qir_demo.m'}))
    continue
  end
  code = regexprep(fileread(fullfile(env.source_toolbox, f.name)), '%[^\n]*', '');
  check(isempty(regexp(code, 'qir_(train|perf)\s*\(', 'once')), '%s calls a module', f.name);
  check(isempty(regexp(code, 'further_members\s*\(', 'once')), '%s walks the members', f.name);
end

% The user's own qir_train is the one trained with: a wrapper ahead of the
% module on the path sees every member's call, and its refusal comes back
% in qir_fit's words.
wrapper = fullfile(env.work, 'wrapper');
if ~exist(wrapper, 'dir')
  mkdir(wrapper);
end
f = fopen(fullfile(wrapper, 'qir_train.m'), 'w');
fprintf(f, 'function varargout = qir_train(varargin)\n');
fprintf(f, 'error(''QIR_TRAIN: 4th input argument (ratio) must be in (0.0, 1.0].'');\n');
fprintf(f, 'end\n');
fclose(f);
addpath(wrapper);
try
  qir_fit(X, y, 'Oflag', 0);
  check(false, 'the wrapper was not called');
catch e
  check(strcmp(e.identifier, 'qir_fit:refused') && ...
        strcmp(e.message, 'qir_fit: option ''Ratio'' must be in (0.0, 1.0].'), ...
        'the wrapper''s refusal: %s (%s)', e.message, e.identifier);
end
rmpath(wrapper);

% A script run by a fresh Octave under the shell's `limits` (ulimit lines).
function out = octave_run(env, limits, script)
  file = fullfile(env.work, sprintf('script_%d.m', round(1e6 * rand())));
  f = fopen(file, 'w');
  fprintf(f, '%s\n', script);
  fclose(f);
  shell = fullfile(env.work, 'run.sh');
  f = fopen(shell, 'w');
  fprintf(f, '%s\nexec "%s" --no-gui --norc --no-history --quiet "%s" 2>&1\n', limits, ...
          fullfile(OCTAVE_HOME(), 'bin', 'octave-cli'), file);
  fclose(f);
  [status, out] = system(['bash ' shell]);
  out = sprintf('status %d\n%s', status, out);
end

% The build's modules and its toolbox on the path in either order, and the
% source toolbox beside the modules: no module is hidden by its help.
fit = sprintf(['A = dlmread(''%s'');\nm = qir_fit(A(:, 1:13), A(:, 14), ''Oflag'', 0);\n' ...
               'printf(''fitted %%d\\n'', size(m.Templates, 1) > 0);'], fullfile(data, 'wine.csv'));
show = 'printf(''%s\n'', which(''qir_train''));';
for order = {{env.modules, env.toolbox}, {env.toolbox, env.modules}}
  out = octave_run(env, '', sprintf('addpath(''%s'');\naddpath(''%s'');\n%s\n%s', ...
                                    order{1}{:}, show, fit));
  check(~isempty(strfind(out, fullfile(env.modules, 'qir_train.mex'))) && ...
        ~isempty(strfind(out, 'fitted 1')), 'addpath in the order %s, %s:\n%s', order{1}{:}, out);
end
for order = {{env.modules, env.source_toolbox}, {env.source_toolbox, env.modules}}
  out = octave_run(env, '', sprintf('addpath(''%s'');\naddpath(''%s'');\n%s\n%s', ...
                                    order{1}{:}, show, fit));
  check(~isempty(strfind(out, fullfile(env.modules, 'qir_train.mex'))) && ...
        ~isempty(strfind(out, 'no built gateway')) && ~isempty(strfind(out, env.toolbox)), ...
        'the source toolbox beside the modules, %s first:\n%s', order{1}{1}, out);
end

% A model file that cannot be written whole leaves the old one as it was:
% here a file size limit (8 blocks of 512 bytes) makes the write fail part way.
file = fullfile(env.work, 'kept.model');
small = qir_fit(X(1:20, :), y(1:20), 'Voters', 1, 'Shuffle', false, 'Oflag', 0);
qir_save_model(small, file);
before = fileread(file);
big = fullfile(env.work, 'big.mat');
model = qir_fit(X, y, 'Oflag', 0);
save('-binary', big, 'model');
out = octave_run(env, 'trap "" XFSZ; ulimit -f 8', ...
                 sprintf(['addpath(''%s'');\naddpath(''%s'');\nload(''%s'');\n' ...
                          'qir_save_model(model, ''%s'');'], env.modules, env.toolbox, big, file));
check(~isempty(strfind(out, 'qir_save_model: cannot write')), 'the failed write:\n%s', out);
check(strcmp(fileread(file), before), 'the old model file was damaged');
check(isempty(dir([file '.tmp-*'])), 'a temporary file was left behind');

% Empty matrices take their sizes from the matrix: 2^31 rows of nothing, or
% no rows of 2^31 + 1 columns, are refused or pass at once, in a process
% that could not hold a row of each (a 3 GB address space).
script = sprintf([ ...
  'addpath(''%s'');\naddpath(''%s'');\naddpath(''%s'');\n' ...
  'm = qir_fit([0 0; 1 1], [1; 2], ''Voters'', 1, ''Shuffle'', false, ''Oflag'', 0);\n' ...
  'm.Templates = zeros(2^31, 0);\n' ...
  'try\n  qir_save_model(m, ''%s'');\ncatch e\n  printf(''%%s\\n'', e.message);\nend\n' ...
  'm.Templates = zeros(0, 2^31 + 1);\n' ...
  'try\n  qir_save_model(m, ''%s'');\ncatch e\n  printf(''%%s\\n'', e.message);\nend\n' ...
  's = toolbox_private(''qir_gateway'', ''shapes'', zeros(0, 2^31 + 1), 0.5, [1 2], [], []);\n' ...
  'printf(''shapes %%d x %%d\\n'', size(s));'], ...
  env.modules, env.toolbox, fileparts(mfilename('fullpath')), file, file);
out = octave_run(env, 'ulimit -v 3000000', script);
check(~isempty(strfind(out, 'model.Templates has 0 columns, not 5')), 'rows of nothing:\n%s', out);
check(~isempty(strfind(out, 'shapes 0 x 5')) && isempty(strfind(out, 'memory')), ...
      'no rows of many columns:\n%s', out);
