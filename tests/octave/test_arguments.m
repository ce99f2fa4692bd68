% Argument handling as Octave delivers it: every refusal arrives as an
% Octave error whose message is the module's own (Octave puts the function
% name in front), nothing is printed and nothing assigned; arrays that are
% not full real doubles are refused before their data is read; Octave's own
% argument forms (empty arrays, nargout 0, vectors for scalars, other
% numeric classes for scalars) behave as documented.
qir_test_setup();

[P, L] = qir_grid_data();
train = {P, L, sqrt(2), 1, 0, 0.001, 1, 100, 0, 0, 0};
with = @(args, k, value) [args(1:k - 1), {value}, args(k + 1:end)];

good = qir_call('qir_train', 3, train);
check(isempty(good.error), 'reference training failed: %s', good.error);
[T, NL] = good.outputs{1:2};
perf = {T, NL, sqrt(2), 1, 0, 0.001, 0, P, -1, 0};
good_perf = qir_call('qir_perf', 1, perf);
check(isempty(good_perf.error), 'reference classification failed: %s', good_perf.error);

% --- counts of arguments and results; Octave calls with nargout 0 too ---
expect_error('QIR_TRAIN: 11 input arguments required.', 'qir_train', 3, train(1:10));
expect_error('QIR_TRAIN: 11 input arguments required.', 'qir_train', 3, [train, {0}]);
expect_error('QIR_TRAIN: 11 input arguments required.', 'qir_train', 0, {});
for nlhs = 0:2
  expect_error('QIR_TRAIN: 3 output arguments required.', 'qir_train', nlhs, train);
end
expect_error('QIR_PERF: 10 input arguments required.', 'qir_perf', 1, perf(1:9));
expect_error('QIR_PERF: 1 output argument required.', 'qir_perf', 0, perf);
expect_error('QIR_PERF: 1 output argument required.', 'qir_perf', 2, perf);
% A bad argument is reported before a wrong number of results.
expect_error('QIR_TRAIN: 3rd input argument (D) must be non-negative.', 'qir_train', 1, ...
             with(train, 3, -1));

% --- shapes as Octave's arrays give them; formatted messages ---
% Octave reports trailing singleton dimensions away (a 1 x 1 x 2 array has
% three, a 2 x 5 x 1 array two), so the three-dimensional tests see only
% true 3-D arrays.
expect_error('QIR_TRAIN: 2nd input argument (PLabels) must be of type  36x1 or 1x36.', ...
             'qir_train', 3, with(train, 2, [L, L]));
expect_error('QIR_TRAIN: 2nd input argument (PLabels) must a vector.', 'qir_train', 3, ...
             with(train, 2, reshape(L, 1, 1, 36)));
expect_error('QIR_TRAIN: 3rd input argument (D) must be a scalar.', 'qir_train', 3, ...
             with(train, 3, ones(1, 1, 2)));
expect_error('QIR_TRAIN: 11th input argument (oflag) must be scalar.', 'qir_train', 3, ...
             with(train, 11, zeros(1, 1, 2)));
expect_error('QIR_TRAIN: 11th input argument must be scalar.', 'qir_train', 3, ...
             with(train, 11, zeros(2, 2)));
expect_error('QIR_PERF: 1st input argument (Templates) must be  a two dimensional array (matrix).', ...
             'qir_perf', 1, with(perf, 1, zeros(2, 5, 2)));
r = qir_call('qir_perf', 1, with(perf, 1, zeros(size(T, 1), 5, 1)));
check(isempty(r.error), 'a 2-D Templates with a trailing singleton was refused: %s', r.error);
K = size(T, 1);
expect_error(sprintf('QIR_PERF: 2nd input argument (NLabels) must be of type  %dx1 or 1x%d.', K, K), ...
             'qir_perf', 1, with(perf, 2, [NL; 1]));
expect_error('QIR_PERF: 8th input argument (Patterns) must be of type  10x2.', 'qir_perf', 1, ...
             with(with(perf, 1, zeros(7, 5)), 8, zeros(10, 3)));
