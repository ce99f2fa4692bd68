% Console text of both modules in Octave, captured with evalc at every
% oflag level, on a two-pattern example small enough to follow by hand;
% and the operation totals, which add up while a module stays loaded and
% start again after `clear`.
qir_test_setup();

% --- qir_train: points 0 (label 1) and 0.1 (label 2), D 1, alpha 0.001 ---
% Presentation 1 makes node 1 at 0; node 1 wins pattern 2 with the wrong
% label, so match tracking makes node 2. Presentation 2 changes nothing.
train_args = @(oflag) {[0; 0.1], [1; 2], 1, 1, 0, 0.001, 1, 10, 0, 0, oflag};
header = @(k) sprintf('\nList presentation #%d:\n', k);
presented = @(j) sprintf('   Pattern #%d is being presented (label %d)\n', j, j);
created1 = sprintf('   Pattern #1 created  node #1 (label 1)\n');
created2 = sprintf('   Pattern #2 created  node #2 (label 2) during MT\n');
candidate = @(i, cfv) sprintf('      Node #%d is candidate (CFV=%s)\n', i, cfv);
mt = sprintf('      Node #1 (label 1) misclassifies pattern #2 - Engage MT (set rho=0.900000)\n');
selected = @(j) sprintf('   Pattern #%d selected node #%d (label %d)\n', j, j, j);
summary = @(new) sprintf('   Summary: %d new nodes created, 0 node updates\n', new);
per_presentation = sprintf(['List presentation #1: 2 new nodes created, 0 node updates\n' ...
                            'List presentation #2: 0 new nodes created, 0 node updates\n']);
% Each call counts 51 operations and 5 comparisons in the module-wide
% totals and 8 + 8 of its own.
report = @(k) sprintf(['\nQIR training converged after 1 list presentation\n' ...
                       '0 inactive nodes detected (0.000000%% redundacy)\n' ...
                       '2 nodes created (0.000000%% compression)\n' ...
                       '%d FLOPs and %d comparisons in 0 seconds\n\n'], 51 * k + 8, 5 * k + 8);
trace4 = [header(1), presented(1), created1, presented(2), candidate(1, '0.899101'), mt, ...
          created2, summary(2), header(2), presented(1), candidate(1, '0.999001'), ...
          candidate(2, '0.899101'), selected(1), presented(2), candidate(1, '0.899101'), ...
          candidate(2, '0.999001'), selected(2), summary(0)];
trace3 = [presented(1), created1, presented(2), created2, summary(2), ...
          presented(1), selected(1), presented(2), selected(2), summary(0)];

clear qir_train
% oflag, trace before the report, whether the report is printed
levels = {4, trace4, true; 3, trace3, true; 2, per_presentation, true; 1, '', true; ...
          0, '', false; 4.5, trace4, true};
for k = 1:size(levels, 1)
  oflag = levels{k, 1};
  r = qir_call('qir_train', 3, train_args(oflag));
  check(isempty(r.error), 'qir_train oflag %g: %s', oflag, r.error);
  expected = levels{k, 2};
  if levels{k, 3}
    expected = [expected, report(k)];
  end
  got = same_seconds(r.console);
  check(strcmp(got, expected), 'qir_train oflag %g printed\n%s\n--- expected ---\n%s', ...
        oflag, got, expected);
  check(isequal(r.outputs{1}, [0 0 0; 0.1 0 0]) && isequal(r.outputs{2}, [1; 2]) ...
        && isequal(r.outputs{3}, 1), 'qir_train oflag %g: wrong results', oflag);
end

% Unloading the module resets its totals: the next call counts as the first.
clear qir_train
r = qir_call('qir_train', 3, train_args(1));
check(strcmp(same_seconds(r.console), report(1)), ...
      'after clear qir_train the totals did not restart:\n%s', r.console);

% --- qir_perf: the two point nodes above, vigilance 0.95 ---
% 0 and 0.1 each pass only their own node; 0.5 passes neither.
perf_args = @(oflag, unknown) {[0 0 0; 0.1 0 0], [1; 2], 1, 1, 0.95, 0.001, 0, ...
                               [0; 0.1; 0.5], unknown, oflag};
fails = @(i, mfv) sprintf('      Node #%d fails VT (MFV=%s < rho=0.950000)\n', i, mfv);
classified = @(j) sprintf('   Pattern #%d selected by node #%d and classified as ''%d''\n', j, j, j);
unknown3 = sprintf('   Pattern #3 could not be classified\n');
list = sprintf('\nList presentation of 3 patterns:\n');
% Each call counts 58 operations and 6 comparisons in the module-wide
% totals, 3 operations and 6 comparisons of its own.
perf_report = @(k) sprintf(['\nQIR performance phase summary\n' ...
                            '0 inactive nodes detected (0.000000%%)\n' ...
                            'unable to classify 1 patterns (33.333333%%)\n' ...
                            '%d FLOPs and %d comparisons in 0 seconds\n\n'], 58 * k + 3, 6 * k + 6);
perf3 = [list, candidate(1, '0.999001'), fails(2, '0.900000'), classified(1), ...
         fails(1, '0.900000'), candidate(2, '0.999001'), classified(2), ...
         fails(1, '0.500000'), fails(2, '0.600000'), unknown3];
perf2 = [list, classified(1), classified(2), unknown3];

clear qir_perf
% oflag, trace before the report, whether the report is printed, unknown_label
levels = {3, perf3, true, -1; 2, perf2, true, -1; 1, '', true, -1.7; 0, '', false, -1; ...
          3.9, perf3, true, -1};
for k = 1:size(levels, 1)
  oflag = levels{k, 1};
  r = qir_call('qir_perf', 1, perf_args(oflag, levels{k, 4}));
  check(isempty(r.error), 'qir_perf oflag %g: %s', oflag, r.error);
  expected = levels{k, 2};
  if levels{k, 3}
    expected = [expected, perf_report(k)];
  end
  got = same_seconds(r.console);
  check(strcmp(got, expected), 'qir_perf oflag %g printed\n%s\n--- expected ---\n%s', ...
        oflag, got, expected);
  % An unknown_label of -1.7 is taken as -1.
  check(isequal(r.outputs{1}, [1; 2; -1]), 'qir_perf oflag %g: labels %s', oflag, ...
        mat2str(r.outputs{1}));
end
clear qir_perf
r = qir_call('qir_perf', 1, perf_args(1, -1));
check(strcmp(same_seconds(r.console), perf_report(1)), ...
      'after clear qir_perf the totals did not restart:\n%s', r.console);
