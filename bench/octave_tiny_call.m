function result = octave_tiny_call(inputs_dir, calls, rounds)
% OCTAVE_TINY_CALL  Microseconds per tiny module call in GNU Octave.
%   result = octave_tiny_call(inputs_dir, calls, rounds) times `calls`
%   calls of each kind in a loop, `rounds` times over, the kinds taking
%   turns within each round, and keeps each kind's fastest round:
%
%     empty loop           the loop alone
%     sum                  a built-in: s = sum(Patterns)
%     empty module         qir_bench_empty with the ten arguments: the
%                          host's own cost of a module call
%     host calls           qir_bench_host_calls: the host calls that a
%                          classification call makes, and nothing else
%     qir_perf             Labels = qir_perf(...), oflag 0
%     qir_train            [T, L, n] = qir_train(...) on the 10 patterns
%
%   The inputs are those of `qir_bench tiny` (10 patterns x 10 nodes,
%   M = 16, D 4, ratio 0.5, vigilance 0.5, alpha 0.01, CT on, unknown label
%   -1), read from templates.csv, nlabels.csv and patterns.csv in
%   inputs_dir, as `qir_bench tiny --write-inputs DIR` writes them.
%   Training uses the same patterns with the node labels (learning rate 1,
%   at most 10 presentations, trimming and CT on). The modules and the
%   baseline modules must be on the path. Defaults: 20000 calls, 7 rounds.
%
%   `cmake --build build --target bench_octave_tiny` builds everything and
%   runs this with the defaults.
  if nargin < 2, calls = 20000; end
  if nargin < 3, rounds = 7; end
  T = dlmread(fullfile(inputs_dir, 'templates.csv'));
  L = dlmread(fullfile(inputs_dir, 'nlabels.csv'));
  X = dlmread(fullfile(inputs_dir, 'patterns.csv'));

  % The modules give what the embedded host gives for these inputs
  % (checked by the tests); here only that they run.
  labels = qir_perf(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0);
  [t, l, n] = qir_train(X, L, 4, 0.5, 0.5, 0.01, 1, 10, 1, 1, 0);
  qir_bench_empty(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0);
  baseline = qir_bench_host_calls(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0);
  if ~isequal(size(labels), [rows(X), 1]) || ~isequal(size(baseline), size(labels)) || n < 1
    error('octave_tiny_call: a module gave results of the wrong shape');
  end

  names = {'empty loop', 'sum(Patterns), a built-in', ...
           'empty module, 10 arguments', 'host calls of a classification', ...
           'qir_perf, oflag 0', 'qir_train, 10 patterns'};
  best = inf(1, numel(names));
  for r = 1:rounds
    tic; for k = 1:calls, end; best(1) = min(best(1), toc);
    tic; for k = 1:calls, s = sum(X); end; best(2) = min(best(2), toc);
    tic; for k = 1:calls, qir_bench_empty(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0); end
    best(3) = min(best(3), toc);
    tic; for k = 1:calls, y = qir_bench_host_calls(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0); end
    best(4) = min(best(4), toc);
    tic; for k = 1:calls, y = qir_perf(T, L, 4, 0.5, 0.5, 0.01, 1, X, -1, 0); end
    best(5) = min(best(5), toc);
    tic; for k = 1:calls, [t, l, n] = qir_train(X, L, 4, 0.5, 0.5, 0.01, 1, 10, 1, 1, 0); end
    best(6) = min(best(6), toc);
  end
  us = best * 1e6 / calls;

  printf('\ntiny call in GNU Octave %s: %d patterns x %d nodes, M = %d (best of %d x %d calls)\n', ...
         OCTAVE_VERSION, rows(X), rows(T), columns(X), rounds, calls);
  for k = 1:numel(names)
    printf('  %-32s %7.2f us\n', names{k}, us(k));
  end
  printf('  qir_perf beyond the host calls   %7.2f us\n', us(5) - us(4));
  result = cell2struct(num2cell(us), ...
                       {'loop', 'builtin', 'empty', 'host_calls', 'perf', 'train'}, 2);
end