% A NaN fails every range test.
expect_error('QIR_TRAIN: 5th input argument (vigilance) must be in [0.0, 1.0].', ...
             'qir_train', 3, with(train, 5, NaN));

% An empty array has no value to read (Octave's mxGetScalar would raise its
% own error for it): it is refused as not a scalar.
expect_error('QIR_TRAIN: 3rd input argument (D) must be a scalar.', 'qir_train', 3, ...
             with(train, 3, zeros(1, 0)));
expect_error('QIR_PERF: 9th input argument (unknown_label) must be a scalar.', 'qir_perf', 1, ...
             with(perf, 9, []));
% Text and cells are no numbers.
expect_error('QIR_TRAIN: 3rd input argument (D) must be a scalar.', 'qir_train', 3, ...
             with(train, 3, 'a'));
expect_error('QIR_PERF: 3rd input argument (D) must be a scalar.', 'qir_perf', 1, ...
             with(perf, 3, {sqrt(2)}));

% --- arrays that are not full real doubles: refused cleanly ---
others = {'int32', @int32; 'single', @single; 'logical', @logical; ...
          'complex', @(x) complex(x, 1); 'sparse', @sparse};
for k = 1:size(others, 1)
  convert = others{k, 2};
  expect_error('QIR_TRAIN: 1st input argument (Patterns) must be a full real double matrix.', ...
               'qir_train', 3, with(train, 1, convert(P)));
  expect_error('QIR_PERF: 1st input argument (Templates) must be a full real double matrix.', ...
               'qir_perf', 1, with(perf, 1, convert(T)));
  r = qir_call('qir_perf', 1, with(perf, 8, convert(P)));
  prefix = 'qir_perf: QIR_PERF: 8th input argument (Patterns) must be';
  check(strncmp(r.error, prefix, numel(prefix)), ...
        '%s Patterns for qir_perf: "%s"', others{k, 1}, r.error);
  r = qir_call('qir_train', 3, with(train, 2, convert(L)));
  prefix = 'qir_train: QIR_TRAIN: 2nd input argument (PLabels) must be';
  check(strncmp(r.error, prefix, numel(prefix)), ...
        '%s PLabels: "%s"', others{k, 1}, r.error);
end
% A complex value whose imaginary part is zero is still refused: Octave
% keeps complex(x, 0) complex.
expect_error('QIR_TRAIN: 1st input argument (Patterns) must be a full real double matrix.', ...
             'qir_train', 3, with(train, 1, complex(P, 0)));

% --- values that would silently corrupt a run: refused ---
P2 = P; P2(3, 1) = NaN; P2(5, 2) = Inf;
expect_error('QIR_TRAIN: 1st input argument (Patterns) holds a non-finite value at row 3, column 1; drop that pattern or give it a number there.', ...
             'qir_train', 3, with(train, 1, P2));
expect_error('QIR_PERF: 8th input argument (Patterns) holds a non-finite value at row 3, column 1; drop that pattern or give it a number there.', ...
             'qir_perf', 1, with(perf, 8, P2));
L2 = L; L2(4) = 1.5;
expect_error('QIR_TRAIN: 2nd input argument (PLabels) must hold whole numbers.', 'qir_train', 3, ...
             with(train, 2, L2));
T2 = T; T2(2, end) = -0.25;
expect_error('QIR_PERF: 1st input argument (Templates) holds a negative radius at row 2.', ...
             'qir_perf', 1, with(perf, 1, T2));
T2 = T; T2(1, 3:4) = [3, 0];
expect_error(['QIR_PERF: 1st input argument (Templates) holds a direction at row 1 that is ' ...
              'neither zero nor of unit length.'], 'qir_perf', 1, with(perf, 1, T2));
T2 = T; T2(end, 1) = NaN;
expect_error(sprintf('QIR_PERF: 1st input argument (Templates) holds a non-finite value at row %d, column 1; the nodes are damaged; train them again.', ...
                     size(T, 1)), 'qir_perf', 1, with(perf, 1, T2));
