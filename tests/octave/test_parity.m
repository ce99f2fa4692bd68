% The same calls give the same results, errors and console text in Octave
% as in the embedded host. The calls run here first; then the parity runner
% replays exactly the same inputs (every double as its bit pattern) through
% the embedded host's modules, in the same order, so that the operation
% totals, which add up while a module is loaded, must agree too. Training
% prints at oflag 4 and classification at oflag 3, so every trace line is
% compared.
env = qir_test_setup();
check(~isempty(env.runner) && exist(env.runner, 'file'), 'parity runner not found: %s', env.runner);

% Functions of this script; Octave defines them as it reaches them.
% Runs one call in Octave and records it for the replay.
function [calls, results, r] = run_call(calls, results, module, nlhs, varargin)
  r = qir_call(['qir_' module], nlhs, varargin);
  calls{end + 1} = struct('module', module, 'nlhs', nlhs, 'args', {varargin});
  results{end + 1} = r;
end

function text = line_or_end(lines, k)
  if k <= numel(lines)
    text = lines{k};
  else
    text = '<end of text>';
  end
end

function write_text(file, text)
  fid = fopen(file, 'w');
  check(fid >= 0, 'cannot write %s', file);
  fwrite(fid, text, 'char');
  fclose(fid);
end

function text = hex_values(x)
  if isempty(x)
    text = '';
  else
    text = strjoin(cellstr(num2hex(full(double(x(:)))))', ' ');
  end
end

function text = encode_array(x)
  text = sprintf('%s %d %d %d%s %s', class(x), iscomplex(x), issparse(x), ndims(x), ...
                 sprintf(' %d', size(x)), hex_values(real(x)));
  if iscomplex(x)
    text = [text ' ' hex_values(imag(x))];
  end
end

function text = encode_calls(calls)
  parts = {sprintf('%d\n', numel(calls))};
  for k = 1:numel(calls)
    c = calls{k};
    parts{end + 1} = sprintf('call %s %d %d\n', c.module, c.nlhs, numel(c.args));
    for i = 1:numel(c.args)
      parts{end + 1} = sprintf('arg %s\n', encode_array(c.args{i}));
    end
  end
  text = [parts{:}];
end

% The same form as the runner's: error text without the function name that
% Octave puts in front, each output as class, size and bit patterns, and the
% console text with its length.
function text = encode_results(calls, results)
  parts = {};
  for k = 1:numel(calls)
    c = calls{k};
    r = results{k};
    name = ['qir_' c.module ': '];
    if isempty(r.error)
      err = 'none';
    elseif strncmp(r.error, name, numel(name))
      err = r.error(numel(name) + 1:end);
    else
      err = ['without the function name: ' r.error];
    end
    parts{end + 1} = sprintf('call %d %s\nerror %s\n', k, c.module, err);
    for i = 1:c.nlhs
      if ~isempty(r.error)
        out = 'none';
      else
        x = r.outputs{i};
        out = strtrim(sprintf('%s %d%s %s', class(x), ndims(x), sprintf(' %d', size(x)), ...
                              hex_values(x)));
      end
      parts{end + 1} = sprintf('out %d %s\n', i, out);
    end
    parts{end + 1} = sprintf('console %d\n%s\n', numel(r.console), r.console);
  end
  text = [parts{:}];
end

[P, L] = qir_grid_data();
calls = {};
results = {};

% --- training, every trace line ---
[calls, results] = run_call(calls, results, 'train', 3, [0; 0.1], [1; 2], 1, 1, 0, 0.001, 1, 10, 0, 0, 4);
% Ellipsoids, partial learning, the choice-value test and trimming.
[calls, results, grid] = run_call(calls, results, 'train', 3, P, L, sqrt(2), 0.6, 0.1, 0.001, 0.7, 40, 1, 1, 4);
% Stopped after one presentation: trimming ignored.
[calls, results] = run_call(calls, results, 'train', 3, P, L, sqrt(2), 0.6, 0.1, 0.001, 0.7, 1, 1, 1, 4);
% Match tracking leaves a node idle, and trimming removes it.
[calls, results] = run_call(calls, results, 'train', 3, [0; 0.5; -0.1; 0.6], [1; 1; 2; 2], 1, 1, 0, 1, 1, 100, 1, 0, 4);
% A label that is no whole number never matches a node: stops at the limit.
[calls, results] = run_call(calls, results, 'train', 3, [0 0; 1 1; 0.5 0.4], [1; 1.5; 2], 2, 1, 0, 0.01, 1, 3, 0, 1, 4);
% D = 0 and alpha = 0: infinities and NaNs in every figure printed.
[calls, results] = run_call(calls, results, 'train', 3, [0 0; 1 1; 0.5 0.4], [1; 2; 1], 0, 1, 0, 0, 1, 5, 0, 1, 4);
% Values that are not numbers in the patterns.
[calls, results] = run_call(calls, results, 'train', 3, [0 0; NaN 1; Inf 0.5; 1 1], [1; 2; 1; 2], 2, 0.5, 0, 0.001, 1, 5, 0, 0, 4);

% --- classification with what Octave trained ---
check(isempty(grid.error), 'grid training failed: %s', grid.error);
[T, NL] = grid.outputs{1:2};
far = [P; 2, 2; -1, 0.5; 0.5, 0.5];
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, sqrt(2), 0.6, 0.3, 0.001, 1, far, -1, 3);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL.', sqrt(2), 0.6, 0, 0.001, 0, P, -1.7, 3);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, 0, 0.6, 0, 0, 1, P(1:5, :), 0, 3);
% Templates with an even number of columns: the last one is never read.
[calls, results] = run_call(calls, results, 'perf', 1, [T, ones(size(T, 1), 1)], NL, sqrt(2), 0.6, 0, 0.001, 0, P(1:6, :), -1, 3);

