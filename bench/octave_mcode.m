function result = octave_mcode(patterns, nodes, rounds)
% OCTAVE_MCODE  The modules against vectorised m-code of the same passes.
%   result = octave_mcode(patterns, nodes, rounds) times, in one GNU Octave
%   run, qir_train and qir_perf against m-code that does what they do with
%   whole-array operations (every node of a pattern at once in training,
%   blocks of patterns against every node in classification), and prints
%   the seconds and ratios (the fastest of `rounds` runs each, taking
%   turns).
%
%   The workload is that of `qir_bench train` and `qir_bench classify`,
%   generated here: 4 classes x 10 Gaussian clusters in [0,1]^16 (spread
%   0.08); training with D 4, ratio 0.5, vigilance 0.5, alpha 0.01,
%   learning rate 1, at most 10 presentations, CT on, no trimming, on
%   `patterns` patterns (default 5000); classification of 10 x `patterns`
%   patterns with `nodes` trained-like nodes (default 1000: the trained
%   nodes, repeated with small offsets). Both sides must find the same
%   nodes and labels (only the order of additions differs, so values
%   agree to rounding); the script stops with an error otherwise.
%   The modules must be on the path (build/octave).
  if nargin < 1, patterns = 5000; end
  if nargin < 2, nodes = 1000; end
  if nargin < 3, rounds = 3; end
  rand('seed', 7); randn('seed', 7);
  M = 16; D = 4; ratio = 0.5; vig = 0.5; alpha = 0.01;
  centres = rand(40, M);
  c = floor(rand(patterns, 1) * 40) + 1;
  X = centres(c, :) + 0.08 * randn(patterns, M);
  Y = mod(c - 1, 4) + 1;

  t_module = inf; t_mcode = inf;
  for r = 1:rounds
    tic; [T, L, n] = qir_train(X, Y, D, ratio, vig, alpha, 1, 10, 0, 1, 0); t_module = min(t_module, toc);
    tic; [T2, L2, n2] = mcode_train(X, Y, D, ratio, vig, alpha, 10); t_mcode = min(t_mcode, toc);
  end
  if n ~= n2 || ~isequal(L, L2) || max(abs(T(:) - T2(:))) > 1e-9
    error('octave_mcode: the m-code trained other nodes than qir_train');
  end
  printf('training, %d patterns: qir_train %.4f s, m-code %.3f s: %.0fx (%d nodes, %d presentations)\n', ...
         patterns, t_module, t_mcode, t_mcode / t_module, rows(T), n);

  % Classification: the trained nodes, repeated up to `nodes`.
  k = mod(0:nodes-1, rows(T)) + 1;
  TT = T(k, :); TT(:, 1:M) += 0.01 * randn(nodes, M);
  LL = L(k);
  c = floor(rand(10 * patterns, 1) * 40) + 1;
  P = centres(c, :) + 0.08 * randn(10 * patterns, M);
  p_module = inf; p_mcode = inf;
  for r = 1:rounds
    tic; A = qir_perf(TT, LL, D, ratio, vig, alpha, 1, P, -1, 0); p_module = min(p_module, toc);
    tic; B = mcode_perf(TT, LL, D, ratio, vig, alpha, P, -1); p_mcode = min(p_mcode, toc);
  end
  if mean(A ~= B) > 1e-3
    error('octave_mcode: the m-code classified otherwise than qir_perf');
  end
  printf('classification, %d patterns x %d nodes: qir_perf %.4f s, m-code %.3f s: %.0fx\n', ...
         rows(P), nodes, p_module, p_mcode, p_mcode / p_module);
  result = struct('train', t_mcode / t_module, 'perf', p_mcode / p_module);
end

% Every node of one pattern at once: distances, VT, CFV, CT, the winner,
% match tracking, then a new node or the winner's update.
function [T, L, n] = mcode_train(X, Y, D, ratio, vig, alpha, max_presentations)
  [N, M] = size(X);
  C = zeros(0, M); U = zeros(0, M); R = zeros(0, 1); pt = false(0, 1); L = zeros(0, 1);
  Tu = D / (alpha + 2 * D); k = 1 - ratio * ratio;
  n = 0;
  while true
    n += 1; changed = 0;
    for j = 1:N
      x = X(j, :);
      if isempty(R)
        C = x; U = zeros(1, M); R = 0; pt = true; L = Y(j); changed += 1; continue;
      end
      V = C - x;
      sq = sum(V .* V, 2); pr = sum(U .* V, 2);
      d = sqrt(sq - (k * pr) .* pr) / ratio;
      d(pt) = sqrt(sq(pt));
      free = D - 2 * R;
      excess = (d - 1e-8 > R) .* (d - R);
      fit = free - excess;
      mfv = fit / D;
      cfv = fit ./ (free + alpha);
      ok = (mfv + 1e-7 >= vig) & (cfv + 1e-7 >= Tu);
      w = pick(cfv, ok);
      while w > 0 && L(w) ~= Y(j)
        ok = ok & (mfv > mfv(w));
        w = pick(cfv, ok);
      end
      if w == 0
        C(end+1, :) = x; U(end+1, :) = 0; R(end+1, 1) = 0; pt(end+1, 1) = true; L(end+1, 1) = Y(j);
        changed += 1;
      elseif excess(w) > 0
        if pt(w)
          u = x - C(w, :); U(w, :) = u / norm(u); pt(w) = false;
        end
        step = excess(w) * 0.5;
        C(w, :) += (x - C(w, :)) * (step / d(w));
        R(w) += step;
        changed += 1;
      end
    end
    if changed == 0, n -= 1; break; end
    if n >= max_presentations, break; end
  end
  T = [C, U, R];
end

% The candidate with the greatest choice value (the first on ties), or 0.
function w = pick(cfv, ok)
  w = 0;
  if any(ok)
    v = cfv; v(~ok) = -inf;
    [~, w] = max(v);
  end
end

% Blocks of patterns against every node at once.
function labels = mcode_perf(T, L, D, ratio, vig, alpha, P, unknown)
  [K, w] = size(T); M = (w - 1) / 2;
  C = T(:, 1:M); U = T(:, M+1:2*M); R = T(:, end);
  pt = all(U == 0, 2); free = D - 2 * R; k = 1 - ratio * ratio;
  Tu = D / (alpha + 2 * D);
  labels = zeros(rows(P), 1);
  for first = 1:256:rows(P)
    idx = first:min(first + 255, rows(P));
    sq = zeros(K, numel(idx)); pr = sq;
    for f = 1:M
      v = C(:, f) - P(idx, f)';
      sq += v .* v; pr += U(:, f) .* v;
    end
    d = sqrt(sq - (k * pr) .* pr) / ratio;
    d(pt, :) = sqrt(sq(pt, :));
    fit = free - (d - 1e-8 > R) .* (d - R);
    cfv = fit ./ (free + alpha);
    cfv(~((fit / D >= vig) & (cfv >= Tu))) = -inf;
    [best, win] = max(cfv, [], 1);
    out = L(win); out(best == -inf) = unknown;
    labels(idx) = out;
  end
end