expect_error('QIR_TRAIN: 3rd input argument (D) must be a scalar.', 'qir_train', 3, ...
             with(train, 3, 1 + 5i));
expect_error('QIR_PERF: 5th input argument (vigilance) must be a scalar.', 'qir_perf', 1, ...
             with(perf, 5, sparse(0.5)));
% Results of training without features are one column wide (the radius):
% classification takes them.
r = qir_call('qir_train', 3, with(train, 1, zeros(36, 0)));
check(isempty(r.error) && size(r.outputs{1}, 2) == 1, 'featureless training: "%s"', r.error);
r = qir_call('qir_perf', 1, with(with(with(perf, 1, r.outputs{1}), 2, r.outputs{2}), 8, zeros(36, 0)));
check(isempty(r.error), 'one-column Templates refused: "%s"', r.error);

% The refusals left nothing behind: the same calls give the same results.
again = qir_call('qir_train', 3, train);
check(isequal(again.outputs, good.outputs), 'training changed after the refused calls');
again = qir_call('qir_perf', 1, perf);
check(isequal(again.outputs, good_perf.outputs), 'classification changed after the refused calls');

% --- forms that are accepted ---
% A row for a scalar gives its first element; a column of labels works as
% well as a row.
variants = {with(train, 3, [sqrt(2), 7, 9]), with(train, 2, L.'), ...
            with(train, 3, single(sqrt(2))), with(train, 11, 0.5)};
for k = 1:numel(variants)
  r = qir_call('qir_train', 3, variants{k});
  if k == 3
    % single(sqrt(2)) is another D: it trains, to its own result.
    check(isempty(r.error), 'single D refused: %s', r.error);
  else
    check(isempty(r.error) && isequal(r.outputs, good.outputs), ...
          'accepted form %d trained differently: %s', k, r.error);
  end
end
% Other numeric classes and logicals give their value for scalar arguments.
r = qir_call('qir_perf', 1, with(with(perf, 9, int8(-5)), 7, true));
check(isempty(r.error), 'int8 unknown_label / logical ct_option refused: %s', r.error);
r2 = qir_call('qir_perf', 1, with(with(perf, 9, -5), 7, 1));
check(isequal(r.outputs, r2.outputs), 'int8 / logical scalars read differently from doubles');
r = qir_call('qir_perf', 1, with(perf, 2, NL.'));
check(isequal(r.outputs, good_perf.outputs), 'NLabels as a row classified differently');
check(isequal(size(good_perf.outputs{1}), [36, 1]), 'labels are %s, not 36 x 1', ...
      mat2str(size(good_perf.outputs{1})));

% --- empty data ---
% No patterns: training converges at once with no node; the results are
% empty arrays of the documented widths.
r = qir_call('qir_train', 3, with(with(train, 1, zeros(0, 2)), 2, zeros(0, 1)));
check(isempty(r.error), 'training on no patterns failed: %s', r.error);
check(isequal(size(r.outputs{1}), [0, 5]) && isequal(size(r.outputs{2}), [0, 1]) ...
      && isequal(r.outputs{3}, 0), 'training on no patterns gave %s, %s, %s', ...
      mat2str(size(r.outputs{1})), mat2str(size(r.outputs{2})), mat2str(r.outputs{3}));
% No patterns to classify: an empty column of labels.
r = qir_call('qir_perf', 1, with(perf, 8, zeros(0, 2)));
check(isempty(r.error) && isequal(size(r.outputs{1}), [0, 1]), ...
      'classifying no patterns gave "%s" %s', r.error, mat2str(size(r.outputs{1})));
% No nodes: every pattern is unknown.
r = qir_call('qir_perf', 1, with(with(perf, 1, zeros(0, 5)), 2, zeros(0, 1)));
check(isempty(r.error) && isequal(r.outputs{1}, -ones(36, 1)), ...
      'classifying with no nodes gave "%s"', r.error);
