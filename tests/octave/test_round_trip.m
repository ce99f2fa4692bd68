% Train in Octave, then classify with what training returned.
qir_test_setup();

% Two tight, far-apart clusters of 12 points: each class must end up with
% its own nodes and every training pattern classified as its own class.
angles = (0:11).' * (2 * pi / 12);
ring = 0.05 * [cos(angles), sin(angles)];
P = [ring + 0.2; ring + 0.8];
L = [ones(12, 1); 2 * ones(12, 1)];
D = sqrt(2);
[T, NL, n] = qir_train(P, L, D, 0.5, 0, 0.001, 1, 50, 0, 0, 0);

M = size(P, 2);
K = size(T, 1);
check(K >= 2 && size(T, 2) == 2 * M + 1, 'Templates is %s', mat2str(size(T)));
check(isequal(size(NL), [K, 1]), 'NLabels is %s for %d nodes', mat2str(size(NL)), K);
check(isscalar(n) && n == fix(n) && n >= 1 && n < 50, ...
      'num_list_presentations %g: the clusters should converge', n);
check(all(ismember(NL, [1; 2])) && all(ismember([1; 2], NL)), ...
      'node labels %s', mat2str(NL.'));

% Node geometry: a direction is unit length or, for a node never grown,
% zero; radii are not negative; a centre only ever moves toward patterns of
% its own class, so it stays inside their bounding box.
centres = T(:, 1:M);
directions = T(:, M + 1:2 * M);
radii = T(:, end);
norms = sqrt(sum(directions .^ 2, 2));
check(all(abs(norms - 1) < 1e-12 | norms == 0), 'direction lengths %s', mat2str(norms.'));
check(all(radii >= 0), 'negative radius');
check(all((norms == 0) == (radii == 0)), 'a grown node must have a direction, a point none');
for k = 1:K
  own = P(L == NL(k), :);
  check(all(centres(k, :) >= min(own) - 1e-12 & centres(k, :) <= max(own) + 1e-12), ...
        'centre of node %d lies outside its class', k);
end

% Classify: the training patterns get their own labels; points far from
% both clusters qualify for no node at a high vigilance.
Labels = qir_perf(T, NL, D, 0.5, 0, 0.001, 0, P, -1, 0);
check(isequal(Labels, L), 'training patterns misclassified: %s', mat2str(Labels.'));
far = [0.2, 0.9; 0.9, 0.1; 0.5, 0.5];
Labels = qir_perf(T, NL, D, 0.5, 0.9, 0.001, 0, far, -7, 0);
check(isequal(Labels, [-7; -7; -7]), 'far points got %s', mat2str(Labels.'));
% Nearby points, still in no training set, go to the nearer cluster.
near = [0.21, 0.18; 0.79, 0.83];
Labels = qir_perf(T, NL, D, 0.5, 0, 0.001, 0, near, -7, 0);
check(isequal(Labels, [1; 2]), 'nearby points got %s', mat2str(Labels.'));

% Trimming after convergence drops the nodes that no pattern chose in the
% last presentation and keeps the others, in order. Here alpha is large, so
% the grown class-1 node loses both its patterns to the nearby class-2
% points, match tracking makes point nodes for them, and it falls idle.
Pt = [0; 0.5; -0.1; 0.6];
Lt = [1; 1; 2; 2];
[Tall, Nall, nall] = qir_train(Pt, Lt, 1, 1, 0, 1, 1, 100, 0, 0, 0);
[Ttrim, Ntrim, ntrim] = qir_train(Pt, Lt, 1, 1, 0, 1, 1, 100, 1, 0, 0);
check(nall < 100 && ntrim == nall, 'trimming case: %d and %d presentations', nall, ntrim);
check(size(Ttrim, 1) < size(Tall, 1), 'no node trimmed (%d nodes)', size(Tall, 1));
[kept, where] = ismember(Ttrim, Tall, 'rows');
check(all(kept) && all(diff(where) > 0) && isequal(Ntrim, Nall(where)), ...
      'trimmed nodes are not an ordered subset of all nodes');
check(isequal(qir_perf(Ttrim, Ntrim, 1, 1, 0, 1, 0, Pt, -1, 0), Lt), ...
      'trimmed nodes misclassify the training patterns');

% One presentation cannot converge: trimming is ignored, every node stays.
[T1, N1, n1] = qir_train(Pt, Lt, 1, 1, 0, 1, 1, 1, 1, 0, 0);
[T1k, N1k, ~] = qir_train(Pt, Lt, 1, 1, 0, 1, 1, 1, 0, 0, 0);
check(n1 == 1 && isequal(T1, T1k) && isequal(N1, N1k), ...
      'max_list_presentations 1 with trimming changed the nodes');

% Templates leave Octave and come back unchanged through a file.
file = fullfile(getenv('QIR_TEST_WORK'), 'round_trip_templates.mat');
save('-binary', file, 'T', 'NL');
stored = load(file);
check(isequal(qir_perf(stored.T, stored.NL, D, 0.5, 0, 0.001, 0, P, -1, 0), L), ...
      'templates read back from a file classify differently');