% --- empty arrays ---
[calls, results] = run_call(calls, results, 'train', 3, zeros(0, 2), zeros(0, 1), 1, 1, 0, 0.001, 1, 10, 1, 0, 4);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, sqrt(2), 0.6, 0, 0.001, 0, zeros(0, 2), -1, 3);
[calls, results] = run_call(calls, results, 'perf', 1, zeros(0, 5), zeros(0, 1), sqrt(2), 0.6, 0, 0.001, 0, P(1:3, :), -1, 3);

% --- refused calls, each with its own message ---
[calls, results] = run_call(calls, results, 'train', 3, P, L, 1, 1, 0, 0.001, 1, 10, 0, 0);
[calls, results] = run_call(calls, results, 'train', 1, P, L, 1, 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 0, P, L, 1, 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, int32(P), L, 1, 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, logical(P), L, 1, 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, P, [L; 1], 1, 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, P, L, ones(1, 1, 2), 1, 0, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, P, L, 1, 1, NaN, 0.001, 1, 10, 0, 0, 1);
[calls, results] = run_call(calls, results, 'train', 3, P, L, 1, 1, 0, 0.001, 1, 10, 0, 0, zeros(2, 2));
[calls, results] = run_call(calls, results, 'perf', 2, T, NL, 1, 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, single(T), NL, 1, 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, complex(T, 1), NL, 1, 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, sparse(T), NL, 1, 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, zeros(2, 5, 2), NL, 1, 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, zeros(1, 0), 1, 0, 0.001, 0, P, -1, 0);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, 1, 1, 0, 0.001, 0, [P, P], -1, 0);

% --- the first call again: its totals now include everything above ---
[calls, results] = run_call(calls, results, 'train', 3, [0; 0.1], [1; 2], 1, 1, 0, 0.001, 1, 10, 0, 0, 4);
[calls, results] = run_call(calls, results, 'perf', 1, T, NL, sqrt(2), 0.6, 0.3, 0.001, 1, far, -1, 3);

% --- replay in the embedded host and compare ---
calls_file = fullfile(env.work, 'parity_calls.txt');
octave_file = fullfile(env.work, 'parity_octave.txt');
embedded_file = fullfile(env.work, 'parity_embedded.txt');
write_text(calls_file, encode_calls(calls));
octave_text = encode_results(calls, results);
write_text(octave_file, octave_text);
[status, output] = system(sprintf('"%s" "%s" "%s" "%s" "%s"', env.runner, env.embedded_train, ...
                                  env.embedded_perf, calls_file, embedded_file));
check(status == 0, 'parity runner failed (%d): %s', status, output);
embedded_text = fileread(embedded_file);

if ~strcmp(octave_text, embedded_text)
  a = strsplit(octave_text, "\n");
  b = strsplit(embedded_text, "\n");
  n = min(numel(a), numel(b));
  first = find(~strcmp(a(1:n), b(1:n)), 1);
  if isempty(first)
    first = n + 1;
  end
  error(['Octave and the embedded host differ at line %d (full texts: %s, %s)\n' ...
         '  Octave:   %s\n  embedded: %s'], first, octave_file, embedded_file, ...
        line_or_end(a, first), line_or_end(b, first));
end
printf('%d calls agree between Octave and the embedded host\n', numel(calls));
