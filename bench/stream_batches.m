% Learning a stream in batches with qir_train's given nodes, beside a refit
% on all data so far: test accuracy and training time after each batch.
% Run by hand in GNU Octave or MATLAB with the modules on the path:
%   addpath('build/octave'); cd bench; stream_batches
% The digits are shuffled (seed 1), a fifth kept for testing, the rest fed
% in 10 batches. The scaling is fixed by the first batch (later values are
% clipped); the refit scales by the range of all data so far. Times are
% medians of 5 runs.
A = dlmread(fullfile('..', 'data', 'digits.csv'), ',');
rand('seed', 1);
A = A(randperm(size(A, 1)), :);
ntest = round(0.2 * size(A, 1));
test = A(1:ntest, :);
X = A(ntest + 1:end, 1:end - 1);
y = A(ntest + 1:end, end);
M = size(X, 2);
D = sqrt(M);
args = {D, 0.5, 0, 0.1, 1, 100, 0, 0, 0};
batches = 10;
edges = round(linspace(0, size(X, 1), batches + 1));
scaler = @(lo, hi) @(Z) min(max(bsxfun(@times, bsxfun(@rdivide, bsxfun(@minus, Z, lo), ...
    max(hi - lo, eps)), hi > lo), 0), 1);
first = X(1:edges(2), :);
scale = scaler(min(first, [], 1), max(first, [], 1));
T = [];
L = [];
printf('batch  nodes  continued  (s)     batch alone (s)  refit  (s)\n');
for b = 1:batches
  rows = edges(b) + 1:edges(b + 1);
  Xb = scale(X(rows, :));
  yb = y(rows);
  T0 = T;
  L0 = L;
  seen = X(1:edges(b + 1), :);
  refit_scale = scaler(min(seen, [], 1), max(seen, [], 1));
  Xs = refit_scale(seen);
  times = zeros(5, 3);
  for k = 1:5
    tic; [T, L, n] = qir_train(Xb, yb, args{:}, T0, L0); times(k, 1) = toc;
    tic; [Ta, La, na] = qir_train(Xb, yb, args{:}); times(k, 2) = toc;
    tic; [Tf, Lf, nf] = qir_train(Xs, y(1:edges(b + 1)), args{:}); times(k, 3) = toc;
  end
  t = median(times, 1);
  t_continued = t(1);
  t_alone = t(2);
  t_refit = t(3);
  continued = qir_perf(T, L, D, 0.5, 0, 0.1, 0, scale(test(:, 1:end - 1)), -1, 0);
  refit = qir_perf(Tf, Lf, D, 0.5, 0, 0.1, 0, refit_scale(test(:, 1:end - 1)), -1, 0);
  printf('%5d  %5d  %5.1f%% %7.4f  %7.4f          %5.1f%% %7.4f\n', b, size(T, 1), ...
         100 * mean(continued == test(:, end)), t_continued, t_alone, ...
         100 * mean(refit == test(:, end)), t_refit);
end

